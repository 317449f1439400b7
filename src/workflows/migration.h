#pragma once
// Migration: the Migrate command, which turns the two trees' selections into
// one queued task, and the conversion steps that the migration tasks run on
// the controller thread (all tables, all views, one table, one view).

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/workspace.h"
#include "browser/db_tree.h"
#include "oledb/slot.h"
#include "platform/result.h"
#include "platform/working_directory.h"
#include "tasks/task.h"

namespace migrator {

struct TaskContext;

// The directory "data_cache" beside the program, made when missing (a file
// of that name is replaced); the conversion steps write their scratch files
// there.
Result<WorkingDirectory> DataCacheDirectory(const Workspace& ws);
// Makes the data cache the workspace's current directory; false, with a red
// line, when it cannot be made.
bool EnterDataCache(Workspace& ws);

// A tree selection as the command reads it: the node's kind, its text and
// the name of its database (the node itself for a database, its parent for
// a folder, its grandparent for a table or a view, empty for a root).
struct MigrateSelection {
  NodeKind kind = NodeKind::Root;
  std::string name;
  std::string database;
};
std::optional<MigrateSelection> SelectionOf(const DbTree& tree);

// The Migrate command, from both trees' selections: without a target
// connection, or without a selection on either side, a hint and a message;
// otherwise "data_cache" becomes the current directory and the selections
// choose, after a confirmation, the task that is queued. Returns its id.
std::optional<TaskId> MigrateCommand(Workspace& ws);
std::optional<TaskId> MigrateCommand(Workspace& ws, const std::optional<MigrateSelection>& source,
                                     const std::optional<MigrateSelection>& target);

// The choice by the two node kinds with its confirmation: the task to queue,
// or nothing (Cancel, or a pair that makes none: the hint and message are
// shown, or for a database target the controller is started if idle).
std::optional<Task> ChooseMigrationTask(Workspace& ws, const MigrateSelection& source,
                                        const MigrateSelection& target);
// Appends a chosen task and starts the controller if idle.
TaskId QueueMigrationTask(Workspace& ws, Task task);

// What the conversion steps of one task share.
struct Conversion {
  Workspace& ws;
  oledb::SessionRef source;
  WorkingDirectory directory;         // where the scratch files go
  bool whole = true;                  // every table the steps took on arrived whole
  const TaskContext* task = nullptr;  // receives the row copy's progress, when set
  // For the summary at the end of the task.
  std::vector<std::string> arrived = {};                       // tables that arrived whole
  std::vector<std::pair<std::string, std::int64_t>> cut = {};  // values cut, by table
  bool stopped = false;                                        // a stop ended the steps
  std::vector<std::string> removed = {};                       // tables a stop cut, removed again
  std::vector<std::string> notReached = {};                    // tables a stop left untouched
  MigrationOptions options = {};                               // the task's options
  std::vector<std::string> leftAlone = {};    // tables the workbook had, not replaced
  std::vector<std::string> untouched = {};    // replacements a stop undid
  std::vector<std::string> failedWhole = {};  // replacements undone: not every row arrived
  std::vector<std::string> made = {};         // the tables the steps created on the target
  bool newWorkbook = false;                   // the target was made for them: every sheet is theirs
  // The next table's rows are saved by the save of the header formatting
  // that follows it (the workbook is written once), not when they arrive.
  bool saveWithHeads = false;
  std::vector<std::string> unsaved = {};  // tables whose rows wait for that save
};
// Says what the steps left to say (values cut, what a stop left) and returns
// whether every table arrived whole.
bool FinishConversion(const Conversion& c);

// The conversion steps. Tables and views are named to the source as they
// are, quoted; the target session is the target side's.
void ConvertAllTables(Conversion& c, const std::string& sourceDatabase,
                      const std::string& targetDatabase);
void ConvertAllViews(Conversion& c, const std::string& sourceDatabase);
// 1 after a successful CREATE (the rows then transferred), -1 when the
// CREATE failed or the table exists and is left alone, -2 when the scratch
// file did not open. A definition the source does not give is said with the
// source's words; a name the target changes (case, characters, length) in
// orange. A table a stop cuts is removed again, so that it can be migrated
// anew. The scratch files (owner-only) go once the table arrived whole.
// The task's options: typed cells take their column types from the source's
// columns; a table longer than a sheet goes on in "T (2)", "T (3)", ...; a
// table the workbook already has is left alone (never made from its column
// list instead) or, with leave, replaced in one transaction, so that the
// old table stays until the new one is whole and saved.
int ConvertOneTable(Conversion& c, const std::string& database, const std::string& table);
// After the header formatting: saves the rows of the tables that waited for
// its save when it did not take them (it failed, or formatted the file
// elsewhere); when they cannot be saved they did not arrive, and it says so.
void SaveHeldRows(Conversion& c);
// False when the scratch file did not open or the view's CREATE failed.
bool ConvertOneView(Conversion& c, const std::string& database, const std::string& view);

// The task functions of the migration types: 257 (clone a database into a
// new workbook), 258 (a database), 259 (its tables), 261 (one table), 260
// and 262 (views, which a workbook cannot hold). A migration task succeeds
// when its database was created and selected, every table it took on
// arrived whole and the header rows of the tables it made were formatted.
// With Auto Backup on, a workbook that exists is copied aside first.
bool CloneDatabaseTask(TaskContext& ctx);
bool MigrateDatabaseTask(TaskContext& ctx);
bool MigrateTablesTask(TaskContext& ctx);
bool MigrateTableTask(TaskContext& ctx);
bool MigrateViewsTask(TaskContext& ctx);

}  // namespace migrator
