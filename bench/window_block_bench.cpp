// How long the window thread is kept from its events while a migration runs
// and other threads flood the Log pane. The real main window, off screen,
// migrates a database of 16 tables of ROWS rows (60,000 unless given) from
// the private server into a new workbook; while the task works, after a
// quiet second,
//   - burst : a thread writes 100,000 output lines as fast as it can;
//   - paced : a thread writes 10,000 lines a second for three seconds;
//   - per-line: 20,000 lines, each delivered as a queued call of its own to
//     the pane (what a frontend without the pane's queue would do), for
//     comparison.
// A 1 ms timer on the window thread measures the longest gap between its
// ticks (the longest time the thread was blocked); the Log and Task List tabs
// take turns every 500 ms so both panes draw. Prints the figures; asserts
// nothing.
//
// Needs the private server: scripts/with-mariadb.sh build/bench/window_block_bench [ROWS]

#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTabWidget>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "adapters/excel/excel_adapter.h"
#include "app/output.h"
#include "app/qt/main_window.h"
#include "app/qt/output_pane.h"
#include "app/workspace.h"
#include "bench_clock.h"
#include "tasks/controller.h"
#include "workflows/connect.h"
#include "workflows/migration.h"
#include "xls/workbook.h"

namespace {

namespace fs = std::filesystem;
using namespace migrator;
using migrator::bench::Clock;

std::string Env(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "";
}

// The longest gap between ticks of a 1 ms timer, and how many gaps were long.
class BlockMeter : public QObject {
 public:
  BlockMeter() {
    timer_.setTimerType(Qt::PreciseTimer);
    timer_.setInterval(1);
    QObject::connect(&timer_, &QTimer::timeout, this, [this] { Tick(); });
    timer_.start();
    clock_.start();
  }
  void Reset() {
    longestMs_ = 0;
    over16_ = over100_ = 0;
    last_ = clock_.nsecsElapsed();
  }
  double longestMs() const { return longestMs_; }
  int over16() const { return over16_; }
  int over100() const { return over100_; }

