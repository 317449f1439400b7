// .xlsx workbooks against independent programs: openpyxl and LibreOffice read
// what the engine writes; workbooks they wrote keep everything through a copy
// and through an INSERT of the workbook provider; a 200,000-row sheet reads
// back cell for cell in openpyxl. Skipped when the programs are missing;
// minutes of work, so labelled slow.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "app/scripted_frontend.h"
#include "oledb/operations.h"
#include "testlib/testlib.h"
#include "wbprov/wb_fixture.h"
#include "xls/workbook.h"

namespace migrator::xls {
namespace {

namespace fs = std::filesystem;
using testing::RunCommand;
using testing::ShellQuote;

const std::string kData = std::string(MIGRATOR_TEST_DATA_DIR) + "/xlsx";
const std::string kCli = std::string(MIGRATOR_BINARY_DIR) + "/migrator-cli";

bool HaveOpenpyxl() {
  return RunCommand("/usr/bin/python3 -c 'import openpyxl' 2>/dev/null").status == 0;
}
bool HaveSoffice() {
  return RunCommand("command -v soffice >/dev/null 2>&1").status == 0;
}
#define REQUIRE_OPENPYXL() \
  if (!HaveOpenpyxl()) GTEST_SKIP() << "python3 with openpyxl is not installed"

// check_xlsx.py's verdict: empty when it found nothing wrong.
std::string Check(const std::string& args) {
  auto r =
      RunCommand("/usr/bin/python3 " + ShellQuote(kData + "/check_xlsx.py") + " " + args + " 2>&1");
  return r.status == 0 ? std::string() : "status " + std::to_string(r.status) + ":\n" + r.out;
}

// LibreOffice's CSV of every sheet, into `outdir`; false when it failed.
bool ToCsv(const std::string& file, const fs::path& outdir, const fs::path& profile) {
  return RunCommand("soffice -env:UserInstallation=file://" + profile.string() +
                    " --headless --convert-to "
                    "'csv:Text - txt - csv (StarCalc):44,34,76,1,,0,false,true,true,false,false,-1'"
                    " --outdir " +
                    ShellQuote(outdir.string()) + " " + ShellQuote(file) + " >/dev/null 2>&1")
             .status == 0;
}

TEST(XlsxInterop, OpenpyxlAndLibreOfficeReadWhatTheEngineWrites) {
  REQUIRE_OPENPYXL();
  testing::TempDir dir;
  Workbook wb = Workbook::New(FileFormat::kXlsx);
  ASSERT_TRUE(wb.AddSheet("Data"));
  ASSERT_TRUE(wb.AddSheet("Hidden"));
  Sheet& s = wb.sheet(0);
  const char* head[] = {"id", "name", "when", "amount"};
  for (uint32_t c = 0; c < 4; ++c)
    ASSERT_TRUE(s.SetText(0, c, head[c]));
  for (uint32_t r = 1; r <= 10; ++r) {
    ASSERT_TRUE(s.SetNumber(r, 0, r));
    ASSERT_TRUE(
        s.SetText(r, 1, "name " + std::to_string(r) + " \xC3\xA9\xE6\x97\xA5\xF0\x9F\x98\x80"));
    ASSERT_TRUE(s.SetNumber(r, 2, 45291.0 + r + 0.5208333333333334));  // 2024-01-r 12:30
    ASSERT_TRUE(s.SetNumber(r, 3, r * 1.25));
  }
  auto date = wb.CellFormatWithNumberFormat(s.GetCell(1, 2).xf, "yyyy-mm-dd hh:mm");
  auto money = wb.CellFormatWithNumberFormat(s.GetCell(1, 3).xf, "#,##0.00");
  ASSERT_TRUE(date && money);
  for (uint32_t r = 1; r <= 10; ++r) {
    ASSERT_TRUE(s.SetCellFormat(r, 2, *date));
    ASSERT_TRUE(s.SetCellFormat(r, 3, *money));
  }
  ASSERT_TRUE(s.SetBoolean(1, 5, true));
  ASSERT_TRUE(s.SetError(2, 5, ErrorCode::kDiv0));
  // Characters XML cannot carry, and text that looks like their escapes.
  ASSERT_TRUE(s.SetText(30, 0, "ctl\x01\x1F end"));
  ASSERT_TRUE(s.SetText(31, 0, "lit _x0041_ end"));
  RowFormat header;
  header.bold = true;
  header.horizontal = HAlign::kCenter;
  header.borderTop = header.borderBottom = header.borderLeft = header.borderInsideVertical = true;
  header.fillColor = 22;
  ASSERT_TRUE(s.FormatRow(0, header));
  ASSERT_TRUE(s.FreezePanes(1, 0));
  ASSERT_TRUE(s.SetColumnWidth(1, 24.5));
  ASSERT_TRUE(s.AddMergedRange({19, 0, 20, 2}));
  ASSERT_TRUE(wb.DefineName("Table1", 0, {0, 0, 10, 3}));
  ASSERT_TRUE(wb.sheet(1).SetText(0, 0, "not shown"));
  ASSERT_TRUE(wb.sheet(1).SetVisibility(Visibility::kHidden));
  const std::string path = (dir / "engine.xlsx").string();
  ASSERT_TRUE(wb.Save(path));

  EXPECT_EQ(Check("engine " + ShellQuote(path)), "");

  if (!HaveSoffice()) GTEST_SKIP() << "LibreOffice (soffice) is not installed";
  ASSERT_TRUE(ToCsv(path, dir.path(), dir / "profile"));
  const std::string csv = testing::ReadFile(dir / "engine-Data.csv");
  EXPECT_NE(csv.find("id,name,when,amount"), std::string::npos) << csv;
  EXPECT_NE(csv.find("3,name 3 \xC3\xA9\xE6\x97\xA5\xF0\x9F\x98\x80,2024-01-03 12:30,3.75"),
            std::string::npos)
      << csv;
  EXPECT_NE(csv.find("ctl\x01\x1F end"), std::string::npos) << csv;
  EXPECT_NE(csv.find("lit _x0041_ end"), std::string::npos) << csv;
}

TEST(XlsxInterop, ForeignWorkbooksKeepEverythingThroughCopyAndInsert) {
  REQUIRE_OPENPYXL();
  if (!fs::exists(kCli)) GTEST_SKIP() << "migrator-cli is not built";
  for (const char* file : {"op_rich.xlsx", "lo_rich.xlsx"}) {
    SCOPED_TRACE(file);
    testing::TempDir dir;
    const std::string original = kData + "/" + file;
    const std::string copy = (dir / "copy.xlsx").string();
    ASSERT_EQ(RunCommand(ShellQuote(kCli) + " workbook copy " + ShellQuote(original) + " " +
                         ShellQuote(copy))
                  .status,
              0);
    EXPECT_EQ(Check("same " + ShellQuote(original) + " " + ShellQuote(copy)), "");

    // An INSERT into the table Regions through the workbook provider.
    const std::string inserted = (dir / "inserted.xlsx").string();
    fs::copy_file(original, inserted);
    {
      wbtest::Connection c;
      ASSERT_FALSE(hr::Failed(c.Open(inserted))) << c.InitError();
      ScriptedFrontend ui;
      ASSERT_TRUE(oledb::ExecuteStatement(
          ui, c.ref(), "insert into Regions values ('Added', 1, 2, 3, 4, 10)", 1))
          << (ui.Texts().empty() ? "" : ui.Texts().back());
      c.Close();
    }
    EXPECT_EQ(
        Check("same " + ShellQuote(original) + " " + ShellQuote(inserted) + " --grown Regions"),
        "");
    auto back = Workbook::Load(inserted);
    ASSERT_TRUE(back) << back.message();
    EXPECT_EQ(back->sheet(0).GetValue(8, 0), Value::Text("Added"));

    if (!HaveSoffice()) continue;
    ASSERT_TRUE(ToCsv(inserted, dir.path(), dir / "profile"));
    EXPECT_NE(testing::ReadFile(dir / "inserted-Sales.csv").find("Added,1"), std::string::npos);
  }
}

TEST(XlsxInterop, TwoHundredThousandRowsReadBackInOpenpyxl) {
  REQUIRE_OPENPYXL();
  constexpr uint32_t kRows = 200000;
  testing::TempDir dir;
  Workbook wb = Workbook::New(FileFormat::kXlsx);
  ASSERT_TRUE(wb.AddSheet("Rows"));
  Sheet& s = wb.sheet(0);
  ASSERT_TRUE(s.SetNumber(0, 3, 0));
  auto date = wb.CellFormatWithNumberFormat(s.GetCell(0, 3).xf, "yyyy-mm-dd");
  ASSERT_TRUE(date);
  for (uint32_t r = 0; r < kRows; ++r) {
    ASSERT_TRUE(s.SetText(r, 0, "row " + std::to_string(r)));
    ASSERT_TRUE(s.SetNumber(r, 1, r));
    ASSERT_TRUE(s.SetNumber(r, 2, r / 8.0));
    ASSERT_TRUE(s.SetNumber(r, 3, 43831 + r % 3000));  // 2020-01-01 on
    ASSERT_TRUE(s.SetCellFormat(r, 3, *date));
    if (r % 4) {
      ASSERT_TRUE(s.SetText(r, 4, "t" + std::to_string(r % 100)));
    }
  }
  const std::string path = (dir / "rows.xlsx").string();
  ASSERT_TRUE(wb.Save(path));
  EXPECT_EQ(Check("rows " + ShellQuote(path) + " " + std::to_string(kRows)), "");
}

}  // namespace
}  // namespace migrator::xls
