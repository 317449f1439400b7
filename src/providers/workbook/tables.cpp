#include "providers/workbook/tables.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>

#include "oledb/text.h"
#include "platform/text.h"

namespace migrator::providers::workbook {
namespace {

using oledb::EqualsNoCase;

std::string LowerAscii(std::string_view s) {
  std::string out(s);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

bool IsAsciiLetter(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool IsAsciiDigit(unsigned char c) {
  return c >= '0' && c <= '9';
}

// A name that a spreadsheet would read as a cell reference: A1, IV65536, R,
// C, R1C1, RC.
bool LooksLikeCellReference(std::string_view n) {
  if (n.empty()) return false;
  std::size_t i = 0;
  while (i < n.size() && i < 3 && IsAsciiLetter(static_cast<unsigned char>(n[i])))
    ++i;
  std::size_t digits = i;
  while (digits < n.size() && IsAsciiDigit(static_cast<unsigned char>(n[digits])))
    ++digits;
  if (i > 0 && digits > i && digits == n.size()) return true;
  auto skipDigits = [&](std::size_t p) {
    while (p < n.size() && IsAsciiDigit(static_cast<unsigned char>(n[p])))
      ++p;
    return p;
  };
  const char first = static_cast<char>(n[0] | 0x20);
  if (first == 'r') {
    const std::size_t p = skipDigits(1);
    if (p == n.size()) return true;
    if ((n[p] | 0x20) == 'c' && skipDigits(p + 1) == n.size()) return true;
  }
  return first == 'c' && skipDigits(1) == n.size();
}

bool Overlap(const xls::Range& a, const xls::Range& b) {
  return a.firstRow <= b.lastRow && b.firstRow <= a.lastRow && a.firstCol <= b.lastCol &&
         b.firstCol <= a.lastCol;
}

// A name in the form that names a sheet: S$, or 'S$' as the tables rowset
// quotes it.
bool IsSheetForm(std::string_view n) {
  if (!n.empty() && n.back() == '$') return true;
  return n.size() >= 3 && n.front() == '\'' && n.back() == '\'' && n[n.size() - 2] == '$';
}

// Orders listed table names: ASCII letters without regard to case, then bytes.
bool ListedBefore(const std::string& a, const std::string& b) {
  const std::string la = LowerAscii(a);
  const std::string lb = LowerAscii(b);
  if (la != lb) return la < lb;
  return a < b;
}

// The header cell's text; "F<n>" for an empty one (n counts from 1).
std::string HeaderText(const WorkbookTables& tables, std::size_t sheet, std::uint32_t row,
                       std::uint32_t col, std::uint32_t position) {
  std::string text;
  if (!tables.CellText(sheet, row, col, text) || text.empty())
    return "F" + std::to_string(position + 1);
  return text;
}

// A number format that shows a time and no date: no year or day outside
// quotes, escapes and brackets, and an hour or second.
bool IsTimeOnlyCode(std::string_view code) {
  bool time = false;
  for (std::size_t i = 0; i < code.size(); ++i) {
    const char c = code[i];
    if (c == '"') {
      const auto close = code.find('"', i + 1);
      if (close == std::string_view::npos) break;
      i = close;
    } else if (c == '\\' || c == '_' || c == '*') {
      ++i;
    } else if (c == '[') {
      const auto close = code.find(']', i + 1);
      if (close == std::string_view::npos) break;
      const char first = i + 1 < close ? static_cast<char>(code[i + 1] | 0x20) : 0;
      if (first == 'h' || first == 's') time = true;
      i = close;
    } else {
      const char l = static_cast<char>(c | 0x20);
      if (l == 'y' || l == 'd' || l == 'e') return false;
      if (l == 'h' || l == 's') time = true;
    }
  }
  return time;
}

// A number cell shown as a time of day (its format has no date; the serial
// has no whole days).
bool IsTimeOfDay(const xls::Workbook& book, const xls::Cell& cell) {
  return cell.value.number >= 0 && cell.value.number < 1 &&
         IsTimeOnlyCode(book.NumberFormatCode(book.format(cell.xf).numberFormat));
}

DataKind KindOfCell(const xls::Workbook& book, const xls::Cell& cell, bool& hasValue) {
  hasValue = true;
  switch (cell.value.kind) {
    case xls::Value::Kind::kNumber:
      if (!book.IsDateFormat(cell.xf)) return DataKind::Number;
      return IsTimeOfDay(book, cell) ? DataKind::Time : DataKind::Date;
    case xls::Value::Kind::kBoolean:
      return DataKind::Boolean;
    case xls::Value::Kind::kText:
      return DataKind::Text;
    case xls::Value::Kind::kEmpty:
    case xls::Value::Kind::kError:
      break;
  }
  hasValue = false;
  return DataKind::Text;
}

ColumnType StoredType(DataKind kind) {
  switch (kind) {
    case DataKind::Number:
      return ColumnType::Number;
    case DataKind::Date:
      return ColumnType::Date;
    case DataKind::Time:
      return ColumnType::Time;
    case DataKind::Boolean:
      return ColumnType::Boolean;
    case DataKind::Text:
      break;
  }
  return ColumnType::Text;
}

const char* TypeWord(ColumnType type) {
  switch (type) {
    case ColumnType::Number:
      return "numbers";
    case ColumnType::Date:
      return "dates";
    case ColumnType::Time:
      return "times of day";
    case ColumnType::Boolean:
      return "TRUE or FALSE";
    case ColumnType::Text:
      break;
  }
  return "text";
}

// The number formats of header cells that declare their columns' types, and
// those of the cells of date columns.
constexpr std::string_view kTextMarker = "@";
constexpr std::string_view kNumberMarker = "0.###############";
constexpr std::string_view kDateMarker = "yyyy-mm-dd hh:mm:ss";
constexpr std::string_view kBooleanMarker = "\"TRUE\";\"TRUE\";\"FALSE\"";
constexpr std::string_view kTimeMarker = "hh:mm:ss";
constexpr std::string_view kDateFormat = "yyyy-mm-dd";
constexpr std::string_view kDateTimeFormat = "yyyy-mm-dd hh:mm:ss";
constexpr std::string_view kTimeFormat = "hh:mm:ss";

std::string_view MarkerOf(ColumnType type) {
  switch (type) {
    case ColumnType::Number:
      return kNumberMarker;
    case ColumnType::Date:
      return kDateMarker;
    case ColumnType::Time:
      return kTimeMarker;
    case ColumnType::Boolean:
      return kBooleanMarker;
    case ColumnType::Text:
      break;
  }
  return kTextMarker;
}

// The type a header cell's format declares, if any.
std::optional<DataKind> DeclaredKind(const xls::Workbook& book, const xls::Cell& header) {
  if (!header.exists) return std::nullopt;
  const std::string code = book.NumberFormatCode(book.format(header.xf).numberFormat);
  if (code == kTextMarker) return DataKind::Text;
  if (code == kNumberMarker) return DataKind::Number;
  if (code == kDateMarker) return DataKind::Date;
  if (code == kBooleanMarker) return DataKind::Boolean;
  if (code == kTimeMarker) return DataKind::Time;
  return std::nullopt;
}

bool ParseNumberText(std::string_view text, double& out) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
    text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
    text.remove_suffix(1);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty()) return false;
  const char* first = text.data();
  const char* last = first + text.size();
  const auto r = std::from_chars(first, last, out);
  return r.ec == std::errc() && r.ptr == last && std::isfinite(out);
}

bool ParseBooleanText(std::string_view text, bool& out) {
  if (EqualsNoCase(text, "true") || EqualsNoCase(text, "yes") || text == "1" || text == "-1") {
    out = true;
    return true;
  }
  if (EqualsNoCase(text, "false") || EqualsNoCase(text, "no") || text == "0") {
    out = false;
    return true;
  }
  return false;
}

// 65536 as "65,536".
std::string Grouped(std::uint64_t n) {
  std::string s = std::to_string(n);
  for (std::size_t i = s.size(); i > 3; i -= 3)
    s.insert(i - 3, 1, ',');
  return s;
}

std::string Quoted(std::string_view s) {
  constexpr std::size_t kShown = 60;
  std::string_view cut = CutUtf16(s, kShown);
  return "'" + std::string(cut) + (cut.size() < s.size() ? "...'" : "'");
}

Status Mismatch(ColumnType type, const std::string& column, std::string_view shown) {
  return Fail("Data type mismatch: the column \"" + column + "\" holds " + TypeWord(type) +
                  ", and " + std::string(shown) + " is not one.",
              hr::DB_E_CANTCONVERTVALUE);
}

// A number that a date column can hold: a serial number of a day from
// 1900-01-01 (1904-01-01) to 9999-12-31.
bool IsDateSerial(double d) {
  return std::isfinite(d) && d >= 0 && d < 2958466;
}

// The value a literal stores in a column of the given type, or a mismatch.
Status ToCellInput(const Literal& v, ColumnType type, const std::string& column, bool date1904,
                   CellInput& out) {
  out = CellInput{};
  auto text = [&](std::string_view t) {
    out.kind = CellInput::Kind::Text;
    out.text = t;
  };
  auto number = [&](double d) {
    out.kind = CellInput::Kind::Number;
    out.number = d;
  };
  auto boolean = [&](bool b) {
    out.kind = CellInput::Kind::Boolean;
    out.boolean = b;
  };
  auto date = [&](double serial) {
    out.kind = CellInput::Kind::Date;
    out.number = serial;
  };
  // A time column takes a time of day, or a date and time as a date.
  auto time = [&](double serial) {
    out.kind = serial < 1 ? CellInput::Kind::Time : CellInput::Kind::Date;
    out.number = serial;
  };
  switch (v.kind) {
    case Literal::Kind::Null:
      return {};
    case Literal::Kind::FixedText:
      text(v.text);
      return {};
    case Literal::Kind::Text:
      switch (type) {
        case ColumnType::Text:
          text(v.text);
          return {};
        case ColumnType::Time: {
          if (v.text.empty()) return {};
          double d = 0;
          if (auto serial = TimeOfDaySerial(v.text)) {
            time(*serial);
            return {};
          }
          if (auto serial = DateSerial(v.text, date1904)) {
            time(*serial);
            return {};
          }
          if (ParseNumberText(v.text, d) && IsDateSerial(d)) {
            time(d);
            return {};
          }
          break;
        }
        case ColumnType::Date: {
          if (v.text.empty()) return {};
          double d = 0;
          if (auto serial = DateSerial(v.text, date1904)) {
            date(*serial);
            return {};
          }
          if (ParseNumberText(v.text, d) && IsDateSerial(d)) {
            date(d);
            return {};
          }
          break;
        }
        case ColumnType::Number: {
          if (v.text.empty()) return {};
          double d = 0;
          if (ParseNumberText(v.text, d)) {
            number(d);
            return {};
          }
          break;
        }
        case ColumnType::Boolean: {
          if (v.text.empty()) return {};
          bool b = false;
          if (ParseBooleanText(v.text, b)) {
            boolean(b);
            return {};
          }
          break;
        }
      }
      return Mismatch(type, column, Quoted(v.text));
    case Literal::Kind::Number:
      if (!std::isfinite(v.number))
        return Fail("The number " + v.text + " for the column \"" + column + "\" is out of range.");
      switch (type) {
        case ColumnType::Text:
          text(v.text);  // as written
          return {};
        case ColumnType::Number:
          number(v.number);
          return {};
        case ColumnType::Date:
          if (!IsDateSerial(v.number)) return Mismatch(type, column, v.text);
          date(v.number);
          return {};
        case ColumnType::Time:
          if (!IsDateSerial(v.number)) return Mismatch(type, column, v.text);
          time(v.number);
          return {};
        case ColumnType::Boolean:
          boolean(v.number != 0);
          return {};
      }
      break;
    case Literal::Kind::Boolean:
      switch (type) {
        case ColumnType::Text:
          text(v.boolean ? "TRUE" : "FALSE");
          return {};
        case ColumnType::Boolean:
          boolean(v.boolean);
          return {};
        case ColumnType::Number:
        case ColumnType::Date:
        case ColumnType::Time:
          return Mismatch(type, column, v.boolean ? "TRUE" : "FALSE");
      }
      break;
  }
  return {};
}

// Days from 1970-01-01 to a civil date, and back (proleptic Gregorian).
void CivilFromDays(long long z, long long& y, unsigned& m, unsigned& d) {
  z += 719468;
  const long long era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  y = static_cast<long long>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = doy - (153 * mp + 2) / 5 + 1;
  m = mp < 10 ? mp + 3 : mp - 9;
  if (m <= 2) ++y;
}

long long DaysFromCivil(long long y, unsigned m, unsigned d) {
  y -= m <= 2 ? 1 : 0;
  const long long era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<long long>(doe) - 719468;
}

// ".5", ".25", ".000001": a fraction of a second of `digits` digits, its
// trailing zeros dropped; nothing for 0.
void AppendFraction(std::string& out, long long fraction, int digits) {
  if (fraction == 0) return;
  char buf[16];
  std::snprintf(buf, sizeof buf, ".%0*lld", digits, fraction);
  std::string_view f(buf);
  while (f.back() == '0')
    f.remove_suffix(1);
  out += f;
}

// Reads `digits` digits at `i` (exactly that many).
bool Digits(std::string_view s, std::size_t& i, std::size_t digits, unsigned& out) {
  out = 0;
  for (std::size_t k = 0; k < digits; ++k, ++i) {
    if (i >= s.size() || !IsAsciiDigit(static_cast<unsigned char>(s[i]))) return false;
    out = out * 10 + static_cast<unsigned>(s[i] - '0');
  }
  return true;
}

// What may follow the minutes of a time: nothing, or ":ss" and then
// perhaps "." and the fraction of a second, which runs to the end.
bool SecondsTail(std::string_view s, std::size_t& i, unsigned& ss, double& fraction) {
  if (i >= s.size()) return true;
  if (s[i++] != ':' || !Digits(s, i, 2, ss)) return false;
  if (i >= s.size()) return true;
  if (s[i++] != '.' || i >= s.size()) return false;
  double scale = 0.1;
  for (; i < s.size(); ++i, scale /= 10) {
    if (!IsAsciiDigit(static_cast<unsigned char>(s[i]))) return false;
    fraction += (s[i] - '0') * scale;
  }
  return true;
}

}  // namespace

// ---------------------------------------------------------------------------
// Kinds

oledb::DBTYPE DbTypeOf(DataKind kind) {
  switch (kind) {
    case DataKind::Number:
      return oledb::DBTYPE_R8;
    case DataKind::Date:
      return oledb::DBTYPE_DATE;
    case DataKind::Time:
      return oledb::DBTYPE_DBTIME;
    case DataKind::Boolean:
      return oledb::DBTYPE_BOOL;
    case DataKind::Text:
      break;
  }
  return oledb::DBTYPE_WSTR;
}

oledb::DBCOLUMNFLAGS FlagsOf(DataKind kind) {
  switch (kind) {
    case DataKind::Number:
    case DataKind::Date:
    case DataKind::Time:
      return 90;
    case DataKind::Boolean:
      return 24;
    case DataKind::Text:
      break;
  }
  return 106;
}

std::size_t SizeOf(DataKind kind) {
  switch (kind) {
    case DataKind::Number:
    case DataKind::Date:
    case DataKind::Time:
      return 8;
    case DataKind::Boolean:
      return 2;
    case DataKind::Text:
      break;
  }
  return 255;
}

// ---------------------------------------------------------------------------
// Names

std::string ListedSheetName(std::string_view sheetName) {
  bool plain = true;
  for (unsigned char c : sheetName) {
    if (c < 0x80 && !IsAsciiLetter(c) && !IsAsciiDigit(c) && c != '_') {
      plain = false;
      break;
    }
  }
  if (plain) return std::string(sheetName) + "$";
  std::string out = "'";
  for (char c : sheetName) {
    if (c == '\'') out += '\'';
    out += c;
  }
  return out + "$'";
}

std::string SheetNameForTable(std::string_view table) {
  std::string name(CutUtf16(table, xls::kMaxSheetNameLength));
  for (char& c : name) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (u < 0x20 || c == ':' || c == '\\' || c == '/' || c == '?' || c == '*' || c == '[' ||
        c == ']')
      c = '_';
  }
  if (!name.empty() && name.front() == '\'') name.front() = '_';
  if (!name.empty() && name.back() == '\'') name.back() = '_';
  return name;
}

