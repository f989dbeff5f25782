#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "core/outputs/reading_queue.h"

namespace kelvor {
namespace {

namespace fs = std::filesystem;
using Result = ReadingQueue::ReadResult;

class Queue : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("kelvor-queue-" + std::to_string(getpid()) + "-" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::unique_ptr<ReadingQueue> open(std::uint64_t bound = 10000) {
    auto queue = std::make_unique<ReadingQueue>();
    std::string error;
    EXPECT_TRUE(queue->open(dir_.string(), error)) << error;
    queue->setBound(bound);
    return queue;
  }
  static void add(ReadingQueue& queue, int count) {
    for (int i = 0; i < count; ++i) {
      std::string error;
      const std::string payload = "{\"seq\":" + std::to_string(queue.nextSeq()) + "}";
      ASSERT_TRUE(queue.append("kelvor/bench", payload, error)) << error;
    }
  }
  static std::string payloadOf(ReadingQueue& queue, std::uint64_t seq) {
    ReadingQueue::Entry entry;
    if (queue.read(seq, entry) != Result::Entry) return "(none)";
    EXPECT_EQ(entry.seq, seq);
    EXPECT_EQ(entry.topicPrefix, "kelvor/bench");
    return entry.payload;
  }
  std::size_t segmentFiles() const {
    std::size_t n = 0;
    for (const auto& e : fs::directory_iterator(dir_)) n += e.path().extension() == ".queue";
    return n;
  }
  fs::path dir_;
};

TEST_F(Queue, KeepsOrderAndNumbersAcrossRestarts) {
  {
    auto queue = open();
    add(*queue, 3);
    EXPECT_EQ(payloadOf(*queue, 2), "{\"seq\":2}");
    // A connection lost with 2 and 3 sent and not acknowledged: 2 is read again after 3.
    EXPECT_EQ(payloadOf(*queue, 3), "{\"seq\":3}");
    EXPECT_EQ(payloadOf(*queue, 2), "{\"seq\":2}");
    ReadingQueue::Entry entry;
    EXPECT_EQ(queue->read(4, entry), Result::NotYet);
    queue->delivered(3);
  }
  auto queue = open();
  EXPECT_EQ(queue->head(), 3u);
  EXPECT_EQ(queue->nextSeq(), 4u);
  ReadingQueue::Entry entry;
  EXPECT_EQ(queue->read(2, entry), Result::Gone);
  EXPECT_EQ(payloadOf(*queue, 3), "{\"seq\":3}");
  add(*queue, 1);
  EXPECT_EQ(payloadOf(*queue, 4), "{\"seq\":4}");
}

TEST_F(Queue, PastTheBoundTheOldestAreDroppedAndCounted) {
  {
    auto queue = open(5);
    add(*queue, 12);
    EXPECT_EQ(queue->head(), 8u);
    EXPECT_EQ(queue->dropped(), 7u);
    ReadingQueue::Entry entry;
    EXPECT_EQ(queue->read(7, entry), Result::Gone);
    EXPECT_EQ(payloadOf(*queue, 8), "{\"seq\":8}");
  }
  auto queue = open(5);
  EXPECT_EQ(queue->dropped(), 7u);
  EXPECT_EQ(queue->head(), 8u);
}

TEST_F(Queue, DiskHoldsTheWaitingEntriesAndOneSegmentMore) {
  auto queue = open(1500);
  add(*queue, 2500);  // segments from 1, 1001, 2001; the bound drops up to 1000
  EXPECT_EQ(queue->head(), 1001u);
  EXPECT_EQ(segmentFiles(), 2u);
  queue->delivered(2400);
  EXPECT_EQ(segmentFiles(), 1u);
  EXPECT_EQ(payloadOf(*queue, 2400), "{\"seq\":2400}");
  queue->delivered(2501);
  EXPECT_EQ(segmentFiles(), 1u);  // the newest stays: it carries the numbering on
  EXPECT_EQ(open()->nextSeq(), 2501u);
}

TEST_F(Queue, AnEntryCutShortIsDroppedNotMergedWithTheNext) {
  {
    auto queue = open();
    add(*queue, 2);
  }
  std::ofstream(dir_ / "00000000000000000001.queue", std::ios::app) << "kelvor/bench\t{\"seq\":3";
  auto queue = open();
  EXPECT_EQ(queue->nextSeq(), 3u);
  add(*queue, 1);
  EXPECT_EQ(payloadOf(*queue, 3), "{\"seq\":3}");
}

}  // namespace
}  // namespace kelvor
