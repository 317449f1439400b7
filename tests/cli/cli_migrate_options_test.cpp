// migrator-cli migrate's options against the private server: typed cells of
// every type family (read back by xlrd, and again after a backup and a
// restore), the same table without the option still all text, a table longer
// than a sheet continued on new sheets, and a second
// migration into the filled workbook that leaves the tables alone, replaces
// them, or is killed half-way and leaves the old tables whole; a clone that
// replaces the workbook after its Auto Backup copy, and only when whole.

#include <gtest/gtest.h>

#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "app/scripted_frontend.h"
#include "app/workspace.h"
#include "oledb/text.h"
#include "oledb/text_rows.h"
#include "platform/text.h"
#include "testlib/server_source.h"
#include "testlib/testlib.h"
#include "workflows/connect.h"
#include "xls/workbook.h"

namespace migrator {
namespace {

namespace fs = std::filesystem;
using testing::ShellQuote;

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// A database of the private server, loaded from a script or a statement,
// dropped again at the end; and migrator-cli migrate from it.
class Source {
 public:
  Source(const testing::MySqlServer& server, const std::string& name)
      : server_(server), db_(name + "_" + std::to_string(::getpid())) {
    Sql("drop database if exists " + db_ + "; create database " + db_);
    home_ = dir_ / "home";
    fs::create_directories(home_);
  }
  ~Source() { Sql("drop database if exists " + db_); }

  bool Sql(const std::string& sql) const {
    const auto r = testing::RunCommand(testing::RootClient(server_) + " " +
                                       (sql.starts_with("drop database") ? "" : db_) + " -e " +
                                       ShellQuote(sql) + " 2>&1");
    EXPECT_EQ(r.status, 0) << sql << "\n" << r.out;
    return r.status == 0;
  }
  bool Load(const std::string& script) const {
    const auto r = testing::RunCommand(testing::RootClient(server_) + " " + db_ + " < " +
                                       ShellQuote(script) + " 2>&1");
    EXPECT_EQ(r.status, 0) << r.out;
    return r.status == 0;
  }

  std::string Url() const {
    return "mysql://" + server_.user + ":" + testing::PercentEncode(server_.password) + "@" +
           server_.host + ":" + server_.port + "/" + db_;
  }
  // The command line of migrator-cli with its home in the test's folder.
  std::string Cli(const std::string& args) const {
    return "env MIGRATOR_HOME=" + ShellQuote(home_.string()) + " " + MIGRATOR_BINARY_DIR +
           "/migrator-cli " + args;
  }
  // Migrates into `book` with `options`; the exit code, the lines in `log`.
  int Migrate(const fs::path& book, const std::string& options, std::string& log) const {
    const fs::path err = dir_ / "err";
    const auto r = testing::RunCommand(Cli("migrate --yes --source " + ShellQuote(Url()) +
                                           " --target " + ShellQuote(book.string()) + " " +
                                           options + " </dev/null 2>" + ShellQuote(err.string())));
    log = testing::ReadFile(err);
    return r.status;
  }

  const testing::TempDir& dir() const { return dir_; }
  const fs::path& home() const { return home_; }

