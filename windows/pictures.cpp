#include "windows/pictures.h"

#include <objidl.h>
#include <shlwapi.h>
#include <gdiplus.h>

#include <map>
#include <utility>

namespace kelvor {
namespace {

// GDI+ is started at the first picture and left running: the pictures live as long as
// the program.
void startGdiPlus() {
  static ULONG_PTR token = 0;
  if (token) return;
  Gdiplus::GdiplusStartupInput input;
  Gdiplus::GdiplusStartup(&token, &input, nullptr);
}

// The bytes of the RCDATA resource `name`, found by reading the program's resource directory
// entry by entry. FindResource searches the names by halves, in upper-case order, but the
// linker orders them in lower-case order, so a name whose "_" stands where another name has a
// letter (B_OK_JPG beside BT_CONF_JPG) is not found by it.
std::pair<const BYTE*, DWORD> scanResources(HMODULE module, const std::wstring& name) {
  const auto* base = reinterpret_cast<const BYTE*>(module);
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY& where = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_RESOURCE];
  if (where.VirtualAddress == 0) return {nullptr, 0};
  const BYTE* root = base + where.VirtualAddress;
  auto entries = [](const BYTE* directory) {
    const auto* header = reinterpret_cast<const IMAGE_RESOURCE_DIRECTORY*>(directory);
    return std::make_pair(reinterpret_cast<const IMAGE_RESOURCE_DIRECTORY_ENTRY*>(header + 1),
                          header->NumberOfNamedEntries + header->NumberOfIdEntries);
  };
  auto [types, typeCount] = entries(root);
  for (int t = 0; t < typeCount; ++t) {
    if (types[t].NameIsString || types[t].Id != 10 || !types[t].DataIsDirectory) continue;  // RT_RCDATA
    auto [names, nameCount] = entries(root + types[t].OffsetToDirectory);
    for (int n = 0; n < nameCount; ++n) {
      if (!names[n].NameIsString || !names[n].DataIsDirectory) continue;
      const auto* text = reinterpret_cast<const IMAGE_RESOURCE_DIR_STRING_U*>(root + names[n].NameOffset);
      if (CompareStringOrdinal(text->NameString, text->Length, name.c_str(), static_cast<int>(name.size()), TRUE) !=
          CSTR_EQUAL) {
        continue;
      }
      auto [languages, languageCount] = entries(root + names[n].OffsetToDirectory);
      if (languageCount == 0 || languages[0].DataIsDirectory) return {nullptr, 0};
      const auto* data = reinterpret_cast<const IMAGE_RESOURCE_DATA_ENTRY*>(root + languages[0].OffsetToData);
      return {base + data->OffsetToData, data->Size};
    }
  }
  return {nullptr, 0};
}

HBITMAP decode(const std::wstring& name) {
  HMODULE module = GetModuleHandleW(nullptr);
  const auto [bytes, size] = scanResources(module, name);
  if (!bytes) return nullptr;
  IStream* stream = SHCreateMemStream(bytes, size);
  if (!stream) return nullptr;
  startGdiPlus();
  HBITMAP bitmap = nullptr;
  if (Gdiplus::Bitmap* picture = Gdiplus::Bitmap::FromStream(stream)) {
    picture->GetHBITMAP(Gdiplus::Color(0, 0, 0), &bitmap);
    delete picture;
  }
  stream->Release();
  return bitmap;
}

}  // namespace

std::wstring resourceName(const std::string& picture) {
  std::wstring name;
  for (char c : picture) {
    if (c == '~') continue;
    name += c == '.' ? L'_' : static_cast<wchar_t>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
  }
  return name;
}

HBITMAP builtInBitmap(const std::string& picture) {
  static std::map<std::string, HBITMAP> decoded;
  auto it = decoded.find(picture);
  if (it == decoded.end()) it = decoded.emplace(picture, decode(resourceName(picture))).first;
  return it->second;
}

HICON builtInIcon(const std::string& picture, int size) {
  static std::map<std::pair<std::string, int>, HICON> loaded;
  auto key = std::make_pair(picture, size);
  auto it = loaded.find(key);
  if (it == loaded.end()) {
    auto icon = static_cast<HICON>(
        LoadImageW(GetModuleHandleW(nullptr), resourceName(picture).c_str(), IMAGE_ICON, size, size, 0));
    it = loaded.emplace(key, icon).first;
  }
  return it->second;
}

}  // namespace kelvor
