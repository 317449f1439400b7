// What migrator-cli must never do to the user's files, run as a program on
// real files (and the private server for migrations): backups that delete,
// follow or cut what is there, restores that empty a table before they can
// fill it, interrupts that leave a half-made table, and values, NULLs and
// names that change on the way without a word.

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <string>
#include <vector>

#include "testlib/testlib.h"
#include "workflows/workflow_fixture.h"
#include "xls/workbook.h"

namespace migrator {
namespace {

namespace fs = std::filesystem;
using testing::BackgroundCommand;
using testing::MakeTableBook;
using testing::ReadFile;
using testing::RunCommand;
using testing::ShellQuote;
using testing::WaitUntil;
using testing::WriteFile;

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

testing::TableSpec BigTable(int rows) {
  testing::TableSpec b{"big", {"id", "a", "b", "c"}, {}};
  for (int i = 1; i <= rows; ++i) {
    const std::string n = std::to_string(i);
    b.rows.push_back({n, "alpha " + n, "beta " + n, "gamma " + n});
  }
  return b;
}

// The rows under a table's header, as its defined name spans them; -1
// without the table.
int RowsOf(const fs::path& book, const std::string& table) {
  auto wb = xls::Workbook::Load(book.string());
  if (!wb.ok()) return -1;
  const auto name = wb->FindName(table);
  if (!name) return -1;
  const xls::DefinedName d = wb->name(*name);
  return static_cast<int>(d.range.lastRow - d.range.firstRow);
}

class CliUserFiles : public ::testing::Test {
 protected:
  CliUserFiles() : home_("MIGRATOR_HOME", (dir / "home").string()) {
    cli_ = std::string(MIGRATOR_BINARY_DIR) + "/migrator-cli";
    fs::create_directories(dir / "home");
  }
  bool HaveCli() const { return fs::exists(cli_); }

  testing::CommandResult Cli(const std::string& args) {
    return RunCommand("cd " + ShellQuote(dir.str()) + " && " + ShellQuote(cli_) + " " + args +
                      " </dev/null 2>&1");
  }
  // The command in the background, its standard error into `err`.
  std::unique_ptr<BackgroundCommand> Start(const std::string& args, const fs::path& err) {
    return std::make_unique<BackgroundCommand>(
        "sh -c " + ShellQuote("cd " + ShellQuote(dir.str()) + " && exec " + ShellQuote(cli_) + " " +
                              args + " </dev/null 2>" + ShellQuote(err.string())));
  }
  std::string Rows(const std::string& book, const std::string& table) {
    return RunCommand("cd " + ShellQuote(dir.str()) + " && " + ShellQuote(cli_) + " sql --target " +
                      ShellQuote(book) + " " + ShellQuote("select * from " + table) +
                      " 2>/dev/null")
        .out;
  }

