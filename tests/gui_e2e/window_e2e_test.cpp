// The window driven as a person would, off screen, against the private
// MariaDB server: the configuration dialog filled in for both sides, Connect,
// a source database and the target root selected, Migrate and its question
// answered, the task followed to its end, then the target tree and the
// workbook checked.

// The core's headers come before Qt's.
#include "app/workspace.h"
#include "oledb/operations.h"
#include "tasks/controller.h"
#include "testlib/testlib.h"
#include "workflows/connect.h"
#include "workflows/main_commands.h"
#include "workflows/migration.h"
#include "xls/workbook.h"

#include <unistd.h>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>
#include <filesystem>

#include "app/qt/main_window.h"
#include "app/qt/output_pane.h"
#include "app/qt/qt_frontend.h"
#include "app/qt/task_pane.h"
#include "browser/qt/db_tree_model.h"
#include "browser/qt/db_tree_view.h"
#include "config/qt/connection_config_dialog.h"

using namespace migrator;
using namespace migrator::gui;
using migrator::testing::TempDir;

namespace {

template <class W>
W* Child(QObject* parent, const char* name) {
  W* w = parent->findChild<W*>(QString::fromLatin1(name));
  if (!w) qFatal("no child %s", name);
  return w;
}

bool RootSql(const testing::MySqlServer& server, const std::string& sql) {
  const auto r = testing::RunCommand(testing::RootClient(server) + " -e " +
                                     testing::ShellQuote(sql) + " 2>&1");
  if (r.status != 0) qWarning("%s", r.out.c_str());
  return r.status == 0;
}

void Choose(QComboBox* box, const QString& text) {
  const int i = box->findText(text);
  QVERIFY2(i >= 0, qPrintable(text));
  box->setCurrentIndex(i);
  emit box->textActivated(text);
}

// The texts the tree view shows, depth first.
QStringList Shown(DbTreeView* view) {
  QStringList out;
  auto* model = view->treeModel();
  std::function<void(const QModelIndex&)> walk = [&](const QModelIndex& parent) {
    for (int r = 0; r < model->rowCount(parent); ++r) {
      const QModelIndex i = model->index(r, 0, parent);
      out << i.data().toString();
      walk(i);
    }
  };
  walk({});
  return out;
}

// An empty workbook of one sheet.
bool MakeBook(const std::string& path) {
  auto wb = xls::Workbook::New();
  return wb.AddSheet("Sheet1").ok() && wb.Save(path).ok();
}

// Every question gets OK; the texts are kept.
void AnswerOk(MainWindow& w, std::vector<std::string>& asked) {
  w.qtFrontend().SetAnswerer([&asked](const std::string& text, Buttons, const std::string&) {
    asked.push_back(text);
    return std::optional<Answer>(Answer::Ok);
  });
}

}  // namespace

