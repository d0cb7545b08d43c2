#pragma once

// The folder tree: the shell namespace from the desktop down, folders only, with the shell's own
// icons. A folder's children are enumerated the first time it is opened.

#include <string>

#include <windows.h>

#include <shlobj.h>

namespace vornel::win32 {

class ShellFolderTree {
public:
  // Creates the tree view as child id of parent and shows the desktop opened.
  ShellFolderTree(HWND parent, int id);
  // Frees what the items hold (Clear must have run while the tree still existed).
  ~ShellFolderTree() = default;
  ShellFolderTree(const ShellFolderTree&) = delete;
  ShellFolderTree& operator=(const ShellFolderTree&) = delete;

  HWND Handle() const { return tree_; }

  // The parent forwards the tree's WM_NOTIFY here; the result is the message's result.
  LRESULT OnNotify(const NMHDR& header);

  // The selected folder's file-system path (a drive root keeps its "\"); for a virtual folder
  // its shell parsing name ("::{...}"), which no file lookup finds; empty with no selection.
  std::string SelectedPath() const;
  // Opens the tree down to the folder at path and selects it; false when the shell does not
  // know the path.
  bool SelectPath(const std::string& path);
  // Removes every item; the parent calls it before the tree goes, while it still routes the
  // tree's notifications here.
  void Clear();

private:
  HTREEITEM InsertItem(HTREEITEM parent, PIDLIST_ABSOLUTE pidl, const std::wstring& name,
                       bool hasChildren);
  // Enumerates the folder's children into the tree unless that was done before.
  void FillChildren(HTREEITEM item);
  void SelectItemUnderCursor();

  HWND tree_;
};

} // namespace vornel::win32
