#include "browser/db_tree.h"

#include <algorithm>
#include <functional>

#include "platform/text.h"

namespace migrator {

DbTree::DbTree(DataSourceSide side, int dbmsKind) : side_(side), marker_(static_cast<int>(side)) {
  conn_.dbmsKind = dbmsKind;
}

std::string_view WithoutXlsSuffix(std::string_view name) {
  constexpr std::string_view kXls = ".xls";
  if (name.size() >= kXls.size() && EqualNoCase(name.substr(name.size() - kXls.size()), kXls))
    name.remove_suffix(kXls.size());
  return name;
}

bool SameDatabase(std::string_view a, std::string_view b) {
  return EqualNoCase(WithoutXlsSuffix(a), WithoutXlsSuffix(b));
}

void DbTree::Attach(const Connection& c) {
  std::lock_guard lock(m_);
  conn_ = c;
  // The handed catalog is the database to show. A text that already names it
  // (a workbook path with its ".xls") is kept; another one, left over from an
  // earlier connection, is not.
  if (!SameDatabase(currentDatabase_, c.catalog)) currentDatabase_ = c.catalog;
  marker_.store(static_cast<int>(side_));
}

void DbTree::Detach() {
  std::lock_guard lock(m_);
  conn_.session = nullptr;
  conn_.dataSource = nullptr;
}

oledb::SessionRef DbTree::SessionRef() const {
  std::lock_guard lock(m_);
  return conn_.session;
}
const oledb::DataSourceSlot* DbTree::DataSourceRef() const {
  std::lock_guard lock(m_);
  return conn_.dataSource;
}
std::string DbTree::ProviderId() const {
  std::lock_guard lock(m_);
  return conn_.providerId;
}
int DbTree::DbmsKindCode() const {
  std::lock_guard lock(m_);
  return conn_.dbmsKind;
}
std::string DbTree::CurrentDatabase() const {
  std::lock_guard lock(m_);
  return currentDatabase_;
}
void DbTree::SetCurrentDatabase(std::string name) {
  std::lock_guard lock(m_);
  currentDatabase_ = std::move(name);
}
std::string DbTree::UserId() const {
  std::lock_guard lock(m_);
  return conn_.userId;
}
std::string DbTree::Password() const {
  std::lock_guard lock(m_);
  return conn_.password;
}
std::string DbTree::StorageEngine() const {
  std::lock_guard lock(m_);
  return storageEngine_;
}
void DbTree::SetStorageEngine(std::string engine) {
  std::lock_guard lock(m_);
  storageEngine_ = std::move(engine);
}

void DbTree::Replace(std::vector<TreeNode> nodes) {
  std::lock_guard lock(m_);
  const NodePath selected = PathOfLocked(selected_);
  nodes_ = std::move(nodes);
  ++generation_;
  selected_ = selected.empty() ? kNoNode : FindLocked(selected);
}

std::vector<TreeNode> DbTree::Nodes() const {
  std::lock_guard lock(m_);
  return nodes_;
}

std::vector<TreeNode> DbTree::Nodes(std::uint64_t& generation) const {
  std::lock_guard lock(m_);
  generation = generation_;
  return nodes_;
}

std::uint64_t DbTree::Generation() const {
  std::lock_guard lock(m_);
  return generation_;
}

std::optional<TreeNode> DbTree::Node(NodeId id) const {
  std::lock_guard lock(m_);
  if (!Valid(id)) return std::nullopt;
  return nodes_[id];
}

bool DbTree::AppendChildren(NodeId folder, std::uint64_t generation,
                            const std::vector<TreeNode>& kids) {
  std::lock_guard lock(m_);
  if (generation != generation_ || !Valid(folder) || nodes_[folder].listed) return false;
  for (const TreeNode& k : kids) {
    TreeNode n = k;
    n.id = static_cast<NodeId>(nodes_.size());
    n.parent = folder;
    n.children.clear();
    nodes_[folder].children.push_back(n.id);
    nodes_.push_back(std::move(n));
  }
  nodes_[folder].listed = true;
  return true;
}

NodePath DbTree::PathOfLocked(NodeId id) const {
  NodePath path;
  // A parent chain never loops in a tree the browser built; the bound keeps a
  // hand-made one from hanging.
  for (std::size_t guard = 0; Valid(id) && guard <= nodes_.size(); ++guard) {
    path.push_back({nodes_[id].kind, nodes_[id].text});
    id = nodes_[id].parent;
  }
  std::reverse(path.begin(), path.end());
  return path;
}

NodeId DbTree::FindLocked(const NodePath& path) const {
  NodeId at = kNoNode;
  for (const PathStep& step : path) {
    NodeId found = kNoNode;
    auto matches = [&](NodeId n) {
      return Valid(n) && nodes_[n].parent == at && nodes_[n].kind == step.kind &&
             nodes_[n].text == step.text;
    };
    if (at == kNoNode) {
      for (NodeId n = 0; n < static_cast<NodeId>(nodes_.size()) && found == kNoNode; ++n)
        if (matches(n)) found = n;
    } else {
      for (NodeId n : nodes_[at].children)
        if (matches(n)) {
          found = n;
          break;
        }
    }
    if (found == kNoNode) return kNoNode;
    at = found;
  }
  return at;
}

NodePath DbTree::PathOf(NodeId id) const {
  std::lock_guard lock(m_);
  return PathOfLocked(id);
}

NodeId DbTree::Find(const NodePath& path) const {
  std::lock_guard lock(m_);
  return path.empty() ? kNoNode : FindLocked(path);
}

NodeId DbTree::Selected() const {
  std::lock_guard lock(m_);
  return selected_;
}

bool DbTree::Select(NodeId id) {
  std::lock_guard lock(m_);
  if (id != kNoNode && !Valid(id)) {
    selected_ = kNoNode;
    return false;
  }
  selected_ = id;
  return true;
}

bool DbTree::Select(NodeId id, std::uint64_t generation) {
  std::lock_guard lock(m_);
  if (generation != generation_ || (id != kNoNode && !Valid(id))) {
    selected_ = kNoNode;
    return false;
  }
  selected_ = id;
  return true;
}

std::optional<TreeNode> DbTree::SelectedNode() const {
  std::lock_guard lock(m_);
  if (!Valid(selected_)) return std::nullopt;
  return nodes_[selected_];
}

NodeId DbTree::FolderLocked(NodeKind kind) const {
  for (const TreeNode& n : nodes_)
    if (n.id != kNoNode && n.kind == kind) return n.id;
  return kNoNode;
}

NodeId DbTree::TablesFolder() const {
  std::lock_guard lock(m_);
  return FolderLocked(NodeKind::TablesFolder);
}

NodeId DbTree::ViewsFolder() const {
  std::lock_guard lock(m_);
  return FolderLocked(NodeKind::ViewsFolder);
}

std::optional<TreeNode> DbTree::Ancestor(NodeId id, int levels) const {
  std::lock_guard lock(m_);
  for (int i = 0; i < levels; ++i) {
    if (!Valid(id)) return std::nullopt;
    id = nodes_[id].parent;
  }
  if (!Valid(id)) return std::nullopt;
  return nodes_[id];
}

void DbTree::RemoveNode(NodeId id) {
  std::lock_guard lock(m_);
  if (!Valid(id)) return;
  NodeId parent = nodes_[id].parent;
  if (parent >= 0) {
    auto& siblings = nodes_[parent].children;
    siblings.erase(std::remove(siblings.begin(), siblings.end(), id), siblings.end());
  }
  // Ids stay stable: removed nodes are kept as tombstones.
  std::function<void(NodeId)> drop = [&](NodeId n) {
    for (NodeId c : nodes_[n].children)
      drop(c);
    nodes_[n].children.clear();
    nodes_[n].id = kNoNode;
  };
  drop(id);
  if (selected_ >= 0 && nodes_[selected_].id == kNoNode) selected_ = kNoNode;
}

void DbTree::RenameNode(NodeId id, std::string text) {
  std::lock_guard lock(m_);
  if (!Valid(id)) return;
  nodes_[id].text = std::move(text);
}

}  // namespace migrator
