// migrate --filters against the private server, into .xls and .xlsx: the
// filter buttons as LibreOffice, openpyxl and xlrd see them; the hidden name
// they need is no table (sql refuses it, a backup has no file of it); a copy
// into the other format keeps them, an INSERT grows them, a second migration
// that replaces the tables leaves one filter over each new table, or none
// without the option; without the option nothing is written.

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <string>

#include "testlib/testlib.h"

namespace migrator {
namespace {

const std::string kCli = std::string(MIGRATOR_BINARY_DIR) + "/migrator-cli";
const std::string kCheck = std::string(MIGRATOR_TEST_DATA_DIR) + "/xls/check_filters.py";

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

struct Folder {
  testing::TempDir dir;
  std::string home = (dir / "home").string();
  std::string log = (dir / "log").string();

  int Cli(const std::string& args) const {
    return testing::RunCommand("MIGRATOR_HOME=" + testing::ShellQuote(home) + " " +
                               testing::ShellQuote(kCli) + " " + args + " </dev/null >" +
                               testing::ShellQuote(log) + " 2>&1")
        .status;
  }
  std::string Log() const { return testing::ReadFile(log); }
  std::string Path(const std::string& name) const { return (dir / name).string(); }
};

// check_filters.py's verdict on a workbook: empty when the filters are
// exactly `want` ("sheet=A1:C4 ...").
std::string Filters(const std::string& book, const std::string& want) {
  const auto r = testing::RunCommand("/usr/bin/python3 " + testing::ShellQuote(kCheck) + " " +
                                     testing::ShellQuote(book) + " " + want);
  return r.status == 0 ? std::string() : book + ":\n" + r.out;
}

// The database ranges LibreOffice makes of a workbook: its content.xml after
// a conversion to .ods.
std::string LibreOfficeRanges(const Folder& run, const std::string& book, const std::string& out) {
  const std::string dir = run.Path(out);
  testing::RunCommand("soffice -env:UserInstallation=file://" + run.Path("lo-profile") +
                      " --headless --convert-to ods --outdir " + testing::ShellQuote(dir) + " " +
                      testing::ShellQuote(book) + " >/dev/null 2>&1");
  std::string ods;
  for (const auto& e : std::filesystem::directory_iterator(dir))
    ods = e.path().string();
  return testing::RunCommand("unzip -p " + testing::ShellQuote(ods) + " content.xml").out;
}

TEST(FilterButtons, MigratedTablesCarryFiltersThatOtherProgramsSeeAndNoTableShows) {
  MIGRATOR_REQUIRE_MYSQL(server);
  if (testing::RunCommand("/usr/bin/python3 -c 'import openpyxl, xlrd' 2>/dev/null").status != 0)
    GTEST_SKIP() << "python3 with openpyxl and xlrd is not installed";
  Folder run;
  std::filesystem::create_directories(run.home);
  const std::string db = "filters_" + std::to_string(::getpid());
  const std::string client = testing::RootClient(server);
  auto sql = [&](const std::string& text) {
    const auto r = testing::RunCommand(client + " -e " + testing::ShellQuote(text) + " 2>&1");
    EXPECT_EQ(r.status, 0) << text << "\n" << r.out;
  };
  sql("drop database if exists " + db + "; create database " + db + "; use " + db +
      "; create table items (id int primary key, name varchar(20), price decimal(8,2));"
      " insert into items values (1, 'a', 1.5), (2, 'b', 2.5), (3, 'c', 3);"
      " create table notes (id int, note text); insert into notes values (1, 'x'), (2, 'y');");
  const std::string url =
      testing::ShellQuote("mysql://" + server.user + ":" + testing::PercentEncode(server.password) +
                          "@" + server.host + ":" + server.port + "/" + db);
  auto migrate = [&](const std::string& book, const std::string& options) {
    return run.Cli("migrate --yes " + options + " --source " + url + " --target " +
                   testing::ShellQuote(book));
  };
  const std::string both = "items=A1:C4 notes=A1:B3";

  for (const char* ext : {".xls", ".xlsx"}) {
    SCOPED_TRACE(ext);
    // With the option every table gets its filter, and the summary says so.
    const std::string book = run.Path(std::string("shop") + ext);
    ASSERT_EQ(migrate(book, "--filters"), 0) << run.Log();
    EXPECT_TRUE(Contains(run.Log(),
                         "Migration options in force: Filter buttons on headers "
                         "(--filters)"))
        << run.Log();
    EXPECT_EQ(Filters(book, both), "");
    if (testing::RunCommand("command -v soffice >/dev/null 2>&1").status == 0) {
      const std::string ranges = LibreOfficeRanges(run, book, std::string("ods") + ext);
      EXPECT_TRUE(Contains(ranges,
                           "table:target-range-address=\"items.A1:items.C4\" "
                           "table:display-filter-buttons=\"true\""))
          << ranges;
    }

    // Without it, none.
    const std::string plain = run.Path(std::string("plain") + ext);
    ASSERT_EQ(migrate(plain, ""), 0) << run.Log();
    EXPECT_EQ(Filters(plain, ""), "");

    // The hidden name is no table: sql does not find it, a backup has no
    // file of it.
    EXPECT_NE(
        run.Cli("sql --target " + testing::ShellQuote(book) + " 'select * from _FilterDatabase'"),
        0);
    EXPECT_TRUE(Contains(run.Log(), "does not exist")) << run.Log();
    const std::string backups = run.Path(std::string("backups") + ext);
    ASSERT_EQ(run.Cli("backup --target " + testing::ShellQuote(book) + " --to " +
                      testing::ShellQuote(backups)),
              0)
        << run.Log();
    std::string tables;
    for (const auto& e : std::filesystem::recursive_directory_iterator(backups))
      if (e.path().extension() == ".tbl") tables += e.path().stem().string() + " ";
    EXPECT_TRUE(Contains(tables, "items ") && Contains(tables, "notes ")) << tables;
    EXPECT_FALSE(Contains(tables, "FilterDatabase")) << tables;

    // A copy into the other format keeps the filters.
    const std::string copy =
        run.Path(std::string("copy") + (ext == std::string(".xls") ? ".xlsx" : ".xls"));
    ASSERT_EQ(
        run.Cli("workbook copy " + testing::ShellQuote(book) + " " + testing::ShellQuote(copy)), 0)
        << run.Log();
    EXPECT_EQ(Filters(copy, both), "");

    // A row added to a table is inside its filter.
    ASSERT_EQ(run.Cli("sql --target " + testing::ShellQuote(book) +
                      " \"insert into items values (9, 'z', 9)\""),
              0)
        << run.Log();
    EXPECT_EQ(Filters(book, "items=A1:C5 notes=A1:B3"), "");
  }

  // A second migration that replaces the tables: one filter over each new
  // table; without the option the replaced tables take theirs with them.
  sql("insert into " + db + ".items values (4, 'd', 4), (5, 'e', 5)");
  ASSERT_EQ(migrate(run.Path("shop.xls"), "--filters --replace-tables"), 0) << run.Log();
  EXPECT_EQ(Filters(run.Path("shop.xls"), "items=A1:C6 notes=A1:B3"), "");
  ASSERT_EQ(migrate(run.Path("shop.xlsx"), "--replace-tables"), 0) << run.Log();
  EXPECT_EQ(Filters(run.Path("shop.xlsx"), ""), "");

  sql("drop database if exists " + db);
}

}  // namespace
}  // namespace migrator
