#pragma once

// Runs independent pieces of work on several threads; the caller keeps each piece's result in a
// slot of its own, so reports stay in the order of the pieces whatever the threads do.

#include <cstddef>
#include <functional>

namespace vornel {

// Calls work(worker, index) for every index below count on `jobs` threads (at most count; 1
// runs on the calling thread), each index once, in rising order of start. worker (0 to jobs-1)
// names the thread, for state of its own (a connection). The first exception a call raises is
// raised again once every thread has stopped; no index starts after it.
void ForEachInParallel(std::size_t count, int jobs,
                       const std::function<void(int worker, std::size_t index)>& work);

} // namespace vornel