std::string DefinedNameForTable(std::string_view table) {
  constexpr std::size_t kMaxNameLength = 255;
  std::string name;
  name.reserve(table.size() + 1);
  for (char c : table) {
    const unsigned char u = static_cast<unsigned char>(c);
    const bool ok = u >= 0x80 || IsAsciiLetter(u) || IsAsciiDigit(u) || c == '_' || c == '.';
    name += ok ? c : '_';
  }
  const unsigned char first = name.empty() ? 0 : static_cast<unsigned char>(name.front());
  if (name.empty() || !(IsAsciiLetter(first) || first == '_' || first >= 0x80) ||
      LooksLikeCellReference(name))
    name.insert(name.begin(), '_');
  return std::string(CutUtf16(name, kMaxNameLength));
}

// ---------------------------------------------------------------------------
// Values

std::string NumberText(double value) {
  if (value == 0) return "0";  // also -0
  char buf[64];
  const auto r = std::to_chars(buf, buf + sizeof buf, value);
  return std::string(buf, r.ptr);
}

std::optional<std::string> DateText(double serial, bool date1904) {
  if (!std::isfinite(serial) || serial < 0 || serial >= 2958466) return std::nullopt;
  long long days = static_cast<long long>(std::floor(serial));
  // Milliseconds: as fine as a serial of a day in these years keeps them.
  long long millis = std::llround((serial - static_cast<double>(days)) * 86400000.0);
  if (millis >= 86400000) {
    ++days;
    millis -= 86400000;
  }
  const long long seconds = millis / 1000;
  if (days >= 2958466) return std::nullopt;
  long long y;
  unsigned m, d;
  if (date1904) {
    // Day 0 is 1904-01-01 (24107 days after 1970-01-01 counted backwards).
    CivilFromDays(days - 24107, y, m, d);
  } else if (days == 60) {
    // The day that the 1900 date system counts though it never was.
    y = 1900;
    m = 2;
    d = 29;
  } else {
    // Day 1 is 1900-01-01; from day 61 on the count is one ahead.
    const long long fromEpoch = days < 60 ? days - 25568 : days - 25569;
    CivilFromDays(fromEpoch, y, m, d);
  }
  char buf[64];
  if (millis == 0) {
    std::snprintf(buf, sizeof buf, "%04lld-%02u-%02u", y, m, d);
  } else {
    std::snprintf(buf, sizeof buf, "%04lld-%02u-%02u %02lld:%02lld:%02lld", y, m, d, seconds / 3600,
                  seconds / 60 % 60, seconds % 60);
  }
  std::string text(buf);
  AppendFraction(text, millis % 1000, 3);
  return text;
}

