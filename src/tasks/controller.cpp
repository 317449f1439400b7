#include "tasks/controller.h"

#include <ctime>
#include <system_error>

#include "app/output.h"
#include "app/workspace.h"
#include "support/error_text.h"

namespace migrator {

namespace {
// A task's row changed: the list is drawn again at the next tick that finds
// its tab current, which is asked for now.
void ShowTaskChange(Workspace& ws) {
  ws.tasks.ForceRefresh();
  ws.frontend().RequestTick();
}
}  // namespace

void TaskContext::SetProgress(int percent) const {
  ws.tasks.SetProgress(id, percent);
  ShowTaskChange(ws);
}

void TaskContext::SetRowProgress(const RowProgress& rows) const {
  ws.tasks.SetRowProgress(id, rows);
  ShowTaskChange(ws);
}

MainController::MainController(Workspace& ws, TaskFunctionTable table)
    : ws_(ws), table_(std::move(table)) {}

MainController::~MainController() {
  BeginShutdown();
  Join();
}

bool MainController::Start() {
  std::lock_guard lock(threadMutex_);
  // A thread that has set the state to Idle has nothing left to do.
  if (thread_.joinable()) thread_.join();
  ws_.SetState(ControllerState::Running);
  threadRunning_.store(true);
  try {
    thread_ = std::thread([this] { ThreadMain(); });
  } catch (const std::system_error& e) {
    threadRunning_.store(false);
    ws_.SetState(ControllerState::Idle);
    WriteOutputText(ws_.frontend(), SystemErrorLine("Main Controller Error!", e.code().value()));
    return false;
  }
  return true;
}

void MainController::StartIfIdle() {
  if (ws_.State() == ControllerState::Idle && !ShuttingDown()) {
    // The running image goes up before the pass exists: a pass that ends at
    // once then puts up the finished image after it, never before it.
    ws_.frontend().SetControllerButtonImage(kImageRunning);
    if (Start())
      Sleep(ws_.timing().afterStart);
    else
      ws_.frontend().SetControllerButtonImage(kImageStart);
  }
  ws_.tasks.ForceRefresh();
  ws_.frontend().RequestTick();
}

void MainController::ButtonPressed() {
  Frontend& fe = ws_.frontend();
  switch (ws_.State()) {
    case ControllerState::Running:
      if (fe.Ask("Some Tasks is Processing, STOP ALL?", Buttons::OkCancel) == Answer::Ok &&
          ws_.TryStop()) {
        fe.SetControllerButtonImage(kImageStopping);
      }
      break;
    case ControllerState::Stopping:
      fe.Ask("Some Tasks is Stopping, Please Wait!!!", Buttons::Ok);
      break;
    case ControllerState::Idle:
      fe.SetControllerButtonImage(kImageStart);
      if (!ShuttingDown() && Start()) Sleep(ws_.timing().afterStart);
      ws_.tasks.ForceRefresh();
      fe.RequestTick();
      break;
  }
}

void MainController::Finish() {
  ws_.TryStop();
  ws_.frontend().SetControllerButtonImage(kImageFinished);
}

void MainController::BeginShutdown() {
  {
    std::lock_guard lock(sleepMutex_);
    shutdown_ = true;
  }
  ws_.TryStop();
  wake_.notify_all();
}

bool MainController::ShuttingDown() const {
  std::lock_guard lock(sleepMutex_);
  return shutdown_;
}

bool MainController::Stopped() {
  std::lock_guard lock(threadMutex_);
  if (threadRunning_.load()) return false;
  if (thread_.joinable()) thread_.join();
  return true;
}

void MainController::Join() {
  std::lock_guard lock(threadMutex_);
  if (thread_.joinable()) thread_.join();
}

void MainController::Sleep(std::chrono::milliseconds d) {
  std::unique_lock lock(sleepMutex_);
  wake_.wait_for(lock, d, [this] { return shutdown_; });
}

void MainController::ThreadMain() {
  threadId_.store(std::this_thread::get_id());
  Frontend& fe = ws_.frontend();
  Sleep(ws_.timing().taskStart);
  fe.SetControllerToolTip("Stop tasks");
  fe.SetStatusText(kStatusWorking);
  for (;;) {
    Pass();
    Sleep(ws_.timing().period);
    if (ws_.State() == ControllerState::Stopping || ShuttingDown()) break;
  }
  fe.SetControllerToolTip("Start tasks");
  fe.SetStatusText(kStatusStopped);
  threadId_.store(std::thread::id());
  threadRunning_.store(false);
  // Last: from here on a new controller may be started.
  ws_.SetState(ControllerState::Idle);
}

void MainController::Pass() {
  std::lock_guard lock(ws_.taskLock());
  std::vector<TaskId> seen;
  while (auto task = ws_.tasks.NextWaiting(seen)) {
    seen.push_back(task->id);
    auto fn = table_.functions.find(task->typeCode);
    if (fn == table_.functions.end()) continue;  // unknown codes stay as they are
    if (ShuttingDown()) break;                   // closing: start nothing new
    auto stamp = static_cast<std::int32_t>(std::time(nullptr));
    ws_.tasks.MarkStarted(task->id, stamp);
    ShowTaskChange(ws_);
    TaskContext ctx{ws_,
                    task->id,
                    stamp,
                    task->sourceObject,
                    task->sourceDatabase,
                    task->targetObject,
                    task->targetDatabase,
                    task->mode,
                    &ws_.source.session,
                    &ws_.target.session,
                    task->directory};
    RunTask(ctx, fn->second);
  }
}

void MainController::RunTask(TaskContext& ctx, const TaskFunction& fn) {
  Sleep(ws_.timing().taskStart);
  bool ok = fn(ctx);
  std::lock_guard lock(ws_.taskLock());
  if (ws_.tasks.Empty()) {
    Finish();
    return;
  }
  if (ws_.tasks.Finish(ctx.id, ok)) {
    WriteOutputText(ws_.frontend(),
                    ok ? "Operation completed SUCCESSFULLY!" : "Operation FAILURE!");
    ShowTaskChange(ws_);
  }
  if (!ws_.tasks.AnyWaiting()) Finish();
}

}  // namespace migrator
