#include "platform/HttpClient.h"

#include "platform/windows/WinHttpClient.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

namespace vornel {

// WinHTTP's own asynchronous mode calls back on threads of its own as well; blocking requests on
// one thread a connection do the same with far less code.
struct HttpTransfers::Impl {
  struct Waiting {
    std::uint64_t Tag = 0;
    HttpRequest Request;
  };

  int Connections = 1;
  std::mutex Lock;
  std::condition_variable WorkArrived;
  std::condition_variable WorkEnded;
  std::deque<Waiting> Queue;
  std::deque<Finished> Ended;
  std::size_t Started = 0; // Start calls whose end Next has not returned
  bool Closing = false;
  std::vector<std::thread> Threads;

  void Serve() {
    // A session WinHTTP cannot open fails every request this thread takes.
    std::unique_ptr<HttpClient> client;
    std::exception_ptr cannotStart;
    try {
      client = std::make_unique<HttpClient>();
    } catch (...) {
      cannotStart = std::current_exception();
    }
    std::unique_lock lock(Lock);
    for (;;) {
      WorkArrived.wait(lock, [&] { return Closing || !Queue.empty(); });
      if (Closing)
        return;
      Waiting waiting = std::move(Queue.front());
      Queue.pop_front();
      lock.unlock();
      Finished finished;
      finished.Tag = waiting.Tag;
      try {
        if (cannotStart)
          std::rethrow_exception(cannotStart);
        finished.Response = client->Send(waiting.Request);
      } catch (...) {
        finished.Error = std::current_exception();
      }
      lock.lock();
      Ended.push_back(std::move(finished));
      WorkEnded.notify_one();
    }
  }
};

HttpTransfers::HttpTransfers(int connections) : impl_(std::make_unique<Impl>()) {
  impl_->Connections = std::max(1, connections);
}

HttpTransfers::~HttpTransfers() {
  {
    const std::lock_guard lock(impl_->Lock);
    impl_->Closing = true;
  }
  impl_->WorkArrived.notify_all();
  for (std::thread& thread : impl_->Threads)
    thread.join();
}

void HttpTransfers::Start(std::uint64_t tag, HttpRequest request) {
  const std::lock_guard lock(impl_->Lock);
  impl_->Queue.push_back({tag, std::move(request)});
  ++impl_->Started;
  if (impl_->Threads.size() < impl_->Started &&
      static_cast<int>(impl_->Threads.size()) < impl_->Connections)
    impl_->Threads.emplace_back([this] { impl_->Serve(); });
  impl_->WorkArrived.notify_one();
}

std::optional<HttpTransfers::Finished> HttpTransfers::Next(std::chrono::milliseconds wait) {
  std::unique_lock lock(impl_->Lock);
  if (impl_->Started == 0 ||
      !impl_->WorkEnded.wait_for(lock, wait, [&] { return !impl_->Ended.empty(); }))
    return std::nullopt;
  Finished finished = std::move(impl_->Ended.front());
  impl_->Ended.pop_front();
  --impl_->Started;
  return finished;
}

std::size_t HttpTransfers::Running() const {
  const std::lock_guard lock(impl_->Lock);
  return impl_->Started;
}

} // namespace vornel
