#pragma once

// The main window made of the platform's own controls: the shell folder tree, Build, About,
// Quit and the progress bar. Its builds run through the core's BuildSession, whose thread
// reports to the window by posted messages; the window holds the controls and shows what the
// session says.

#include "app/BuildSession.h"
#include "gui/win32/ShellFolderTree.h"

#include <functional>
#include <memory>
#include <string>

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

class TForm1 : private SessionWindow {
public:
  // Creates the window hidden, centred on the desktop's work area.
  TForm1();
  // Stops a running build and destroys the window without ending the message loop.
  ~TForm1() override;
  TForm1(const TForm1&) = delete;
  TForm1& operator=(const TForm1&) = delete;

  HWND Handle() const { return window_; }
  bool BuildRunning() const { return session_->Running(); }
  bool StopRequested() const { return session_->StopRequested(); }
  const Packer& PackerState() const { return session_->PackerState(); }
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
  void OnClose();

  void SetBuilding(bool building) override;
  void PostProgressMax(std::int32_t maximum) override;
  void PostProgressStep() override;
  void PostProgressReset() override;
  void PostBuildEnded() override;
  void ShowPlain(const std::string& text) override;
  void ShowProblemList(const std::string& excerpt, const std::string& heading,
                       const std::string& all) override;
  void ShowError(const std::string& message) override;
  void BuildFinished() override;

  HWND window_ = nullptr;
  HFONT font_ = nullptr;
  bool quitOnDestroy_ = true;
  std::unique_ptr<BuildSession> session_;
};

} // namespace vornel::win32
