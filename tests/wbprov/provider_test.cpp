// The workbook provider through the data-source layer: initialisation,
// information, schema rowsets, statements and when changes reach the file.

#include <gtest/gtest.h>

#include <thread>

#include "app/scripted_frontend.h"
#include "oledb/operations.h"
#include "providers/workbook/tables.h"
#include "testlib/testlib.h"
#include "wbprov/wb_fixture.h"

namespace migrator::wbtest {
namespace {

using testing::TempDir;

constexpr const char* kCreateT = "create table `t` (\n`id` text,\n`name` text\n)";

xls::Workbook LoadBook(const std::filesystem::path& path) {
  auto book = xls::Workbook::Load(path.string());
  EXPECT_TRUE(book.ok()) << book.message();
  return std::move(book.value());
}

TEST(WorkbookProvider, InitializeFailsClearlyForMissingUnreadableAndForeignFiles) {
  TempDir dir;
  Connection c;
  EXPECT_TRUE(hr::Failed(c.Open((dir / "none.xls").string())));
  EXPECT_EQ(c.InitError(), "The workbook \"" + (dir / "none.xls").string() + "\" does not exist.");

  EXPECT_TRUE(hr::Failed(c.Open(dir.str())));
  EXPECT_EQ(c.InitError(), "\"" + dir.str() + "\" is a folder, not a workbook.");

  testing::WriteFile(dir / "text.xls", "name,price\nbook,12\n");
  EXPECT_TRUE(hr::Failed(c.Open((dir / "text.xls").string())));
  EXPECT_EQ(c.InitError().rfind("\"" + (dir / "text.xls").string() + "\" is not a workbook", 0), 0u)
      << c.InitError();

  testing::WriteFile(dir / "empty.xls", "");
  EXPECT_TRUE(hr::Failed(c.Open((dir / "empty.xls").string())));

  EXPECT_TRUE(hr::Failed(c.Open("")));
  EXPECT_NE(c.InitError().find("No workbook was named"), std::string::npos);

  MakeWorkbook(dir / "ok.xls");
  EXPECT_TRUE(hr::Failed(c.Open((dir / "ok.xls").string(), "Excel 8.0;HDR=No;")));
  EXPECT_NE(c.InitError().find("HDR=No is not supported"), std::string::npos);
  EXPECT_TRUE(hr::Failed(c.Open((dir / "ok.xls").string(), "Paradox 5.x;")));
  EXPECT_NE(c.InitError().find("Could not find installable ISAM"), std::string::npos);
  // The ODBC driver's connection string is not this provider's.
  EXPECT_TRUE(hr::Failed(
      c.Open((dir / "ok.xls").string(), "Driver={Microsoft Excel Driver (*.xls)};DriverId=790;")));

  EXPECT_EQ(c.Open((dir / "ok.xls").string()), hr::S_OK);
  EXPECT_EQ(c.Open((dir / "ok.xls").string(), ""), hr::S_OK);
  EXPECT_EQ(c.Open((dir / "ok.xls").string(), " excel 8.0 ; hdr=yes; IMEX=1"), hr::S_OK);
}

TEST(WorkbookProvider, InformationProperties) {
  TempDir dir;
  MakeWorkbook(dir / "shop.xls");
  MakeWorkbook(dir / "UPPER.XLS");
  Connection c;
  ASSERT_EQ(c.Open((dir / "shop.xls").string()), hr::S_OK);
  std::string v;
  ASSERT_EQ(c.dataSource->GetInfo(oledb::DBPROP_DBMSNAME, v), hr::S_OK);
  EXPECT_EQ(v, "Excel Workbook");
  ASSERT_EQ(c.dataSource->GetInfo(oledb::DBPROP_DBMSVER, v), hr::S_OK);
  EXPECT_EQ(v, "BIFF8");
  ASSERT_EQ(c.dataSource->GetInfo(oledb::DBPROP_DATASOURCENAME, v), hr::S_OK);
  EXPECT_EQ(v, (dir / "shop.xls").string());
  ASSERT_EQ(c.dataSource->GetInfo(oledb::DBPROP_CURRENTCATALOG, v), hr::S_OK);
  EXPECT_EQ(v, (dir / "shop").string());
  EXPECT_TRUE(hr::Failed(c.dataSource->GetInfo(0x1234, v)));

  // The catalog drops ".xls" as the adapter derives it: case-sensitively.
  ASSERT_EQ(c.Open((dir / "UPPER.XLS").string()), hr::S_OK);
  ASSERT_EQ(c.dataSource->GetInfo(oledb::DBPROP_CURRENTCATALOG, v), hr::S_OK);
  EXPECT_EQ(v, (dir / "UPPER.XLS").string());
}

// The acceptance run: the DDL text of a migration makes a table, a sheet's
// worth of rows fills it, the next row is refused and changes nothing.
TEST(WorkbookProvider, CreateFillSelectAndCheckTheFileWithXlrd) {
  TempDir dir;
  const auto path = dir / "target.xls";
  MakeWorkbook(path);
  Connection c;
  ASSERT_EQ(c.Open(path.string()), hr::S_OK);
  Exec exec;

  ASSERT_TRUE(exec.Run(c.ref(), kCreateT)) << exec.Line();
  EXPECT_EQ(exec.Line(), oledb::kResultSuccess);
  // Saved at once: the sheet, its header and the name are in the file.
  {
    auto book = LoadBook(path);
    auto sheet = book.FindSheet("t");
    ASSERT_TRUE(sheet);
    EXPECT_EQ(book.sheet(*sheet).GetValue(0, 0), xls::Value::Text("id"));
    EXPECT_EQ(book.sheet(*sheet).GetValue(0, 1), xls::Value::Text("name"));
    auto name = book.FindName("t");
    ASSERT_TRUE(name);
    EXPECT_EQ(book.name(*name).reference, "t!$A$1:$B$1");
  }
  EXPECT_EQ(TableNames(c.ref()), (std::vector<std::string>{"Sheet1$", "t", "t$"}));

  // A value holding a quote, written as '' in the statement.
  ASSERT_TRUE(exec.Run(c.ref(), "insert into t values ('1','it''s');\n")) << exec.Line();
  for (int i = 2; i <= 65535; ++i) {
    const std::string s =
        "insert into t values ('" + std::to_string(i) + "','name " + std::to_string(i) + "');\n";
    if (!oledb::ExecuteStatement(exec.ui, c.ref(), s, 0)) {
      ADD_FAILURE() << "row " << i << " refused: " << exec.Line();
      break;
    }
  }
  EXPECT_FALSE(exec.Run(c.ref(), "insert into t values ('65536','one too many');\n"));
  EXPECT_EQ(exec.Line(),
            "The table \"t\" is full: a sheet holds at most 65,536 rows, and the table "
            "reaches the last one.");

  std::string error;
  Rows rows = Select(c.ref(), "select * from t", &error);
  ASSERT_EQ(error, "");
  ASSERT_EQ(rows.size(), 65535u);
  EXPECT_EQ(rows[0], (std::vector<std::string>{"1", "it's"}));
  EXPECT_EQ(rows[65534], (std::vector<std::string>{"65535", "name 65535"}));

  c.Close();  // saves the rows

  const std::string script =
      "import sys, xlrd\n"
      "b = xlrd.open_workbook(sys.argv[1])\n"
      "s = b.sheet_by_name('t')\n"
      "n = b.name_map['t'][0].area2d()\n"
      "print(s.nrows, s.ncols, n[1], n[2], n[3], n[4])\n"
      "print(repr(s.cell_value(0, 0)), repr(s.cell_value(0, 1)))\n"
      "print(repr(s.cell_value(1, 1)), s.cell_type(1, 0) == xlrd.XL_CELL_TEXT)\n"
      "print(repr(s.cell_value(65535, 0)), repr(s.cell_value(65535, 1)))\n";
  testing::WriteFile(dir / "check.py", script);
  auto result = testing::RunCommand("/usr/bin/python3 " + (dir / "check.py").string() + " " +
                                    path.string() + " 2>&1");
  ASSERT_EQ(result.status, 0) << result.out;
  EXPECT_EQ(result.out,
            "65536 2 0 65536 0 2\n"
            "'id' 'name'\n"
            "\"it's\" True\n"
            "'65535' 'name 65535'\n");
}

TEST(WorkbookProvider, TablesRowsetListsSheetsAndNamesSorted) {
  TempDir dir;
  const auto path = dir / "b.xls";
  {
    auto book = xls::Workbook::New();
    ASSERT_TRUE(book.AddSheet("Zeta").ok());
    ASSERT_TRUE(book.AddSheet("my sheet").ok());
    ASSERT_TRUE(book.AddSheet("Q&A").ok());
    ASSERT_TRUE(book.AddSheet("alpha").ok());
    ASSERT_TRUE(book.sheet(0).SetText(0, 0, "h").ok());
    ASSERT_TRUE(book.DefineName("Prices", 0, {0, 0, 3, 0}).ok());
    // Sheet-level names and built-in names are not tables.
    ASSERT_TRUE(book.DefineName("Local", 0, {0, 0, 0, 0}, 0).ok());
    ASSERT_TRUE(book.DefineName("Print_Area", 0, {0, 0, 0, 0}, 0).ok());
    ASSERT_TRUE(book.Save(path.string()).ok());
  }
  Connection c;
  ASSERT_EQ(c.Open(path.string()), hr::S_OK);
  EXPECT_EQ(TableNames(c.ref()),
            (std::vector<std::string>{"'my sheet$'", "'Q&A$'", "alpha$", "Prices", "Zeta$"}));
  EXPECT_EQ(TableNames(c.ref(), ""), TableNames(c.ref()));
  // No views.
  EXPECT_TRUE(TableNames(c.ref(), "VIEW").empty());

  oledb::TablesReader one;
  ASSERT_EQ(one.Open(c.ref(), oledb::Restrictions().Set(oledb::restriction::kTableName, "prices")),
            hr::S_OK);
  ASSERT_EQ(one.MoveNext(), hr::S_OK);
  EXPECT_EQ(one.record().tableName, "Prices");
  EXPECT_NE(one.MoveNext(), hr::S_OK);

  // Quoted sheet names are tables under that name.
  Exec exec;
  EXPECT_TRUE(exec.Run(c.ref(), "select * from ['my sheet$']")) << exec.Line();
  EXPECT_TRUE(exec.Run(c.ref(), "select * from [my sheet$]")) << exec.Line();
}

TEST(WorkbookProvider, ColumnsRowsetTakesTypesFromTheData) {
  TempDir dir;
  const auto path = dir / "types.xls";
  {
    auto book = xls::Workbook::New();
    ASSERT_TRUE(book.AddSheet("data").ok());
    auto& s = book.sheet(0);
    const char* heads[] = {"name", "price", "", "ok", "mixed", "empty"};
    for (std::uint32_t c = 0; c < 6; ++c)
      if (*heads[c]) {
        ASSERT_TRUE(s.SetText(0, c, heads[c]).ok());
      }
    ASSERT_TRUE(s.SetText(1, 0, "pen").ok());
    ASSERT_TRUE(s.SetNumber(1, 1, 1.5).ok());
    ASSERT_TRUE(s.SetNumber(2, 1, 3).ok());
    ASSERT_TRUE(s.SetNumber(1, 2, 7).ok());
    ASSERT_TRUE(s.SetBoolean(1, 3, true).ok());
    ASSERT_TRUE(s.SetBoolean(2, 3, false).ok());
    ASSERT_TRUE(s.SetNumber(1, 4, 1).ok());
    ASSERT_TRUE(s.SetText(2, 4, "one").ok());
    ASSERT_TRUE(s.SetBlank(2, 5).ok());
    // Past the rows that are looked at: does not change the type.
    ASSERT_TRUE(s.SetText(20, 1, "late text").ok());
    ASSERT_TRUE(book.Save(path.string()).ok());
  }
  Connection c;
  ASSERT_EQ(c.Open(path.string()), hr::S_OK);
  auto cols = ColumnRecords(c.ref(), "data$");
  ASSERT_EQ(cols.size(), 6u);
  struct Want {
    const char* name;
    std::uint16_t type;
    std::uint32_t flags;
    std::uint32_t maxLength;
  };
  const Want want[] = {{"name", 130, 106, 255}, {"price", 5, 90, 0},      {"F3", 5, 90, 0},
                       {"ok", 11, 24, 0},       {"mixed", 130, 106, 255}, {"empty", 130, 106, 255}};
  for (std::size_t i = 0; i < 6; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(cols[i].tableName, "data$");
    EXPECT_EQ(cols[i].columnName, want[i].name);
    EXPECT_EQ(cols[i].ordinalPosition, i + 1);
    EXPECT_EQ(cols[i].dataType, want[i].type);
    EXPECT_EQ(cols[i].columnFlags, want[i].flags);
    EXPECT_EQ(cols[i].characterMaximumLength, want[i].maxLength);
    EXPECT_FALSE(cols[i].columnHasDefault);
  }
  // Without a table restriction: every table; with a column restriction: that column.
  EXPECT_EQ(ColumnRecords(c.ref(), "").size(), 6u);
  oledb::ColumnsReader one;
  ASSERT_EQ(one.Open(c.ref(), oledb::Restrictions()
                                  .Set(oledb::restriction::kTableName, "data$")
                                  .Set(oledb::restriction::kColumnName, "PRICE")),
            hr::S_OK);
  ASSERT_EQ(one.MoveNext(), hr::S_OK);
  EXPECT_EQ(one.record().columnName, "price");
  EXPECT_NE(one.MoveNext(), hr::S_OK);

  // A created table's columns have their declared types from the start.
  Exec exec;
  ASSERT_TRUE(exec.Run(c.ref(), "create table nums (a double, b text)"));
  auto created = ColumnRecords(c.ref(), "nums");
  ASSERT_EQ(created.size(), 2u);
  EXPECT_EQ(created[0].dataType, 5);
  EXPECT_EQ(created[1].dataType, 130);
  ASSERT_TRUE(exec.Run(c.ref(), "insert into nums values ('2.5', 2.5)")) << exec.Line();
  created = ColumnRecords(c.ref(), "nums");
  EXPECT_EQ(created[0].dataType, 5);    // a number cell from the text '2.5'
  EXPECT_EQ(created[1].dataType, 130);  // a text cell from the number 2.5

  // No indexes; no catalogs.
  oledb::IndexesReader indexes;
  ASSERT_EQ(indexes.Open(c.ref()), hr::S_OK);
  EXPECT_NE(indexes.MoveNext(), hr::S_OK);
  oledb::CatalogsReader catalogs;
  EXPECT_EQ(catalogs.Open(c.ref()), hr::E_INVALIDARG);
  EXPECT_NE(catalogs.ErrorText().find("does not support"), std::string::npos);
}

TEST(WorkbookProvider, SelectRowsetsCarryABookmarkAndReadValuesAsText) {
  TempDir dir;
  const auto path = dir / "v.xls";
  {
    auto book = xls::Workbook::New();
    ASSERT_TRUE(book.AddSheet("s").ok());
    auto& s = book.sheet(0);
    // The used range starts at B2.
    ASSERT_TRUE(s.SetText(1, 1, "n").ok());
    ASSERT_TRUE(s.SetText(1, 2, "b").ok());
    ASSERT_TRUE(s.SetText(1, 3, "t").ok());
    ASSERT_TRUE(s.SetNumber(2, 1, 3).ok());
    ASSERT_TRUE(s.SetBoolean(2, 2, true).ok());
    ASSERT_TRUE(s.SetText(2, 3, "x").ok());
    ASSERT_TRUE(s.SetNumber(3, 1, 0.1).ok());
    ASSERT_TRUE(s.SetBoolean(3, 2, false).ok());
    ASSERT_TRUE(s.SetError(3, 3, xls::ErrorCode::kNA).ok());
    ASSERT_TRUE(s.SetNumber(4, 1, -2.5e20).ok());
    ASSERT_TRUE(book.Save(path.string()).ok());
  }
  Connection c;
  ASSERT_EQ(c.Open(path.string()), hr::S_OK);
  std::vector<oledb::ColumnInfo> columns;
  std::string error;
  Rows rows = Select(c.ref(), "SELECT * FROM [s$]", &error, &columns);
  ASSERT_EQ(error, "");
  ASSERT_EQ(columns.size(), 4u);
  EXPECT_TRUE(columns[0].IsBookmark());
  EXPECT_EQ(columns[0].ordinal, 0u);
  EXPECT_EQ(columns[1].name, "n");
  EXPECT_EQ(columns[1].ordinal, 1u);
  EXPECT_EQ(columns[1].type, oledb::DBTYPE_R8);
  EXPECT_EQ(columns[2].type, oledb::DBTYPE_BOOL);
  EXPECT_EQ(columns[3].type, oledb::DBTYPE_WSTR);
  EXPECT_EQ(
      rows,
      (Rows{{"3", "TRUE", "x"}, {"0.1", "FALSE", "(NULL)"}, {"-2.5e+20", "(NULL)", "(NULL)"}}));

  // The workbook backup binds the reported count less one: the data columns.
  oledb::TextReadOptions backup;
  backup.countAdjust = -1;
  std::size_t slots = 0;
  auto r = oledb::ReadTextRows(
      c.ref(), "select * from [s$]",
      [&](const oledb::TextRow& row) {
        slots = row.size();
        return false;
      },
      backup);
  EXPECT_EQ(r.outcome, oledb::TextReadOutcome::Rows);
  EXPECT_EQ(slots, 3u);

  // A rowset that binds the bookmark gets the row number.
  auto session = c.session.Get();
  auto run = oledb::RunCommand(*session, "select * from [s$]", oledb::StandardRowsetProperties());
  ASSERT_TRUE(run.rowset);
  const oledb::DBORDINAL ordinals[] = {0, 3};
  ASSERT_EQ(run.rowset->CreateAccessor(ordinals), hr::S_OK);
  oledb::TextRow row;
  ASSERT_EQ(run.rowset->GetNextRow(), hr::S_OK);
  ASSERT_EQ(run.rowset->GetNextRow(), hr::S_OK);
  ASSERT_EQ(run.rowset->GetData(row), hr::S_OK);
  EXPECT_EQ(row.Value(0), "2");
  EXPECT_TRUE(row.IsNull(1));
  ASSERT_EQ(run.rowset->GetNextRow(), hr::S_OK);
  EXPECT_EQ(run.rowset->GetNextRow(), hr::DB_S_ENDOFROWSET);
  EXPECT_EQ(run.rowset->GetNextRow(), hr::DB_S_ENDOFROWSET);
  const oledb::DBORDINAL bad[] = {4};
  auto again = oledb::RunCommand(*session, "select * from [s$]", oledb::StandardRowsetProperties());
  EXPECT_EQ(again.rowset->CreateAccessor(bad), hr::DB_E_BADORDINAL);

  // An empty sheet is one column F1 without rows.
  MakeWorkbook(dir / "e.xls");
  Connection e;
  ASSERT_EQ(e.Open((dir / "e.xls").string()), hr::S_OK);
  rows = Select(e.ref(), "select * from Sheet1$", &error, &columns);
  EXPECT_EQ(error, "");
  EXPECT_TRUE(rows.empty());
  ASSERT_EQ(columns.size(), 2u);
  EXPECT_EQ(columns[1].name, "F1");
}

TEST(WorkbookProvider, DatesReadAsIsoText) {
  EXPECT_EQ(providers::workbook::DateText(1, false), "1900-01-01");
  EXPECT_EQ(providers::workbook::DateText(59, false), "1900-02-28");
  EXPECT_EQ(providers::workbook::DateText(60, false), "1900-02-29");
  EXPECT_EQ(providers::workbook::DateText(61, false), "1900-03-01");
  EXPECT_EQ(providers::workbook::DateText(43831.75, false), "2020-01-01 18:00:00");
  EXPECT_EQ(providers::workbook::DateText(0, true), "1904-01-01");
  EXPECT_EQ(providers::workbook::DateText(2958465.5, false), "9999-12-31 12:00:00");
  EXPECT_FALSE(providers::workbook::DateText(2958465.999999999, false));  // rounds past the end
  EXPECT_FALSE(providers::workbook::DateText(-1, false));
  EXPECT_EQ(providers::workbook::NumberText(3.0), "3");
  EXPECT_EQ(providers::workbook::NumberText(-0.0), "0");
  EXPECT_EQ(providers::workbook::NumberText(1.0 / 3), "0.3333333333333333");
}

TEST(WorkbookProvider, RefusedRowsChangeNothing) {
  TempDir dir;
  const auto path = dir / "r.xls";
  MakeWorkbook(path);
  Connection c;
  ASSERT_EQ(c.Open(path.string()), hr::S_OK);
  Exec exec;
  ASSERT_TRUE(exec.Run(c.ref(), "create table t (id text, n double, b bit)"));
  ASSERT_TRUE(exec.Run(c.ref(), "insert into t values ('a', 1, true)")) << exec.Line();

  struct Case {
    const char* statement;
    const char* line;
  };
  const std::string longText(32768, 'x');
  const Case cases[] = {
      {"insert into nope values ('a')", "The table \"nope\" does not exist in the workbook."},
      {"insert into t values ('a', 1)", "The row has 2 values, and the table \"t\" has 3 columns."},
      {"insert into t (id, zz) values ('a', 'b')", "The table \"t\" has no column \"zz\"."},
      {"insert into t (id) values ('a', 'b')", "The row has 2 values for 1 columns."},
      {"insert into t values ('a', 'many', true)",
       "Data type mismatch: the column \"n\" holds numbers, and 'many' is not one."},
      {"insert into t values ('a', 1, 'maybe')",
       "Data type mismatch: the column \"b\" holds TRUE or FALSE, and 'maybe' is not one."},
      {"insert into t values ('a', true, true)",
       "Data type mismatch: the column \"n\" holds numbers, and TRUE is not one."},
  };
  for (const auto& k : cases) {
    EXPECT_FALSE(exec.Run(c.ref(), k.statement)) << k.statement;
    EXPECT_EQ(exec.Line(), k.line);
  }
  // One value too long for a cell, after values that would fit.
  EXPECT_FALSE(exec.Run(c.ref(), "insert into t values ('" + longText + "', 1, true)"));
  EXPECT_EQ(exec.Line(),
            "The value for the column \"id\" has 32768 characters; a cell holds at most "
            "32,767.");
  EXPECT_TRUE(exec.Run(c.ref(), "insert into t values ('" + longText.substr(1) + "', 1, true)"));

  // A cell below the table in use: the table cannot grow.
  ASSERT_TRUE(exec.Run(c.ref(), "insert into [t$] values ('below', NULL, NULL)"));
  EXPECT_FALSE(exec.Run(c.ref(), "insert into t values ('b', 2, false)"));
  EXPECT_EQ(exec.Line(), "The table \"t\" cannot grow: the cell A4 below it is not empty.");

  std::string error;
  EXPECT_EQ(Select(c.ref(), "select * from t", &error).size(), 2u);
  EXPECT_EQ(Select(c.ref(), "select * from [t$]", &error).size(), 3u);
  c.Close();
  auto book = LoadBook(path);
  EXPECT_EQ(book.name(*book.FindName("t")).reference, "t!$A$1:$C$3");
}

TEST(WorkbookProvider, ValuesAreStoredByColumnType) {
  TempDir dir;
  const auto path = dir / "s.xls";
  MakeWorkbook(path);
  Connection c;
  ASSERT_EQ(c.Open(path.string()), hr::S_OK);
  Exec exec;
  ASSERT_TRUE(exec.Run(c.ref(), "create table t (a text, n numeric, d datetime, b yesno)"));
  ASSERT_TRUE(exec.Run(c.ref(), "insert into t values (007, ' 12 ', 45000, 'yes')"));
  ASSERT_TRUE(exec.Run(c.ref(), "insert into t (b, a) values (0, TRUE)"));
  ASSERT_TRUE(exec.Run(c.ref(), "insert into t values ('', '', '2020-01-01', '')"));
  ASSERT_TRUE(exec.Run(c.ref(), "insert into t values (NULL, NULL, NULL, NULL)"));
  c.Close();

  auto book = LoadBook(path);
  const auto& s = book.sheet(*book.FindSheet("t"));
  EXPECT_EQ(s.GetValue(1, 0), xls::Value::Text("007"));  // a number into text: as written
  EXPECT_EQ(s.GetValue(1, 1), xls::Value::Number(12));
  EXPECT_EQ(s.GetValue(1, 2), xls::Value::Number(45000));
  EXPECT_EQ(s.GetValue(1, 3), xls::Value::Boolean(true));
  EXPECT_EQ(s.GetValue(2, 0), xls::Value::Text("TRUE"));
  EXPECT_FALSE(s.GetCell(2, 1).exists);  // not named: empty
  EXPECT_EQ(s.GetValue(2, 3), xls::Value::Boolean(false));
  EXPECT_EQ(s.GetValue(3, 0), xls::Value::Text(""));       // '' in a text column is an empty text
  EXPECT_FALSE(s.GetCell(3, 1).exists);                    // and nothing in a number column
  EXPECT_EQ(s.GetValue(3, 2), xls::Value::Number(43831));  // a date
  EXPECT_TRUE(book.IsDateFormat(s.GetCell(3, 2).xf));
  EXPECT_FALSE(s.GetCell(4, 0).exists);
  EXPECT_EQ(book.name(*book.FindName("t")).reference, "t!$A$1:$D$5");
}

TEST(WorkbookProvider, DeclaredColumnTypesHoldInALaterConnection) {
  TempDir dir;
  const auto path = dir / "v.xls";
  MakeWorkbook(path);
  {
    Connection c;
    ASSERT_EQ(c.Open(path.string()), hr::S_OK);
    Exec exec;
    ASSERT_TRUE(exec.Run(c.ref(), "create table v (n number, d date, b bit, t text)"));
  }
  {
    // The header row formatted, as a migration finally does: the types stay.
    auto book = LoadBook(path);
    xls::RowFormat bold;
    bold.bold = true;
    bold.fillColor = 15;
    ASSERT_TRUE(book.sheet(*book.FindSheet("v")).FormatRow(0, bold).ok());
    ASSERT_TRUE(book.Save(path.string()).ok());
  }
  Connection c;
  ASSERT_EQ(c.Open(path.string()), hr::S_OK);
  const auto columns = ColumnRecords(c.ref(), "v");
  ASSERT_EQ(columns.size(), 4u);
  EXPECT_EQ(columns[0].dataType, 5);
  EXPECT_EQ(columns[1].dataType, 7);
  EXPECT_EQ(columns[2].dataType, 11);
  EXPECT_EQ(columns[3].dataType, 130);

  Exec exec;
  ASSERT_TRUE(exec.Run(c.ref(), "insert into v values (1.5, 45000, TRUE, 1.50)")) << exec.Line();
  ASSERT_TRUE(
      exec.Run(c.ref(), "insert into v values ('-2e3', '2024-02-29 13:45:10', 'false', ' it''s ')"))
      << exec.Line();
  struct Case {
    const char* statement;
    const char* line;
  };
  const Case refused[] = {
      {"insert into v values ('inf', NULL, NULL, NULL)",
       "Data type mismatch: the column \"n\" holds numbers, and 'inf' is not one."},
      {"insert into v values (NULL, 'not a date', NULL, NULL)",
       "Data type mismatch: the column \"d\" holds dates, and 'not a date' is not one."},
      {"insert into v values (NULL, '2023-02-29', NULL, NULL)",
       "Data type mismatch: the column \"d\" holds dates, and '2023-02-29' is not one."},
      {"insert into v values (NULL, -1, NULL, NULL)",
       "Data type mismatch: the column \"d\" holds dates, and -1 is not one."},
      {"insert into v values (NULL, NULL, 'maybe', NULL)",
       "Data type mismatch: the column \"b\" holds TRUE or FALSE, and 'maybe' is not one."},
  };
  for (const auto& k : refused) {
    EXPECT_FALSE(exec.Run(c.ref(), k.statement)) << k.statement;
    EXPECT_EQ(exec.Line(), k.line);
  }
  EXPECT_EQ(Select(c.ref(), "select * from v"),
            (Rows{{"1.5", "2023-03-15", "TRUE", "1.50"},
                  {"-2000", "2024-02-29 13:45:10", "FALSE", " it's "}}));
  c.Close();

  // Numbers, dates and booleans as such; dates show as dates.
  auto book = LoadBook(path);
  const auto& s = book.sheet(*book.FindSheet("v"));
  EXPECT_EQ(s.GetValue(1, 0), xls::Value::Number(1.5));
  EXPECT_EQ(s.GetValue(1, 1), xls::Value::Number(45000));
  EXPECT_TRUE(book.IsDateFormat(s.GetCell(1, 1).xf));
  EXPECT_TRUE(book.IsDateFormat(s.GetCell(2, 1).xf));
  EXPECT_EQ(s.GetValue(1, 2), xls::Value::Boolean(true));
  EXPECT_EQ(s.GetValue(1, 3), xls::Value::Text("1.50"));
  EXPECT_EQ(s.GetValue(2, 0), xls::Value::Number(-2000));
  EXPECT_EQ(s.GetValue(2, 3), xls::Value::Text(" it's "));
  EXPECT_FALSE(s.GetCell(3, 0).exists);
}

TEST(WorkbookProvider, DropTableClearsTheRangeAndKeepsTheSheet) {
  TempDir dir;
  const auto path = dir / "d.xls";
  MakeWorkbook(path);
  Connection c;
  ASSERT_EQ(c.Open(path.string()), hr::S_OK);
  Exec exec;
  ASSERT_TRUE(exec.Run(c.ref(), kCreateT));
  EXPECT_FALSE(exec.Run(c.ref(), kCreateT));
  EXPECT_EQ(exec.Line(), "The table \"t\" already exists.");
  ASSERT_TRUE(exec.Run(c.ref(), "insert into t values ('1', 'a')"));
  ASSERT_TRUE(exec.Run(c.ref(), "drop table t"));
  {
    // Saved at once, the inserted row with it.
    auto book = LoadBook(path);
    auto sheet = book.FindSheet("t");
    ASSERT_TRUE(sheet);
    EXPECT_FALSE(book.sheet(*sheet).UsedRange());
    EXPECT_FALSE(book.FindName("t"));
  }
  EXPECT_EQ(TableNames(c.ref()), (std::vector<std::string>{"Sheet1$", "t$"}));
  EXPECT_FALSE(exec.Run(c.ref(), "drop table t"));
  EXPECT_EQ(exec.Line(), "The table \"t\" does not exist in the workbook.");
  EXPECT_FALSE(exec.Run(c.ref(), "insert into t values ('1', 'a')"));

  // The empty sheet is taken again by the next CREATE of that name.
  ASSERT_TRUE(exec.Run(c.ref(), "create table T (x text)")) << exec.Line();
  EXPECT_EQ(TableNames(c.ref()), (std::vector<std::string>{"Sheet1$", "T", "t$"}));
  // Dropping the sheet form clears the sheet and the names on it.
  ASSERT_TRUE(exec.Run(c.ref(), "insert into T values ('1')"));
  ASSERT_TRUE(exec.Run(c.ref(), "drop table [t$]"));
  EXPECT_EQ(TableNames(c.ref()), (std::vector<std::string>{"Sheet1$", "t$"}));
  EXPECT_EQ(Select(c.ref(), "select * from [t$]").size(), 0u);
}

TEST(WorkbookProvider, CreateTableRefusesASheetInUse) {
  TempDir dir;
  const auto path = dir / "u.xls";
  MakeWorkbook(path, {"Sheet1"}, {{"h"}});
  Connection c;
  ASSERT_EQ(c.Open(path.string()), hr::S_OK);
  Exec exec;
  EXPECT_FALSE(exec.Run(c.ref(), "create table sheet1 (a text)"));
  EXPECT_EQ(exec.Line(), "The table \"sheet1\" already exists: the sheet \"Sheet1\" is in use.");
  EXPECT_EQ(TableNames(c.ref()), (std::vector<std::string>{"Sheet1$"}));
}

TEST(WorkbookProvider, TableNamesThatAreNotValidDefinedNames) {
  TempDir dir;
  const auto path = dir / "n.xls";
  MakeWorkbook(path);
  Connection c;
  ASSERT_EQ(c.Open(path.string()), hr::S_OK);
  Exec exec;
  // t1 reads as a cell reference, "order details" holds a blank, the long
  // name does not fit a sheet name.
  ASSERT_TRUE(exec.Run(c.ref(), "create table `t1` (\n`a` text\n)")) << exec.Line();
  ASSERT_TRUE(exec.Run(c.ref(), "create table `order details` (\n`a` text\n)")) << exec.Line();
  const std::string longName(40, 'l');
  ASSERT_TRUE(exec.Run(c.ref(), "create table " + longName + " (a text)")) << exec.Line();
  EXPECT_EQ(TableNames(c.ref()),
            (std::vector<std::string>{"'order details$'", "_t1", longName.substr(0, 31) + "$",
                                      longName, "order_details", "Sheet1$", "t1$"}));
  // The statements of a migration use the name as it came.
  EXPECT_TRUE(exec.Run(c.ref(), "insert into t1 values ('x')")) << exec.Line();
  EXPECT_TRUE(exec.Run(c.ref(), "insert into [order details] values ('y')")) << exec.Line();
  EXPECT_TRUE(exec.Run(c.ref(), "insert into " + longName + " values ('z')")) << exec.Line();
  std::string error;
  EXPECT_EQ(Select(c.ref(), "select * from _t1", &error), (Rows{{"x"}}));
  EXPECT_EQ(Select(c.ref(), "select * from t1", &error), (Rows{{"x"}}));
  EXPECT_EQ(Select(c.ref(), "select * from ['order details$']", &error), (Rows{{"y"}}));
  EXPECT_EQ(ColumnRecords(c.ref(), "t1").size(), 1u);
}

TEST(WorkbookProvider, EveryNameATableIsCreatedUnderFindsIt) {
  TempDir dir;
  const auto path = dir / "odd.xls";
  MakeWorkbook(path);
  Connection c;
  ASSERT_EQ(c.Open(path.string()), hr::S_OK);
  Exec exec;
  // Quotes, reserved words, blanks, brackets, a cell reference, a name that
  // is cut, back-quotes, characters outside ASCII.
  const std::string names[] = {
      "'x'", "''",    "'",    "it's", "\"q\"",  "select",         "order details",
      "[x]", "a.b$c", "R1C1", "1abc", "`tick`", "\xE8\xA1\xA8 1", std::string(300, 'n')};
  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    std::string quoted = "`";
    for (char ch : name) {
      quoted += ch;
      if (ch == '`') quoted += '`';
    }
    quoted += '`';
    ASSERT_TRUE(exec.Run(c.ref(), "create table " + quoted + " (a text)")) << exec.Line();
    EXPECT_TRUE(exec.Run(c.ref(), "insert into " + quoted + " values ('v')")) << exec.Line();
    std::string error;
    EXPECT_EQ(Select(c.ref(), "select * from " + quoted, &error), (Rows{{"v"}})) << error;
    if (name.find(']') == std::string::npos) {
      EXPECT_EQ(Select(c.ref(), "select * from [" + name + "]", &error), (Rows{{"v"}})) << error;
    }
    EXPECT_EQ(ColumnRecords(c.ref(), name).size(), 1u);
    EXPECT_TRUE(exec.Run(c.ref(), "drop table " + quoted)) << exec.Line();
    Select(c.ref(), "select * from " + quoted, &error);
    EXPECT_NE(error.find("does not exist"), std::string::npos) << error;
    // And once more on the sheet the first one left.
    EXPECT_TRUE(exec.Run(c.ref(), "create table " + quoted + " (a text)")) << exec.Line();
    EXPECT_TRUE(exec.Run(c.ref(), "drop table " + quoted)) << exec.Line();
  }
  // A name in the form the tables rowset gives a sheet would name the sheet.
  EXPECT_FALSE(exec.Run(c.ref(), "create table ['y$'] (a text)"));
  EXPECT_EQ(exec.Line(), "A new table's name cannot end in $: \"'y$'\" names a sheet.");
}

TEST(WorkbookProvider, InsertedRowsAreSavedWhenTheSessionGoes) {
  TempDir dir;
  const auto path = dir / "late.xls";
  MakeWorkbook(path);
  Connection c;
  ASSERT_EQ(c.Open(path.string()), hr::S_OK);
  Exec exec;
  ASSERT_TRUE(exec.Run(c.ref(), kCreateT));
  ASSERT_TRUE(exec.Run(c.ref(), "insert into t values ('1', 'one')"));
  EXPECT_FALSE(LoadBook(path).sheet(1).UsedRange()->lastRow > 0);  // not yet
  c.session.Reset();
  EXPECT_EQ(LoadBook(path).sheet(1).UsedRange()->lastRow, 1u);

  // Without a session left, the data source saves what a session left.
  std::shared_ptr<oledb::Session> second;
  ASSERT_EQ(c.dataSource->CreateSession(second), hr::S_OK);
  oledb::SessionSlot slot;
  slot.Set(std::move(second));
  ASSERT_TRUE(exec.Run(&slot, "insert into t values ('2', 'two')"));
  c.dataSource.reset();  // the session still holds the data source
  EXPECT_EQ(LoadBook(path).sheet(1).UsedRange()->lastRow, 1u);
  slot.Reset();
  EXPECT_EQ(LoadBook(path).sheet(1).UsedRange()->lastRow, 2u);
}

TEST(WorkbookProvider, RelativePathSurvivesAChangeOfDirectory) {
  TempDir dir;
  std::filesystem::create_directory(dir / "data_cache");
  MakeWorkbook(dir / "rel.xls");
  struct Restore {
    std::filesystem::path old = std::filesystem::current_path();
    ~Restore() { std::filesystem::current_path(old); }
  } restore;
  std::filesystem::current_path(dir.path());
  Connection c;
  ASSERT_EQ(c.Open("rel.xls"), hr::S_OK);
  std::string v;
  ASSERT_EQ(c.dataSource->GetInfo(oledb::DBPROP_DATASOURCENAME, v), hr::S_OK);
  EXPECT_EQ(v, "rel.xls");
  std::filesystem::current_path(dir / "data_cache");
  Exec exec;
  EXPECT_TRUE(exec.Run(c.ref(), kCreateT)) << exec.Line();
  c.Close();
  EXPECT_FALSE(std::filesystem::exists(dir / "data_cache" / "rel.xls"));
  EXPECT_TRUE(LoadBook(dir / "rel.xls").FindName("t"));
}

TEST(WorkbookProvider, ReadOnlyModeRefusesChanges) {
  TempDir dir;
  const auto path = dir / "ro.xls";
  MakeWorkbook(path, {"Sheet1"}, {{"a"}, {"1"}});
  Connection c;
  ASSERT_EQ(c.Open(path.string(), "Excel 8.0;HDR=Yes;", 1 /* DB_MODE_READ */), hr::S_OK);
  Exec exec;
  EXPECT_FALSE(exec.Run(c.ref(), kCreateT));
  EXPECT_EQ(exec.Line(), "The workbook \"" + path.string() + "\" is open read-only.");
  EXPECT_FALSE(exec.Run(c.ref(), "insert into [Sheet1$] values ('2')"));
  std::string error;
  EXPECT_EQ(Select(c.ref(), "select * from [Sheet1$]", &error), (Rows{{"1"}}));
}

TEST(WorkbookProvider, ServerVersionQueryFailsLikeAnyUnknownStatement) {
  TempDir dir;
  MakeWorkbook(dir / "q.xls");
  Connection c;
  ASSERT_EQ(c.Open((dir / "q.xls").string()), hr::S_OK);
  ScriptedFrontend ui;
  EXPECT_EQ(oledb::QuerySingleValue(ui, c.ref(), "select @@Version"),
            "Syntax error at position 8: expected * after SELECT (only SELECT * FROM a table is "
            "understood), found \"@@Version\".");
  EXPECT_EQ(ui.LineCount(), 0u);
}

// The window thread reads the schema while the controller thread inserts.
TEST(WorkbookProvider, OneSessionFromTwoThreads) {
  TempDir dir;
  const auto path = dir / "mt.xls";
  MakeWorkbook(path);
  Connection c;
  ASSERT_EQ(c.Open(path.string()), hr::S_OK);
  Exec exec;
  ASSERT_TRUE(exec.Run(c.ref(), "create table a (x text)"));
  ASSERT_TRUE(exec.Run(c.ref(), "create table b (x text)"));
  constexpr int kRows = 2000;
  auto insert = [&](const char* table, ScriptedFrontend& ui) {
    for (int i = 0; i < kRows; ++i)
      oledb::ExecuteStatement(
          ui, c.ref(),
          std::string("insert into ") + table + " values ('" + std::to_string(i) + "')", 0);
  };
  ScriptedFrontend ui1, ui2;
  std::thread controller([&] { insert("a", ui1); });
  std::thread window([&] {
    insert("b", ui2);
    for (int i = 0; i < 50; ++i) {
      TableNames(c.ref());
      ColumnRecords(c.ref(), "a");
      Select(c.ref(), "select * from a");
    }
  });
  controller.join();
  window.join();
  EXPECT_EQ(Select(c.ref(), "select * from a").size(), static_cast<std::size_t>(kRows));
  EXPECT_EQ(Select(c.ref(), "select * from b").size(), static_cast<std::size_t>(kRows));
}

// An .xlsx workbook is opened like any other; its tables grow to the rows
// of its format, and they are saved in it.
TEST(WorkbookProvider, XlsxTablesGrowToTheRowsOfTheirFormat) {
  testing::TempDir dir;
  const auto path = dir / "big.xlsx";
  {
    auto book = xls::Workbook::New(xls::FileFormat::kXlsx);
    ASSERT_TRUE(book.AddSheet("Sheet1"));
    ASSERT_TRUE(book.sheet(0).SetText(0, 0, "id"));
    ASSERT_TRUE(book.sheet(0).SetText(0, 1, "name"));
    ASSERT_TRUE(book.sheet(0).SetNumber(70000, 0, 1));  // past an .xls sheet
    ASSERT_TRUE(book.DefineName("t", 0, {0, 0, 70000, 1}));
    ASSERT_TRUE(book.DefineName("full", 0, {0, 0, xls::kXlsxLimits.rows - 1, 1}));
    ASSERT_TRUE(book.Save(path.string()));
  }
  Connection c;
  ASSERT_EQ(c.Open(path.string()), hr::S_OK) << c.InitError();
  std::string version;
  ASSERT_EQ(c.dataSource->GetInfo(oledb::DBPROP_DBMSVER, version), hr::S_OK);
  EXPECT_EQ(version, "OOXML");  // the window names the format above the target tree
  Exec exec;
  ASSERT_TRUE(exec.Run(c.ref(), "insert into t values (70001, 'beyond .xls')")) << exec.Line();
  EXPECT_FALSE(exec.Run(c.ref(), "insert into full values (1, 'x')"));
  EXPECT_EQ(exec.Line(),
            "The table \"full\" is full: a sheet holds at most 1,048,576 rows, and the table "
            "reaches the last one.");
  c.Close();
  auto book = xls::Workbook::Load(path.string());
  ASSERT_TRUE(book.ok()) << book.message();
  EXPECT_EQ(book->format(), xls::FileFormat::kXlsx);
  EXPECT_EQ(book->sheet(0).GetValue(70001, 1), xls::Value::Text("beyond .xls"));
  EXPECT_EQ(book->name(*book->FindName("t")).range.lastRow, 70001u);
}

}  // namespace
}  // namespace migrator::wbtest

