#pragma once

// Packs the files of a build on several worker threads while the build's own thread keeps
// everything the user or the manifest sees in order.
//
// Each worker has an archive component of its own. Files are handed out largest first (a big
// file started last would end the build alone), but what comes out is what the serial
// procedure writes: the build's thread lists finished files strictly in tree order, each as
// soon as it and every file before it are done, and reports one progress step per finished
// archive. With one job there are no threads at all and files go in tree order, so each file
// is listed and stepped before the next is started, exactly as in the serial procedure.
//
// When a file fails, no file after it in tree order is started any more, but the files before
// it still are, so the listing ends just before the failing file as it would in the serial
// procedure; the error of the earliest failing file is then raised. A stop request starts
// nothing new, lets the files in flight finish and lists the done files up to the first one
// that is not. Archives of files after the listed ones that were finished stay in Upload/:
// they are whole, an earlier build's archive there would have stayed too, and the next build
// overwrites (or keeps) them.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace vornel {

class TPellum;

// One file's paths, composed when its turn comes (each worker reuses its own).
struct PackTask {
  std::string SourcePath;
  std::string ZipPath;
  std::string RelativePath;
  std::uint64_t Size = 0; // as the walk saw it: the check at opening uses it
  std::string EntryName;  // the archive entry's name, as the client reads it
  std::string RealPath;   // where the walk found it, every link it accepted resolved
};

// Where the engine reports; every call comes from the thread that called Run, one at a time.
class PackSink {
public:
  virtual ~PackSink() = default;
  // A task's archive is finished (in any order).
  virtual void Finished(std::size_t index) = 0;
  // Tasks are listed in index order, each after it and all before it have finished.
  virtual void Listed(std::size_t index) = 0;
  // Each time the calling thread wakes (tasks finished, or PackWaitReport passed without any):
  // inFlight tasks are running. With one job the tasks run on the calling thread, which then
  // never waits, and this is not called.
  virtual void Pulse(std::size_t inFlight) { (void)inFlight; }
};

// How often the calling thread wakes while no task finishes.
inline constexpr auto PackWaitReport = std::chrono::milliseconds(200);

// The work for one task, run on a worker with the worker's own component (set up by
// ConfigurePellum1). It must keep whatever it produces for the sink itself, per index.
using PackWork = std::function<void(TPellum& pellum, std::size_t index)>;

// The largest number of jobs the engine runs; more would only cost memory.
inline constexpr int MaxJobs = 64;

// Hardware threads, at least 1 and at most MaxJobs.
int DefaultJobs();

// Runs a task for every size given (the files' sizes in tree order, for the schedule); true when
// all were listed, false when a stop request ended it early. Raises the error of the earliest
// failing task, or an error of the sink, after every worker has ended.
bool RunPackEngine(const std::vector<std::uint64_t>& sizes, int jobs,
                   const std::atomic<bool>* stopRequested, const PackWork& work, PackSink& sink);

// The order in which tasks are handed out: by size, largest first, ties in tree order.
std::vector<std::uint32_t> LargestFirst(const std::vector<std::uint64_t>& sizes);

} // namespace vornel
