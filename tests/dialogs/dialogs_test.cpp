// The configuration, driver check and condition dialogs, drawn off screen over
// the real core: temporary program folders and driver files, real workbooks,
// and the private MariaDB server when it runs.

#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QToolButton>
#include <QTreeWidget>
#include <QtTest>
#include <filesystem>

#include "adapters/excel/excel_adapter.h"
#include "app/qt/main_window.h"
#include "app/scripted_frontend.h"
#include "app/workspace.h"
#include "browser/tree_commands.h"
#include "config/qt/connection_config_dialog.h"
#include "config/qt/driver_check_dialog.h"
#include "support/condition_file.h"
#include "support/qt/condition_dialog.h"
#include "testlib/server_source.h"
#include "testlib/testlib.h"
#include "workflows/connect.h"
#include "workflows/migration.h"
#include "xls/workbook.h"

using namespace migrator;
using namespace migrator::gui;
namespace fs = std::filesystem;
using migrator::testing::ReadFile;
using migrator::testing::TempDir;
using migrator::testing::WriteFile;

namespace {

template <class W>
W* Child(QObject* parent, const char* name) {
  W* w = parent->findChild<W*>(QString::fromLatin1(name));
  if (!w) qFatal("no child %s", name);
  return w;
}

QString Q(const std::string& s) {
  return QString::fromStdString(s);
}

void MakeWorkbook(const std::string& path) {
  auto wb = xls::Workbook::New();
  (void)wb.AddSheet("Sheet1");
  QVERIFY(wb.Save(path).ok());
}

// Runs SQL as root through the mariadb client.
bool RootSql(const testing::MySqlServer& server, const std::string& sql) {
  const auto r = testing::RunCommand("mariadb --no-defaults -u" + server.rootUser + " --socket='" +
                                     server.socket + "' -e \"" + sql + "\" 2>&1");
  if (r.status != 0) qWarning("%s", r.out.c_str());
  return r.status == 0;
}

// The source side on the private server, as the test user.
void ConnectSource(Workspace& ws, const testing::MySqlServer& server) {
  testing::ConnectServerSource(ws, server, "");
}

}  // namespace

