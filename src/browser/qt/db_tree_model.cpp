#include "browser/qt/db_tree_model.h"

#include <QApplication>
#include <QDataStream>
#include <QIODevice>
#include <QMimeData>
#include <QPainter>
#include <QPainterPath>
#include <QPalette>
#include <array>

#include "app/workspace.h"
#include "browser/refresh_tree.h"
#include "browser/tree_commands.h"

namespace migrator::gui {
namespace {

QString Q(const std::string& s) {
  return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

void Folder(QPainter& p, QColor accent) {
  p.setPen(QColor(150, 110, 20));
  p.setBrush(QColor(240, 200, 90));
  p.drawRect(1, 4, 13, 10);
  p.drawRect(1, 2, 6, 2);
  p.setPen(Qt::NoPen);
  p.setBrush(accent);
  p.drawRect(9, 9, 6, 6);
}

void Grid(QPainter& p, QColor head) {
  p.setPen(QColor(60, 60, 60));
  p.setBrush(Qt::white);
  p.drawRect(1, 2, 13, 11);
  p.fillRect(2, 3, 12, 3, head);
  p.drawLine(1, 6, 14, 6);
  p.drawLine(1, 9, 14, 9);
  p.drawLine(6, 2, 6, 13);
}

QIcon Paint(NodeKind kind) {
  QPixmap pm(16, 16);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing, false);
  switch (kind) {
    case NodeKind::Root:  // a server
      p.setPen(QColor(40, 40, 40));
      p.setBrush(QColor(120, 140, 170));
      p.drawRect(3, 1, 9, 13);
      p.fillRect(5, 3, 5, 2, QColor(220, 230, 240));
      p.fillRect(5, 7, 5, 2, QColor(220, 230, 240));
      p.fillRect(10, 11, 1, 1, QColor(60, 220, 60));
      break;
    case NodeKind::Database: {  // a cylinder
      p.setRenderHint(QPainter::Antialiasing, true);
      p.setPen(QColor(30, 70, 120));
      p.setBrush(QColor(90, 150, 220));
      QPainterPath body;
      body.moveTo(2, 4);
      body.lineTo(2, 12);
      body.arcTo(2, 10, 12, 4, 180, 180);
      body.lineTo(14, 4);
      p.drawPath(body);
      p.setBrush(QColor(160, 200, 245));
      p.drawEllipse(QRectF(2, 2, 12, 4));
      break;
    }
    case NodeKind::Table:
      Grid(p, QColor(90, 150, 220));
      break;
    case NodeKind::TablesFolder:
      Folder(p, QColor(90, 150, 220));
      break;
    case NodeKind::Column:
      p.setPen(QColor(60, 60, 60));
      p.setBrush(Qt::white);
      p.drawRect(5, 1, 5, 13);
      p.fillRect(6, 2, 4, 3, QColor(90, 180, 90));
      break;
    case NodeKind::FieldsFolder:
      Folder(p, QColor(90, 180, 90));
      break;
    case NodeKind::Index:  // a key
      p.setRenderHint(QPainter::Antialiasing, true);
      p.setPen(QPen(QColor(150, 100, 0), 2));
      p.setBrush(Qt::NoBrush);
      p.drawEllipse(QRectF(2, 2, 6, 6));
      p.drawLine(7, 7, 13, 13);
      p.drawLine(11, 11, 13, 9);
      break;
    case NodeKind::IndexesFolder:
      Folder(p, QColor(200, 140, 20));
      break;
    case NodeKind::View:
      Grid(p, QColor(170, 90, 200));
      break;
    case NodeKind::ViewsFolder:
      Folder(p, QColor(170, 90, 200));
      break;
  }
  p.end();
  return QIcon(pm);
}

}  // namespace

QIcon NodeIcon(NodeKind kind) {
  static const std::array<QIcon, 10> icons = [] {
    std::array<QIcon, 10> all;
    for (int k = 0; k < 10; ++k)
      all[k] = Paint(static_cast<NodeKind>(k));
    return all;
  }();
  const int k = static_cast<int>(kind);
  return k >= 0 && k < 10 ? icons[k] : QIcon();
}

DbTreeModel::DbTreeModel(Workspace& ws, DataSourceSide side, QObject* parent)
    : QAbstractItemModel(parent), ws_(ws), side_(side) {}

void DbTreeModel::Reload() {
  beginResetModel();
  nodes_ = ws_.Side(side_).tree.Nodes(generation_);
  top_.clear();
  rows_.assign(nodes_.size(), 0);
  for (const TreeNode& n : nodes_) {
    if (n.id == kNoNode) continue;
    if (n.parent == kNoNode) {
      rows_[n.id] = static_cast<int>(top_.size());
      top_.push_back(n.id);
    }
    for (std::size_t r = 0; r < n.children.size(); ++r)
      rows_[n.children[r]] = static_cast<int>(r);
  }
  highlight_ = kNoNode;
  endResetModel();
}

NodeId DbTreeModel::NodeOf(const QModelIndex& index) const {
  return index.isValid() ? static_cast<NodeId>(index.internalId()) : kNoNode;
}

const TreeNode* DbTreeModel::NodeAt(NodeId id) const {
  if (id < 0 || id >= static_cast<NodeId>(nodes_.size()) || nodes_[id].id == kNoNode)
    return nullptr;
  return &nodes_[id];
}

QModelIndex DbTreeModel::IndexOf(NodeId id) const {
  if (!NodeAt(id)) return {};
  return createIndex(rows_[id], 0, static_cast<quintptr>(id));
}

NodeId DbTreeModel::RootNode() const {
  return top_.empty() ? kNoNode : top_.front();
}

void DbTreeModel::SetHighlight(NodeId id) {
  if (id == highlight_) return;
  const NodeId old = highlight_;
  highlight_ = id;
  for (NodeId n : {old, id}) {
    const QModelIndex i = IndexOf(n);
    if (i.isValid()) emit dataChanged(i, i, {Qt::BackgroundRole, Qt::ForegroundRole});
  }
}

const std::vector<NodeId>& DbTreeModel::ChildrenOf(const QModelIndex& parent) const {
  if (!parent.isValid()) return top_;
  static const std::vector<NodeId> kNone;
  const TreeNode* n = NodeAt(NodeOf(parent));
  return n ? n->children : kNone;
}

QModelIndex DbTreeModel::index(int row, int column, const QModelIndex& parent) const {
  const auto& kids = ChildrenOf(parent);
  if (column != 0 || row < 0 || row >= static_cast<int>(kids.size())) return {};
  return createIndex(row, 0, static_cast<quintptr>(kids[row]));
}

QModelIndex DbTreeModel::parent(const QModelIndex& index) const {
  const TreeNode* n = NodeAt(NodeOf(index));
  if (!n || n->parent == kNoNode) return {};
  return IndexOf(n->parent);
}

int DbTreeModel::rowCount(const QModelIndex& parent) const {
  return static_cast<int>(ChildrenOf(parent).size());
}

int DbTreeModel::columnCount(const QModelIndex&) const {
  return 1;
}

bool DbTreeModel::hasChildren(const QModelIndex& parent) const {
  if (!parent.isValid()) return !top_.empty();
  const TreeNode* n = NodeAt(NodeOf(parent));
  return n && (!n->children.empty() || !n->listed);
}

bool DbTreeModel::canFetchMore(const QModelIndex& parent) const {
  const TreeNode* n = NodeAt(NodeOf(parent));
  return n && !n->listed;
}

void DbTreeModel::fetchMore(const QModelIndex& parent) {
  const NodeId id = NodeOf(parent);
  if (!NodeAt(id) || nodes_[id].listed) return;
  nodes_[id].listed = true;  // asked once, whatever the answer
  if (!ListFolder(ws_, side_, id, generation_)) return;
  const auto folder = ws_.Side(side_).tree.Node(id);
  if (!folder || folder->children.empty()) return;
  std::vector<TreeNode> added;
  for (NodeId c : folder->children)
    if (auto child = ws_.Side(side_).tree.Node(c)) added.push_back(*child);
  beginInsertRows(parent, 0, static_cast<int>(added.size()) - 1);
  for (TreeNode& child : added) {
    const NodeId cid = child.id;
    if (cid >= static_cast<NodeId>(nodes_.size())) {
      nodes_.resize(cid + 1);
      rows_.resize(cid + 1, 0);
    }
    rows_[cid] = static_cast<int>(nodes_[id].children.size());
    nodes_[id].children.push_back(cid);
    nodes_[cid] = std::move(child);
  }
  endInsertRows();
}

QVariant DbTreeModel::data(const QModelIndex& index, int role) const {
  const TreeNode* n = NodeAt(NodeOf(index));
  if (!n) return {};
  switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole:
      return Q(n->text);
    case Qt::DecorationRole:
      return NodeIcon(n->kind);
    case Qt::ToolTipRole:
      if (side_ == DataSourceSide::Source && n->kind == NodeKind::Table &&
          generation_ == ws_.source.tree.Generation())
        return Q(ConditionTip(ws_, n->id));
      if (side_ == DataSourceSide::Target && n->kind == NodeKind::Table)
        return Q(WorkbookTableTip(n->text));
      return {};
    case Qt::BackgroundRole:
      if (n->id == highlight_) return QApplication::palette().brush(QPalette::Highlight);
      return {};
    case Qt::ForegroundRole:
      if (n->id == highlight_) return QApplication::palette().brush(QPalette::HighlightedText);
      return {};
    default:
      return {};
  }
}

