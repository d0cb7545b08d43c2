#include "gui/win32/ShellFolderTree.h"

#include "gui/win32/WideText.h"

#include <algorithm>
#include <commctrl.h>
#include <memory>
#include <shellapi.h>
#include <shlwapi.h>
#include <vector>

namespace vornel::win32 {

namespace {

// What each tree item carries: its absolute item list and whether its children are in.
struct FolderNode {
  PIDLIST_ABSOLUTE Pidl;
  bool Filled = false;
};

struct PidlDeleter {
  void operator()(ITEMIDLIST* pidl) const { ILFree(pidl); }
};
using UniquePidl = std::unique_ptr<ITEMIDLIST, PidlDeleter>;

template <typename T> struct ComRelease {
  void operator()(T* object) const { object->Release(); }
};
template <typename T> using ComPtr = std::unique_ptr<T, ComRelease<T>>;

FolderNode* NodeOf(HWND tree, HTREEITEM item) {
  TVITEMW data{};
  data.mask = TVIF_PARAM;
  data.hItem = item;
  if (!SendMessageW(tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&data)))
    return nullptr;
  return reinterpret_cast<FolderNode*>(data.lParam);
}

int IconIndex(PCIDLIST_ABSOLUTE pidl, UINT extra) {
  SHFILEINFOW info{};
  SHGetFileInfoW(reinterpret_cast<LPCWSTR>(pidl), 0, &info, sizeof info,
                 SHGFI_PIDL | SHGFI_SYSICONINDEX | SHGFI_SMALLICON | extra);
  return info.iIcon;
}

ComPtr<IShellFolder> DesktopFolder() {
  IShellFolder* desktop = nullptr;
  if (FAILED(SHGetDesktopFolder(&desktop)))
    return nullptr;
  return ComPtr<IShellFolder>(desktop);
}

ComPtr<IShellFolder> BindFolder(PCIDLIST_ABSOLUTE pidl) {
  ComPtr<IShellFolder> desktop = DesktopFolder();
  if (!desktop || ILIsEmpty(pidl))
    return desktop;
  IShellFolder* folder = nullptr;
  if (FAILED(desktop->BindToObject(pidl, nullptr, IID_IShellFolder,
                                   reinterpret_cast<void**>(&folder))))
    return nullptr;
  return ComPtr<IShellFolder>(folder);
}

struct ChildFolder {
  UniquePidl Relative;
  std::wstring Name;
  bool HasChildren;
};

// The folders directly inside folder, in the shell's own order.
std::vector<ChildFolder> ListChildFolders(IShellFolder& folder, HWND owner) {
  std::vector<ChildFolder> children;
  IEnumIDList* found = nullptr;
  if (folder.EnumObjects(owner, SHCONTF_FOLDERS, &found) != S_OK || found == nullptr)
    return children;
  ComPtr<IEnumIDList> enumeration(found);
  PITEMID_CHILD child = nullptr;
  while (enumeration->Next(1, &child, nullptr) == S_OK) {
    UniquePidl owned(child);
    SFGAOF attributes = SFGAO_FOLDER | SFGAO_HASSUBFOLDER | SFGAO_STREAM;
    PCUITEMID_CHILD one[] = {child};
    if (FAILED(folder.GetAttributesOf(1, one, &attributes)))
      continue;
    // Archives the shell browses like folders are files to a build.
    if ((attributes & SFGAO_FOLDER) == 0 || (attributes & SFGAO_STREAM) != 0)
      continue;
    STRRET name{};
    wchar_t text[MAX_PATH] = {};
    if (FAILED(folder.GetDisplayNameOf(child, SHGDN_INFOLDER, &name)) ||
        FAILED(StrRetToBufW(&name, child, text, MAX_PATH)))
      continue;
    children.push_back({std::move(owned), text, (attributes & SFGAO_HASSUBFOLDER) != 0});
  }
  std::sort(children.begin(), children.end(),
            [&folder](const ChildFolder& a, const ChildFolder& b) {
              const HRESULT order = folder.CompareIDs(0, a.Relative.get(), b.Relative.get());
              return SUCCEEDED(order) && static_cast<short>(HRESULT_CODE(order)) < 0;
            });
  return children;
}

} // namespace

