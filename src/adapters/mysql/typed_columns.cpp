#include "adapters/mysql/typed_columns.h"

#include <charconv>

#include "oledb/text.h"
#include "oledb/types.h"
#include "platform/text.h"
#include "providers/workbook/tables.h"

namespace migrator {
namespace {

constexpr std::uint64_t kExactIntegers = std::uint64_t{1}
                                         << 53;  // a double holds every one up to it
constexpr int kExactDigits = 15;  // a double gives back every decimal of up to 15 digits

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

void AppendAsText(std::string& out, std::string_view value) {
  out += "TEXT ";
  oledb::AppendQuotedLiteral(out, value);
}

// "-12", "0.5", "1.5e+38": a number as the source writes one, which the
// workbook's SQL reads as a number. Counts the significant digits (from the
// first digit that is not 0 to the last one, over the point).
bool PlainNumber(std::string_view v, int& significant) {
  std::size_t i = 0;
  if (i < v.size() && (v[i] == '-' || v[i] == '+')) ++i;
  std::size_t digits = 0, first = std::string_view::npos, last = 0, position = 0;
  bool point = false;
  for (; i < v.size(); ++i) {
    if (IsDigit(v[i])) {
      ++digits;
      if (v[i] != '0') {
        if (first == std::string_view::npos) first = position;
        last = position;
      }
      ++position;
    } else if (v[i] == '.' && !point) {
      point = true;
    } else {
      break;
    }
  }
  if (digits == 0) return false;
  significant = first == std::string_view::npos ? 0 : static_cast<int>(last - first + 1);
  if (i < v.size() && (v[i] == 'e' || v[i] == 'E')) {
    ++i;
    if (i < v.size() && (v[i] == '+' || v[i] == '-')) ++i;
    std::size_t exponent = 0;
    while (i < v.size() && IsDigit(v[i]))
      ++i, ++exponent;
    if (exponent == 0) return false;
  }
  return i == v.size();
}

// A whole number whose magnitude a double holds exactly.
bool ExactInteger(std::string_view v) {
  std::size_t i = v.starts_with('-') ? 1 : 0;
  if (i == v.size()) return false;
  for (std::size_t k = i; k < v.size(); ++k)
    if (!IsDigit(v[k])) return false;
  std::uint64_t magnitude = 0;
  const auto r = std::from_chars(v.data() + i, v.data() + v.size(), magnitude);
  return r.ec == std::errc() && magnitude <= kExactIntegers;
}

}  // namespace

TypedColumn TypedColumnOf(std::string name, std::uint16_t dbType, std::uint16_t precision,
                          std::int16_t scale, std::string_view sourceType) {
  const std::string source = ToLowerAscii(sourceType);
  TypedColumn c{std::move(name), CellForm::Text, "text"};
  switch (dbType) {
    case oledb::DBTYPE_I1:
    case oledb::DBTYPE_UI1:
      if (source.starts_with("tinyint(1)")) {
        c.form = CellForm::Boolean;
        c.declared = "bit";
        break;
      }
      [[fallthrough]];
    case oledb::DBTYPE_I2:
    case oledb::DBTYPE_UI2:
    case oledb::DBTYPE_I4:
    case oledb::DBTYPE_UI4:
      c.form = CellForm::Integer;
      c.declared = "integer";
      break;
    case oledb::DBTYPE_I8:
    case oledb::DBTYPE_UI8:
      c.form = CellForm::Integer;
      c.declared = "bigint";
      break;
    case oledb::DBTYPE_NUMERIC:
    case oledb::DBTYPE_DECIMAL:
      c.form = CellForm::Decimal;
      c.declared = precision > 0 ? "decimal(" + std::to_string(precision) + "," +
                                       std::to_string(scale > 0 ? scale : 0) + ")"
                                 : "decimal";
      break;
    case oledb::DBTYPE_R4:
    case oledb::DBTYPE_R8:
    case oledb::DBTYPE_CY:
      c.form = CellForm::Float;
      c.declared = "double";
      break;
    case oledb::DBTYPE_DBDATE:
      c.form = CellForm::Date;
      c.declared = "date";
      break;
    case oledb::DBTYPE_DATE:
    case oledb::DBTYPE_DBTIMESTAMP:
      c.form = CellForm::Date;
      c.declared = "datetime";
      break;
    case oledb::DBTYPE_DBTIME:
      c.form = CellForm::Time;
      c.declared = "time";
      break;
    case oledb::DBTYPE_BOOL:
      c.form = CellForm::Bit;
      c.declared = "bit";
      break;
    case oledb::DBTYPE_BYTES:
      if (source.starts_with("bit(")) {
        c.form = CellForm::Bits;
        c.declared = "bigint";
      }
      break;
    default:
      break;
  }
  return c;
}

std::string TypedCreateTable(std::string_view table, const std::vector<TypedColumn>& columns) {
  std::string ddl = "create table " + oledb::QuoteIdentifier(ToLowerAscii(table)) + " (";
  for (std::size_t i = 0; i < columns.size(); ++i) {
    ddl += i == 0 ? "\n" : ",\n";
    ddl += oledb::QuoteIdentifier(ToLowerAscii(columns[i].name)) + " " + columns[i].declared;
  }
  return ddl + "\n)";
}

bool AppendTypedValue(std::string& out, CellForm form, std::string_view value) {
  int significant = 0;
  switch (form) {
    case CellForm::Text:
      oledb::AppendQuotedLiteral(out, value);
      return true;
    case CellForm::Integer:
      if (!ExactInteger(value)) break;
      out += value;
      return true;
    case CellForm::Decimal:
    case CellForm::Float:
      if (!PlainNumber(value, significant)) break;
      if (form == CellForm::Decimal && significant > kExactDigits) break;
      out += value;
      return true;
    case CellForm::Date:
      // A date no cell shows (a zero date, a day before 1900) is no date at
      // all in the workbook: it stays the text it is. (Day 0 of the cells'
      // count shows as 1900-01-00.)
      if (const auto serial = providers::workbook::DateSerial(value, false); !serial || *serial < 1)
        break;
      oledb::AppendQuotedLiteral(out, value);
      return true;
    case CellForm::Time:
      if (!providers::workbook::TimeOfDaySerial(value)) break;
      oledb::AppendQuotedLiteral(out, value);
      return true;
    case CellForm::Bit:
    case CellForm::Boolean:
      if (value != "0" && value != "1") break;
      out += value == "1" ? "TRUE" : "FALSE";
      return true;
    case CellForm::Bits: {
      // Hexadecimal digits of the bits, the first byte first.
      std::uint64_t bits = 0;
      const auto r = std::from_chars(value.data(), value.data() + value.size(), bits, 16);
      if (value.empty() || r.ec != std::errc() || r.ptr != value.data() + value.size()) break;
      if (bits > kExactIntegers) {
        AppendAsText(out, std::to_string(bits));
        return false;
      }
      out += std::to_string(bits);
      return true;
    }
  }
  AppendAsText(out, value);
  return false;
}

const char* AsTextReason(CellForm form) {
  switch (form) {
    case CellForm::Integer:
    case CellForm::Bits:
      return "numbers beyond 2^53, which a number cell would round";
    case CellForm::Decimal:
      return "numbers of more than 15 significant digits, which a number cell would round";
    case CellForm::Float:
      return "values that are no plain number";
    case CellForm::Date:
      return "dates no date cell shows (zero dates, days before 1900)";
    case CellForm::Time:
      return "times of 24 hours or more, or below zero, which are no time of day";
    case CellForm::Bit:
    case CellForm::Boolean:
      return "values other than 0 and 1, which are no truth value";
    case CellForm::Text:
      break;
  }
  return "values";
}

}  // namespace migrator