class WindowEndToEndTest : public QObject {
  Q_OBJECT
 private slots:
  void configureConnectMigrateAndCheckTheWorkbook() {
    const auto server = testing::TestMySqlServer();
    if (!server) QSKIP("no private MariaDB server (run scripts/with-mariadb.sh)");
    const std::string db = "window_e2e_" + std::to_string(::getpid());
    QVERIFY(RootSql(*server, "create database " + db + "; use " + db +
                                 "; create table customers (id int, name varchar(20));"
                                 " insert into customers select seq, concat('c', seq)"
                                 " from seq_1_to_30;"
                                 " create table orders (id int, customer int);"
                                 " insert into orders values (1, 7), (2, 9);"));

    TempDir dir;
    const std::string book = (dir / "Start.xls").string();
    QVERIFY(MakeBook(book));
    MainWindow::Options options;
    options.timing.period = std::chrono::milliseconds(200);
    MainWindow w(dir.str(), options);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    std::vector<std::string> asked;
    AnswerOk(w, asked);

    // Configure: the dialog opens from the tool bar; the person fills in both
    // sides and presses Connect, which connects them.
    bool filled = false;
    QTimer::singleShot(0, [&] {
      auto* dlg = qobject_cast<ConnectionConfigDialog*>(QApplication::activeModalWidget());
      if (!dlg) return;
      Choose(Child<QComboBox>(dlg, "sourceProvider"), "TCP/IP:Port");
      Child<QComboBox>(dlg, "sourceSourceName")
          ->setEditText(QString::fromStdString(server->host + ":" + server->port));
      Child<QLineEdit>(dlg, "sourceUserId")->setText(QString::fromStdString(server->user));
      Child<QLineEdit>(dlg, "sourcePassword")->setText(QString::fromStdString(server->password));
      Choose(Child<QComboBox>(dlg, "targetProvider"), "Microsoft Jet 4.0 OLE DB Provider");
      Child<QComboBox>(dlg, "targetSourceName")->setEditText(QString::fromStdString(book));
      filled = true;
      Child<QPushButton>(dlg, "connectButton")->click();
    });
    w.action(kCmdConfigButton)->trigger();
    QVERIFY(filled);
    QTRY_VERIFY_WITH_TIMEOUT(w.workspace().target.Connected(), 30000);
    QVERIFY(w.WaitForCommands());
    QVERIFY(w.workspace().source.Connected());
    QVERIFY(w.workspace().target.Connected());
    QVERIFY(w.folder(DataSourceSide::Source)->title().contains("MariaDB") ||
            w.folder(DataSourceSide::Source)->title().contains("MySQL"));
    QVERIFY(Shown(w.tree(DataSourceSide::Source)).contains(QString::fromStdString(db)));

    // Select the source database and the target root, then Migrate.
    const DbTree& source = w.workspace().source.tree;
    const DbTree& target = w.workspace().target.tree;
    NodePath sourceDb, targetRoot;
    for (const TreeNode& n : source.Nodes())
      if (n.id != kNoNode && n.kind == NodeKind::Database && n.text == db)
        sourceDb = source.PathOf(n.id);
    for (const TreeNode& n : target.Nodes())
      if (n.id != kNoNode && n.kind == NodeKind::Root) targetRoot = target.PathOf(n.id);
    QVERIFY(w.SelectNode(DataSourceSide::Source, sourceDb));
    QVERIFY(w.SelectNode(DataSourceSide::Target, targetRoot));
    asked.clear();
    w.action(kCmdMigrateButton)->trigger();
    QVERIFY(w.WaitForCommands());
    QCOMPARE(asked, std::vector<std::string>{"Clone database [" + db + "] of source tree?"});

    // The task runs to its end; the task list shows it.
    QCOMPARE(int(w.workspace().tasks.Size()), 1);
    QTRY_VERIFY_WITH_TIMEOUT(w.workspace().tasks.Snapshot()[0].state != kTaskWaiting, 120000);
    QCOMPARE(QString::fromStdString(w.workspace().tasks.Snapshot()[0].stateText),
             QString("SUCCESS"));
    QTRY_COMPARE_WITH_TIMEOUT(w.taskPane()->table()->item(0, 3)->text(), QString("SUCCESS"), 5000);

    // The target tree shows the new workbook with both tables.
    QTRY_VERIFY_WITH_TIMEOUT(Shown(w.tree(DataSourceSide::Target)).contains("customers"), 5000);
    QVERIFY(Shown(w.tree(DataSourceSide::Target)).contains("orders"));

    // The workbook holds the rows, below a header row.
    const std::string made = (dir / (db + ".xls")).string();
    QVERIFY(std::filesystem::exists(made));
    w.workspace().target.session.Reset();  // a released session has saved everything
    w.workspace().target.dataSource.Reset();
    auto wb = xls::Workbook::Load(made);
    QVERIFY(wb.ok());
    const auto sheet = wb->FindSheet("customers");
    QVERIFY(sheet.has_value());
    QCOMPARE(QString::fromStdString(wb->sheet(*sheet).GetValue(0, 1).text), QString("name"));
    int rows = 0;
    while (wb->sheet(*sheet).GetCell(rows + 1, 0).exists)
      ++rows;
    QCOMPARE(rows, 30);
    QCOMPARE(QString::fromStdString(wb->sheet(*sheet).GetValue(30, 1).text), QString("c30"));
    RootSql(*server, "drop database " + db);
  }