 private:
  void Tick() {
    const qint64 now = clock_.nsecsElapsed();
    const double gap = static_cast<double>(now - last_) / 1e6;
    last_ = now;
    longestMs_ = std::max(longestMs_, gap);
    over16_ += gap > 16;
    over100_ += gap > 100;
  }
  QTimer timer_;
  QElapsedTimer clock_;
  qint64 last_ = 0;
  double longestMs_ = 0;
  int over16_ = 0, over100_ = 0;
};

// Runs the window's events until `done` holds or the time is up.
template <class F>
bool Spin(F done, std::chrono::seconds limit) {
  const auto end = Clock::now() + limit;
  while (!done()) {
    if (Clock::now() > end) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  }
  return true;
}

struct Phase {
  const char* name;
  int lines = 0;
  double postSeconds = 0;   // writing them
  double shownSeconds = 0;  // until the newest was in the pane
  double longestMs = 0;
  int over16 = 0, over100 = 0;
  bool duringMigration = false;
};

void Print(const Phase& p) {
  std::printf(
      "%-9s %7d lines  posted %6.3f s (%8.0f lines/s)  shown after %6.3f s  "
      "longest block %6.1f ms  gaps >16 ms %3d  >100 ms %2d%s\n",
      p.name, p.lines, p.postSeconds, p.lines / std::max(p.postSeconds, 1e-9), p.shownSeconds,
      p.longestMs, p.over16, p.over100, p.duringMigration ? "" : "  (the migration had ended)");
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  const long rows = argc > 1 ? std::atol(argv[1]) : 60000;
  const int tables = 16;
  const std::string host = Env("MIGRATOR_TEST_MYSQL_HOST"), port = Env("MIGRATOR_TEST_MYSQL_PORT"),
                    user = Env("MIGRATOR_TEST_MYSQL_USER"),
                    password = Env("MIGRATOR_TEST_MYSQL_PASSWORD"),
                    socket = Env("MIGRATOR_TEST_MYSQL_SOCKET");
  if (port.empty() || user.empty()) {
    std::fprintf(stderr, "window_block_bench: no server; run it under scripts/with-mariadb.sh\n");
    return 2;
  }
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  QApplication app(argc, argv);

  const std::string db = "bench_window_" + std::to_string(::getpid());
  auto sql = [&](const std::string& text) {
    const std::string cmd =
        "mariadb --no-defaults -uroot --socket='" + socket + "' -e \"" + text + "\"";
    return std::system(cmd.c_str()) == 0;
  };
  std::string make = "create database " + db + "; use " + db + ";";
  for (int t = 1; t <= tables; ++t) {
    const std::string name = "t" + std::to_string(t);
    make += " create table " + name +
            " (id int primary key, name varchar(40), amount decimal(12,2), day date);"
            " insert into " +
            name + " select seq, concat('customer ', seq), seq * 1.25, '2000-01-01' + interval " +
            "seq % 9000 day from seq_1_to_" + std::to_string(rows) + ";";
  }
  if (!sql(make)) {
    sql("drop database if exists " + db);
    return 1;
  }
  const fs::path work = fs::temp_directory_path() / ("window_block_" + std::to_string(::getpid()));
  fs::create_directories(work);
  int status = 0;
  {
    ControllerTiming timing;
    timing.period = std::chrono::milliseconds(200);
    gui::MainWindow w(work.string(), timing);
    w.show();
    Workspace& ws = w.workspace();
    ConnectionSettings source;
    source.providerText = "TCP/IP:Port";
    source.providerId = "MSDASQL";
    source.sourceName = host + ":" + port;
    source.userId = user;
    source.password = password;
    ws.source.SetSettings(source);
    Connect(ws, DataSourceSide::Source);
    const std::string book = (work / "Bench.xls").string();
    {
      auto wb = xls::Workbook::New();
      (void)wb.AddSheet("Sheet1");
      (void)wb.Save(book);
    }
    ConnectionSettings target;
    target.providerId = kJetProvider;
    target.sourceName = book;
    ws.target.SetSettings(target);
    Connect(ws, DataSourceSide::Target);
    if (!ws.source.Connected() || !ws.target.Connected()) {
      std::fprintf(stderr, "window_block_bench: cannot connect\n");
      sql("drop database if exists " + db);
      fs::remove_all(work);
      return 1;
    }
    gui::OutputPane* pane = w.outputPane();
    std::printf(
        "migration: %d tables x %ld rows into a new workbook, with the window drawn off "
        "screen\n",
        tables, rows);

    BlockMeter meter;
    QTimer tabs;
    tabs.setInterval(500);
    QObject::connect(&tabs, &QTimer::timeout, [&] {
      w.tabs()->setCurrentIndex(w.tabs()->currentIndex() == kLogTab ? kTaskListTab : kLogTab);
    });
    tabs.start();

    Task task;
    task.kind = kMigrationTask;
    task.typeCode = kMigrateDatabase;
    task.sourceDatabase = db;
    task.targetDatabase = book;
    const bench::Watch whole;
    meter.Reset();
    BlockMeter overall;  // from the task's start to the end of the paced phase
    // Queued as the Migrate command does it: on the window's command thread.
    std::atomic<TaskId> queued{0};
    w.RunWork("Migrate", [&] { queued = QueueMigrationTask(ws, task); });
    Spin([&] { return queued.load() != 0; }, std::chrono::seconds(30));
    const TaskId id = queued.load();
    auto working = [&] {
      const auto t = ws.tasks.Find(id);
      return t && t->state == kTaskWaiting && t->stateText == "Working";
    };
    auto ended = [&] {
      const auto t = ws.tasks.Find(id);
      return !t || t->state != kTaskWaiting;
    };
    Spin(working, std::chrono::seconds(30));
    // The rows are flowing once the first table's copy reports.
    Spin([&] { return ended() || ws.tasks.Find(id)->rows.active; }, std::chrono::seconds(30));

    auto lastShown = [&](const QString& tail) {
      // The migration's own lines may follow it.
      for (int r = pane->lines()->rowCount() - 1; r >= 0; --r)
        if (pane->lines()->line(r).text.contains(tail)) return true;
      return false;
    };

    // A thread that writes `count` lines, `perSecond` a second (0: at once).
    auto runPhase = [&](const char* name, int count, int perSecond, bool queuedCalls) {
      Phase p;
      p.name = name;
      p.lines = count;
      const QString tail = QStringLiteral(" %1 line %2:").arg(name).arg(count - 1);
      meter.Reset();
      std::atomic<bool> posted{false};
      const auto start = Clock::now();
      std::thread poster([&] {
        for (int i = 0; i < count; ++i) {
          if (perSecond > 0) {
            std::this_thread::sleep_until(
                start + std::chrono::microseconds(static_cast<long>(i) * 1000000 / perSecond));
          }
          const std::string text =
              Format("%s line %d: [t%d] %d records converted!", name, i, i % 4, i);
          if (queuedCalls) {
            const OutputLine line = MakeOutputLine(text, OutputTimestamp());
            QMetaObject::invokeMethod(
                pane, [pane, line] { pane->AppendLine(line); }, Qt::QueuedConnection);
          } else {
            WriteOutput(w.frontend(), "%s", text.c_str());
          }
        }
        posted = true;
      });
      Spin([&] { return posted.load(); }, std::chrono::seconds(600));
      p.postSeconds = bench::Seconds(start, Clock::now());
      poster.join();
      // The pane's own batches land within its flush delay; nothing is forced.
      Spin([&] { return lastShown(tail); }, std::chrono::seconds(600));
      p.shownSeconds = bench::Seconds(start, Clock::now());
      p.longestMs = meter.longestMs();
      p.over16 = meter.over16();
      p.over100 = meter.over100();
      p.duringMigration = !ended();
      Print(p);
      return p;
    };

    // The window's own noise: the migration alone (and the machine's load).
    meter.Reset();
    Spin([] { return false; }, std::chrono::seconds(1));
    std::printf(
        "quiet          0 lines for 1 s (the migration alone)"
        "%37s longest block %6.1f ms  gaps >16 ms %3d  >100 ms %2d%s\n",
        "", meter.longestMs(), meter.over16(), meter.over100(),
        ended() ? "  (the migration had ended)" : "");
    const Phase burst = runPhase("burst", 100000, 0, false);
    runPhase("paced", 30000, 10000, false);
    std::printf(
        "from the task's start to here: longest block %.1f ms, gaps >16 ms %d, "
        ">100 ms %d\n",
        overall.longestMs(), overall.over16(), overall.over100());
    runPhase("per-line", 20000, 0, true);

    const bool endedBefore = ended();
    meter.Reset();
    const bool finished = Spin(ended, std::chrono::seconds(1800));
    const double seconds = whole.Wall();
    const auto t = ws.tasks.Find(id);
    if (!endedBefore) {
      std::printf("after the lines, until the task ended: longest block %.1f ms\n",
                  meter.longestMs());
    }
    std::printf("migration: %s in %.1f s (%.0f rows/s with the floods)\n",
                finished && t ? t->stateText.c_str() : "did not end", seconds,
                tables * rows / seconds);
    std::printf("burst: %.0f lines/s written, longest block %.1f ms (goal: under 100 ms)\n",
                burst.lines / burst.postSeconds, burst.longestMs);
    if (!finished) status = 1;
  }
  sql("drop database if exists " + db);
  fs::remove_all(work);
  return status;
}
