#include "gui/FolderTree.h"

#include "app/WindowLayout.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QMouseEvent>
#include <QStandardPaths>

namespace vornel {

FolderTree::FolderTree(QWidget* parent) : QTreeView(parent), model_(new QFileSystemModel(this)) {
  // The tree is read when a build starts; it does not follow later changes on disk.
  model_->setOption(QFileSystemModel::DontWatchForChanges, true);
  model_->setIconProvider(&iconProvider_);
  model_->setFilter(QDir::Dirs | QDir::Drives | QDir::NoDotAndDotDot);
  model_->setRootPath(QDir::rootPath());
  setModel(model_);

  for (int column = 1; column < model_->columnCount(); ++column)
    hideColumn(column);
  setHeaderHidden(true);
  setIndentation(window::TreeIndent);
  setRootIsDecorated(false);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setDragDropMode(QAbstractItemView::NoDragDrop);
  // Long paths stay readable: the name column grows and the tree scrolls sideways.
  header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
  header()->setStretchLastSection(false);

  connect(model_, &QFileSystemModel::directoryLoaded, this, &FolderTree::ScrollToPendingReveal);
  connect(model_, &QFileSystemModel::layoutChanged, this, [this] { ScrollToPendingReveal({}); });
  // The start folder is shown open, as the top of what the operator usually picks from.
  const QString start = StartFolder();
  RevealPath(start);
  expand(model_->index(start));
}

std::string FolderTree::SelectedPath() const {
  const QModelIndexList rows = selectionModel()->selectedRows();
  if (rows.isEmpty())
    return {};
  return QFile::encodeName(model_->filePath(rows.first())).toStdString();
}

bool FolderTree::SelectPath(const QString& path) {
  const QModelIndex index = model_->index(path);
  if (!index.isValid())
    return false;
  RevealPath(path);
  setCurrentIndex(index);
  return true;
}

void FolderTree::RevealPath(const QString& path) {
  const QModelIndex target = model_->index(path);
  if (!target.isValid())
    return;
  for (QModelIndex ancestor = target.parent(); ancestor.isValid(); ancestor = ancestor.parent())
    expand(ancestor);
  scrollTo(target, QAbstractItemView::PositionAtTop);
  pendingReveal_ = model_->filePath(target);
  revealParentLoaded_ = false;
}

void FolderTree::ScrollToPendingReveal(const QString& loadedFolder) {
  // Folders load on a background thread and are sorted after that, which moves the rows; the
  // scroll is repeated until the folder holding the target has been loaded and sorted.
  if (pendingReveal_.isEmpty())
    return;
  const QModelIndex index = model_->index(pendingReveal_);
  if (index.isValid())
    scrollTo(index, QAbstractItemView::PositionAtTop);
  if (loadedFolder.isNull()) {
    if (revealParentLoaded_)
      pendingReveal_.clear();
  } else if (QFileInfo(pendingReveal_).path() == loadedFolder) {
    revealParentLoaded_ = true;
  }
}

void FolderTree::mousePressEvent(QMouseEvent* event) {
  // A right click selects the folder under the pointer, as a left click does.
  if (event->button() == Qt::RightButton) {
    const QModelIndex index = indexAt(event->position().toPoint());
    if (index.isValid())
      setCurrentIndex(index);
    event->accept();
    return;
  }
  QTreeView::mousePressEvent(event);
}

QString StartFolder() {
  const QString desktop = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
  if (!desktop.isEmpty() && QDir(desktop).exists() && QDir::cleanPath(desktop) != QDir::homePath())
    return desktop;
  return QDir::homePath();
}

} // namespace vornel
