#include "core/system/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace kelvor {

struct AppendFile::Descriptor {
  explicit Descriptor(int value) : fd(value) {}
  ~Descriptor() { ::close(fd); }
  int fd;
};

std::string fileErrorText(int error) {
  switch (error) {
    case ENOSPC:
    case EDQUOT:
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
  struct stat info {};
  if (folder.empty() || (::stat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode))) return true;
  const auto slash = folder.find_last_of('/', folder.size() > 1 ? folder.size() - 2 : 0);
  if (slash != std::string::npos && slash > 0 && !makeFolders(folder.substr(0, slash), error)) return false;
  if (::mkdir(folder.c_str(), 0755) == 0 || (errno == EEXIST && ::stat(folder.c_str(), &info) == 0 &&
                                             S_ISDIR(info.st_mode))) {
    return true;
  }
  error = errno == EEXIST ? std::string("a file of that name is in the way") : fileErrorText(errno);
  error = folder + ": " + error;
  return false;
}

bool restrictToOwner(const std::string& path, std::string& error) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0600);
  if (fd < 0 || ::fchmod(fd, 0600) != 0) {
    error = path + ": " + fileErrorText(errno);
    if (fd >= 0) ::close(fd);
    return false;
  }
  ::close(fd);
  return true;
}

bool AppendFile::open(const std::string& path, std::string& error) {
  close();
  const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0644);
  if (fd < 0) {
    error = path + ": " + fileErrorText(errno);
    return false;
  }
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    error = path + ": not a regular file";
    ::close(fd);
    return false;
  }
  fd_ = std::make_shared<Descriptor>(fd);
  path_ = path;
  size_ = static_cast<std::uint64_t>(info.st_size);
  return true;
}

int AppendFile::lastByte() const {
  if (!fd_ || size_ == 0) return -1;
  const int fd = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return -1;
  unsigned char byte = 0;
  const bool ok = ::pread(fd, &byte, 1, static_cast<off_t>(size_ - 1)) == 1;
  ::close(fd);
  return ok ? byte : -1;
}

bool AppendFile::append(std::string_view record, std::string& error) {
  if (!fd_) {
    error = "the file is not open";
    return false;
  }
  std::size_t written = 0;
  while (written < record.size()) {
    const ssize_t n = ::write(fd_->fd, record.data() + written, record.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      error = path_ + ": " + fileErrorText(n < 0 ? errno : ENOSPC);
      // Take back the part that did get written, so the file never ends in half a record.
      if (written > 0 && ::ftruncate(fd_->fd, static_cast<off_t>(size_)) != 0) size_ += written;
      return false;
    }
    written += static_cast<std::size_t>(n);
  }
  size_ += written;
  requestSync();
  return true;
}

bool AppendFile::truncate(std::uint64_t size, std::string& error) {
  if (!fd_ || ::ftruncate(fd_->fd, static_cast<off_t>(size)) != 0) {
    error = path_ + ": " + fileErrorText(fd_ ? errno : EBADF);
    return false;
  }
  size_ = size;
  return true;
}

void AppendFile::forceToDisk(Descriptor& file) { ::fdatasync(file.fd); }

bool readFileChunks(const std::string& path, const std::function<void(std::string_view)>& chunk,
                    std::string& error) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    if (errno == ENOENT) return true;
    error = path + ": " + fileErrorText(errno);
    return false;
  }
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    ::close(fd);
    error = path + ": not a regular file";
    return false;
  }
  char buffer[65536];
  while (true) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      error = path + ": " + fileErrorText(errno);
      ::close(fd);
      return false;
    }
    if (n == 0) break;
    chunk(std::string_view(buffer, static_cast<std::size_t>(n)));
  }
  ::close(fd);
  return true;
}

std::vector<std::string> folderEntries(const std::string& folder) {
  std::vector<std::string> names;
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) return names;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  ::closedir(dir);
  return names;
}

bool removeFile(const std::string& path) { return ::unlink(path.c_str()) == 0; }


// --- Whole files.