class DialogsTest : public QObject {
  Q_OBJECT
 private slots:
  void configDialogShowsTheFileAndRunsEveryButton() {
    const auto server = testing::TestMySqlServer();
    TempDir dir;
    const std::string book = (dir / "Book.xls").string();
    MakeWorkbook(book);
    const std::string source = server ? server->host + ":" + server->port : "127.0.0.1:1";
    const std::string password = server ? server->password : "pw;}x";
    const std::string user = server ? server->user : "me";
    ConfigFile cfg(dir.str());
    ConfigForm stored;
    stored.config = true;
    stored.source = {"TCP/IP:Port", source, user, password, ""};
    stored.target = {"Microsoft Jet 4.0 OLE DB Provider", book, "", "", ""};
    ScriptedFrontend ui;
    QVERIFY(cfg.SaveOnConnect(stored));
    Workspace ws(ui, dir.str());

    ConnectionConfigDialog dlg(ws);
    dlg.show();
    QCOMPARE(dlg.windowTitle(), QString("Config"));
    QCOMPARE(Child<QComboBox>(&dlg, "sourceKind")->currentText(), QString("MySQL"));
    QVERIFY(!Child<QComboBox>(&dlg, "targetKind")->isEnabled());
    QCOMPARE(Child<QComboBox>(&dlg, "sourceProvider")->currentText(), QString("TCP/IP:Port"));
    QCOMPARE(Child<QLabel>(&dlg, "sourceSourceNameLabel")->text(), QString("Server:Port"));
    QCOMPARE(Child<QComboBox>(&dlg, "sourceSourceName")->currentText(), Q(source));
    auto* pw = Child<QLineEdit>(&dlg, "sourcePassword");
    QCOMPARE(pw->echoMode(), QLineEdit::Password);
    QCOMPARE(pw->text(), Q(password));
    QCOMPARE(Child<QComboBox>(&dlg, "targetSourceName")->currentText(), Q(book));
    QVERIFY(Child<QCheckBox>(&dlg, "configOption")->isChecked());
    QVERIFY(!Child<QCheckBox>(&dlg, "tipsOption")->isChecked());
    QVERIFY(ui.HasCall("tips-tab: off"));

    // Test Connections with the fields as edited, not as saved.
    Child<QComboBox>(&dlg, "targetSourceName")->setEditText(Q((dir / "gone.xls").string()));
    ui.ClearCalls();
    Child<QPushButton>(&dlg, "testButton")->click();
    const auto asks = ui.CallsStartingWith("ask");
    QVERIFY(!asks.empty());
    QVERIFY(asks.back().rfind("ask Ok: Target DB Connect ERROR!\n", 0) == 0);
    QVERIFY(asks.back().find("gone.xls") != std::string::npos);
    if (server) QVERIFY(ui.HasCall("ask Ok: Source Connection Successful!"));
    Child<QComboBox>(&dlg, "targetSourceName")->setEditText(Q(book));

    // The browse button takes a new name and creates the workbook.
    ui.QueueFile((dir / "Fresh").string());
    Child<QToolButton>(&dlg, "targetBrowse")->click();
    QCOMPARE(Child<QComboBox>(&dlg, "targetSourceName")->currentText(),
             Q((dir / "Fresh.xls").string()));
    QVERIFY(xls::Workbook::Load((dir / "Fresh.xls").string()).ok());

    // Save Config keeps the edited fields; Connect hands them over.
    Child<QLineEdit>(&dlg, "sourceCatalog")->setText("Shop");
    ui.ClearCalls();
    Child<QPushButton>(&dlg, "saveButton")->click();
    QVERIFY(ui.HasCall("ask Ok: The Config Infomation saved successfully!"));
    ConfigForm saved;
    cfg.LoadOptions(saved, ui);
    QCOMPARE(Q(saved.source.catalogName), QString("Shop"));
    QCOMPARE(Q(saved.target.sourceName), Q((dir / "Fresh.xls").string()));
    Child<QCheckBox>(&dlg, "autoBackupOption")->click();
    Child<QPushButton>(&dlg, "connectButton")->click();
    QCOMPARE(dlg.result(), int(QDialog::Accepted));
    QCOMPARE(ui.PostedCommands(), std::vector<int>{ConnectionConfig::kConnectCommand});
    QVERIFY(ws.AutoBackup());
    QCOMPARE(Q(ws.source.Settings().catalogName), QString("Shop"));
    QCOMPARE(Q(ws.source.Settings().password), Q(password));
    QCOMPARE(Q(ws.target.Settings().providerId), QString("Microsoft.Jet.OLEDB.4.0"));
    for (const auto& text : ui.Texts())
      QVERIFY(text.find(password) == std::string::npos);

    // Close hands nothing over and saves nothing.
    const std::string before = ReadFile(cfg.path());
    ConnectionConfigDialog closing(ws);
    Child<QLineEdit>(&closing, "sourceUserId")->setText("someone else");
    Child<QPushButton>(&closing, "closeButton")->click();
    QCOMPARE(closing.result(), int(QDialog::Rejected));
    QCOMPARE(ReadFile(cfg.path()), before);
    QCOMPARE(Q(ws.source.Settings().userId), Q(user));
  }

