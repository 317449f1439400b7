// migrator-cli sql --target: statements on a workbook from the command line.

#include <gtest/gtest.h>

#include <filesystem>

#include "testlib/testlib.h"
#include "wbprov/wb_fixture.h"

namespace migrator::wbtest {
namespace {

using testing::TempDir;

class CliTarget : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!std::filesystem::exists(cli_)) GTEST_SKIP() << "build migrator-cli first (" << cli_ << ")";
    MakeWorkbook(book_);
  }
  // Standard output and, after "|", standard error. `shell` runs first in the
  // same shell (a ulimit).
  testing::CommandResult Sql(const std::string& statement, const std::string& options = "",
                             const std::string& shell = "") {
    const std::string cmd = shell + cli_.string() + " sql " + options + " --target '" +
                            book_.string() + "' \"" + statement + "\" 2>" + (dir_ / "err").string();
    auto r = testing::RunCommand(cmd);
    r.out += "|" + testing::ReadFile(dir_ / "err");
    return r;
  }

  TempDir dir_;
  std::filesystem::path book_ = dir_ / "cli book.xls";
  std::filesystem::path cli_ = std::filesystem::path(MIGRATOR_BINARY_DIR) / "migrator-cli";
};

TEST_F(CliTarget, RunsStatementsAndPrintsRows) {
  auto r = Sql("create table t (id text, name text)");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "|RESULT: The operation completed SUCCESSFULLY\n");
  r = Sql("insert into t values ('1', 'it''s')", "--quiet");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "|");
  r = Sql("insert into t (id) values ('2')", "-q");
  EXPECT_EQ(r.status, 0);
  r = Sql("select * from t");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "1\tit's\n2\t(NULL)\n|");
  r = Sql("select * from [t$]");
  EXPECT_EQ(r.out, "1\tit's\n2\t(NULL)\n|");
}

TEST_F(CliTarget, FailuresPrintTheErrorAndExitNonZero) {
  auto r = Sql("select @@Version");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out,
            "|Syntax error at position 8: expected * after SELECT (only SELECT * FROM a table is "
            "understood), found \"@@Version\".\n");
  r = Sql("select * from nope");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "|The table \"nope\" does not exist in the workbook.\n");

  book_ = dir_ / "missing.xls";
  r = Sql("select * from t");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "|The workbook \"" + book_.string() + "\" does not exist.\n");

  auto usage = testing::RunCommand(cli_.string() + " sql --target 2>&1");
  EXPECT_EQ(usage.status, 2);
  EXPECT_NE(usage.out.find("--target FILE.xls|FILE.xlsx STATEMENT"), std::string::npos);
}

TEST_F(CliTarget, ARowThatCannotBeSavedFailsWithTheSystemsReason) {
  ASSERT_EQ(Sql("create table t (id text)").status, 0);
  const std::string before = testing::ReadFile(book_);
  // 1 KiB: the new workbook cannot be written.
  auto r = Sql("insert into t values ('1')", "", "ulimit -f 1; ");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "|The rows added to the workbook \"" + book_.string() +
                       "\" since it was last saved are not in the file: cannot save " +
                       book_.string() + ": File too large\n");
  EXPECT_EQ(testing::ReadFile(book_), before);
  EXPECT_EQ(Sql("select * from t").out, "|");
}

}  // namespace
}  // namespace migrator::wbtest
