// Backup of target tables: the CREATE TABLE text from the column schema and
// the .data file of INSERT statements, over a scripted provider and over the
// workbook provider itself.

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <sstream>

#include "excel_fixture.h"
#include "oledb/data_source.h"
#include "oledb/memory_rowset.h"
#include "oledb/schema.h"
#include "oledb/text_rows.h"

namespace migrator::testing {
namespace {

namespace fs = std::filesystem;
using oledb::ColumnInfo;
using Cell = oledb::MemoryRowset::Value;

// A rowset that tells a hook about every row it moves to.
class HookedRowset : public oledb::MemoryRowset {
 public:
  using MemoryRowset::MemoryRowset;
  std::function<void(std::size_t)> onRow;
  std::size_t failAt = 0;  // this row cannot be fetched
  HRESULT GetNextRow(oledb::ErrorRecords& errors) override {
    if (fetched_ + 1 == failAt) {
      errors.push_back(oledb::LayerError(hr::E_FAIL, "The connection was lost."));
      return hr::E_FAIL;
    }
    HRESULT h = MemoryRowset::GetNextRow(errors);
    if (h == hr::S_OK && ++fetched_ && onRow) onRow(fetched_);
    return h;
  }

 private:
  std::size_t fetched_ = 0;
};

// What the scripted workbook answers: the columns schema rows and the table
// that "select * from <any name but missing>" gives.
struct Script {
  std::vector<std::vector<Cell>> columnSchema;
  std::vector<ColumnInfo> tableColumns;
  std::vector<std::vector<Cell>> tableRows;
  std::function<void(std::size_t)> onRow;
  std::size_t failAt = 0;
  std::vector<oledb::Restrictions> schemaAsked;
};

class ScriptSession : public oledb::ProviderSession {
 public:
  explicit ScriptSession(Script& s) : s_(s) {}
  HRESULT Execute(std::string_view text, const oledb::PropertySet&,
                  std::unique_ptr<oledb::ProviderRowset>& rowset,
                  oledb::ErrorRecords& errors) override {
    if (text.rfind("select * from ", 0) != 0 || text == "select * from `missing`") {
      errors.push_back(oledb::LayerError(hr::DB_E_NOTABLE, "The table does not exist."));
      return hr::DB_E_NOTABLE;
    }
    auto rs = std::make_unique<HookedRowset>(s_.tableColumns);
    for (const auto& row : s_.tableRows)
      rs->AddRow(row);
    rs->onRow = s_.onRow;
    rs->failAt = s_.failAt;
    rowset = std::move(rs);
    return hr::S_OK;
  }
  HRESULT OpenSchemaRowset(oledb::Schema schema, const oledb::Restrictions& r,
                           std::unique_ptr<oledb::ProviderRowset>& rowset,
                           oledb::ErrorRecords&) override {
    if (schema != oledb::Schema::Columns) return hr::E_INVALIDARG;
    s_.schemaAsked.push_back(r);
    auto rs = std::make_unique<oledb::MemoryRowset>(oledb::SchemaColumnInfo(schema));
    for (const auto& row : s_.columnSchema)
      rs->AddRow(row);
    rowset = std::move(rs);
    return hr::S_OK;
  }

 private:
  Script& s_;
};

class ScriptDataSource : public oledb::ProviderDataSource {
 public:
  explicit ScriptDataSource(Script& s) : s_(s) {}
  HRESULT Initialize(const oledb::PropertySet&, oledb::ErrorRecords&) override { return hr::S_OK; }
  HRESULT GetInfo(oledb::DBPROPID, std::string& value, oledb::ErrorRecords&) override {
    value = "Script";
    return hr::S_OK;
  }
  HRESULT CreateSession(std::unique_ptr<oledb::ProviderSession>& session,
                        oledb::ErrorRecords&) override {
    session = std::make_unique<ScriptSession>(s_);
    return hr::S_OK;
  }

 private:
  Script& s_;
};

// One row of the columns schema: name, has-default, default, flags, type, length.
std::vector<Cell> SchemaRow(const std::string& name, bool hasDefault, Cell def,
                            oledb::DBCOLUMNFLAGS flags, oledb::DBTYPE type, Cell length) {
  std::vector<Cell> row(oledb::SchemaColumnInfo(oledb::Schema::Columns).size());
  row[2] = "t";
  row[3] = name;
  row[7] = hasDefault ? "1" : "0";
  row[8] = std::move(def);
  row[9] = std::to_string(flags);
  row[11] = std::to_string(type);
  row[13] = std::move(length);
  return row;
}

ColumnInfo Col(const std::string& name, oledb::DBORDINAL ordinal, oledb::DBTYPE type) {
  ColumnInfo c;
  c.name = name;
  c.ordinal = ordinal;
  c.type = type;
  return c;
}

ColumnInfo BookmarkColumn() {
  ColumnInfo c;
  c.ordinal = 0;
  c.type = oledb::DBTYPE_UI4;
  c.flags = oledb::DBCOLUMNFLAGS_ISBOOKMARK;
  return c;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);)
    lines.push_back(line);
  return lines;
}

