// The Windows window driven through its messages on its own thread: layout, the shell folder
// tree, About and Quit, builds with their boxes and progress, a close during a build, and the
// picture of the window.

#include "WindowTestSupport.h"
#include "app/WindowLayout.h"
#include "gui/win32/MainWindow.h"
#include "gui/win32/Screenshot.h"
#include "gui/win32/WideText.h"
#include "tests/support/HeldBuild.h"

#include <algorithm>
#include <commctrl.h>
#include <cstring>
#include <gtest/gtest.h>
#include <objbase.h>
#include <zlib.h>

using namespace vornel;
using namespace vornel::win32;
using namespace vornel::test;

namespace {

int Dpi() {
  HDC screen = GetDC(nullptr);
  const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(nullptr, screen);
  return dpi;
}

RECT Scaled(const window::Place& place) {
  const int dpi = Dpi();
  const auto s = [dpi](int v) { return MulDiv(v, dpi, 96); };
  return {s(place.X), s(place.Y), s(place.X) + s(place.Width), s(place.Y) + s(place.Height)};
}

// Where a control lies in its parent's client area.
RECT PlaceOf(HWND control) {
  RECT box{};
  GetWindowRect(control, &box);
  MapWindowPoints(nullptr, GetParent(control), reinterpret_cast<POINT*>(&box), 2);
  return box;
}

bool Same(const RECT& a, const RECT& b) {
  return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

int ProgressPosition(const TForm1& form) {
  return static_cast<int>(SendMessageW(form.ProgressBar1, PBM_GETPOS, 0, 0));
}

int ProgressMaximum(const TForm1& form) {
  return static_cast<int>(SendMessageW(form.ProgressBar1, PBM_GETRANGE, FALSE, 0));
}

HTREEITEM TreeItem(HWND tree, UINT relation, HTREEITEM from = nullptr) {
  return reinterpret_cast<HTREEITEM>(
      SendMessageW(tree, TVM_GETNEXTITEM, relation, reinterpret_cast<LPARAM>(from)));
}

std::wstring ItemText(HWND tree, HTREEITEM item) {
  wchar_t text[MAX_PATH] = {};
  TVITEMW data{};
  data.mask = TVIF_TEXT;
  data.hItem = item;
  data.pszText = text;
  data.cchTextMax = MAX_PATH;
  SendMessageW(tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&data));
  return text;
}

std::vector<std::wstring> ChildNames(HWND tree, HTREEITEM parent) {
  std::vector<std::wstring> names;
  for (HTREEITEM item = TreeItem(tree, TVGN_CHILD, parent); item;
       item = TreeItem(tree, TVGN_NEXT, item))
    names.push_back(ItemText(tree, item));
  return names;
}

// The command line program lies beside this test.
std::wstring CommandLineProgram() {
  wchar_t self[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  return (std::filesystem::path(self).parent_path() / L"vornel.exe").wstring();
}

std::size_t CountStartingWith(const std::vector<std::string>& lines, const std::string& prefix) {
  std::size_t count = 0;
  for (const std::string& line : lines)
    count += line.rfind(prefix, 0) == 0 ? 1 : 0;
  return count;
}

class WindowTest : public testing::Test {
protected:
  static void SetUpTestSuite() {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_TREEVIEW_CLASSES | ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&controls);
  }

  void TearDown() override { TakeQuitMessage(); }

  // Selects folder, presses Build and waits until the outcome has been shown. Records every
  // position the progress bar took.
  void Build(TForm1& form, const std::string& folder, std::vector<int>* positions = nullptr) {
    if (!folder.empty()) {
      ASSERT_TRUE(form.Tree().SelectPath(folder)) << folder;
    }
    bool finished = false;
    form.OnBuildFinished = [&finished] { finished = true; };
    SendMessageW(form.Button1, BM_CLICK, 0, 0);
    EXPECT_TRUE(form.BuildRunning());
    EXPECT_FALSE(IsWindowEnabled(form.Tree().Handle()));
    EXPECT_FALSE(IsWindowEnabled(form.Button1));
    int last = -1;
    ASSERT_TRUE(PumpUntil([&finished] { return finished; }, 120000,
                          [&] {
                            if (positions && ProgressPosition(form) != last)
                              positions->push_back(last = ProgressPosition(form));
                          }));
    EXPECT_FALSE(form.BuildRunning());
    EXPECT_TRUE(IsWindowEnabled(form.Tree().Handle()));
    EXPECT_TRUE(IsWindowEnabled(form.Button1));
  }
};

TEST_F(WindowTest, WindowAndControlsSitWhereLaidOut) {
  TForm1 form;
  const HWND window = form.Handle();
  wchar_t caption[64] = {};
  GetWindowTextW(window, caption, 64);
  EXPECT_EQ(std::wstring(caption), Widen(window::Caption));

  RECT client{};
  GetClientRect(window, &client);
  EXPECT_TRUE(Same(client, Scaled(window::ClientArea)));
  const LONG_PTR style = GetWindowLongPtrW(window, GWL_STYLE);
  EXPECT_NE(GetWindowLongPtrW(window, GWL_EXSTYLE) & WS_EX_TOOLWINDOW, 0);
  EXPECT_EQ(style & (WS_THICKFRAME | WS_MAXIMIZEBOX), 0); // not resizable
  EXPECT_NE(style & WS_SYSMENU, 0);                       // the caption's close button

  RECT frame{}, desk{};
  GetWindowRect(window, &frame);
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &desk, 0);
  EXPECT_LE(std::abs((frame.left + frame.right) - (desk.left + desk.right)), 2);
  EXPECT_LE(std::abs((frame.top + frame.bottom) - (desk.top + desk.bottom)), 2);

