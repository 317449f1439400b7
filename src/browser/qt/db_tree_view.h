#pragma once
// DbTreeView: one side's database tree in the window. It draws the tree's
// model, tells the window which node menus the selection enables, offers the
// context menus and runs their commands through the core, switches the
// database on a double click, renames target tables in place (Enter commits,
// Escape abandons) and carries nodes by drag and drop from one tree onto the
// other, where the drop posts the migration command.
//
// The window hands it what only the window has: the migration condition
// dialog and the storage-engine item of its menu.

#include <QAction>
#include <QPointer>
#include <QTreeView>
#include <functional>

#include "app/frontend.h"
#include "browser/tree_commands.h"

namespace migrator {
class Workspace;
}

namespace migrator::gui {

class DbTreeModel;

class DbTreeView : public QTreeView, public TreeHost {
  Q_OBJECT
 public:
  DbTreeView(Workspace& ws, DataSourceSide side, QWidget* parent = nullptr);

  DataSourceSide side() const { return side_; }
  DbTreeModel* treeModel() const { return model_; }

  // The tree changed in the core: the view takes a fresh copy soon (on the
  // window thread, outside any edit or event that is running). Reload does
  // it now.
  void ScheduleReload();
  void Reload();

  // A command of a context menu or of the window's node menus. It runs
  // through the runner when one is set (the window's command thread, so that
  // the window stays usable while a server or a workbook is worked on), here
  // otherwise. The TreeHost calls below may come from that thread: they do
  // their work on the window thread and wait for it.
  void RunCommand(int commandId);
  using Runner = std::function<void(const QString& label, std::function<void()> work)>;
  void SetRunner(Runner runner) { runner_ = std::move(runner); }

  // What the window provides. Without a storage action the item text is
  // kept here; without an opener the condition command does nothing.
  void SetStorageAction(QAction* action) { storageAction_ = action; }
  void SetConditionOpener(std::function<void(const std::string&, const std::string&)> open) {
    openCondition_ = std::move(open);
  }

  // The context menu of a node (the root when none), as it would be shown.
  QMenu* BuildContextMenu(NodeId node, QWidget* parent);
  // The highlighted node while something is dragged over this tree.
  NodeId DropHighlight() const;
  // The image a dragged node is shown with (its image and text), held at
  // (8, 8).
  QPixmap DragImage(NodeId node) const;

  // TreeHost
  std::optional<std::string> ChooseCharset(const std::string& current,
                                           const std::vector<CharsetChoice>& choices) override;
  void OpenCondition(const std::string& database, const std::string& table) override;
  std::string StorageItemText() override;
  void SetStorageItemText(const std::string& text) override;
  void BeginRename(NodeId node) override;

 signals:
  // The selection changed: the window enables its node menus by this kind
  // (std::nullopt-like -1 for no node).
  void NodeSelected(migrator::DataSourceSide side, int kind);

 protected:
  void contextMenuEvent(QContextMenuEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void startDrag(Qt::DropActions supportedActions) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dragMoveEvent(QDragMoveEvent* event) override;
  void dragLeaveEvent(QDragLeaveEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  void selectionChanged(const QItemSelection& selected, const QItemSelection& deselected) override;

 private:
  void SelectNode(NodeId id);
  void AnnounceSelection();
  // The node a drop at this point lands on: the node under it, or the root
  // beside a node's right edge and in empty space.
  NodeId DropNodeAt(const QPoint& pos) const;

  Workspace& ws_;
  const DataSourceSide side_;
  DbTreeModel* model_;
  bool reloadPending_ = false;
  Runner runner_;
  QPointer<QAction> storageAction_;
  std::string storageText_ = kStorageItemMyIsam;
  std::function<void(const std::string&, const std::string&)> openCondition_;
};

}  // namespace migrator::gui
