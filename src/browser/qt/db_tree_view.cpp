#include "browser/qt/db_tree_view.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QDrag>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeData>
#include <QPainter>
#include <QScrollBar>
#include <QStyledItemDelegate>
#include <QThread>
#include <type_traits>

#include "app/workspace.h"
#include "browser/qt/charset_dialog.h"
#include "browser/qt/db_tree_model.h"

namespace migrator::gui {
namespace {

// Runs f on o's thread and waits for its result.
template <class F>
auto OnThreadOf(QObject* o, F f) -> decltype(f()) {
  if (QThread::currentThread() == o->thread()) return f();
  if constexpr (std::is_void_v<decltype(f())>) {
    QMetaObject::invokeMethod(o, f, Qt::BlockingQueuedConnection);
  } else {
    decltype(f()) result{};
    QMetaObject::invokeMethod(
        o, [&] { result = f(); }, Qt::BlockingQueuedConnection);
    return result;
  }
}

// Takes a dragged tree node, as a copy or, with Shift held, a move;
// anything else is refused.
bool AcceptNode(QDropEvent* event) {
  DbTreeModel::Dragged dragged;
  if (!DbTreeModel::ReadDragged(event->mimeData(), dragged)) {
    event->ignore();
    return false;
  }
  event->setDropAction((event->modifiers() & Qt::ShiftModifier) ? Qt::MoveAction : Qt::CopyAction);
  event->accept();
  return true;
}

constexpr int kDropRightMargin = 70;  // beside a node's text the drop goes to the root
constexpr int kScrollEdge = 10;       // within this of an edge a drag scrolls

// Marks how a label edit ends: Enter commits the rename, Escape abandons it.
class RenameDelegate : public QStyledItemDelegate {
 public:
  RenameDelegate(DbTree& tree, QObject* parent) : QStyledItemDelegate(parent), tree_(tree) {}

 protected:
  bool eventFilter(QObject* editor, QEvent* event) override {
    if (event->type() == QEvent::KeyPress) {
      const int key = static_cast<QKeyEvent*>(event)->key();
      if (key == Qt::Key_Return || key == Qt::Key_Enter) tree_.SetRenameCommitted(true);
      if (key == Qt::Key_Escape) tree_.SetRenameCommitted(false);
    }
    return QStyledItemDelegate::eventFilter(editor, event);
  }