  testing::TempDir dir;
  testing::ScopedEnv home_;
  std::string cli_;
};

#define REQUIRE_CLI() \
  if (!HaveCli()) GTEST_SKIP() << "build migrator-cli first (" << cli_ << ")"

TEST_F(CliUserFiles, BackupNeverDeletesFollowsOrReplacesWhatItDidNotMake) {
  REQUIRE_CLI();
  MakeTableBook((dir / "book.xls").string(),
                {{"orders", {"id", "name"}, {{"1", "one"}, {"2", "two"}}},
                 {"Notes", {"who", "what"}, {{"ann", "call back"}, {"bob", "pay"}}, false}});

  // A file of the user's where the workbook's directory would go.
  fs::create_directories(dir / "d1");
  WriteFile(dir / "d1" / "book", "mine");
  auto r = Cli("backup --target book.xls --to d1");
  EXPECT_NE(r.status, 0) << r.out;
  EXPECT_EQ(ReadFile(dir / "d1" / "book"), "mine");
  EXPECT_TRUE(Contains(r.out, (dir / "d1" / "book").string())) << r.out;

  // Files named like the directories of a single table's backup.
  fs::create_directories(dir / "d2");
  WriteFile(dir / "d2" / "TABLES", "tables");
  WriteFile(dir / "d2" / "DATA", "data");
  r = Cli("backup --target book.xls --to d2 --table orders");
  EXPECT_NE(r.status, 0) << r.out;
  EXPECT_EQ(ReadFile(dir / "d2" / "TABLES"), "tables");
  EXPECT_EQ(ReadFile(dir / "d2" / "DATA"), "data");

  // The sheet the user made is saved as a table and comes back with its rows.
  r = Cli("backup --target book.xls --to d3");
  ASSERT_EQ(r.status, 0) << r.out;
  r = Cli("restore --from d3/book --target copy.xls");
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_TRUE(Contains(Rows("copy.xls", "Notes"), "call back")) << r.out;
  EXPECT_EQ(Rows("copy.xls", "Notes"), Rows("book.xls", "Notes$"));

  // A link planted where a data file goes is neither followed nor replaced.
  WriteFile(dir / "victim", "precious");
  const fs::path planted = dir / "d3" / "book" / "DATA" / "orders.data";
  fs::remove(planted);
  fs::create_symlink(dir / "victim", planted);
  r = Cli("backup --target book.xls --to d3");
  EXPECT_NE(r.status, 0) << r.out;
  EXPECT_EQ(ReadFile(dir / "victim"), "precious");
  EXPECT_TRUE(fs::is_symlink(planted));
  EXPECT_TRUE(Contains(r.out, planted.string())) << r.out;
}

TEST_F(CliUserFiles, AKilledBackupKeepsThePreviousOneAndACutDataFileIsNotRestored) {
  REQUIRE_CLI();
  MakeTableBook((dir / "big.xls").string(), {BigTable(60000)});
  auto r = Cli("backup --target big.xls --to d");
  ASSERT_EQ(r.status, 0) << r.out;
  const fs::path tbl = dir / "d" / "big" / "TABLES" / "big.tbl";
  const fs::path data = dir / "d" / "big" / "DATA" / "big.data";
  const std::string tblText = ReadFile(tbl), dataText = ReadFile(data);

  // Killed while it writes the rows: the backup there stays whole. (The
  // rows go fast: a backup that finished before the kill is tried again.)
  const fs::path err = dir / "err";
  bool killed = false;
  for (int attempt = 0; attempt < 5 && !killed; ++attempt) {
    auto backup = Start("backup --target big.xls --to d", err);
    ASSERT_TRUE(WaitUntil([&] { return Contains(ReadFile(err), "[big] 1000 records backuped!"); }))
        << ReadFile(err);
    backup->Signal(SIGKILL);
    killed = backup->Wait() == 128 + SIGKILL;
    EXPECT_EQ(ReadFile(tbl), tblText);
    EXPECT_TRUE(ReadFile(data) == dataText) << "the data file changed";
  }
  EXPECT_TRUE(killed);

  // A data file cut at a line boundary is told from a whole one.
  std::size_t cut = 0;
  for (int line = 0; line < 101; ++line)
    cut = dataText.find('\n', cut) + 1;
  WriteFile(data, dataText.substr(0, cut));
  r = Cli("restore --from d/big --target cut.xls");
  EXPECT_EQ(r.status, 1) << r.out;
  EXPECT_LT(RowsOf(dir / "cut.xls", "big"), 1) << r.out;

  // A backup of an earlier version (its rows alone, without the count)
  // still restores.
  WriteFile(data, dataText.substr(dataText.find('\n') + 1, cut - dataText.find('\n') - 1));
  r = Cli("restore --from d/big --target old.xls");
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(RowsOf(dir / "old.xls", "big"), 100);
}

TEST_F(CliUserFiles, RestoreReplaceKeepsTheOldRowsUntilTheNewOnesAreSaved) {
  REQUIRE_CLI();
  MakeTableBook((dir / "big.xls").string(), {BigTable(60000)});
  ASSERT_EQ(Cli("backup --target big.xls --to d").status, 0);
  // The workbook moves on after its backup.
  auto r = Cli("sql --target big.xls \"insert into big values ('60001', 'new', 'row', '!')\"");
  ASSERT_EQ(r.status, 0) << r.out;
  ASSERT_EQ(RowsOf(dir / "big.xls", "big"), 60001);

  // A backup whose rows are missing.
  fs::copy(dir / "d", dir / "nodata", fs::copy_options::recursive);
  fs::remove(dir / "nodata" / "big" / "DATA" / "big.data");
  r = Cli("restore --from nodata/big --target big.xls --replace");
  EXPECT_EQ(r.status, 1) << r.out;
  EXPECT_EQ(RowsOf(dir / "big.xls", "big"), 60001) << r.out;

  // A row that cannot be restored half-way: the table stays as it was.
  fs::copy(dir / "d", dir / "bad", fs::copy_options::recursive);
  const fs::path bad = dir / "bad" / "big" / "DATA" / "big.data";
  std::string text = ReadFile(bad);
  text.insert(text.find("insert into `big` values ('2000'"), "insert into `big` values (1,2)\n");
  WriteFile(bad, text);
  r = Cli("restore --from bad/big --target big.xls --replace");
  EXPECT_EQ(r.status, 1) << r.out;
  EXPECT_EQ(RowsOf(dir / "big.xls", "big"), 60001) << r.out;

  // Ended half-way: the first signal stops it, the table stays as it was.
  const fs::path err = dir / "err";
  auto restore = Start("restore --from d/big --target big.xls --replace", err);
  ASSERT_TRUE(WaitUntil([&] { return Contains(ReadFile(err), "[big] 1000 records restored!"); }))
      << ReadFile(err);
  restore->Signal(SIGTERM);
  EXPECT_EQ(restore->Wait(), 4) << ReadFile(err);
  EXPECT_EQ(RowsOf(dir / "big.xls", "big"), 60001) << ReadFile(err);

  // A second signal ends it at once, and still nothing was saved.
  restore = Start("restore --from d/big --target big.xls --replace", err);
  ASSERT_TRUE(WaitUntil([&] { return Contains(ReadFile(err), "[big] 1000 records restored!"); }))
      << ReadFile(err);
  restore->Signal(SIGTERM);
  restore->Signal(SIGINT);
  EXPECT_GT(restore->Wait(), 128) << ReadFile(err);
  EXPECT_EQ(RowsOf(dir / "big.xls", "big"), 60001) << ReadFile(err);
}

// ---------------------------------------------------------------------------
// Migrations from the private server.

class CliMigrateUserFiles : public CliUserFiles {
 protected:
  void SetUp() override {
    server_ = testing::TestMySqlServer();
    if (!server_) GTEST_SKIP() << "no private MariaDB server (run scripts/test.sh)";
    if (!HaveCli()) GTEST_SKIP() << "build migrator-cli first (" << cli_ << ")";
    db_ = "mig_files_" + std::to_string(::getpid());
    password_ = testing::PercentEncode(server_->password);
    url_ = "mysql://" + server_->user + ":" + password_ + "@" + server_->host + ":" +
           server_->port + "/" + db_;
    Sql("drop database if exists " + db_ + "; create database " + db_);
  }
  void TearDown() override {
    if (server_) Sql("drop database if exists " + db_);
  }
  void Sql(const std::string& statements) {
    const auto r =
        RunCommand(testing::RootClient(*server_) + " -e " + ShellQuote(statements) + " 2>&1");
    ASSERT_EQ(r.status, 0) << r.out;
  }
  std::string Migrate(const std::string& options) const {
    return "migrate --yes --source " + ShellQuote(url_) + " " + options;
  }

