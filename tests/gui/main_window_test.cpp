// The window, drawn off screen: coloured output lines, task rows, status bar,
// the start-up state, the commands' refusals, Delete through the tool bar and
// exit while a task runs.

// The core's headers come before Qt's.
#include "adapters/excel/excel_adapter.h"
#include "app/output.h"
#include "app/workspace.h"
#include "browser/refresh_tree.h"
#include "oledb/operations.h"
#include "tasks/controller.h"
#include "testlib/testlib.h"
#include "workflows/connect.h"
#include "workflows/main_commands.h"
#include "xls/workbook.h"

#include <QAbstractButton>
#include <QMessageBox>
#include <QProgressBar>
#include <QTableWidget>
#include <QtTest>
#include <atomic>
#include <filesystem>

#include "app/qt/main_window.h"
#include "app/qt/output_pane.h"
#include "app/qt/qt_frontend.h"
#include "app/qt/task_pane.h"
#include "browser/qt/db_tree_model.h"
#include "browser/qt/db_tree_view.h"

using namespace migrator;
using namespace migrator::gui;
using migrator::testing::TempDir;

namespace {

// Answers every question from a list (the default after it runs out) and
// keeps what was asked, as "<buttons>: <text>".
struct Answers {
  std::vector<std::string> asked;
  std::deque<Answer> queue;
  Answer fallback = Answer::Ok;
  void Install(MainWindow& w) {
    w.qtFrontend().SetAnswerer([this](const std::string& text, Buttons b, const std::string&) {
      asked.push_back(std::string(b == Buttons::Ok         ? "Ok"
                                  : b == Buttons::OkCancel ? "OkCancel"
                                                           : "YesNo") +
                      ": " + text);
      Answer a = fallback;
      if (!queue.empty()) {
        a = queue.front();
        queue.pop_front();
      }
      if (b == Buttons::YesNo) a = (a == Answer::Ok || a == Answer::Yes) ? Answer::Yes : Answer::No;
      if (b == Buttons::OkCancel)
        a = (a == Answer::Ok || a == Answer::Yes) ? Answer::Ok : Answer::Cancel;
      return std::optional<Answer>(a);
    });
  }
};

bool LogHas(OutputPane* pane, const QString& text) {
  for (int i = 0; i < pane->count(); ++i)
    if (pane->item(i)->text().endsWith(text)) return true;
  return false;
}

NodePath PathTo(MainWindow& w, DataSourceSide side, NodeKind kind, const std::string& text) {
  const DbTree& tree = w.workspace().Side(side).tree;
  for (const TreeNode& n : tree.Nodes())
    if (n.id != kNoNode && n.kind == kind && (text.empty() || n.text == text))
      return tree.PathOf(n.id);
  return {};
}

// Queues the migration of the table shop.orders into /data/book and starts
// the controller.
void StartOrdersTask(MainWindow& w) {
  Task t;
  t.typeCode = kMigrateTable;
  t.sourceDatabase = "shop";
  t.sourceObject = "orders";
  t.targetDatabase = "/data/book";
  w.workspace().tasks.Append(t);
  w.workspace().controller().StartIfIdle();
}

}  // namespace

class MainWindowTest : public QObject {
  Q_OBJECT
 private slots:
  void showsColouredOutputLines() {
    MainWindow w("/tmp");
    w.show();
    WriteOutputText(w.frontend(), "E::No Connection!");
    WriteOutputText(w.frontend(), "S::green");
    WriteOutputText(w.frontend(), "T::orange");
    WriteOutputText(w.frontend(), "plain");
    auto* pane = w.outputPane();
    QCOMPARE(pane->count(), 4);
    QVERIFY(pane->item(0)->text().endsWith(" No Connection!"));
    QCOMPARE(pane->item(0)->data(OutputPane::kTextColourRole).value<QColor>(), QColor(255, 0, 0));
    QCOMPARE(pane->item(1)->data(OutputPane::kTextColourRole).value<QColor>(), QColor(0, 255, 0));
    QCOMPARE(pane->item(2)->data(OutputPane::kTextColourRole).value<QColor>(), QColor(255, 128, 0));
    QCOMPARE(pane->item(3)->data(OutputPane::kColouredRole).toBool(), false);
    QCOMPARE(pane->currentRow(), 3);  // the newest line is selected
    for (int i = 0; i < 1100; ++i)
      WriteOutput(w.frontend(), "line %d", i);
    QCOMPARE(pane->count(), 1001);
  }

