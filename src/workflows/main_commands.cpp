#include "workflows/main_commands.h"

#include <cstdio>

#include "adapters/excel/excel_adapter.h"
#include "app/output.h"
#include "browser/refresh_tree.h"
#include "platform/text.h"
#include "workflows/connect.h"

namespace migrator {
namespace {

constexpr const char* kNoSelectionHint =
    "Please select a table, tables, views or database on target Database Tree!";

// The two questions of a deletion: OK/Cancel, then the Yes/No warning.
bool Confirmed(Frontend& ui, const std::string& question, const std::string& warning) {
  if (ui.Ask(question, Buttons::OkCancel) != Answer::Ok) return false;
  return ui.Ask(warning, Buttons::YesNo) == Answer::Yes;
}

// Takes a node out of the tree after its object was deleted. Dropping a sheet
// reopens the workbook, which rebuilds the tree: the node is then found again
// by its path (a rebuilt tree no longer holds a dropped sheet at all).
void RemoveDeleted(DbTree& tree, const NodePath& path) {
  const NodeId id = tree.Find(path);
  if (id != kNoNode) tree.RemoveNode(id);
}

std::string DatabaseOf(const DbTree& tree, NodeId id, int levels) {
  auto node = tree.Ancestor(id, levels);
  return node ? node->text : std::string();
}

// The names below a folder, taken before anything is dropped: every drop may
// rebuild the tree and renumber its nodes.
std::vector<std::string> ChildNames(const DbTree& tree, const TreeNode& folder) {
  std::vector<std::string> names;
  for (NodeId c : folder.children)
    if (auto child = tree.Node(c)) names.push_back(child->text);
  return names;
}

}  // namespace

bool ControllerAllowsCommand(Workspace& ws) {
  Frontend& ui = ws.frontend();
  switch (ws.State()) {
    case ControllerState::Running:
      if (ui.Ask("Some Tasks is Processing, STOP ALL?", Buttons::OkCancel) == Answer::Ok)
        ws.TryStop();
      return false;
    case ControllerState::Stopping:
      ui.Tell("Some Tasks is Stopping, Please try again later!!!");
      return false;
    case ControllerState::Idle:
      break;
  }
  return true;
}

void ConnectCommand(Workspace& ws) {
  ConnectCommand(ws, DefaultConnectServices());
}

void ConnectCommand(Workspace& ws, const ConnectServices& services) {
  if (!ControllerAllowsCommand(ws)) return;
  Connect(ws, DataSourceSide::Source, services);
  Connect(ws, DataSourceSide::Target, services);
  ws.SetCharset("LATIN1");
}

int DeleteSelectedCommand(Workspace& ws) {
  if (!ControllerAllowsCommand(ws)) return 0;
  Frontend& ui = ws.frontend();
  if (!ws.target.Connected()) {
    ui.ShowHint("Press Config button, and get a successful target Connection!");
    ui.Tell("No Target DataSource Connection!", "Delete");
    return 0;
  }
  DbTree& tree = ws.target.tree;
  const auto node = tree.SelectedNode();
  const NodeKind kind = node ? node->kind : NodeKind::Column;
  int deleted = 0;

  switch (kind) {
    case NodeKind::Database: {
      const std::string& name = node->text;
      if (!Confirmed(ui, Format("Delete database [%s]?", name.c_str()),
                     Format("After remove, you can not restore [%s] again! Continue?\nPress YES "
                            "to Continue Removing!",
                            name.c_str())))
        return 0;
      WriteOutput(ui, "Remove Database [%s]!", name.c_str());
      const NodePath path = tree.PathOf(node->id);
      if (ExcelAdapter::DropDatabase(ws, name)) {
        RemoveDeleted(tree, path);
        tree.SetCurrentDatabase({});
        ++deleted;
      }
      break;
    }
    case NodeKind::Table: {
      const std::string database = DatabaseOf(tree, node->id, 2);
      const std::string question =
          Format("Delete the table [%s.%s]?", database.c_str(), node->text.c_str());
      if (!Confirmed(ui, question,
                     Format("After remove, you can not restore the table [%s.%s]! "
                            "Continue?\nPress YES to Continue Removing!",
                            database.c_str(), node->text.c_str())))
        return 0;
      WriteOutputText(ui, question);
      const NodePath path = tree.PathOf(node->id);
      if (ExcelAdapter::DropTable(ws, database, node->text)) {
        RemoveDeleted(tree, path);
        ++deleted;
      }
      break;
    }
    case NodeKind::TablesFolder: {
      const std::string database = DatabaseOf(tree, node->id, 1);
      const std::string question = Format("Delete all the tables of [%s]?", database.c_str());
      if (!Confirmed(ui, question,
                     Format("After remove, you can not restore [%s] again! Continue?\nPress YES "
                            "to Continue Removing!",
                            database.c_str())))
        return 0;
      WriteOutputText(ui, question);
      NodePath path = tree.PathOf(node->id);
      for (const std::string& table : ChildNames(tree, *node)) {
        if (!ExcelAdapter::DropTable(ws, database, table)) continue;
        path.push_back({NodeKind::Table, table});
        RemoveDeleted(tree, path);
        path.pop_back();
        ++deleted;
      }
      WriteOutput(ui, "[%d] tables removed!", deleted);
      break;
    }
    case NodeKind::View: {
      const std::string database = DatabaseOf(tree, node->id, 2);
      const std::string question =
          Format("Delete the view [%s.%s]?", database.c_str(), node->text.c_str());
      if (!Confirmed(ui, question,
                     Format("After remove, you can not restore the view [%s.%s] again! "
                            "Continue?\nPress YES to Continue Removing!",
                            database.c_str(), node->text.c_str())))
        return 0;
      WriteOutputText(ui, question);
      const NodePath path = tree.PathOf(node->id);
      if (ExcelAdapter::DropView(ws, node->text)) {
        RemoveDeleted(tree, path);
        ++deleted;
      }
      break;
    }
    case NodeKind::ViewsFolder: {
      const std::string database = DatabaseOf(tree, node->id, 1);
      const std::string question = Format("Delete all the views of [%s]?", database.c_str());
      if (!Confirmed(ui, question,
                     Format("After remove, you can not restore the views of [%s] again! "
                            "Continue?\nPress YES to Continue Removing!",
                            database.c_str())))
        return 0;
      WriteOutputText(ui, question);
      NodePath path = tree.PathOf(node->id);
      for (const std::string& view : ChildNames(tree, *node)) {
        if (!ExcelAdapter::DropView(ws, view)) continue;
        path.push_back({NodeKind::View, view});
        RemoveDeleted(tree, path);
        path.pop_back();
        ++deleted;
      }
      WriteOutput(ui, "[%d] views removed!", deleted);
      break;
    }
    default:
      ui.ShowHint(kNoSelectionHint);
      ui.Tell("No selected Object to delete!");
      return 0;
  }

  // The tree shows what is left. A sheet that failed to drop leaves the
  // workbook closed: it is opened again, which rebuilds the tree. A dropped
  // database stays closed (the configuration is asked for instead).
  if (ws.target.Connected())
    RefreshTree(ws, DataSourceSide::Target, 0);
  else if (kind != NodeKind::Database)
    Connect(ws, DataSourceSide::Target);
  else
    ui.TreeChanged(DataSourceSide::Target);
  return deleted;
}

std::string WorkingTasksText(const TaskList& tasks) {
  std::string text;
  int n = 0;
  for (const Task& t : tasks.Snapshot()) {
    ++n;
    if (t.state != kTaskWaiting || t.stateText != "Working") continue;
    char no[16];
    std::snprintf(no, sizeof no, "%02d", n);
    std::string line = no;
    line += t.kind == kBackupTask ? " BACKUP " : " MIGRATION ";
    if (t.kind == kBackupTask) {
      line += "[" + t.targetDatabase + "]";
      if (!t.targetObject.empty()) line += ".[" + t.targetObject + "]";
    } else {
      line += "[" + t.sourceDatabase + "]";
      if (!t.sourceObject.empty()) line += ".[" + t.sourceObject + "]";
      line += " -> [" + t.targetDatabase + "]";
    }
    text += line + "\n";
  }
  return text;
}

}  // namespace migrator
