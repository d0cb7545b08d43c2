#include "app/ServedArchives.h"

#include "app/PackEngine.h"
#include "app/ParallelFor.h"

#include <algorithm>
#include <atomic>
#include <memory>
#include <optional>
#include <thread>

namespace vornel {

namespace {

// The check of one archive on the server, as its fetches go: a HEAD (a ranged GET when HEAD is
// not answered) or, deeply, the whole archive.
class ArchiveOnServer {
public:
  ArchiveOnServer(const Url& base, const FetchPolicy& policy, const ServedTarget& target, bool deep)
      : base_(base), policy_(policy), target_(target), deep_(deep),
        url_(UrlBelow(base, target.Archive)) {
    if (deep && target.Expected.Size >= 0) {
      stage_ = FetchKind::Body;
      fetch_ = std::make_unique<ServedFetch>(
          base_, policy_, url_, FetchKind::Body, target.Expected.Size,
          [](const HttpResponse& response) { return !IsHtmlPage(response); });
    } else {
      fetch_ = std::make_unique<ServedFetch>(base_, policy_, url_, FetchKind::Head);
    }
  }

  ServedFetch& Fetch() { return *fetch_; }

  // Once Fetch() is over: true when the check is over, false when another fetch is under way.
  bool Advance() {
    try {
      Fetched& fetched = fetch_->Result();
      const HttpResponse& head = fetched.Response;
      if (stage_ == FetchKind::Head &&
          (head.Status == 405 || head.Status == 501 ||
           (head.Status >= 200 && head.Status <= 299 && !head.ContentLength))) {
        stage_ = FetchKind::Probe;
        fetch_ = std::make_unique<ServedFetch>(base_, policy_, url_, FetchKind::Probe);
        return false;
      }
      Judge(fetched);
    } catch (const EServedProblem& failure) {
      Add(failure.what());
    }
    return true;
  }

  std::vector<std::string>& Problems() { return problems_; }

private:
  void Add(const std::string& text) { problems_.push_back(text + " (" + url_ + ")"); }

  void Judge(Fetched& fetched) {
    const std::int32_t listed = target_.Expected.Size;
    const HttpResponse& response = fetched.Response;
    if (response.Status < 200 || response.Status > 299)
      return Add(StatusText(response.Status));
    if (IsHtmlPage(response))
      return Add("an HTML page is served instead of the archive");
    const std::optional<std::int64_t> size =
        response.Status == 206 ? response.RangeTotal : response.ContentLength;
    if (listed == -1)
      Add("updates.lst lists the archive as missing (size -1)");
    else if (size && *size != listed)
      Add("the archive is " + std::to_string(*size) + " bytes as served, updates.lst lists " +
          std::to_string(listed));
    else if (fetched.TooLarge)
      Add("the server sends more than the " + std::to_string(listed) + " bytes listed");
    else if (!size && !deep_)
      Add("the server does not say the archive's size");
    else if (deep_)
      for (const std::string& problem :
           CheckArchiveBytes(std::move(fetched.Body), target_.Expected))
        Add(problem);
  }

  const Url& base_;
  const FetchPolicy& policy_;
  const ServedTarget& target_;
  bool deep_;
  std::string url_;
  FetchKind stage_ = FetchKind::Head;
  std::unique_ptr<ServedFetch> fetch_;
  std::vector<std::string> problems_;
};

// One thread's share: up to `connections` archives under way at once, each taken from `claim`
// when a slot is free, each handed to `done` when its check is over.
void CheckOnThisThread(const Url& base, const FetchPolicy& policy,
                       const std::vector<ServedTarget>& targets, bool deep, int connections,
                       const std::function<std::optional<std::size_t>()>& claim,
                       const std::function<void(std::size_t, std::vector<std::string>)>& done) {
  using Clock = std::chrono::steady_clock;
  struct Slot {
    std::size_t Index = 0;
    std::unique_ptr<ArchiveOnServer> Check;
  };
  HttpTransfers transfers(connections);
  std::vector<Slot> slots(static_cast<std::size_t>(connections));
  std::vector<std::size_t> paused; // slots whose next request waits for its time
  auto send = [&](std::size_t slot) {
    ServedFetch& fetch = slots[slot].Check->Fetch();
    if (fetch.NotBefore() <= Clock::now())
      transfers.Start(slot, fetch.Request());
    else
      paused.push_back(slot);
  };
  bool claimed_all = false;
  for (;;) {
    for (std::size_t slot = 0; slot < slots.size() && !claimed_all; ++slot) {
      while (!slots[slot].Check) {
        const std::optional<std::size_t> index = claim();
        if (!index) {
          claimed_all = true;
          break;
        }
        if (!targets[*index].Readable) {
          done(*index, {});
          continue;
        }
        slots[slot] = {*index,
                       std::make_unique<ArchiveOnServer>(base, policy, targets[*index], deep)};
        send(slot);
      }
    }
    if (transfers.Running() == 0 && paused.empty())
      return;

    auto wait = std::chrono::milliseconds(1000);
    const auto now = Clock::now();
    std::erase_if(paused, [&](std::size_t slot) {
      const auto due = slots[slot].Check->Fetch().NotBefore();
      if (due > now) {
        wait = std::min(wait, std::chrono::ceil<std::chrono::milliseconds>(due - now));
        return false;
      }
      transfers.Start(slot, slots[slot].Check->Fetch().Request());
      return true;
    });
    if (transfers.Running() == 0) {
      std::this_thread::sleep_for(wait);
      continue;
    }
    std::optional<HttpTransfers::Finished> finished = transfers.Next(wait);
    if (!finished)
      continue;
    const std::size_t slot = finished->Tag;
    ArchiveOnServer& check = *slots[slot].Check;
    if (!check.Fetch().Take(std::move(*finished)) || !check.Advance()) {
      send(slot);
      continue;
    }
    done(slots[slot].Index, std::move(check.Problems()));
    slots[slot].Check.reset();
  }
}

} // namespace

std::vector<std::vector<std::string>>
CheckServedArchives(const Url& base, const FetchPolicy& policy,
                    const std::vector<ServedTarget>& targets, bool deep, int connections,
                    const std::function<void(std::size_t index)>& checked) {
  std::vector<std::vector<std::string>> problems(targets.size());
  if (targets.empty())
    return problems;
  connections = std::clamp<int>(connections, 1, static_cast<int>(targets.size()));
  // The threads unpack what arrives (with --deep) while their other requests are under way.
  const int threads = std::min(DefaultJobs(), connections);
  std::atomic<std::size_t> next{0};
  auto claim = [&]() -> std::optional<std::size_t> {
    const std::size_t index = next.fetch_add(1);
    return index < targets.size() ? std::optional(index) : std::nullopt;
  };
  InOrderProgress inOrder(targets.size(), checked);
  auto done = [&](std::size_t index, std::vector<std::string> found) {
    problems[index] = std::move(found);
    inOrder.Done(index);
  };
  ForEachInParallel(static_cast<std::size_t>(threads), threads, [&](int, std::size_t thread) {
    const int share = connections / threads + (static_cast<int>(thread) < connections % threads);
    CheckOnThisThread(base, policy, targets, deep, share, claim, done);
  });
  return problems;
}

} // namespace vornel
