#include "browser/db_tree.h"

#include <algorithm>
#include <functional>

namespace migrator {

DbTree::DbTree(DataSourceSide side, int dbmsKind) : side_(side), marker_(static_cast<int>(side)) {
  conn_.dbmsKind = dbmsKind;
}

void DbTree::Attach(const Connection& c) {
  std::lock_guard lock(m_);
  conn_ = c;
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
  nodes_ = std::move(nodes);
  if (selected_ >= static_cast<NodeId>(nodes_.size())) selected_ = kNoNode;
}

std::vector<TreeNode> DbTree::Nodes() const {
  std::lock_guard lock(m_);
  return nodes_;
}

std::optional<TreeNode> DbTree::Node(NodeId id) const {
  std::lock_guard lock(m_);
  if (id < 0 || id >= static_cast<NodeId>(nodes_.size()) || nodes_[id].id == kNoNode)
    return std::nullopt;
  return nodes_[id];
}

NodeId DbTree::Selected() const {
  std::lock_guard lock(m_);
  return selected_;
}

void DbTree::Select(NodeId id) {
  std::lock_guard lock(m_);
  selected_ = id;
}

std::optional<TreeNode> DbTree::SelectedNode() const {
  return Node(Selected());
}

std::optional<TreeNode> DbTree::Ancestor(NodeId id, int levels) const {
  std::lock_guard lock(m_);
  for (int i = 0; i < levels; ++i) {
    if (id < 0 || id >= static_cast<NodeId>(nodes_.size())) return std::nullopt;
    id = nodes_[id].parent;
  }
  if (id < 0 || id >= static_cast<NodeId>(nodes_.size()) || nodes_[id].id == kNoNode)
    return std::nullopt;
  return nodes_[id];
}

void DbTree::RemoveNode(NodeId id) {
  std::lock_guard lock(m_);
  if (id < 0 || id >= static_cast<NodeId>(nodes_.size()) || nodes_[id].id == kNoNode) return;
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
  if (id < 0 || id >= static_cast<NodeId>(nodes_.size()) || nodes_[id].id == kNoNode) return;
  nodes_[id].text = std::move(text);
}

}  // namespace migrator
