#pragma once
// Backup of the target side: the Backup command, the choice of the backup
// directory, the backup steps and the task functions that run them.
//
// A database (task 513) is written under the backup root, the chosen backup
// directory or "backup" in the program's directory:
//   <database>/TABLES/<table>.tbl   the table's CREATE TABLE text
//   <database>/DATA/<table>.data    its rows, one INSERT statement a line
//   <database>/VIEWS/<view>.vw      "create view ..." in lower case
// A single table or view (task 514) gets the same TABLES, DATA or VIEWS
// directory in the backup directory chosen when the task was queued (kept
// in the task, so commands that run in between change nothing).
//
// Every file and directory name made from a database, table or view name
// goes through MakeSafeFileName, so no name leaves the backup directory.
// Within one backup two names never share a file: the second one gets "~2"
// (then "~3", ...). A name that had to change is reported in orange. The
// table's real name stays inside its files, which is what a restore reads.
//
// The backup never removes, follows or writes through what it did not make:
// an entry in the place of one of its directories that is not a directory
// (a file, a symbolic link), or in the place of one of its files that is not
// a regular file, is left alone and that object is not written (in red).
// Files are written under temporary names and moved into place when the
// step ends, for the objects written whole only: a backup that is killed,
// stopped or fails leaves the files of the backup before it as they were.
//
// A sheet filled by hand (cells outside every table on it, see
// SheetsOutsideTables) is saved as a table named after the sheet ("_sheet"
// added when a table has that name), so a restore brings its rows back.

#include <optional>
#include <set>
#include <string>
#include <vector>

#include "app/workspace.h"
#include "oledb/slot.h"
#include "platform/result.h"
#include "platform/working_directory.h"
#include "tasks/controller.h"

namespace migrator {

// The backup root without a chosen directory, under the program's directory.
inline constexpr const char* kBackupDirectoryName = "backup";
// What the root of the file system turns into when chosen.
inline constexpr const char* kRootBackupDirectoryName = "Backup.Script";

// The Backup command (window thread): reads the target tree's selection,
// asks for the backup directory, queues one backup task and starts the
// controller if idle. Returns the task it queued, if any.
std::optional<TaskId> BackupCommand(Workspace& ws);
// The same for a given selection (the command line names its object). A
// node whose folder or database the tree does not hold belongs to the
// target's current database.
std::optional<TaskId> BackupCommand(Workspace& ws, const std::optional<TreeNode>& selected);

// Asks the person for the backup directory, enters it (creating it when
// missing) and stores it as the workspace's backup directory and current
// directory. The file system's root becomes "/Backup.Script". False when the
// person cancels or the directory cannot be used (reported in red).
bool ChooseBackupDirectory(Workspace& ws);

// A backup task as the command queues it: kind 512, "Waiting", the creation
// time and the target DBMS title. typeCode 513 (mode "A", "T" or "V") or 514
// (mode "T" or "V", object = the table or view).
Task MakeBackupTask(const Workspace& ws, int typeCode, std::string database, std::string object,
                    std::string mode);
// The task for a node of the target tree, by its kind: a database, its
// Tables or Views folder, a table, a view; none for any other kind.
std::optional<Task> BackupTaskForNode(const Workspace& ws, const TreeNode& node);

// The files of one backup step, written under temporary names beside their
// places ("." + name + ".~<pid><random>.tmp") and moved there by Commit.
// What was not committed is removed when the object goes; temporary files of
// a backup whose process is gone are removed by the next one.
class BackupFiles {
 public:
  explicit BackupFiles(Frontend& ui) : ui_(ui) {}
  ~BackupFiles();
  BackupFiles(const BackupFiles&) = delete;
  BackupFiles& operator=(const BackupFiles&) = delete;

  // A new, empty temporary file for `path`. Nothing (reported in red) when
  // something other than a regular file is at `path`, or the file cannot be
  // made.
  std::optional<std::string> Start(const std::string& path);
  // The files started since the last Keep or Drop (one object's): kept for
  // Commit, or removed now.
  void Keep();
  void Drop();
  // Moves the kept files into their places; false (reported) when one could
  // not be.
  bool Commit();

 private:
  struct Pending {
    std::string temp, path;
  };
  Frontend& ui_;
  std::vector<Pending> kept_, started_;
};

// The file names of one backup in one directory: each name made safe, with
// room for its extension and no final "." (which would make "name..tbl");
// a name already taken gets "~2", "~3", ...
class BackupFileNames {
 public:
  explicit BackupFileNames(Frontend& ui) : ui_(ui) {}
  // The file name (without extension) for an object's files.
  std::string Claim(const std::string& name);

 private:
  Frontend& ui_;
  std::set<std::string> taken_;
};

// What the objects of one backup step share: their file names, their
// pending files, and the sheets filled by hand (looked up once).
struct BackupStep {
  explicit BackupStep(Frontend& ui) : names(ui), files(ui) {}
  BackupFileNames names;
  BackupFiles files;
  std::optional<std::vector<std::string>> handMadeSheets;
};

// The steps. Each reports through the frontend.
//
// The tables (views) of a database, into <root>/<database> (the backup root
// of EnterBackupRoot when none is given). True when every one was written
// whole; a stop ends the loop after the current object, and names what was
// written and what not.
bool BackupTablesOfDatabase(Workspace& ws, oledb::SessionRef session, const std::string& database,
                            const std::optional<WorkingDirectory>& root = std::nullopt);
bool BackupViewsOfDatabase(Workspace& ws, oledb::SessionRef session, const std::string& database,
                           const std::optional<WorkingDirectory>& root = std::nullopt);

// One table into dir/TABLES and dir/DATA: 1 when both files were written
// whole, -2 when a file or directory of the backup could not be made or
// written, -1 when its definition or rows were not backed up in full
// (unreadable, a stop that cut them). Only a 1 leaves files: otherwise those
// of an earlier backup stay. Without a step, the object's own name is
// claimed alone and its files are moved into place before it returns.
int BackupOneTable(Workspace& ws, oledb::SessionRef session, const std::string& database,
                   const std::string& table, const WorkingDirectory& dir,
                   BackupStep* step = nullptr);
// One view into dir/VIEWS: 1 when its file was written, -2 otherwise.
int BackupOneView(Workspace& ws, oledb::SessionRef session, const std::string& database,
                  const std::string& view, const WorkingDirectory& dir, BackupStep* step = nullptr);

// The backup root: the chosen backup directory, or "backup" under the
// program's directory.
Result<WorkingDirectory> EnterBackupRoot(const Workspace& ws);

// The task functions: 513 (a database, its tables or its views) and 514 (one
// table or view). Each succeeds when every object it meant to write was
// written whole.
bool BackupDatabaseTask(TaskContext& ctx);
bool BackupObjectTask(TaskContext& ctx);

}  // namespace migrator
