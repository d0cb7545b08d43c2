#pragma once

// Runs independent pieces of work on several threads; the caller keeps each piece's result in a
// slot of its own, so reports stay in the order of the pieces whatever the threads do.

#include <cstddef>
#include <functional>
#include <mutex>
#include <vector>

namespace vornel {

// Calls work(worker, index) for every index below count on `jobs` threads (at most count; 1
// runs on the calling thread), each index once, in rising order of start. worker (0 to jobs-1)
// names the thread, for state of its own (a connection). The first exception a call raises is
// raised again once every thread has stopped; no index starts after it.
void ForEachInParallel(std::size_t count, int jobs,
                       const std::function<void(int worker, std::size_t index)>& work);

// Passes on the ends of pieces of work in the pieces' order, whatever order they end in: Done(i)
// calls next(j) for every piece j whose predecessors and itself are done and that was not passed
// on yet. Safe to call from several threads; next runs under its lock.
class InOrderProgress {
public:
  InOrderProgress(std::size_t count, std::function<void(std::size_t index)> next)
      : done_(count, 0), next_(std::move(next)) {}

  void Done(std::size_t index);

private:
  std::mutex lock_;
  std::vector<char> done_;
  std::size_t passed_ = 0;
  std::function<void(std::size_t index)> next_;
};

} // namespace vornel
