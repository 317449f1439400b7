// The Log and Task List panes, drawn off screen: line colours, cut lines and
// their tool tips, following the newest line, copy and save, bursts of lines
// from another thread, and a task's row copy shown in its row.

#include <QAbstractButton>
#include <QApplication>
#include <QClipboard>
#include <QHelpEvent>
#include <QMessageBox>
#include <QScrollBar>
#include <QSignalSpy>
#include <QToolTip>
#include <QtTest>
#include <atomic>
#include <filesystem>
#include <thread>

#include "app/output.h"
#include "app/qt/main_window.h"
#include "app/qt/output_pane.h"
#include "app/qt/task_pane.h"
#include "app/workspace.h"
#include "tasks/controller.h"
#include "testlib/testlib.h"
#include "workflows/connect.h"
#include "workflows/migration.h"
#include "xls/workbook.h"

using namespace migrator;
using namespace migrator::gui;
using migrator::testing::ReadFile;
using migrator::testing::TempDir;

namespace {

OutputLine Line(const std::string& message) {
  return MakeOutputLine(message, "2026/01/02 03:04:05:006 ");
}

// Answers the next message box with OK and keeps its text.
void AnswerNextBox(QString* text) {
  QTimer::singleShot(50, [text] {
    for (QWidget* top : QApplication::topLevelWidgets()) {
      if (auto* box = qobject_cast<QMessageBox*>(top); box && box->isVisible()) {
        *text = box->text();
        box->button(QMessageBox::Ok)->click();
        return;
      }
    }
    AnswerNextBox(text);
  });
}

QString First(OutputPane& pane) {
  return pane.lines()->line(pane.indexAt(QPoint(10, 2)).row()).text;
}

}  // namespace

class PanesTest : public QObject {
  Q_OBJECT
 private slots:
  void linesAreColouredAndALongLineIsCutWithItsTextInTheToolTip() {
    OutputPane pane;
    pane.resize(400, 200);
    pane.show();
    QVERIFY(QTest::qWaitForWindowExposed(&pane));
    pane.AppendLine(Line("E::"));
    pane.AppendLine(Line("S::done"));
    pane.AppendLine(Line("T::warn"));
    pane.AppendLine(Line("e::plain 100% [a%sb]"));
    std::string words;
    for (int i = 0; i < 120; ++i)
      words += "word" + std::to_string(i) + " ";
    pane.AppendLine(Line("E::" + words + "end"));

    QCOMPARE(pane.item(0)->text(), QString("2026/01/02 03:04:05:006 "));
    QCOMPARE(pane.item(0)->data(OutputPane::kTextColourRole).value<QColor>(), QColor(255, 0, 0));
    QCOMPARE(pane.item(1)->data(OutputPane::kTextColourRole).value<QColor>(), QColor(0, 255, 0));
    QCOMPARE(pane.item(2)->data(OutputPane::kTextColourRole).value<QColor>(), QColor(255, 128, 0));
    QCOMPARE(pane.item(3)->data(OutputPane::kColouredRole).toBool(), false);
    QCOMPARE(pane.item(3)->data(OutputPane::kTextColourRole).value<QColor>(), QColor(0, 0, 0));
    QVERIFY(pane.item(3)->text().endsWith("e::plain 100% [a%sb]"));
    QCOMPARE(pane.item(4)->data(OutputPane::kBackColourRole).value<QColor>(),
             QColor(255, 255, 255));

    // A short line is drawn whole; the long one is cut to the pane's width.
    QCOMPARE(pane.ShownText(2), pane.item(2)->text());
    const QString full = pane.item(4)->text();
    const QString shown = pane.ShownText(4);
    QVERIFY(shown.endsWith(QChar(0x2026)));
    QVERIFY(full.startsWith(shown.chopped(1)));
    QVERIFY(pane.fontMetrics().horizontalAdvance(shown) < pane.viewport()->width());
    QVERIFY(pane.visualRect(pane.lines()->index(4)).width() >= pane.viewport()->width() - 4);

    // The tool tip holds the whole text in lines of at most 500 pixels.
    QCOMPARE(pane.item(4)->data(Qt::ToolTipRole).toString(), full);
    const QString tip = pane.ToolTipText(4);
    QVERIFY(tip.contains('\n'));
    QCOMPARE(QString(tip).replace('\n', ' '), full.trimmed());
    for (const QString& l : tip.split('\n'))
      QVERIFY(QFontMetrics(QToolTip::font()).horizontalAdvance(l) <= 500);
    // Shown for the line under the mouse; none below the last line.
    const QPoint at = pane.visualRect(pane.lines()->index(4)).center();
    QHelpEvent over(QEvent::ToolTip, at, pane.viewport()->mapToGlobal(at));
    QApplication::sendEvent(pane.viewport(), &over);
    QTRY_COMPARE(QToolTip::text(), tip);
    const QPoint below(10, pane.viewport()->height() - 2);
    QHelpEvent empty(QEvent::ToolTip, below, pane.viewport()->mapToGlobal(below));
    QApplication::sendEvent(pane.viewport(), &empty);
    QTRY_VERIFY(!QToolTip::isVisible());
  }

