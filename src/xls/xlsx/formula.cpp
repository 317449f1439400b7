// Formulas as .xlsx files hold them, in text: cell references, references
// moved with their cell (the cells of a shared formula), and sheet names in
// references.

#include <cctype>

#include "xls/unicode.h"
#include "xls/xlsx/book.h"

namespace migrator::xls::xlsx {

namespace {

bool IsLetter(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}
bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}
// Characters of names, functions, sheet names and references.
bool IsWordChar(char c) {
  return IsLetter(c) || IsDigit(c) || c == '_' || c == '.' || c == '$' || c == '\\' || c == '?' ||
         static_cast<unsigned char>(c) >= 0x80;
}

// Column letters to a 0-based column; false past "XFD".
bool ColumnOf(std::string_view letters, uint32_t& col) {
  if (letters.empty() || letters.size() > 3) return false;
  uint32_t n = 0;
  for (char c : letters) {
    if (!IsLetter(c)) return false;
    n = n * 26 + static_cast<uint32_t>((c | 0x20) - 'a' + 1);
  }
  col = n - 1;
  return true;
}

// One part of a reference: [$]letters[$]digits, with its $ marks.
struct CellPart {
  bool absCol = false, absRow = false;
  uint32_t row = 0, col = 0;
};

bool ParseCellPart(std::string_view s, const Limits& limits, CellPart& p) {
  size_t i = 0;
  p.absCol = i < s.size() && s[i] == '$';
  if (p.absCol) ++i;
  size_t l = i;
  while (i < s.size() && IsLetter(s[i]))
    ++i;
  if (!ColumnOf(s.substr(l, i - l), p.col) || p.col >= limits.columns) return false;
  p.absRow = i < s.size() && s[i] == '$';
  if (p.absRow) ++i;
  if (i >= s.size() || !IsDigit(s[i]) || s[i] == '0') return false;
  uint64_t row = 0;
  for (; i < s.size(); ++i) {
    if (!IsDigit(s[i])) return false;
    row = row * 10 + static_cast<uint64_t>(s[i] - '0');
    if (row > limits.rows) return false;
  }
  p.row = static_cast<uint32_t>(row - 1);
  return true;
}

void AppendCellPart(const CellPart& p, std::string& out) {
  if (p.absCol) out += '$';
  out += ColumnName(p.col);
  if (p.absRow) out += '$';
  out += std::to_string(p.row + 1);
}

// Walks a formula: calls `word(begin, end)` for every run of name
// characters outside strings, quoted sheet names and brackets, and
// `quoted(begin, end)` for every quoted sheet name ('...' including quotes).
template <class Word, class Quoted>
void Walk(std::string_view f, Word&& word, Quoted&& quoted) {
  size_t i = 0;
  while (i < f.size()) {
    const char c = f[i];
    if (c == '"') {
      ++i;
      while (i < f.size()) {
        if (f[i] == '"') {
          if (i + 1 < f.size() && f[i + 1] == '"') {
            i += 2;
            continue;
          }
          break;
        }
        ++i;
      }
      ++i;
    } else if (c == '\'') {
      const size_t b = i++;
      while (i < f.size()) {
        if (f[i] == '\'') {
          if (i + 1 < f.size() && f[i + 1] == '\'') {
            i += 2;
            continue;
          }
          break;
        }
        ++i;
      }
      ++i;
      quoted(b, std::min(i, f.size()));
    } else if (c == '[') {
      int depth = 0;
      while (i < f.size()) {
        if (f[i] == '[') ++depth;
        if (f[i] == ']' && --depth == 0) break;
        ++i;
      }
      ++i;
    } else if (c == '#') {
      // An error literal: #REF!, #N/A, ...
      ++i;
      while (i < f.size() && (IsLetter(f[i]) || f[i] == '/' || f[i] == '0'))
        ++i;
      if (i < f.size() && (f[i] == '!' || f[i] == '?')) ++i;
    } else if (IsWordChar(c)) {
      const size_t b = i;
      if (IsDigit(c)) {
        // A number (with its exponent) or a row number.
        while (i < f.size() && (IsDigit(f[i]) || f[i] == '.'))
          ++i;
        if (i < f.size() && (f[i] == 'E' || f[i] == 'e') && i + 1 < f.size() &&
            (IsDigit(f[i + 1]) ||
             ((f[i + 1] == '+' || f[i + 1] == '-') && i + 2 < f.size() && IsDigit(f[i + 2])))) {
          i += 2;
          while (i < f.size() && IsDigit(f[i]))
            ++i;
        }
      } else {
        while (i < f.size() && IsWordChar(f[i]))
          ++i;
      }
      word(b, i);
    } else {
      ++i;
    }
  }
}

}  // namespace

