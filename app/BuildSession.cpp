#include "app/BuildSession.h"

#include "app/BuildPaths.h"
#include "app/PackEngine.h"
#include "app/Settings.h"
#include "platform/FileSystem.h"

#include <exception>
#include <mutex>
#include <utility>

namespace vornel {

// The build's view: progress goes to the window as it comes, the last message is kept for the
// window's thread to show once the build has ended.
class BuildSession::View final : public BuildView {
public:
  explicit View(SessionWindow& window) : window_(window) {}

  void SetProgressMax(std::int32_t maximum) override { window_.PostProgressMax(maximum); }
  void StepProgress(const std::string& /*relativePath*/) override { window_.PostProgressStep(); }
  void ResetProgress() override { window_.PostProgressReset(); }
  void ShowMessage(const std::string& text) override {
    std::lock_guard lock(mutex_);
    message_ = text;
  }
  void ShowProblems(const std::vector<TreeProblem>& problems) override {
    ShowMessage(ProblemListText(problems, ProblemsShown));
    if (problems.size() > ProblemsShown) {
      std::lock_guard lock(mutex_);
      heading_ = "The clean folder has " + std::to_string(problems.size()) +
                 " problems; nothing was written. Mend them and press Build again:";
      list_ = ProblemListText(problems, problems.size());
    }
  }
  // A stopped build (the window's close) says that what clients read is unchanged.
  void ShowStopped(const StopReport& report) override { ShowMessage(StoppedText(report)); }

  std::string TakeMessage() {
    std::lock_guard lock(mutex_);
    return std::exchange(message_, {});
  }
  // The whole list of a refused tree's problems and its heading; empty when the message holds
  // them all.
  std::pair<std::string, std::string> TakeProblemList() {
    std::lock_guard lock(mutex_);
    return {std::exchange(heading_, {}), std::exchange(list_, {})};
  }

private:
  SessionWindow& window_;
  std::mutex mutex_;
  std::string message_;
  std::string heading_;
  std::string list_;
};

BuildSession::BuildSession(SessionWindow& window)
    : window_(window), packer_(std::make_unique<Packer>(
                           Packer::ReadCustomName(SettingsPathIn(CurrentDirectory())))) {}

BuildSession::~BuildSession() {
  // The build uses this session's packer and view: it must be over before they go.
  StopAndWait();
}

void BuildSession::Start(const std::string& cleanRoot) {
  if (Running())
    return;
  if (NamesShellItem(cleanRoot)) {
    window_.ShowPlain("The chosen item \"" + cleanRoot +
                      "\" is not a folder on disk; choose the clean client folder on a drive");
    return;
  }
  try {
    const std::string workDir = CurrentDirectory();
    window_.SetBuilding(true);
    stopRequested_ = false;
    failed_ = false;
    error_.clear();
    view_ = std::make_unique<View>(window_);
    BuildOptions options;
    options.Jobs = DefaultJobs();
    options.StopRequested = &stopRequested_;
    worker_ = std::thread([this, cleanRoot, workDir, options] {
      // No exception may leave the thread: it goes to the window's thread instead.
      try {
        packer_->Build(cleanRoot, workDir, *view_, options);
      } catch (const std::exception& error) {
        failed_ = true;
        error_ = error.what();
      } catch (...) {
        failed_ = true;
        error_ = "Unknown error";
      }
      window_.PostBuildEnded();
    });
  } catch (const std::exception& error) {
    view_.reset();
    window_.SetBuilding(false);
    window_.ShowError(error.what());
  }
}

void BuildSession::Ended() {
  if (Running())
    WindUp();
}

void BuildSession::Close() {
  if (!Running())
    return;
  StopAndWait();
  WindUp();
}

void BuildSession::WindUp() {
  if (worker_.joinable())
    worker_.join();
  const std::string message = view_->TakeMessage();
  const auto [heading, list] = view_->TakeProblemList();
  view_.reset();
  window_.SetBuilding(false);
  if (failed_)
    window_.ShowError(error_);
  else if (!list.empty())
    window_.ShowProblemList(message, heading, list);
  else if (!message.empty())
    window_.ShowPlain(message);
  window_.BuildFinished();
}

void BuildSession::StopAndWait() {
  stopRequested_ = true;
  if (worker_.joinable())
    worker_.join();
}

} // namespace vornel
