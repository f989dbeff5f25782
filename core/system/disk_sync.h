#pragma once
// Forces written files to the disk on a thread of its own, so that whoever wrote them (the
// 20 ms tick) never waits for the disk. Each desk says how one file is forced (fdatasync,
// FlushFileBuffers); a file asked for again before its turn is forced once. What is pending
// when the owner goes away is still forced: what the program wrote last is what matters most
// after a power cut.

#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace kelvor {

template <typename File>
class DiskSync {
 public:
  using Force = void (*)(File&);

  explicit DiskSync(Force force) : force_(force), thread_([this] { loop(); }) {}
  ~DiskSync() {
    {
      std::lock_guard lock(mutex_);
      stop_ = true;
    }
    wake_.notify_all();
    thread_.join();
  }
  DiskSync(const DiskSync&) = delete;
  DiskSync& operator=(const DiskSync&) = delete;

  void request(const std::shared_ptr<File>& file) {
    {
      std::lock_guard lock(mutex_);
      for (const auto& waiting : dirty_) {
        if (waiting == file) return;
      }
      dirty_.push_back(file);
    }
    wake_.notify_one();
  }

 private:
  void loop() {
    std::unique_lock lock(mutex_);
    while (true) {
      wake_.wait(lock, [this] { return stop_ || !dirty_.empty(); });
      std::vector<std::shared_ptr<File>> pending;
      pending.swap(dirty_);
      if (pending.empty() && stop_) return;
      lock.unlock();
      for (const auto& file : pending) force_(*file);
      pending.clear();  // closes a file its owner has let go meanwhile, outside the lock
      lock.lock();
    }
  }

  Force force_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::vector<std::shared_ptr<File>> dirty_;
  bool stop_ = false;
  std::thread thread_;  // last: starts once the rest is made
};

}  // namespace kelvor