  void linesFromTheControllerThreadArriveInOrder() {
    MainWindow w("/tmp");
    std::thread worker([&] {
      for (int i = 0; i < 200; ++i)
        WriteOutput(w.frontend(), "worker %d", i);
    });
    worker.join();
    QTRY_COMPARE(w.outputPane()->count(), 200);
    for (int i = 0; i < 200; ++i)
      QVERIFY(w.outputPane()->item(i)->text().endsWith(QStringLiteral("worker %1").arg(i)));
  }

  void showsATaskRowAndTheStatusBar() {
    MainWindow w("/tmp");
    w.show();
    QCOMPARE(w.tabs()->currentIndex(), int(kTaskListTab));
    QCOMPARE(w.tabs()->tabText(0), QString("Log"));
    QCOMPARE(w.tabs()->tabText(1), QString("Task List"));
    QCOMPARE(w.statusPane(1)->text(), QString("Main Controller:IDLE"));
    Task t;
    t.kind = kBackupTask;
    t.typeCode = 999;  // never run: the row stays as appended
    t.mode = "A";
    t.targetDatabase = "/tmp/book";
    w.workspace().tasks.Append(t);
    w.workspace().tasks.ForceRefresh();
    w.Tick();
    QTableWidget* table = w.taskPane()->table();
    QCOMPARE(table->rowCount(), 1);
    QCOMPARE(table->item(0, 0)->text(), QString("01"));
    QCOMPARE(table->item(0, 2)->text(), QString("BACKUP"));
    QCOMPARE(table->item(0, 3)->text(), QString("Waiting"));
    QCOMPARE(table->item(0, 8)->text(), QString("/tmp/book"));
    auto* bar = qobject_cast<QProgressBar*>(table->cellWidget(0, 1));
    QVERIFY(bar);
    QCOMPARE(bar->value(), 5);
    QCOMPARE(table->horizontalHeaderItem(7)->text(), QString("Targert DBMS"));
  }

  void closingWhileATaskRunsNeitherHangsNorCrashes() {
    ControllerTiming fast;
    fast.period = std::chrono::milliseconds(20);
    fast.taskStart = fast.afterStart = fast.stopWait = std::chrono::milliseconds(1);
    auto* w = new MainWindow("/tmp", fast);
    w->show();
    // An unknown task keeps the controller running; the close asks to stop it.
    Task t;
    t.typeCode = 999;
    w->workspace().tasks.Append(t);
    w->workspace().controller().StartIfIdle();
    QCOMPARE(w->workspace().State(), ControllerState::Running);
    QTimer::singleShot(50, [] {
      // Answer the "STOP ALL and EXIT?" question with OK.
      for (QWidget* top : QApplication::topLevelWidgets())
        if (auto* box = qobject_cast<QMessageBox*>(top)) box->button(QMessageBox::Ok)->click();
    });
    w->close();
    QTRY_VERIFY_WITH_TIMEOUT(w->workspace().controller().Stopped(), 5000);
    delete w;  // joins nothing: the thread is gone
  }