namespace migrator::wbtest {
namespace {

TEST(WorkbookProvider, DropTableClearsOnlyItsRange) {
  testing::TempDir dir;
  const auto path = dir / "range.xls";
  {
    auto book = xls::Workbook::New();
    ASSERT_TRUE(book.AddSheet("s").ok());
    auto& s = book.sheet(0);
    ASSERT_TRUE(s.SetText(0, 0, "outside").ok());
    for (std::uint32_t r = 1; r <= 3; ++r)
      for (std::uint32_t c = 1; c <= 255; ++c)
        ASSERT_TRUE(s.SetNumber(r, c, r * 1000 + c).ok());
    ASSERT_TRUE(s.SetText(4, 3, "below").ok());
    ASSERT_TRUE(book.DefineName("inner", 0, {1, 1, 3, 255}).ok());
    ASSERT_TRUE(book.Save(path.string()).ok());
  }
  Connection c;
  ASSERT_EQ(c.Open(path.string()), hr::S_OK);
  ScriptedFrontend ui;
  EXPECT_EQ(Select(c.ref(), "select * from inner").size(), 2u);
  ASSERT_TRUE(oledb::ExecuteStatement(ui, c.ref(), "drop table inner", 1));
  c.Close();
  auto book = xls::Workbook::Load(path.string());
  ASSERT_TRUE(book.ok());
  const auto& s = book->sheet(0);
  EXPECT_EQ(s.GetValue(0, 0), xls::Value::Text("outside"));
  EXPECT_EQ(s.GetValue(4, 3), xls::Value::Text("below"));
  EXPECT_FALSE(s.GetCell(1, 1).exists);
  EXPECT_FALSE(s.GetCell(3, 255).exists);
  EXPECT_FALSE(book->FindName("inner"));
}

// A dropped table takes the comments, hyperlinks and merged ranges on its
// cells with it; those beside it stay. The sheet form takes the sheet's.
TEST(WorkbookProvider, DropTableTakesCommentsLinksAndMergesWithIt) {
  testing::TempDir dir;
  const auto path = dir / "attached.xls";
  std::filesystem::copy_file(std::string(MIGRATOR_TEST_DATA_DIR) + "/xls/lo_attached.xls", path);
  Connection c;
  ASSERT_EQ(c.Open(path.string()), hr::S_OK);
  ScriptedFrontend ui;
  ASSERT_TRUE(oledb::ExecuteStatement(ui, c.ref(), "drop table orders", 1));
  ASSERT_TRUE(oledb::ExecuteStatement(ui, c.ref(), "drop table [Notes$]", 1));
  c.Close();
  auto book = xls::Workbook::Load(path.string());
  ASSERT_TRUE(book.ok()) << book.message();
  const auto& s = book->sheet(0);
  EXPECT_EQ(s.commentCells(), (std::vector<xls::Range>{{1, 4, 1, 4}}));
  EXPECT_EQ(s.hyperlinkRanges(), (std::vector<xls::Range>{{3, 4, 3, 4}}));
  EXPECT_EQ(s.mergedRanges(), (std::vector<xls::Range>{{7, 4, 8, 5}}));
  EXPECT_FALSE(s.GetCell(0, 0).exists);
  EXPECT_EQ(s.GetValue(1, 4), xls::Value::Text("kept"));
  const auto& notes = book->sheet(1);
  EXPECT_TRUE(notes.commentCells().empty());
  EXPECT_TRUE(notes.hyperlinkRanges().empty());
  EXPECT_TRUE(notes.mergedRanges().empty());
}

TEST(WorkbookProvider, NewTableNamesCannotNameASheet) {
  testing::TempDir dir;
  MakeWorkbook(dir / "x.xls");
  Connection c;
  ASSERT_EQ(c.Open((dir / "x.xls").string()), hr::S_OK);
  ScriptedFrontend ui;
  EXPECT_FALSE(oledb::ExecuteStatement(ui, c.ref(), "create table [x$] (a text)", 1));
  EXPECT_EQ(ui.Texts().back(), "A new table's name cannot end in $: \"x$\" names a sheet.");
}

}  // namespace
}  // namespace migrator::wbtest

