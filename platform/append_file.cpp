#include "platform/append_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
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

AppendFile::~AppendFile() {
  close();
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  if (syncer_.joinable()) syncer_.join();
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

void AppendFile::close() {
  fd_.reset();
  path_.clear();
  size_ = 0;
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

void AppendFile::requestSync() {
  {
    std::lock_guard lock(mutex_);
    for (const auto& d : dirty_) {
      if (d == fd_) return;
    }
    dirty_.push_back(fd_);
    if (!syncer_.joinable()) syncer_ = std::thread([this] { syncLoop(); });
  }
  wake_.notify_one();
}

void AppendFile::syncLoop() {
  std::unique_lock lock(mutex_);
  while (true) {
    wake_.wait(lock, [this] { return stop_ || !dirty_.empty(); });
    // Written at exit too: what the program wrote last is what matters most after a power cut.
    std::vector<std::shared_ptr<Descriptor>> pending;
    pending.swap(dirty_);
    if (pending.empty() && stop_) return;
    lock.unlock();
    for (const auto& d : pending) ::fdatasync(d->fd);
    pending.clear();
    lock.lock();
  }
}

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

}  // namespace kelvor
