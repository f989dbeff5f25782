#include "windows/pictures.h"

#include <objidl.h>
#include <shlwapi.h>
#include <gdiplus.h>

#include <map>

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

HBITMAP decode(const std::wstring& name) {
  HMODULE module = GetModuleHandleW(nullptr);
  HRSRC found = FindResourceW(module, name.c_str(), MAKEINTRESOURCEW(10));  // RT_RCDATA
  if (!found) return nullptr;
  HGLOBAL loaded = LoadResource(module, found);
  const auto* bytes = static_cast<const BYTE*>(LockResource(loaded));
  IStream* stream = SHCreateMemStream(bytes, SizeofResource(module, found));
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
