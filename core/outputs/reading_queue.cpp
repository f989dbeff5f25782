#include "core/outputs/reading_queue.h"

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdio>

namespace kelvor {
namespace {

constexpr std::size_t kDigits = 20;
constexpr std::string_view kSuffix = ".queue";

bool segmentName(const std::string& name, std::uint64_t& first) {
  if (name.size() != kDigits + kSuffix.size() || !name.ends_with(kSuffix)) return false;
  first = 0;
  for (std::size_t i = 0; i < kDigits; ++i) {
    if (name[i] < '0' || name[i] > '9') return false;
    first = first * 10 + static_cast<std::uint64_t>(name[i] - '0');
  }
  return first > 0;
}

// A topic prefix holds no tab or line break, which would break the entry's line apart.
std::string oneLine(std::string_view text) {
  std::string line(text);
  std::replace_if(line.begin(), line.end(), [](char c) { return c == '\t' || c == '\n' || c == '\r'; }, '_');
  return line;
}

}  // namespace

ReadingQueue::~ReadingQueue() {
  saveState(head_, dropped_, true);
}

std::string ReadingQueue::segmentPath(std::uint64_t first) const {
  char name[kDigits + 1];
  std::snprintf(name, sizeof name, "%020" PRIu64, first);
  return folder_ + "/" + name + std::string(kSuffix);
}

bool ReadingQueue::open(const std::string& folder, std::string& error) {
  std::lock_guard lock(mutex_);
  folder_ = folder;
  if (!makeFolders(folder, error)) return false;
  segments_.clear();
  for (const std::string& name : folderEntries(folder)) {
    std::uint64_t first = 0;
    if (segmentName(name, first)) segments_.push_back(first);
  }
  std::sort(segments_.begin(), segments_.end());

  next_ = 1;
  if (!segments_.empty()) {
    const std::uint64_t newest = segments_.back();
    std::uint64_t lines = 0;
    std::uint64_t complete = 0;  // bytes up to the last line break
    std::uint64_t offset = 0;
    if (!readFileChunks(segmentPath(newest), [&](std::string_view chunk) {
          for (std::size_t i = 0; i < chunk.size(); ++i) {
            if (chunk[i] == '\n') ++lines, complete = offset + i + 1;
          }
          offset += chunk.size();
        }, error)) {
      return false;
    }
    if (!writer_.open(segmentPath(newest), error)) return false;
    // The entry being written when the power went: gone, and never glued to the next one.
    if (complete < offset && !writer_.truncate(complete, error)) return false;
    next_ = newest + lines;
  }

  if (!stateFile_.open(folder + "/state", OpenFile::Mode::ReadWrite, error)) return false;
  char state[64] = {};
  const long long n = stateFile_.readAt(0, state, sizeof state - 1);
  unsigned long long head = 0;
  unsigned long long dropped = 0;
  const std::uint64_t oldest = segments_.empty() ? next_ : segments_.front();
  if (n > 0 && std::sscanf(state, "%llu %llu", &head, &dropped) == 2) {
    head_ = std::clamp<std::uint64_t>(head, oldest, next_);
    dropped_ = dropped;
    savedDropped_ = dropped;
  } else {
    head_ = oldest;
  }
  removeSegments(pruneLocked());
  return true;
}

void ReadingQueue::setBound(std::uint64_t bound) {
  std::lock_guard lock(mutex_);
  bound_ = std::max<std::uint64_t>(bound, 1);
}

std::uint64_t ReadingQueue::nextSeq() const {
  std::lock_guard lock(mutex_);
  return next_;
}

std::uint64_t ReadingQueue::head() const {
  std::lock_guard lock(mutex_);
  return head_;
}

std::uint64_t ReadingQueue::dropped() const {
  std::lock_guard lock(mutex_);
  return dropped_;
}

bool ReadingQueue::append(std::string_view topicPrefix, std::string_view payload, std::string& error) {
  std::unique_lock lock(mutex_);
  if (!stateFile_.isOpen()) {
    error = "the queue is not open";
    return false;
  }
  if (segments_.empty() || next_ - segments_.back() >= kSegmentEntries) {
    if (!writer_.open(segmentPath(next_), error)) return false;
    segments_.push_back(next_);
  } else if (!writer_.isOpen() && !writer_.open(segmentPath(segments_.back()), error)) {
    return false;
  }
  if (!writer_.append(oneLine(topicPrefix) + '\t' + std::string(payload) + '\n', error)) {
    writer_.close();  // reopened by the next entry
    return false;
  }
  ++next_;
  if (next_ - head_ > bound_) {
    const std::uint64_t newHead = next_ - bound_;
    dropped_ += newHead - head_;
    head_ = newHead;
    const auto removed = pruneLocked();
    const std::uint64_t head = head_;
    const std::uint64_t dropped = dropped_;
    lock.unlock();
    removeSegments(removed);
    saveState(head, dropped, true);
  }
  return true;
}

ReadingQueue::ReadResult ReadingQueue::read(std::uint64_t seq, Entry& entry) {
  std::uint64_t first = 0;
  {
    std::lock_guard lock(mutex_);
    if (seq < head_) return ReadResult::Gone;
    if (seq >= next_) return ReadResult::NotYet;
    first = *std::prev(std::upper_bound(segments_.begin(), segments_.end(), seq));
  }
  // Everything below next_ is written whole, so what this reads up to `seq` is complete.
  if ((!reader_.file.isOpen() || reader_.first != first || seq < reader_.seq) && !openReader(first)) return ReadResult::Gone;
  while (true) {
    const auto end = reader_.pending.find('\n');
    if (end != std::string::npos) {
      const std::string line = reader_.pending.substr(0, end);
      reader_.pending.erase(0, end + 1);
      if (reader_.seq++ != seq) continue;
      const auto tab = line.find('\t');
      entry.seq = seq;
      entry.topicPrefix = tab == std::string::npos ? std::string() : line.substr(0, tab);
      entry.payload = tab == std::string::npos ? line : line.substr(tab + 1);
      return ReadResult::Entry;
    }
    char buffer[16384];
    const long long n = reader_.file.read(buffer, sizeof buffer);
    // A segment shorter than its neighbours say (removed or damaged by hand): its entries are lost.
    if (n <= 0) return ReadResult::Gone;
    reader_.pending.append(buffer, static_cast<std::size_t>(n));
  }
}

bool ReadingQueue::openReader(std::uint64_t first) {
  reader_.file.close();
  reader_.pending.clear();
  reader_.first = first;
  reader_.seq = first;
  std::string error;
  return reader_.file.open(segmentPath(first), OpenFile::Mode::Read, error);
}

void ReadingQueue::delivered(std::uint64_t seq) {
  std::unique_lock lock(mutex_);
  if (seq <= head_) return;
  head_ = std::min(seq, next_);
  const auto removed = pruneLocked();
  const std::uint64_t head = head_;
  const std::uint64_t dropped = dropped_;
  const bool empty = head_ == next_;
  lock.unlock();
  removeSegments(removed);
  // A state written a little late costs at most readings sent twice after a crash, never one
  // lost; so while a backlog drains, the file is written a hundred times a second at most.
  saveState(head, dropped, empty);
}

void ReadingQueue::saveState(std::uint64_t head, std::uint64_t dropped, bool now) {
  std::lock_guard lock(stateMutex_);
  if (!now && std::chrono::steady_clock::now() - savedAt_ < std::chrono::milliseconds(10)) return;
  savedHead_ = std::max(savedHead_, head);
  savedDropped_ = std::max(savedDropped_, dropped);
  savedAt_ = std::chrono::steady_clock::now();
  char state[48];
  const int n = std::snprintf(state, sizeof state, "%020" PRIu64 " %020" PRIu64 "\n", savedHead_, savedDropped_);
  if (stateFile_.isOpen()) stateFile_.writeAt(0, std::string_view(state, static_cast<std::size_t>(n)));
}

std::vector<std::uint64_t> ReadingQueue::pruneLocked() {
  std::vector<std::uint64_t> removed;
  while (segments_.size() > 1 && segments_[1] <= head_) {
    removed.push_back(segments_.front());
    segments_.pop_front();
  }
  return removed;
}

void ReadingQueue::removeSegments(const std::vector<std::uint64_t>& firsts) const {
  for (const std::uint64_t first : firsts) removeFile(segmentPath(first));
}

}  // namespace kelvor
