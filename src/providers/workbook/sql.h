#pragma once
// The SQL the workbook provider understands, and its parser.
//
//   CREATE TABLE name (column type [(n[, m])] [NOT NULL | NULL], ...)
//   INSERT INTO name [(column, ...)] VALUES (value, ...)
//   SELECT * FROM name
//   DROP TABLE name
//
// Keywords in any case. Names are plain (letters, digits, "_", "$" and any
// non-ASCII character, not a bare number), `back-quoted` (`` for a
// back-quote) or [bracketed]. Values are 'text' or "text" (a doubled quote
// stands for one), numbers with an optional sign, NULL, TRUE and FALSE, and
// TEXT 'text': a text that stays text whatever the column's type (a number
// too long for a number cell, a date no date cell can show). One statement
// per text; a final ";" and white space around are allowed.
//
// The parser is a tokenizer with a recursive-descent reader over it. It runs
// in time linear in the text, never recurses deeper than the grammar's fixed
// nesting, and refuses texts longer than kMaxStatementBytes. Failures name
// what was not understood and where.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "platform/result.h"

namespace migrator::providers::workbook {

// The longest statement text taken (bytes). A row of 256 columns of
// 32,767-character values fits comfortably.
inline constexpr std::size_t kMaxStatementBytes = 64u << 20;
// The most columns a table or a row can have (the columns of a sheet).
inline constexpr std::size_t kMaxStatementColumns = 256;

// What a column declared by CREATE TABLE holds.
enum class ColumnType {
  Text,     // TEXT, CHAR, VARCHAR, MEMO, LONGTEXT, ...
  Number,   // NUMERIC, DOUBLE, INTEGER, LONG, CURRENCY, ...
  Date,     // DATETIME, DATE, TIMESTAMP
  Time,     // TIME: times of day
  Boolean,  // BIT, YESNO, LOGICAL, BOOLEAN
};

struct ColumnDef {
  std::string name;
  ColumnType type = ColumnType::Text;
};

struct Literal {
  enum class Kind { Null, Text, Number, Boolean, FixedText };
  Kind kind = Kind::Null;
  // Text and FixedText (TEXT 'x'): the value; Number: the literal as
  // written, sign included
  std::string text;
  double number = 0;
  bool boolean = false;
};

struct Statement {
  enum class Kind { CreateTable, Insert, Select, DropTable };
  Kind kind = Kind::Select;
  std::string table;                       // the name as written, quotes removed
  std::vector<ColumnDef> columns;          // CreateTable
  bool hasColumnList = false;              // Insert: a (column, ...) list was given
  std::vector<std::string> insertColumns;  // Insert: that list
  std::vector<Literal> values;             // Insert

  // Empties the statement, keeping its buffers for the next parse.
  void Reset();
};

// Parses one statement into `out` (reset first). On failure the message
// says what was not understood, e.g.
//   Syntax error at position 8: expected TABLE after CREATE, found "tabel".
Status ParseStatement(std::string_view text, Statement& out);

// The keyword of a statement kind, for messages: "CREATE TABLE", "INSERT INTO", ...
const char* StatementName(Statement::Kind kind);

}  // namespace migrator::providers::workbook
