#pragma once
// DbTree: the model behind one side's database tree. It holds what the side's
// connection handed over (session and data source references, provider,
// current database, credentials), the side marker and the nodes. The window
// draws it; the core rebuilds it (RefreshTree) from either thread, so every
// member is reached through the tree's own lock.

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/frontend.h"
#include "oledb/slot.h"

namespace migrator {

// A node's kind is its image index.
enum class NodeKind : int {
  Root = 0,
  Database = 1,
  Table = 2,
  TablesFolder = 3,
  Column = 4,
  FieldsFolder = 5,
  Index = 6,
  IndexesFolder = 7,
  View = 8,
  ViewsFolder = 9,
};

using NodeId = int;
inline constexpr NodeId kNoNode = -1;

struct TreeNode {
  NodeId id = kNoNode;
  NodeKind kind = NodeKind::Root;
  std::string text;
  NodeId parent = kNoNode;
  std::vector<NodeId> children;
  bool expanded = false;
  // False for a "Fields" or "Indexes" folder whose entries have not been read
  // yet: they are listed when the folder is first opened.
  bool listed = true;
};

// What names a node across rebuilds: the kinds and texts from the top down
// (root, database, folder, table, ...).
struct PathStep {
  NodeKind kind;
  std::string text;
  friend bool operator==(const PathStep&, const PathStep&) = default;
};
using NodePath = std::vector<PathStep>;

// DBMS kinds, by their index in the configuration's kind list.
enum DbmsKind : int {
  kTextDataFile = 0,
  kMssql = 1,
  kMySql = 2,
  kSybase = 3,
  kAccess = 4,
  kExcel = 5,
  kOracle = 6,
  kSybaseIq = 7,
};

// A trailing ".xls" (any case) removed.
std::string_view WithoutXlsSuffix(std::string_view name);
// Two database texts name the same database: equal without regard to case
// once a trailing ".xls" is removed (a workbook's path and its database name).
bool SameDatabase(std::string_view a, std::string_view b);

class DbTree {
 public:
  DbTree(DataSourceSide side, int dbmsKind);

  // What Connect hands over on success.
  struct Connection {
    const oledb::SessionSlot* session = nullptr;
    const oledb::DataSourceSlot* dataSource = nullptr;
    std::string catalog;
    std::string providerId;
    int dbmsKind = kMySql;
    std::string userId;
    std::string password;
  };
  void Attach(const Connection& c);
  // Clears the references to the session and the data source.
  void Detach();

  DataSourceSide side() const { return side_; }
  // The side marker: 0 Source, 1 Target, -1 while the side is reconnected.
  int SideMarker() const { return marker_.load(); }
  void SetSideMarker(int m) { marker_.store(m); }

  oledb::SessionRef SessionRef() const;
  const oledb::DataSourceSlot* DataSourceRef() const;
  std::string ProviderId() const;
  int DbmsKindCode() const;
  std::string CurrentDatabase() const;
  void SetCurrentDatabase(std::string name);
  std::string UserId() const;
  std::string Password() const;
  std::string StorageEngine() const;
  void SetStorageEngine(std::string engine);
  bool RenameCommitted() const { return renameCommitted_.load(); }
  void SetRenameCommitted(bool v) { renameCommitted_.store(v); }
  bool Filling() const { return filling_.load(); }

  // Nodes. Replace() swaps in a whole new set (a rebuild) and starts a new
  // generation: the selection is found again by its path, or cleared, so an
  // id never silently names another node. Nodes() copies.
  void Replace(std::vector<TreeNode> nodes);
  std::vector<TreeNode> Nodes() const;
  // The nodes together with the generation they belong to.
  std::vector<TreeNode> Nodes(std::uint64_t& generation) const;
  std::uint64_t Generation() const;
  std::optional<TreeNode> Node(NodeId id) const;
  void SetFilling(bool f) { filling_.store(f); }

  // Adds entries under a folder of the current generation and marks it
  // listed; false (nothing added) when the generation has passed or the
  // folder is gone or already listed.
  bool AppendChildren(NodeId folder, std::uint64_t generation, const std::vector<TreeNode>& kids);

  NodePath PathOf(NodeId id) const;
  NodeId Find(const NodePath& path) const;

  // The selection (the window sets it; commands read it). An id that names
  // no node, or one of another generation, is refused: the selection is
  // cleared and the result is false. kNoNode clears it.
  NodeId Selected() const;
  bool Select(NodeId id);
  bool Select(NodeId id, std::uint64_t generation);
  std::optional<TreeNode> SelectedNode() const;
  // The folders of the database whose objects are shown ("Tables", "Views")
  // and that database's node (kNoNode when the folders sit at the top).
  NodeId TablesFolder() const;
  NodeId ViewsFolder() const;
  // The node `levels` steps above a node (1 = its parent), if any.
  std::optional<TreeNode> Ancestor(NodeId id, int levels) const;
  // Removes a node and its subtree.
  void RemoveNode(NodeId id);
  void RenameNode(NodeId id, std::string text);

 private:
  const DataSourceSide side_;
  std::atomic<int> marker_;
  std::atomic<bool> renameCommitted_{false};
  std::atomic<bool> filling_{false};
  mutable std::mutex m_;
  Connection conn_;
  std::string currentDatabase_;
  std::string storageEngine_ = "MyISAM";
  std::vector<TreeNode> nodes_;
  std::uint64_t generation_ = 0;
  NodeId selected_ = kNoNode;

  bool Valid(NodeId id) const {
    return id >= 0 && id < static_cast<NodeId>(nodes_.size()) && nodes_[id].id != kNoNode;
  }
  NodePath PathOfLocked(NodeId id) const;
  NodeId FindLocked(const NodePath& path) const;
  NodeId FolderLocked(NodeKind kind) const;
};

}  // namespace migrator