  void followsTheNewestLineUnlessScrolledUp() {
    OutputPane pane;
    pane.resize(400, 200);
    pane.show();
    QVERIFY(QTest::qWaitForWindowExposed(&pane));
    for (int i = 0; i < 300; ++i)
      pane.AppendLine(Line("line " + std::to_string(i)));
    QScrollBar* bar = pane.verticalScrollBar();
    QVERIFY(bar->maximum() > 0);
    QCOMPARE(bar->value(), bar->maximum());
    QCOMPARE(pane.currentRow(), 299);

    // Scrolled up: new lines neither move the view nor the selection, even
    // when the oldest lines make room for them.
    bar->setValue(bar->maximum() / 2);
    QVERIFY(!pane.Following());
    const QString reading = First(pane);
    for (int i = 300; i < 1100; ++i)
      pane.AppendLine(Line("line " + std::to_string(i)));
    QCOMPARE(pane.count(), 1001);
    QCOMPARE(pane.currentRow(), 299 - 99);  // the same line, 99 rows dropped before it
    QCOMPARE(First(pane), reading);

    // A person's choice of lines survives new lines at the bottom as well.
    pane.scrollToBottom();
    pane.selectionModel()->select(pane.lines()->index(5), QItemSelectionModel::ClearAndSelect);
    pane.AppendLine(Line("line 1100"));
    QVERIFY(pane.selectionModel()->isRowSelected(4, {}));
    QCOMPARE(bar->value(), bar->maximum());

    // Back at the bottom with the newest line chosen: following again.
    pane.selectionModel()->setCurrentIndex(pane.lines()->index(1000),
                                           QItemSelectionModel::ClearAndSelect);
    pane.AppendLine(Line("line 1101"));
    QCOMPARE(pane.currentRow(), 1000);
    QVERIFY(pane.item(1000)->text().endsWith("line 1101"));
    QCOMPARE(bar->value(), bar->maximum());
  }

  void copiesAndSavesTheLines() {
    OutputPane pane;
    pane.show();
    for (int i = 0; i < 5; ++i)
      pane.AppendLine(Line(i == 2 ? "E::red " + std::to_string(i) : "line " + std::to_string(i)));
    pane.selectionModel()->select(pane.lines()->index(3), QItemSelectionModel::ClearAndSelect);
    pane.selectionModel()->select(pane.lines()->index(1), QItemSelectionModel::Select);
    pane.CopySelection();
    QCOMPARE(QApplication::clipboard()->text(),
             "2026/01/02 03:04:05:006 line 1\n2026/01/02 03:04:05:006 line 3");

    TempDir dir;
    const std::string path = (dir / "log.txt").string();
    QVERIFY(pane.SaveLog(QString::fromStdString(path)));
    const std::string saved = ReadFile(path);
    QCOMPARE(std::count(saved.begin(), saved.end(), '\n'), 5L);
    QVERIFY(saved.find("006 red 2\n2026") != std::string::npos);

    // A file that cannot be written: a message naming it, and no success.
    QString said;
    AnswerNextBox(&said);
    const QString bad = QString::fromStdString((dir / "no/such/dir/log.txt").string());
    QVERIFY(!pane.SaveLog(bad));
    QVERIFY2(said.contains(bad), qPrintable(said));
  }

