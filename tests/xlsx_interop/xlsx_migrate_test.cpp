// migrator-cli migrate and restore into .xlsx workbooks against the private
// server: a table past the rows of an .xlsx sheet is cut there and the run
// fails; a table of 200,000 rows arrives whole and reads back cell for cell
// in openpyxl and in the engine; a backup of such a workbook restores into a
// new .xlsx equal. The tables are filled on the server from a sequence.

#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>

#include "testlib/testlib.h"
#include "xls/workbook.h"

namespace migrator {
namespace {

namespace fs = std::filesystem;
using testing::RunCommand;
using testing::ShellQuote;

const std::string kCli = std::string(MIGRATOR_BINARY_DIR) + "/migrator-cli";
const std::string kCheck = std::string(MIGRATOR_TEST_DATA_DIR) + "/xlsx/check_xlsx.py";

// A database of one table `name` of `rows` rows, numbered from 1:
// id, "row N", N/8, 2020-01-01 plus N mod 3000 days, and a text that is NULL
// in every fourth row.
void MakeTable(const std::string& client, const std::string& db, const std::string& name,
               long rows) {
  const std::string n = std::to_string(rows);
  // The Sequence engine's table where the server has it, else a recursive
  // query.
  const bool sequence =
      RunCommand(client + " -e 'select count(*) from seq_1_to_2' " + db + " >/dev/null 2>&1")
          .status == 0;
  const std::string from =
      sequence ? "select seq as n from seq_1_to_" + n
               : "with recursive s(n) as (select 1 union all select n + 1 from s where n < " + n +
                     ") select n from s";
  const std::string sql =
      "set max_recursive_iterations = 2000000; create table " + name +
      " (id int primary key, name varchar(20), amount decimal(12,3), day date, note "
      "varchar(10)); insert into " +
      name + " select n, concat('row ', n), n / 8, '2020-01-01' + interval (n % 3000) day, " +
      "if(n % 4 = 0, null, concat('t', n % 100)) from (" + from + ") q";
  const auto made = RunCommand(client + " " + db + " -e " + ShellQuote(sql) + " 2>&1");
  ASSERT_EQ(made.status, 0) << made.out;
}

// The sheet of a table in an .xlsx workbook, as the engine reads it.
std::optional<xls::Workbook> SheetOf(const std::string& path, const std::string& table,
                                     const xls::Sheet*& sheet) {
  auto wb = xls::Workbook::Load(path);
  if (!wb) {
    ADD_FAILURE() << wb.message();
    return std::nullopt;
  }
  EXPECT_EQ(wb->format(), xls::FileFormat::kXlsx);
  const auto index = wb->FindSheet(table);
  if (!index) {
    ADD_FAILURE() << path << " has no sheet " << table;
    return std::nullopt;
  }
  std::optional<xls::Workbook> out(std::move(*wb));
  sheet = &out->sheet(*index);
  return out;
}

// The engine's reading of what MakeTable made, on the sheet "whole".
void ExpectEngineReadsTable(const std::string& path, uint32_t rows) {
  const xls::Sheet* sheet = nullptr;
  const auto wb = SheetOf(path, "whole", sheet);
  if (!wb) return;
  const xls::Sheet& s = *sheet;
  EXPECT_EQ(s.UsedRange().value_or(xls::Range{}).lastRow, rows);
  int faults = 0;
  using namespace std::chrono;
  for (uint32_t r = 1; r <= rows && faults < 10; ++r) {
    const int days = static_cast<int>(r % 3000);
    const year_month_day ymd{sys_days{2020y / January / 1} + std::chrono::days{days}};
    char iso[16];
    std::snprintf(iso, sizeof iso, "%04d-%02u-%02u", static_cast<int>(ymd.year()),
                  static_cast<unsigned>(ymd.month()), static_cast<unsigned>(ymd.day()));
    const xls::Value id = s.GetValue(r, 0), name = s.GetValue(r, 1), amount = s.GetValue(r, 2),
                     day = s.GetValue(r, 3), note = s.GetValue(r, 4);
    // Numbers arrive as numbers or as the server's text of them.
    auto isNumber = [](const xls::Value& v, double want) {
      return v.kind == xls::Value::Kind::kNumber ? v.number == want
                                                 : !v.text.empty() && std::stod(v.text) == want;
    };
    const bool dayOk = day.kind == xls::Value::Kind::kNumber ? day.number == 43831 + days
                                                             : day.text.rfind(iso, 0) == 0;
    const bool noteOk = r % 4 == 0 ? note.kind == xls::Value::Kind::kEmpty
                                   : note.text == "t" + std::to_string(r % 100);
    if (!(isNumber(id, r) && name.text == "row " + std::to_string(r) && isNumber(amount, r / 8.0) &&
          dayOk && noteOk)) {
      ADD_FAILURE() << "row " << r + 1 << ": " << id.number << " " << name.text << " "
                    << amount.number << amount.text << " " << day.number << day.text << " "
                    << note.text;
      ++faults;
    }
  }
}

struct Fixture {
  testing::TempDir dir;
  std::string db;
  std::string client;
  std::string url;
  std::string home;

