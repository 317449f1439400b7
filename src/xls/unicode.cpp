#include "xls/unicode.h"

#include <cstdint>
#include <cstring>

namespace migrator::xls {

std::optional<std::string_view> Utf8AsLatin1(std::string_view in, std::string& scratch) {
  const auto* s = reinterpret_cast<const unsigned char*>(in.data());
  const size_t n = in.size();
  size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    uint64_t word;
    std::memcpy(&word, s + i, 8);
    if (word & 0x8080808080808080ull) break;
  }
  while (i < n && s[i] < 0x80)
    ++i;
  if (i == n) return in;
  // Two-byte sequences led by C2 or C3 are U+0080..U+00FF.
  scratch.assign(in.data(), i);
  while (i < n) {
    const unsigned char c = s[i];
    if (c < 0x80) {
      scratch += static_cast<char>(c);
      ++i;
    } else if ((c == 0xC2 || c == 0xC3) && i + 1 < n && (s[i + 1] & 0xC0) == 0x80) {
      scratch += static_cast<char>(((c & 0x1F) << 6) | (s[i + 1] & 0x3F));
      i += 2;
    } else {
      return std::nullopt;
    }
  }
  return std::string_view(scratch);
}

bool Utf8ToUtf16(std::string_view in, std::u16string& out, size_t* badOffset) {
  const auto* s = reinterpret_cast<const unsigned char*>(in.data());
  const size_t n = in.size();
  // Never more units than bytes: write through a pointer, then cut to size.
  out.resize(n);
  char16_t* o = out.data();
  size_t i = 0;
  auto fail = [&](size_t at) {
    if (badOffset) *badOffset = at;
    out.resize(static_cast<size_t>(o - out.data()));  // what was converted before the fault
    return false;
  };
  while (i < n) {
    // ASCII runs, a word at a time.
    while (i + 8 <= n) {
      uint64_t word;
      std::memcpy(&word, s + i, 8);
      if (word & 0x8080808080808080ull) break;
      for (int k = 0; k < 8; ++k)
        o[k] = s[i + k];
      o += 8;
      i += 8;
    }
    if (i >= n) break;
    unsigned char c = s[i];
    if (c < 0x80) {
      *o++ = static_cast<char16_t>(c);
      ++i;
      continue;
    }
    uint32_t cp;
    size_t len;
    uint32_t min;
    if ((c & 0xE0) == 0xC0) {
      cp = c & 0x1F;
      len = 2;
      min = 0x80;
    } else if ((c & 0xF0) == 0xE0) {
      cp = c & 0x0F;
      len = 3;
      min = 0x800;
    } else if ((c & 0xF8) == 0xF0) {
      cp = c & 0x07;
      len = 4;
      min = 0x10000;
    } else {
      return fail(i);
    }
    if (i + len > n) return fail(i);
    for (size_t k = 1; k < len; ++k) {
      unsigned char cc = s[i + k];
      if ((cc & 0xC0) != 0x80) return fail(i);
      cp = (cp << 6) | (cc & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return fail(i);
    if (cp >= 0x10000) {
      cp -= 0x10000;
      *o++ = static_cast<char16_t>(0xD800 + (cp >> 10));
      *o++ = static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    } else {
      *o++ = static_cast<char16_t>(cp);
    }
    i += len;
  }
  out.resize(static_cast<size_t>(o - out.data()));
  return true;
}

void AppendUtf8(std::u16string_view in, std::string& out) {
  size_t n = in.size();
  for (size_t i = 0; i < n; ++i) {
    uint32_t cp = in[i];
    if (cp < 0x80) {
      out.push_back(static_cast<char>(cp));
      continue;
    }
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < n && in[i + 1] >= 0xDC00 && in[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (in[i + 1] - 0xDC00);
      ++i;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      cp = 0xFFFD;
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

std::string Utf16ToUtf8(std::u16string_view in) {
  std::string out;
  out.reserve(in.size());
  AppendUtf8(in, out);
  return out;
}

char16_t FoldCase(char16_t c) {
  if (c < 0x80) return (c >= 'a' && c <= 'z') ? static_cast<char16_t>(c - 32) : c;
  // Latin-1 supplement (but not the multiplication/division signs or y-diaeresis).
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return static_cast<char16_t>(c - 32);
  if (c == 0xFF) return 0x178;
  // Latin Extended-A: mostly pairs upper (even) / lower (odd).
  if (c >= 0x100 && c <= 0x17F) {
    if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E))
      return (c & 1) ? c : static_cast<char16_t>(c - 1);
    if (c == 0x131 || c == 0x138 || c == 0x149 || c == 0x17F) return c;
    return (c & 1) ? static_cast<char16_t>(c - 1) : c;
  }
  // Greek.
  if (c >= 0x3B1 && c <= 0x3C9 && c != 0x3C2) return static_cast<char16_t>(c - 32);
  if (c == 0x3C2) return 0x3A3;
  if (c == 0x3AC) return 0x386;
  if (c >= 0x3AD && c <= 0x3AF) return static_cast<char16_t>(c - 37);
  if (c == 0x3CC) return 0x38C;
  if (c == 0x3CD || c == 0x3CE) return static_cast<char16_t>(c - 63);
  // Cyrillic.
  if (c >= 0x430 && c <= 0x44F) return static_cast<char16_t>(c - 32);
  if (c >= 0x450 && c <= 0x45F) return static_cast<char16_t>(c - 80);
  if (c >= 0x460 && c <= 0x4FF && !(c >= 0x482 && c <= 0x489))
    return (c & 1) ? static_cast<char16_t>(c - 1) : c;
  // Full-width Latin letters.
  if (c >= 0xFF41 && c <= 0xFF5A) return static_cast<char16_t>(c - 32);
  return c;
}

bool EqualsIgnoreCase(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (a[i] != b[i] && FoldCase(a[i]) != FoldCase(b[i])) return false;
  return true;
}

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  std::u16string ua, ub;
  bool oka = Utf8ToUtf16(a, ua);
  bool okb = Utf8ToUtf16(b, ub);
  if (!oka || !okb) return a == b;
  return EqualsIgnoreCase(ua, ub);
}

}  // namespace migrator::xls
