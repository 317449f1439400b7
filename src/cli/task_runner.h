#pragma once
// The headless task runner of migrator-cli. A command that queues a task
// (migrate, backup, restore) builds a TaskRunner, connects the sides it
// needs, queues its task through the same command core the window uses and
// lets Run wait for the controller to finish it:
//
//   TaskRunner runner("migrate", assumeYes);
//   if (!runner.ConnectSource(options)) return kExitNotRun;
//   return runner.Run([&](Workspace& ws) { return SomeCommand(ws, ...); });
//
// Output-pane lines, hints and questions go to standard error. Questions are
// answered OK/Yes with --yes, asked on the terminal when standard input is
// one, and refused (with a line that says so) when it is not.

#include <functional>
#include <optional>
#include <string>

#include "app/console_frontend.h"
#include "app/workspace.h"
#include "cli/configured_source.h"
#include "tasks/task.h"

namespace migrator::cli {

// Exit codes of the commands that run a task.
enum TaskExitCode : int {
  kExitSucceeded = 0,  // the task ended as a success
  kExitFailed = 1,     // the task ended as a failure
  kExitUsage = 2,      // wrong arguments
  kExitNotRun = 3,     // no task ran: a side did not connect, a question was
                       // refused or declined, or the command queued nothing
  kExitStopped = 4,    // SIGINT or SIGTERM stopped the task: what arrived whole
                       // is kept and named, the rest is not
};

// --yes answers every question; otherwise a terminal on standard input is
// asked, and anything else refuses.
QuestionPolicy QuestionPolicyFor(bool assumeYes);

class TaskRunner {
 public:
  // command: the subcommand's name, for messages ("migrator-cli migrate: ...").
  TaskRunner(std::string command, bool assumeYes, bool quiet = false);
  TaskRunner(const TaskRunner&) = delete;
  TaskRunner& operator=(const TaskRunner&) = delete;

  Workspace& workspace() { return ws_; }
  ConsoleFrontend& frontend() { return ui_; }

  // Opens the source side with the settings the options name (see
  // configured_source.h). False, with the reason on standard error, when
  // the options are wrong or the side did not open.
  bool ConnectSource(const SourceOptions& options);
  // The target side's settings for a workbook: the workbook provider over
  // the file (made absolute). Connects nothing.
  void SetTargetWorkbook(const std::string& workbook);
  // SetTargetWorkbook, then opens the target side on the workbook. False,
  // with the reason on standard error, when it did not open.
  bool ConnectTarget(const std::string& workbook);

  // Runs `queue` on this thread, as the window runs a command; it returns the
  // task it appended (having started the controller), or nothing. Then waits
  // until that task has ended and the controller has stopped, and returns
  // the exit code of its outcome. Meanwhile the first SIGINT or SIGTERM stops
  // the controller as its stop button would (interrupts.h); a task that then
  // fails ends with kExitStopped and `stopHint` on standard error.
  int Run(const std::function<std::optional<TaskId>(Workspace&)>& queue);
  // What to do after a stop, for the last line (how to run the rest).
  void SetStopHint(std::string hint) { stopHint_ = std::move(hint); }

  // "migrator-cli COMMAND: message" on standard error.
  void Complain(const std::string& message) const;

 private:
  std::string command_;
  std::string stopHint_;
  ConsoleFrontend ui_;
  Workspace ws_;
};

}  // namespace migrator::cli