  // Tab order is the order of this table.
  const struct {
    HWND Control;
    RECT Place;
    const wchar_t* Text;
  } controls[] = {
      {form.Tree().Handle(), Scaled(window::TreePlace), L""},
      {form.Button1, Scaled(window::BuildButtonPlace), L"Build"},
      {form.Button2, Scaled(window::AboutButtonPlace), L"About"},
      {form.Button3, Scaled(window::QuitButtonPlace), L"Quit"},
      {form.ProgressBar1, Scaled(window::ProgressPlace), L""},
  };
  HWND previous = nullptr;
  for (const auto& expected : controls) {
    SCOPED_TRACE(testing::Message() << "control " << GetDlgCtrlID(expected.Control));
    EXPECT_TRUE(Same(PlaceOf(expected.Control), expected.Place));
    wchar_t text[16] = {};
    GetWindowTextW(expected.Control, text, 16);
    EXPECT_EQ(std::wstring(text), expected.Text);
    if (previous) {
      EXPECT_EQ(GetWindow(previous, GW_HWNDNEXT), expected.Control);
    }
    previous = expected.Control;

    LOGFONTW font{};
    GetObjectW(reinterpret_cast<HFONT>(SendMessageW(expected.Control, WM_GETFONT, 0, 0)),
               sizeof font, &font);
    EXPECT_EQ(std::wstring(font.lfFaceName), L"MS Sans Serif");
    EXPECT_EQ(font.lfHeight, -MulDiv(window::FontPoints, Dpi(), 72));
  }
  EXPECT_EQ(GetNextDlgTabItem(window, form.Tree().Handle(), FALSE), form.Button1);
  EXPECT_EQ(GetNextDlgTabItem(window, form.Button3, FALSE), form.Tree().Handle());
  EXPECT_EQ(ProgressPosition(form), 0);
  EXPECT_EQ(ProgressMaximum(form), 100);
}