ShellFolderTree::ShellFolderTree(HWND parent, int id)
    : tree_(CreateWindowExW(WS_EX_CLIENTEDGE, WC_TREEVIEWW, L"",
                            WS_CHILD | WS_VISIBLE | WS_TABSTOP | TVS_HASBUTTONS | TVS_HASLINES |
                                TVS_SHOWSELALWAYS | TVS_DISABLEDRAGDROP,
                            0, 0, 0, 0, parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                            GetModuleHandleW(nullptr), nullptr)) {
  SHFILEINFOW info{};
  const auto icons = reinterpret_cast<HIMAGELIST>(
      SHGetFileInfoW(L"C:\\", 0, &info, sizeof info, SHGFI_SYSICONINDEX | SHGFI_SMALLICON));
  SendMessageW(tree_, TVM_SETIMAGELIST, TVSIL_NORMAL, reinterpret_cast<LPARAM>(icons));

  PIDLIST_ABSOLUTE desktop = nullptr;
  if (FAILED(SHGetSpecialFolderLocation(nullptr, CSIDL_DESKTOP, &desktop)))
    return;
  SHFILEINFOW named{};
  SHGetFileInfoW(reinterpret_cast<LPCWSTR>(desktop), 0, &named, sizeof named,
                 SHGFI_PIDL | SHGFI_DISPLAYNAME);
  const HTREEITEM root = InsertItem(TVI_ROOT, desktop, named.szDisplayName, true);
  // Filled here: the parent routes the tree's notifications only once this constructor is done.
  FillChildren(root);
  SendMessageW(tree_, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(root));
}

void ShellFolderTree::Clear() {
  // Deleting the items hands every node back through TVN_DELETEITEM.
  if (IsWindow(tree_))
    SendMessageW(tree_, TVM_DELETEITEM, 0, reinterpret_cast<LPARAM>(TVI_ROOT));
}

HTREEITEM ShellFolderTree::InsertItem(HTREEITEM parent, PIDLIST_ABSOLUTE pidl,
                                      const std::wstring& name, bool hasChildren) {
  auto node = std::make_unique<FolderNode>(FolderNode{pidl});
  TVINSERTSTRUCTW insert{};
  insert.hParent = parent;
  insert.hInsertAfter = TVI_LAST;
  insert.item.mask = TVIF_TEXT | TVIF_PARAM | TVIF_CHILDREN | TVIF_IMAGE | TVIF_SELECTEDIMAGE;
  insert.item.pszText = const_cast<wchar_t*>(name.c_str());
  insert.item.cChildren = hasChildren ? 1 : 0;
  insert.item.iImage = IconIndex(pidl, 0);
  insert.item.iSelectedImage = IconIndex(pidl, SHGFI_OPENICON);
  insert.item.lParam = reinterpret_cast<LPARAM>(node.get());
  const auto item = reinterpret_cast<HTREEITEM>(
      SendMessageW(tree_, TVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&insert)));
  if (item == nullptr)
    ILFree(pidl);
  else
    node.release(); // the item owns it now; TVN_DELETEITEM frees it
  return item;
}

void ShellFolderTree::FillChildren(HTREEITEM item) {
  FolderNode* node = NodeOf(tree_, item);
  if (node == nullptr || node->Filled)
    return;
  node->Filled = true;
  std::vector<ChildFolder> children;
  if (ComPtr<IShellFolder> folder = BindFolder(node->Pidl))
    children = ListChildFolders(*folder, GetParent(tree_));
  for (ChildFolder& child : children) {
    PIDLIST_ABSOLUTE absolute = ILCombine(node->Pidl, child.Relative.get());
    if (absolute != nullptr)
      InsertItem(item, absolute, child.Name, child.HasChildren);
  }
  if (children.empty()) {
    // The shell guessed there were folders inside; drop the button that promised them.
    TVITEMW data{};
    data.mask = TVIF_CHILDREN;
    data.hItem = item;
    data.cChildren = 0;
    SendMessageW(tree_, TVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&data));
  }
}

