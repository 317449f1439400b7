// The text-row reader, the statement operations and the schema reader over a
// scripted provider.

#include <gtest/gtest.h>

#include "app/scripted_frontend.h"
#include "oledb/fake_provider.h"
#include "oledb/operations.h"
#include "oledb/schema_reader.h"
#include "oledb/text_rows.h"

namespace migrator::oledb {
namespace {

using testing::FailureOf;
using testing::FakeConnection;
using testing::FakeResult;
using testing::RowsOf;

std::vector<std::vector<std::string>> ReadAll(SessionRef ref, const std::string& sql,
                                              TextReadResult* result = nullptr,
                                              const TextReadOptions& options = {}) {
  std::vector<std::vector<std::string>> rows;
  auto r = ReadTextRows(
      ref, sql,
      [&](const TextRow& row) {
        std::vector<std::string> v;
        for (std::size_t i = 0; i < row.size(); ++i)
          v.push_back(row.IsNull(i) ? "<null>" : row.Value(i));
        rows.push_back(v);
        return true;
      },
      options);
  if (result) *result = r;
  return rows;
}

TEST(TextRowReader, TellsMissingFailedNoRowsetAndRows) {
  FakeConnection c;
  c.world.Set("bad", FailureOf("You have an error in your SQL syntax"));
  c.world.Set("select", RowsOf(2, {{"1", std::nullopt}, {"2", "b"}}));
  TextReadResult r;

  SessionSlot empty;
  ReadAll(&empty, "select", &r);
  EXPECT_EQ(r.outcome, TextReadOutcome::MissingSession);
  ReadAll(nullptr, "select", &r);
  EXPECT_EQ(r.outcome, TextReadOutcome::MissingSession);
  EXPECT_TRUE(c.world.Executed().empty());  // nothing was asked of the provider

  ReadAll(c.ref(), "bad", &r);
  EXPECT_EQ(r.outcome, TextReadOutcome::Failed);
  EXPECT_EQ(r.errorText, "You have an error in your SQL syntax");

  ReadAll(c.ref(), "update", &r);
  EXPECT_EQ(r.outcome, TextReadOutcome::NoRowset);

  auto rows = ReadAll(c.ref(), "select", &r);
  EXPECT_EQ(r.outcome, TextReadOutcome::Rows);
  EXPECT_EQ(r.hr, hr::DB_S_ENDOFROWSET);
  EXPECT_EQ(rows, (std::vector<std::vector<std::string>>{{"1", "<null>"}, {"2", "b"}}));
}

TEST(TextRowReader, AFetchOrReadThatIsNotFullySuccessfulEndsTheLoop) {
  FakeConnection c;
  FakeResult fetch = RowsOf(1, {{"a"}, {"b"}, {"c"}});
  fetch.fetchFailsAt = 2;
  c.world.Set("fetch", fetch);
  FakeResult read = RowsOf(1, {{"a"}, {"b"}, {"c"}});
  read.readWarnsAt = 1;
  c.world.Set("read", read);
  TextReadResult r;
  EXPECT_EQ(ReadAll(c.ref(), "fetch", &r).size(), 2u);
  EXPECT_EQ(r.hr, hr::E_FAIL);
  EXPECT_EQ(ReadAll(c.ref(), "read", &r).size(), 1u);
  EXPECT_EQ(r.hr, hr::DB_S_ERRORSOCCURRED);
}

TEST(TextRowReader, HandlerStopsTheLoop) {
  FakeConnection c;
  c.world.Set("select", RowsOf(1, {{"a"}, {"b"}, {"c"}}));
  int seen = 0;
  auto r = ReadTextRows(c.ref(), "select", [&](const TextRow&) { return ++seen < 2; });
  EXPECT_EQ(seen, 2);
  EXPECT_TRUE(r.stopped);
  EXPECT_EQ(r.rows, 2u);
}

TEST(TextRowReader, BindsDataColumnsPastABookmarkOrTheCountAsked) {
  FakeConnection c;
  FakeResult wb;
  wb.kind = FakeResult::Rows;
  wb.columns = {testing::Bookmark(), testing::Column("name", 1), testing::Column("city", 2)};
  wb.rows = {{std::nullopt, "ann", "Oslo"}};
  c.world.Set("select * from t", wb);
  TextReadResult r;
  // By default the data columns 1..n, the bookmark left out.
  EXPECT_EQ(ReadAll(c.ref(), "select * from t", &r),
            (std::vector<std::vector<std::string>>{{"ann", "Oslo"}}));
  EXPECT_EQ(r.columns.size(), 3u);
  // The reported count less one, as the workbook backup binds.
  TextReadOptions less;
  less.countAdjust = -1;
  EXPECT_EQ(ReadAll(c.ref(), "select * from t", &r, less),
            (std::vector<std::vector<std::string>>{{"ann", "Oslo"}}));
  // The full reported count names a column that does not exist.
  TextReadOptions all;
  all.columnCount = 3;
  ReadAll(c.ref(), "select * from t", &r, all);
  EXPECT_EQ(r.outcome, TextReadOutcome::Failed);
  EXPECT_EQ(r.hr, hr::DB_E_BADORDINAL);
  TextReadOptions one;
  one.columnCount = 1;
  EXPECT_EQ(ReadAll(c.ref(), "select * from t", &r, one),
            (std::vector<std::vector<std::string>>{{"ann"}}));
  // onColumns sees the columns first and may end the read.
  TextReadOptions look;
  std::size_t seenColumns = 0;
  look.onColumns = [&](const std::vector<ColumnInfo>& cols) {
    seenColumns = cols.size();
    return false;
  };
  EXPECT_TRUE(ReadAll(c.ref(), "select * from t", &r, look).empty());
  EXPECT_EQ(seenColumns, 3u);
  EXPECT_EQ(r.outcome, TextReadOutcome::Rows);
}

TEST(ExecuteStatementOp, ReportFlagsAndOutcomes) {
  FakeConnection c;
  c.world.Set("bad", FailureOf("Table 'x' doesn't exist"));
  c.world.Set("select 1", RowsOf(1, {{"1"}}));
  ScriptedFrontend out;

  EXPECT_TRUE(ExecuteStatement(out, c.ref(), "insert", 1));
  EXPECT_TRUE(ExecuteStatement(out, c.ref(), "insert", 0));
  EXPECT_FALSE(ExecuteStatement(out, c.ref(), "bad", 1));
  EXPECT_FALSE(ExecuteStatement(out, c.ref(), "bad", 0));
  // A SELECT succeeds without a line and without reading its rows.
  EXPECT_TRUE(ExecuteStatement(out, c.ref(), "select 1", 1));
  EXPECT_EQ(out.Texts(), (std::vector<std::string>{"RESULT: The operation completed SUCCESSFULLY",
                                                   "Table 'x' doesn't exist"}));
  ASSERT_EQ(out.Lines().size(), 2u);
  EXPECT_EQ(out.Lines()[1].textColour, kOrange);  // "T::"

  out.ClearLines();
  SessionSlot empty;
  EXPECT_FALSE(ExecuteStatement(out, &empty, "insert", 0));
  EXPECT_FALSE(ExecuteStatement(out, nullptr, "insert", 1));
  EXPECT_EQ(out.Texts(), (std::vector<std::string>{"No Connection!", "No Connection!"}));
  EXPECT_EQ(out.Lines()[0].textColour, kRed);
}

// Records the wait cursor, which the scripted frontend does not.
class BusyFrontend : public ScriptedFrontend {
 public:
  void SetBusy(bool busy) override { changes.push_back(busy); }
  std::vector<bool> changes;
};

TEST(RunStatementAndListOp, ListsTheFirstHundredRowsWithNulls) {
  FakeConnection c;
  std::vector<std::vector<std::optional<std::string>>> rows;
  for (int i = 1; i <= 250; ++i) {
    rows.push_back({std::to_string(i), i == 2 ? std::nullopt : std::optional<std::string>("v")});
  }
  c.world.Set("select * from t", RowsOf(2, rows));
  BusyFrontend out;
  EXPECT_TRUE(RunStatementAndList(out, c.ref(), "select * from t", 0));
  const auto texts = out.Texts();
  ASSERT_EQ(texts.size(), 200u);
  EXPECT_EQ(texts[0], "1");
  EXPECT_EQ(texts[3], "(NULL)");
  EXPECT_EQ(texts[198], "100");
  EXPECT_EQ(out.changes, (std::vector<bool>{true, false}));
}

TEST(RunStatementAndListOp, MissingSessionFailureAndNoRowset) {
  FakeConnection c;
  c.world.Set("bad", FailureOf("Unknown character set: 'xx'"));
  BusyFrontend out;
  SessionSlot empty;
  EXPECT_FALSE(RunStatementAndList(out, &empty, "set names xx", 1));
  ASSERT_EQ(out.Texts().size(), 1u);
  EXPECT_EQ(out.Texts()[0].rfind("No Connection! \r\n failed with error code:[0x", 0), 0u);
  out.ClearLines();
  EXPECT_FALSE(RunStatementAndList(out, c.ref(), "bad", 1));
  EXPECT_TRUE(RunStatementAndList(out, c.ref(), "set names utf8", 1));
  EXPECT_TRUE(RunStatementAndList(out, c.ref(), "set names utf8", 0));
  EXPECT_EQ(out.Texts(),
            (std::vector<std::string>{"Unknown character set: 'xx'",
                                      "RESULT: The operation completed SUCCESSFULLY"}));
  EXPECT_EQ(out.changes, (std::vector<bool>{true, false, true, false, true, false}));
}

TEST(SingleValueQuery, LastRowFirstColumnOrTheFailureText) {
  FakeConnection c;
  c.world.Set("select @@Version", RowsOf(2, {{"5.0", "x"}, {"10.11.19-MariaDB", "y"}}));
  c.world.Set("select nothing", RowsOf(1, {}));
  c.world.Set("bad", FailureOf("Unknown column 'q'"));
  ScriptedFrontend out;
  EXPECT_EQ(QuerySingleValue(out, c.ref(), "select @@Version"), "10.11.19-MariaDB");
  EXPECT_EQ(QuerySingleValue(out, c.ref(), "select nothing"), "");
  EXPECT_EQ(QuerySingleValue(out, c.ref(), "set x"),
            "RESULT: The operation completed SUCCESSFULLY");
  EXPECT_EQ(QuerySingleValue(out, c.ref(), "bad"), "Unknown column 'q'");
  EXPECT_TRUE(out.Texts().empty());
  EXPECT_EQ(QuerySingleValue(out, nullptr, "select 1"), "No Connection!");
  ASSERT_EQ(out.Texts().size(), 1u);
  EXPECT_EQ(out.Texts()[0].rfind("No Connection! \r\n", 0), 0u);
}

TEST(SchemaRecords, TextFieldsAreCutAt128CharactersNeverInsideOne) {
  TextRow row;
  row.Resize(9);
  for (std::size_t i = 0; i < 9; ++i)
    row.SetNull(i);
  const std::string longName = std::string(127, 'a') + "\xE4\xB8\xAD\xE6\x96\x87";  // 127 + 2 CJK
  row.SetText(2, longName);
  row.SetText(3, "VIEW");
  row.SetText(6, "42");
  TableRecord t;
  FillRecord(row, t);
  EXPECT_EQ(t.tableName, std::string(127, 'a') + "\xE4\xB8\xAD");
  EXPECT_EQ(t.tableType, "VIEW");
  EXPECT_EQ(t.tablePropId, 42u);
  EXPECT_EQ(t.tableCatalog, "");

  TextRow idx;
  idx.Resize(25);
  for (std::size_t i = 0; i < 25; ++i)
    idx.SetNull(i);
  idx.SetText(5, "k2");
  idx.SetText(6, "1");
  idx.SetText(7, "true");
  idx.SetText(16, "2");
  idx.SetText(17, "y");
  idx.SetText(21, "18446744073709551615");
  idx.SetText(22, "not a number");
  IndexRecord i;
  FillRecord(idx, i);
  EXPECT_TRUE(i.primaryKey);
  EXPECT_TRUE(i.unique);
  EXPECT_FALSE(i.clustered);
  EXPECT_EQ(i.ordinalPosition, 2u);
  EXPECT_EQ(i.columnName, "y");
  EXPECT_EQ(i.cardinality, 18446744073709551615ull);
  EXPECT_EQ(i.pages, 0);
}

TEST(SchemaReaderTest, OpensReadsAndReportsFailures) {
  FakeConnection c;
  FakeResult tables;
  tables.kind = FakeResult::Rows;
  tables.columns = SchemaColumnInfo(Schema::Tables);
  tables.columns.resize(4);  // a provider with only the first four columns
  tables.rows = {{"db", std::nullopt, std::string(200, 't'), "TABLE"}};
  c.world.schemas[Schema::Tables] = tables;
  c.world.schemas[Schema::Catalogs] = FailureOf("catalogs are not supported", hr::E_INVALIDARG);

  TablesReader r;
  ASSERT_EQ(r.Open(c.ref(), Restrictions().Set(restriction::kTableType, "TABLE")), hr::S_OK);
  ASSERT_EQ(r.MoveNext(), hr::S_OK);
  EXPECT_EQ(r.record().tableName, std::string(128, 't'));
  EXPECT_EQ(r.record().tableType, "TABLE");
  EXPECT_EQ(r.record().description, "");
  EXPECT_EQ(r.MoveNext(), hr::DB_S_ENDOFROWSET);

  CatalogsReader k;
  EXPECT_EQ(k.Open(c.ref()), hr::E_INVALIDARG);
  EXPECT_EQ(k.ErrorText(), "catalogs are not supported");
  SessionSlot empty;
  EXPECT_EQ(k.Open(&empty), hr::E_NOINTERFACE);
  EXPECT_NE(k.MoveNext(), hr::S_OK);
}

}  // namespace
}  // namespace migrator::oledb
