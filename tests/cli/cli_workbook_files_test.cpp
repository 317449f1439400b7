// migrator-cli and the person's own workbooks, against the private server: a
// target named with another case or with ".xls" twice never replaces the
// workbook beside it, migrations and INSERTs of several processes into one
// workbook all arrive or are refused in words, and Auto Backup copies the
// workbook aside before a migration.

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <future>
#include <string>
#include <vector>

#include "testlib/testlib.h"
#include "xls/workbook.h"

namespace migrator {
namespace {

namespace fs = std::filesystem;
using testing::ShellQuote;

class CliWorkbookFiles : public ::testing::Test {
 protected:
  void SetUpServer(const testing::MySqlServer& server, const std::string& sql) {
    server_ = server;
    fs::create_directories(home);
    const std::string client = testing::RootClient(server);
    const auto r =
        testing::RunCommand(client + " -e " +
                            ShellQuote("drop database if exists " + db + "; create database " + db +
                                       "; use " + db + "; " + sql) +
                            " 2>&1");
    ASSERT_EQ(r.status, 0) << r.out;
    url = "mysql://" + server.user + ":" + testing::PercentEncode(server.password) + "@" +
          server.host + ":" + server.port + "/" + db;
  }
  ~CliWorkbookFiles() override {
    if (server_)
      testing::RunCommand(testing::RootClient(*server_) + " -e " +
                          ShellQuote("drop database if exists " + db));
  }

  // migrator-cli with the given arguments; its standard error in `err`.
  testing::CommandResult Cli(const std::string& args, std::string* err = nullptr) {
    static int n = 0;
    const std::string errFile = (dir / ("err" + std::to_string(++n))).string();
    auto r = testing::RunCommand("MIGRATOR_HOME=" + ShellQuote(home.string()) + " " +
                                 MIGRATOR_BINARY_DIR + "/migrator-cli " + args + " </dev/null 2>" +
                                 ShellQuote(errFile));
    if (err) *err = testing::ReadFile(errFile);
    return r;
  }
  testing::CommandResult Migrate(const fs::path& target, const std::string& options,
                                 std::string* err = nullptr) {
    return Cli("migrate --yes --source " + ShellQuote(url) + " --target " +
                   ShellQuote(target.string()) + " " + options,
               err);
  }

  static std::vector<std::string> Sheets(const fs::path& path) {
    std::vector<std::string> names;
    auto wb = xls::Workbook::Load(path.string());
    EXPECT_TRUE(wb.ok()) << path << ": " << wb.message();
    if (wb.ok())
      for (std::size_t i = 0; i < wb->sheetCount(); ++i)
        names.push_back(wb->sheet(i).name());
    return names;
  }
  // The rows under a sheet's header.
  static std::size_t RowCount(const fs::path& path, const std::string& sheet) {
    auto wb = xls::Workbook::Load(path.string());
    if (!wb.ok()) return 0;
    const auto index = wb->FindSheet(sheet);
    if (!index) return 0;
    std::size_t n = 0;
    while (wb->sheet(*index).GetCell(static_cast<uint32_t>(n + 1), 0).exists)
      ++n;
    return n;
  }
  static void MakeBook(const fs::path& path, const std::string& sheet) {
    auto wb = xls::Workbook::New();
    ASSERT_TRUE(wb.AddSheet(sheet).ok());
    ASSERT_TRUE(wb.sheet(0).SetText(0, 0, "the person's").ok());
    ASSERT_TRUE(wb.Save(path.string()).ok());
  }

  testing::TempDir dir;
  const fs::path home = dir / "home";
  const std::string db = "mig_cli_files_" + std::to_string(::getpid());
  std::string url;