  std::optional<testing::MySqlServer> server_;
  std::string db_, password_, url_;
};

TEST_F(CliMigrateUserFiles, AnInterruptedMigrationSaysWhatArrivedAndTheSameCommandRunsAgain) {
  Sql("use " + db_ +
      "; create table big (id int, a varchar(20), b varchar(20));"
      " insert into big select seq, concat('alpha ', seq), concat('beta ', seq)"
      " from seq_1_to_60000");
  const fs::path err = dir / "err";
  const std::string command = Migrate("--target book.xls --table big");
  auto run = Start(command, err);
  ASSERT_TRUE(WaitUntil([&] { return Contains(ReadFile(err), "[big] 2000 records converted!"); }))
      << ReadFile(err);
  // The password is no longer among the program's arguments.
  const std::string cmdline = ReadFile("/proc/" + std::to_string(run->pid()) + "/cmdline");
  EXPECT_TRUE(Contains(cmdline, "--source")) << cmdline;
  EXPECT_FALSE(Contains(cmdline, password_)) << cmdline;
  EXPECT_FALSE(Contains(cmdline, server_->password)) << cmdline;

  run->Signal(SIGINT);
  const int status = run->Wait();
  const std::string log = ReadFile(err);
  EXPECT_EQ(status, 4) << log;
  EXPECT_TRUE(Contains(log, "Operation FAILURE!")) << log;
  EXPECT_TRUE(Contains(log, "run the same command again")) << log;

  // The same command again finishes the job.
  const auto again = Cli(command);
  EXPECT_EQ(again.status, 0) << again.out;
  EXPECT_EQ(RowsOf(dir / "book.xls", "big"), 60000);
}

TEST_F(CliMigrateUserFiles, WhatChangesOnTheWayIsSaidAndNullStaysNull) {
  Sql("use " + db_ +
      "; create table nulls (id int, v varchar(10));"
      " insert into nulls values (1, NULL), (2, '');"
      " create table long_value (id int, v longtext);"
      " insert into long_value values (1, repeat('x', 40000));"
      " create table filtered (id int); insert into filtered values (1), (2), (3);"
      " create table `Week:Plan` (id int); insert into `Week:Plan` values (1);");
  WriteFile(dir / "home" / "Condition.cfg", "[" + db_ + "]\nfiltered=id > 1\n");

  auto r = Cli(Migrate("--target t.xls"));
  EXPECT_EQ(r.status, 1) << r.out;
  for (const char* line :
       {"[long_value] row 1, column [v]: a value of 40000 characters is cut to 32767",
        "values longer than a cell holds were cut", "id > 1",
        "TABLE: [Week:Plan] is named [week_plan] in the workbook, on the sheet [week_plan]"}) {
    EXPECT_TRUE(Contains(r.out, line)) << line << "\n" << r.out;
  }
  EXPECT_EQ(RowsOf(dir / "t.xls", "filtered"), 2);

  // Scratch files are the owner's, and go once their table arrived whole.
  const fs::path cache = dir / "home" / "data_cache";
  EXPECT_FALSE(fs::exists(cache / "nulls.data"));
  EXPECT_FALSE(fs::exists(cache / "nulls"));
  ASSERT_TRUE(fs::exists(cache / "long_value.data"));
  struct stat st {};
  ASSERT_EQ(::stat((cache / "long_value.data").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 077, 0u);

  // A table the server does not have is reported with the server's words.
  r = Cli(Migrate("--target t.xls --table nosuch"));
  EXPECT_EQ(r.status, 1) << r.out;
  EXPECT_TRUE(Contains(r.out, "doesn't exist")) << r.out;
  EXPECT_FALSE(Contains(r.out, "Syntax error")) << r.out;

  // NULL is no cell and the empty text an empty text cell, through a backup
  // and a restore too.
  ASSERT_EQ(Cli("backup --target t.xls --to bk").status, 0);
  const std::string data = ReadFile(dir / "bk" / "t" / "DATA" / "nulls.data");
  EXPECT_TRUE(Contains(data, "('1',NULL)")) << data;
  EXPECT_TRUE(Contains(data, "('2','')")) << data;
  ASSERT_EQ(Cli("restore --from bk/t --target r.xls").status, 0);
  for (const char* book : {"t.xls", "r.xls"}) {
    auto wb = xls::Workbook::Load((dir / book).string());
    ASSERT_TRUE(wb.ok()) << book;
    const auto sheet = wb->FindSheet("nulls");
    ASSERT_TRUE(sheet) << book;
    EXPECT_EQ(wb->sheet(*sheet).GetValue(1, 1).kind, xls::Value::Kind::kEmpty) << book;
    EXPECT_EQ(wb->sheet(*sheet).GetValue(2, 1).kind, xls::Value::Kind::kText) << book;
  }
}

}  // namespace
}  // namespace migrator