// The statements of a data file: its lines without the header line and the
// count line.
std::vector<std::string> Statements(const std::string& text) {
  auto lines = Lines(text);
  if (!lines.empty() && lines.front() == kDataFileHeader) lines.erase(lines.begin());
  if (!lines.empty() && lines.back().rfind(kDataFileEndPrefix, 0) == 0) lines.pop_back();
  return lines;
}

class BackupTest : public ExcelTest {
 protected:
  BackupTest() {
    ConnectionSettings s;
    s.providerId = kJetProvider;
    ws.target.SetSettings(s);
    auto ds = std::make_shared<oledb::DataSource>(kJetProvider,
                                                  std::make_unique<ScriptDataSource>(script));
    EXPECT_EQ(ds->Initialize(), hr::S_OK);
    std::shared_ptr<oledb::Session> session;
    EXPECT_EQ(ds->CreateSession(session), hr::S_OK);
    slot.Set(session);
    dataSource = ds;
    fs::create_directory(dir / "DATA");
  }
  ~BackupTest() override { slot.Reset(); }

  std::string DataDir() const { return (dir / "DATA").string(); }
  std::string DataFile() const { return ReadFile(dir / "DATA" / "t.data"); }

  Script script;
  std::shared_ptr<oledb::DataSource> dataSource;
  oledb::SessionSlot slot;
};

TEST_F(BackupTest, StructureTextOfAJetTable) {
  script.columnSchema = {SchemaRow("id", false, {}, 90, oledb::DBTYPE_I4, {}),
                         SchemaRow("name", false, {}, 74, oledb::DBTYPE_WSTR, "50")};
  EXPECT_EQ(ExcelAdapter::BackupTableStructure(ws, &slot, "t"),
            "CREATE TABLE `t`(\n`id` LONG ,\n`name` VARCHAR(50)  )");
  ASSERT_EQ(script.schemaAsked.size(), 1u);
  EXPECT_EQ(script.schemaAsked[0].At(oledb::restriction::kTableName), "t");
  EXPECT_FALSE(script.schemaAsked[0].At(oledb::restriction::kTableCatalog).has_value());

  // Defaults are written after the type; another provider uses its own names.
  // Names are quoted as identifiers, whatever they hold.
  script.columnSchema = {SchemaRow("n`)", true, "it's", 120, oledb::DBTYPE_I4, {}),
                         SchemaRow("s", false, {}, 104, oledb::DBTYPE_WSTR, "9")};
  ws.target.EditSettings([](ConnectionSettings& s) { s.providerId = "MSDASQL"; });
  EXPECT_EQ(ExcelAdapter::BackupTableStructure(ws, &slot, "my t"),
            "CREATE TABLE `my t`(\n`n``)` LONG default 'it''s' ,\n`s` TEXT )");
}

TEST_F(BackupTest, SheetEntriesAndMissingSessions) {
  EXPECT_EQ(ExcelAdapter::BackupTableStructure(ws, &slot, "t$"), "User Defined Name!");
  // A sheet whose name holds a blank is listed between quotes.
  EXPECT_EQ(ExcelAdapter::BackupTableStructure(ws, &slot, "'My sheet$'"), "User Defined Name!");
  EXPECT_TRUE(script.schemaAsked.empty());
  // Only a dollar at the very end marks a sheet entry.
  EXPECT_EQ(ExcelAdapter::BackupTableStructure(ws, &slot, "a$b"), "CREATE TABLE `a$b`(\n)");

  oledb::SessionSlot empty;
  EXPECT_EQ(ExcelAdapter::BackupTableStructure(ws, &empty, "t"), "No Connection!");
  EXPECT_EQ(ExcelAdapter::BackupTableData(ws, nullptr, "db", "t", DataDir()), "No Connection!");
  const auto lines = ui.Lines();
  ASSERT_EQ(lines.size(), 2u);
  for (const auto& line : lines) {
    EXPECT_EQ(line.text.substr(24), "No Connection!");
    EXPECT_EQ(line.textColour, kRed);
  }
  EXPECT_FALSE(fs::exists(dir / "DATA" / "t.data"));
  EXPECT_EQ(ExcelAdapter::BackupView(ui, &slot, "db", "v"), "");
}

