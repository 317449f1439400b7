#pragma once
// Task and TaskList: the queued migrations and backups and the rows of the
// task list pane.
//
// Tasks are owned by the TaskList and reached only through it, by position
// (the window's commands) or by identity (the controller). Every access takes
// the list's own short lock, which is never held while anything else runs, so
// the window can move, delete and clear rows while a task function runs: the
// function works on copies of its names and writes its progress and outcome
// by identity, which is a no-op once the task is gone.

#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace migrator {

enum TaskKind : int { kMigrationTask = 256, kBackupTask = 512 };

enum TaskType : int {
  kCloneDatabase = 257,    // a source database into a new target database of the same name
  kMigrateDatabase = 258,  // a source database into the selected target database
  kMigrateTables = 259,    // the Tables folder of a source database
  kMigrateViews = 260,     // the Views folder of a source database
  kMigrateTable = 261,     // one source table
  kMigrateView = 262,      // one source view
  kBackupDatabase = 513,   // a target database, its tables or its views (mode A, T, V)
  kBackupObject = 514,     // one target table (T) or view (V)
};

enum TaskState : int { kTaskWaiting = 0, kTaskSucceeded = 1, kTaskFailed = 3 };

using TaskId = std::uint64_t;

// The row copy of the table a task is working on: the rows read so far of
// the rows its SELECT returns, and how fast they go. The last figures stay
// with the task after the copy ends.
struct RowProgress {
  std::string table;
  std::int64_t done = 0;
  std::int64_t expected = -1;  // -1: not known
  double rowsPerSecond = 0;
  bool active = false;  // the rows are being copied now
};

// How a migration writes its tables: the options of the configuration
// dialog and of migrator-cli migrate, all off by default. A task keeps the
// options in force when it was queued.
struct MigrationOptions {
  bool typed = false;            // "Keep column types": numbers, dates, booleans as such
  bool splitSheets = false;      // "Continue long tables on new sheets"
  bool filters = false;          // "Filter buttons on headers"
  bool replaceTables = false;    // "Overwrite the same-name table"
  bool replaceWorkbook = false;  // "Overwrite the same-name database"
  friend bool operator==(const MigrationOptions&, const MigrationOptions&) = default;
};

// The options in force as the summary of a migration names them ("Keep
// column types (--typed), ..."), or "none".
std::string MigrationOptionsText(const MigrationOptions& options);

struct Task {
  TaskId id = 0;                // identity of its own, unique within the list
  int state = kTaskWaiting;     // 0 waiting (also while running), 1 success, 3 failure
  std::int32_t startStamp = 0;  // creation time, then the time the controller started it
  int kind = kMigrationTask;
  int typeCode = 0;
  std::string mode;  // backup scope: "A", "T" or "V"
  std::string sourceDbms;
  std::string targetDbms;
  std::string sourceObject;
  std::string sourceDatabase;
  std::string targetObject;
  std::string targetDatabase;
  std::string directory;     // a backup's directory, as chosen when it was queued
  MigrationOptions options;  // a migration's options, as they were when it was queued
  std::string stateText = "Waiting";
  int progress = 0;
  RowProgress rows;
  bool hasBar = false;  // the row's progress bar exists (it is made at the first rebuild)
};

// Column titles of the task list pane, in order.
extern const char* const kTaskColumns[10];

// One row of the task list pane as drawn.
struct TaskRow {
  TaskId id = 0;
  std::string cells[10];
  int progress = 0;  // position of the row's progress bar
  RowProgress rows;
  int state = kTaskWaiting;
  bool working = false;  // started and not finished
};

class TaskList {
 public:
  // Appends a task (its id is assigned here) and returns its id.
  TaskId Append(Task task);

  std::size_t Size() const;
  bool Empty() const;
  std::vector<Task> Snapshot() const;
  std::optional<Task> Find(TaskId id) const;

  // Window commands on a row index; out-of-range indexes change nothing.
  // Move returns the row's new index (or the old one when it cannot move).
  int MoveUp(int index);
  int MoveDown(int index);
  bool Delete(int index);
  void Clear();

  // Controller side. Returns the first waiting task not in `skip`, if any.
  std::optional<Task> NextWaiting(const std::vector<TaskId>& skip) const;
  bool AnyWaiting() const;
  // Marks a task as started: stamp, progress 0, "Working".
  void MarkStarted(TaskId id, std::int32_t stamp);
  void SetProgress(TaskId id, int progress);
  void SetRowProgress(TaskId id, const RowProgress& rows);
  // Sets the outcome of the task; returns false when it is no longer listed.
  bool Finish(TaskId id, bool success);

  // The refresh counter of the pane: call on every timer tick with whether the
  // Task List tab is current; true means "rebuild now".
  bool Tick(bool taskTabCurrent);
  // The next tick that finds the tab current rebuilds at once.
  void ForceRefresh();

  // Rows for a rebuild. A task without a bar gets one; a bar made for a task
  // at 0 percent shows 5 and the task's progress becomes 5.
  std::vector<TaskRow> Rebuild();

 private:
  mutable std::mutex m_;
  std::vector<Task> tasks_;
  TaskId nextId_ = 1;
  int refreshCounter_ = 0;
};

}  // namespace migrator