 private:
  const testing::MySqlServer& server_;
  std::string db_;
  testing::TempDir dir_;
  fs::path home_;
};

std::string Python(const std::string& script, const std::string& args) {
  const auto r = testing::RunCommand(
      "/usr/bin/python3 " +
      ShellQuote(std::string(MIGRATOR_SOURCE_DIR) + "/tests/cli/data/" + script) + " " + args +
      " 2>&1");
  return r.status == 0 ? std::string() : r.out.empty() ? "failed" : r.out;
}

TEST(MigrateOptions, TypedCellsOfEveryTypeFamilyKeepTheirTypesThroughABackupAndRestore) {
  MIGRATOR_REQUIRE_MYSQL(server);
  Source source(server, "mig_typed");
  ASSERT_TRUE(source.Load(std::string(MIGRATOR_SOURCE_DIR) + "/tests/cli/data/typed_source.sql"));
  const fs::path typedBook = source.dir() / "typed.xls";
  std::string log;
  EXPECT_EQ(source.Migrate(typedBook, "--typed", log), 0) << log;
  for (const char* line :
       {"[typed] column [bu]: 2 values arrive as text: numbers beyond 2^53",
        "[typed] column [bi]: 2 values arrive as text: numbers beyond 2^53",
        "[typed] column [dw]: 1 values arrive as text: numbers of more than 15 significant digits",
        "[typed] column [d]: 2 values arrive as text: dates no date cell shows",
        "[typed] column [dt]: 2 values arrive as text: dates no date cell shows",
        "[typed] column [tm]: 2 values arrive as text: times of 24 hours or more",
        "[typed] column [bo]: 1 values arrive as text: values other than 0 and 1",
        "[typed] 4 records converted, convertion completed SUCCESSFULLY!",
        "Migration options in force: Keep column types (--typed)"}) {
    EXPECT_TRUE(Contains(log, line)) << line << "\n" << log;
  }
  EXPECT_EQ(Python("check_typed.py", ShellQuote(typedBook.string())), "");

  // A backup writes the column types and keeps texts in typed columns texts;
  // the restored workbook holds the same cells.
  const fs::path backups = source.dir() / "backups";
  auto r = testing::RunCommand(source.Cli("backup --target " + ShellQuote(typedBook.string()) +
                                          " --to " + ShellQuote(backups.string()) + " 2>&1"));
  ASSERT_EQ(r.status, 0) << r.out;
  const std::string tbl = testing::ReadFile(backups / "typed" / "TABLES" / "typed.tbl");
  for (const char* column :
       {"`bi` NUMERIC", "`d` DATETIME", "`tm` TIME", "`b1` BIT", "`bo` BIT", "`vc` TEXT"})
    EXPECT_TRUE(Contains(tbl, column)) << column << "\n" << tbl;
  EXPECT_TRUE(Contains(testing::ReadFile(backups / "typed" / "DATA" / "typed.data"),
                       "TEXT '9007199254740993'"));
  const fs::path restored = source.dir() / "restored.xls";
  r = testing::RunCommand(source.Cli("restore --from " + ShellQuote((backups / "typed").string()) +
                                     " --target " + ShellQuote(restored.string()) + " 2>&1"));
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(Python("check_typed.py", ShellQuote(restored.string())), "");

  // Without the option every value is the text the server gives, as always.
  const fs::path textBook = source.dir() / "text.xls";
  EXPECT_EQ(source.Migrate(textBook, "", log), 0) << log;
  EXPECT_TRUE(Contains(log, "Migration options in force: none")) << log;
  ScriptedFrontend ui;
  Workspace ws(ui, source.dir().str());
  ASSERT_TRUE(testing::ConnectServerSource(ws, server, "mig_typed_" + std::to_string(::getpid())));
  std::string json = "{\"typed\":[[";
  oledb::TextReadOptions header;
  header.onColumns = [&](const std::vector<oledb::ColumnInfo>& columns) {
    bool first = true;
    for (const auto& c : columns) {
      if (c.IsBookmark() || c.ordinal == 0) continue;
      if (!first) json += ",";
      first = false;
      testing::AppendJsonString(json, c.name);
    }
    return true;
  };
  const auto read = oledb::ReadTextRows(
      &ws.source.session, "select * from typed",
      [&](const oledb::TextRow& row) {
        json += "],[";
        for (std::size_t c = 0; c < row.size(); ++c) {
          if (c > 0) json += ",";
          if (row.IsNull(c)) {
            json += "null";
          } else {
            testing::AppendJsonString(json, row.Value(c));
          }
        }
        return true;
      },
      header);
  ASSERT_EQ(read.outcome, oledb::TextReadOutcome::Rows) << read.errorText;
  json += "]]}";
  testing::WriteFile(source.dir() / "expected.json", json);
  EXPECT_EQ(
      Python("compare_workbook.py", ShellQuote(textBook.string()) + " " +
                                        ShellQuote((source.dir() / "expected.json").string())),
      "");
}

// The ids in column A of the sheet's rows under its header, which must run
// on from `next`; the number of rows, or -1 when they do not.
int IdsRunOn(const xls::Workbook& wb, const std::string& sheetName, int& next) {
  const auto index = wb.FindSheet(sheetName);
  if (!index) return -1;
  const xls::Sheet& sheet = wb.sheet(*index);
  int rows = 0;
  for (std::uint32_t r = 1; sheet.GetCell(r, 0).exists; ++r, ++rows) {
    if (sheet.GetValue(r, 0).text != std::to_string(next++)) return -1;
  }
  return rows;
}

std::string Cell(const fs::path& book, const std::string& sheetName, std::uint32_t row,
                 std::uint32_t col) {
  auto wb = xls::Workbook::Load(book.string());
  if (!wb.ok()) return "(" + wb.message() + ")";
  const auto index = wb->FindSheet(sheetName);
  return index ? wb->sheet(*index).GetValue(row, col).text : "(no sheet)";
}

TEST(MigrateOptions, LongTablesGoOnOnNewSheetsAndASecondMigrationLeavesOrReplacesTheTables) {
  MIGRATOR_REQUIRE_MYSQL(server);
  Source source(server, "mig_again");
  ASSERT_TRUE(source.Sql(
      "create table big (id int not null primary key, label varchar(20));"
      "insert into big select seq, concat('row ', seq) from seq_1_to_150000;"
      "create table small (id int, v varchar(10)); insert into small values (1, 'one'), (2, "
      "'two');"));
  const fs::path book = source.dir() / "book.xls";
  std::string log;

  // 150,000 rows over three sheets of at most 65,535, every row once.
  ASSERT_EQ(source.Migrate(book, "--split-sheets", log), 0) << log;
  for (const char* line :
       {"[big] a sheet holds 65535 rows under its header: the rows from record 65536 on go on in "
        "[big (2)]",
        "[big] the records are on 3 sheets, one table each: big, big (2), big (3)",
        "[big] 150000 records converted, convertion completed SUCCESSFULLY!",
        "Migration options in force: Continue long tables on new sheets (--split-sheets)"}) {
    EXPECT_TRUE(Contains(log, line)) << line << "\n" << log;
  }
  {
    auto wb = xls::Workbook::Load(book.string());
    ASSERT_TRUE(wb.ok()) << wb.message();
    int next = 1;
    EXPECT_EQ(IdsRunOn(*wb, "big", next), 65535);
    EXPECT_EQ(IdsRunOn(*wb, "big (2)", next), 65535);
    EXPECT_EQ(IdsRunOn(*wb, "big (3)", next), 18930);
    EXPECT_EQ(next, 150001);
    EXPECT_EQ(wb->sheet(*wb->FindSheet("big (3)")).GetValue(0, 1).text, "label");
  }

  // Without leave the tables the workbook has stay as they are: no second
  // attempt from the column list, and the task fails naming the option.
  ASSERT_TRUE(
      source.Sql("update small set v = 'changed' where id = 1;"
                 "delete from big where id > 100000;"));
  EXPECT_EQ(source.Migrate(book, "--split-sheets", log), 1) << log;
  EXPECT_TRUE(Contains(log,
                       "exists in the workbook as [big] and is left as it is: "
                       "--replace-tables (\"Overwrite the same-name table\") replaces it"))
      << log;
  EXPECT_TRUE(Contains(log,
                       "left as they are (--replace-tables (\"Overwrite the same-name "
                       "table\") replaces them): big, small"))
      << log;
  EXPECT_FALSE(Contains(log, "column list")) << log;
  EXPECT_EQ(Cell(book, "small", 1, 1), "one");

  // With leave every table equals the source again, the third sheet the old
  // table was continued on included.
  EXPECT_EQ(source.Migrate(book, "--split-sheets --replace-tables", log), 0) << log;
  EXPECT_TRUE(Contains(log,
                       "Migration options in force: Continue long tables on new sheets "
                       "(--split-sheets), Overwrite the same-name table (--replace-tables)"))
      << log;
  EXPECT_TRUE(Contains(log,
                       "the tables an earlier migration continued it in are removed with "
                       "it: big (3)"))
      << log;
  {
    auto wb = xls::Workbook::Load(book.string());
    ASSERT_TRUE(wb.ok()) << wb.message();
    int next = 1;
    EXPECT_EQ(IdsRunOn(*wb, "big", next), 65535);
    EXPECT_EQ(IdsRunOn(*wb, "big (2)", next), 34465);
    EXPECT_FALSE(wb->FindSheet("big (3)") &&
                 wb->sheet(*wb->FindSheet("big (3)")).GetCell(0, 0).exists);
  }
  EXPECT_EQ(Cell(book, "small", 1, 1), "changed");

  // Killed half-way through the replacement of big, the workbook keeps the
  // old table whole.
  ASSERT_TRUE(source.Sql("delete from big where id > 50000; update big set label = 'new';"));
  const fs::path err = source.dir() / "killed";
  testing::BackgroundCommand run(source.Cli(
      "migrate --yes --split-sheets --replace-tables --source " + ShellQuote(source.Url()) +
      " --target " + ShellQuote(book.string()) + " </dev/null 2>" + ShellQuote(err.string())));
  ASSERT_TRUE(testing::WaitUntil(
      [&] { return Contains(testing::ReadFile(err), "[big] 2000 records converted!"); }));
  run.Signal(SIGKILL);
  EXPECT_EQ(run.Wait(), 128 + SIGKILL) << testing::ReadFile(err);
  {
    auto wb = xls::Workbook::Load(book.string());
    ASSERT_TRUE(wb.ok()) << wb.message();
    int next = 1;
    EXPECT_EQ(IdsRunOn(*wb, "big", next), 65535);
    EXPECT_EQ(IdsRunOn(*wb, "big (2)", next), 34465);
    EXPECT_EQ(wb->sheet(*wb->FindSheet("big")).GetValue(1, 1).text, "row 1");
  }
}

// Cloning onto an existing workbook: with --replace-workbook the workbook is
// copied aside (Auto Backup) and replaced whole; a link is never replaced, and
// a stopped clone leaves the old workbook as it was and no file behind.
TEST(MigrateOptions, ReplaceWorkbookSwapsInAWholeCloneOnlyAndNeverThroughALink) {
  MIGRATOR_REQUIRE_MYSQL(server);
  Source source(server, "mig_clone");
  ASSERT_TRUE(
      source.Sql("create table a (id int, v varchar(10)); insert into a values (1, 'old');"
                 "create table gone (id int); insert into gone values (7);"));
  const fs::path folder = source.dir() / "books";
  fs::create_directories(folder);
  const fs::path book = folder / "book.xls";
  std::string log;
  ASSERT_EQ(source.Migrate(book, "", log), 0) << log;
  const std::string original = testing::ReadFile(book);
  testing::WriteFile(source.home() / "migrator.cfg", "[Public]\nAutoBackup=true\n");
  ASSERT_TRUE(source.Sql("drop table gone; update a set v = 'new';"));

  // A link to the workbook is not the workbook: nothing is written through it.
  const fs::path link = source.dir() / "link.xls";
  fs::create_symlink(book, link);
  EXPECT_EQ(source.Migrate(link, "--replace-workbook", log), 1) << log;
  EXPECT_TRUE(Contains(log, "is not replaced: no workbook file of exactly that name")) << log;
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_TRUE(testing::ReadFile(book) == original);

  ASSERT_EQ(source.Migrate(book, "--replace-workbook", log), 0) << log;
  EXPECT_TRUE(Contains(log,
                       "Migration options in force: Overwrite the same-name database "
                       "(--replace-workbook)"))
      << log;
  EXPECT_TRUE(Contains(log, "is replaced by the new copy")) << log;
  EXPECT_EQ(Cell(book, "a", 1, 1), "new");
  EXPECT_EQ(Cell(book, "gone", 1, 0), "(no sheet)");
  std::vector<fs::path> copies;
  for (const auto& e : fs::directory_iterator(source.home() / "backup"))
    copies.push_back(e.path());
  ASSERT_EQ(copies.size(), 1u);
  EXPECT_TRUE(testing::ReadFile(copies[0]) == original);

  // Stopped half-way, the clone is thrown away and the workbook stays.
  ASSERT_TRUE(
      source.Sql("create table big (id int, label varchar(20));"
                 "insert into big select seq, concat('row ', seq) from seq_1_to_60000;"));
  const std::string before = testing::ReadFile(book);
  const fs::path err = source.dir() / "stopped";
  testing::BackgroundCommand run(source.Cli(
      "migrate --yes --replace-workbook --source " + ShellQuote(source.Url()) + " --target " +
      ShellQuote(book.string()) + " </dev/null 2>" + ShellQuote(err.string())));
  ASSERT_TRUE(testing::WaitUntil(
      [&] { return Contains(testing::ReadFile(err), "[big] 2000 records converted!"); }));
  run.Signal(SIGTERM);
  EXPECT_EQ(run.Wait(), 4) << testing::ReadFile(err);
  EXPECT_TRUE(Contains(testing::ReadFile(err), "is not replaced: it stays as it was"))
      << testing::ReadFile(err);
  EXPECT_TRUE(testing::ReadFile(book) == before);
  std::vector<std::string> left;
  for (const auto& e : fs::directory_iterator(folder))
    if (e.path() != book) left.push_back(e.path().filename().string());
  EXPECT_TRUE(left.empty()) << left.front();
}

}  // namespace
}  // namespace migrator
