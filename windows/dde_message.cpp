#include "windows/dde_message.h"

#include <cstddef>
#include <cstring>

#include "core/toolkit/encoding.h"
#include "windows/text_convert.h"

namespace kelvor::win {
namespace {

constexpr UINT kCfTextPage = 1252;
constexpr UINT kBlockFlags = GMEM_MOVEABLE | GMEM_DDESHARE | GMEM_ZEROINIT;
constexpr std::size_t kDataHeader = offsetof(DDEDATA, Value);

// Locks a block for reading and tells how many bytes it really has.
class Locked {
 public:
  explicit Locked(HGLOBAL block) : block_(block), bytes_(block ? static_cast<const char*>(GlobalLock(block)) : nullptr) {
    if (bytes_) size_ = GlobalSize(block);
  }
  ~Locked() {
    if (bytes_) GlobalUnlock(block_);
  }
  Locked(const Locked&) = delete;
  Locked& operator=(const Locked&) = delete;
  const char* bytes() const { return bytes_; }
  std::size_t size() const { return size_; }

 private:
  HGLOBAL block_;
  const char* bytes_;
  std::size_t size_ = 0;
};

HGLOBAL allocate(std::size_t size, const void* header, std::size_t headerSize, std::string_view text) {
  HGLOBAL block = GlobalAlloc(kBlockFlags, size);
  if (!block) return nullptr;
  auto* bytes = static_cast<char*>(GlobalLock(block));
  if (!bytes) {
    GlobalFree(block);
    return nullptr;
  }
  std::memcpy(bytes, header, headerSize);
  if (!text.empty()) std::memcpy(bytes + headerSize, text.data(), text.size());
  GlobalUnlock(block);
  return block;
}

// The bytes after `offset` up to the first zero byte or the end of the block.
std::string textAt(const Locked& locked, std::size_t offset) {
  if (!locked.bytes() || locked.size() <= offset) return {};
  const char* start = locked.bytes() + offset;
  const std::size_t room = locked.size() - offset;
  const void* zero = std::memchr(start, 0, room);
  return std::string(start, zero ? static_cast<const char*>(zero) - start : room);
}

}  // namespace

std::string toCfText(std::string_view bytes) {
  bytes = bytes.substr(0, bytes.find('\0'));
  return isValidUtf8(bytes) ? toWindows1252(bytes) : std::string(bytes);
}

std::string fromCfText(std::string_view bytes) {
  if (bytes.empty()) return {};
  const int n = MultiByteToWideChar(kCfTextPage, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
  std::wstring text(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(kCfTextPage, 0, bytes.data(), static_cast<int>(bytes.size()), text.data(), n);
  return fromWide(text);
}

HGLOBAL makeDataBlock(std::string_view text, bool response, bool ackRequested) {
  DDEDATA header{};
  header.fResponse = response;
  header.fRelease = 1;
  header.fAckReq = ackRequested;
  header.cfFormat = CF_TEXT;
  return allocate(kDataHeader + text.size() + 1, &header, kDataHeader, text);
}

HGLOBAL makePokeBlock(std::string_view text) {
  DDEPOKE header{};
  header.fRelease = 1;
  header.cfFormat = CF_TEXT;
  return allocate(kDataHeader + text.size() + 1, &header, kDataHeader, text);
}

HGLOBAL makeAdviseBlock(bool deferUpdate, bool ackRequested) {
  DDEADVISE options{};
  options.fDeferUpd = deferUpdate;
  options.fAckReq = ackRequested;
  options.cfFormat = CF_TEXT;
  return allocate(sizeof options, &options, sizeof options, {});
}

std::optional<DataBlock> readDataBlock(HGLOBAL block) {
  Locked locked(block);
  if (!locked.bytes() || locked.size() < kDataHeader) return std::nullopt;
  DDEDATA header{};
  std::memcpy(&header, locked.bytes(), kDataHeader);
  return DataBlock{header.fResponse != 0, header.fRelease != 0, header.fAckReq != 0, header.cfFormat,
                   textAt(locked, kDataHeader)};
}

std::optional<AdviseOptions> readAdviseBlock(HGLOBAL block) {
  Locked locked(block);
  if (!locked.bytes() || locked.size() < sizeof(DDEADVISE)) return std::nullopt;
  DDEADVISE options{};
  std::memcpy(&options, locked.bytes(), sizeof options);
  return AdviseOptions{options.fDeferUpd != 0, options.fAckReq != 0, options.cfFormat};
}

HGLOBAL makeExecuteBlock(std::string_view utf8Command, bool unicode) {
  if (unicode) {
    const std::wstring text = toWide(utf8Command);
    return allocate((text.size() + 1) * sizeof(wchar_t), text.data(), text.size() * sizeof(wchar_t), {});
  }
  const std::string text = toCfText(utf8Command);
  return allocate(text.size() + 1, text.data(), text.size(), {});
}

std::string readExecuteBlock(HGLOBAL block, bool unicode) {
  Locked locked(block);
  if (!locked.bytes()) return {};
  if (!unicode) return fromCfText(textAt(locked, 0));
  const std::size_t units = locked.size() / sizeof(wchar_t);
  std::wstring text(units, L'\0');
  std::memcpy(text.data(), locked.bytes(), units * sizeof(wchar_t));
  return fromWide(std::wstring_view(text).substr(0, text.find(L'\0')));
}

std::string atomName(ATOM atom) {
  if (atom == 0) return {};
  wchar_t name[256];
  const UINT n = GlobalGetAtomNameW(atom, name, 256);
  return fromWide(std::wstring_view(name, n));
}

}  // namespace kelvor::win