std::optional<double> TimeOfDaySerial(std::string_view s) {
  while (!s.empty() && s.front() == ' ')
    s.remove_prefix(1);
  while (!s.empty() && s.back() == ' ')
    s.remove_suffix(1);
  std::size_t i = 0;
  unsigned hh = 0, mm = 0, ss = 0;
  // One or two digits of hours.
  if (!Digits(s, i, 1, hh)) return std::nullopt;
  if (i < s.size() && IsAsciiDigit(static_cast<unsigned char>(s[i])))
    hh = hh * 10 + static_cast<unsigned>(s[i++] - '0');
  if (i >= s.size() || s[i++] != ':' || !Digits(s, i, 2, mm)) return std::nullopt;
  double fraction = 0;
  if (!SecondsTail(s, i, ss, fraction)) return std::nullopt;
  if (hh > 23 || mm > 59 || ss > 59) return std::nullopt;
  return ((hh * 60.0 + mm) * 60.0 + ss + fraction) / 86400.0;
}

std::optional<double> DateSerial(std::string_view s, bool date1904) {
  while (!s.empty() && s.front() == ' ')
    s.remove_prefix(1);
  while (!s.empty() && s.back() == ' ')
    s.remove_suffix(1);
  std::size_t i = 0;
  unsigned y = 0, m = 0, d = 0, hh = 0, mm = 0, ss = 0;
  if (!Digits(s, i, 4, y) || i >= s.size() || (s[i] != '-' && s[i] != '/')) return std::nullopt;
  const char sep = s[i++];
  if (!Digits(s, i, 2, m) || i >= s.size() || s[i++] != sep || !Digits(s, i, 2, d))
    return std::nullopt;
  double fraction = 0;
  if (i < s.size()) {
    if (s[i] != ' ' && s[i] != 'T') return std::nullopt;
    ++i;
    if (!Digits(s, i, 2, hh) || i >= s.size() || s[i++] != ':' || !Digits(s, i, 2, mm))
      return std::nullopt;
    if (!SecondsTail(s, i, ss, fraction)) return std::nullopt;
    if (hh > 23 || mm > 59 || ss > 59) return std::nullopt;
  }
  static constexpr unsigned kMonthDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (m < 1 || m > 12 || d < 1 || d > kMonthDays[m - 1]) return std::nullopt;
  const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
  long long days;
  if (!date1904 && y == 1900 && m == 2 && d == 29) {
    days = 60;  // the day that the 1900 date system counts though it never was
  } else {
    if (m == 2 && d == 29 && !leap) return std::nullopt;
    const long long fromEpoch = DaysFromCivil(y, m, d);
    if (date1904) {
      days = fromEpoch + 24107;
    } else {
      days = fromEpoch + (fromEpoch < -25508 ? 25568 : 25569);  // 1900-03-01 is day 61
    }
  }
  const double serial =
      static_cast<double>(days) + ((hh * 60.0 + mm) * 60.0 + ss + fraction) / 86400.0;
  if (days < 0 || !IsDateSerial(serial)) return std::nullopt;
  return serial;
}