bool ParseCellRef(std::string_view s, const Limits& limits, uint32_t& row, uint32_t& col) {
  CellPart p;
  if (!ParseCellPart(s, limits, p) || p.absCol || p.absRow) return false;
  row = p.row;
  col = p.col;
  return true;
}

bool ParseRangeRef(std::string_view s, const Limits& limits, Range& r) {
  const size_t colon = s.find(':');
  CellPart a, b;
  if (!ParseCellPart(s.substr(0, colon), limits, a)) return false;
  b = a;
  if (colon != std::string_view::npos && !ParseCellPart(s.substr(colon + 1), limits, b))
    return false;
  r = {std::min(a.row, b.row), std::min(a.col, b.col), std::max(a.row, b.row),
       std::max(a.col, b.col)};
  return true;
}

void AppendCellRef(uint32_t row, uint32_t col, std::string& out) {
  char buf[16];
  size_t n = 0;
  uint32_t c = col + 1;
  while (c > 0) {
    buf[n++] = static_cast<char>('A' + (c - 1) % 26);
    c = (c - 1) / 26;
  }
  while (n > 0)
    out += buf[--n];
  AppendInt(uint64_t{row} + 1, out);
}

std::optional<std::string> ShiftFormula(std::string_view f, int64_t rows, int64_t cols,
                                        const Limits& limits) {
  std::string out;
  size_t copied = 0;
  bool failed = false;
  auto shiftRow = [&](uint32_t r) -> int64_t { return int64_t{r} + rows; };
  auto shiftCol = [&](uint32_t c) -> int64_t { return int64_t{c} + cols; };
  auto word = [&](size_t b, size_t e) {
    if (failed) return;
    std::string_view w = f.substr(b, e - b);
    // A function's name, a sheet's name or a defined name stays.
    if (e < f.size() && (f[e] == '(' || f[e] == '!')) return;
    std::string rep;
    CellPart p;
    if (ParseCellPart(w, limits, p)) {
      const int64_t r = p.absRow ? p.row : shiftRow(p.row);
      const int64_t c = p.absCol ? p.col : shiftCol(p.col);
      if (r < 0 || c < 0 || r >= limits.rows || c >= limits.columns) {
        failed = true;
        return;
      }
      p.row = static_cast<uint32_t>(r);
      p.col = static_cast<uint32_t>(c);
      AppendCellPart(p, rep);
    } else {
      // Whole rows (1:3, $2:$2) and whole columns (A:C) come as two words
      // around a colon; each side moves on its own.
      const bool nextColon = e < f.size() && f[e] == ':';
      const bool prevColon = b > 0 && f[b - 1] == ':';
      if (!nextColon && !prevColon) return;
      const bool abs = !w.empty() && w[0] == '$';
      std::string_view bare = abs ? w.substr(1) : w;
      uint64_t n;
      uint32_t col;
      if (!bare.empty() && IsDigit(bare[0]) && ParseUint(bare, n) && n >= 1 && n <= limits.rows) {
        const int64_t r = abs ? int64_t(n - 1) : shiftRow(static_cast<uint32_t>(n - 1));
        if (r < 0 || r >= limits.rows) {
          failed = true;
          return;
        }
        rep = (abs ? "$" : "") + std::to_string(r + 1);
      } else if (ColumnOf(bare, col) && col < limits.columns) {
        const int64_t c = abs ? int64_t{col} : shiftCol(col);
        if (c < 0 || c >= limits.columns) {
          failed = true;
          return;
        }
        rep = (abs ? "$" : "") + ColumnName(static_cast<uint32_t>(c));
      } else {
        return;
      }
    }
    out.append(f, copied, b - copied);
    out += rep;
    copied = e;
  };
  Walk(f, word, [](size_t, size_t) {});
  if (failed) return std::nullopt;
  out.append(f, copied, f.size() - copied);
  return out;
}