  void aBurstFromAnotherThreadArrivesWholeInOrderAndBatched() {
    OutputPane pane;
    pane.show();
    QSignalSpy inserts(pane.lines(), &QAbstractItemModel::rowsInserted);
    pane.AppendLine(Line("before"));
    std::thread worker([&] {
      for (int i = 0; i < 500; ++i)
        pane.PostLine(Line("worker " + std::to_string(i)));
    });
    worker.join();
    // A line of the window thread comes after everything posted before it.
    pane.AppendLine(Line("after"));
    QCOMPARE(pane.count(), 502);
    QVERIFY(pane.item(0)->text().endsWith(" before"));
    for (int i = 0; i < 500; ++i)
      QVERIFY(pane.item(i + 1)->text().endsWith(QStringLiteral(" worker %1").arg(i)));
    QVERIFY(pane.item(501)->text().endsWith(" after"));

    // Far more than the pane holds: the newest 1001, in order, in a few
    // updates, without any call from the window thread.
    inserts.clear();
    std::atomic<bool> done{false};
    std::thread flood([&] {
      for (int i = 0; i < 20000; ++i)
        pane.PostLine(Line("flood " + std::to_string(i)));
      done = true;
    });
    QTRY_VERIFY(done.load());
    flood.join();
    QTRY_VERIFY(pane.lines()->rowCount() == 1001 &&
                pane.lines()->line(1000).text.endsWith(" flood 19999"));
    for (int i = 0; i < 1001; ++i)
      QVERIFY(pane.lines()->line(i).text.endsWith(QStringLiteral(" flood %1").arg(18999 + i)));
    QVERIFY2(inserts.count() < 200, qPrintable(QString::number(inserts.count())));
  }

  void aTaskShowsItsRowCopyInItsRow() {
    TaskPane pane;
    pane.resize(900, 200);
    pane.show();
    TaskList list;
    Task t;
    t.typeCode = kMigrateTable;
    t.sourceDatabase = "shop";
    t.sourceObject = "orders";
    const TaskId id = list.Append(t);
    Task other;
    other.typeCode = kMigrateTable;
    list.Append(other);
    pane.ShowRows(list.Rebuild());
    QCOMPARE(pane.bar(0)->value(), 5);  // waiting
    QVERIFY(!pane.bar(0)->isTextVisible());

    list.MarkStarted(id, 1);
    RowProgress rows;
    rows.table = "orders";
    rows.done = 1500;
    rows.expected = 6000;
    rows.rowsPerSecond = 1234.4;
    rows.active = true;
    list.SetRowProgress(id, rows);
    TaskProgressBar* bar = pane.bar(0);
    pane.ShowRows(list.Rebuild());
    QCOMPARE(pane.bar(0), bar);  // the same bar, filled again
    QCOMPARE(pane.table()->item(0, 3)->text(), QString("Working"));
    QCOMPARE(bar->value(), 25);
    QVERIFY(bar->isTextVisible());
    QCOMPARE(bar->toolTip(), QString("[orders] 1500 of 6000 rows, 1234 rows/s"));
    QCOMPARE(pane.table()->item(0, 6)->toolTip(), bar->toolTip());
    // The text is as long as the cell allows.
    pane.table()->setColumnWidth(1, 300);
    QTRY_COMPARE(bar->text(), QString("1500/6000 rows, 1234 rows/s"));
    pane.table()->setColumnWidth(1, 36);
    QTRY_COMPARE(bar->text(), QString("25%"));
    pane.table()->setColumnWidth(1, 72);
    QVERIFY(pane.bar(1)->toolTip().isEmpty());

    // Moved down, the row's bar shows the other task; the copy ends.
    list.MoveDown(0);
    pane.ShowRows(list.Rebuild());
    QCOMPARE(pane.table()->item(1, 6)->text(), QString("orders"));
    QCOMPARE(pane.bar(1)->value(), 25);
    QCOMPARE(pane.bar(0)->value(), 5);
    rows.done = 6000;
    rows.active = false;
    list.SetRowProgress(id, rows);
    list.SetProgress(id, 90);
    pane.ShowRows(list.Rebuild());
    QCOMPARE(pane.bar(1)->value(), 90);
    QVERIFY(!pane.bar(1)->isTextVisible());
    QCOMPARE(pane.bar(1)->toolTip(), QString("[orders] 6000 of 6000 rows, 1234 rows/s"));
  }

