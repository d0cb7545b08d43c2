#pragma once

// The folder tree: every local folder from "/" down, folders only, with the icon theme's icons.

#include <QFileIconProvider>
#include <QTreeView>
#include <string>

class QFileSystemModel;

namespace vornel {

class FolderTree : public QTreeView {
  Q_OBJECT

public:
  explicit FolderTree(QWidget* parent = nullptr);

  QFileSystemModel* FileSystemModel() const { return model_; }

  // Full path of the selected folder as the file system spells it; empty with no selection.
  std::string SelectedPath() const;
  // Selects the folder at path (and makes it visible); false when the tree does not hold it.
  bool SelectPath(const QString& path);
  // Opens the tree down to path and scrolls it into view without selecting it; the view follows
  // again as the folders on the way finish loading.
  void RevealPath(const QString& path);

protected:
  void mousePressEvent(QMouseEvent* event) override;

private:
  // loadedFolder is the folder that finished loading, or null after the model re-sorted.
  void ScrollToPendingReveal(const QString& loadedFolder);

  QFileSystemModel* model_;
  QString pendingReveal_;
  bool revealParentLoaded_ = false;
  QFileIconProvider iconProvider_;
};

// The folder the tree opens at: the user's desktop folder when there is one, else home.
QString StartFolder();

} // namespace vornel