 private:
  std::optional<testing::MySqlServer> server_;
};

TEST_F(CliWorkbookFiles, ATargetOfAnotherCaseOrWithXlsTwiceNeverReplacesTheWorkbookBesideIt) {
  MIGRATOR_REQUIRE_MYSQL(server);
  SetUpServer(server, "create table t1 (id int, v varchar(10)); insert into t1 values (1, 'a');");
  MakeBook(dir / "Report.xls", "mine");
  const std::string report = testing::ReadFile(dir / "Report.xls");

  for (const char* options : {"", "--table t1", "--tables"}) {
    std::string err;
    EXPECT_EQ(Migrate(dir / "Report.XLS", options, &err).status, 3) << options << "\n" << err;
    EXPECT_NE(err.find((dir / "Report.xls").string()), std::string::npos) << err;
    EXPECT_TRUE(testing::ReadFile(dir / "Report.xls") == report) << options;
    EXPECT_FALSE(fs::exists(dir / "Report.XLS")) << options;
  }

  // "a.xls.xls" is a workbook of its own; "a.xls" stays the person's.
  MakeBook(dir / "a.xls", "mine");
  const std::string a = testing::ReadFile(dir / "a.xls");
  std::string err;
  EXPECT_EQ(Migrate(dir / "a.xls.xls", "", &err).status, 0) << err;
  EXPECT_EQ(Migrate(dir / "b.xls.xls", "--table t1", &err).status, 0) << err;
  EXPECT_TRUE(testing::ReadFile(dir / "a.xls") == a);
  EXPECT_FALSE(fs::exists(dir / "b.xls"));
  EXPECT_EQ(RowCount(dir / "a.xls.xls", "t1"), 1u);
  EXPECT_EQ(RowCount(dir / "b.xls.xls", "t1"), 1u);
}

// Two migrations and a stream of INSERTs into one workbook at once: every
// process that says it succeeded has its rows in the file, and one that could
// not wait says who held the workbook.
TEST_F(CliWorkbookFiles, SeveralProcessesWritingOneWorkbookLoseNothing) {
  MIGRATOR_REQUIRE_MYSQL(server);
  std::string sql;
  for (const char* t : {"t1", "t2"}) {
    sql += std::string("create table ") + t + " (id int primary key, v varchar(20)); insert into " +
           t + " select seq, concat('v', seq) from seq_1_to_5000; ";
  }
  SetUpServer(server, sql);
  const fs::path book = dir / "shared.xls";
  MakeBook(book, "mine");
  std::string err;
  ASSERT_EQ(
      Cli("sql --target " + ShellQuote(book.string()) + " 'create table notes (n text)'", &err)
          .status,
      0)
      << err;

  auto migration = [&](const std::string& table) {
    return std::async(std::launch::async, [this, &book, table] {
      std::string e;
      const int status = Migrate(book, "--table " + table, &e).status;
      return std::make_pair(status, e);
    });
  };
  auto m1 = migration("t1");
  auto m2 = migration("t2");
  int inserted = 0;
  for (int i = 0; i < 20; ++i) {
    std::string e;
    const int status = Cli("sql --target " + ShellQuote(book.string()) +
                               " \"insert into notes values ('n" + std::to_string(i) + "')\"",
                           &e)
                           .status;
    if (status == 0) {
      ++inserted;
    } else {
      EXPECT_NE(e.find("is being changed by"), std::string::npos) << e;
    }
  }
  for (auto* m : {&m1, &m2}) {
    const auto [status, e] = m->get();
    EXPECT_TRUE(status == 0 || e.find("is being changed by") != std::string::npos) << e;
  }
  const auto sheets = Sheets(book);
  EXPECT_NE(std::find(sheets.begin(), sheets.end(), "mine"), sheets.end());
  EXPECT_EQ(static_cast<int>(RowCount(book, "notes")), inserted);
  EXPECT_GT(inserted, 0);
  for (const char* t : {"t1", "t2"}) {
    const auto rows = RowCount(book, t);
    EXPECT_TRUE(rows == 5000 || std::find(sheets.begin(), sheets.end(), t) == sheets.end())
        << t << ": " << rows;
  }
}

// Auto Backup on in the configuration file: the workbook as it was is copied
// under the backup directory before the migration changes it.
TEST_F(CliWorkbookFiles, AutoBackupCopiesTheWorkbookBeforeAMigration) {
  MIGRATOR_REQUIRE_MYSQL(server);
  SetUpServer(server, "create table t1 (id int, v varchar(10)); insert into t1 values (1, 'a');");
  std::string err;
  testing::WriteFile(home / "migrator.cfg", "[Public]\nAutoBackup=true\n");
  const fs::path open = dir / "open.xls";
  MakeBook(open, "mine");
  const std::string original = testing::ReadFile(open);
  EXPECT_EQ(Migrate(open, "--table t1", &err).status, 0) << err;
  std::vector<fs::path> copies;
  for (const auto& e : fs::directory_iterator(home / "backup"))
    copies.push_back(e.path());
  ASSERT_EQ(copies.size(), 1u);
  EXPECT_EQ(copies[0].filename().string().rfind("open-", 0), 0u) << copies[0];
  EXPECT_TRUE(testing::ReadFile(copies[0]) == original);
  EXPECT_NE(err.find("Auto Backup: [" + open.string() + "] copied to [" + copies[0].string() + "]"),
            std::string::npos)
      << err;
  EXPECT_EQ(RowCount(open, "t1"), 1u);
}

}  // namespace
}  // namespace migrator
