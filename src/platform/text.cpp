#include "platform/text.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace migrator {

namespace {
char LowerAscii(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}
}  // namespace

bool EqualNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return LowerAscii(x) == LowerAscii(y);
         });
}

std::string ToLowerAscii(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    c = LowerAscii(c);
  return out;
}

std::string NameList(const std::vector<std::string>& names) {
  std::string out;
  for (const auto& n : names)
    out += (out.empty() ? "" : ", ") + n;
  return out.empty() ? "none" : out;
}

std::size_t Utf8SequenceLength(std::string_view s, std::size_t i) {
  const auto c = static_cast<unsigned char>(s[i]);
  if (c < 0x80) return 1;
  std::size_t len;
  unsigned char lo = 0x80, hi = 0xBF;  // bounds of the second byte
  if (c >= 0xC2 && c <= 0xDF) {
    len = 2;
  } else if (c >= 0xE0 && c <= 0xEF) {
    len = 3;
    if (c == 0xE0) lo = 0xA0;  // no overlong forms
    if (c == 0xED) hi = 0x9F;  // no surrogates
  } else if (c >= 0xF0 && c <= 0xF4) {
    len = 4;
    if (c == 0xF0) lo = 0x90;  // no overlong forms
    if (c == 0xF4) hi = 0x8F;  // nothing above U+10FFFF
  } else {
    return 0;
  }
  if (i + len > s.size()) return 0;
  for (std::size_t k = 1; k < len; ++k) {
    const auto cc = static_cast<unsigned char>(s[i + k]);
    if (cc < (k == 1 ? lo : 0x80) || cc > (k == 1 ? hi : 0xBF)) return 0;
  }
  return len;
}

std::size_t AsciiPrefixLength(std::string_view s) {
  std::size_t i = 0;
  for (; i + 8 <= s.size(); i += 8) {
    std::uint64_t word;
    std::memcpy(&word, s.data() + i, 8);
    if (word & 0x8080808080808080ull) break;
  }
  while (i < s.size() && static_cast<unsigned char>(s[i]) < 0x80)
    ++i;
  return i;
}

std::size_t InvalidUtf8At(std::string_view s) {
  std::size_t i = 0;
  while (i < s.size()) {
    if (static_cast<unsigned char>(s[i]) < 0x80) {
      i += AsciiPrefixLength(s.substr(i));
      continue;
    }
    std::size_t len = Utf8SequenceLength(s, i);
    if (len == 0) return i;
    i += len;
  }
  return std::string_view::npos;
}

std::size_t Utf16Length(std::string_view utf8) {
  std::size_t n = 0;
  for (unsigned char c : utf8) {
    if ((c & 0xC0) != 0x80) ++n;  // a character starts here
    if (c >= 0xF0) ++n;           // and needs a surrogate pair
  }
  return n;
}

std::string_view CutUtf16(std::string_view utf8, std::size_t units) {
  std::size_t n = 0;
  for (std::size_t i = 0; i < utf8.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(utf8[i]);
    if ((c & 0xC0) == 0x80) continue;
    const std::size_t need = c >= 0xF0 ? 2 : 1;
    if (n + need > units) return utf8.substr(0, i);
    n += need;
  }
  return utf8;
}

}  // namespace migrator
