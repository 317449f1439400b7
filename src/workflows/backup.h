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
// directory in the directory that is current when its task starts.
//
// Every file and directory name made from a database, table or view name
// goes through MakeSafeFileName, so no name leaves the backup directory.
// Within one backup two names never share a file: the second one gets "~2"
// (then "~3", ...). A name that had to change is reported in orange. The
// table's real name stays inside its files, which is what a restore reads.

#include <optional>
#include <set>
#include <string>

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

// The steps. Each reports through the frontend.
//
// The tables (views) of a database, into <root>/<database>. True when every
// one was written whole; a stop ends the loop after the current object.
bool BackupTablesOfDatabase(Workspace& ws, oledb::SessionRef session, const std::string& database);
bool BackupViewsOfDatabase(Workspace& ws, oledb::SessionRef session, const std::string& database);

// One table into dir/TABLES and dir/DATA: 1 when both files were written
// whole, -2 when its structure file or a directory could not be written, -1
// when its definition or rows were not backed up in full (unreadable, a data
// file that could not be written, a stop that cut them).
// Without names, the object's own name is claimed alone.
int BackupOneTable(Workspace& ws, oledb::SessionRef session, const std::string& database,
                   const std::string& table, const WorkingDirectory& dir,
                   BackupFileNames* names = nullptr);
// One view into dir/VIEWS: 1 when its file was written, -2 otherwise.
int BackupOneView(Workspace& ws, oledb::SessionRef session, const std::string& database,
                  const std::string& view, const WorkingDirectory& dir,
                  BackupFileNames* names = nullptr);

// The backup root: the chosen backup directory, or "backup" under the
// program's directory.
Result<WorkingDirectory> EnterBackupRoot(const Workspace& ws);

// The task functions: 513 (a database, its tables or its views) and 514 (one
// table or view). Each succeeds when every object it meant to write was
// written whole.
bool BackupDatabaseTask(TaskContext& ctx);
bool BackupObjectTask(TaskContext& ctx);

}  // namespace migrator
