// migrator-cli backup and restore, run as programs: a workbook backed up and
// restored into a new one reads back the same, restore refuses to overwrite
// rows without --replace, and the exit codes say what happened.

#include <gtest/gtest.h>

#include <filesystem>

#include "testlib/testlib.h"
#include "xls/workbook.h"

namespace migrator {
namespace {

namespace fs = std::filesystem;
using testing::ReadFile;
using testing::RunCommand;
using testing::ShellQuote;

class CliBackup : public ::testing::Test {
 protected:
  CliBackup() : home_("MIGRATOR_HOME", dir.str()) {
    cli_ = std::string(MIGRATOR_BINARY_DIR) + "/migrator-cli";
    if (!fs::exists(cli_)) return;
    // Two tables, each on a sheet of its own under a defined name.
    auto wb = xls::Workbook::New();
    const char* values[] = {"O'Brien", "two\nlines", "\xE5\x8C\x97\xE4\xBA\xAC \xF0\x9F\x98\x80"};
    for (const char* name : {"orders", "notes"}) {
      auto sheet = wb.AddSheet(name);
      EXPECT_TRUE(sheet.ok());
      auto& s = wb.sheet(*sheet);
      EXPECT_TRUE(s.SetText(0, 0, "id").ok());
      EXPECT_TRUE(s.SetText(0, 1, "name").ok());
      for (std::uint32_t r = 1; r <= 3; ++r) {
        EXPECT_TRUE(s.SetNumber(r, 0, r * 1.5).ok());
        EXPECT_TRUE(s.SetText(r, 1, values[r - 1]).ok());
      }
      EXPECT_TRUE(wb.DefineName(name, *sheet, xls::Range{0, 0, 3, 1}).ok());
    }
    EXPECT_TRUE(wb.Save(Path("book.xls")).ok());
  }

  std::string Path(const std::string& name) const { return (dir / name).string(); }

  // Runs migrator-cli with the arguments (already quoted); exit status and
  // both streams.
  testing::CommandResult Cli(const std::string& args) {
    return RunCommand("cd " + ShellQuote(dir.str()) + " && " + ShellQuote(cli_) + " " + args +
                      " 2>&1");
  }
  std::string Rows(const std::string& book, const std::string& table) {
    return RunCommand(ShellQuote(cli_) + " sql --target " + ShellQuote(Path(book)) + " " +
                      ShellQuote("select * from " + table) + " 2>/dev/null")
        .out;
  }

  testing::TempDir dir;
  testing::ScopedEnv home_;
  std::string cli_;
};

TEST_F(CliBackup, BackupAndRestoreRoundTripWithTheirExitCodes) {
  if (!fs::exists(cli_)) GTEST_SKIP() << "build migrator-cli first (" << cli_ << ")";

  auto r = Cli("backup --target book.xls --to out");
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(ReadFile(dir / "out" / "book" / "TABLES" / "orders.tbl"),
            "CREATE TABLE `orders`(\n`id` NUMERIC ,\n`name` TEXT )");
  // A header line, one statement a row, and the count last.
  const std::string data = ReadFile(dir / "out" / "book" / "DATA" / "orders.data");
  EXPECT_EQ(data.substr(data.find('\n') + 1, 41), "insert into `orders` values (1.5,'O''Brie");
  EXPECT_EQ(data.substr(data.size() - 16), "\n-- end: 3 rows\n");
  r = Cli("backup --target book.xls --to one --table notes");
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_TRUE(fs::exists(dir / "one" / "TABLES" / "notes.tbl"));
  EXPECT_TRUE(fs::exists(dir / "one" / "DATA" / "notes.data"));

  // A table that is not there fails; a file given as the directory runs
  // nothing and stays.
  r = Cli("backup --target book.xls --to none --table missing");
  EXPECT_EQ(r.status, 1) << r.out;
  EXPECT_NE(r.out.find("The definition of table [missing] could not be read"), std::string::npos);
  testing::WriteFile(dir / "afile", "keep");
  EXPECT_EQ(Cli("backup --target book.xls --to afile").status, 3);
  EXPECT_EQ(ReadFile(dir / "afile"), "keep");

  // A restore into a new workbook reads back the same rows.
  r = Cli("restore --from out/book --target copy.xls");
  ASSERT_EQ(r.status, 0) << r.out;
  const std::string orders = Rows("book.xls", "orders");
  EXPECT_NE(orders.find("O'Brien"), std::string::npos) << orders;
  EXPECT_EQ(Rows("copy.xls", "orders"), orders);
  EXPECT_EQ(Rows("copy.xls", "notes"), Rows("book.xls", "notes"));

  // Rows are not overwritten without --replace; with it they are.
  r = Cli("restore --from out/book --target copy.xls --table orders");
  EXPECT_EQ(r.status, 3) << r.out;
  EXPECT_NE(r.out.find("Table [orders] already holds rows: it is not overwritten"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("not overwritten without --replace; nothing changed"), std::string::npos);
  EXPECT_EQ(Cli("restore --from out/book --target copy.xls --table orders --replace").status, 0);
  EXPECT_EQ(Rows("copy.xls", "orders"), orders);
  r = Cli("restore --from one --target copy.xls --replace");
  EXPECT_EQ(r.status, 0) << r.out;

  // A directory that is not a backup names those below it, and no workbook
  // is made for it.
  r = Cli("restore --from out --target other.xls");
  EXPECT_EQ(r.status, 3) << r.out;
  EXPECT_NE(r.out.find("these directories below it do: book"), std::string::npos) << r.out;
  EXPECT_FALSE(fs::exists(dir / "other.xls"));

  for (const char* bad : {"backup --target book.xls", "backup --to out --tables",
                          "backup --target book.xls --to o --tables --views", "restore --from out",
                          "restore --target x.xls --from out --bogus"}) {
    EXPECT_EQ(Cli(bad).status, 2) << bad;
  }
}

}  // namespace
}  // namespace migrator
