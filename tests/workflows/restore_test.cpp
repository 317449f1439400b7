// A backup followed by a restore into a new workbook reads back cell for cell
// equal, checked with the engine and with xlrd; a restore refuses to
// overwrite rows, replays nothing but the table's own rows, and splits
// statements only outside quotes.

#include <gtest/gtest.h>

#include <sstream>

#include "oledb/operations.h"
#include "providers/workbook/tables.h"
#include "workflow_fixture.h"
#include "workflows/backup.h"
#include "workflows/restore.h"

namespace migrator::testing {
namespace {

namespace fs = std::filesystem;

class RestoreTest : public ExcelTest {
 protected:
  void Close() { oledb::CloseConnection(ui, ws.target.session, ws.target.dataSource); }

  // A workbook of the provider's own tables, and a defined name made with
  // the engine whose name would leave the directory.
  void MakeShop() {
    ASSERT_TRUE(ExcelAdapter::CreateDatabase(ws, Path("shop"), 1));
    ConnectTarget(Path("shop.xls"));
    const std::string longText(5000, 'x');
    for (const std::string& s : {
             std::string("CREATE TABLE orders (id NUMERIC, customer TEXT, note TEXT, paid BIT, "
                         "amount NUMERIC, ordered DATETIME)"),
             std::string("INSERT INTO orders VALUES (1, 'O''Brien', 'line one\nline two\r\nthree', "
                         "TRUE, -0.5, '2024-01-31')"),
             std::string("INSERT INTO orders VALUES (2, '\xE5\x8C\x97\xE4\xBA\xAC "
                         "\xF0\x9F\x98\x80 \xC3\x86r\xC3\xB8sk\xC3\xB8"
                         "bing', NULL, FALSE, 1e20, '2024-02-29 13:45:10')"),
             std::string("INSERT INTO orders VALUES (NULL, '', 'a`b]c[d \"dq\"\t', NULL, 3, NULL)"),
             std::string("INSERT INTO orders VALUES (4, '1); drop table orders; --', "
                         "'  padded  ', TRUE, 123456789.125, '1900-03-01')"),
             std::string("CREATE TABLE [order details] (order_id NUMERIC, product TEXT)"),
             std::string("INSERT INTO [order details] VALUES (1, 'tea')"),
             std::string("INSERT INTO [order details] VALUES (1, '" + longText + "')"),
         }) {
      ASSERT_TRUE(Run(s)) << s;
    }
    Close();
    auto wb = LoadWorkbook(Path("shop.xls"));
    auto sheet = wb.AddSheet("escape");
    ASSERT_TRUE(sheet.ok());
    auto& s = wb.sheet(*sheet);
    ASSERT_TRUE(s.SetText(0, 0, "k").ok());
    ASSERT_TRUE(s.SetText(0, 1, "v").ok());
    ASSERT_TRUE(s.SetText(1, 0, "up").ok());
    ASSERT_TRUE(s.SetNumber(1, 1, 42).ok());
    ASSERT_TRUE(wb.DefineName("\\..\\..\\escape", *sheet, xls::Range{0, 0, 1, 1}).ok());
    ASSERT_TRUE(wb.Save(Path("shop.xls")).ok());
  }

  // Backs the workbook up through the command and the controller.
  void BackUp() {
    ConnectTarget(Path("shop.xls"));
    TreeNode database;
    database.kind = NodeKind::Database;
    database.text = Path("shop");
    ui.QueueFolder(Path("bk"));
    const auto id = BackupCommand(ws, database);
    ASSERT_TRUE(id);
    ASSERT_EQ(WaitForTask(ws, *id), "SUCCESS");
    Close();
  }