  void startsWithTheConditionFileTheLayoutAndTheNodeMenusOff() {
    TempDir dir;
    QVERIFY(!std::filesystem::exists(dir / "Condition.cfg"));
    MainWindow w(dir.str());
    w.show();
    QVERIFY(std::filesystem::exists(dir / "Condition.cfg"));
    QCOMPARE(w.tabs()->currentIndex(), int(kTaskListTab));
    QCOMPARE(w.tabs()->count(), 3);  // no configuration yet: the tips show
    QCOMPARE(w.workspace().State(), ControllerState::Idle);
    QCOMPARE(w.folder(DataSourceSide::Source)->title(), QString("MySQL"));
    QCOMPARE(w.folder(DataSourceSide::Target)->title(), QString("Excel"));

    QStringList buttons, tips;
    for (QAction* a : w.toolBar()->actions()) {
      buttons << QString::number(a->data().toInt()) + a->text();
      tips << a->toolTip();
      QVERIFY(!a->icon().isNull());
    }
    QCOMPARE(buttons, (QStringList{"1026 Configure ", "1028 Connect ", "1035 Migrate ",
                                   "1030 Delete ", "1034 Backup "}));
    QCOMPARE(tips[2], QString("Convert from source into target"));
    QStringList titles;
    for (QMenu* m : w.menus())
      titles << m->title();
    QCOMPARE(titles, (QStringList{"&Connect", "&Operation", "D&atabases", "&Database", "&Table",
                                  "&Help", "&About"}));
    QCOMPARE(w.action(32794)->text(), QString("Change Storage Engine(MyISAM)"));
    QCOMPARE(w.action(32785)->text(), QString("Orvane website"));
    for (int i = 2; i <= 4; ++i) {
      QVERIFY(!w.menus()[i]->menuAction()->isEnabled());
      for (QAction* a : w.menus()[i]->actions())
        QVERIFY(!a->isEnabled());
    }

    // A selected root enables "D&atabases"; on the target tree only New
    // Database within it (the workbook is no MySQL server).
    w.workspace().target.tree.Replace({{0, NodeKind::Root, "Excel", kNoNode, {1}, true},
                                       {1, NodeKind::Database, "/x/book", 0, {}}});
    w.RedrawTree(DataSourceSide::Target);
    QVERIFY(w.SelectNode(DataSourceSide::Target, {{NodeKind::Root, "Excel"}}));
    QVERIFY(w.menus()[2]->menuAction()->isEnabled());
    QVERIFY(!w.menus()[3]->menuAction()->isEnabled());
    QVERIFY(w.action(kCmdNewDatabase)->isEnabled());
    QVERIFY(!w.action(kCmdChangeCharset)->isEnabled());
    QVERIFY(w.SelectNode(DataSourceSide::Target,
                         {{NodeKind::Root, "Excel"}, {NodeKind::Database, "/x/book"}}));
    QVERIFY(!w.menus()[2]->menuAction()->isEnabled());
    QVERIFY(w.action(kCmdDeleteDatabase)->isEnabled());

    // New Database needs the target root; Change Charset needs the source
    // tree's focus; Enter and Escape leave the window open.
    Answers answers;
    answers.Install(w);
    w.RunCommand(kCmdNewDatabase);
    QCOMPARE(answers.asked, (std::vector<std::string>{
                                "Ok: Can only create database in TARGET!!!\nPlease Select Target "
                                "ROOT to create new database!"}));
    w.tree(DataSourceSide::Target)->setFocus();
    w.RunCommand(kCmdChangeCharset);
    QVERIFY(!w.CommandsPending());
    QTest::keyClick(w.tree(DataSourceSide::Target), Qt::Key_Escape);
    QTest::keyClick(w.tree(DataSourceSide::Target), Qt::Key_Return);
    QVERIFY(w.isVisible());

    // Migration Condition from the menu opens the dialog of the selected
    // source table.
    w.workspace().source.tree.Replace({{0, NodeKind::Root, "DATABASES", kNoNode, {1}, true},
                                       {1, NodeKind::Database, "shop", 0, {2}, true},
                                       {2, NodeKind::TablesFolder, "Tables", 1, {3}, true},
                                       {3, NodeKind::Table, "orders", 2, {}}});
    w.RedrawTree(DataSourceSide::Source);
    QVERIFY(w.SelectNode(DataSourceSide::Source, w.workspace().source.tree.PathOf(3)));
    QVERIFY(w.action(kCmdMigrationCondition)->isEnabled());
    QString conditionTitle;
    QTimer poll;
    connect(&poll, &QTimer::timeout, [&] {
      if (auto* dlg = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
        conditionTitle = dlg->windowTitle();
        dlg->reject();
      }
    });
    poll.start(20);
    w.action(kCmdMigrationCondition)->trigger();
    QVERIFY(w.WaitForCommands());
    poll.stop();
    QCOMPARE(conditionTitle, QString("Migration Condition - shop.orders"));

    // The manual: a message while it is missing, the desktop's handler once
    // it is there (F1 and the menu item alike); commands nobody knows are
    // logged.
    std::vector<QUrl> opened;
    w.SetUrlOpener([&](const QUrl& u) {
      opened.push_back(u);
      return true;
    });
    answers.asked.clear();
    w.RunCommand(kCmdManual);
    QCOMPARE(answers.asked.size(), size_t(1));
    QVERIFY(answers.asked[0].find("manual/index.html") != std::string::npos);
    std::filesystem::create_directories(dir / "manual");
    testing::WriteFile(dir / "manual/index.html", "<html></html>");
    w.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    QTest::keySequence(&w, QKeySequence::HelpContents);
    w.RunCommand(kCmdWebsite);
    QCOMPARE(opened.size(), size_t(2));
    QCOMPARE(opened[0],
             QUrl::fromLocalFile(QString::fromStdString((dir / "manual/index.html").string())));
    QCOMPARE(opened[1], QUrl(kProjectPageUrl));
    // Without a web browser a message says so, naming the manual's file.
    w.SetUrlOpener([](const QUrl&) { return false; });
    answers.asked.clear();
    w.RunCommand(kCmdManual);
    w.RunCommand(kCmdWebsite);
    QCOMPARE(answers.asked.size(), size_t(2));
    QVERIFY2(answers.asked[0].find("No web browser") != std::string::npos &&
                 answers.asked[0].find((dir / "manual/index.html").string()) != std::string::npos,
             answers.asked[0].c_str());
    QVERIFY2(answers.asked[1].find(kProjectPageUrl) != std::string::npos, answers.asked[1].c_str());
    w.frontend().PostCommand(4242);
    QTRY_VERIFY(LogHas(w.outputPane(), "Command 4242 is not known to the window; ignored."));
  }

