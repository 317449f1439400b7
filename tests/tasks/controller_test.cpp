#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

#include "app/output.h"
#include "app/scripted_frontend.h"
#include "app/workspace.h"
#include "tasks/controller.h"
#include "testlib/testlib.h"

namespace migrator {
namespace {

using namespace std::chrono_literals;

ControllerTiming Fast() {
  ControllerTiming t;
  t.period = 40ms;
  t.taskStart = 1ms;
  t.afterStart = 1ms;
  t.stopWait = 1ms;
  t.exitWait = 1ms;
  return t;
}

bool WaitFor(const std::function<bool()>& pred, std::chrono::milliseconds limit = 5000ms) {
  auto end = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < end) {
    if (pred()) return true;
    std::this_thread::sleep_for(2ms);
  }
  return pred();
}

// A gate a task function waits at until the test opens it.
class Gate {
 public:
  void Open() {
    std::lock_guard l(m_);
    open_ = true;
    cv_.notify_all();
  }
  void Wait() {
    std::unique_lock l(m_);
    entered_ = true;
    cv_.notify_all();
    cv_.wait(l, [&] { return open_; });
  }
  bool Entered() {
    std::lock_guard l(m_);
    return entered_;
  }

 private:
  std::mutex m_;
  std::condition_variable cv_;
  bool open_ = false, entered_ = false;
};

Task Make(int type, std::string object = {}) {
  Task t;
  t.kind = type >= kBackupDatabase ? kBackupTask : kMigrationTask;
  t.typeCode = type;
  t.sourceDatabase = "shop";
  t.sourceObject = std::move(object);
  t.targetDatabase = "/tmp/book";
  return t;
}

struct Fixture {
  explicit Fixture(TaskFunctionTable table, ControllerTiming timing = Fast())
      : ws(fe, "/tmp", timing, table) {}
  ScriptedFrontend fe;
  Workspace ws;
  TaskId Add(Task t) {
    TaskId id = ws.tasks.Append(std::move(t));
    ws.controller().StartIfIdle();
    return id;
  }
  bool Idle() {
    return WaitFor(
        [&] { return ws.State() == ControllerState::Idle && ws.controller().Stopped(); });
  }
};

TaskFunctionTable Table(std::function<bool(TaskContext&)> fn) {
  TaskFunctionTable t;
  for (int code : {257, 258, 259, 261, 513, 514})
    t.functions[code] = fn;
  t.functions[kMigrateViews] = DefaultTaskFunctions().functions.at(kMigrateViews);
  t.functions[kMigrateView] = DefaultTaskFunctions().functions.at(kMigrateView);
  return t;
}

TEST(Controller, RunsEveryWaitingTaskAndEndsWhenNoneIsLeft) {
  std::vector<std::string> ran;
  std::mutex m;
  Fixture f(Table([&](TaskContext& ctx) {
    std::lock_guard l(m);
    ran.push_back(ctx.sourceObject);
    ctx.SetProgress(100);
    return ctx.sourceObject != "bad";
  }));
  f.ws.tasks.Append(Make(kMigrateTable, "a"));
  f.ws.tasks.Append(Make(kMigrateTable, "bad"));
  f.ws.tasks.Append(Make(kMigrateTable, "c"));
  f.ws.controller().StartIfIdle();
  ASSERT_TRUE(f.Idle());
  // Running goes up once, before the pass's finished image, however fast the pass.
  const auto calls = f.fe.Calls();
  const auto running =
      std::find(calls.begin(), calls.end(), "button-image: " + std::to_string(kImageRunning));
  const auto finished =
      std::find(calls.begin(), calls.end(), "button-image: " + std::to_string(kImageFinished));
  EXPECT_TRUE(running < finished && finished != calls.end());
  EXPECT_EQ(ran, (std::vector<std::string>{"a", "bad", "c"}));
  auto tasks = f.ws.tasks.Snapshot();
  EXPECT_EQ(tasks[0].stateText, "SUCCESS");
  EXPECT_EQ(tasks[1].stateText, "FAILURE");
  EXPECT_EQ(tasks[1].state, kTaskFailed);
  EXPECT_EQ(tasks[2].state, kTaskSucceeded);
  EXPECT_EQ(tasks[2].progress, 100);
  EXPECT_EQ(f.fe.Texts(),
            (std::vector<std::string>{"Operation completed SUCCESSFULLY!", "Operation FAILURE!",
                                      "Operation completed SUCCESSFULLY!"}));
  EXPECT_EQ(f.fe.ControllerImage(), kImageFinished);
  EXPECT_EQ(f.fe.StatusText(), kStatusStopped);
  EXPECT_EQ(f.fe.ControllerToolTip(), "Start tasks");
  EXPECT_TRUE(f.fe.HasCall(std::string("status: ") + kStatusWorking));
  EXPECT_TRUE(f.fe.HasCall("button-tip: Stop tasks"));
}

TEST(Controller, ViewsMigrationAlwaysFails) {
  Fixture f(Table([](TaskContext&) { return true; }));
  // Both are queued before the start: a pass that ends leaves later tasks waiting.
  f.ws.tasks.Append(Make(kMigrateViews));
  f.Add(Make(kMigrateView, "v"));
  ASSERT_TRUE(f.Idle());
  EXPECT_EQ(f.fe.Texts(),
            (std::vector<std::string>{
                "Excel Datafiles have no Views to convert !!!", "Operation FAILURE!",
                "Excel Datafiles have no Views to convert !!!", "Operation FAILURE!"}));
  for (const auto& t : f.ws.tasks.Snapshot())
    EXPECT_EQ(t.stateText, "FAILURE");
}

TEST(Controller, TaskAppendedWhileStoppingWaitsForTheNextStart) {
  Gate gate;
  // A long period keeps the controller Stopping long enough to append a task
  // on a loaded machine.
  ControllerTiming timing = Fast();
  timing.period = 1000ms;
  Fixture f(Table([&](TaskContext& ctx) {
              if (ctx.sourceObject == "first") gate.Wait();
              return true;
            }),
            timing);
  f.Add(Make(kMigrateTable, "first"));
  ASSERT_TRUE(WaitFor([&] { return gate.Entered(); }));
  gate.Open();
  // The first task finishes the list: the controller is Stopping until its pass
  // and wait are over.
  ASSERT_TRUE(WaitFor([&] { return f.ws.State() == ControllerState::Stopping; }));
  ASSERT_EQ(f.ws.tasks.Snapshot()[0].state, kTaskSucceeded);
  TaskId late = f.Add(Make(kMigrateTable, "late"));
  ASSERT_TRUE(f.Idle());
  EXPECT_EQ(f.ws.tasks.Find(late)->stateText, "Waiting");
  f.ws.controller().StartIfIdle();
  ASSERT_TRUE(WaitFor([&] { return f.ws.tasks.Find(late)->state == kTaskSucceeded; }));
  ASSERT_TRUE(f.Idle());
}

TEST(Controller, StopConfirmedDuringAPassLetsThePassFinish) {
  Gate gate;
  std::atomic<int> runs{0};
  Fixture f(Table([&](TaskContext& ctx) {
    if (ctx.sourceObject == "a") gate.Wait();
    ++runs;
    return true;
  }));
  f.ws.tasks.Append(Make(kMigrateTable, "a"));
  f.ws.tasks.Append(Make(kMigrateTable, "b"));
  f.ws.controller().StartIfIdle();
  ASSERT_TRUE(WaitFor([&] { return gate.Entered(); }));
  f.fe.QueueAnswer(Answer::Cancel);
  f.ws.controller().ButtonPressed();
  EXPECT_EQ(f.ws.State(), ControllerState::Running);
  f.fe.QueueAnswer(Answer::Ok);
  f.ws.controller().ButtonPressed();
  EXPECT_EQ(f.ws.State(), ControllerState::Stopping);
  EXPECT_EQ(f.fe.ControllerImage(), kImageStopping);
  f.ws.controller().ButtonPressed();  // while stopping: only a message
  gate.Open();
  ASSERT_TRUE(f.Idle());
  EXPECT_EQ(runs.load(), 2);
  EXPECT_EQ(f.fe.CallsStartingWith("ask ").size(), 3u);
  EXPECT_TRUE(f.fe.HasCall("ask Ok: Some Tasks is Stopping, Please Wait!!!"));
  EXPECT_TRUE(f.fe.HasCall("ask OkCancel: Some Tasks is Processing, STOP ALL?"));
}

TEST(Controller, EmptyListKeepsTheControllerRunningUntilStopped) {
  Fixture f(Table([](TaskContext&) { return true; }));
  f.ws.controller().ButtonPressed();  // Idle: start
  EXPECT_EQ(f.ws.State(), ControllerState::Running);
  std::this_thread::sleep_for(200ms);  // several periods
  EXPECT_EQ(f.ws.State(), ControllerState::Running);
  f.fe.QueueAnswer(Answer::Ok);
  f.ws.controller().ButtonPressed();
  ASSERT_TRUE(f.Idle());
}

TEST(Controller, UnknownTypeCodeIsLeftAlone) {
  Fixture f(Table([](TaskContext&) { return true; }));
  TaskId odd = f.ws.tasks.Append(Make(999));
  TaskId t1 = f.Add(Make(kMigrateTable, "t"));
  ASSERT_TRUE(WaitFor([&] { return f.ws.tasks.Find(t1)->state == kTaskSucceeded; }));
  // A task that never runs keeps the list unfinished: the controller goes on
  // until it is stopped.
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(f.ws.State(), ControllerState::Running);
  f.fe.QueueAnswer(Answer::Ok);
  f.ws.controller().ButtonPressed();
  ASSERT_TRUE(f.Idle());
  auto t = f.ws.tasks.Find(odd);
  EXPECT_EQ(t->state, kTaskWaiting);
  EXPECT_EQ(t->stateText, "Waiting");
}

TEST(Controller, WindowEditsDuringARunningTaskNeitherBlockNorFreeItsRecord) {
  Gate gate;
  Fixture f(Table([&](TaskContext& ctx) {
    gate.Wait();
    ctx.SetProgress(60);  // its record is gone by now: nothing happens
    return true;
  }));
  f.Add(Make(kMigrateTable, "a"));
  f.ws.tasks.Append(Make(kMigrateTable, "b"));
  ASSERT_TRUE(WaitFor([&] { return gate.Entered(); }));
  // The controller holds the task lock for its pass; the window's edits must
  // not wait for it.
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(f.ws.tasks.MoveDown(0), 1);
  EXPECT_TRUE(f.ws.tasks.Delete(1));  // the running task
  f.ws.tasks.Rebuild();
  EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
  gate.Open();
  ASSERT_TRUE(WaitFor([&] { return f.ws.tasks.Snapshot()[0].state == kTaskSucceeded; }));
  ASSERT_TRUE(f.Idle());
  // The deleted task wrote no outcome; the other ran.
  EXPECT_EQ(f.fe.Texts(), (std::vector<std::string>{"Operation completed SUCCESSFULLY!"}));
}

TEST(Controller, ClearDuringATaskFinishesTheController) {
  Gate gate;
  Fixture f(Table([&](TaskContext&) {
    gate.Wait();
    return true;
  }));
  f.Add(Make(kMigrateTable, "a"));
  ASSERT_TRUE(WaitFor([&] { return gate.Entered(); }));
  f.ws.tasks.Clear();
  gate.Open();
  ASSERT_TRUE(f.Idle());
  EXPECT_EQ(f.fe.ControllerImage(), kImageFinished);
  EXPECT_TRUE(f.fe.Texts().empty());
}

TEST(Controller, ClosingWhileATaskRunsStopsItWithoutHanging) {
  std::atomic<bool> sawStop{false};
  Gate entered;
  auto fe = std::make_unique<ScriptedFrontend>();
  {
    Workspace ws(*fe, "/tmp", Fast(), Table([&](TaskContext& ctx) {
      std::thread([&] { entered.Open(); }).detach();
      // A long loop that tests the stop flag after every row.
      for (int row = 0; row < 1'000'000; ++row) {
        if (ctx.ws.State() == ControllerState::Stopping) {
          sawStop = true;
          break;
        }
        std::this_thread::sleep_for(1ms);
      }
      return true;
    }));
    ws.tasks.Append(Make(kMigrateTable, "big"));
    ws.controller().StartIfIdle();
    entered.Wait();
    auto start = std::chrono::steady_clock::now();
    ws.controller().BeginShutdown();  // what the window does when it closes
    EXPECT_TRUE(WaitFor([&] { return ws.controller().Stopped(); }, 5s));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
  }  // the workspace goes with no thread left behind
  EXPECT_TRUE(sawStop.load());
}

TEST(Controller, StartIfIdleDoesNothingWhileAControllerRuns) {
  Gate gate;
  std::atomic<int> threads{0};
  Fixture f(Table([&](TaskContext&) {
    gate.Wait();
    return true;
  }));
  f.Add(Make(kMigrateTable, "a"));
  ASSERT_TRUE(WaitFor([&] { return gate.Entered(); }));
  for (int i = 0; i < 5; ++i)
    f.Add(Make(kMigrateTable, "more"));
  gate.Open();
  ASSERT_TRUE(f.Idle());
  (void)threads;
  for (const auto& t : f.ws.tasks.Snapshot())
    EXPECT_EQ(t.state, kTaskSucceeded);
}

TEST(Controller, StopRunningTasksSwitchesOnlyARunningController) {
  ScriptedFrontend fe;
  Workspace ws(fe, "/tmp", Fast(), Table([](TaskContext&) { return true; }));
  ws.StopRunningTasks();
  EXPECT_EQ(ws.State(), ControllerState::Idle);  // no controller: nothing to stop
  ws.controller().ButtonPressed();
  ASSERT_EQ(ws.State(), ControllerState::Running);
  ws.StopRunningTasks();
  EXPECT_EQ(ws.State(), ControllerState::Stopping);
  EXPECT_TRUE(WaitFor([&] { return ws.controller().Stopped(); }));
  EXPECT_EQ(ws.State(), ControllerState::Idle);
}

}  // namespace
}  // namespace migrator

