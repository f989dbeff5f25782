#pragma once
// The MQTT queue on disk: readings waiting for the broker, kept in order in a folder so that a
// restart of Kelvor (or a crash) keeps them. Each reading gets the next sequence number when
// it is queued; the numbers keep increasing across restarts because the newest entries stay
// on disk.
//
// The folder holds segment files of up to 1,000 entries, named by the sequence number of
// their first entry ("00000000000000001001.queue"), each entry one line: the topic prefix,
// a tab and the JSON payload. A small "state" file remembers the first entry not yet
// delivered and how many were dropped. Segments wholly delivered or dropped are removed, so
// the disk holds at most the bound plus one segment.
//
// What it promises:
// - Entries come out in the order they were queued, each with its own sequence number.
// - At most `bound` entries wait; queuing one more drops the oldest, and the count of
//   dropped entries is kept (across restarts too).
// - An entry cut short by a power cut is the one being written; it is removed at the next
//   opening, never merged with the next entry.
//
// Threads: one producer (append, on the tick) and one consumer (read, delivered, on the
// publishing thread). Neither waits for the other's disk work; the producer never reads.

#include <chrono>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "core/system/files.h"

namespace kelvor {

class ReadingQueue {
 public:
  static constexpr std::uint64_t kSegmentEntries = 1000;

  struct Entry {
    std::uint64_t seq = 0;
    std::string topicPrefix;
    std::string payload;
  };
  enum class ReadResult { Entry, NotYet, Gone };

  ReadingQueue() = default;
  ReadingQueue(const ReadingQueue&) = delete;
  ReadingQueue& operator=(const ReadingQueue&) = delete;

  // Opens the queue in `folder`, creating it when missing.
  bool open(const std::string& folder, std::string& error);
  void setBound(std::uint64_t bound);

  // Producer. The sequence number the next entry will get.
  std::uint64_t nextSeq() const;
  // Queues the entry for nextSeq(), dropping the oldest beyond the bound. A disk that
  // refuses it leaves the queue as it was (the sequence number is used by the next one).
  bool append(std::string_view topicPrefix, std::string_view payload, std::string& error);

  // Consumer. The entry `seq`: NotYet when it is not queued yet, Gone when it was dropped
  // or lost (head() tells where the queue goes on).
  ReadResult read(std::uint64_t seq, Entry& entry);
  // Every entry below `seq` has reached the broker.
  void delivered(std::uint64_t seq);

  // The first entry neither delivered nor dropped; nextSeq() - head() entries wait.
  std::uint64_t head() const;
  // How many entries were dropped since the queue was first made.
  std::uint64_t dropped() const;

 private:
  std::string segmentPath(std::uint64_t first) const;
  // The segments wholly behind head_, taken off the list; their files are removed by the
  // caller once the lock is released.
  std::vector<std::uint64_t> pruneLocked();
  void removeSegments(const std::vector<std::uint64_t>& firsts) const;
  // Both numbers only grow, so a late writer never takes the file back.
  // `now`: at once; otherwise not more often than every 10 ms.
  void saveState(std::uint64_t head, std::uint64_t dropped, bool now);
  bool openReader(std::uint64_t first);

  mutable std::mutex mutex_;
  std::string folder_;
  std::deque<std::uint64_t> segments_;  // first sequence number of each segment, oldest first
  std::uint64_t next_ = 1;
  std::uint64_t head_ = 1;
  std::uint64_t dropped_ = 0;
  std::uint64_t bound_ = 10000;
  AppendFile writer_;  // the newest segment

  // The state file has a lock of its own, so that neither thread writes it while holding the
  // queue's: the tick never waits behind a system call of the publishing thread.
  std::mutex stateMutex_;
  OpenFile stateFile_;
  std::uint64_t savedHead_ = 0;
  std::uint64_t savedDropped_ = 0;
  std::chrono::steady_clock::time_point savedAt_;

  // The consumer's place: the segment it reads, how far, and what was read but not used.
  struct Reader {
    OpenFile file;
    std::uint64_t first = 0;  // the segment's first sequence number
    std::uint64_t seq = 0;    // the sequence number of the next line in `pending`
    std::string pending;
  } reader_;

 public:
  ~ReadingQueue();
};

}  // namespace kelvor
