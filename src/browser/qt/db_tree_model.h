#pragma once
// DbTreeModel: a Qt item model over one side's DbTree. It shows a copy of
// the tree's nodes taken at Reload (with the tree's generation, so that a
// node id handed back to the core is refused once the tree was rebuilt),
// reads a folder's fields or indexes when the view first opens it, gives each
// kind its image, shows the condition of a source table as its tooltip, lets
// a target table be renamed in place and carries dragged nodes.

#include <QAbstractItemModel>
#include <QIcon>
#include <cstdint>
#include <vector>

#include "app/frontend.h"
#include "browser/db_tree.h"

namespace migrator {
class Workspace;
}

namespace migrator::gui {

// The image of a node kind (16 x 16).
QIcon NodeIcon(NodeKind kind);

class DbTreeModel : public QAbstractItemModel {
  Q_OBJECT
 public:
  static constexpr const char* kMimeType = "application/x-migrator-tree-node";

  DbTreeModel(Workspace& ws, DataSourceSide side, QObject* parent = nullptr);

  // Takes a fresh copy of the tree.
  void Reload();

  DataSourceSide side() const { return side_; }
  std::uint64_t generation() const { return generation_; }
  // The node an index shows (kNoNode for the invisible root).
  NodeId NodeOf(const QModelIndex& index) const;
  const TreeNode* NodeAt(NodeId id) const;
  QModelIndex IndexOf(NodeId id) const;
  // The first top-level node (the root), or kNoNode.
  NodeId RootNode() const;
  // The node drawn with the drop highlight (kNoNode for none).
  void SetHighlight(NodeId id);
  NodeId highlight() const { return highlight_; }
  // A dragged node in mime data: its side, id and tree generation.
  struct Dragged {
    DataSourceSide side;
    NodeId id;
    std::uint64_t generation;
  };
  static bool ReadDragged(const QMimeData* data, Dragged& out);

  QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
  QModelIndex parent(const QModelIndex& index) const override;
  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  bool hasChildren(const QModelIndex& parent = {}) const override;
  bool canFetchMore(const QModelIndex& parent) const override;
  void fetchMore(const QModelIndex& parent) override;
  QVariant data(const QModelIndex& index, int role) const override;
  bool setData(const QModelIndex& index, const QVariant& value, int role) override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  QStringList mimeTypes() const override;
  QMimeData* mimeData(const QModelIndexList& indexes) const override;
  Qt::DropActions supportedDragActions() const override;
  Qt::DropActions supportedDropActions() const override;

 private:
  const std::vector<NodeId>& ChildrenOf(const QModelIndex& parent) const;
  int RowOf(NodeId id) const;

  Workspace& ws_;
  const DataSourceSide side_;
  std::vector<TreeNode> nodes_;
  std::vector<NodeId> top_;
  std::vector<int> rows_;  // each node's row under its parent
  std::uint64_t generation_ = 0;
  NodeId highlight_ = kNoNode;
};

}  // namespace migrator::gui