  void migrationOptionsAreStoredShownAndTakenByTheWindowAndItsTasks() {
    TempDir dir;
    ScriptedFrontend ui;
    Workspace ws(ui, dir.str());
    {
      ConnectionConfigDialog dlg(ws);
      QCOMPARE(Child<QCheckBox>(&dlg, "filtersOption")->text(),
               QString("Filter buttons on headers"));
      for (const char* box :
           {"replaceTablesOption", "typedOption", "splitSheetsOption", "filtersOption"}) {
        QVERIFY(!Child<QCheckBox>(&dlg, box)->isChecked());
        Child<QCheckBox>(&dlg, box)->click();
      }
      Child<QPushButton>(&dlg, "connectButton")->click();
    }
    MigrationOptions want;
    want.typed = want.splitSheets = want.replaceTables = want.filters = true;
    QVERIFY(ws.Migration() == want);
    const std::string cfg = ReadFile(dir / "migrator.cfg");
    for (const char* line :
         {"KeepColumnTypes=true", "SplitSheets=true", "OverwriteTable=true", "FilterButtons=true"})
      QVERIFY2(cfg.find(line) != std::string::npos, cfg.c_str());

    // Shown again the next time, and one box cleared is saved as such.
    {
      ConnectionConfigDialog dlg(ws);
      QVERIFY(Child<QCheckBox>(&dlg, "typedOption")->isChecked());
      QVERIFY(Child<QCheckBox>(&dlg, "replaceTablesOption")->isChecked());
      QVERIFY(Child<QCheckBox>(&dlg, "filtersOption")->isChecked());
      QVERIFY(!Child<QCheckBox>(&dlg, "replaceWorkbookOption")->isChecked());
      Child<QCheckBox>(&dlg, "splitSheetsOption")->click();
      Child<QCheckBox>(&dlg, "filtersOption")->click();
      Child<QCheckBox>(&dlg, "replaceWorkbookOption")->click();
      Child<QPushButton>(&dlg, "connectButton")->click();
    }
    want.splitSheets = want.filters = false;
    want.replaceWorkbook = true;
    QVERIFY(ws.Migration() == want);
    for (const char* line : {"SplitSheets=false", "FilterButtons=false", "OverwriteDatabase=true"})
      QVERIFY(ReadFile(dir / "migrator.cfg").find(line) != std::string::npos);

    // A window started on the folder takes them, and a task keeps the ones in
    // force when it was queued.
    MainWindow w(dir.str());
    QVERIFY(w.workspace().Migration() == want);
    Task task;
    task.typeCode = kMigrateViews;
    const TaskId id = QueueMigrationTask(w.workspace(), task);
    w.workspace().SetMigration({});
    QVERIFY(w.workspace().tasks.Find(id)->options == want);
    QCOMPARE(Q(MigrationOptionsText(want)),
             QString("Keep column types (--typed), Overwrite the same-name table "
                     "(--replace-tables), Overwrite the same-name database (--replace-workbook)"));
  }

  void tipsOptionAddsAndRemovesTheWindowsTab() {
    TempDir dir;
    MainWindow w(dir.str());
    w.show();
    ConnectionConfigDialog dlg(w.workspace(), &w);
    auto* tips = Child<QCheckBox>(&dlg, "tipsOption");
    const int withTips = w.tabs()->count() < 3 ? 3 : w.tabs()->count();
    if (!tips->isChecked()) tips->click();
    QCOMPARE(w.tabs()->count(), withTips);
    tips->click();
    QCOMPARE(w.tabs()->count(), withTips - 1);
    tips->click();
    QCOMPARE(w.tabs()->count(), withTips);
    QCOMPARE(w.tabs()->tabText(2), QString("Tips"));
  }

  void driverCheckListsTheMariaDbDriverAndInstallsFromItsFolder() {
    ScriptedFrontend ui;
    TempDir dir;
    {
      DriverCheckDialog dlg(ui, dir.str());
      auto* rows = Child<QTreeWidget>(&dlg, "sourceRows");
      QVERIFY(rows->topLevelItemCount() >= 3);
      bool mariaDb = false;
      for (int i = 1; i < rows->topLevelItemCount() - 1; ++i) {
        const auto* item = rows->topLevelItem(i);
        if (item->text(0).contains("MariaDB") && item->text(2) == "Usable") {
          mariaDb = true;
          QCOMPARE(item->foreground(2).color(), QColor(0, 255, 0));
        }
      }
      QVERIFY(mariaDb);
      const auto* tcp = rows->topLevelItem(rows->topLevelItemCount() - 1);
      QCOMPARE(tcp->text(0), QString("TCP/IP:Port"));
      QCOMPARE(tcp->text(2), QString("Usable"));
      Child<QPushButton>(&dlg, "openConfigButton")->click();
      QCOMPARE(dlg.result(), int(QDialog::Accepted));
      QCOMPARE(ui.PostedCommands(), std::vector<int>{ConnectionConfig::kOpenCommand});
    }

    // The install flow against temporary driver files.
    fs::create_directories(dir / "MyODBC3.51");
    fs::create_directories(dir / "dest");
    WriteFile(dir / "MyODBC3.51/libmyodbc3.so", "driver");
    WriteFile(dir / "MyODBC3.51/libmyodbc3S.so", "setup");
    DriverCheckEnvironment env = DriverCheckEnvironment::FromProcess();
    env.systemDriverFile = (dir / "odbcinst.ini").string();
    env.userDriverFile = (dir / "user-odbcinst.ini").string();
    ScriptedFrontend ui2;
    DriverCheckDialog dlg(ui2, dir.str(), env);
    dlg.show();
    QCOMPARE(Child<QTreeWidget>(&dlg, "sourceRows")->topLevelItem(1)->text(1),
             QString("Not installed"));
    QCOMPARE(Child<QTreeWidget>(&dlg, "sourceRows")->topLevelItem(1)->foreground(2).color(),
             QColor(255, 0, 0));
    ui2.QueueFolder((dir / "dest").string());
    Child<QPushButton>(&dlg, "installButton")->click();
    QVERIFY(!dlg.isVisible());
    QVERIFY(ui2.HasCall("ask Ok: MySQL ODBC 3.51 Driver installed successfully!"));
    QCOMPARE(ui2.PostedCommands(), std::vector<int>{kDriverCheckCommand});
    QCOMPARE(Q(MySqlDriverProbe(1, env)), QString("MySQL ODBC 3.51 Driver"));
    QCOMPARE(Q(ReadFile(dir / "dest/libmyodbc3.so")), QString("driver"));
  }