  RestoreOutcome RestoreInto(const std::string& book, const RestoreOptions& options = {}) {
    if (!fs::exists(Path(book + ".xls"))) {
      EXPECT_TRUE(ExcelAdapter::CreateDatabase(ws, Path(book), 1));
    }
    ConnectTarget(Path(book + ".xls"));
    const auto outcome = RestoreBackup(ui, &ws.target.session, Path("bk/shop"), options);
    Close();
    return outcome;
  }
};

TEST_F(RestoreTest, BackupThenRestoreReadsBackCellForCell) {
  MakeShop();
  BackUp();

  // The documented layout, and nothing outside the backup directory.
  for (const auto& f : FilesBelow(dir / "bk"))
    EXPECT_EQ(f.rfind("shop/", 0), 0u) << f;
  EXPECT_EQ(ReadFile(dir / "bk" / "shop" / "TABLES" / "orders.tbl"),
            "CREATE TABLE `orders`(\n`id` NUMERIC ,\n`customer` TEXT ,\n`note` TEXT ,\n`paid` BIT "
            ",\n`amount` NUMERIC ,\n`ordered` DATETIME )");
  EXPECT_TRUE(fs::exists(dir / "bk" / "shop" / "DATA" / "order_details.data"));
  EXPECT_EQ(ReadFile(dir / "bk" / "shop" / "TABLES" / "_______escape.tbl"),
            "CREATE TABLE `\\..\\..\\escape`(\n`k` TEXT ,\n`v` NUMERIC )");
  EXPECT_EQ(ReadFile(dir / "bk" / "shop" / "TABLES" / "orders$.tbl"), "User Defined Name!");

  ASSERT_EQ(RestoreInto("copy"), RestoreOutcome::Restored);

  // Every table of the original, cell for cell, by the engine.
  auto original = LoadWorkbook(Path("shop.xls"));
  auto copy = LoadWorkbook(Path("copy.xls"));
  std::string blocks = "[";
  int tables = 0;
  for (std::size_t i = 0; i < original.nameCount(); ++i) {
    const xls::DefinedName a = original.name(i);
    if (a.builtin || a.kind != xls::DefinedName::Kind::kArea) continue;
    auto j = copy.FindName(a.name);
    if (!j) j = copy.FindName(providers::workbook::DefinedNameForTable(a.name));
    ASSERT_TRUE(j) << a.name;
    const xls::DefinedName b = copy.name(*j);
    ASSERT_EQ(b.range.lastRow - b.range.firstRow, a.range.lastRow - a.range.firstRow) << a.name;
    ASSERT_EQ(b.range.lastCol - b.range.firstCol, a.range.lastCol - a.range.firstCol) << a.name;
    for (std::uint32_t r = 0; r <= a.range.lastRow - a.range.firstRow; ++r) {
      for (std::uint32_t c = 0; c <= a.range.lastCol - a.range.firstCol; ++c) {
        EXPECT_EQ(copy.sheet(b.sheet).GetValue(b.range.firstRow + r, b.range.firstCol + c),
                  original.sheet(a.sheet).GetValue(a.range.firstRow + r, a.range.firstCol + c))
            << a.name << " row " << r << " column " << c;
      }
    }
    blocks += tables++ ? ",[" : "[";
    AppendJsonString(blocks, original.sheet(a.sheet).name());
    for (std::uint32_t n : {a.range.firstRow, a.range.firstCol, a.range.lastRow, a.range.lastCol})
      blocks += "," + std::to_string(n);
    blocks += ",";
    AppendJsonString(blocks, copy.sheet(b.sheet).name());
    blocks += "," + std::to_string(b.range.firstRow) + "," + std::to_string(b.range.firstCol) + "]";
  }
  blocks += "]";
  EXPECT_EQ(tables, 3);

  // The same by an independent reader.
  if (RunCommand("/usr/bin/python3 -c 'import xlrd' 2>/dev/null").status != 0) {
    GTEST_SKIP() << "python3 with xlrd is not installed";
  }
  const auto r =
      RunCommand("/usr/bin/python3 " +
                 ShellQuote(std::string(MIGRATOR_TEST_DATA_DIR) + "/xls/xlrd_same_cells.py") + " " +
                 ShellQuote(Path("shop.xls")) + " " + ShellQuote(Path("copy.xls")) + " " +
                 ShellQuote(blocks) + " 2>&1");
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find(" 0 differ"), std::string::npos) << r.out;
}

TEST_F(RestoreTest, RowsAreOverwrittenOnlyWhenAskedAndOnlyTheTablesOwnRowsRun) {
  MakeShop();
  BackUp();
  ASSERT_EQ(RestoreInto("copy"), RestoreOutcome::Restored);

  // A second restore would overwrite rows: refused, nothing changed.
  ui.ClearLines();
  EXPECT_EQ(RestoreInto("copy"), RestoreOutcome::Refused);
  EXPECT_TRUE(ui.HasText("Table [orders] already holds rows: it is not overwritten"));
  EXPECT_FALSE(ui.HasText("Restore table [orders]"));
  // Leave is given: the tables are made anew; one table alone works too.
  EXPECT_EQ(RestoreInto("copy", {std::nullopt, true}), RestoreOutcome::Restored);
  EXPECT_EQ(RestoreInto("copy", {std::string("ORDERS"), true}), RestoreOutcome::Restored);
  EXPECT_EQ(RestoreInto("copy", {std::string("nothing"), true}), RestoreOutcome::Failed);
  ConnectTarget(Path("copy.xls"));
  EXPECT_EQ(oledb::QuerySingleValue(ui, &ws.target.session, "select * from orders"), "4");
  Close();

  // Statements that are not rows of the table are not run, and the table
  // they are in is not restored; the others are.
  const fs::path data = dir / "bk" / "shop" / "DATA" / "order_details.data";
  const std::string whole = ReadFile(data);
  const std::string foreign =
      "DROP TABLE orders\ninsert into `orders` values (9,'x','y',TRUE,1,NULL)\n";
  const std::pair<std::string, std::string> cases[] = {
      {whole + foreign, "5 of [" + data.string() +
                            "] was not restored: it comes after the file's "
                            "last line"},
      {whole.substr(0, whole.find('\n') + 1) + foreign,
       "2 of [" + data.string() + "] was not restored: not a row of this table"}};
  for (const auto& [text, said] : cases) {
    WriteFile(data, text);
    ui.ClearLines();
    EXPECT_EQ(RestoreInto("copy2"), RestoreOutcome::Failed);
    EXPECT_TRUE(ui.HasText("[order_details] statement " + said));
    EXPECT_TRUE(ui.HasText("Table [order_details] is not restored"));
    ConnectTarget(Path("copy2.xls"));
    EXPECT_EQ(oledb::QuerySingleValue(ui, &ws.target.session, "select * from orders"), "4");
    EXPECT_FALSE(oledb::ExecuteStatement(ui, &ws.target.session, "select * from order_details", 0));
    Close();
    fs::remove(Path("copy2.xls"));
  }
}

TEST(StatementSplitter, EndsStatementsOnlyAtLineBreaksOutsideQuotes) {
  const std::string text =
      "insert into `a\nb` values ('x\ny','it''s\n',[c\n])\n\n  \ninsert into t values (1)\r\n"
      "insert into t values (2)";
  const std::vector<std::string> want = {"insert into `a\nb` values ('x\ny','it''s\n',[c\n])",
                                         "insert into t values (1)\r", "insert into t values (2)"};
  for (std::size_t piece : {text.size(), std::size_t{1}, std::size_t{7}}) {
    StatementSplitter splitter;
    std::vector<std::string> got;
    auto take = [&](const std::string& s) { got.push_back(s); };
    for (std::size_t at = 0; at < text.size(); at += piece)
      splitter.Feed(std::string_view(text).substr(at, piece), take);
    splitter.Finish(take);
    EXPECT_EQ(got, want) << piece;
  }
}

}  // namespace
}  // namespace migrator::testing
