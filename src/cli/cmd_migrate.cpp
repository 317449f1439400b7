// migrator-cli migrate: copies a MySQL database, its tables or one table into
// a workbook. It builds the task the window would build from its two tree
// selections and runs it through the controller; the output lines go to
// standard error and the task's outcome is the exit code.

#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>

#include "adapters/excel/excel_adapter.h"
#include "cli/commands.h"
#include "cli/options.h"
#include "cli/task_runner.h"
#include "config/config_file.h"
#include "platform/text.h"
#include "platform/workbook_guard.h"
#include "workflows/migration.h"

namespace migrator::cli {
namespace {

void MigrateUsage(std::FILE* f) {
  std::fprintf(f,
               "Usage: migrator-cli migrate [--yes] [--quiet] SOURCE --target FILE.xls|FILE.xlsx\n"
               "                            [--database D]\n"
               "                            [--table T | --tables | --views]\n%s"
               "  Without --table, --tables or --views the whole database goes: a workbook that\n"
               "  does not exist yet is made as its clone, an existing one receives its tables.\n"
               "  --table and --tables add to the workbook (made empty first when missing).\n"
               "  --database defaults to the database of the URL or of migrator.cfg.\n"
               "  --yes answers the confirmations; without it a terminal asks, a pipe refuses.\n"
               "  The first Ctrl-C (SIGINT) or SIGTERM stops after the current row: the tables\n"
               "  that arrived whole stay, the one under way is removed again, and the last\n"
               "  lines say what arrived and how to copy the rest; a second one ends at once.\n"
               "  Exit code: 0 every table arrived whole, 1 the task failed (a table was not\n"
               "  created, rows were refused, cut at the rows of a sheet (65,535 in .xls,\n"
               "  1,048,575 in .xlsx) or not read, or\n"
               "  values were cut at the 32,767 characters a cell holds), 2 wrong arguments,\n"
               "  3 nothing ran (no connection, not confirmed), 4 stopped by SIGINT or SIGTERM.\n",
               kSourceOptionsUsage);
  std::fputs(
      "  The workbook is never replaced: a missing one is made, in the format its\n"
      "  name says, only when no file of that\n"
      "  name, in any case, is there. Only the tables this migration makes get\n"
      "  formatted header rows. With AutoBackup=true in migrator.cfg an existing\n"
      "  workbook is first copied into the backup directory.\n",
      f);
  std::fputs(kWorkbookLockUsage, f);
}

struct MigrateArgs {
  SourceOptions source;
  std::string target;
  std::optional<std::string> database;
  ObjectScope objects;  // a whole database by default
  bool yes = false;
  bool quiet = false;
};

std::optional<MigrateArgs> ParseArgs(const Args& args) {
  MigrateArgs out;
  std::optional<std::string> target;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    bool bad = false;
    if (TakeSourceOption(args, i, out.source, bad) || TakeScopeOption(args, i, out.objects, bad)) {
      if (bad) return std::nullopt;
    } else if (a == "--target") {
      if (!TakeValue(args, i, target)) return std::nullopt;
    } else if (a == "--database") {
      if (!TakeValue(args, i, out.database)) return std::nullopt;
    } else if (a == "--yes" || a == "-y") {
      out.yes = true;
    } else if (a == "--quiet" || a == "-q") {
      out.quiet = true;
    } else {
      return std::nullopt;
    }
  }
  if (!target || target->empty() || out.objects.given > 1) return std::nullopt;
  out.target = *target;
  return out;
}

// The database name that stands for exactly this workbook: the path without
// its ".xls" where adding ".xls" back gives the path again ("shop" for
// "shop.xls"); otherwise the path itself ("Report.XLS", "a.xls.xls"), which
// the workbook operations take as it is.
std::string WorkbookDatabase(const std::string& path) {
  const std::string stem = path.substr(0, path.size() - 4);
  return path.compare(path.size() - 4, 4, ".xls") == 0 && !HasXlsExtension(stem) ? stem : path;
}

}  // namespace

int RunMigrate(const Args& args) {
  if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
    MigrateUsage(stdout);
    return kExitSucceeded;
  }
  const auto parsed = ParseArgs(args);
  if (!parsed) {
    MigrateUsage(stderr);
    return kExitUsage;
  }
  TaskRunner runner("migrate", parsed->yes, parsed->quiet);
  const std::string target = std::filesystem::absolute(parsed->target).lexically_normal().string();
  if (!HasWorkbookExtension(target)) {
    runner.Complain("the target must be a workbook file ending in .xls or .xlsx");
    return kExitUsage;
  }
  if (!runner.ConnectSource(parsed->source)) return kExitNotRun;
  Workspace& ws = runner.workspace();
  const std::string database = parsed->database.value_or(ws.source.Settings().catalogName);
  if (database.empty()) {
    runner.Complain("name the source database with --database or in the URL");
    return kExitUsage;
  }

  // The source tree's selection the arguments stand for.
  MigrateSelection source{NodeKind::Database, database, database};
  switch (parsed->objects.scope) {
    case Scope::Whole:
      break;
    case Scope::Tables:
      source = {NodeKind::TablesFolder, "Tables", database};
      break;
    case Scope::Views:
      source = {NodeKind::ViewsFolder, "Views", database};
      break;
    case Scope::Table:
      source = {NodeKind::Table, *parsed->objects.table, database};
      break;
  }
  runner.SetStopHint(parsed->objects.scope == Scope::Table
                         ? "run the same command again to copy [" + *parsed->objects.table + "]"
                         : "copy each table named above as removed or not reached with --table "
                           "NAME");
  const std::string workbook = WorkbookDatabase(target);
  const bool exists = std::filesystem::exists(target);
  // A workbook is made only where nothing of the name is: not over a file
  // whose name differs only in case, nor over a link.
  if (const std::string there = EntryNamedLike(target); !exists && !there.empty()) {
    runner.Complain("the workbook " + target + " does not exist, and " + there +
                    " is there already; it is left as it is. Name an existing workbook exactly, "
                    "or a new file.");
    return kExitNotRun;
  }
  ConfigForm options;
  ConfigFile(ws.programDir()).LoadOptions(options, runner.frontend());
  ws.SetAutoBackup(options.autoBackup);

  if (parsed->objects.scope == Scope::Whole && !exists) {
    // A clone: the task makes the workbook itself, so no target is open
    // before it; the new workbook is the one named, not one named after the
    // database beside it.
    runner.SetTargetWorkbook(target);
    return runner.Run([&](Workspace& w) -> std::optional<TaskId> {
      if (!EnterDataCache(w)) return std::nullopt;
      auto task = ChooseMigrationTask(w, source, {NodeKind::Root, target, ""});
      if (!task) return std::nullopt;
      task->targetDatabase = workbook;
      return QueueMigrationTask(w, std::move(*task));
    });
  }

  if (!exists && !ExcelAdapter::CreateDatabase(ws, workbook, 1)) {
    runner.Complain("the workbook " + target + " cannot be made");
    return kExitNotRun;
  }
  if (!runner.ConnectTarget(target)) return kExitNotRun;
  return runner.Run([&](Workspace& w) {
    return MigrateCommand(w, source, MigrateSelection{NodeKind::Database, workbook, workbook});
  });
}

}  // namespace migrator::cli