bool WorkbookTables::CellText(std::size_t sheet, std::uint32_t row, std::uint32_t col,
                              std::string& out, DataKind* kind) const {
  out.clear();
  if (sheet >= book_.sheetCount()) return false;
  const xls::Cell cell = book_.sheet(sheet).GetCell(row, col);
  auto is = [kind](DataKind k) {
    if (kind) *kind = k;
    return true;
  };
  switch (cell.value.kind) {
    case xls::Value::Kind::kText:
      out = cell.value.text;
      return is(DataKind::Text);
    case xls::Value::Kind::kNumber:
      if (book_.IsDateFormat(cell.xf)) {
        if (IsTimeOfDay(book_, cell)) {
          // To the microsecond, never up to the next day.
          const long long micros =
              std::min(std::llround(cell.value.number * 86400e6), 86400LL * 1000000 - 1);
          const long long seconds = micros / 1000000;
          char buf[32];
          std::snprintf(buf, sizeof buf, "%02lld:%02lld:%02lld", seconds / 3600, seconds / 60 % 60,
                        seconds % 60);
          out = buf;
          AppendFraction(out, micros % 1000000, 6);
          return is(DataKind::Time);
        }
        if (auto date = DateText(cell.value.number, book_.date1904())) {
          out = std::move(*date);
          return is(DataKind::Date);
        }
      }
      out = NumberText(cell.value.number);
      return is(DataKind::Number);
    case xls::Value::Kind::kBoolean:
      out = cell.value.boolean ? "TRUE" : "FALSE";
      return is(DataKind::Boolean);
    case xls::Value::Kind::kEmpty:
    case xls::Value::Kind::kError:
      break;
  }
  return false;
}

