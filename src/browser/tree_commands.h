#pragma once
// The operations of the database trees: which node menus a selection
// enables, the context menu of a node, the context commands (New Database,
// Delete Database, Clear all tables, Clear all Data, Drop Table, Drop View,
// Rename Table, Migration Condition, Change Charset, Storage Engines), the
// database switch on a double click, the end of a drag and drop, and the
// condition tooltip of a source table. Each works on the Workspace and asks
// its questions through the Frontend; what only a window can do (the
// character-set dialog, the condition dialog, the menu item text, editing a
// label) it asks of a TreeHost.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/frontend.h"
#include "browser/charsets.h"
#include "browser/db_tree.h"

namespace migrator {

class Workspace;

// Command identifiers of the tree operations; the main window's node menus
// send the same ones.
enum TreeCommandId : int {
  kCmdDeleteDatabase = 32772,
  kCmdClearAllTables = 32773,
  kCmdChangeCharset = 32774,
  kCmdNewDatabase = 32775,
  kCmdMigrationCondition = 32776,
  kCmdDropTable = 32787,
  kCmdDropView = 32788,
  kCmdRenameTable = 32789,
  kCmdClearAllData = 32790,
  kCmdStorageEngine = 32794,
};
// Posted to the main window when a node is dropped on a tree: "Convert from
// source into target".
inline constexpr int kCmdMigrateDrop = 1035;

inline constexpr const char* kStorageItemMyIsam = "Change Storage Engine(MyISAM)";
inline constexpr const char* kStorageItemInnoDb = "Change Storage Engine(InnoDB)";

// The main window's three node menus ("D&atabases", "&Database", "&Table")
// for a selection: which menu is enabled and, within it, which items.
struct MenuItemState {
  int id;
  bool enabled;
};
struct NodeMenuStates {
  bool databases = false;
  bool database = false;
  bool table = false;
  std::vector<MenuItemState> items;  // the enabled menu's items
};
NodeMenuStates MenuStatesFor(DataSourceSide side, int dbmsKind, NodeKind kind);

// A node's context menu, trimmed for its tree; empty when it has none.
struct ContextMenuItem {
  int id;
  std::string text;
};
std::vector<ContextMenuItem> ContextMenuFor(DataSourceSide side, int dbmsKind,
                                            const TreeNode& node);

// What the commands need of the window.
class TreeHost {
 public:
  virtual ~TreeHost() = default;
  // The modal character-set dialog offering `choices`, opened with `current`
  // preselected: the chosen name after "Select", nothing after "Cancel".
  virtual std::optional<std::string> ChooseCharset(const std::string& current,
                                                   const std::vector<CharsetChoice>& choices) = 0;
  // The modal migration condition dialog of a source table.
  virtual void OpenCondition(const std::string& database, const std::string& table) = 0;
  // The text of the main menu's storage-engine item.
  virtual std::string StorageItemText() = 0;
  virtual void SetStorageItemText(const std::string& text) = 0;
  // Starts editing the label of a target tree node in place; the edit ends
  // in FinishRename.
  virtual void BeginRename(NodeId node) = 0;
};

// The menu text of a tree command ("Delete Database"), or "" for another id.
const char* TreeCommandName(int commandId);

// Runs a context command on a side's tree and its selected node. Commands
// meant for the other tree (or another DBMS kind) return without a word.
void RunTreeCommand(Workspace& ws, DataSourceSide side, int commandId, TreeHost& host);

// The end of an in-place rename on the target tree: with the rename mark set
// (Enter), the selected table is renamed to `newName`; without it (Escape),
// nothing happens. A name that is empty, ends in "$" or is taken is refused
// with a message. True when the node takes the new name. The mark is cleared.
bool FinishRename(Workspace& ws, const std::string& newName);

// A double click on a database node makes it the tree's current database.
void SwitchDatabase(Workspace& ws, DataSourceSide side, NodeId node);

// A drop on a tree: the node under the cursor (of the tree generation the
// window shows) becomes the selection and the migration command is posted.
// False, posting nothing, when the node is no longer in the tree.
bool DropOnNode(Workspace& ws, DataSourceSide side, NodeId node, std::uint64_t generation);

// The tooltip of a source tree node: "Condition : " and the stored
// condition, or "Convert All", over a table; empty over anything else.
std::string ConditionTip(Workspace& ws, NodeId node);

// The tooltip of a workbook table in the target tree, which shows a table
// under the name of its sheet when its own name differs ("order details",
// named "order_details"): which of the two the tree shows.
std::string WorkbookTableTip(const std::string& text);

}  // namespace migrator