TEST_F(BackupTest, RowsBecomeInsertStatementsWithProgressEveryThousand) {
  script.tableColumns = {BookmarkColumn(), Col("id", 1, oledb::DBTYPE_R8),
                         Col("name", 2, oledb::DBTYPE_WSTR), Col("at", 3, oledb::DBTYPE_DATE)};
  script.tableRows.push_back({{}, "1", "O'Brien", "2024-01-31"});
  script.tableRows.push_back({{}, {}, {}, {}});  // empty cells: NULL in every column
  // A number column may hold other cells further down: they are quoted, so
  // nothing a cell holds becomes part of the statement.
  script.tableRows.push_back({{}, "1); drop table t; --", "n3", {}});
  for (int i = 4; i <= 2500; ++i) {
    script.tableRows.push_back(
        {{}, i == 4 ? "-1.5e+20" : std::to_string(i), "n" + std::to_string(i), {}});
  }

  EXPECT_EQ(ExcelAdapter::BackupTableData(ws, &slot, "db", "t", DataDir()), "true");
  EXPECT_EQ(Lines(DataFile()).front(), kDataFileHeader);
  EXPECT_EQ(Lines(DataFile()).back(), "-- end: 2500 rows");
  const auto lines = Statements(DataFile());
  ASSERT_EQ(lines.size(), 2500u);
  EXPECT_EQ(lines[0], "insert into `t` values (1,'O''Brien','2024-01-31')");
  EXPECT_EQ(lines[1], "insert into `t` values (NULL,NULL,NULL)");
  EXPECT_EQ(lines[2], "insert into `t` values ('1); drop table t; --','n3',NULL)");
  EXPECT_EQ(lines[3], "insert into `t` values (-1.5e+20,'n4',NULL)");
  EXPECT_EQ(lines[2499], "insert into `t` values (2500,'n2500',NULL)");

  const auto texts = ui.Texts();
  EXPECT_EQ(texts,
            (std::vector<std::string>{"[t] 1000 records backuped!", "[t] 2000 records backuped!",
                                      "[t]    2500 records backuped!"}));
}

TEST_F(BackupTest, AStopEndsTheBackupAfterTheCurrentRow) {
  script.tableColumns = {BookmarkColumn(), Col("id", 1, oledb::DBTYPE_R8)};
  for (int i = 1; i <= 50; ++i)
    script.tableRows.push_back({{}, std::to_string(i)});
  script.onRow = [this](std::size_t row) {
    if (row == 10) ws.SetState(ControllerState::Stopping);
  };
  ws.SetState(ControllerState::Running);

  ExcelAdapter::BackupTableData(ws, &slot, "db", "t", DataDir());
  // The header and ten rows: no count, the file is not whole.
  const auto lines = Lines(DataFile());
  ASSERT_EQ(lines.size(), 11u);
  EXPECT_EQ(lines.back(), "insert into `t` values (10)");
  EXPECT_EQ(ui.Texts(),
            (std::vector<std::string>{"Data Backup Terminaled!", "[t]      10 records backuped!"}));
}

TEST_F(BackupTest, FailuresCreateNoFile) {
  // The command fails: the provider's text, orange, and no file.
  EXPECT_EQ(ExcelAdapter::BackupTableData(ws, &slot, "db", "missing", DataDir()),
            "The table does not exist.");
  ASSERT_EQ(ui.Lines().size(), 1u);
  EXPECT_EQ(ui.Texts()[0], "The table does not exist.");
  EXPECT_EQ(ui.Lines()[0].textColour, kOrange);
  EXPECT_TRUE(fs::is_empty(dir / "DATA"));

  // More columns bound than the rowset has: the accessor fails.
  ws.target.EditSettings([](ConnectionSettings& s) { s.providerId = "MSDASQL"; });
  script.tableColumns = {BookmarkColumn(), Col("id", 1, oledb::DBTYPE_R8)};
  ui.ClearLines();
  ExcelAdapter::BackupTableData(ws, &slot, "db", "t", DataDir());
  ASSERT_EQ(ui.Texts().size(), 1u);
  EXPECT_EQ(ui.Texts()[0].rfind("Create Accessor \r\n failed with error code:[0x80040e55]", 0), 0u)
      << ui.Texts()[0];
  EXPECT_TRUE(fs::is_empty(dir / "DATA"));

  // A directory that is not there.
  ws.target.EditSettings([](ConnectionSettings& s) { s.providerId = kJetProvider; });
  ui.ClearLines();
  ExcelAdapter::BackupTableData(ws, &slot, "db", "t", (dir / "nowhere").string());
  ASSERT_EQ(ui.Texts().size(), 1u);
  EXPECT_EQ(
      ui.Texts()[0].rfind(
          (dir / "nowhere" / "t.data").string() + " \r\n failed with error code:[0x00000002]", 0),
      0u);
  EXPECT_EQ(ui.Lines()[0].textColour, kRed);

  // A row that cannot be fetched ends the loop as a failure, in red.
  script.tableRows = {{{}, "1"}, {{}, "2"}, {{}, "3"}};
  script.failAt = 3;
  ui.ClearLines();
  EXPECT_EQ(ExcelAdapter::BackupTableData(ws, &slot, "db", "t", DataDir()),
            "The connection was lost.");
  EXPECT_EQ(Lines(DataFile()).size(), 3u);  // the header and two rows, no count
  ASSERT_EQ(ui.Texts().size(), 2u);
  EXPECT_EQ(ui.Texts()[1], "[t] the rows after row 2 could not be read: The connection was lost.");
  EXPECT_EQ(ui.Lines()[1].textColour, kRed);
}

