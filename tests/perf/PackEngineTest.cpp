#include "app/PackEngine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <thread>

namespace vornel {
namespace {

// Tasks whose sizes grow with their index, so the largest-first schedule hands them out in the
// reverse of tree order: files early in the tree are started last.
std::vector<std::uint64_t> GrowingTasks(std::size_t count) {
  std::vector<std::uint64_t> sizes(count);
  for (std::size_t i = 0; i < count; ++i)
    sizes[i] = i * 10;
  return sizes;
}

class RecordingSink : public PackSink {
public:
  void Finished(std::size_t index) override { finished.push_back(index); }
  void Listed(std::size_t index) override { listed.push_back(index); }
  std::vector<std::size_t> finished;
  std::vector<std::size_t> listed;
};

TEST(PackEngine, LargestFirstKeepsTreeOrderAmongEqualSizes) {
  const std::vector<std::uint64_t> sizes{10, 50, 10, 50, 0};
  EXPECT_EQ(LargestFirst(sizes), (std::vector<std::uint32_t>{1, 3, 0, 2, 4}));
  EXPECT_GE(DefaultJobs(), 1);
  EXPECT_LE(DefaultJobs(), MaxJobs);
}

TEST(PackEngine, ListsInTreeOrderWhateverOrderTheWorkEnds) {
  const auto tasks = GrowingTasks(40);
  std::mutex mutex;
  std::vector<std::size_t> worked;
  RecordingSink sink;
  const PackWork work = [&](TPellum&, std::size_t index) {
    // Uneven work: every third task takes longer.
    if (index % 3 == 0)
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    std::lock_guard lock(mutex);
    worked.push_back(index);
  };
  ASSERT_TRUE(RunPackEngine(tasks, 4, nullptr, work, sink));
  std::vector<std::size_t> tree(40);
  for (std::size_t i = 0; i < 40; ++i)
    tree[i] = i;
  EXPECT_EQ(sink.listed, tree);
  std::vector<std::size_t> finished = sink.finished;
  std::sort(finished.begin(), finished.end());
  EXPECT_EQ(finished, tree);
  EXPECT_EQ(worked.size(), 40u); // every task ran once
}

// Two failures: the listing stops before the earlier one in tree order, which is the error
// raised, although the later one failed first; every file before it was still packed.
TEST(PackEngine, EarliestFailureInTreeOrderWinsAndItsPrefixIsComplete) {
  const auto tasks = GrowingTasks(30);
  std::mutex mutex;
  std::vector<std::size_t> worked;
  RecordingSink sink;
  const PackWork work = [&](TPellum&, std::size_t index) {
    {
      std::lock_guard lock(mutex);
      worked.push_back(index);
    }
    if (index == 20)
      throw std::runtime_error("late file");
    if (index == 7)
      throw std::runtime_error("early file");
  };
  try {
    RunPackEngine(tasks, 3, nullptr, work, sink);
    ADD_FAILURE() << "no error";
  } catch (const std::runtime_error& error) {
    EXPECT_STREQ(error.what(), "early file");
  }
  EXPECT_EQ(sink.listed, (std::vector<std::size_t>{0, 1, 2, 3, 4, 5, 6}));
  for (std::size_t i = 0; i < 7; ++i)
    EXPECT_NE(std::find(worked.begin(), worked.end(), i), worked.end()) << i;
  for (std::size_t index : sink.finished)
    EXPECT_TRUE(index != 7 && index != 20) << index;
}

// One job: each task listed and finished before the next starts, in tree order, on the
// caller's thread.
TEST(PackEngine, OneJobRunsInTreeOrderOnTheCallersThread) {
  const auto tasks = GrowingTasks(5);
  std::vector<std::string> events;
  const auto caller = std::this_thread::get_id();
  class Sink : public PackSink {
  public:
    explicit Sink(std::vector<std::string>& events) : events_(events) {}
    void Finished(std::size_t index) override {
      events_.push_back(std::string("step").append(std::to_string(index)));
    }
    void Listed(std::size_t index) override {
      events_.push_back(std::string("line").append(std::to_string(index)));
    }

  private:
    std::vector<std::string>& events_;
  } sink(events);
  const PackWork work = [&](TPellum&, std::size_t index) {
    EXPECT_EQ(std::this_thread::get_id(), caller);
    events.push_back(std::string("work").append(std::to_string(index)));
  };
  ASSERT_TRUE(RunPackEngine(tasks, 1, nullptr, work, sink));
  std::vector<std::string> expected;
  for (int i = 0; i < 5; ++i)
    for (const char* what : {"work", "line", "step"})
      expected.push_back(std::string(what).append(std::to_string(i)));
  EXPECT_EQ(events, expected);
}

// A sink that fails (a manifest that cannot be written) ends the run with its error once the
// workers have finished what they hold, and no file starts after the failure. The files after
// the first wait for the failure, so what was started before it does not depend on timing.
TEST(PackEngine, SinkErrorEndsTheRunAfterTheWorkersStop) {
  constexpr int Jobs = 4;
  const std::vector<std::uint64_t> tasks(50); // one size: handed out in tree order
  std::mutex mutex;
  std::condition_variable changed;
  bool failed = false;
  int running = 0;
  int worked = 0;
  int startedAfterFailure = 0;
  class Failing : public PackSink {
  public:
    Failing(std::mutex& mutex, std::condition_variable& changed, bool& failed)
        : mutex_(mutex), changed_(changed), failed_(failed) {}
    void Finished(std::size_t) override {}
    void Listed(std::size_t) override {
      {
        std::lock_guard lock(mutex_);
        failed_ = true;
      }
      changed_.notify_all();
      throw std::runtime_error("disk full");
    }

  private:
    std::mutex& mutex_;
    std::condition_variable& changed_;
    bool& failed_;
  } sink(mutex, changed, failed);
  const PackWork work = [&](TPellum&, std::size_t index) {
    std::unique_lock lock(mutex);
    startedAfterFailure += failed ? 1 : 0;
    ++running;
    if (index > 0)
      changed.wait(lock, [&] { return failed; });
    ++worked;
    --running;
  };
  EXPECT_THROW(RunPackEngine(tasks, Jobs, nullptr, work, sink), std::runtime_error);
  EXPECT_EQ(running, 0);
  EXPECT_EQ(startedAfterFailure, 0);
  // The first file, and at most one file per worker held when the line failed.
  EXPECT_LE(worked, 1 + Jobs);
}

TEST(PackEngine, StopRequestStartsNothingNew) {
  const auto tasks = GrowingTasks(100);
  std::atomic<bool> stop{false};
  std::atomic<int> worked{0};
  RecordingSink sink;
  const PackWork work = [&](TPellum&, std::size_t) {
    if (++worked == 5)
      stop = true;
  };
  EXPECT_FALSE(RunPackEngine(tasks, 3, &stop, work, sink));
  // The other workers finish what they hold and take nothing more (a margin for a worker that
  // took its task just before the request).
  EXPECT_LT(worked.load(), 12);
  EXPECT_EQ(sink.finished.size(), static_cast<std::size_t>(worked.load()));
  // Largest first: the early files were never started, so nothing is listed.
  EXPECT_TRUE(sink.listed.empty());
}

} // namespace
} // namespace vornel