  void conditionDialogStoresATestedConditionThatRestrictsTheMigration() {
    const auto server = testing::TestMySqlServer();
    if (!server) QSKIP("no private MariaDB server (run scripts/test.sh)");
    const std::string db = "cond_" + std::to_string(::getpid());
    QVERIFY(RootSql(*server, "create database " + db + "; use " + db +
                                 "; create table t (id int, name varchar(20));"
                                 " insert into t select seq, concat('n', seq) from seq_1_to_20;"));
    TempDir dir;
    ScriptedFrontend ui;
    Workspace ws(ui, dir.str());
    ConnectSource(ws, *server);
    QVERIFY(ws.source.Connected());

    ConditionDialog dlg(ws, db, "t");
    dlg.show();
    QCOMPARE(Child<QLabel>(&dlg, "statementLabel")->text(), QString("select * from t where"));
    auto* columns = Child<QListWidget>(&dlg, "columnList");
    QCOMPARE(columns->count(), 2);
    QCOMPARE(columns->item(0)->text(), QString("id"));
    auto* edit = Child<QPlainTextEdit>(&dlg, "conditionEdit");
    auto* save = Child<QPushButton>(&dlg, "saveButton");
    QVERIFY(edit->toPlainText().isEmpty());
    QVERIFY(!save->isEnabled());

    // A rejected condition: the server's words, and not stored on "No".
    edit->setPlainText("idd > 10");
    auto* test = Child<QPushButton>(&dlg, "testButton");
    test->click();
    QTRY_VERIFY(test->isEnabled());  // the count runs off the window thread
    const QString failed = Child<QPlainTextEdit>(&dlg, "resultEdit")->toPlainText();
    QVERIFY2(failed.startsWith("Test failed!\n  Because:  ") && failed.contains("idd"),
             qPrintable(failed));
    ui.QueueAnswer(Answer::No);
    save->click();
    const ConditionFile file(dir.str());
    QCOMPARE(Q(file.Read(db, "t")), QString());

    // A good one: counted and stored.
    edit->clear();
    columns->setCurrentRow(0);
    emit columns->itemDoubleClicked(columns->item(0));
    edit->insertPlainText(" > 10");
    test->click();
    QTRY_COMPARE(Child<QPlainTextEdit>(&dlg, "resultEdit")->toPlainText(),
                 QString("Test successfully!\n  10 Records can be converted."));
    QVERIFY(save->isEnabled());
    save->click();
    QVERIFY(!save->isEnabled());
    QCOMPARE(Q(file.Read(db, "t")), QString("id > 10"));
    QCOMPARE(Q(file.WhereClause(db, "t")), QString(" where id > 10"));
    // Reopened, the dialog shows it.
    ConditionDialog again(ws, db, "t");
    QCOMPARE(Child<QPlainTextEdit>(&again, "conditionEdit")->toPlainText(), QString("id > 10"));

    // The source tree shows it as the table's tooltip.
    ws.source.tree.Replace({{0, NodeKind::Root, "src", kNoNode, {1}},
                            {1, NodeKind::Database, db, 0, {2}},
                            {2, NodeKind::TablesFolder, "Tables", 1, {3}},
                            {3, NodeKind::Table, "t", 2, {}}});
    QCOMPARE(Q(ConditionTip(ws, 3)), QString("Condition : id > 10"));

    // The next migration of the table copies only those rows.
    QVERIFY(UseDatabase(ws, db, 0));
    const std::string book = (dir / "Target.xls").string();
    MakeWorkbook(book);
    ConnectionSettings target;
    target.providerId = kJetProvider;
    target.sourceName = book;
    ws.target.SetSettings(target);
    Connect(ws, DataSourceSide::Target);
    QVERIFY(ws.target.Connected());
    auto cache = DataCacheDirectory(ws);
    QVERIFY(cache.ok());
    Conversion conversion{ws, &ws.source.session, *cache, true, nullptr, {}};
    QCOMPARE(ConvertOneTable(conversion, db, "t"), 1);
    ws.target.session.Reset();  // a released session has saved its rows
    ws.target.dataSource.Reset();
    auto wb = xls::Workbook::Load(book);
    QVERIFY(wb.ok());
    const auto sheet = wb->FindSheet("t");
    QVERIFY(sheet.has_value());
    std::vector<std::string> ids;
    for (uint32_t r = 1; wb->sheet(*sheet).GetCell(r, 0).exists; ++r)
      ids.push_back(wb->sheet(*sheet).GetValue(r, 0).text);
    QCOMPARE(int(ids.size()), 10);
    QCOMPARE(Q(ids.front()), QString("11"));
    RootSql(*server, "drop database " + db);
  }