 private:
  DbTree& tree_;
};

}  // namespace

DbTreeView::DbTreeView(Workspace& ws, DataSourceSide side, QWidget* parent)
    : QTreeView(parent), ws_(ws), side_(side), model_(new DbTreeModel(ws, side, this)) {
  setModel(model_);
  setHeaderHidden(true);
  setRootIsDecorated(true);
  setUniformRowHeights(true);  // thousands of rows lay out at once
  setSelectionMode(QAbstractItemView::SingleSelection);
  setEditTriggers(QAbstractItemView::NoEditTriggers);  // renames start from the command
  setItemDelegate(new RenameDelegate(ws.Side(side).tree, this));
  setDragEnabled(true);
  setAcceptDrops(true);
  setDropIndicatorShown(false);  // the node under the cursor is highlighted instead
  setDragDropMode(QAbstractItemView::DragDrop);
  setDefaultDropAction(Qt::CopyAction);
  setAutoScroll(false);  // a drag scrolls by the edge rule below
  setMouseTracking(true);
}

void DbTreeView::ScheduleReload() {
  if (reloadPending_) return;
  reloadPending_ = true;
  QMetaObject::invokeMethod(
      this,
      [this] {
        if (reloadPending_) Reload();
      },
      Qt::QueuedConnection);
}

void DbTreeView::Reload() {
  reloadPending_ = false;
  // Folders the person opened stay open when they are still there.
  DbTree& tree = ws_.Side(side_).tree;
  std::vector<NodePath> open;
  std::vector<NodeId> stack;
  for (int r = 0; r < model_->rowCount(); ++r)
    stack.push_back(model_->NodeOf(model_->index(r, 0)));
  while (!stack.empty()) {
    const NodeId id = stack.back();
    stack.pop_back();
    const TreeNode* n = model_->NodeAt(id);
    if (!n || !isExpanded(model_->IndexOf(id))) continue;
    NodePath path;
    for (const TreeNode* at = n; at; at = model_->NodeAt(at->parent))
      path.insert(path.begin(), {at->kind, at->text});
    open.push_back(std::move(path));
    stack.insert(stack.end(), n->children.begin(), n->children.end());
  }

  model_->Reload();
  const auto nodes = tree.Nodes();
  for (const TreeNode& n : nodes)
    if (n.id != kNoNode && n.expanded) setExpanded(model_->IndexOf(n.id), true);
  for (const NodePath& path : open) {
    const NodeId id = tree.Find(path);
    if (id != kNoNode && model_->NodeAt(id)) setExpanded(model_->IndexOf(id), true);
  }
  const NodeId selected = tree.Selected();
  if (model_->NodeAt(selected)) {
    const QModelIndex i = model_->IndexOf(selected);
    selectionModel()->setCurrentIndex(i, QItemSelectionModel::ClearAndSelect);
    scrollTo(i);
  }
}

void DbTreeView::SelectNode(NodeId id) {
  const QModelIndex i = model_->IndexOf(id);
  if (i.isValid()) selectionModel()->setCurrentIndex(i, QItemSelectionModel::ClearAndSelect);
}

void DbTreeView::selectionChanged(const QItemSelection& selected,
                                  const QItemSelection& deselected) {
  QTreeView::selectionChanged(selected, deselected);
  DbTree& tree = ws_.Side(side_).tree;
  if (tree.Filling()) return;
  const QModelIndexList rows = selectionModel()->selectedIndexes();
  const NodeId id = rows.isEmpty() ? kNoNode : model_->NodeOf(rows.front());
  tree.Select(id, model_->generation());
  AnnounceSelection();
}

void DbTreeView::AnnounceSelection() {
  const TreeNode* n = model_->NodeAt(ws_.Side(side_).tree.Selected());
  emit NodeSelected(side_, n ? static_cast<int>(n->kind) : -1);
}

void DbTreeView::mousePressEvent(QMouseEvent* event) {
  QTreeView::mousePressEvent(event);
  // A click on the node that is already selected sets the menus too: the
  // other tree may have set them since.
  if (!ws_.Side(side_).tree.Filling()) AnnounceSelection();
}

void DbTreeView::RunCommand(int commandId) {
  auto work = [this, commandId] { RunTreeCommand(ws_, side_, commandId, *this); };
  if (runner_)
    runner_(QString::fromUtf8(TreeCommandName(commandId)), work);
  else
    work();
}

QMenu* DbTreeView::BuildContextMenu(NodeId node, QWidget* parent) {
  const TreeNode* n = model_->NodeAt(node);
  if (!n) return nullptr;
  const auto items = ContextMenuFor(side_, ws_.Side(side_).tree.DbmsKindCode(), *n);
  if (items.empty()) return nullptr;
  auto* menu = new QMenu(parent);
  for (const ContextMenuItem& item : items) {
    QAction* a = menu->addAction(QString::fromStdString(item.text));
    a->setData(item.id);
  }
  return menu;
}

void DbTreeView::contextMenuEvent(QContextMenuEvent* event) {
  // The node under the cursor, or the root in empty space, is selected.
  const QModelIndex at = indexAt(event->pos());
  const NodeId node = at.isValid() ? model_->NodeOf(at) : model_->RootNode();
  SelectNode(node);
  QMenu* menu = BuildContextMenu(node, this);
  if (!menu) return;
  QAction* chosen = menu->exec(event->globalPos());
  const int id = chosen ? chosen->data().toInt() : 0;
  menu->deleteLater();
  if (id) RunCommand(id);
}

void DbTreeView::mouseDoubleClickEvent(QMouseEvent* event) {
  const QModelIndex at = indexAt(event->pos());
  const TreeNode* n = model_->NodeAt(model_->NodeOf(at));
  if (n && n->kind == NodeKind::Database &&
      ws_.Side(side_).tree.Generation() == model_->generation()) {
    auto work = [this, id = n->id] { SwitchDatabase(ws_, side_, id); };
    if (runner_)
      runner_("Select Database", work);
    else
      work();
  }
  QTreeView::mouseDoubleClickEvent(event);
}

NodeId DbTreeView::DropHighlight() const {
  return model_->highlight();
}

NodeId DbTreeView::DropNodeAt(const QPoint& pos) const {
  const QModelIndex at = indexAt(pos);
  if (at.isValid() && pos.x() < viewport()->width() - kDropRightMargin) return model_->NodeOf(at);
  return model_->RootNode();
}

QPixmap DbTreeView::DragImage(NodeId node) const {
  const TreeNode* n = model_->NodeAt(node);
  if (!n) return {};
  const QString text = QString::fromStdString(n->text);
  const QFontMetrics fm(font());
  QPixmap image(20 + fm.horizontalAdvance(text) + 4, std::max(16, fm.height()) + 2);
  image.fill(Qt::transparent);
  QPainter p(&image);
  p.drawPixmap(1, 1, NodeIcon(n->kind).pixmap(16, 16));
  p.setPen(palette().color(QPalette::Text));
  p.drawText(QRect(20, 0, image.width() - 20, image.height()), Qt::AlignVCenter, text);
  return image;
}

void DbTreeView::startDrag(Qt::DropActions) {
  const QModelIndex current = currentIndex();
  const NodeId dragged = model_->NodeOf(current);
  if (!model_->NodeAt(dragged)) return;
  QMimeData* data = model_->mimeData({current});
  if (!data) return;
  model_->SetHighlight(dragged);

  auto* drag = new QDrag(this);
  drag->setMimeData(data);
  drag->setPixmap(DragImage(dragged));
  drag->setHotSpot(QPoint(8, 8));
  const Qt::DropAction result = drag->exec(Qt::CopyAction | Qt::MoveAction, Qt::CopyAction);
  if (result == Qt::MoveAction) {
    // A move takes the dragged node out of its tree.
    DbTree& tree = ws_.Side(side_).tree;
    if (tree.Generation() == model_->generation()) {
      tree.RemoveNode(dragged);
      ScheduleReload();
    }
  }
  model_->SetHighlight(kNoNode);
}

void DbTreeView::dragEnterEvent(QDragEnterEvent* event) {
  dragMoveEvent(event);
}

void DbTreeView::dragMoveEvent(QDragMoveEvent* event) {
  if (!AcceptNode(event)) return;
  const QPoint pos = event->position().toPoint();
  model_->SetHighlight(DropNodeAt(pos));
  // Near an edge the tree scrolls one line or column that way.
  const QRect r = viewport()->rect();
  if (pos.y() > r.bottom() - kScrollEdge)
    verticalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepAdd);
  else if (pos.y() < r.top() + kScrollEdge)
    verticalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepSub);
  if (pos.x() < r.left() + kScrollEdge)
    horizontalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepSub);
  else if (pos.x() > r.right() - kScrollEdge)
    horizontalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepAdd);
}

