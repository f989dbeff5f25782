#pragma once
// The file seam: every file operation of the core, implemented by each desk (linux/files.cpp
// over POSIX, windows/files.cpp over Win32). Paths are UTF-8; a failure's cause comes back in
// errno's terms (ENOSPC, EACCES, EFBIG, ...), whatever the system called it.
//
// Files that grow by whole records (the reading log, the MQTT queue):
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

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/system/disk_sync.h"

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
  ~AppendFile() { close(); }
  AppendFile(const AppendFile&) = delete;
  AppendFile& operator=(const AppendFile&) = delete;

  // Opens a regular file for appending, creating it (not its folder) when missing.
  bool open(const std::string& path, std::string& error);
  void close() {
    fd_.reset();
    path_.clear();
    size_ = 0;
  }
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
  static void forceToDisk(Descriptor& file);  // each desk's
  void requestSync() {
    if (!sync_) sync_ = std::make_unique<DiskSync<Descriptor>>(&AppendFile::forceToDisk);
    sync_->request(fd_);
  }

  std::unique_ptr<DiskSync<Descriptor>> sync_;  // started by the first append
  std::shared_ptr<Descriptor> fd_;
  std::string path_;
  std::uint64_t size_ = 0;
};

// Hands the content of a regular file to `chunk` piece by piece; a missing file has none.
bool readFileChunks(const std::string& path, const std::function<void(std::string_view)>& chunk,
                    std::string& error);

// The names in a folder (not "." and ".."); a missing folder has none.
std::vector<std::string> folderEntries(const std::string& folder);

bool removeFile(const std::string& path);

// --- Whole files: the settings files.

// Unreadable: the file is there but could not be opened or read now (another program holds
// it open without sharing it, or locks it, or it may not be read); errno says why.
enum class WholeFile { Ok, Missing, TooLarge, Unreadable };

// Reads a regular file whole when it holds at most `limit` bytes; `size` then says how many
// it held when it is larger. Anything but a regular file reads as missing (a named pipe would
// wait for a writer, a device such as /dev/zero never ends).
WholeFile readWholeFile(const std::string& path, std::size_t limit, std::string& content, std::uintmax_t& size);

// A file's new content, and where blanks may be put in to keep it from getting shorter.
struct Replacement {
  std::string text;
  std::size_t padAt = 0;
};

// Replaces the content of the file at `path` (following symbolic links) by what `change`
// makes of the old content (empty when there is no file), so that a kill or a full disk at
// any moment leaves the old content or the complete new one. Where the folder is writable the
// new content goes to "<file>.kelvor-tmp" and replaces the file in one step; where only the
// file is, it is rewritten in place and never gets shorter. Writers of one file take turns.
// On failure errno says why; an old content over `limit` bytes fails with EFBIG and sets
// `tooLarge` to its size.
bool replaceFile(const std::string& path, std::size_t limit,
                 const std::function<Replacement(std::string_view old)>& change, std::uintmax_t& tooLarge);

// The suffix of the temporary file beside a settings file being replaced.
inline constexpr std::string_view kTemporarySuffix = ".kelvor-tmp";

// --- A file held open: the MQTT queue's segments and state.

class OpenFile {
 public:
  enum class Mode { Read, ReadWrite };  // ReadWrite creates a missing file

  OpenFile() = default;
  ~OpenFile() { close(); }
  OpenFile(const OpenFile&) = delete;
  OpenFile& operator=(const OpenFile&) = delete;

  // On failure `error` names the file and the cause.
  bool open(const std::string& path, Mode mode, std::string& error);
  void close();
  bool isOpen() const { return handle_ != kNone; }
  // Reads on from the last read: the count of bytes, 0 at the end, -1 on failure.
  long long read(char* buffer, std::size_t size);
  long long readAt(std::uint64_t offset, char* buffer, std::size_t size);
  bool writeAt(std::uint64_t offset, std::string_view bytes);

 private:
  static constexpr std::intptr_t kNone = -1;
  std::intptr_t handle_ = kNone;  // the system's descriptor or handle
};

}  // namespace kelvor
