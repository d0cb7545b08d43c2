#include "app/PackEngine.h"

#include "app/PellumSetup.h"
#include "zip/Pellum.h"

#include <algorithm>
#include <condition_variable>
#include <exception>
#include <limits>
#include <mutex>
#include <numeric>
#include <stdexcept>
#include <thread>

namespace vornel {

namespace {

bool StopAsked(const std::atomic<bool>* stopRequested) {
  return stopRequested != nullptr && stopRequested->load();
}

// One job: no threads, tree order, each file listed and stepped before the next begins.
bool RunSerial(const std::vector<std::uint64_t>& sizes, const std::atomic<bool>* stopRequested,
               const PackWork& work, PackSink& sink) {
  TPellum pellum;
  ConfigurePellum1(pellum);
  for (std::size_t index = 0; index < sizes.size(); ++index) {
    if (StopAsked(stopRequested))
      return false;
    work(pellum, index);
    sink.Listed(index);
    sink.Finished(index);
  }
  return true;
}

class ParallelRun {
public:
  ParallelRun(const std::vector<std::uint64_t>& sizes, const std::atomic<bool>* stopRequested,
              const PackWork& work, PackSink& sink)
      : sizes_(sizes), stopRequested_(stopRequested), work_(work), sink_(sink),
        schedule_(LargestFirst(sizes)), cutoff_(sizes.size()) {}

  ~ParallelRun() {
    // Also on the way out of an error: nothing new starts, and the files in flight finish
    // before the sizes, the work and the sink they use go away.
    {
      std::lock_guard lock(mutex_);
      halt_ = true;
    }
    for (std::thread& worker : workers_)
      worker.join();
  }
  ParallelRun(const ParallelRun&) = delete;
  ParallelRun& operator=(const ParallelRun&) = delete;

  bool Run(int jobs) {
    const std::size_t count = std::min<std::size_t>(static_cast<std::size_t>(jobs), sizes_.size());
    for (std::size_t i = 0; i < count; ++i) {
      {
        std::lock_guard lock(mutex_);
        ++running_;
      }
      try {
        workers_.emplace_back([this] { Work(); });
      } catch (...) {
        std::lock_guard lock(mutex_);
        --running_;
        throw;
      }
    }
    return Report();
  }

private:
  struct Completion {
    std::size_t Index = 0;
    std::exception_ptr Error;
  };

  // The next task to start, in schedule order; false when there is none or nothing may start.
  bool Take(std::size_t& index) {
    std::lock_guard lock(mutex_);
    while (next_ < schedule_.size()) {
      if (halt_ || StopAsked(stopRequested_)) {
        halt_ = true;
        return false;
      }
      const std::size_t candidate = schedule_[next_++];
      if (candidate < cutoff_) {
        index = candidate;
        ++inFlight_;
        return true;
      }
    }
    return false;
  }

  void Work() {
    try {
      TPellum pellum;
      ConfigurePellum1(pellum);
      std::size_t index = 0;
      while (Take(index)) {
        Completion done{index, nullptr};
        try {
          work_(pellum, index);
        } catch (...) {
          done.Error = std::current_exception();
        }
        std::lock_guard lock(mutex_);
        --inFlight_;
        if (done.Error)
          cutoff_ = std::min(cutoff_, index); // the serial procedure would have ended there
        completions_.push_back(std::move(done));
        changed_.notify_all();
      }
    } catch (...) {
      // Only setting up the component or recording a completion can get here (out of memory).
      std::lock_guard lock(mutex_);
      halt_ = true;
      if (!workerFailure_)
        workerFailure_ = std::current_exception();
    }
    std::lock_guard lock(mutex_);
    --running_;
    changed_.notify_all();
  }

  // The build's thread: lists and steps as completions arrive, until every worker has ended.
  bool Report() {
    std::vector<char> finished(sizes_.size(), 0);
    std::size_t listed = 0;
    std::size_t failedIndex = std::numeric_limits<std::size_t>::max();
    std::exception_ptr failure;
    for (;;) {
      std::vector<Completion> batch;
      std::size_t inFlight = 0;
      {
        std::unique_lock lock(mutex_);
        const bool due = changed_.wait_for(
            lock, PackWaitReport, [this] { return !completions_.empty() || running_ == 0; });
        inFlight = inFlight_;
        batch.swap(completions_);
        if (due && batch.empty())
          break; // no worker left and nothing to report
      }
      sink_.Pulse(inFlight);
      for (const Completion& done : batch) {
        if (done.Error) {
          if (done.Index < failedIndex) {
            failedIndex = done.Index;
            failure = done.Error;
          }
          continue;
        }
        finished[done.Index] = 1;
        ListReady(finished, listed);
        sink_.Finished(done.Index);
      }
    }
    if (failure)
      std::rethrow_exception(failure);
    std::lock_guard lock(mutex_);
    if (workerFailure_)
      std::rethrow_exception(workerFailure_);
    return listed == sizes_.size();
  }

  // Lists every file whose predecessors are listed. The lines go out under the lock, so that
  // when one cannot be written no worker takes another file after it.
  void ListReady(const std::vector<char>& finished, std::size_t& listed) {
    std::lock_guard lock(mutex_);
    try {
      while (listed < finished.size() && finished[listed] != 0)
        sink_.Listed(listed++);
    } catch (...) {
      halt_ = true;
      throw;
    }
  }

  const std::vector<std::uint64_t>& sizes_;
  const std::atomic<bool>* stopRequested_;
  const PackWork& work_;
  PackSink& sink_;

  std::mutex mutex_;
  std::condition_variable changed_;
  const std::vector<std::uint32_t> schedule_;
  std::size_t next_ = 0;     // position in schedule_
  std::size_t cutoff_;       // tasks at or after this index are not started
  bool halt_ = false;        // nothing more starts
  int running_ = 0;          // workers not yet ended
  std::size_t inFlight_ = 0; // tasks taken and not yet completed
  std::vector<Completion> completions_;
  std::exception_ptr workerFailure_; // a worker that failed outside any task
  std::vector<std::thread> workers_;
};

} // namespace

int DefaultJobs() {
  const unsigned threads = std::thread::hardware_concurrency();
  return std::clamp(static_cast<int>(std::min(threads, 1024u)), 1, MaxJobs);
}

std::vector<std::uint32_t> LargestFirst(const std::vector<std::uint64_t>& sizes) {
  // 32-bit positions: a build lists at most 2^31 files, and the schedule is held to the end.
  if (sizes.size() > std::numeric_limits<std::int32_t>::max())
    throw std::length_error("Too many files for one build");
  std::vector<std::uint32_t> order(sizes.size());
  std::iota(order.begin(), order.end(), std::uint32_t{0});
  std::stable_sort(order.begin(), order.end(),
                   [&sizes](std::uint32_t a, std::uint32_t b) { return sizes[a] > sizes[b]; });
  return order;
}

bool RunPackEngine(const std::vector<std::uint64_t>& sizes, int jobs,
                   const std::atomic<bool>* stopRequested, const PackWork& work, PackSink& sink) {
  jobs = std::clamp(jobs, 1, MaxJobs);
  if (jobs == 1 || sizes.size() <= 1)
    return RunSerial(sizes, stopRequested, work, sink);
  ParallelRun run(sizes, stopRequested, work, sink);
  return run.Run(jobs);
}

} // namespace vornel