void DbTreeView::dragLeaveEvent(QDragLeaveEvent*) {
  model_->SetHighlight(kNoNode);
}

void DbTreeView::dropEvent(QDropEvent* event) {
  if (!AcceptNode(event)) return;
  NodeId target = model_->highlight();
  if (target == kNoNode) target = DropNodeAt(event->position().toPoint());
  model_->SetHighlight(kNoNode);
  SelectNode(target);
  DropOnNode(ws_, side_, target, model_->generation());
}

std::optional<std::string> DbTreeView::ChooseCharset(const std::string& current,
                                                     const std::vector<CharsetChoice>& choices) {
  return OnThreadOf(this, [&]() -> std::optional<std::string> {
    CharsetDialog dialog(current, choices, window());
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    return dialog.choice();
  });
}

void DbTreeView::OpenCondition(const std::string& database, const std::string& table) {
  OnThreadOf(this, [&] {
    if (openCondition_) openCondition_(database, table);
  });
}

std::string DbTreeView::StorageItemText() {
  return OnThreadOf(
      this, [&] { return storageAction_ ? storageAction_->text().toStdString() : storageText_; });
}

void DbTreeView::SetStorageItemText(const std::string& text) {
  OnThreadOf(this, [&] {
    storageText_ = text;
    if (storageAction_) storageAction_->setText(QString::fromStdString(text));
  });
}

void DbTreeView::BeginRename(NodeId node) {
  OnThreadOf(this, [&] {
    if (ws_.Side(side_).tree.Generation() != model_->generation()) return;
    const QModelIndex i = model_->IndexOf(node);
    if (!i.isValid()) return;
    ws_.Side(side_).tree.SetRenameCommitted(false);
    setCurrentIndex(i);
    edit(i);
  });
}

}  // namespace migrator::gui
