#include "app/ParallelFor.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

namespace vornel {

void ForEachInParallel(std::size_t count, int jobs,
                       const std::function<void(int worker, std::size_t index)>& work) {
  const int threads = static_cast<int>(std::min<std::size_t>(count, std::max(jobs, 1)));
  if (threads <= 1) {
    for (std::size_t i = 0; i < count; ++i)
      work(0, i);
    return;
  }
  std::atomic<std::size_t> next{0};
  std::atomic<bool> failed{false};
  std::mutex failureLock;
  std::exception_ptr failure;
  auto run = [&](int worker) {
    for (std::size_t i; !failed && (i = next++) < count;) {
      try {
        work(worker, i);
      } catch (...) {
        const std::lock_guard lock(failureLock);
        if (!failure)
          failure = std::current_exception();
        failed = true;
      }
    }
  };
  {
    // Joined on every way out, also when starting a thread fails.
    struct Joiner {
      std::vector<std::thread> Threads;
      ~Joiner() {
        for (std::thread& thread : Threads)
          thread.join();
      }
    } workers;
    for (int worker = 1; worker < threads; ++worker)
      workers.Threads.emplace_back(run, worker);
    run(0);
  }
  if (failure)
    std::rethrow_exception(failure);
}

void InOrderProgress::Done(std::size_t index) {
  const std::lock_guard guard(lock_);
  done_[index] = 1;
  for (; passed_ < done_.size() && done_[passed_] != 0; ++passed_)
    if (next_)
      next_(passed_);
}

} // namespace vornel