  // A source whose server went away (its connection killed here) is found
  // by the next migration and marked: title, note with the reason, greyed
  // tree, red lines. A failed target Connect leaves no usable old tree and
  // its message box gives the reason.
  void aLostOrFailedSideIsMarkedWithItsReason() {
    const auto server = testing::TestMySqlServer();
    if (!server) QSKIP("no private MariaDB server (run scripts/with-mariadb.sh)");
    const std::string db = "window_lost_" + std::to_string(::getpid());
    QVERIFY(RootSql(*server, "create database " + db + "; use " + db +
                                 "; create table t (id int); insert into t values (1);"));
    TempDir dir;
    const std::string book = (dir / "Start.xls").string();
    QVERIFY(MakeBook(book));
    MainWindow::Options options;
    options.timing.period = std::chrono::milliseconds(50);
    MainWindow w(dir.str(), options);
    w.show();
    std::vector<std::string> asked;
    AnswerOk(w, asked);
    Workspace& ws = w.workspace();
    ConnectionSettings source;
    source.providerText = "TCP/IP:Port";
    source.providerId = "MSDASQL";
    source.sourceName = server->host + ":" + server->port;
    source.userId = server->user;
    source.password = server->password;
    source.catalogName = db;
    ws.source.SetSettings(source);
    ConnectionSettings target;
    target.providerId = "Microsoft.Jet.OLEDB.4.0";
    target.sourceName = book;
    ws.target.SetSettings(target);
    w.RunWork("Connect", [&] {
      Connect(ws, DataSourceSide::Source);
      Connect(ws, DataSourceSide::Target);
    });
    QVERIFY(w.WaitForCommands());
    QVERIFY(ws.source.Connected() && ws.target.Connected());
    QVERIFY(!w.sideNote(DataSourceSide::Source)->isVisible());
    QVERIFY(w.tree(DataSourceSide::Source)->isEnabled());

    const std::string id =
        oledb::QuerySingleValue(w.frontend(), &ws.source.session, "select connection_id()");
    QVERIFY(RootSql(*server, "kill " + id));
    Task task;
    task.kind = kMigrationTask;
    task.typeCode = kMigrateTable;
    task.sourceDatabase = db;
    task.sourceObject = "t";
    task.targetDatabase = book;
    const TaskId queued = QueueMigrationTask(ws, task);
    QTRY_VERIFY_WITH_TIMEOUT(ws.tasks.Find(queued)->state != kTaskWaiting, 60000);
    QTRY_VERIFY(w.folder(DataSourceSide::Source)->title().endsWith("connection lost"));
    QVERIFY(w.folder(DataSourceSide::Source)->title().contains("MariaDB"));
    QVERIFY(w.sideNote(DataSourceSide::Source)->isVisible());
    QVERIFY(w.sideNote(DataSourceSide::Source)->text().startsWith("Connection lost: "));
    QVERIFY(!w.tree(DataSourceSide::Source)->isEnabled());
    bool red = false;
    OutputPane* log = w.outputPane();
    QTRY_VERIFY(log->count() > 0);
    for (int i = 0; i < log->count(); ++i) {
      if (log->item(i)->text().contains("Source connection lost: "))
        red = log->item(i)->data(OutputPane::kTextColourRole).value<QColor>() == QColor(255, 0, 0);
    }
    QVERIFY(red);

    // The target's Connect fails: the message box says why, and the tree of
    // the workbook before is gone.
    QVERIFY(Shown(w.tree(DataSourceSide::Target)).size() > 0);
    target.sourceName = (dir / "no such folder" / "gone.xls").string();
    ws.target.SetSettings(target);
    asked.clear();
    w.RunWork("Connect", [&] { Connect(ws, DataSourceSide::Target); });
    QVERIFY(w.WaitForCommands());
    QCOMPARE(int(asked.size()), 1);
    QVERIFY2(asked[0].rfind("Target Connection error!\n\n", 0) == 0 && asked[0].size() > 30,
             asked[0].c_str());
    QTRY_VERIFY(Shown(w.tree(DataSourceSide::Target)).isEmpty());
    QVERIFY(!w.tree(DataSourceSide::Target)->isEnabled());
    QCOMPARE(w.folder(DataSourceSide::Target)->title(), QString("Excel - not connected"));

    // Connected again, the source is usable and unmarked.
    w.RunWork("Connect", [&] { Connect(ws, DataSourceSide::Source); });
    QVERIFY(w.WaitForCommands());
    QTRY_VERIFY(w.tree(DataSourceSide::Source)->isEnabled());
    QVERIFY(!w.sideNote(DataSourceSide::Source)->isVisible());
    QVERIFY(!w.folder(DataSourceSide::Source)->title().contains("lost"));
    RootSql(*server, "drop database " + db);
  }

  // migrator --connect: both sides connected from the fields the file keeps.
  void connectAtStartUsesTheFieldsOfTheFile() {
    const auto server = testing::TestMySqlServer();
    if (!server) QSKIP("no private MariaDB server (run scripts/with-mariadb.sh)");
    TempDir dir;
    const std::string book = (dir / "Start.xls").string();
    QVERIFY(MakeBook(book));
    testing::WriteFile(dir / "migrator.cfg",
                       "[Public]\nConfig=true\nTips=false\nAutoBackup=false\n[SourceDB]\n"
                       "Provider=TCP/IP:Port\nSourceName=" +
                           server->host + ":" + server->port + "\nUserID=" + server->user +
                           "\nPassWord=" + server->password +
                           "\nCatalogName=\n[TargetDB]\n"
                           "Provider=Microsoft Jet 4.0 OLE DB Provider\nSourceName=" +
                           book + "\nUserID=\nPassWord=\nCatalogName=\n");
    MainWindow w(dir.str());
    w.show();
    std::vector<std::string> asked;
    AnswerOk(w, asked);
    w.PostConnectFromConfig();
    QTRY_VERIFY_WITH_TIMEOUT(w.workspace().target.Connected(), 30000);
    QVERIFY(w.WaitForCommands());
    QVERIFY(w.workspace().source.Connected());
    QVERIFY2(asked.empty(), asked.empty() ? "" : asked.front().c_str());
  }
};

QTEST_MAIN(WindowEndToEndTest)
#include "window_e2e_test.moc"