  void deleteThroughTheToolBarAsksTwiceAndRemovesTheTable() {
    TempDir dir;
    auto wb = xls::Workbook::New();
    for (const char* name : {"orders", "items"}) {
      auto i = wb.AddSheet(name);
      QVERIFY(i.ok());
      QVERIFY(wb.sheet(*i).SetText(0, 0, "id").ok());
      QVERIFY(wb.DefineName(name, *i, xls::Range{0, 0, 0, 0}).ok());
    }
    const std::string book = (dir / "shop.xls").string();
    QVERIFY(wb.Save(book).ok());
    MainWindow w(dir.str());
    w.show();
    Answers answers;
    answers.Install(w);
    ConnectionSettings s;
    s.providerId = kJetProvider;
    s.sourceName = book;
    w.workspace().target.SetSettings(s);
    w.RunWork("Connect", [&] { Connect(w.workspace(), DataSourceSide::Target); });
    QVERIFY(w.WaitForCommands());
    const NodePath orders = PathTo(w, DataSourceSide::Target, NodeKind::Table, "orders");
    QVERIFY(!orders.empty());

    // Cancel keeps it, OK and Yes delete it.
    QVERIFY(w.SelectNode(DataSourceSide::Target, orders));
    answers.queue = {Answer::Cancel};
    w.action(kCmdDeleteButton)->trigger();
    QVERIFY(w.WaitForCommands());
    QVERIFY(w.workspace().target.tree.Find(orders) != kNoNode);
    QVERIFY(w.SelectNode(DataSourceSide::Target, orders));
    answers.queue = {Answer::Ok, Answer::Yes};
    w.action(kCmdDeleteSelected)->trigger();
    QVERIFY(w.WaitForCommands());
    QCOMPARE(answers.asked.size(), size_t(3));
    QVERIFY(answers.asked[2].rfind("YesNo: After remove, you can not restore the table [", 0) == 0);
    QCOMPARE(w.workspace().target.tree.Find(orders), kNoNode);
    QVERIFY(LogHas(w.outputPane(), "Drop Table SUCCESSFULLY!!!"));
    // The view shows the rebuilt tree: items is there, orders is not.
    auto* model = w.tree(DataSourceSide::Target)->treeModel();
    QStringList shown;
    std::function<void(const QModelIndex&)> walk = [&](const QModelIndex& parent) {
      for (int r = 0; r < model->rowCount(parent); ++r) {
        const QModelIndex i = model->index(r, 0, parent);
        shown << i.data().toString();
        walk(i);
      }
    };
    walk({});
    QVERIFY(shown.contains("items"));
    QVERIFY(!shown.contains("orders"));
  }