namespace migrator {
namespace {

// The program's own table: every type code has a function. Without
// connections no migration gets past selecting its source database.
TEST(DefaultTaskFunctions, EveryTypeCodeRunsWithoutConnections) {
  testing::TempDir dir;
  ScriptedFrontend fe;
  Workspace ws(fe, dir.str(), Fast());
  for (int code : {257, 258, 259, 260, 261, 262, 513, 514}) {
    Task t = Make(code, "t");
    t.targetDatabase = (dir / "book").string();
    ws.tasks.Append(t);
  }
  ws.controller().StartIfIdle();
  ASSERT_TRUE(
      WaitFor([&] { return ws.State() == ControllerState::Idle && ws.controller().Stopped(); }));
  // A database backup without a mode has nothing to write.
  for (const auto& t : ws.tasks.Snapshot())
    EXPECT_EQ(t.stateText, t.typeCode == 513 ? "SUCCESS" : "FAILURE") << t.typeCode;
  auto texts = fe.Texts();
  EXPECT_EQ(std::count(texts.begin(), texts.end(), "Operation FAILURE!"), 7);
  // Each in red, with the reason.
  EXPECT_EQ(
      std::count(texts.begin(), texts.end(), "Select Source Database[shop] Error! No Connection!"),
      1);
  int red = 0;
  for (const OutputLine& line : fe.Lines())
    red +=
        line.text.find("Select Source Database[shop] Error! No Connection!") != std::string::npos &&
        line.textColour == Rgb{255, 0, 0};
  EXPECT_EQ(red, 4);
}

}  // namespace
}  // namespace migrator
