#include "cli/task_runner.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <thread>

#include "adapters/excel/excel_adapter.h"
#include "cli/interrupts.h"
#include "platform/program_dir.h"
#include "tasks/controller.h"
#include "workflows/connect.h"

namespace migrator::cli {

QuestionPolicy QuestionPolicyFor(bool assumeYes) {
  if (assumeYes) return QuestionPolicy::AssumeYes;
  return isatty(STDIN_FILENO) ? QuestionPolicy::AskTerminal : QuestionPolicy::Refuse;
}

namespace {

// The window's waits give it time to draw between the controller's steps;
// nothing is drawn here, so tasks start at once.
ControllerTiming HeadlessTiming() {
  ControllerTiming t;
  t.taskStart = std::chrono::milliseconds(0);
  t.afterStart = std::chrono::milliseconds(0);
  return t;
}

}  // namespace

TaskRunner::TaskRunner(std::string command, bool assumeYes, bool quiet)
    : command_(std::move(command)),
      ui_(stderr, stderr),
      ws_(ui_, ProgramDirectory(), HeadlessTiming()) {
  ui_.SetQuestionPolicy(QuestionPolicyFor(assumeYes));
  ui_.SetQuiet(quiet);
}

void TaskRunner::Complain(const std::string& message) const {
  std::fprintf(stderr, "migrator-cli %s: %s\n", command_.c_str(), message.c_str());
}

bool TaskRunner::ConnectSource(const SourceOptions& options) {
  if (!SourceOptionsValid(options)) {
    Complain("give --source or --source-dsn, not both, and --user/--password only with a DSN");
    return false;
  }
  auto settings = SourceSettings(options, ws_.programDir(), ui_);
  if (!settings) {
    Complain(settings.message());
    return false;
  }
  ws_.source.SetSettings(*settings);
  Connect(ws_, DataSourceSide::Source);
  if (!ws_.source.Connected()) {
    Complain("the source did not open");
    return false;
  }
  return true;
}

void TaskRunner::SetTargetWorkbook(const std::string& workbook) {
  ConnectionSettings s;
  s.providerText = "Microsoft Jet 4.0 OLE DB Provider";
  s.providerId = kJetProvider;
  std::error_code ec;
  const auto absolute = std::filesystem::absolute(workbook, ec);
  s.sourceName = ec ? workbook : absolute.lexically_normal().string();
  ws_.target.SetSettings(s);
}

bool TaskRunner::ConnectTarget(const std::string& workbook) {
  SetTargetWorkbook(workbook);
  Connect(ws_, DataSourceSide::Target);
  if (!ws_.target.Connected()) {
    Complain("the workbook " + ws_.target.Settings().sourceName + " did not open");
    return false;
  }
  return true;
}

int TaskRunner::Run(const std::function<std::optional<TaskId>(Workspace&)>& queue) {
  const std::optional<TaskId> id = queue(ws_);
  if (!id) {
    Complain(ui_.Declined() ? "not confirmed; nothing was done" : "nothing was queued");
    return kExitNotRun;
  }
  // The controller runs the task on its own thread; the window would go on
  // drawing meanwhile, this process only waits for the outcome.
  const StopOnSignals signals;
  bool stopping = false;
  std::optional<Task> task;
  for (;;) {
    task = ws_.tasks.Find(*id);
    if (!task || task->state != kTaskWaiting) break;
    // A controller that ended without running it never will.
    if (ws_.State() == ControllerState::Idle && ws_.controller().Stopped()) break;
    if (signals.Requested() && !stopping) stopping = ws_.TryStop();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  // Nothing else is queued: the controller's last wait is cut short.
  ws_.controller().BeginShutdown();
  ws_.controller().Join();
  if (task && task->state == kTaskSucceeded) return kExitSucceeded;
  if (signals.Requested()) {
    Complain(std::string("stopped by ") + signals.SignalName() + "; what arrived whole is named " +
             "above" + (stopHint_.empty() ? "" : "; " + stopHint_));
    return kExitStopped;
  }
  return kExitFailed;
}

}  // namespace migrator::cli