namespace {

using Change = std::function<Replacement(std::string_view old)>;

// Reads an open regular file whole, up to the size limit.
WholeFile readOpenFile(int fd, std::size_t limit, std::string& content, std::uintmax_t& size) {
  content.clear();
  struct stat info {};
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) return WholeFile::Missing;
  if (static_cast<std::uintmax_t>(info.st_size) > limit) {
    size = static_cast<std::uintmax_t>(info.st_size);
    return WholeFile::TooLarge;
  }
  content.resize(static_cast<std::size_t>(info.st_size) + 1);
  std::size_t got = 0;
  for (;;) {
    // One byte more than the file held, to notice one that grew meanwhile.
    if (got == content.size()) content.resize(std::min(content.size() * 2, limit + 1));
    const ssize_t n = pread(fd, content.data() + got, content.size() - got, static_cast<off_t>(got));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
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

// Reads a regular file whole. Anything else reads as missing: a named pipe would wait for a
// writer for ever (opened without blocking here, so it never does), and a device such as
// /dev/zero never ends.
WholeFile readWholeFileAt(const std::string& path, std::size_t limit, std::string& content, std::uintmax_t& size) {
  content.clear();
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return errno == ENOENT || errno == ENOTDIR ? WholeFile::Missing : WholeFile::Unreadable;
  const WholeFile result = readOpenFile(fd, limit, content, size);
  close(fd);
  return result;
}

bool writeAll(int fd, std::string_view data, off_t at) {
  std::size_t written = 0;
  while (written < data.size()) {
    const ssize_t n = pwrite(fd, data.data() + written, data.size() - written, at + static_cast<off_t>(written));
    if (n < 0 && errno == EINTR) continue;
    if (n == 0) errno = EIO;  // no progress and no error: never loop on it
    if (n <= 0) return false;
    written += static_cast<std::size_t>(n);
  }
  return true;
}

bool truncateTo(int fd, std::size_t size) { return ftruncate(fd, static_cast<off_t>(size)) == 0; }

// Rewrites the file in place, for a folder Kelvor may not write in. The file never gets
// shorter and its old content stays readable until the one write that changes it.
bool writeInPlace(const std::string& path, const Change& change, std::size_t limit, std::uintmax_t& tooLarge) {
  const int fd = open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  // Writers of one file take turns; the lock goes with the descriptor.
  bool ok = flock(fd, LOCK_EX) == 0;
  std::string old;
  if (ok) {
    const WholeFile read = readOpenFile(fd, limit, old, tooLarge);
    ok = read == WholeFile::Ok;
    if (!ok) errno = read == WholeFile::TooLarge ? EFBIG : EIO;
  }
  Replacement next;
  if (ok) next = change(old);
  std::string& text = next.text;
  const std::size_t n = old.size();
  if (ok && text.size() < n) text.insert(next.padAt, n - text.size(), ' ');
  if (ok && text.size() > n) {
    // Grow first, with blanks, which the old content reads the same with: a full disk then
    // fails here, before any byte of the old content has changed.
    ok = writeAll(fd, std::string(text.size() - n, ' '), static_cast<off_t>(n));
    if (ok) {
      old.append(text.size() - n, ' ');
    } else {
      const int cause = errno;
      truncateTo(fd, n);  // should it fail, only blanks are left behind the old content
      errno = cause;
    }
  }
  if (ok && text != old) {
    // The bytes that differ, in one write; the kernel copies a page at a time, so a kill
    // cannot tear a change that lies within one page.
    std::size_t first = 0;
    while (text[first] == old[first]) ++first;
    std::size_t last = text.size();
    while (text[last - 1] == old[last - 1]) --last;
    ok = writeAll(fd, std::string_view(text).substr(first, last - first), static_cast<off_t>(first));
    if (!ok) {
      // Nothing should fail when overwriting bytes the file already has; if it did, put the
      // old bytes back as far as the system lets us.
      const int cause = errno;
      if (!writeAll(fd, std::string_view(old).substr(first, last - first), static_cast<off_t>(first)) ||
          !truncateTo(fd, n)) {
        std::fprintf(stderr, "kelvor: %s could not be restored after a failed write\n", path.c_str());
      }
      errno = cause;
    }
  }
  ok = ok && fsync(fd) == 0;
  const int cause = errno;
  close(fd);
  errno = cause;
  return ok;
}

// Opens and locks the temporary file of `path`, which no other writer then holds: a writer
// that waited for the lock while the file was renamed into place finds another file at the
// name, and tries again.
int lockTemporary(const std::string& temporary) {
  for (int attempt = 0; attempt < 20; ++attempt) {
    const int fd = open(temporary.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) return -1;
    struct stat held {}, named {};
    if (flock(fd, LOCK_EX) == 0 && fstat(fd, &held) == 0 && S_ISREG(held.st_mode) &&
        lstat(temporary.c_str(), &named) == 0 && held.st_dev == named.st_dev && held.st_ino == named.st_ino) {
      return fd;
    }
    close(fd);
  }
  return -1;
}

// Writes the new content to the temporary file beside `path` and renames it over the file.
// Returns false with `inPlace` set when no temporary file can be made there (a folder Kelvor
// may not write in, or one without a free inode).
bool writeByRename(const std::string& path, const Change& change, std::size_t limit, std::uintmax_t& tooLarge,
                   bool& inPlace) {
  const std::string temporary = path + std::string(kTemporarySuffix);
  const int fd = lockTemporary(temporary);
  if (fd < 0) {
    inPlace = errno == EACCES || errno == EROFS || errno == EPERM || errno == ENOSPC || errno == EDQUOT;
    return false;
  }
  struct stat info {};
  const bool exists = stat(path.c_str(), &info) == 0;
  std::string old;
  const WholeFile read = !exists                 ? WholeFile::Ok
                         : S_ISREG(info.st_mode) ? readWholeFileAt(path, limit, old, tooLarge)
                                                 : WholeFile::Missing;
  bool ok = read == WholeFile::Ok;
  if (!ok) errno = read == WholeFile::TooLarge ? EFBIG : EIO;
  if (ok) {
    const std::string text = change(old).text;
    ok = ftruncate(fd, 0) == 0 && writeAll(fd, text, 0) && fchmod(fd, exists ? (info.st_mode & 07777) : 0644) == 0 &&
         fsync(fd) == 0 && rename(temporary.c_str(), path.c_str()) == 0;
  }
  const int cause = errno;
  if (!ok) unlink(temporary.c_str());
  close(fd);
  errno = cause;
  return ok;
}

std::string resolveLinks(const std::string& path) {
  char resolved[PATH_MAX];
  if (realpath(path.c_str(), resolved) != nullptr) return resolved;
  return path;
}

}  // namespace

WholeFile readWholeFile(const std::string& path, std::size_t limit, std::string& content, std::uintmax_t& size) {
  return readWholeFileAt(path, limit, content, size);
}

bool replaceFile(const std::string& path, std::size_t limit, const Change& change, std::uintmax_t& tooLarge) {
  const std::string target = resolveLinks(path);
  struct stat info {};
  const bool exists = stat(target.c_str(), &info) == 0;
  if (exists && !S_ISREG(info.st_mode)) {
    errno = EISDIR;
    return false;
  }
  if (exists && access(target.c_str(), W_OK) != 0) return false;
  bool inPlace = false;
  if (writeByRename(target, change, limit, tooLarge, inPlace)) return true;
  return inPlace && exists && writeInPlace(target, change, limit, tooLarge);
}

// --- Files held open.

bool OpenFile::open(const std::string& path, Mode mode, std::string& error) {
  close();
  const int fd = mode == Mode::Read ? ::open(path.c_str(), O_RDONLY | O_CLOEXEC)
                                    : ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) {
    error = path + ": " + fileErrorText(errno);
    return false;
  }
  handle_ = fd;
  return true;
}

void OpenFile::close() {
  if (handle_ != kNone) ::close(static_cast<int>(handle_));
  handle_ = kNone;
}

long long OpenFile::read(char* buffer, std::size_t size) {
  while (true) {
    const ssize_t n = ::read(static_cast<int>(handle_), buffer, size);
    if (n < 0 && errno == EINTR) continue;
    return n;
  }
}

long long OpenFile::readAt(std::uint64_t offset, char* buffer, std::size_t size) {
  return ::pread(static_cast<int>(handle_), buffer, size, static_cast<off_t>(offset));
}

bool OpenFile::writeAt(std::uint64_t offset, std::string_view bytes) {
  return handle_ != kNone && writeAll(static_cast<int>(handle_), bytes, static_cast<off_t>(offset));
}

}  // namespace kelvor
