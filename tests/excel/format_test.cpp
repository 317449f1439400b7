// Header formatting (FormatTableHeads) and the column type names.

#include <gtest/gtest.h>

#include <filesystem>

#include "adapters/excel/excel_format.h"
#include "excel_fixture.h"

namespace migrator::testing {
namespace {

namespace fs = std::filesystem;
using excel::HeaderCellAddress;
using excel::HeaderColumnWidth;
using excel::HeaderTextLength;

TEST(HeaderArithmetic, AddressesWidthsAndLengths) {
  EXPECT_EQ(HeaderCellAddress(1), "A1:A1");
  EXPECT_EQ(HeaderCellAddress(26), "Z1:Z1");
  EXPECT_EQ(HeaderCellAddress(27), "AA1:AA1");
  EXPECT_EQ(HeaderCellAddress(52), "AZ1:AZ1");
  EXPECT_EQ(HeaderCellAddress(53), "BA1:BA1");
  EXPECT_EQ(HeaderCellAddress(256), "IV1:IV1");

  EXPECT_EQ(HeaderColumnWidth(10, 13), 15);      // truncate(173.33) / 12 + 1
  EXPECT_EQ(HeaderColumnWidth(10, 1), 2);        // truncate(13.33) / 12 + 1
  EXPECT_EQ(HeaderColumnWidth(10, 9), 11);       // 120 exactly: 10 + 1
  EXPECT_EQ(HeaderColumnWidth(12, 5), 7);        // 80 / 12 + 1
  EXPECT_EQ(HeaderColumnWidth(10, 32767), 255);  // no wider than a column can be

  EXPECT_EQ(HeaderTextLength("order_id"), 8u);
  EXPECT_EQ(HeaderTextLength("café"), 4u);
  EXPECT_EQ(HeaderTextLength("名字"), 4u);  // wide characters take two cells
  EXPECT_EQ(HeaderTextLength("\xff\xfe"), 2u);
}

TEST(ColumnTypeNames, JetGroupsAndTheirFallThrough) {
  auto jet = &ExcelAdapter::JetColumnTypeName;
  EXPECT_EQ(jet(234, 130, 0), "LONGTEXT");
  EXPECT_EQ(jet(234, 128, 0), "LONGBINARY");
  EXPECT_EQ(jet(90, 5, 0), "NUMERIC");
  EXPECT_EQ(jet(122, 7, 0), "DATETIME");
  EXPECT_EQ(jet(90, 17, 0), "BYTE");
  EXPECT_EQ(jet(24, 3, 0), "COUNTER");
  EXPECT_EQ(jet(24, 11, 0), "BIT");
  EXPECT_EQ(jet(106, 130, 255), "TEXT");
  EXPECT_EQ(jet(74, 130, 50), "VARCHAR(50) ");
  EXPECT_EQ(jet(74, 128, 16), "CHAR(16) ");
  // A type the selected group lacks falls through to the groups below it.
  EXPECT_EQ(jet(122, 130, 50), "TEXT");
  EXPECT_EQ(jet(234, 3, 0), "LONG");
  EXPECT_EQ(jet(90, 11, 0), "BIT");
  EXPECT_EQ(jet(24, 130, 9), "TEXT");
  // ... but never to the groups above it.
  EXPECT_EQ(jet(74, 3, 0), "USERDEFINE");
  EXPECT_EQ(jet(106, 5, 0), "USERDEFINE");
  EXPECT_EQ(jet(90, 129, 0), "USERDEFINE");
  EXPECT_EQ(jet(0, 130, 0), "USERDEFINE");
}

TEST(ColumnTypeNames, OtherProvidersGroupsAndTheirFallThrough) {
  auto other = &ExcelAdapter::OtherColumnTypeName;
  EXPECT_EQ(other(232, 130), "LONGTEXT");
  EXPECT_EQ(other(120, 16), "BYTE");
  EXPECT_EQ(other(120, 131), "CURRENCY");
  EXPECT_EQ(other(120, 135), "DATETIME");
  EXPECT_EQ(other(120, 128), "BINARY");
  EXPECT_EQ(other(104, 128), "VARBINARY");
  EXPECT_EQ(other(104, 130), "TEXT");
  EXPECT_EQ(other(24, 11), "BIT");
  EXPECT_EQ(other(232, 3), "LONG");
  EXPECT_EQ(other(120, 130), "TEXT");
  EXPECT_EQ(other(104, 3), "USERDEFINE");
  EXPECT_EQ(other(120, 129), "USERDEFINE");
  EXPECT_EQ(other(106, 130), "USERDEFINE");  // a Jet flag value means nothing here
}

// A header row of `n` columns whose names have lengths 1, 2, ... n (cycling
// after 40), so that every column has a width of its own.
std::vector<std::string> Headers(int n) {
  std::vector<std::string> row;
  for (int c = 0; c < n; ++c)
    row.push_back(std::string(1 + c % 40, 'a' + c % 26));
  return row;
}

class FormatTest : public ExcelTest {
 protected:
  // Three sheets: two columns with a 13- and a 1-character header; a sheet
  // whose A1 is empty; 53 columns.
  std::string MakeShop() {
    const std::string db = Path("shop");
    MakeWorkbook(db + ".xls", {{"orders", {{"customer_name", "n"}, {"Ann", "1"}}},
                               {"blank", {{"", "b"}}},
                               {"wide", {Headers(53)}}});
    return db;
  }
};

TEST_F(FormatTest, EverySheetGetsAFrozenFormattedHeaderAndWidthsByName) {
  const std::string db = MakeShop();
  ConnectTarget(db + ".xls");
  ws.SetState(ControllerState::Running);

  ExcelAdapter::FormatTableHeads(ws, "shop");
  EXPECT_EQ(ws.State(), ControllerState::Stopping);
  const auto texts = ui.Texts();
  ASSERT_FALSE(texts.empty());
  EXPECT_EQ(std::count(texts.begin(), texts.end(), "MSEXCEL_SetTableHead of [shop]"), 1);
  EXPECT_TRUE(ui.CallsStartingWith("ask").empty());
  // The target side is back, its database derived again from the workbook.
  ASSERT_TRUE(ws.target.Connected());
  EXPECT_EQ(ws.target.Settings().catalogName, db);

  auto wb = LoadWorkbook(db + ".xls");
  ASSERT_EQ(wb.sheetCount(), 3u);
  for (size_t i = 0; i < 3; ++i) {
    const xls::Sheet& s = wb.sheet(i);
    EXPECT_EQ(s.frozenRows(), 1u) << s.name();
    EXPECT_EQ(s.frozenColumns(), 0u) << s.name();
    auto xf = s.RowFormatIndex(0);
    ASSERT_TRUE(xf.has_value()) << s.name();
    const xls::CellFormat f = wb.format(*xf);
    EXPECT_TRUE(wb.font(f.font)->bold());
    EXPECT_EQ(f.horizontal, xls::HAlign::kCenter);
    EXPECT_EQ(f.fillColor, 15);  // colour index 8 of the program's palette
  }
  const xls::Sheet& orders = wb.sheet(0);
  EXPECT_DOUBLE_EQ(orders.ColumnWidth(0), 15);
  EXPECT_DOUBLE_EQ(orders.ColumnWidth(1), 2);
  EXPECT_FALSE(orders.HasColumnWidth(2));
  // A1 empty: the row is formatted, no column gets a width.
  EXPECT_FALSE(wb.sheet(1).HasColumnWidth(0));
  EXPECT_FALSE(wb.sheet(1).HasColumnWidth(1));
  // Columns 27, 52 and 53 (AA, AZ, BA) have headers of 27, 12 and 13 characters.
  const xls::Sheet& wide = wb.sheet(2);
  EXPECT_DOUBLE_EQ(wide.ColumnWidth(26), HeaderColumnWidth(10, 27));
  EXPECT_DOUBLE_EQ(wide.ColumnWidth(51), HeaderColumnWidth(10, 12));
  EXPECT_DOUBLE_EQ(wide.ColumnWidth(52), 15);
  EXPECT_FALSE(wide.HasColumnWidth(53));
  // The data rows are left as they were.
  EXPECT_EQ(orders.GetValue(1, 0).text, "Ann");
}

TEST_F(FormatTest, IndependentReadersSeeTheFormattingAndOpenTheFile) {
  const std::string db = MakeShop();
  ConnectTarget(db + ".xls");
  ExcelAdapter::FormatTableHeads(ws, "shop");
  ASSERT_TRUE(ws.target.Connected());
  // Every migration formats the workbook again; that changes nothing more.
  const size_t formats = LoadWorkbook(db + ".xls").formatCount();
  ExcelAdapter::FormatTableHeads(ws, "shop");
  ASSERT_TRUE(ws.target.Connected());
  EXPECT_EQ(LoadWorkbook(db + ".xls").formatCount(), formats);

  const std::string script = std::string(MIGRATOR_SOURCE_DIR) + "/tests/excel/data/check_heads.py";
  auto xlrd =
      RunCommand("/usr/bin/python3 " + script + " '" + db +
                 ".xls' orders:1=15 orders:2=2 orders:3=none blank:1=none blank:2=none "
                 "wide:27=" +
                 std::to_string(HeaderColumnWidth(10, 27)) + " wide:53=15 wide:54=none 2>&1");
  EXPECT_EQ(xlrd.status, 0) << xlrd.out;
  EXPECT_EQ(xlrd.out, "OK\n");

  if (!fs::exists("/usr/bin/soffice")) GTEST_SKIP() << "no LibreOffice";
  const std::string profile = "file://" + (dir / "lo-profile").string();
  auto lo = RunCommand(
      "cd '" + dir.str() + "' && timeout 300 soffice -env:UserInstallation=" + profile +
      " --headless --convert-to csv --outdir '" + dir.str() + "/csv' '" + db + ".xls' 2>&1");
  EXPECT_EQ(lo.status, 0) << lo.out;
  ASSERT_TRUE(fs::exists(dir / "csv" / "shop.csv")) << lo.out;
  EXPECT_EQ(ReadFile(dir / "csv" / "shop.csv"), "customer_name,n\nAnn,1\n");
}

// The workbook is formatted where the target side holds it, not read again:
// rows it holds that were not saved yet arrive with the formatting. A file
// that another program replaced meanwhile is formatted as the file holds it,
// never overwritten with what the side held before.
TEST_F(FormatTest, TheHeldWorkbookIsFormattedUnlessTheFileChangedBehindIt) {
  const std::string db = MakeShop();
  ConnectTarget(db + ".xls");
  ASSERT_TRUE(Run("INSERT INTO [orders$] VALUES ('Bob', '2')"));  // not saved yet
  ExcelAdapter::FormatTableHeads(ws, "shop");
  ASSERT_TRUE(ws.target.Connected());
  {
    auto wb = LoadWorkbook(db + ".xls");
    EXPECT_EQ(wb.sheet(0).GetValue(2, 0).text, "Bob");
    EXPECT_EQ(wb.sheet(0).frozenRows(), 1u);
  }
  // Rows go on arriving after the formatting, and are saved with the next
  // flush as before.
  ASSERT_TRUE(Run("INSERT INTO [orders$] VALUES ('Cy', '3')"));
  ASSERT_TRUE(hr::Succeeded(ws.target.session.Get()->Flush()));
  EXPECT_EQ(LoadWorkbook(db + ".xls").sheet(0).GetValue(3, 0).text, "Cy");

  MakeWorkbook(db + ".xls", {{"other", {{"replaced", "x"}, {"by", "another program"}}}});
  ExcelAdapter::FormatTableHeads(ws, "shop");
  auto wb = LoadWorkbook(db + ".xls");
  ASSERT_EQ(wb.sheetCount(), 1u);
  EXPECT_EQ(wb.sheet(0).name(), "other");
  EXPECT_EQ(wb.sheet(0).GetValue(1, 1).text, "another program");
  EXPECT_EQ(wb.sheet(0).frozenRows(), 1u);
  EXPECT_DOUBLE_EQ(wb.sheet(0).ColumnWidth(0), HeaderColumnWidth(10, 8));
  ASSERT_TRUE(ws.target.Connected());
}

TEST_F(FormatTest, AHeaderAcrossTheWholeRowEndsAtTheLastColumn) {
  const std::string db = Path("full");
  MakeWorkbook(db + ".xls", {{"all", {Headers(256)}}});
  ConnectTarget(db + ".xls");
  ExcelAdapter::FormatTableHeads(ws, "full");
  EXPECT_TRUE(ui.CallsStartingWith("ask").empty());
  auto wb = LoadWorkbook(db + ".xls");
  EXPECT_DOUBLE_EQ(wb.sheet(0).ColumnWidth(255), HeaderColumnWidth(10, 1 + 255 % 40));
  EXPECT_EQ(wb.sheet(0).frozenRows(), 1u);
}

TEST_F(FormatTest, AFailureIsShownAndTheTargetIsOpenedAgainAllTheSame) {
  const std::string db = MakeShop();
  ConnectTarget(db + ".xls");
  // The workbook goes away behind the provider's back.
  fs::rename(db + ".xls", Path("moved.xls"));
  ExcelAdapter::FormatTableHeads(ws, "shop");
  const auto asks = ui.CallsStartingWith("ask Ok: ");
  ASSERT_GE(asks.size(), 2u);
  EXPECT_EQ(asks[0], "ask Ok: Unknown error 0x800A03EC");
  EXPECT_NE(asks[1].find("could not be found"), std::string::npos);
  // The re-opening was tried: the provider cannot find the file either.
  EXPECT_EQ(ui.CallsStartingWith("ask Ok: Target Connection error!").size(), 1u);
  // A failed drop or rename leaves no workbook current: formatting then says
  // so and opens nothing (not ".xls").
  ws.target.EditSettings([](ConnectionSettings& s) { s.catalogName.clear(); });
  ui.ClearCalls();
  ExcelAdapter::FormatTableHeads(ws, "shop");
  EXPECT_TRUE(ui.HasText("No target workbook is open: the header rows are not formatted!"));
  EXPECT_TRUE(ui.CallsStartingWith("ask").empty());

  fs::rename(Path("moved.xls"), db + ".xls");
  ConnectTarget(db + ".xls");
  ExcelAdapter::FormatTableHeads(ws, "shop", WithoutExcel());
  EXPECT_TRUE(ui.HasText("Excel not installed, some functions not supported!!!"));
  EXPECT_FALSE(ws.target.Connected());  // without the program the side stays closed
  EXPECT_EQ(ws.target.tree.SideMarker(), -1);
  EXPECT_EQ(LoadWorkbook(db + ".xls").sheet(0).frozenRows(), 0u);
}

}  // namespace
}  // namespace migrator::testing