void ShellFolderTree::SelectItemUnderCursor() {
  TVHITTESTINFO hit{};
  GetCursorPos(&hit.pt);
  ScreenToClient(tree_, &hit.pt);
  const auto item = reinterpret_cast<HTREEITEM>(
      SendMessageW(tree_, TVM_HITTEST, 0, reinterpret_cast<LPARAM>(&hit)));
  if (item != nullptr && (hit.flags & TVHT_ONITEM) != 0)
    SendMessageW(tree_, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(item));
}

LRESULT ShellFolderTree::OnNotify(const NMHDR& header) {
  switch (header.code) {
  case TVN_ITEMEXPANDINGW: {
    const auto& change = reinterpret_cast<const NMTREEVIEWW&>(header);
    if ((change.action & TVE_EXPAND) != 0)
      FillChildren(change.itemNew.hItem);
    return FALSE;
  }
  case TVN_DELETEITEMW: {
    const auto& change = reinterpret_cast<const NMTREEVIEWW&>(header);
    auto* node = reinterpret_cast<FolderNode*>(change.itemOld.lParam);
    if (node != nullptr) {
      ILFree(node->Pidl);
      delete node;
    }
    return 0;
  }
  case NM_RCLICK:
    SelectItemUnderCursor();
    return 0;
  default:
    return 0;
  }
}

std::string ShellFolderTree::SelectedPath() const {
  const auto item =
      reinterpret_cast<HTREEITEM>(SendMessageW(tree_, TVM_GETNEXTITEM, TVGN_CARET, 0));
  const FolderNode* node = item ? NodeOf(tree_, item) : nullptr;
  if (node == nullptr)
    return {};
  wchar_t path[MAX_PATH] = {};
  if (SHGetPathFromIDListW(node->Pidl, path))
    return Narrow(path);
  PWSTR parsing = nullptr;
  if (FAILED(SHGetNameFromIDList(node->Pidl, SIGDN_DESKTOPABSOLUTEPARSING, &parsing)))
    return {};
  std::string name = Narrow(parsing);
  CoTaskMemFree(parsing);
  return name;
}

bool ShellFolderTree::SelectPath(const std::string& path) {
  ComPtr<IShellFolder> desktop = DesktopFolder();
  if (!desktop)
    return false;
  std::wstring wide = Widen(path);
  PIDLIST_RELATIVE parsed = nullptr;
  if (FAILED(desktop->ParseDisplayName(nullptr, nullptr, wide.data(), nullptr, &parsed, nullptr)))
    return false;
  UniquePidl target(parsed);

  auto item = reinterpret_cast<HTREEITEM>(SendMessageW(tree_, TVM_GETNEXTITEM, TVGN_ROOT, 0));
  while (item != nullptr) {
    const FolderNode* node = NodeOf(tree_, item);
    if (node == nullptr)
      return false;
    if (ILIsEqual(node->Pidl, target.get())) {
      SendMessageW(tree_, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(item));
      SendMessageW(tree_, TVM_ENSUREVISIBLE, 0, reinterpret_cast<LPARAM>(item));
      return true;
    }
    // Step into the child on the way to the target, opening this folder first.
    SendMessageW(tree_, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(item));
    FillChildren(item);
    auto child = reinterpret_cast<HTREEITEM>(
        SendMessageW(tree_, TVM_GETNEXTITEM, TVGN_CHILD, reinterpret_cast<LPARAM>(item)));
    while (child != nullptr) {
      const FolderNode* candidate = NodeOf(tree_, child);
      if (candidate != nullptr && (ILIsEqual(candidate->Pidl, target.get()) ||
                                   ILIsParent(candidate->Pidl, target.get(), FALSE)))
        break;
      child = reinterpret_cast<HTREEITEM>(
          SendMessageW(tree_, TVM_GETNEXTITEM, TVGN_NEXT, reinterpret_cast<LPARAM>(child)));
    }
    item = child;
  }
  return false;
}

} // namespace vornel::win32
