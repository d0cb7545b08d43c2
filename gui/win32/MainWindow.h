#pragma once

// The main window made of the platform's own controls: the shell folder tree, Build, About,
// Quit and the progress bar. The build itself is the core's Packer::Build, run on a worker
// thread that reports to the window by posted messages.

#include "app/BuildProcedure.h"
#include "app/WorkerBuildView.h"
#include "gui/win32/PostedBuildView.h"
#include "gui/win32/ShellFolderTree.h"

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include <windows.h>

namespace vornel::win32 {

// Control ids, in tab order.
enum ControlId : int {
  ShellTreeView1Id = 100,
  Button1Id,
  Button2Id,
  Button3Id,
  ProgressBar1Id,
};

// What a build on the worker thread came back with.
class TForm1 {
public:
  // Creates the window hidden, centred on the desktop's work area.
  TForm1();
  // Stops a running build and destroys the window without ending the message loop.
  ~TForm1();
  TForm1(const TForm1&) = delete;
  TForm1& operator=(const TForm1&) = delete;

  HWND Handle() const { return window_; }
  bool BuildRunning() const { return view_ != nullptr; }
  const Packer& PackerState() const { return *packer_; }
  ShellFolderTree& Tree() { return *ShellTreeView1; }

  // Lets the window take Tab and arrow keys between its controls; true when msg was used.
  bool TranslateDialogKeys(MSG& msg);

  // Called when a build started by Build has ended and its outcome has been shown.
  std::function<void()> OnBuildFinished;

  std::unique_ptr<ShellFolderTree> ShellTreeView1;
  HWND Button1 = nullptr;
  HWND Button2 = nullptr;
  HWND Button3 = nullptr;
  HWND ProgressBar1 = nullptr;

  void Button1Click();
  void Button2Click();
  void Button3Click();

private:
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam);
  void CreateControls();
  void PlaceControls();
  void FormCreate();
  void OnClose();
  void BuildEnded();
  // Puts the window back to idle and returns what the build left to show.
  BuildResult FinishBuild(std::string& message);
  void StopBuildAndWait();

  HWND window_ = nullptr;
  HFONT font_ = nullptr;
  bool quitOnDestroy_ = true;
  std::unique_ptr<Packer> packer_;
  std::unique_ptr<PostedBuildView> view_;
  std::atomic<bool> stopRequested_{false};
  std::thread worker_;
  BuildResult result_; // written by the worker, read after it has been joined
};

} // namespace vornel::win32
