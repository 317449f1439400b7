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
  std::fprintf(
      f,
      "Usage: migrator-cli migrate [--yes] [--quiet] SOURCE --target FILE.xls|FILE.xlsx\n"
      "                            [--database D] [--table T | --tables | --views]\n"
      "                            [--typed] [--split-sheets] [--filters]\n"
      "                            [--replace-tables] [--replace-workbook]\n%s"
      "  Without --table, --tables or --views the whole database goes: a workbook that\n"
      "  does not exist yet is made as its clone, an existing one receives its tables.\n"
      "  --table and --tables add to the workbook (made empty first when missing).\n"
      "  --database defaults to the database of the URL or of migrator.cfg.\n"
      "  --yes answers the confirmations; without it a terminal asks, a pipe refuses.\n"
      "  --typed keeps the column types: numbers, dates, times and booleans arrive as\n"
      "  such instead of as text (a value a cell would change, such as a BIGINT beyond\n"
      "  2^53 or a zero date, stays a text and is counted in an orange line).\n"
      "  --split-sheets continues a table longer than a sheet on further sheets,\n"
      "  T (2), T (3), ...; without it the rows beyond a sheet are left behind:\n"
      "    migrator-cli migrate --yes --split-sheets --source URL --table log --target b.xls\n"
      "  --filters puts filter buttons on the header row of each table it makes,\n"
      "  over the header and every row below it (also on the sheets T (2), ...).\n"
      "  --replace-tables replaces a table the workbook already has; the old table\n"
      "  stays until the new one is whole and saved. Without it such a table is left\n"
      "  as it is and the task fails.\n"
      "  --replace-workbook replaces an existing workbook by a new clone of the whole\n"
      "  database (after its Auto Backup copy): the clone is made beside it and takes\n"
      "  its place only when every table arrived. Without it the database's tables go\n"
      "  into the existing workbook. Example, a fresh clone over last week's:\n"
      "    migrator-cli migrate --yes --replace-workbook --source URL --target shop.xls\n"
      "  The window's check boxes for these options are not read: only these flags\n"
      "  count. Example, refreshing a workbook with typed cells:\n"
      "    migrator-cli migrate --yes --typed --replace-tables --source URL --target book.xls\n"
      "  The first Ctrl-C (SIGINT) or SIGTERM stops after the current row: the tables\n"
      "  that arrived whole stay, the one under way is removed again (or, replacing\n"
      "  one, left as it was), and the last lines say what arrived and how to copy the\n"
      "  rest; a second one ends at once.\n"
      "  Exit code: 0 every table arrived whole, 1 the task failed (a table was not\n"
      "  created or, existing, left alone, rows were refused, cut at the rows of a\n"
      "  sheet (65,535 in .xls, 1,048,575 in .xlsx) or not read, or values were cut\n"
      "  at the 32,767 characters a cell holds),\n"
      "  2 wrong arguments, 3 nothing ran (no connection, not confirmed), 4 stopped by\n"
      "  SIGINT or SIGTERM.\n",
      kSourceOptionsUsage);
  std::fputs(
      "  Without --replace-workbook the workbook is never replaced: a missing one is\n"
      "  made, in the format its name says, only when no file of that name, in any\n"
      "  case, is there. Only the tables this migration makes get formatted header\n"
      "  rows. With AutoBackup=true in migrator.cfg an existing workbook is first\n"
      "  copied into the backup directory.\n",
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
  MigrationOptions options;
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
    } else if (a == "--typed") {
      out.options.typed = true;
    } else if (a == "--split-sheets") {
      out.options.splitSheets = true;
    } else if (a == "--filters") {
      out.options.filters = true;
    } else if (a == "--replace-tables") {
      out.options.replaceTables = true;
    } else if (a == "--replace-workbook") {
      out.options.replaceWorkbook = true;
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
  ws.SetMigration(parsed->options);
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

  const bool replace = parsed->options.replaceWorkbook;
  if (replace && parsed->objects.scope != Scope::Whole) {
    runner.Complain(
        "--replace-workbook replaces a workbook by a whole database: drop --table, "
        "--tables and --views");
    return kExitUsage;
  }
  if (parsed->objects.scope == Scope::Whole && (!exists || replace)) {
    // A clone: the task makes the workbook itself (or replaces it), so no
    // target is open before it; the new workbook is the one named, not one
    // named after the database beside it.
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
