#include "browser/tree_commands.h"

#include "adapters/excel/excel_adapter.h"
#include "adapters/excel/excel_automation.h"
#include "app/output.h"
#include "app/workspace.h"
#include "browser/charsets.h"
#include "browser/refresh_tree.h"
#include "oledb/operations.h"
#include "oledb/schema_reader.h"
#include "oledb/text_rows.h"
#include "platform/text.h"
#include "providers/workbook/tables.h"
#include "support/condition_file.h"
#include "workflows/connect.h"

namespace migrator {
namespace {

constexpr const char* kNoTargetDatabase = "No Database in TARGET Side be Selected!";
constexpr int kMaxSheetNameLength = 31;
constexpr const char* kSecondWarning =
    "After remove, you can not restore [%s] again! Continue?\nPress YES to Continue Removing!";

std::string TrimRight(std::string s) {
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
    s.pop_back();
  return s;
}

std::string TrimLeft(const std::string& s) {
  const auto first = s.find_first_not_of(" \t");
  return first == std::string::npos ? std::string() : s.substr(first);
}

// The two questions of a destructive database command: OK/Cancel, then the
// Yes/No warning with the exclamation icon. Only OK and Yes go on.
bool ConfirmRemoval(Frontend& ui, const char* question, const std::string& database) {
  if (ui.Ask(Format(question, database.c_str()), Buttons::OkCancel) != Answer::Ok) return false;
  return ui.Ask(Format(kSecondWarning, database.c_str()), Buttons::YesNo, Icon::Exclamation) ==
         Answer::Yes;
}

// The selected node when it is a database of the target tree, or the message.
std::optional<TreeNode> SelectedTargetDatabase(Workspace& ws, bool checkText) {
  auto node = ws.target.tree.SelectedNode();
  if (!node || node->kind != NodeKind::Database || (checkText && TrimRight(node->text).empty())) {
    ws.frontend().Tell(kNoTargetDatabase);
    return std::nullopt;
  }
  return node;
}

// The texts of the children of `database`'s folder of a kind, in tree order.
std::vector<std::string> FolderEntries(const DbTree& tree, const TreeNode& database,
                                       NodeKind folderKind) {
  std::vector<std::string> names;
  for (NodeId f : database.children) {
    auto folder = tree.Node(f);
    if (!folder || folder->kind != folderKind) continue;
    for (NodeId c : folder->children)
      if (auto child = tree.Node(c)) names.push_back(child->text);
  }
  return names;
}

void NewDatabase(Workspace& ws, DataSourceSide side) {
  if (side != DataSourceSide::Target) return;
  const std::string current = ws.target.tree.CurrentDatabase();
  const auto cut = current.find_last_of("/\\");
  const std::string folder = cut == std::string::npos ? std::string() : current.substr(0, cut + 1);
  if (ExcelAdapter::CreateDatabase(ws, folder, 0)) RefreshTree(ws, DataSourceSide::Target, 0);
}

// The character sets the server reports: name and description.
std::vector<std::pair<std::string, std::string>> ServerCharsets(oledb::SessionRef session) {
  std::vector<std::pair<std::string, std::string>> sets;
  oledb::ReadTextRows(session, "show character set", [&](const oledb::TextRow& row) {
    if (row.size() >= 2 && !row.IsNull(0))
      sets.emplace_back(row.Value(0), row.IsNull(1) ? std::string() : row.Value(1));
    return true;
  });
  return sets;
}

void ChangeCharset(Workspace& ws, DataSourceSide side, TreeHost& host) {
  SideConnection& sc = ws.Side(side);
  if (sc.tree.DbmsKindCode() != kMySql) return;
  const oledb::SessionRef session = sc.tree.SessionRef();
  const std::vector<CharsetChoice> choices = OfferedCharsets(ServerCharsets(session));
  const auto chosen = host.ChooseCharset(ws.Charset(), choices);
  if (!chosen) return;
  ws.SetCharset(*chosen);
  // Only names the dialog offered reach a statement.
  if (ChoiceIndex(choices, *chosen) >= 0) {
    Frontend& ui = ws.frontend();
    const char* name = chosen->c_str();
    oledb::ExecuteStatement(ui, session, Format("set character_set_client=%s;", name), 0);
    for (const char* variable : {"connection", "database", "results", "server"}) {
      oledb::RunStatementAndList(ui, session, Format("set character_set_%s=%s;", variable, name),
                                 0);
    }
  }
  RefreshTree(ws, side, 0);
}

void ToggleStorageEngine(Workspace& ws, DataSourceSide side, TreeHost& host) {
  DbTree& tree = ws.Side(side).tree;
  const std::string item = host.StorageItemText();
  const auto at = item.find("MyISAM");
  if (at != std::string::npos && at > 0) {
    host.SetStorageItemText(kStorageItemInnoDb);
    ws.frontend().Tell("Now Storage Engine of MySQL is InnoDB!");
    tree.SetStorageEngine("InnoDB");
  } else {
    host.SetStorageItemText(kStorageItemMyIsam);
    ws.frontend().Tell("Now Storage Engine of MySQL is MyISAM!");
    tree.SetStorageEngine("MyISAM");
  }
}

void DeleteDatabase(Workspace& ws, DataSourceSide side) {
  if (side != DataSourceSide::Target) return;
  auto node = SelectedTargetDatabase(ws, true);
  if (!node) return;
  const std::string name = TrimRight(node->text);
  if (!ConfirmRemoval(ws.frontend(), "Remove database [%s]?", name)) return;
  ExcelAdapter::DropDatabase(ws, node->text);
  RefreshTree(ws, DataSourceSide::Target, 0);
}

void ClearAllTables(Workspace& ws, DataSourceSide side) {
  if (side != DataSourceSide::Target) return;
  auto node = SelectedTargetDatabase(ws, true);
  if (!node) return;
  const std::string name = TrimRight(node->text);
  if (!ConfirmRemoval(ws.frontend(), "Remove all the tables of [%s]?", name)) return;
  DbTree& tree = ws.target.tree;
  if (tree.DbmsKindCode() == kExcel) {
    // A fresh empty workbook of the same name.
    ExcelAdapter::RecreateDatabase(ws, node->text);
    return;
  }
  for (const std::string& view : FolderEntries(tree, *node, NodeKind::ViewsFolder))
    ExcelAdapter::DropView(ws, view);
  for (const std::string& table : FolderEntries(tree, *node, NodeKind::TablesFolder))
    ExcelAdapter::DropTable(ws, node->text, table);
  RefreshTree(ws, DataSourceSide::Target, 0);
}

void ClearAllData(Workspace& ws, DataSourceSide side) {
  if (side != DataSourceSide::Target) return;
  auto node = SelectedTargetDatabase(ws, false);
  if (!node) return;
  if (!ConfirmRemoval(ws.frontend(), "Delete all the data of [%s]?", node->text)) return;
  // Only the current database has its folders: another one drops nothing.
  const auto tables = FolderEntries(ws.target.tree, *node, NodeKind::TablesFolder);
  if (tables.empty()) return;
  ExcelAdapter::DropTables(ws, node->text, tables);
}

void MigrationCondition(Workspace& ws, DataSourceSide side, TreeHost& host) {
  if (side != DataSourceSide::Source) return;
  DbTree& tree = ws.source.tree;
  if (tree.SideMarker() != static_cast<int>(DataSourceSide::Source)) return;
  auto node = tree.SelectedNode();
  if (!node || (node->kind != NodeKind::Table && node->kind != NodeKind::View)) return;
  auto database = tree.Ancestor(node->id, 2);
  host.OpenCondition(database ? database->text : std::string(), node->text);
}

// Drop Table, Drop View and Rename Table act on a node of their own kind
// only: after a rebuild the selection may be another node or none.
void DropTable(Workspace& ws, DataSourceSide side) {
  DbTree& tree = ws.Side(side).tree;
  auto node = tree.SelectedNode();
  if (!node || node->kind != NodeKind::Table) return;
  auto database = tree.Ancestor(node->id, 2);
  const std::uint64_t generation = tree.Generation();
  if (!ExcelAdapter::DropTable(ws, database ? database->text : std::string(), node->text)) return;
  // A sheet's node stays until the next refresh; elsewhere the node goes,
  // unless the tree was rebuilt meanwhile and the id names another node.
  if (tree.DbmsKindCode() != kExcel && tree.Generation() == generation) {
    tree.RemoveNode(node->id);
    ws.frontend().TreeChanged(side);
  }
}

void DropView(Workspace& ws, DataSourceSide side) {
  DbTree& tree = ws.Side(side).tree;
  auto node = tree.SelectedNode();
  if (!node || node->kind != NodeKind::View) return;
  if (ExcelAdapter::DropView(ws, node->text)) {
    tree.RemoveNode(node->id);
    ws.frontend().TreeChanged(side);
  }
}

void RenameTable(Workspace& ws, DataSourceSide side, TreeHost& host) {
  auto node = ws.Side(side).tree.SelectedNode();
  if (!node || node->kind != NodeKind::Table) return;
  host.BeginRename(node->id);
}

// The sheet and table names of the target workbook, bare.
std::vector<std::string> TargetTableNames(Workspace& ws) {
  std::vector<std::string> names;
  oledb::TablesReader tables;
  if (hr::Failed(tables.Open(&ws.target.session))) return names;
  while (tables.MoveNext() == hr::S_OK)
    names.push_back(excel::SheetNameOf(tables.record().tableName));
  return names;
}

}  // namespace

NodeMenuStates MenuStatesFor(DataSourceSide side, int dbmsKind, NodeKind kind) {
  const bool target = side == DataSourceSide::Target;
  NodeMenuStates s;
  switch (kind) {
    case NodeKind::Root:
      s.databases = true;
      s.items = {{kCmdNewDatabase, target},
                 {kCmdChangeCharset, dbmsKind == kMySql},
                 {kCmdStorageEngine, dbmsKind == kMySql}};
      break;
    case NodeKind::Database:
      s.database = true;
      s.items = {
          {kCmdDeleteDatabase, target}, {kCmdClearAllTables, target}, {kCmdClearAllData, target}};
      break;
    case NodeKind::Table:
    case NodeKind::View: {
      s.table = true;
      const bool table = kind == NodeKind::Table;
      s.items = {{kCmdMigrationCondition, !target},
                 {kCmdDropTable, target && table},
                 {kCmdDropView, target && !table},
                 {kCmdRenameTable, target && table}};
      break;
    }
    default:
      break;
  }
  return s;
}

std::vector<ContextMenuItem> ContextMenuFor(DataSourceSide side, int dbmsKind,
                                            const TreeNode& node) {
  const bool target = side == DataSourceSide::Target;
  if (TrimLeft(node.text).empty()) return {};
  switch (node.kind) {
    case NodeKind::Root: {
      std::vector<ContextMenuItem> items;
      if (target) items.push_back({kCmdNewDatabase, "New Database"});
      if (dbmsKind == kMySql) {
        items.push_back({kCmdChangeCharset, "Change Charset"});
        items.push_back({kCmdStorageEngine, "Storage Engines"});
      }
      return items;
    }
    case NodeKind::Database:
      if (!target) return {};
      return {{kCmdDeleteDatabase, "Delete Database"},
              {kCmdClearAllTables, "Clear all tables"},
              {kCmdClearAllData, "Clear all Data"}};
    case NodeKind::Table:
      if (!target) return {{kCmdMigrationCondition, "Migration Condition"}};
      return {{kCmdDropTable, "Drop Table " + node.text},
              {kCmdRenameTable, "Rename Table " + node.text}};
    case NodeKind::View:
      if (!target) return {{kCmdMigrationCondition, "Migration Condition"}};
      return {{kCmdDropView, "Drop View " + node.text}};
    default:
      return {};
  }
}

const char* TreeCommandName(int commandId) {
  switch (commandId) {
    case kCmdNewDatabase:
      return "New Database";
    case kCmdChangeCharset:
      return "Change Charset";
    case kCmdStorageEngine:
      return "Storage Engines";
    case kCmdDeleteDatabase:
      return "Delete Database";
    case kCmdClearAllTables:
      return "Clear all tables";
    case kCmdClearAllData:
      return "Clear all Data";
    case kCmdMigrationCondition:
      return "Migration Condition";
    case kCmdDropTable:
      return "Drop Table";
    case kCmdDropView:
      return "Drop View";
    case kCmdRenameTable:
      return "Rename Table";
    default:
      return "";
  }
}

void RunTreeCommand(Workspace& ws, DataSourceSide side, int commandId, TreeHost& host) {
  if (side != DataSourceSide::Source && side != DataSourceSide::Target) return;
  switch (commandId) {
    case kCmdNewDatabase:
      return NewDatabase(ws, side);
    case kCmdChangeCharset:
      return ChangeCharset(ws, side, host);
    case kCmdStorageEngine:
      return ToggleStorageEngine(ws, side, host);
    case kCmdDeleteDatabase:
      return DeleteDatabase(ws, side);
    case kCmdClearAllTables:
      return ClearAllTables(ws, side);
    case kCmdClearAllData:
      return ClearAllData(ws, side);
    case kCmdMigrationCondition:
      return MigrationCondition(ws, side, host);
    case kCmdDropTable:
      return DropTable(ws, side);
    case kCmdDropView:
      return DropView(ws, side);
    case kCmdRenameTable:
      return RenameTable(ws, side, host);
    default:
      return;
  }
}

bool FinishRename(Workspace& ws, const std::string& newName) {
  DbTree& tree = ws.target.tree;
  const bool committed = tree.RenameCommitted();
  tree.SetRenameCommitted(false);
  if (!committed) return false;
  auto node = tree.SelectedNode();
  if (!node || node->kind != NodeKind::Table || newName == node->text) return false;

  Frontend& ui = ws.frontend();
  if (TrimRight(TrimLeft(newName)).empty()) {
    ui.Tell("The table name can not be empty!", "Rename Table");
    return false;
  }
  if (newName.back() == '$') {
    ui.Tell(Format("The table name [%s] can not end with \"$\"!", newName.c_str()), "Rename Table");
    return false;
  }
  // The table is a sheet: its name must be one a sheet can have (blanks are
  // fine).
  if (newName.find_first_of(":\\/?*[]") != std::string::npos) {
    ui.Tell(Format("The table name [%s] can not hold any of : \\ / ? * [ ] (a sheet's name can "
                   "not)!",
                   newName.c_str()),
            "Rename Table");
    return false;
  }
  if (newName.front() == '\'' || newName.back() == '\'') {
    ui.Tell(Format("The table name [%s] can not begin or end with an apostrophe!", newName.c_str()),
            "Rename Table");
    return false;
  }
  if (Utf16Length(newName) > kMaxSheetNameLength) {
    ui.Tell(Format("The table name [%s] is longer than the %d characters of a sheet's name!",
                   newName.c_str(), kMaxSheetNameLength),
            "Rename Table");
    return false;
  }
  const std::string oldBare = excel::SheetNameOf(node->text);
  for (const std::string& taken : TargetTableNames(ws)) {
    // Only the case of the table's own name may change.
    if (EqualNoCase(taken, newName) && !EqualNoCase(taken, oldBare)) {
      ui.Tell(Format("Table [%s] already exists!", newName.c_str()), "Rename Table");
      return false;
    }
  }
  const std::uint64_t generation = tree.Generation();
  if (!ExcelAdapter::RenameTable(ws, node->text, newName)) return false;
  // Re-opening the target usually rebuilt the tree already; only a tree that
  // still holds the node is relabelled.
  if (tree.Generation() == generation) {
    tree.RenameNode(node->id, newName);
    ui.TreeChanged(DataSourceSide::Target);
  }
  return true;
}

void SwitchDatabase(Workspace& ws, DataSourceSide side, NodeId id) {
  if (side != DataSourceSide::Source && side != DataSourceSide::Target) return;
  SideConnection& sc = ws.Side(side);
  auto node = sc.tree.Node(id);
  if (!node || node->kind != NodeKind::Database) return;
  sc.tree.SetCurrentDatabase(node->text);
  WriteOutput(ws.frontend(), "Select Database [%s]", node->text.c_str());
  switch (sc.tree.DbmsKindCode()) {
    case kMySql:
      oledb::RunStatementAndList(ws.frontend(), sc.tree.SessionRef(), UseStatement(node->text), 0);
      RefreshTree(ws, side, 0);
      break;
    case kAccess:
    case kExcel: {
      const std::string catalog = IsJetProvider(sc.tree.ProviderId()) ? std::string() : node->text;
      sc.EditSettings([&](ConnectionSettings& s) { s.catalogName = catalog; });
      Connect(ws, side);
      break;
    }
    default:
      break;
  }
}

bool DropOnNode(Workspace& ws, DataSourceSide side, NodeId node, std::uint64_t generation) {
  if (side != DataSourceSide::Source && side != DataSourceSide::Target) return false;
  if (node == kNoNode || !ws.Side(side).tree.Select(node, generation)) return false;
  ws.frontend().PostCommand(kCmdMigrateDrop);
  return true;
}

std::string WorkbookTableTip(const std::string& text) {
  const std::string name = providers::workbook::DefinedNameForTable(text);
  if (name == text) return "Table " + text;
  return "Sheet \"" + text + "\": the table named " + name + " in SQL";
}

std::string ConditionTip(Workspace& ws, NodeId id) {
  DbTree& tree = ws.source.tree;
  auto node = tree.Node(id);
  if (!node || node->kind != NodeKind::Table) return {};
  auto database = tree.Ancestor(id, 2);
  const std::string condition =
      ConditionFile(ws.programDir()).Read(database ? database->text : std::string(), node->text);
  return condition.empty() ? std::string("Convert All") : "Condition : " + condition;
}

}  // namespace migrator
