// The row transfer and the migration tasks against the private server: rows
// the target refuses or cannot hold are counted and said in red, a stop ends
// the transfer after the current row, and a queue of table migrations is not
// cut short by the header formatting of the first.

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "adapters/excel/excel_adapter.h"
#include "adapters/mysql/mysql_adapter.h"
#include "app/output.h"
#include "app/scripted_frontend.h"
#include "app/workspace.h"
#include "oledb/operations.h"
#include "support/condition_file.h"
#include "tasks/controller.h"
#include "testlib/server_source.h"
#include "testlib/testlib.h"
#include "workflows/connect.h"
#include "workflows/migration.h"
#include "xls/workbook.h"

namespace migrator {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// Asks for a stop, as a confirmed stop button does, when a given line is
// shown: the transfer is then in the middle of a table.
class StoppingFrontend : public ScriptedFrontend {
 public:
  void AppendOutput(const OutputLine& line) override {
    ScriptedFrontend::AppendOutput(line);
    if (ws && !stopOn.empty() && line.text.find(stopOn) != std::string::npos) ws->TryStop();
    if (act && !actOn.empty() && line.text.find(actOn) != std::string::npos) act();
  }
  Workspace* ws = nullptr;
  std::string stopOn;
  // What else happens when a line holding `actOn` is shown.
  std::string actOn;
  std::function<void()> act;
};

ControllerTiming Quick() {
  ControllerTiming t;
  t.period = 5ms;
  t.taskStart = 0ms;
  t.afterStart = 0ms;
  t.stopWait = 0ms;
  return t;
}

class TransferTest : public ::testing::Test {
 protected:
  TransferTest() : ws(ui, dir.str(), Quick()) { ui.ws = &ws; }

  ~TransferTest() override {
    if (server_) Sql("drop database if exists " + db);
  }

  // A database of its own on the private server, the source side connected
  // to it and the target side to a new workbook.
  void SetUpSides(const testing::MySqlServer& server, const std::string& sql) {
    server_ = server;
    Sql("drop database if exists " + db + "; create database " + db + "; use " + db + "; " + sql);
    ASSERT_TRUE(testing::ConnectServerSource(ws, server, db));
    auto wb = xls::Workbook::New();
    ASSERT_TRUE(wb.AddSheet("Sheet1").ok());
    ASSERT_TRUE(wb.Save(book + ".xls").ok());
    ConnectionSettings t;
    t.providerId = kJetProvider;
    t.sourceName = book + ".xls";
    ws.target.SetSettings(t);
    Connect(ws, DataSourceSide::Target);
    ASSERT_TRUE(ws.target.Connected());
    ui.ClearLines();
  }

  void Sql(const std::string& sql) {
    const auto r = testing::RunCommand(testing::RootClient(*server_) + " -e " +
                                       testing::ShellQuote(sql) + " 2>&1");
    ASSERT_EQ(r.status, 0) << r.out;
  }

  // Queues the migration of one table into the workbook.
  TaskId QueueTable(const std::string& table) {
    Task task;
    task.typeCode = kMigrateTable;
    task.sourceObject = table;
    task.sourceDatabase = db;
    task.targetDatabase = book;
    return ws.tasks.Append(task);
  }

  // Runs the migration of one table to its end and gives its state text.
  std::string Migrate(const std::string& table) {
    const TaskId id = QueueTable(table);
    ws.controller().StartIfIdle();
    EXPECT_TRUE(testing::WaitUntil([&] { return ws.controller().Stopped(); }));
    return ws.tasks.Find(id)->stateText;
  }

  // The rows of a sheet below its header, as text.
  std::vector<std::vector<std::string>> SheetRows(const std::string& sheet) {
    ws.target.session.Reset();  // a released session has saved its rows
    ws.target.dataSource.Reset();
    auto wb = xls::Workbook::Load(book + ".xls");
    EXPECT_TRUE(wb.ok());
    std::vector<std::vector<std::string>> rows;
    if (!wb.ok()) return rows;
    const auto index = wb->FindSheet(sheet);
    EXPECT_TRUE(index) << sheet;
    if (!index) return rows;
    const xls::Sheet& s = wb->sheet(*index);
    for (uint32_t r = 1; s.GetCell(r, 0).exists; ++r) {
      auto& row = rows.emplace_back();
      for (uint32_t c = 0; s.GetCell(0, c).exists; ++c)
        row.push_back(s.GetValue(r, c).text);
    }
    return rows;
  }