// Over the workbook provider: the sheet entry, the defined name's CREATE
// TABLE text, and a .data file that can be run again into a new workbook.
TEST_F(ExcelTest, BackupOfAWorkbookTableReplaysIntoAnotherWorkbook) {
  const std::string db = Path("shop");
  ASSERT_TRUE(ExcelAdapter::CreateDatabase(ws, db, 1));
  ConnectTarget(db + ".xls");
  ASSERT_TRUE(Run("CREATE TABLE t (id NUMERIC, name TEXT)"));
  ASSERT_TRUE(Run("INSERT INTO t VALUES (1, 'it''s')"));
  ASSERT_TRUE(Run("INSERT INTO t VALUES (2.5, NULL)"));
  ASSERT_TRUE(Run("INSERT INTO t VALUES (NULL, 'plain')"));

  EXPECT_EQ(ExcelAdapter::BackupTableStructure(ws, &ws.target.session, "t$"), "User Defined Name!");
  const std::string structure = ExcelAdapter::BackupTableStructure(ws, &ws.target.session, "t");
  EXPECT_EQ(structure, "CREATE TABLE `t`(\n`id` NUMERIC ,\n`name` TEXT )");

  fs::create_directory(dir / "DATA");
  EXPECT_EQ(ExcelAdapter::BackupTableData(ws, &ws.target.session, db, "t", Path("DATA")), "true");
  const auto lines = Statements(ReadFile(dir / "DATA" / "t.data"));
  EXPECT_EQ(lines, (std::vector<std::string>{"insert into `t` values (1,'it''s')",
                                             "insert into `t` values (2.5,NULL)",
                                             "insert into `t` values (NULL,'plain')"}));

  // Replayed into a fresh workbook, the statements give the same rows.
  ASSERT_TRUE(ExcelAdapter::CreateDatabase(ws, Path("copy"), 1));
  ConnectTarget(Path("copy.xls"));
  ASSERT_TRUE(Run(structure));
  for (const auto& line : lines)
    ASSERT_TRUE(Run(line)) << line;
  std::vector<std::string> names;
  auto read =
      oledb::ReadTextRows(&ws.target.session, "select * from t", [&](const oledb::TextRow& row) {
        names.push_back(row.Value(1));
        return true;
      });
  ASSERT_TRUE(read.ok()) << read.errorText;
  EXPECT_EQ(names, (std::vector<std::string>{"it's", "", "plain"}));
}

TEST_F(BackupTest, ATableNameCannotPlaceTheDataFileElsewhere) {
  script.tableColumns = {BookmarkColumn(), Col("id", 1, oledb::DBTYPE_R8)};
  script.tableRows.push_back({{}, "1"});
  fs::create_directory(dir / "DATA" / "sub");
  ExcelAdapter::BackupTableData(ws, &slot, "db", "../t", DataDir());
  ExcelAdapter::BackupTableData(ws, &slot, "db", "sub/t", DataDir());
  EXPECT_FALSE(fs::exists(dir / "t.data"));
  EXPECT_FALSE(fs::exists(dir / "DATA" / "sub" / "t.data"));
  const auto texts = ui.Texts();
  ASSERT_EQ(texts.size(), 2u);
  EXPECT_EQ(texts[0].rfind("../t.data \r\n failed with error code:[0x00000016]", 0), 0u);
  // A name that merely looks odd is fine.
  EXPECT_EQ(ExcelAdapter::BackupTableData(ws, &slot, "db", "[x$]", DataDir()), "true");
  EXPECT_EQ(Statements(ReadFile(dir / "DATA" / "[x$].data")),
            std::vector<std::string>{"insert into `[x$]` values (1)"});
}

}  // namespace
}  // namespace migrator::testing