TEST_F(WindowTest, TreeHoldsTheDesktopsFoldersAndSelectsByPathAndRightClick) {
  TempDir folder;
  WriteFile(folder.Path() / "file.txt", "x");
  std::filesystem::create_directories(folder.Path() / "pick" / "inner");

  TForm1 form;
  const HWND tree = form.Tree().Handle();
  EXPECT_EQ(GetWindowLongPtrW(tree, GWL_STYLE) & TVS_LINESATROOT, 0);
  EXPECT_EQ(SendMessageW(tree, TVM_GETINDENT, 0, 0), MulDiv(window::TreeIndent, Dpi(), 96));
  const HTREEITEM root = TreeItem(tree, TVGN_ROOT);
  ASSERT_NE(root, nullptr);
  EXPECT_EQ(TreeItem(tree, TVGN_NEXT, root), nullptr); // one root: the desktop
  EXPECT_FALSE(ChildNames(tree, root).empty());        // opened, its folders listed
  EXPECT_EQ(form.Tree().SelectedPath(), "");

  ASSERT_TRUE(form.Tree().SelectPath(folder.Str()));
  EXPECT_EQ(form.Tree().SelectedPath(), folder.Str());
  const HTREEITEM selected = TreeItem(tree, TVGN_CARET);
  SendMessageW(tree, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(selected));
  EXPECT_EQ(ChildNames(tree, selected), std::vector<std::wstring>{L"pick"}); // folders only
  EXPECT_FALSE(form.Tree().SelectPath(folder.Str() + "\\missing"));

  // A right click on a folder selects it.
  ShowWindow(form.Handle(), SW_SHOWNORMAL);
  const HTREEITEM pick = TreeItem(tree, TVGN_CHILD, selected);
  SendMessageW(tree, TVM_ENSUREVISIBLE, 0, reinterpret_cast<LPARAM>(pick));
  RECT box{};
  std::memcpy(&box, &pick, sizeof pick); // the item goes in where the rectangle comes back
  ASSERT_TRUE(SendMessageW(tree, TVM_GETITEMRECT, TRUE, reinterpret_cast<LPARAM>(&box)));
  POINT at{(box.left + box.right) / 2, (box.top + box.bottom) / 2};
  POINT screen = at;
  ClientToScreen(tree, &screen);
  SetCursorPos(screen.x, screen.y);
  // The tree watches the queue for the release while it handles the press.
  PostMessageW(tree, WM_RBUTTONUP, 0, MAKELPARAM(at.x, at.y));
  SendMessageW(tree, WM_RBUTTONDOWN, MK_RBUTTON, MAKELPARAM(at.x, at.y));
  EXPECT_EQ(form.Tree().SelectedPath(), folder.Str() + "\\pick");
}

TEST_F(WindowTest, AboutShowsThePlainBoxAndQuitEndsTheMessageLoop) {
  MessageBoxCatcher catcher;
  TForm1 form;
  SendMessageW(form.Button2, BM_CLICK, 0, 0);
  ASSERT_EQ(catcher.Boxes.size(), 1u);
  EXPECT_EQ(catcher.Boxes[0].Caption, Widen(window::ApplicationName));
  EXPECT_EQ(catcher.Boxes[0].Text, Widen(window::AboutText));
  EXPECT_FALSE(catcher.Boxes[0].HasIcon);

  SendMessageW(form.Button3, BM_CLICK, 0, 0);
  EXPECT_FALSE(IsWindow(form.Handle()));
  EXPECT_TRUE(TakeQuitMessage());
  EXPECT_EQ(catcher.Boxes.size(), 1u);
}

// The window and the command line drive the same core: the same folder gives the same bytes.
TEST_F(WindowTest, BuildPacksCountsProgressAndEqualsTheCommandLine) {
  TempDir clean;
  WriteFile(clean.Path() / "Teskor.exe", "updater");
  WriteFile(clean.Path() / "engine.dll", std::string(70000, 'e'));
  WriteFile(clean.Path() / "system" / "empty.txt", "");
  std::filesystem::create_directories(clean.Path() / "logs");

  std::map<std::string, std::string> fromWindow;
  {
    WorkingDirectory work;
    MessageBoxCatcher catcher;
    TForm1 form;
    std::vector<int> positions;
    Build(form, clean.Str(), &positions);
    ASSERT_EQ(catcher.Boxes.size(), 1u);
    EXPECT_EQ(catcher.Boxes[0].Caption, Widen(window::ApplicationName));
    EXPECT_EQ(catcher.Boxes[0].Text, L"Done.3 files packed.");
    EXPECT_FALSE(catcher.Boxes[0].HasIcon);
    // One step per archive, the self file's included, then back to 0.
    EXPECT_EQ(ProgressMaximum(form), 3);
    ASSERT_FALSE(positions.empty());
    EXPECT_EQ(*std::max_element(positions.begin(), positions.end()), 3);
    EXPECT_EQ(positions.back(), 0);

    const auto manifest = ReadLines(work.Path() / "Upload" / "updates.lst");
    ASSERT_FALSE(manifest.empty());
    EXPECT_EQ(manifest[0], "[self]");
    EXPECT_EQ(CountStartingWith(manifest, "IAM=Teskor.exe|"), 1u);
    EXPECT_EQ(CountStartingWith(manifest, "F"), 2u);
    EXPECT_EQ(CountStartingWith(manifest, "fcount=2"), 1u);
    EXPECT_TRUE(std::filesystem::is_directory(work.Path() / "Upload" / "logs"));
    fromWindow = FilesBelow(work.Path() / "Upload");
  }
  EXPECT_EQ(fromWindow.size(), 4u); // three archives and the manifest

  TempDir work;
  ASSERT_EQ(RunProgram(CommandLineProgram(), L"build --quiet \"" + Widen(clean.Str()) + L"\"",
                       work.Path()),
            0);
  EXPECT_EQ(FilesBelow(work.Path() / "Upload"), fromWindow);
}

