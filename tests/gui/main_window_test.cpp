// The window, drawn off screen: coloured output lines, task rows, status bar.

#include <QAbstractButton>
#include <QMessageBox>
#include <QProgressBar>
#include <QTableWidget>
#include <QtTest>

#include "app/output.h"
#include "app/qt/main_window.h"
#include "app/qt/output_pane.h"
#include "app/qt/task_pane.h"
#include "app/workspace.h"
#include "tasks/controller.h"

using namespace migrator;
using namespace migrator::gui;

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
};

QTEST_MAIN(MainWindowTest)
#include "main_window_test.moc"
