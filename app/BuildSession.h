#pragma once

// One build at a time from a window: Build starts it on a thread of its own, its end or the
// window's close winds it up and shows its outcome, and the window is idle again. Both windows
// (Qt and Win32) run their builds through this class and keep only the code of their widgets.

#include "app/BuildProcedure.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

namespace vornel {

// What a session needs of its window. The Post calls come from the build's thread: the window
// hands them to its own thread without waiting, for it may be waiting for the build to stop.
// The other calls come on the window's own thread.
class SessionWindow {
public:
  virtual ~SessionWindow() = default;

  // While a build runs the tree and Build take no input; as one starts, the bar goes back to 0
  // (a failed build leaves it where it stopped).
  virtual void SetBuilding(bool building) = 0;
  // The bar counts one step per archive, then goes back to 0.
  virtual void PostProgressMax(std::int32_t maximum) = 0;
  virtual void PostProgressStep() = 0;
  virtual void PostProgressReset() = 0;
  // The build has ended: the window calls the session's Ended on its own thread.
  virtual void PostBuildEnded() = 0;
  // The outcome: a plain box for a message, the error box for an error.
  virtual void ShowPlain(const std::string& text) = 0;
  // A refused tree with more problems than a box has room for: a plain box with the excerpt,
  // and every problem (one a line) where the operator can scroll through them; heading says
  // what the whole list is.
  virtual void ShowProblemList(const std::string& excerpt, const std::string& heading,
                               const std::string& all) = 0;
  virtual void ShowError(const std::string& message) = 0;
  // Once the outcome of a build has been shown.
  virtual void BuildFinished() {}
};

class BuildSession {
public:
  // A refused tree shows this many of its problems in the box itself, all of them in a list.
  static constexpr std::size_t ProblemsShown = 10;

  // Reads the self file's name from the settings file in the current folder, once for the
  // session's life.
  explicit BuildSession(SessionWindow& window);
  // Stops a running build and waits for it; shows nothing.
  ~BuildSession();
  BuildSession(const BuildSession&) = delete;
  BuildSession& operator=(const BuildSession&) = delete;

  bool Running() const { return view_ != nullptr; }
  // A close or the window's end has asked the running build to stop.
  bool StopRequested() const { return stopRequested_; }
  const Packer& PackerState() const { return *packer_; }

  // Build pressed: builds cleanRoot into the current folder. Nothing while a build runs.
  void Start(const std::string& cleanRoot);
  // The window's thread learnt that the build ended: shows its outcome. Nothing when a close
  // wound the build up already.
  void Ended();
  // The window closes: a running build stops after the files in flight, without a question;
  // the window takes no input meanwhile because its thread waits here. Then shows the outcome
  // (what clients read is as it was: the operator should know).
  void Close();

private:
  class View;

  // Joins the build, makes the window idle and shows the outcome.
  void WindUp();
  void StopAndWait();

  SessionWindow& window_;
  std::unique_ptr<Packer> packer_;
  std::unique_ptr<View> view_;
  std::atomic<bool> stopRequested_{false};
  std::thread worker_;
  bool failed_ = false; // written by the worker, read after it has been joined
  std::string error_;
};

} // namespace vornel
