#include "oledb/text.h"

namespace migrator::oledb {

std::string_view CutChars(std::string_view text, std::size_t chars) {
  std::size_t seen = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if ((c & 0xC0) != 0x80) {  // the first byte of a character
      if (seen == chars) return text.substr(0, i);
      ++seen;
    }
  }
  return text;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

std::string QuoteIdentifier(std::string_view name) {
  std::string out;
  out.reserve(name.size() + 2);
  out += '`';
  for (char c : name) {
    out += c;
    if (c == '`') out += '`';
  }
  out += '`';
  return out;
}

void AppendQuotedLiteral(std::string& out, std::string_view value) {
  out += '\'';
  for (std::size_t start = 0;;) {
    const std::size_t quote = value.find('\'', start);
    if (quote == std::string_view::npos) {
      out.append(value, start);
      break;
    }
    out.append(value, start, quote + 1 - start);
    out += '\'';
    start = quote + 1;
  }
  out += '\'';
}

}  // namespace migrator::oledb