std::optional<std::string> WorkbookTables::CellText(std::size_t sheet, std::uint32_t row,
                                                    std::uint32_t col) const {
  std::string text;
  if (!CellText(sheet, row, col, text)) return std::nullopt;
  return text;
}

// ---------------------------------------------------------------------------
// Tables

std::vector<TableRef> WorkbookTables::List() const {
  std::vector<TableRef> tables;
  for (std::size_t i = 0; i < book_.sheetCount(); ++i) {
    const xls::Sheet& sheet = book_.sheet(i);
    if (!sheet.isWorksheet()) continue;
    TableRef t;
    t.listedName = ListedSheetName(sheet.name());
    t.sheet = i;
    t.range = sheet.UsedRange();
    t.isSheet = true;
    tables.push_back(std::move(t));
  }
  for (std::size_t i = 0; i < book_.nameCount(); ++i) {
    const xls::DefinedName d = book_.name(i);
    if (d.scope || d.builtin || d.hidden || d.kind != xls::DefinedName::Kind::kArea) continue;
    if (d.sheet >= book_.sheetCount() || !book_.sheet(d.sheet).isWorksheet()) continue;
    TableRef t;
    t.listedName = d.name;
    t.sheet = d.sheet;
    t.range = d.range;
    t.definedName = d.name;
    tables.push_back(std::move(t));
  }
  std::sort(tables.begin(), tables.end(), [](const TableRef& a, const TableRef& b) {
    return ListedBefore(a.listedName, b.listedName);
  });
  return tables;
}

Result<TableRef> WorkbookTables::Resolve(std::string_view name) const {
  std::string n(name);
  // 'My sheet$' as the tables rowset lists it; any other name is taken as it
  // is, quotes included.
  if (IsSheetForm(n) && n.front() == '\'') {
    std::string inner;
    for (std::size_t i = 1; i + 1 < n.size(); ++i) {
      inner += n[i];
      if (n[i] == '\'' && i + 2 < n.size() && n[i + 1] == '\'') ++i;
    }
    n = std::move(inner);
  }
  if (!n.empty() && n.back() == '$') {
    const std::string_view sheetName(n.data(), n.size() - 1);
    if (auto index = book_.FindSheet(sheetName); index && book_.sheet(*index).isWorksheet()) {
      TableRef t;
      t.sheet = *index;
      t.listedName = ListedSheetName(book_.sheet(*index).name());
      t.range = book_.sheet(*index).UsedRange();
      t.isSheet = true;
      return t;
    }
    return Fail("The table \"" + std::string(name) +
                    "\" does not exist: the workbook has no sheet \"" + std::string(sheetName) +
                    "\".",
                hr::DB_E_NOTABLE);
  }
  std::optional<std::size_t> index = book_.FindName(n);
  if (!index) {
    const std::string mangled = DefinedNameForTable(n);
    if (mangled != n) index = book_.FindName(mangled);
  }
  // A built-in or hidden name is none of the workbook's tables.
  if (index && (book_.name(*index).builtin || book_.name(*index).hidden)) index.reset();
  if (index) {
    const xls::DefinedName d = book_.name(*index);
    if (d.kind == xls::DefinedName::Kind::kArea && d.sheet < book_.sheetCount() &&
        book_.sheet(d.sheet).isWorksheet()) {
      TableRef t;
      t.listedName = d.name;
      t.sheet = d.sheet;
      t.range = d.range;
      t.definedName = d.name;
      return t;
    }
    return Fail("The table \"" + std::string(name) + "\" cannot be used: its name refers to " +
                (d.kind == xls::DefinedName::Kind::kInvalid ? "cells that no longer exist."
                                                            : "something other than cells."));
  }
  return Fail("The table \"" + std::string(name) + "\" does not exist in the workbook.",
              hr::DB_E_NOTABLE);
}