namespace migrator::wbtest {
namespace {

// A sheet's filter (its hidden _FilterDatabase name) is no table in either
// format: not listed, not found by name. A row added to the table it covers
// is inside it; a dropped table takes its sheet's filter with it and leaves
// the other sheet's.
TEST(WorkbookProvider, FilterNamesAreNoTablesAndFollowTheirTable) {
  for (const char* name : {"f.xls", "f.xlsx"}) {
    SCOPED_TRACE(name);
    testing::TempDir dir;
    const auto path = dir / name;
    {
      auto book = xls::Workbook::New(xls::FormatForPath(name));
      for (const char* sheet : {"t", "u"}) {
        auto s = book.AddSheet(sheet);
        ASSERT_TRUE(s);
        ASSERT_TRUE(book.sheet(*s).SetText(0, 0, "id"));
        ASSERT_TRUE(book.sheet(*s).SetText(0, 1, "name"));
        ASSERT_TRUE(book.sheet(*s).SetNumber(1, 0, 1));
        ASSERT_TRUE(book.DefineName(sheet, *s, {0, 0, 1, 1}));
        ASSERT_TRUE(book.SetAutoFilter(*s, {0, 0, 1, 1}));
      }
      ASSERT_TRUE(book.Save(path.string()));
    }
    Connection c;
    ASSERT_EQ(c.Open(path.string()), hr::S_OK) << c.InitError();
    EXPECT_EQ(TableNames(c.ref()), (std::vector<std::string>{"t", "t$", "u", "u$"}));
    for (const char* hidden : {"_FilterDatabase", "[_xlnm._FilterDatabase]"}) {
      std::string error;
      Select(c.ref(), std::string("select * from ") + hidden, &error);
      EXPECT_NE(error.find("does not exist"), std::string::npos) << hidden << ": " << error;
    }
    Exec exec;
    ASSERT_TRUE(exec.Run(c.ref(), "insert into t values (2, 'b')")) << exec.Line();
    ASSERT_TRUE(exec.Run(c.ref(), "drop table u")) << exec.Line();
    c.Close();
    const xls::Workbook book = LoadBook(path);
    EXPECT_EQ(book.AutoFilter(0), (xls::Range{0, 0, 2, 1}));
    EXPECT_FALSE(book.AutoFilter(1));
    EXPECT_EQ(book.nameCount(), 2u);  // t and its filter
  }
}

}  // namespace
}  // namespace migrator::wbtest