  int Cli(const std::string& args, const std::string& log) const {
    return RunCommand("MIGRATOR_HOME=" + ShellQuote(home) + " " + ShellQuote(kCli) + " " + args +
                      " </dev/null >" + ShellQuote(log) + " 2>&1")
        .status;
  }
};

TEST(XlsxMigrate, TablesArriveWholeUpToTheRowsOfAnXlsxSheetAndRestoreEqual) {
  MIGRATOR_REQUIRE_MYSQL(server);
  Fixture f;
  f.home = (f.dir / "home").string();
  fs::create_directories(f.home);
  f.db = "xlsx_mig_" + std::to_string(::getpid());
  f.client = testing::RootClient(server);
  const std::string big = f.db + "_big";
  ASSERT_EQ(RunCommand(f.client + " -e " +
                       ShellQuote("drop database if exists " + f.db + "; create database " + f.db +
                                  "; drop database if exists " + big + "; create database " + big))
                .status,
            0);
  MakeTable(f.client, f.db, "whole", 200000);
  MakeTable(f.client, big, "big", 1100000);
  auto url = [&](const std::string& db) {
    return ShellQuote("mysql://" + server.user + ":" + testing::PercentEncode(server.password) +
                      "@" + server.host + ":" + server.port + "/" + db);
  };
  const std::string log = (f.dir / "log").string();

  // Past the last row of an .xlsx sheet: cut there, and the run fails.
  const std::string cut = (f.dir / "big.xlsx").string();
  EXPECT_EQ(f.Cli("migrate --yes --source " + url(big) + " --target " + ShellQuote(cut), log), 1)
      << testing::ReadFile(log);
  EXPECT_NE(testing::ReadFile(log).find("[big] a sheet of an .xlsx workbook holds 1048575 rows "
                                        "under its header: 51425 records of the table were left "
                                        "behind"),
            std::string::npos)
      << testing::ReadFile(log);
  {
    const xls::Sheet* sheet = nullptr;
    const auto wb = SheetOf(cut, "big", sheet);
    if (wb) {
      EXPECT_EQ(sheet->UsedRange().value_or(xls::Range{}).lastRow, 1048575u);
    }
  }

  // 200,000 rows arrive whole: a clone made as a new .xlsx.
  const std::string book = (f.dir / "clone.xlsx").string();
  ASSERT_EQ(f.Cli("migrate --yes --source " + url(f.db) + " --target " + ShellQuote(book), log), 0)
      << testing::ReadFile(log);
  ExpectEngineReadsTable(book, 200000);
  const bool openpyxl = RunCommand("/usr/bin/python3 -c 'import openpyxl' 2>/dev/null").status == 0;
  if (openpyxl) {
    const auto check = RunCommand("/usr/bin/python3 " + ShellQuote(kCheck) + " migrated " +
                                  ShellQuote(book) + " 200000 2>&1");
    EXPECT_EQ(check.status, 0) << check.out;
  }

  // A backup of the .xlsx workbook restores into a new .xlsx equal.
  const std::string backups = (f.dir / "backups").string();
  ASSERT_EQ(f.Cli("backup --target " + ShellQuote(book) + " --to " + ShellQuote(backups), log), 0)
      << testing::ReadFile(log);
  std::string from;
  for (const auto& e : fs::directory_iterator(backups))
    from = e.path().string();
  const std::string restored = (f.dir / "restored.xlsx").string();
  ASSERT_EQ(f.Cli("restore --from " + ShellQuote(from) + " --target " + ShellQuote(restored), log),
            0)
      << testing::ReadFile(log);
  ExpectEngineReadsTable(restored, 200000);
  const auto cat = [&](const std::string& path) {
    return RunCommand(ShellQuote(kCli) + " workbook cat " + ShellQuote(path) + " whole").out;
  };
  EXPECT_EQ(cat(restored), cat(book));

  RunCommand(f.client + " -e " +
             ShellQuote("drop database if exists " + f.db + "; drop database if exists " + big));
}

}  // namespace
}  // namespace migrator