std::pair<std::uint32_t, std::uint32_t> WorkbookTables::DataRows(const TableRef& table) {
  if (!table.range) return {1, 0};
  return {table.range->firstRow + 1, table.range->lastRow};
}

std::vector<TableColumn> WorkbookTables::Columns(const TableRef& table) const {
  std::vector<TableColumn> columns;
  if (!table.range) {
    columns.push_back({"F1", DataKind::Text});
    return columns;
  }
  const xls::Range& r = *table.range;
  const xls::Sheet& sheet = book_.sheet(table.sheet);
  const std::uint32_t lastSample = std::min<std::uint32_t>(r.lastRow, r.firstRow + kTypeGuessRows);
  for (std::uint32_t col = r.firstCol; col <= r.lastCol; ++col) {
    TableColumn c;
    c.name = HeaderText(*this, table.sheet, r.firstRow, col, col - r.firstCol);
    if (const auto declared = DeclaredKind(book_, sheet.GetCell(r.firstRow, col))) {
      c.kind = *declared;
      columns.push_back(std::move(c));
      continue;
    }
    bool any = false;
    bool mixed = false;
    for (std::uint32_t row = r.firstRow + 1; row <= lastSample; ++row) {
      bool hasValue = false;
      const DataKind k = KindOfCell(book_, sheet.GetCell(row, col), hasValue);
      if (!hasValue) continue;
      if (!any) {
        c.kind = k;
        any = true;
      } else if (k != c.kind) {
        mixed = true;
      }
    }
    if (mixed) c.kind = DataKind::Text;
    columns.push_back(std::move(c));
  }
  return columns;
}

// ---------------------------------------------------------------------------
// Statements

Status WorkbookTables::CreateTable(const Statement& create) {
  const std::string& table = create.table;
  const std::size_t n = create.columns.size();
  if (n == 0) return Fail("CREATE TABLE " + table + " names no columns.");
  if (n > book_.limits().columns)
    return Fail("The table \"" + table + "\" has " + std::to_string(n) +
                " columns; a sheet holds at most " + Grouped(book_.limits().columns) + ".");
  for (const auto& c : create.columns) {
    if (Utf16Length(c.name) > xls::kMaxTextLength)
      return Fail("The column name " + Quoted(c.name) + " is longer than a cell holds (32,767).");
  }
  if (table.empty()) return Fail("A table needs a name.");
  if (IsSheetForm(table))
    return Fail("A new table's name cannot end in $: \"" + table + "\" names a sheet.");
  const std::string definedName = DefinedNameForTable(table);
  if (book_.FindName(table) || book_.FindName(definedName))
    return Fail("The table \"" + table + "\" already exists.", hr::DB_E_DUPLICATETABLEID);
  const std::string sheetName = SheetNameForTable(table);
  if (sheetName.empty()) return Fail("A table needs a name.");

  // A new sheet, or an empty one of that name (what DROP TABLE leaves).
  std::size_t sheet;
  bool added = false;
  if (auto found = book_.FindSheet(sheetName)) {
    sheet = *found;
    const xls::Sheet& s = book_.sheet(sheet);
    if (!s.isWorksheet() || s.UsedRange())
      return Fail(
          "The table \"" + table + "\" already exists: the sheet \"" + s.name() + "\" is in use.",
          hr::DB_E_DUPLICATETABLEID);
  } else {
    auto addedSheet = book_.AddSheet(sheetName);
    if (!addedSheet)
      return Fail("The table \"" + table + "\" cannot be created: " + addedSheet.message());
    sheet = *addedSheet;
    added = true;
  }

  auto undo = [&](const std::string& why) -> Status {
    if (added) {
      (void)book_.DeleteSheet(sheet);
    } else {
      for (std::uint32_t col = 0; col < n; ++col)
        (void)book_.sheet(sheet).Clear(0, col);
    }
    return Fail("The table \"" + table + "\" cannot be created: " + why);
  };
  xls::Sheet& s = book_.sheet(sheet);
  for (std::size_t col = 0; col < n; ++col) {
    const auto c = static_cast<std::uint32_t>(col);
    if (auto st = s.SetText(0, c, create.columns[col].name); !st) return undo(st.message());
    // The header cell's format declares the column's type.
    auto xf =
        book_.CellFormatWithNumberFormat(s.GetCell(0, c).xf, MarkerOf(create.columns[col].type));
    if (!xf) return undo(xf.message());
    if (auto st = s.SetCellFormat(0, c, *xf); !st) return undo(st.message());
  }
  const xls::Range header{0, 0, 0, static_cast<std::uint32_t>(n - 1)};
  if (auto st = book_.DefineName(definedName, sheet, header); !st) return undo(st.message());
  Forget();
  return {};
}

