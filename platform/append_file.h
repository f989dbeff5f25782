#pragma once
// Files that grow by whole records (the reading log, the MQTT queue) and the few other file
// operations the outputs need, over POSIX.
//
// What AppendFile promises:
// - append() writes a record completely or not at all: a write cut short (a full disk, a
//   file size limit) is taken back, so the file never holds half a record it wrote.
// - A record appended is in the system's hands when append() returns, so it survives a crash
//   of the program. It is then forced to the disk by a thread of the file's own, so that a
//   power cut loses at most what was written in the last moments, while the caller (the
//   20 ms tick) never waits for the disk.
// - Failures come back as plain words ("the disk is full", "permission denied"), never as
//   silence.

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace kelvor {

// The cause of a failed file operation in plain words, from an errno value.
std::string fileErrorText(int error);

// Creates `folder` and the folders above it as needed.
bool makeFolders(const std::string& folder, std::string& error);

// Makes the file readable and writable by its owner only, creating it empty when missing
// (symbolic links are followed to the real file).
bool restrictToOwner(const std::string& path, std::string& error);

class AppendFile {
 public:
  AppendFile() = default;
  ~AppendFile();
  AppendFile(const AppendFile&) = delete;
  AppendFile& operator=(const AppendFile&) = delete;

  // Opens a regular file for appending, creating it (not its folder) when missing.
  bool open(const std::string& path, std::string& error);
  void close();
  bool isOpen() const { return fd_ != nullptr; }
  const std::string& path() const { return path_; }
  std::uint64_t size() const { return size_; }

  bool append(std::string_view record, std::string& error);

  // The file's last byte, or -1 when it is empty.
  int lastByte() const;

  // Cuts the file to `size` bytes (a torn record at the end of an internal file).
  bool truncate(std::uint64_t size, std::string& error);

 private:
  struct Descriptor;
  void requestSync();
  void syncLoop();

  std::shared_ptr<Descriptor> fd_;
  std::string path_;
  std::uint64_t size_ = 0;

  std::mutex mutex_;
  std::condition_variable wake_;
  std::vector<std::shared_ptr<Descriptor>> dirty_;
  bool stop_ = false;
  std::thread syncer_;
};

// Hands the content of a regular file to `chunk` piece by piece; a missing file has none.
bool readFileChunks(const std::string& path, const std::function<void(std::string_view)>& chunk,
                    std::string& error);

// The names in a folder (not "." and ".."); a missing folder has none.
std::vector<std::string> folderEntries(const std::string& folder);

bool removeFile(const std::string& path);

}  // namespace kelvor
