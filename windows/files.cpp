#include "core/system/files.h"

#include <windows.h>

#include <cerrno>
#include <cstring>

#include "windows/text_convert.h"

// Every file is opened in binary (no CR LF translation) and shared for deletion, so that a
// settings file can be replaced while another Kelvor or an editor holds it open.

namespace kelvor {
namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

HANDLE openHandle(const std::string& path, DWORD access, DWORD share, DWORD disposition) {
  return CreateFileW(toWide(path).c_str(), access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// Sets errno from the last Win32 error; returns false for use in a return statement.
bool failed() {
  errno = errnoOf(GetLastError());
  return false;
}

bool isRegular(HANDLE h) {
  BY_HANDLE_FILE_INFORMATION info{};
  return GetFileType(h) == FILE_TYPE_DISK && GetFileInformationByHandle(h, &info) &&
         (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

std::uint64_t sizeOf(HANDLE h) {
  LARGE_INTEGER size{};
  return GetFileSizeEx(h, &size) ? static_cast<std::uint64_t>(size.QuadPart) : 0;
}

bool writeAt(HANDLE h, std::string_view data, std::uint64_t at) {
  std::size_t written = 0;
  while (written < data.size()) {
    OVERLAPPED place{};
    const std::uint64_t offset = at + written;
    place.Offset = static_cast<DWORD>(offset & 0xFFFFFFFFu);
    place.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD n = 0;
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(data.size() - written, 1u << 30));
    if (!WriteFile(h, data.data() + written, chunk, &n, &place)) return failed();
    if (n == 0) {
      errno = EIO;  // no progress and no error: never loop on it
      return false;
    }
    written += n;
  }
  return true;
}

long long readAtOffset(HANDLE h, char* buffer, std::size_t size, std::uint64_t at) {
  OVERLAPPED place{};
  place.Offset = static_cast<DWORD>(at & 0xFFFFFFFFu);
  place.OffsetHigh = static_cast<DWORD>(at >> 32);
  DWORD n = 0;
  if (!ReadFile(h, buffer, static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30)), &n, &place)) {
    return GetLastError() == ERROR_HANDLE_EOF ? 0 : -1;
  }
  return n;
}

bool truncateTo(HANDLE h, std::uint64_t size) {
  LARGE_INTEGER at{};
  at.QuadPart = static_cast<LONGLONG>(size);
  return SetFilePointerEx(h, at, nullptr, FILE_BEGIN) && SetEndOfFile(h);
}

WholeFile readOpen(HANDLE h, std::size_t limit, std::string& content, std::uintmax_t& size) {
  content.clear();
  if (!isRegular(h)) return WholeFile::Missing;
  const std::uint64_t held = sizeOf(h);
  if (held > limit) {
    size = held;
    return WholeFile::TooLarge;
  }
  content.resize(static_cast<std::size_t>(held) + 1);
  std::size_t got = 0;
  for (;;) {
    // One byte more than the file held, to notice one that grew meanwhile.
    if (got == content.size()) content.resize(std::min(content.size() * 2, limit + 1));
    const long long n = readAtOffset(h, content.data() + got, content.size() - got, got);
    if (n < 0) {
      errno = errnoOf(GetLastError());  // a range another program has locked, say
      content.clear();
      return WholeFile::Unreadable;
    }
    if (n == 0) break;
    got += static_cast<std::size_t>(n);
    if (got > limit) {
      size = got;
      content.clear();
      return WholeFile::TooLarge;
    }
  }
  content.resize(got);
  return WholeFile::Ok;
}

using Change = std::function<Replacement(std::string_view old)>;

// The temporary file beside `path`, opened for this writer alone: another writer waits for
// it, which makes writers of one file take turns.
HANDLE lockTemporary(const std::string& temporary) {
  for (int attempt = 0; attempt < 200; ++attempt) {
    const HANDLE h = openHandle(temporary, GENERIC_READ | GENERIC_WRITE | DELETE, 0, OPEN_ALWAYS);
    if (h != INVALID_HANDLE_VALUE) return h;
    if (GetLastError() != ERROR_SHARING_VIOLATION) return INVALID_HANDLE_VALUE;
    Sleep(5);
  }
  return INVALID_HANDLE_VALUE;
}

// Writes the new content to the temporary file and moves it over the file in one step.
// Returns false with `inPlace` set when no temporary file can be made in the folder.
bool writeByReplacing(const std::string& path, const Change& change, std::size_t limit, std::uintmax_t& tooLarge,
                      bool& inPlace) {
  const std::string temporary = path + std::string(kTemporarySuffix);
  const HANDLE h = lockTemporary(temporary);
  if (h == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    inPlace = error == ERROR_ACCESS_DENIED || error == ERROR_WRITE_PROTECT || error == ERROR_DISK_FULL;
    errno = errnoOf(error);
    return false;
  }
  std::string old;
  bool ok = true;
  const HANDLE current = openHandle(path, GENERIC_READ, kShareAll, OPEN_EXISTING);
  if (current == INVALID_HANDLE_VALUE && errnoOf(GetLastError()) != ENOENT) {
    // There but not readable now (held open by another program without sharing): never
    // replaced by a file that would hold only the new values.
    errno = errnoOf(GetLastError());
    ok = false;
  } else if (current != INVALID_HANDLE_VALUE) {
    const WholeFile read = readOpen(current, limit, old, tooLarge);
    CloseHandle(current);
    ok = read == WholeFile::Ok;
    if (!ok) errno = read == WholeFile::TooLarge ? EFBIG : EIO;
  }
  if (ok) {
    const std::string text = change(old).text;
    ok = (truncateTo(h, 0) || failed()) && writeAt(h, text, 0) && (FlushFileBuffers(h) || failed());
  }
  CloseHandle(h);
  // The handle is closed first: Windows moves no file that is open without delete sharing.
  // Nor does it replace a file another program holds open (an editor, a second Kelvor, a
  // virus scanner): that one is then rewritten in place, which it allows.
  if (ok && !MoveFileExW(toWide(temporary).c_str(), toWide(path).c_str(),
                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    const DWORD error = GetLastError();
    inPlace = error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION;
    errno = errnoOf(error);
    ok = false;
  }
  const int cause = errno;
  if (!ok) DeleteFileW(toWide(temporary).c_str());
  errno = cause;
  return ok;
}

// Rewrites the file in place, for a folder Kelvor may not write in: it never gets shorter and
// its old content stays readable until the one write that changes it.
bool writeInPlace(const std::string& path, const Change& change, std::size_t limit, std::uintmax_t& tooLarge) {
  // Opened for this writer alone, so writers of one file take turns.
  HANDLE h = INVALID_HANDLE_VALUE;
  for (int attempt = 0; attempt < 200 && h == INVALID_HANDLE_VALUE; ++attempt) {
    h = openHandle(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, OPEN_EXISTING);
    if (h == INVALID_HANDLE_VALUE && GetLastError() != ERROR_SHARING_VIOLATION) return failed();
    if (h == INVALID_HANDLE_VALUE) Sleep(5);
  }
  if (h == INVALID_HANDLE_VALUE) return failed();
  std::string old;
  const WholeFile read = readOpen(h, limit, old, tooLarge);
  bool ok = read == WholeFile::Ok;
  if (!ok) errno = read == WholeFile::TooLarge ? EFBIG : EIO;
  Replacement next;
  if (ok) next = change(old);
  std::string& text = next.text;
  const std::size_t n = old.size();
  if (ok && text.size() < n) text.insert(next.padAt, n - text.size(), ' ');
  if (ok && text.size() > n) {
    // Grow first, with blanks, which the old content reads the same with: a full disk then
    // fails here, before any byte of the old content has changed.
    ok = writeAt(h, std::string(text.size() - n, ' '), n);
    if (ok) {
      old.append(text.size() - n, ' ');
    } else {
      const int cause = errno;
      truncateTo(h, n);
      errno = cause;
    }
  }
  if (ok && text != old) {
    std::size_t first = 0;
    while (text[first] == old[first]) ++first;
    std::size_t last = text.size();
    while (text[last - 1] == old[last - 1]) --last;
    ok = writeAt(h, std::string_view(text).substr(first, last - first), first);
    if (!ok) {
      const int cause = errno;
      writeAt(h, std::string_view(old).substr(first, last - first), first);
      errno = cause;
    }
  }
  ok = ok && (FlushFileBuffers(h) || failed());
  const int cause = errno;
  CloseHandle(h);
  errno = cause;
  return ok;
}

}  // namespace

std::string fileErrorText(int error) {
  switch (error) {
    case ENOSPC:
      return "the disk is full";
    case EFBIG:
      return "the file has grown as large as the system allows";
    case EACCES:
    case EPERM:
      return "permission denied";
    case EROFS:
      return "the disk is read-only";
    case EBUSY:
      return "another program holds it open or locked";
    case ENOTDIR:
      return "a part of the path is a file, not a folder";
    case EISDIR:
      return "the path is a folder";
    default:
      return std::strerror(error);
  }
}

bool makeFolders(const std::string& folder, std::string& error) {
  if (folder.empty()) return true;
  const DWORD attributes = GetFileAttributesW(toWide(folder).c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return true;
  const auto slash = folder.find_last_of("/\\", folder.size() > 1 ? folder.size() - 2 : 0);
  // "C:" and "\\server\share" are roots, never made.
  if (slash != std::string::npos && slash > 0 && folder.substr(0, slash).back() != ':' &&
      !makeFolders(folder.substr(0, slash), error)) {
    return false;
  }
  if (CreateDirectoryW(toWide(folder).c_str(), nullptr)) return true;
  const DWORD cause = GetLastError();
  const DWORD now = GetFileAttributesW(toWide(folder).c_str());
  if (cause == ERROR_ALREADY_EXISTS && now != INVALID_FILE_ATTRIBUTES && (now & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return true;
  }
  error = folder + ": " +
          (cause == ERROR_ALREADY_EXISTS ? std::string("a file of that name is in the way") : fileErrorText(errnoOf(cause)));
  return false;
}

// A file made in the user's own folders is the user's alone already (it inherits the folder's
// access list); the file only has to exist before the password reaches it.
bool restrictToOwner(const std::string& path, std::string& error) {
  const HANDLE h = openHandle(path, GENERIC_READ, kShareAll, OPEN_ALWAYS);
  if (h == INVALID_HANDLE_VALUE) {
    error = path + ": " + fileErrorText(errnoOf(GetLastError()));
    return false;
  }
  CloseHandle(h);
  return true;
}

struct AppendFile::Descriptor {
  explicit Descriptor(HANDLE value) : handle(value) {}
  ~Descriptor() { CloseHandle(handle); }
  HANDLE handle;
};

bool AppendFile::open(const std::string& path, std::string& error) {
  close();
  const HANDLE h = openHandle(path, GENERIC_READ | GENERIC_WRITE, kShareAll, OPEN_ALWAYS);
  if (h == INVALID_HANDLE_VALUE) {
    error = path + ": " + fileErrorText(errnoOf(GetLastError()));
    return false;
  }
  if (!isRegular(h)) {
    error = path + ": not a regular file";
    CloseHandle(h);
    return false;
  }
  fd_ = std::make_shared<Descriptor>(h);
  path_ = path;
  size_ = sizeOf(h);
  return true;
}

int AppendFile::lastByte() const {
  if (!fd_ || size_ == 0) return -1;
  char byte = 0;
  return readAtOffset(fd_->handle, &byte, 1, size_ - 1) == 1 ? static_cast<unsigned char>(byte) : -1;
}

bool AppendFile::append(std::string_view record, std::string& error) {
  if (!fd_) {
    error = "the file is not open";
    return false;
  }
  if (!writeAt(fd_->handle, record, size_)) {
    error = path_ + ": " + fileErrorText(errno);
    // Take back the part that did get written, so the file never ends in half a record.
    truncateTo(fd_->handle, size_);
    return false;
  }
  size_ += record.size();
  requestSync();
  return true;
}

bool AppendFile::truncate(std::uint64_t size, std::string& error) {
  if (!fd_ || !truncateTo(fd_->handle, size)) {
    error = path_ + ": " + fileErrorText(fd_ ? errnoOf(GetLastError()) : EBADF);
    return false;
  }
  size_ = size;
  return true;
}

void AppendFile::forceToDisk(Descriptor& file) { FlushFileBuffers(file.handle); }

bool readFileChunks(const std::string& path, const std::function<void(std::string_view)>& chunk,
                    std::string& error) {
  const HANDLE h = openHandle(path, GENERIC_READ, kShareAll, OPEN_EXISTING);
  if (h == INVALID_HANDLE_VALUE) {
    const int cause = errnoOf(GetLastError());
    if (cause == ENOENT) return true;
    error = path + ": " + fileErrorText(cause);
    return false;
  }
  if (!isRegular(h)) {
    CloseHandle(h);
    error = path + ": not a regular file";
    return false;
  }
  char buffer[65536];
  std::uint64_t at = 0;
  while (true) {
    const long long n = readAtOffset(h, buffer, sizeof buffer, at);
    if (n < 0) {
      error = path + ": " + fileErrorText(errnoOf(GetLastError()));
      CloseHandle(h);
      return false;
    }
    if (n == 0) break;
    at += static_cast<std::uint64_t>(n);
    chunk(std::string_view(buffer, static_cast<std::size_t>(n)));
  }
  CloseHandle(h);
  return true;
}

std::vector<std::string> folderEntries(const std::string& folder) {
  std::vector<std::string> names;
  WIN32_FIND_DATAW found{};
  const HANDLE search = FindFirstFileW(toWide(folder + "/*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return names;
  do {
    const std::string name = fromWide(found.cFileName);
    if (name != "." && name != "..") names.push_back(name);
  } while (FindNextFileW(search, &found));
  FindClose(search);
  return names;
}

bool removeFile(const std::string& path) { return DeleteFileW(toWide(path).c_str()) != 0; }

WholeFile readWholeFile(const std::string& path, std::size_t limit, std::string& content, std::uintmax_t& size) {
  content.clear();
  const HANDLE h = openHandle(path, GENERIC_READ, kShareAll, OPEN_EXISTING);
  if (h == INVALID_HANDLE_VALUE) {
    // A file held open by another program without sharing is there all the same.
    errno = errnoOf(GetLastError());
    return errno == ENOENT || errno == ENOTDIR ? WholeFile::Missing : WholeFile::Unreadable;
  }
  const WholeFile result = readOpen(h, limit, content, size);
  CloseHandle(h);
  return result;
}

bool replaceFile(const std::string& path, std::size_t limit, const Change& change, std::uintmax_t& tooLarge) {
  const DWORD attributes = GetFileAttributesW(toWide(path).c_str());
  const bool exists = attributes != INVALID_FILE_ATTRIBUTES;
  if (exists && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    errno = EISDIR;
    return false;
  }
  if (exists && (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
    errno = EACCES;
    return false;
  }
  bool inPlace = false;
  if (writeByReplacing(path, change, limit, tooLarge, inPlace)) return true;
  return inPlace && exists && writeInPlace(path, change, limit, tooLarge);
}

bool OpenFile::open(const std::string& path, Mode mode, std::string& error) {
  close();
  const HANDLE h = mode == Mode::Read
                       ? openHandle(path, GENERIC_READ, kShareAll, OPEN_EXISTING)
                       : openHandle(path, GENERIC_READ | GENERIC_WRITE, kShareAll, OPEN_ALWAYS);
  if (h == INVALID_HANDLE_VALUE) {
    error = path + ": " + fileErrorText(errnoOf(GetLastError()));
    return false;
  }
  handle_ = reinterpret_cast<std::intptr_t>(h);
  return true;
}

void OpenFile::close() {
  if (handle_ != kNone) CloseHandle(reinterpret_cast<HANDLE>(handle_));
  handle_ = kNone;
}

long long OpenFile::read(char* buffer, std::size_t size) {
  DWORD n = 0;
  if (!ReadFile(reinterpret_cast<HANDLE>(handle_), buffer, static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30)),
                &n, nullptr)) {
    return -1;
  }
  return n;
}

long long OpenFile::readAt(std::uint64_t offset, char* buffer, std::size_t size) {
  return readAtOffset(reinterpret_cast<HANDLE>(handle_), buffer, size, offset);
}

bool OpenFile::writeAt(std::uint64_t offset, std::string_view bytes) {
  return handle_ != kNone && kelvor::writeAt(reinterpret_cast<HANDLE>(handle_), bytes, offset);
}

}  // namespace kelvor