Result<WorkbookTables::InsertTarget*> WorkbookTables::Target(std::string_view name) {
  std::string key = LowerAscii(name);
  if (auto it = targets_.find(key); it != targets_.end()) return &it->second;
  auto table = Resolve(name);
  if (!table) return table.error();
  InsertTarget target;
  target.table = std::move(*table);
  target.columns = Columns(target.table);
  target.types.reserve(target.columns.size());
  for (const TableColumn& c : target.columns)
    target.types.push_back(StoredType(c.kind));
  target.filterFollows =
      target.table.range && book_.AutoFilter(target.table.sheet) == target.table.range;
  return &targets_.emplace(std::move(key), std::move(target)).first->second;
}

Status WorkbookTables::Insert(const Statement& insert) {
  auto found = Target(insert.table);
  if (!found) return found.error();
  InsertTarget& target = **found;
  const TableRef& table = target.table;
  if (!table.range)
    return Fail("Rows cannot be added to the table \"" + insert.table +
                "\": its sheet is empty and has no header row.");
  const xls::Range range = *table.range;
  const std::size_t width = target.columns.size();

  // Which value goes into which column.
  slotOfColumn_.assign(width, -1);
  if (insert.hasColumnList) {
    if (insert.values.size() != insert.insertColumns.size())
      return Fail("The row has " + std::to_string(insert.values.size()) + " values for " +
                  std::to_string(insert.insertColumns.size()) + " columns.");
    for (std::size_t v = 0; v < insert.insertColumns.size(); ++v) {
      const std::string& want = insert.insertColumns[v];
      std::size_t col = width;
      for (std::size_t c = 0; c < width; ++c) {
        if (EqualsNoCase(target.columns[c].name, want)) {
          col = c;
          break;
        }
      }
      if (col == width)
        return Fail("The table \"" + insert.table + "\" has no column \"" + want + "\".",
                    hr::DB_E_BADCOLUMNID);
      if (slotOfColumn_[col] >= 0)
        return Fail("The column \"" + want + "\" is named twice in the row.");
      slotOfColumn_[col] = static_cast<int>(v);
    }
  } else {
    if (insert.values.size() != width)
      return Fail("The row has " + std::to_string(insert.values.size()) +
                  " values, and the table \"" + insert.table + "\" has " + std::to_string(width) +
                  " columns.");
    for (std::size_t c = 0; c < width; ++c)
      slotOfColumn_[c] = static_cast<int>(c);
  }

  // The row goes directly below the table.
  const std::uint32_t row = range.lastRow + 1;
  if (row >= book_.limits().rows)
    return Fail("The table \"" + insert.table + "\" is full: a sheet holds at most " +
                    Grouped(book_.limits().rows) + " rows, and the table reaches the last one.",
                hr::DB_E_DATAOVERFLOW);
  xls::Sheet& sheet = book_.sheet(table.sheet);
  // A row below everything the sheet holds is empty (the usual case: rows
  // appended one after another); otherwise look at its cells.
  const std::optional<xls::Range> used = sheet.UsedRange();
  const bool rowIsEmpty = !used || used->lastRow < row;
  for (std::uint32_t col = range.firstCol; !rowIsEmpty && col <= range.lastCol; ++col) {
    const xls::Cell cell = sheet.GetCell(row, col);
    if (cell.exists && cell.value.kind != xls::Value::Kind::kEmpty)
      return Fail("The table \"" + insert.table + "\" cannot grow: the cell " +
                  xls::CellName(row, col) + " below it is not empty.");
  }

  // Every value is checked before any cell changes.
  pending_.resize(width);
  for (std::size_t c = 0; c < width; ++c) {
    const int slot = slotOfColumn_[c];
    if (slot < 0) {
      pending_[c] = CellInput{};
      continue;
    }
    const Literal& v = insert.values[static_cast<std::size_t>(slot)];
    if (auto st =
            ToCellInput(v, target.types[c], target.columns[c].name, book_.date1904(), pending_[c]);
        !st)
      return st;
    // A text of no more bytes than a cell holds characters always fits.
    if (pending_[c].kind == CellInput::Kind::Text &&
        pending_[c].text.size() > xls::kMaxTextLength) {
      const std::size_t length = Utf16Length(pending_[c].text);
      if (length > xls::kMaxTextLength)
        return Fail("The value for the column \"" + target.columns[c].name + "\" has " +
                        std::to_string(length) + " characters; a cell holds at most 32,767.",
                    hr::DB_E_DATAOVERFLOW);
    }
  }

  auto undo = [&](std::size_t written, const std::string& why) -> Status {
    for (std::size_t c = 0; c < written; ++c)
      (void)sheet.Clear(row, range.firstCol + static_cast<std::uint32_t>(c));
    return Fail("The row cannot be added to the table \"" + insert.table + "\": " + why);
  };
  for (std::size_t c = 0; c < width; ++c) {
    const std::uint32_t col = range.firstCol + static_cast<std::uint32_t>(c);
    const CellInput& in = pending_[c];
    Status st;
    switch (in.kind) {
      case CellInput::Kind::Empty:
        continue;
      case CellInput::Kind::Text:
        st = sheet.SetText(row, col, in.text);
        break;
      case CellInput::Kind::Number:
        st = sheet.SetNumber(row, col, in.number);
        break;
      case CellInput::Kind::Date: {
        // Shown as a date, with its time when it has one.
        st = sheet.SetNumber(row, col, in.number);
        if (!st) break;
        const bool wholeDay = in.number == std::floor(in.number);
        auto xf = book_.CellFormatWithNumberFormat(sheet.GetCell(row, col).xf,
                                                   wholeDay ? kDateFormat : kDateTimeFormat);
        st = xf ? sheet.SetCellFormat(row, col, *xf) : Status(xf.error());
        break;
      }
      case CellInput::Kind::Time: {
        st = sheet.SetNumber(row, col, in.number);
        if (!st) break;
        auto xf = book_.CellFormatWithNumberFormat(sheet.GetCell(row, col).xf, kTimeFormat);
        st = xf ? sheet.SetCellFormat(row, col, *xf) : Status(xf.error());
        break;
      }
      case CellInput::Kind::Boolean:
        st = sheet.SetBoolean(row, col, in.boolean);
        break;
    }
    // The row's cells were empty: clearing this one too undoes a half-made value.
    if (!st) return undo(c + 1, st.message());
  }
  xls::Range grown = range;
  grown.lastRow = row;
  if (!table.isSheet) {
    // The name is looked up once and then moved with every row: names only
    // change with statements after which the targets are worked out afresh.
    if (!target.name) target.name = book_.FindName(table.definedName);
    const bool moved = target.name && book_.MoveNameArea(*target.name, table.sheet, grown);
    if (!moved) {
      target.name.reset();
      if (auto st = book_.DefineName(table.definedName, table.sheet, grown); !st)
        return undo(width, st.message());
    }
  }
  if (target.filterFollows) {
    if (auto st = book_.SetAutoFilter(table.sheet, grown); !st) return undo(width, st.message());
  }
  target.table.range = grown;
  if (table.isSheet) {
    // An empty row leaves the used range as it was.
    target.table.range = sheet.UsedRange();
  }
  // Other tables on the same sheet see the sheet anew next time.
  const std::size_t sheetIndex = target.table.sheet;
  for (auto it = targets_.begin(); it != targets_.end();) {
    if (&it->second != &target && it->second.table.sheet == sheetIndex) {
      it = targets_.erase(it);
    } else {
      ++it;
    }
  }
  return {};
}