  void aTaskThatIgnoresTheStopEndsTheProgramWithAStatusAndItsName() {
    TempDir dir;
    std::atomic<bool> release{false};
    MainWindow::Options options;
    options.timing.period = std::chrono::milliseconds(20);
    options.timing.taskStart = options.timing.afterStart = options.timing.stopWait =
        std::chrono::milliseconds(1);
    options.closeLimit = std::chrono::milliseconds(300);
    options.taskFunctions = TaskFunctionTable{};
    options.taskFunctions->functions[kMigrateTable] = [&](TaskContext&) {
      while (!release.load())
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
      return true;
    };
    auto w = std::make_unique<MainWindow>(dir.str(), options);
    w->show();
    Answers answers;
    answers.Install(*w);
    int status = -1;
    w->SetAbandonHandler([&](int s) { status = s; });
    StartOrdersTask(*w);
    QTRY_VERIFY(!WorkingTasksText(w->workspace().tasks).empty());

    // Cancel keeps the window; OK closes it, and the stuck task ends the
    // program with its own status.
    answers.queue = {Answer::Cancel};
    w->close();
    QVERIFY(w->isVisible());
    QCOMPARE(answers.asked.back(),
             std::string("OkCancel: Some Tasks is Processing, STOP ALL and EXIT?"));
    w->close();
    QVERIFY(w->isVisible());  // saying what it waits for, until the limit
    QVERIFY(w->closingBanner()->isVisible());
    QVERIFY2(w->closingBanner()->text().contains("the migration of [shop].[orders] into "
                                                 "[/data/book]"),
             qPrintable(w->closingBanner()->text()));
    QTRY_COMPARE_WITH_TIMEOUT(status, kExitTaskAbandoned, 5000);
    release = true;
    w.reset();
  }

  // A task that takes a while to stop keeps the closing window up, saying
  // what it waits for and how far the copy got; when it has ended the window
  // says what the closing cut short and goes.
  void closingWaitsForTheTaskAndSaysWhatItCutShort() {
    TempDir dir;
    MainWindow::Options options;
    options.timing.period = std::chrono::milliseconds(20);
    options.timing.taskStart = options.timing.afterStart = options.timing.stopWait =
        std::chrono::milliseconds(1);
    options.taskFunctions = TaskFunctionTable{};
    options.taskFunctions->functions[kMigrateTable] = [](TaskContext& ctx) {
      RowProgress rows;
      rows.table = "orders";
      rows.expected = 5000;
      rows.active = true;
      while (ctx.ws.State() != ControllerState::Stopping) {
        rows.done = std::min<std::int64_t>(rows.done + 10, 1000);
        ctx.SetRowProgress(rows);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(400));  // winding down
      rows.done = 1234;
      rows.active = false;
      ctx.SetRowProgress(rows);
      return false;
    };
    auto w = std::make_unique<MainWindow>(dir.str(), options);
    w->show();
    Answers answers;
    answers.Install(*w);
    bool closed = false;
    w->SetClosedHandler([&] { closed = true; });
    StartOrdersTask(*w);
    QTRY_VERIFY(w->workspace().tasks.Snapshot()[0].rows.done > 0);

    w->close();
    QVERIFY(w->isVisible());
    QVERIFY(w->closingBanner()->isVisible());
    QVERIFY(!w->toolBar()->isEnabled());
    QCOMPARE(w->CurrentTab(), int(kLogTab));
    QTRY_VERIFY2(w->closingBanner()->text().contains("now at [orders] "),
                 qPrintable(w->closingBanner()->text()));
    QTRY_VERIFY_WITH_TIMEOUT(closed, 5000);
    QVERIFY(!w->isVisible());
    QVERIFY2(answers.asked.back().find("[shop].[orders] into [/data/book] was stopped before its "
                                       "end. Of the table [orders] 1234 of 5000 rows arrived.") !=
                 std::string::npos,
             answers.asked.back().c_str());
    w.reset();
  }
};

QTEST_MAIN(MainWindowTest)
#include "main_window_test.moc"