bool DbTreeModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  const NodeId id = NodeOf(index);
  if (role != Qt::EditRole || side_ != DataSourceSide::Target || !NodeAt(id)) return false;
  // The rename acts on the tree's selection, which is this node.
  if (!ws_.target.tree.Select(id, generation_)) {
    ws_.target.tree.SetRenameCommitted(false);
    return false;
  }
  const std::string name = value.toString().toStdString();
  if (!FinishRename(ws_, name)) return false;
  nodes_[id].text = name;
  emit dataChanged(index, index, {Qt::DisplayRole, Qt::EditRole});
  return true;
}

Qt::ItemFlags DbTreeModel::flags(const QModelIndex& index) const {
  const TreeNode* n = NodeAt(NodeOf(index));
  if (!n) return Qt::ItemIsDropEnabled;
  Qt::ItemFlags f =
      Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemIsDragEnabled | Qt::ItemIsDropEnabled;
  if (side_ == DataSourceSide::Target && n->kind == NodeKind::Table) f |= Qt::ItemIsEditable;
  return f;
}

QStringList DbTreeModel::mimeTypes() const {
  return {kMimeType};
}

QMimeData* DbTreeModel::mimeData(const QModelIndexList& indexes) const {
  if (indexes.isEmpty() || !NodeAt(NodeOf(indexes.front()))) return nullptr;
  QByteArray bytes;
  QDataStream out(&bytes, QIODevice::WriteOnly);
  out << static_cast<qint32>(side_) << static_cast<qint32>(NodeOf(indexes.front()))
      << static_cast<quint64>(generation_);
  auto* data = new QMimeData;
  data->setData(kMimeType, bytes);
  return data;
}

bool DbTreeModel::ReadDragged(const QMimeData* data, Dragged& out) {
  if (!data || !data->hasFormat(kMimeType)) return false;
  QByteArray bytes = data->data(kMimeType);
  QDataStream in(&bytes, QIODevice::ReadOnly);
  qint32 side = -1, id = kNoNode;
  quint64 generation = 0;
  in >> side >> id >> generation;
  if (in.status() != QDataStream::Ok || (side != 0 && side != 1)) return false;
  out = {static_cast<DataSourceSide>(side), id, generation};
  return true;
}

Qt::DropActions DbTreeModel::supportedDragActions() const {
  return Qt::CopyAction | Qt::MoveAction;
}

Qt::DropActions DbTreeModel::supportedDropActions() const {
  return Qt::CopyAction | Qt::MoveAction;
}

}  // namespace migrator::gui