  // The output lines that hold `text`, with their colours.
  std::vector<OutputLine> LinesWith(const std::string& text) {
    std::vector<OutputLine> found;
    for (const auto& line : ui.Lines())
      if (line.text.find(text) != std::string::npos) found.push_back(line);
    return found;
  }

  testing::TempDir dir;
  StoppingFrontend ui;
  Workspace ws;
  const std::string db = "mig_transfer_" + std::to_string(::getpid());
  const std::string book = (dir / "book").string();

 private:
  std::optional<testing::MySqlServer> server_;
};

TEST_F(TransferTest, RefusedRowsAndRowsPastTheLimitAreCountedAndSaidInRed) {
  MIGRATOR_REQUIRE_MYSQL(server);
  SetUpSides(server,
             "create table narrow (a int, b varchar(10)); "
             "insert into narrow values (1, 'x'), (2, 'y'), (3, 'z'); "
             "create table t (id int primary key, v varchar(20)); "
             "insert into t values (1, 'it''s'), (2, NULL), (3, 'c'), (4, 'd'), (5, 'e');");
  ASSERT_TRUE(oledb::ExecuteStatement(ui, &ws.target.session, "create table narrow (a text)", 0));
  ASSERT_TRUE(
      oledb::ExecuteStatement(ui, &ws.target.session, "create table t (id text, v text)", 0));

  // The target table has one column: every row is refused.
  auto r =
      MySqlAdapter::TransferTableRows(ws, &ws.source.session, &ws.target.session, db, "narrow");
  EXPECT_FALSE(r.whole);
  EXPECT_EQ(r.arrived, 0);
  const auto refused = LinesWith("was not accepted by the target");
  ASSERT_EQ(refused.size(), 1u);  // the first refusal only, with the target's reason
  EXPECT_NE(refused[0].text.find("[narrow] row 1 was not accepted by the target: "),
            std::string::npos);
  EXPECT_EQ(refused[0].textColour, kRed);
  const auto last = ui.Lines().back();
  EXPECT_NE(last.text.find("[narrow] 0 records converted, 3 records not converted!"),
            std::string::npos);
  EXPECT_EQ(last.textColour, kRed);
  EXPECT_TRUE(LinesWith("SUCCESSFULLY").empty());

  // A target that holds three rows: the rest is left behind and counted.
  ui.ClearLines();
  TransferOptions limited;
  limited.maxRows = 3;
  limited.scratchFile = (dir / "t.data").string();
  r = MySqlAdapter::TransferTableRows(ws, &ws.source.session, &ws.target.session, db, "t", limited);
  EXPECT_FALSE(r.whole);
  EXPECT_EQ(r.arrived, 3);
  const auto cut = LinesWith(
      "[t] a sheet holds 3 rows under its header: 2 records of the table "
      "were left behind");
  ASSERT_EQ(cut.size(), 1u);
  EXPECT_EQ(cut[0].textColour, kRed);
  EXPECT_EQ(ui.Texts().back(), "[t] 3 records converted, 2 records not converted!");
  // Quotes doubled, NULL as NULL; the scratch file holds what was sent.
  EXPECT_EQ(testing::ReadFile(dir / "t.data"),
            "insert into `t` values ('1','it''s');\n"
            "insert into `t` values ('2',NULL);\n"
            "insert into `t` values ('3','c');\n");

  // A stored condition restricts the rows; the name is quoted on both sides.
  ASSERT_TRUE(ConditionFile(dir.str()).Write(db, "t", "id > 3").ok());
  ui.ClearLines();
  ASSERT_TRUE(oledb::ExecuteStatement(ui, &ws.target.session, "drop table t", 0));
  ASSERT_TRUE(
      oledb::ExecuteStatement(ui, &ws.target.session, "create table t (id text, v text)", 0));
  r = MySqlAdapter::TransferTableRows(ws, &ws.source.session, &ws.target.session, db, "t");
  EXPECT_TRUE(r.whole);
  EXPECT_EQ(ui.Texts().back(), "[t] 2 records converted, convertion completed SUCCESSFULLY!");
  EXPECT_EQ(SheetRows("t"), (std::vector<std::vector<std::string>>{{"4", "d"}, {"5", "e"}}));
}

// Rows the workbook cannot save (a file-size limit, as a full disk) fail the
// table whose rows they are, when its transfer ends, with the system's reason;
// the file stays as it was.
TEST_F(TransferTest, RowsTheTargetCannotSaveFailTheirTable) {
  MIGRATOR_REQUIRE_MYSQL(server);
  SetUpSides(server,
             "create table t (id int primary key, v varchar(20)); "
             "insert into t values (1, 'a'), (2, 'b'), (3, 'c');");
  ASSERT_TRUE(
      oledb::ExecuteStatement(ui, &ws.target.session, "create table t (id text, v text)", 0));
  const std::string before = testing::ReadFile(book + ".xls");
  ui.ClearLines();
  TransferResult r;
  {
    testing::FileSizeLimit limit(1024);
    r = MySqlAdapter::TransferTableRows(ws, &ws.source.session, &ws.target.session, db, "t");
  }
  EXPECT_FALSE(r.whole);
  const auto lost = LinesWith("[t] the rows cannot be saved on the target: ");
  ASSERT_EQ(lost.size(), 1u);
  EXPECT_NE(lost[0].text.find(std::strerror(EFBIG)), std::string::npos) << lost[0].text;
  EXPECT_EQ(lost[0].textColour, kRed);
  EXPECT_EQ(ui.Texts().back(), "[t] 0 records converted, 3 records not converted!");
  EXPECT_TRUE(LinesWith("SUCCESSFULLY").empty());
  EXPECT_EQ(testing::ReadFile(book + ".xls"), before);
}

// Three table migrations queued together each arrive whole: the header
// formatting after the first does not stop the controller under the other
// two. A fourth, stopped in the middle of its rows, ends after the current
// row and removes the table it cut, so that it can be migrated again.
TEST_F(TransferTest, AQueueOfTableMigrationsRunsWholeAndAStopEndsAfterTheCurrentRow) {
  MIGRATOR_REQUIRE_MYSQL(server);
  std::string sql;
  for (const char* t : {"t1", "t2", "t3", "stopme"}) {
    sql += std::string("create table ") + t + " (id int primary key, v varchar(20)); insert into " +
           t + " select seq, concat('v', seq) from seq_1_to_2500; ";
  }
  SetUpSides(server, sql);

  for (const char* t : {"t1", "t2", "t3"})
    QueueTable(t);
  ws.controller().StartIfIdle();
  ASSERT_TRUE(testing::WaitUntil([&] { return ws.controller().Stopped(); }));
  for (const auto& task : ws.tasks.Snapshot())
    EXPECT_EQ(task.stateText, "SUCCESS") << task.sourceObject;
  for (const char* t : {"t1", "t2", "t3"}) {
    EXPECT_EQ(LinesWith(std::string("[") + t +
                        "] 2500 records converted, convertion completed "
                        "SUCCESSFULLY!")
                  .size(),
              1u)
        << t;
  }
  EXPECT_TRUE(LinesWith("Terminaled").empty());
  EXPECT_EQ(SheetRows("t3").size(), 2500u);

  // The stop.
  ASSERT_TRUE(ws.target.session.Empty());
  Connect(ws, DataSourceSide::Target);
  ui.ClearLines();
  ui.stopOn = "[stopme] 2000 records converted!";
  const TaskId stopped = QueueTable("stopme");
  ws.controller().StartIfIdle();
  ASSERT_TRUE(testing::WaitUntil([&] { return ws.controller().Stopped(); }));
  const auto texts = ui.Texts();
  const auto at = std::find(texts.begin(), texts.end(), "[stopme] 2000 records converted!");
  ASSERT_NE(at, texts.end());
  ASSERT_GE(texts.end() - at, 4);
  EXPECT_EQ(at[1], "Data Converting Terminaled!");
  EXPECT_EQ(at[2],
            "[stopme] 2000 records converted, the copy was stopped: the rest of the table was not "
            "converted!");
  EXPECT_TRUE(LinesWith("convertion completed").empty());
  EXPECT_NE(std::find(at, texts.end(),
                      "TABLE: [" + db +
                          "].[stopme] was stopped after 2000 records: the unfinished table is "
                          "removed, so that it can be migrated again"),
            texts.end());
  EXPECT_NE(std::find(at, texts.end(),
                      "The migration was stopped. Arrived whole: none. Stopped half-way and "
                      "removed: stopme. Not reached: none"),
            texts.end());
  // Not every row arrived, so the task did not succeed.
  EXPECT_EQ(ws.tasks.Find(stopped)->stateText, "FAILURE");
  EXPECT_TRUE(SheetRows("stopme").empty());
}

// A migration formats the header rows of the tables it made and of no other
// sheet: the person's own sheet keeps its header fill, widths and scrolling,
// and a hidden sheet is no obstacle. When the formatting fails, the task does.
TEST_F(TransferTest, HeaderFormattingKeepsToTheNewTablesAndItsFailureFailsTheTask) {
  MIGRATOR_REQUIRE_MYSQL(server);
  SetUpSides(server,
             "create table t1 (id int primary key, customer_name varchar(20)); "
             "insert into t1 values (1, 'a'), (2, 'b'); "
             "create table t2 (id int primary key); insert into t2 values (1);");
  ws.target.session.Reset();
  ws.target.dataSource.Reset();
  {
    auto wb = xls::Workbook::New();
    ASSERT_TRUE(wb.AddSheet("mine").ok());
    ASSERT_TRUE(wb.AddSheet("secret").ok());
    ASSERT_TRUE(wb.sheet(0).SetText(0, 0, "own header").ok());
    ASSERT_TRUE(wb.sheet(1).SetText(0, 0, "hidden").ok());
    xls::RowFormat fill;
    fill.fillColor = 10;
    ASSERT_TRUE(wb.sheet(0).FormatRow(0, fill).ok());
    ASSERT_TRUE(wb.sheet(0).SetColumnWidth(0, 40).ok());
    ASSERT_TRUE(wb.sheet(1).SetVisibility(xls::Visibility::kHidden).ok());
    ASSERT_TRUE(wb.Save(book + ".xls").ok());
  }
  const auto mineFormat = xls::Workbook::Load(book + ".xls")->sheet(0).RowFormatIndex(0);
  Connect(ws, DataSourceSide::Target);
  ASSERT_TRUE(ws.target.Connected());

  EXPECT_EQ(Migrate("t1"), "SUCCESS");
  {
    auto wb = xls::Workbook::Load(book + ".xls");
    ASSERT_TRUE(wb.ok());
    const xls::Sheet& mine = wb->sheet(0);
    EXPECT_EQ(mine.frozenRows(), 0u);
    EXPECT_EQ(mine.RowFormatIndex(0), mineFormat);
    EXPECT_DOUBLE_EQ(mine.ColumnWidth(0), 40);
    EXPECT_EQ(wb->sheet(1).visibility(), xls::Visibility::kHidden);
    const auto t1 = wb->FindSheet("t1");
    ASSERT_TRUE(t1);
    EXPECT_EQ(wb->sheet(*t1).frozenRows(), 1u);
    EXPECT_DOUBLE_EQ(wb->sheet(*t1).ColumnWidth(1), 15);
  }

  // The workbook goes away while the header rows are being formatted.
  ui.actOn = "MSEXCEL_SetTableHead of";
  ui.act = [&] { fs::rename(book + ".xls", book + "-moved.xls"); };
  EXPECT_EQ(Migrate("t2"), "FAILURE");
  EXPECT_FALSE(LinesWith("] are not formatted: ").empty());
}

// The rows of a task's last table are saved by the save of its header
// formatting, not once before it: the file is written once. When that save
// fails (a file-size limit, as a full disk), the table did not arrive and the
// task fails; the file keeps the empty table the CREATE saved.
TEST_F(TransferTest, TheLastTablesRowsAreSavedWithItsHeaderAndTheirFailedSaveFailsTheTask) {
  MIGRATOR_REQUIRE_MYSQL(server);
  SetUpSides(server,
             "create table t1 (id int primary key, v varchar(20)); "
             "insert into t1 values (1, 'a'), (2, 'b'); "
             "create table t2 (id int primary key, v varchar(20)); "
             "insert into t2 select seq, concat('value ', seq) from seq_1_to_300;");
  EXPECT_EQ(Migrate("t1"), "SUCCESS");
  {
    auto wb = xls::Workbook::Load(book + ".xls");
    ASSERT_TRUE(wb.ok());
    const auto t1 = wb->FindSheet("t1");
    ASSERT_TRUE(t1);
    EXPECT_EQ(wb->sheet(*t1).frozenRows(), 1u);
    EXPECT_EQ(wb->sheet(*t1).GetValue(2, 1).text, "b");
  }
  EXPECT_TRUE(LinesWith("cannot be saved").empty());

  ui.ClearLines();
  {
    testing::FileSizeLimit limit(fs::file_size(book + ".xls") + 6000);
    EXPECT_EQ(Migrate("t2"), "FAILURE");
    EXPECT_EQ(
        LinesWith("The records of t2 cannot be saved in the workbook: they did not arrive").size(),
        1u);
    EXPECT_FALSE(LinesWith("] are not formatted: ").empty());
    auto wb = xls::Workbook::Load(book + ".xls");
    ASSERT_TRUE(wb.ok());
    const auto t2 = wb->FindSheet("t2");
    ASSERT_TRUE(t2);
    EXPECT_FALSE(wb->sheet(*t2).GetCell(1, 0).exists);
    EXPECT_EQ(wb->sheet(*t2).frozenRows(), 0u);
  }
}

// The server goes away under an open source side (here its connection is
// killed): the next migration says why in red, the side is found lost,
// closed and marked, and the task fails. A working side is not taken for
// lost.
TEST_F(TransferTest, ALostSourceIsSaidInRedWithItsReasonAndTheSideMarked) {
  MIGRATOR_REQUIRE_MYSQL(server);
  SetUpSides(server, "create table t (id int); insert into t values (1);");
  const std::string id = oledb::QuerySingleValue(ui, &ws.source.session, "select connection_id()");
  Sql("kill " + id);

  Task task;
  task.typeCode = kMigrateTable;
  task.sourceObject = "t";
  task.sourceDatabase = db;
  task.targetDatabase = book;
  const TaskId queued = ws.tasks.Append(task);
  ws.controller().StartIfIdle();
  ASSERT_TRUE(testing::WaitUntil([&] { return ws.controller().Stopped(); }));
  EXPECT_EQ(ws.tasks.Find(queued)->stateText, "FAILURE");
  const auto select = LinesWith("Select Source Database[" + db + "] Error! ");
  ASSERT_EQ(select.size(), 1u);
  EXPECT_EQ(select[0].textColour, kRed);
  EXPECT_NE(select[0].text.find("connection"), std::string::npos) << select[0].text;
  const auto lost = LinesWith("Source connection lost: ");
  ASSERT_EQ(lost.size(), 1u);
  EXPECT_EQ(lost[0].textColour, kRed);
  EXPECT_FALSE(ws.source.Connected());
  EXPECT_EQ(ui.CallsStartingWith("side Source: lost: ").size(), 1u);

  Connect(ws, DataSourceSide::Source);
  ASSERT_TRUE(ws.source.Connected());
  EXPECT_TRUE(CheckSideConnection(ws, DataSourceSide::Source));
  EXPECT_TRUE(ws.source.Connected());
}

}  // namespace
}  // namespace migrator
