#pragma once
// Typed cells: how the columns of a source table are declared in a workbook,
// and how their values are written into it, so that numbers arrive as
// numbers, dates and times as dates and times, and truth values as booleans.
// A value that a cell of its column's type would change is written as a text
// instead (TEXT '...'): a whole number beyond 2^53 or a decimal of more than
// 15 significant digits (a double would round it), a zero date or a day
// before 1900 (no date cell shows it), a time of 24 hours or more or below
// zero, a BOOLEAN that is neither 0 nor 1. NULL stays NULL (no cell).

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace migrator {

// What a column's values become in the workbook.
enum class CellForm {
  Text,     // texts, ENUM, SET, JSON, and binary values (as hexadecimal text)
  Integer,  // TINYINT to BIGINT, YEAR
  Decimal,  // DECIMAL, NUMERIC
  Float,    // FLOAT, DOUBLE
  Date,     // DATE, DATETIME, TIMESTAMP
  Time,     // TIME
  Bit,      // BIT(1): "0" or "1"
  Boolean,  // BOOLEAN (TINYINT(1)): 0 or 1
  Bits,     // BIT(n) for n > 1, read as hexadecimal text
};

struct TypedColumn {
  std::string name;  // as the source names it
  CellForm form = CellForm::Text;
  std::string declared;  // its type in the workbook's CREATE TABLE
};

// A column's form by its OLE DB type (DATA_TYPE of the columns schema
// rowset), refined by the source's own type text when it is known
// (COLUMN_TYPE: "tinyint(1)" is a BOOLEAN, "bit(10)" a BIT rather than a
// BINARY of the same size), and the type it is declared with.
TypedColumn TypedColumnOf(std::string name, std::uint16_t dbType, std::uint16_t precision,
                          std::int16_t scale, std::string_view sourceType);

// CREATE TABLE `table` (`column` type, ...), names in lower case as the
// rewritten definition has them.
std::string TypedCreateTable(std::string_view table, const std::vector<TypedColumn>& columns);

// Appends a (not NULL) value as the INSERT literal of its form; false when
// it was written as a text because a cell of its column's type would change
// it.
bool AppendTypedValue(std::string& out, CellForm form, std::string_view value);

// Why values of a form go as text, for the line that counts them.
const char* AsTextReason(CellForm form);

}  // namespace migrator
