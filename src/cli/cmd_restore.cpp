// migrator-cli restore: replays a backup directory (TABLES/*.tbl and
// DATA/*.data, as the backup writes them) into a workbook, which is made
// when it does not exist. Tables that already hold rows are refused unless
// --replace is given.

#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>

#include "adapters/excel/excel_adapter.h"
#include "cli/commands.h"
#include "cli/interrupts.h"
#include "cli/options.h"
#include "cli/task_runner.h"
#include "oledb/operations.h"
#include "workflows/restore.h"

namespace migrator::cli {
namespace {

void RestoreUsage(std::FILE* f) {
  std::fprintf(f,
               "Usage: migrator-cli restore [--quiet] [--replace] --from DIR --target FILE.xls\n"
               "                            [--table T]\n"
               "  DIR is a directory that holds TABLES and DATA: a workbook's directory of a\n"
               "  backup, or the directory a single table was backed up into. Every table\n"
               "  (or only T) is created from its .tbl file and filled from its .data file.\n"
               "  FILE.xls (or FILE.xlsx) is made when it does not exist, in the format its\n"
               "  name says. A table that already holds rows is not overwritten without\n"
               "  --replace (and then nothing changes).\n"
               "  Each table is restored whole or not at all: its old rows stay until the\n"
               "  new ones are saved. A data file that ends before its row count is not\n"
               "  restored. The first Ctrl-C (SIGINT) or SIGTERM stops after the current\n"
               "  row and leaves the table under way as it was; a second one ends at once.\n"
               "  Exit code: 0 every table arrived whole, 1 a table did not (it is left as\n"
               "  it was), 2 wrong arguments, 3 nothing was changed (the workbook did not\n"
               "  open, or tables hold rows and --replace was not given), 4 stopped by\n"
               "  SIGINT or SIGTERM.\n");
  std::fputs(kWorkbookLockUsage, f);
}

struct RestoreArgs {
  std::string from;
  std::string target;
  RestoreOptions options;
  bool quiet = false;
};

std::optional<RestoreArgs> ParseArgs(const Args& args) {
  RestoreArgs out;
  std::optional<std::string> from, target;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--from") {
      if (!TakeValue(args, i, from)) return std::nullopt;
    } else if (a == "--target") {
      if (!TakeValue(args, i, target)) return std::nullopt;
    } else if (a == "--table") {
      if (!TakeValue(args, i, out.options.table)) return std::nullopt;
    } else if (a == "--replace") {
      out.options.replace = true;
    } else if (a == "--quiet" || a == "-q") {
      out.quiet = true;
    } else {
      return std::nullopt;
    }
  }
  if (!from || from->empty() || !target || target->empty()) return std::nullopt;
  out.from = *from;
  out.target = *target;
  return out;
}

}  // namespace

int RunRestore(const Args& args) {
  if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
    RestoreUsage(stdout);
    return kExitSucceeded;
  }
  const auto parsed = ParseArgs(args);
  if (!parsed) {
    RestoreUsage(stderr);
    return kExitUsage;
  }
  TaskRunner runner("restore", false, parsed->quiet);
  Workspace& ws = runner.workspace();
  if (!IsBackupDirectory(parsed->from)) {
    // Said before a workbook is made for it.
    RestoreBackup(runner.frontend(), nullptr, parsed->from);
    return kExitNotRun;
  }
  const std::string target = std::filesystem::absolute(parsed->target).lexically_normal().string();
  if (!std::filesystem::exists(target)) {
    if (!HasWorkbookExtension(target)) {
      runner.Complain("a new workbook's name must end in .xls or .xlsx");
      return kExitUsage;
    }
    if (!ExcelAdapter::CreateDatabase(ws, target, 1)) {
      runner.Complain("the workbook " + target + " could not be made");
      return kExitNotRun;
    }
  }
  if (!runner.ConnectTarget(target)) return kExitNotRun;
  // The first SIGINT or SIGTERM ends the restore between two rows; the table
  // under way stays as it was.
  const StopOnSignals signals;
  RestoreOptions options = parsed->options;
  options.stopRequested = [&signals] { return signals.Requested(); };
  const RestoreOutcome outcome =
      RestoreBackup(runner.frontend(), &ws.target.session, parsed->from, options);
  // The rows are saved now; a save that fails is a failed restore.
  const bool saved =
      oledb::CloseConnection(runner.frontend(), ws.target.session, ws.target.dataSource);
  if (outcome == RestoreOutcome::Refused) {
    runner.Complain("tables that hold rows are not overwritten without --replace; nothing changed");
    return kExitNotRun;
  }
  if (outcome == RestoreOutcome::Restored && saved) return kExitSucceeded;
  if (signals.Requested()) {
    runner.Complain(std::string("stopped by ") + signals.SignalName() +
                    "; the tables named above as not restored are as they were: run the same "
                    "command again (with --replace for the tables restored whole) to restore "
                    "them");
    return kExitStopped;
  }
  return kExitFailed;
}

}  // namespace migrator::cli