  // A slow count shows that the dialog is testing and leaves Close usable,
  // which ends the wait at once; a server's error message fits the result
  // box whole.
  void conditionDialogShowsItsTestAndCloseEndsTheWait() {
    const auto server = testing::TestMySqlServer();
    if (!server) QSKIP("no private MariaDB server (run scripts/test.sh)");
    const std::string db = "cond_slow_" + std::to_string(::getpid());
    QVERIFY(RootSql(*server, "create database " + db + "; use " + db +
                                 "; create table t (id int);"
                                 " insert into t select seq from seq_1_to_20;"));
    TempDir dir;
    ScriptedFrontend ui;
    Workspace ws(ui, dir.str());
    ConnectSource(ws, *server);
    QVERIFY(ws.source.Connected());

    {
      ConditionDialog dlg(ws, db, "t");
      dlg.show();
      auto* edit = Child<QPlainTextEdit>(&dlg, "conditionEdit");
      auto* test = Child<QPushButton>(&dlg, "testButton");
      auto* close = Child<QPushButton>(&dlg, "closeButton");
      auto* result = Child<QPlainTextEdit>(&dlg, "resultEdit");
      edit->setPlainText("sleep(0.2) = 0");  // four seconds over 20 rows
      test->click();
      QVERIFY(dlg.TestRunning());
      QVERIFY(!test->isEnabled());
      QVERIFY(close->isEnabled());
      QVERIFY(Child<QProgressBar>(&dlg, "testBusy")->isVisible());
      QVERIFY2(result->toPlainText().startsWith("Testing"), qPrintable(result->toPlainText()));
      QElapsedTimer clock;
      clock.start();
      close->click();
      QVERIFY(!dlg.isVisible());
      QVERIFY(clock.elapsed() < 1000);
      QVERIFY(dlg.TestRunning());  // the count goes on out of sight, its answer dropped
      QTRY_VERIFY_WITH_TIMEOUT(!dlg.TestRunning(), 30000);

      dlg.show();
      edit->setPlainText("no_such_function_of_the_server(id, id, id) > 0");
      test->click();
      QTRY_VERIFY(test->isEnabled());
      QVERIFY2(result->toPlainText().startsWith("Test failed!") &&
                   result->toPlainText().contains("no_such_function_of_the_server"),
               qPrintable(result->toPlainText()));
      QApplication::processEvents();
      QCOMPARE(result->verticalScrollBar()->maximum(), 0);
    }
    RootSql(*server, "drop database " + db);
  }
};

QTEST_MAIN(DialogsTest)
#include "dialogs_test.moc"
