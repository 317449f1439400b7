#include "providers/odbc/utf16.h"

namespace migrator::providers::odbc {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

void PutWide(char32_t cp, WString& out) {
  if (cp < 0x10000) {
    out.push_back(static_cast<SQLWCHAR>(cp));
  } else {
    cp -= 0x10000;
    out.push_back(static_cast<SQLWCHAR>(0xD800 + (cp >> 10)));
    out.push_back(static_cast<SQLWCHAR>(0xDC00 + (cp & 0x3FF)));
  }
}

}  // namespace

WString ToWide(std::string_view s) {
  WString out;
  out.reserve(s.size());
  std::size_t i = 0;
  const std::size_t n = s.size();
  while (i < n) {
    const auto c = static_cast<unsigned char>(s[i]);
    if (c < 0x80) {
      out.push_back(c);
      ++i;
      continue;
    }
    int len = 0;
    char32_t cp = 0;
    char32_t min = 0;
    if ((c & 0xE0) == 0xC0) {
      len = 2, cp = c & 0x1F, min = 0x80;
    } else if ((c & 0xF0) == 0xE0) {
      len = 3, cp = c & 0x0F, min = 0x800;
    } else if ((c & 0xF8) == 0xF0) {
      len = 4, cp = c & 0x07, min = 0x10000;
    } else {
      PutWide(kReplacement, out);
      ++i;
      continue;
    }
    int k = 1;
    for (; k < len && i + k < n; ++k) {
      const auto cc = static_cast<unsigned char>(s[i + k]);
      if ((cc & 0xC0) != 0x80) break;
      cp = (cp << 6) | (cc & 0x3F);
    }
    if (k < len || cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
      PutWide(kReplacement, out);
      i += static_cast<std::size_t>(k);  // skip the malformed sequence
      continue;
    }
    PutWide(cp, out);
    i += static_cast<std::size_t>(len);
  }
  return out;
}

void AppendUtf8(const SQLWCHAR* w, std::size_t count, std::string& out) {
  out.reserve(out.size() + count);
  for (std::size_t i = 0; i < count; ++i) {
    char32_t cp = w[i];
    if (cp < 0x80) {
      out.push_back(static_cast<char>(cp));
      continue;
    }
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < count && w[i + 1] >= 0xDC00 && w[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (w[i + 1] - 0xDC00);
      ++i;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      cp = kReplacement;  // a lone surrogate
    }
    if (cp < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
  }
}

}  // namespace migrator::providers::odbc