Status WorkbookTables::DropTable(const Statement& drop) {
  auto found = Resolve(drop.table);
  if (!found) return found.error();
  const TableRef& table = *found;
  xls::Sheet& sheet = book_.sheet(table.sheet);

  // The names that go: the table's own, or for a sheet every workbook-level
  // name on it (they would be tables over cleared cells).
  std::vector<std::size_t> names;
  if (!table.isSheet) {
    if (auto index = book_.FindName(table.definedName)) names.push_back(*index);
  } else {
    for (std::size_t i = 0; i < book_.nameCount(); ++i) {
      const xls::DefinedName d = book_.name(i);
      if (!d.scope && !d.builtin && d.kind == xls::DefinedName::Kind::kArea &&
          d.sheet == table.sheet)
        names.push_back(i);
    }
  }

  // Comments, hyperlinks and merged ranges on the table's cells go with it,
  // on empty cells too; a sheet's table is the whole sheet.
  const std::optional<xls::Range> attached =
      table.isSheet ? std::optional<xls::Range>(
                          xls::Range{0, 0, book_.limits().rows - 1, book_.limits().columns - 1})
                    : table.range;
  if (attached) {
    if (auto st = sheet.RemoveAttached(*attached); !st)
      return Fail("The table \"" + drop.table + "\" cannot be dropped: " + st.message());
  }
  if (table.range) {
    if (const auto used = sheet.UsedRange()) {
      const xls::Range& r = *table.range;
      const std::uint32_t firstRow = std::max(r.firstRow, used->firstRow);
      const std::uint32_t lastRow = std::min(r.lastRow, used->lastRow);
      const std::uint32_t firstCol = std::max(r.firstCol, used->firstCol);
      const std::uint32_t lastCol = std::min(r.lastCol, used->lastCol);
      // Right to left: each cell then goes from the end of its row's list.
      for (std::uint32_t row = firstRow; row <= lastRow && firstCol <= lastCol; ++row) {
        for (std::uint32_t col = lastCol + 1; col-- > firstCol;) {
          if (auto st = sheet.Clear(row, col); !st)
            return Fail("The table \"" + drop.table + "\" cannot be dropped: " + st.message());
        }
      }
    }
  }
  std::sort(names.rbegin(), names.rend());
  for (std::size_t index : names) {
    if (auto st = book_.DeleteName(index); !st)
      return Fail("The table \"" + drop.table + "\" cannot be dropped: " + st.message());
  }
  // The sheet's filter buttons over the table's cells go with it.
  if (const auto filter = book_.AutoFilter(table.sheet);
      filter && (table.isSheet || (table.range && Overlap(*filter, *table.range)))) {
    if (auto st = book_.RemoveAutoFilter(table.sheet); !st)
      return Fail("The table \"" + drop.table + "\" cannot be dropped: " + st.message());
  }
  Forget();
  return {};
}

}  // namespace migrator::providers::workbook
