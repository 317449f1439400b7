#pragma once
// Shared by the tree tests: the tree as indented text, and a host that
// records what the commands asked of the window.

#include <optional>
#include <string>
#include <vector>

#include "browser/db_tree.h"
#include "browser/tree_commands.h"

namespace migrator::testing {

// One line per node, depth-first: two blanks per level, the kind number and
// the text ("  1 shop"). Folders whose entries are not read yet end in "...".
inline std::string Dump(const DbTree& tree) {
  const auto nodes = tree.Nodes();
  std::string out;
  auto walk = [&](auto&& self, NodeId id, int depth) -> void {
    const TreeNode& n = nodes[id];
    out += std::string(depth * 2, ' ') + std::to_string(static_cast<int>(n.kind)) + " " + n.text +
           (n.listed ? "" : " ...") + "\n";
    for (NodeId c : n.children)
      self(self, c, depth + 1);
  };
  for (const TreeNode& n : nodes)
    if (n.id != kNoNode && n.parent == kNoNode) walk(walk, n.id, 0);
  return out;
}

// The first node of a kind with a text.
inline NodeId FindNode(const DbTree& tree, NodeKind kind, const std::string& text) {
  for (const TreeNode& n : tree.Nodes())
    if (n.id != kNoNode && n.kind == kind && n.text == text) return n.id;
  return kNoNode;
}

class RecordingHost : public TreeHost {
 public:
  std::optional<std::string> ChooseCharset(const std::string& current,
                                           const std::vector<CharsetChoice>& offeredSets) override {
    offered.push_back(current);
    choices = offeredSets;
    return charsetAnswer;
  }
  void OpenCondition(const std::string& database, const std::string& table) override {
    conditions.push_back(database + "." + table);
  }
  std::string StorageItemText() override { return storageItem; }
  void SetStorageItemText(const std::string& text) override { storageItem = text; }
  void BeginRename(NodeId node) override { renamed.push_back(node); }

  std::optional<std::string> charsetAnswer;
  std::vector<std::string> offered;
  std::vector<CharsetChoice> choices;
  std::vector<std::string> conditions;
  std::string storageItem = kStorageItemMyIsam;
  std::vector<NodeId> renamed;
};

}  // namespace migrator::testing
