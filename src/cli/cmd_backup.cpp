// migrator-cli backup: saves a workbook's tables (or views, or one table) as
// backup files. It builds the task the window's Backup command builds from
// the target tree's selection, with the directory given instead of the
// folder chooser, and runs it through the controller; the output lines go to
// standard error and the task's outcome is the exit code.

#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>

#include "cli/commands.h"
#include "cli/options.h"
#include "cli/task_runner.h"
#include "platform/text.h"
#include "workflows/backup.h"

namespace migrator::cli {
namespace {

void BackupUsage(std::FILE* f) {
  std::fprintf(f,
               "Usage: migrator-cli backup [--quiet] --target FILE.xls|FILE.xlsx --to DIR\n"
               "                           [--table T | --tables | --views]\n"
               "  Without --table, --tables or --views the workbook's tables and views go to\n"
               "  DIR/<workbook name>/TABLES, DATA and VIEWS; --tables and --views take one of\n"
               "  the two. --table T writes DIR/TABLES/T.tbl and DIR/DATA/T.data.\n"
               "  DIR is made when missing (its parent must exist); \"/\" means /Backup.Script.\n"
               "  Files are written under temporary names and moved into place only for the\n"
               "  tables written whole, so an earlier backup in DIR stays whole until then.\n"
               "  What is in the way and was not made by a backup (a file named like one of\n"
               "  its directories, a symbolic link) is left alone and that object not written.\n"
               "  A sheet filled by hand is saved as a table named after the sheet. The first\n"
               "  Ctrl-C (SIGINT) or SIGTERM stops after the current row; a second ends at once.\n"
               "  Exit code: 0 every object was written whole, 1 the task failed (a file could\n"
               "  not be written, a table could not be read), 2 wrong arguments, 3 nothing ran\n"
               "  (the workbook did not open, DIR cannot be used), 4 stopped by SIGINT or\n"
               "  SIGTERM.\n");
}

struct BackupArgs {
  std::string target;
  std::string to;
  ObjectScope objects;  // the whole workbook by default
  bool quiet = false;
};

std::optional<BackupArgs> ParseArgs(const Args& args) {
  BackupArgs out;
  std::optional<std::string> target, to;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    bool bad = false;
    if (TakeScopeOption(args, i, out.objects, bad)) {
      if (bad) return std::nullopt;
    } else if (a == "--target") {
      if (!TakeValue(args, i, target)) return std::nullopt;
    } else if (a == "--to") {
      if (!TakeValue(args, i, to)) return std::nullopt;
    } else if (a == "--quiet" || a == "-q") {
      out.quiet = true;
    } else {
      return std::nullopt;
    }
  }
  if (!target || target->empty() || !to || to->empty() || out.objects.given > 1)
    return std::nullopt;
  out.target = *target;
  out.to = *to;
  return out;
}

// The node of the target tree the arguments stand for. A table the tree does
// not show (a sheet entry, a name with a blank) hangs under the Tables folder.
TreeNode SelectedNode(const Workspace& ws, const BackupArgs& args) {
  const NodeKind kind = args.objects.scope == Scope::Tables  ? NodeKind::TablesFolder
                        : args.objects.scope == Scope::Views ? NodeKind::ViewsFolder
                                                             : NodeKind::Database;
  TreeNode chosen;
  chosen.kind = kind;
  chosen.text = ws.target.Settings().catalogName;
  NodeId tables = kNoNode;
  for (const auto& n : ws.target.tree.Nodes()) {
    if (n.id == kNoNode) continue;
    if (n.kind == NodeKind::TablesFolder) tables = n.id;
    if (args.objects.scope != Scope::Table && n.kind == kind) return n;
    if (args.objects.scope == Scope::Table && n.kind == NodeKind::Table &&
        n.text == *args.objects.table)
      return n;
  }
  if (args.objects.scope == Scope::Table) {
    chosen.kind = NodeKind::Table;
    chosen.text = *args.objects.table;
    chosen.parent = tables;
  }
  return chosen;
}

}  // namespace

int RunBackup(const Args& args) {
  if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
    BackupUsage(stdout);
    return kExitSucceeded;
  }
  const auto parsed = ParseArgs(args);
  if (!parsed) {
    BackupUsage(stderr);
    return kExitUsage;
  }
  TaskRunner runner("backup", false, parsed->quiet);
  if (!runner.ConnectTarget(parsed->target)) return kExitNotRun;
  runner.frontend().SetFolder(parsed->to);
  runner.SetStopHint("run the same command again to write the objects named as not written");
  const TreeNode node = SelectedNode(runner.workspace(), *parsed);
  return runner.Run([&](Workspace& ws) { return BackupCommand(ws, node); });
}

}  // namespace migrator::cli