TEST_F(WindowTest, RefusalsAndErrorsShowTheirBoxesAndTheWindowCarriesOn) {
  WorkingDirectory work;
  TempDir clean;
  WriteFile(clean.Path() / "engine.dll", "e");
  MessageBoxCatcher catcher;
  TForm1 form;

  Build(form, clean.Str());
  ASSERT_EQ(catcher.Boxes.size(), 1u);
  EXPECT_EQ(catcher.Boxes[0].Text, L"Teskor.exe not found in \"clean\" directory");
  EXPECT_FALSE(catcher.Boxes[0].HasIcon);

  // A virtual folder has no file-system path: the build says so.
  const HWND tree = form.Tree().Handle();
  HTREEITEM item = TreeItem(tree, TVGN_CHILD, TreeItem(tree, TVGN_ROOT));
  while (item && form.Tree().SelectedPath().rfind("::", 0) != 0) {
    SendMessageW(tree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(item));
    item = TreeItem(tree, TVGN_NEXT, item);
  }
  ASSERT_EQ(form.Tree().SelectedPath().rfind("::", 0), 0u);
  SendMessageW(form.Button1, BM_CLICK, 0, 0);
  EXPECT_FALSE(form.BuildRunning());
  ASSERT_EQ(catcher.Boxes.size(), 2u);
  EXPECT_FALSE(catcher.Boxes[1].HasIcon);
  EXPECT_EQ(catcher.Boxes[1].Text.rfind(L"The chosen item \"::{", 0), 0u) << catcher.Boxes[1].Text;
  EXPECT_NE(catcher.Boxes[1].Text.find(L"\" is not a folder on disk;"), std::wstring::npos);
  EXPECT_FALSE(std::filesystem::exists(work.Path() / "Upload" / "updates.lst"));

  // A file where the output folder belongs: the build is refused before it writes, in a plain
  // box that says what to do.
  WriteFile(clean.Path() / "Teskor.exe", "updater");
  std::filesystem::remove_all(work.Path() / "Upload");
  WriteFile(work.Path() / "Upload", "in the way");
  Build(form, clean.Str());
  ASSERT_EQ(catcher.Boxes.size(), 3u);
  EXPECT_EQ(catcher.Boxes[2].Caption, Widen(window::ApplicationName));
  EXPECT_FALSE(catcher.Boxes[2].HasIcon);
  EXPECT_NE(catcher.Boxes[2].Text.find(L"Upload\" is not a folder; move it away"),
            std::wstring::npos)
      << catcher.Boxes[2].Text;

  std::filesystem::remove(work.Path() / "Upload");
  Build(form, clean.Str());
  ASSERT_EQ(catcher.Boxes.size(), 4u);
  EXPECT_EQ(catcher.Boxes[3].Text, L"Done.2 files packed.");

  // More problems than a box holds: every one of them in the list box's lines.
  WriteFile(work.Path() / "settings.ini", "[main]\r\nCodePage=1252\r\n");
  for (int i = 10; i < 22; ++i)
    WriteFile(clean.Path() / (L"\u0434" + std::to_wstring(i) + L".txt"), "d");
  Build(form, clean.Str());
  ASSERT_EQ(catcher.Boxes.size(), 5u);
  EXPECT_EQ(catcher.Boxes[4].Text.rfind(L"The clean folder has 12 problems;", 0), 0u);
  const std::wstring& lines = catcher.Boxes[4].Lines;
  EXPECT_EQ(std::count(lines.begin(), lines.end(), L'\n'), 11) << lines;
  EXPECT_EQ(lines.rfind(L"\"\u043410.txt\": ", 0), 0u) << lines;
  EXPECT_NE(lines.find(L"\r\n\"\u043421.txt\": "), std::wstring::npos) << lines;
}