std::string RenameSheetInFormula(std::string_view f, std::u16string_view from,
                                 std::u16string_view to) {
  const std::string toName = QuoteSheetName(Utf16ToUtf8(to));
  std::string out;
  size_t copied = 0;
  auto matches = [&](std::string_view name) {
    std::u16string n;
    return Utf8ToUtf16(name, n) && EqualsIgnoreCase(n, from);
  };
  auto replace = [&](size_t b, size_t e) {
    out.append(f, copied, b - copied);
    out += toName;
    copied = e;
  };
  auto isSheetPosition = [&](size_t b, size_t e) {
    if (e < f.size() && f[e] == '!') return true;
    if (b > 0 && f[b - 1] == ':') {
      // The second sheet of a span: name1:name2!
      return e < f.size() && f[e] == '!';
    }
    if (e < f.size() && f[e] == ':') {
      size_t k = e + 1;
      if (k < f.size() && f[k] == '\'') return true;
      while (k < f.size() && IsWordChar(f[k]))
        ++k;
      return k < f.size() && f[k] == '!';
    }
    return false;
  };
  Walk(
      f,
      [&](size_t b, size_t e) {
        if (isSheetPosition(b, e) && matches(f.substr(b, e - b))) replace(b, e);
      },
      [&](size_t b, size_t e) {
        if (e - b < 2 || !isSheetPosition(b, e)) return;
        std::string name;
        for (size_t i = b + 1; i + 1 < e; ++i) {
          name += f[i];
          if (f[i] == '\'') ++i;
        }
        if (matches(name)) replace(b, e);
      });
  out.append(f, copied, f.size() - copied);
  return out;
}

std::optional<AreaRef> ParseAreaFormula(std::string_view f, const Limits& limits) {
  while (!f.empty() && f.front() == ' ')
    f.remove_prefix(1);
  while (!f.empty() && f.back() == ' ')
    f.remove_suffix(1);
  AreaRef a;
  size_t bang;
  if (!f.empty() && f.front() == '\'') {
    size_t i = 1;
    for (; i < f.size(); ++i) {
      if (f[i] != '\'') {
        a.sheet += f[i];
        continue;
      }
      if (i + 1 < f.size() && f[i + 1] == '\'') {
        a.sheet += '\'';
        ++i;
        continue;
      }
      break;
    }
    if (i >= f.size() || i + 1 >= f.size() || f[i + 1] != '!') return std::nullopt;
    bang = i + 1;
  } else {
    bang = f.find('!');
    if (bang == std::string_view::npos || bang == 0) return std::nullopt;
    for (char c : f.substr(0, bang))
      if (!IsWordChar(c)) return std::nullopt;
    a.sheet = std::string(f.substr(0, bang));
  }
  std::string_view ref = f.substr(bang + 1);
  const size_t colon = ref.find(':');
  CellPart p, q;
  if (!ParseCellPart(ref.substr(0, colon), limits, p)) return std::nullopt;
  q = p;
  if (colon != std::string_view::npos && !ParseCellPart(ref.substr(colon + 1), limits, q))
    return std::nullopt;
  a.range = {std::min(p.row, q.row), std::min(p.col, q.col), std::max(p.row, q.row),
             std::max(p.col, q.col)};
  return a;
}

}  // namespace migrator::xls::xlsx
