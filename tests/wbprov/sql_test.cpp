// The workbook provider's SQL parser: the forms it takes and the ones it
// refuses, with messages that say what was not understood.

#include <gtest/gtest.h>

#include <string>

#include "providers/workbook/sql.h"

namespace migrator::providers::workbook {
namespace {

Statement Parsed(const std::string& text) {
  Statement s;
  auto st = ParseStatement(text, s);
  EXPECT_TRUE(st.ok()) << text << "\n" << st.message();
  return s;
}

std::string Refusal(const std::string& text) {
  Statement s;
  auto st = ParseStatement(text, s);
  EXPECT_FALSE(st.ok()) << text;
  return st.ok() ? std::string() : st.message();
}

TEST(WorkbookSql, CreateTableAsTheDdlRewritingWritesIt) {
  Statement s = Parsed("create table `t` (\n`id` text,\n`name` text\n)");
  EXPECT_EQ(s.kind, Statement::Kind::CreateTable);
  EXPECT_EQ(s.table, "t");
  ASSERT_EQ(s.columns.size(), 2u);
  EXPECT_EQ(s.columns[0].name, "id");
  EXPECT_EQ(s.columns[1].name, "name");
  EXPECT_EQ(s.columns[1].type, ColumnType::Text);
}

TEST(WorkbookSql, CreateTableNamesTypesSizesAndNullability) {
  Statement s = Parsed(
      "CREATE TABLE [order details] ([unit price] CURRENCY NOT NULL, `a``b` VARCHAR(50) NULL, "
      "qty Numeric(10, 2), d DateTime, ok YesNo, n LONG);");
  EXPECT_EQ(s.table, "order details");
  ASSERT_EQ(s.columns.size(), 6u);
  EXPECT_EQ(s.columns[0].name, "unit price");
  EXPECT_EQ(s.columns[0].type, ColumnType::Number);
  EXPECT_EQ(s.columns[1].name, "a`b");
  EXPECT_EQ(s.columns[1].type, ColumnType::Text);
  EXPECT_EQ(s.columns[2].type, ColumnType::Number);
  EXPECT_EQ(s.columns[3].type, ColumnType::Date);
  EXPECT_EQ(s.columns[4].type, ColumnType::Boolean);
  EXPECT_EQ(s.columns[5].type, ColumnType::Number);
}

TEST(WorkbookSql, InsertValuesAsTheTransferSendsThem) {
  Statement s = Parsed("insert into t values ('1','it''s','',\"say \"\"hi\"\"\");\n");
  EXPECT_EQ(s.kind, Statement::Kind::Insert);
  EXPECT_FALSE(s.hasColumnList);
  ASSERT_EQ(s.values.size(), 4u);
  EXPECT_EQ(s.values[0].kind, Literal::Kind::Text);
  EXPECT_EQ(s.values[0].text, "1");
  EXPECT_EQ(s.values[1].text, "it's");
  EXPECT_EQ(s.values[2].text, "");
  EXPECT_EQ(s.values[3].text, "say \"hi\"");
}

TEST(WorkbookSql, InsertNumbersNullBooleansAndAColumnList) {
  Statement s = Parsed("INSERT INTO [Sheet1$] (a, [b c], `d`) VALUES (-1.5e3, NULL, true)");
  EXPECT_EQ(s.table, "Sheet1$");
  ASSERT_TRUE(s.hasColumnList);
  ASSERT_EQ(s.insertColumns.size(), 3u);
  EXPECT_EQ(s.insertColumns[1], "b c");
  ASSERT_EQ(s.values.size(), 3u);
  EXPECT_EQ(s.values[0].kind, Literal::Kind::Number);
  EXPECT_DOUBLE_EQ(s.values[0].number, -1500);
  EXPECT_EQ(s.values[0].text, "-1.5e3");  // as written, for text columns
  EXPECT_EQ(s.values[1].kind, Literal::Kind::Null);
  EXPECT_EQ(s.values[2].kind, Literal::Kind::Boolean);
  EXPECT_TRUE(s.values[2].boolean);

  Statement n = Parsed("insert into t values (+7, .5, 42)");
  EXPECT_EQ(n.values[0].text, "+7");
  EXPECT_DOUBLE_EQ(n.values[1].number, 0.5);
}

TEST(WorkbookSql, SelectAndDropAndNamesThatStartWithDigitsOrHoldDollars) {
  Statement s = Parsed("  select * from 2019_sales  ");
  EXPECT_EQ(s.kind, Statement::Kind::Select);
  EXPECT_EQ(s.table, "2019_sales");
  EXPECT_EQ(Parsed("SELECT * FROM Sheet1$").table, "Sheet1$");
  EXPECT_EQ(Parsed("select * from ['My sheet$']").table, "'My sheet$'");
  Statement d = Parsed("DROP TABLE `t`;");
  EXPECT_EQ(d.kind, Statement::Kind::DropTable);
  EXPECT_EQ(d.table, "t");
  EXPECT_EQ(Parsed("create table Ünïcode (名前 text)").columns[0].name, "名前");
}

TEST(WorkbookSql, ParsingAgainReusesTheStatement) {
  Statement s;
  ASSERT_TRUE(ParseStatement("insert into t (a) values ('x')", s).ok());
  ASSERT_TRUE(ParseStatement("select * from u", s).ok());
  EXPECT_EQ(s.table, "u");
  EXPECT_FALSE(s.hasColumnList);
  EXPECT_TRUE(s.insertColumns.empty());
  EXPECT_TRUE(s.values.empty());
}

TEST(WorkbookSql, RefusedStatementsNameWhatWasNotUnderstood) {
  // The server-version query is not special.
  EXPECT_EQ(Refusal("select @@Version"),
            "Syntax error at position 8: expected * after SELECT (only SELECT * FROM a table is "
            "understood), found \"@@Version\".");
  EXPECT_EQ(Refusal("update t set a = 1"),
            "Syntax error at position 1: expected CREATE TABLE, INSERT INTO, SELECT or DROP "
            "TABLE, found \"update\".");
  EXPECT_EQ(Refusal(""),
            "Syntax error at position 1: expected CREATE TABLE, INSERT INTO, SELECT or DROP "
            "TABLE, found the end of the statement.");
  EXPECT_EQ(Refusal("create tabel t (a text)"),
            "Syntax error at position 8: expected TABLE after CREATE, found \"tabel\".");
  EXPECT_EQ(Refusal("select * from t where a = 1"),
            "Syntax error at position 17: WHERE is not understood; only SELECT * FROM a table "
            "is.");
  EXPECT_EQ(Refusal("select * from t; select * from u"),
            "Syntax error at position 18: expected the end of the statement, found \"select\".");
  EXPECT_EQ(Refusal("insert into t values ('a' 'b')"),
            "Syntax error at position 27: expected , or ) after a value, found \"'b'\".");
  EXPECT_EQ(Refusal("insert into t values (abc)"),
            "Syntax error at position 23: expected a value ('text', a number, NULL, TRUE or "
            "FALSE), found \"abc\".");
  EXPECT_EQ(Refusal("insert into t values (-'1')"),
            "Syntax error at position 24: expected a number after the sign, found \"'1'\".");
  EXPECT_EQ(Refusal("insert into t values ('open"),
            "Syntax error at position 23: the text that starts with ' is not closed.");
  EXPECT_EQ(Refusal("select * from [open"),
            "Syntax error at position 15: the name that starts with [ is not closed.");
  EXPECT_EQ(Refusal("select * from []"), "Syntax error at position 15: a name cannot be empty.");
  EXPECT_EQ(Refusal("select * from 12"),
            "Syntax error at position 15: expected a table name, found \"12\".");
  EXPECT_EQ(Refusal("insert into t values (1.5x)"),
            "Syntax error at position 23: expected a value ('text', a number, NULL, TRUE or "
            "FALSE), found \"1.5x\".");
  EXPECT_EQ(Refusal("insert into t values (1e999)"),
            "Syntax error at position 23: the number 1e999 is out of range.");
}

TEST(WorkbookSql, RefusedColumnDefinitions) {
  EXPECT_EQ(Refusal("create table t (a blob)"),
            "Syntax error at position 19: \"blob\" is not a column type a workbook can hold "
            "(column \"a\").");
  EXPECT_EQ(Refusal("create table t (a)"),
            "Syntax error at position 18: expected a column type for \"a\", found \")\".");
  EXPECT_EQ(Refusal("create table t (a text, A text)"),
            "Syntax error at position 25: the column \"A\" is declared twice.");
  EXPECT_EQ(Refusal("create table t ()"),
            "Syntax error at position 17: expected a column name, found \")\".");
  EXPECT_EQ(Refusal("create table t (a text primary key)"),
            "Syntax error at position 24: expected , or ) after the column \"a\", found "
            "\"primary\".");
  EXPECT_EQ(Refusal("create table t (a varchar(x))"),
            "Syntax error at position 27: expected a size, found \"x\".");
  EXPECT_EQ(Refusal("insert into t (a, a) values (1, 2)"),
            "Syntax error at position 19: the column \"a\" is named twice.");
}

TEST(WorkbookSql, LimitsOnColumnsValuesLengthAndEncoding) {
  std::string cols;
  for (int i = 0; i < 257; ++i)
    cols += (i ? ", c" : "c") + std::to_string(i) + " text";
  EXPECT_NE(Refusal("create table t (" + cols + ")").find("at most 256 columns"),
            std::string::npos);
  std::string values;
  for (int i = 0; i < 257; ++i)
    values += i ? ",1" : "1";
  EXPECT_NE(Refusal("insert into t values (" + values + ")").find("at most 256 values"),
            std::string::npos);

  EXPECT_EQ(Refusal("select * from t\xff"), "The statement is not valid UTF-8 text (at byte 16).");
  EXPECT_EQ(Refusal(std::string("select * from \xed\xa0\x80")),  // a lone surrogate
            "The statement is not valid UTF-8 text (at byte 15).");
  std::string huge(kMaxStatementBytes + 1, ' ');
  EXPECT_NE(Refusal(huge).find("too long"), std::string::npos);

  // A long token is shown cut, never inside a character.
  const std::string msg = Refusal("drop table t " + std::string(39, 'x') + "é and more");
  EXPECT_NE(msg.find("found \"" + std::string(39, 'x') + "...\""), std::string::npos) << msg;
}

TEST(WorkbookSql, LongValuesParseInLinearTime) {
  // Many doubled quotes in one long text: each is looked at once.
  std::string text(4u << 20, '\'');
  const std::string statement = "insert into t values ('" + text + "')";
  Statement s = Parsed(statement);
  ASSERT_EQ(s.values.size(), 1u);
  EXPECT_EQ(s.values[0].text.size(), text.size() / 2);
}

}  // namespace
}  // namespace migrator::providers::workbook