  // A finished task's bar says how it ended in words and colour; the bar's
  // column holds the whole row figures of a large table; a task that starts
  // below the visible rows is scrolled into view.
  void aBarShowsTheOutcomeTheWholeFiguresAndAStartedTaskComesIntoView() {
    TaskPane pane;
    pane.resize(900, 160);
    pane.show();
    TaskList list;
    std::vector<TaskId> ids;
    for (int i = 0; i < 12; ++i) {
      Task t;
      t.typeCode = kMigrateTable;
      t.sourceObject = "t" + std::to_string(i);
      ids.push_back(list.Append(t));
    }
    list.MarkStarted(ids[0], 1);
    list.Finish(ids[0], true);
    list.MarkStarted(ids[1], 1);
    list.Finish(ids[1], false);
    pane.ShowRows(list.Rebuild());
    // The filled part's colour, away from the centred text.
    auto fill = [&](int row) {
      TaskProgressBar* bar = pane.bar(row);
      return bar->grab().toImage().pixelColor(bar->width() / 10, bar->height() / 2);
    };
    QCOMPARE(pane.bar(0)->text(), QString("SUCCESS"));
    QCOMPARE(pane.bar(1)->text(), QString("FAILURE"));
    const QColor success = fill(0), failure = fill(1);
    QVERIFY2(success.green() > success.red() && success.green() > success.blue(),
             qPrintable(success.name()));
    QVERIFY2(failure.red() > failure.green() && failure.red() > failure.blue(),
             qPrintable(failure.name()));

    // The last task starts while the view shows the first rows.
    const int last = 11;
    list.MarkStarted(ids[last], 2);
    RowProgress rows;
    rows.table = "t11";
    rows.done = 768;
    rows.expected = 5000;
    rows.rowsPerSecond = 1234;
    rows.active = true;
    list.SetRowProgress(ids[last], rows);
    QTableWidget* table = pane.table();
    table->scrollToTop();
    pane.ShowRows(list.Rebuild());
    QTRY_COMPARE(pane.bar(last)->text(), QString("768/5000 rows, 1234 rows/s"));
    const QRect shown = table->visualRect(table->model()->index(last, 0));
    QVERIFY2(table->viewport()->rect().contains(shown),
             qPrintable(QStringLiteral("row at %1..%2 of %3")
                            .arg(shown.top())
                            .arg(shown.bottom())
                            .arg(table->viewport()->height())));
  }

  void aMigrationReportsItsRowsToItsTask() {
    const auto server = testing::TestMySqlServer();
    if (!server) QSKIP("no private MariaDB server (run scripts/test.sh)");
    const std::string db = "panes_" + std::to_string(::getpid());
    const auto root = testing::RunCommand(
        testing::RootClient(*server) + " -e \"create database " + db + "; use " + db +
        "; create table t (id int, name varchar(20));"
        " insert into t select seq, concat('n', seq) from seq_1_to_3000;\" 2>&1");
    QVERIFY2(root.status == 0, root.out.c_str());

    TempDir dir;
    ControllerTiming fast;
    fast.period = std::chrono::milliseconds(20);
    fast.taskStart = fast.afterStart = fast.stopWait = std::chrono::milliseconds(1);
    MainWindow w(dir.str(), fast);
    w.show();
    Workspace& ws = w.workspace();
    ConnectionSettings source;
    source.providerText = "TCP/IP:Port";
    source.providerId = "MSDASQL";
    source.sourceName = server->host + ":" + server->port;
    source.userId = server->user;
    source.password = server->password;
    ws.source.SetSettings(source);
    Connect(ws, DataSourceSide::Source);
    QVERIFY(ws.source.Connected());
    const std::string book = (dir / "Target.xls").string();
    {
      auto wb = xls::Workbook::New();
      (void)wb.AddSheet("Sheet1");
      QVERIFY(wb.Save(book).ok());
    }
    ConnectionSettings target;
    target.providerId = "Microsoft.Jet.OLEDB.4.0";
    target.sourceName = book;
    ws.target.SetSettings(target);
    Connect(ws, DataSourceSide::Target);
    QVERIFY(ws.target.Connected());

    Task task;
    task.kind = kMigrationTask;
    task.typeCode = kMigrateTable;
    task.sourceDatabase = db;
    task.sourceObject = "t";
    task.targetDatabase = book;
    const TaskId id = QueueMigrationTask(ws, task);
    w.SetCurrentTab(kTaskListTab);
    QTRY_VERIFY_WITH_TIMEOUT(ws.tasks.Find(id)->state != kTaskWaiting, 60000);
    QCOMPARE(QString::fromStdString(ws.tasks.Find(id)->stateText), QString("SUCCESS"));
    const RowProgress rows = ws.tasks.Find(id)->rows;
    QCOMPARE(QString::fromStdString(rows.table), QString("t"));
    QCOMPARE(rows.done, 3000);
    QCOMPARE(rows.expected, 3000);
    QVERIFY(!rows.active);
    QVERIFY(rows.rowsPerSecond > 0);
    // The row shows it.
    QTRY_VERIFY(w.taskPane()->bar(0) &&
                w.taskPane()->bar(0)->toolTip().startsWith("[t] 3000 of 3000 rows, "));
    QTRY_COMPARE(w.taskPane()->bar(0)->value(), 100);
    testing::RunCommand(testing::RootClient(*server) + " -e \"drop database " + db + "\"");
  }
};

QTEST_MAIN(PanesTest)
#include "panes_test.moc"
