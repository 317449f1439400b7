#pragma once
// MainController: runs the queued tasks on a thread of its own. It wakes every
// period, takes the task lock for a whole pass and runs every waiting task in
// list order through the task function of its type code.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>

#include "oledb/slot.h"
#include "tasks/task.h"

namespace migrator {

class Workspace;

// What the controller hands to a task function: copies of the task's names,
// the sessions and a way to report progress.
struct TaskContext {
  Workspace& ws;
  TaskId id;
  std::int32_t stamp;
  std::string sourceObject;
  std::string sourceDatabase;
  std::string targetObject;
  std::string targetDatabase;
  std::string mode;
  oledb::SessionRef sourceSession;
  oledb::SessionRef targetSession;
  std::string directory = {};  // the task's directory (a backup's), when it has one

  // The percent of the task; its row is drawn again at once.
  void SetProgress(int percent) const;
  // The row copy's figures, shown in the task's row at once.
  void SetRowProgress(const RowProgress& rows) const;
};

// A task function does its work and reports success or failure.
using TaskFunction = std::function<bool(TaskContext&)>;
struct TaskFunctionTable {
  std::map<int, TaskFunction> functions;
};

// The table of the program: one function per type code.
TaskFunctionTable DefaultTaskFunctions();

// Images of the start/stop button.
enum ControllerImage : int {
  kImageStart = 0,
  kImageRunning = 3,
  kImageFinished = 4,
  kImageStopping = 5,
};

class MainController {
 public:
  MainController(Workspace& ws, TaskFunctionTable table);
  ~MainController();  // stops the thread and waits for it
  MainController(const MainController&) = delete;
  MainController& operator=(const MainController&) = delete;

  // After a command appended a task: start the thread when the state is Idle.
  // Always forces a task-list refresh.
  void StartIfIdle();
  // The start/stop button (5560).
  void ButtonPressed();
  // Called by a task function when no waiting task is left.
  void Finish();

  // For closing the program: Running becomes Stopping, every wait is cut short
  // and questions are expected to be answered at once. Does not block.
  void BeginShutdown();
  // True once no controller thread runs (a finished thread is joined here).
  bool Stopped();
  // Blocks until the thread has ended.
  void Join();

  // True on the controller thread itself (inside a task function).
  bool OnControllerThread() const { return threadId_.load() == std::this_thread::get_id(); }

  // A wait that ends early when the program shuts down.
  void Sleep(std::chrono::milliseconds d);
  bool ShuttingDown() const;

  // Runs one task through the common frame (wait, work, completion walk).
  // The controller thread calls it inside a pass; tests may call it directly.
  void RunTask(TaskContext& ctx, const TaskFunction& fn);

 private:
  bool Start();  // starts the thread; false (with the output line) on failure
  void ThreadMain();
  void Pass();

  Workspace& ws_;
  TaskFunctionTable table_;
  std::thread thread_;
  std::mutex threadMutex_;  // guards thread_ (start, join)
  mutable std::mutex sleepMutex_;
  std::condition_variable wake_;
  bool shutdown_ = false;
  std::atomic<bool> threadRunning_{false};
  std::atomic<std::thread::id> threadId_{};
};

}  // namespace migrator