TEST_F(WindowTest, ClosingDuringABuildStopsItWithoutAsking) {
  WorkingDirectory work;
  TempDir clean;
  WriteFile(clean.Path() / "Teskor.exe", "updater");
  for (int i = 0; i < 20; ++i)
    WriteFile(clean.Path() / "data" / ("file" + std::to_string(i) + ".bin"),
              std::string(2000, 'x'));

  MessageBoxCatcher catcher;
  TForm1 form;
  ASSERT_TRUE(form.Tree().SelectPath(clean.Str()));
  HeldBuild held([&form] { return form.StopRequested(); });
  SendMessageW(form.Button1, BM_CLICK, 0, 0);
  ASSERT_TRUE(form.BuildRunning());
  held.WaitUntilHeld();
  SendMessageW(form.Handle(), WM_CLOSE, 0, 0);

  // The close waited for the build: it is over, nothing was asked, nothing was published, and
  // the message says so.
  EXPECT_FALSE(IsWindow(form.Handle()));
  EXPECT_FALSE(form.BuildRunning());
  ASSERT_EQ(catcher.Boxes.size(), 1u);
  EXPECT_NE(catcher.Boxes.front().Text.find(L"finished and kept aside"), std::wstring::npos)
      << catcher.Boxes.front().Text;
  EXPECT_FALSE(std::filesystem::exists(work.Path() / "Upload"));
  EXPECT_TRUE(std::filesystem::is_directory(work.Path() / "Upload.staging"));
}

TEST_F(WindowTest, PictureOfTheWindowIsAPngOfItsSize) {
  TempDir folder;
  TForm1 form;
  ShowWindow(form.Handle(), SW_SHOWNORMAL);
  UpdateWindow(form.Handle());
  const std::filesystem::path picture = folder.Path() / "window.png";
  SaveWindowPicture(form.Handle(), folder.Str() + "\\window.png");

  const auto files = FilesBelow(folder.Path());
  ASSERT_EQ(files.count("window.png"), 1u);
  const std::string& png = files.at("window.png");
  ASSERT_GT(png.size(), 57u);
  EXPECT_EQ(png.substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8));
  const auto bigEndian = [&png](std::size_t at) {
    return static_cast<std::uint32_t>(static_cast<unsigned char>(png[at])) << 24 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(png[at + 1])) << 16 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(png[at + 2])) << 8 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(png[at + 3]));
  };
  RECT frame{};
  GetWindowRect(form.Handle(), &frame);
  const std::uint32_t width = bigEndian(16), height = bigEndian(20);
  EXPECT_EQ(width, static_cast<std::uint32_t>(frame.right - frame.left));
  EXPECT_EQ(height, static_cast<std::uint32_t>(frame.bottom - frame.top));

  // The image data inflate to one filter byte and three bytes per pixel for every row, and the
  // picture is not one flat colour.
  const std::uint32_t dataSize = bigEndian(33);
  ASSERT_EQ(png.substr(37, 4), "IDAT");
  std::string pixels((width * 3 + 1) * height, '\0');
  uLongf size = static_cast<uLongf>(pixels.size());
  ASSERT_EQ(uncompress(reinterpret_cast<Bytef*>(pixels.data()), &size,
                       reinterpret_cast<const Bytef*>(png.data() + 41), dataSize),
            Z_OK);
  EXPECT_EQ(size, pixels.size());
  EXPECT_NE(pixels.find_first_not_of(pixels[1], 1), std::string::npos);
}

} // namespace
