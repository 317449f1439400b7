#pragma once
// Small text helpers shared by every layer: ASCII case folding for names and
// keywords, and UTF-8 well-formedness (RFC 3629: no overlong forms, no
// surrogates, nothing above U+10FFFF).

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace migrator {

// Equal when only ASCII letters differ in case.
bool EqualNoCase(std::string_view a, std::string_view b);
// ASCII letters lowered; every other byte kept.
std::string ToLowerAscii(std::string_view s);

// Names for a line of text: "a, b, c", or "none" for no name.
std::string NameList(const std::vector<std::string>& names);

// The number of bytes at the start of `s` below 0x80 (plain ASCII), found a
// word at a time: long texts are mostly ASCII, and those bytes need no decoding.
std::size_t AsciiPrefixLength(std::string_view s);

// Length of the well-formed UTF-8 sequence that starts at s[i] (1 for ASCII),
// or 0 when none starts there.
std::size_t Utf8SequenceLength(std::string_view s, std::size_t i);
// Offset of the first byte where the text stops being well-formed UTF-8, or
// std::string_view::npos when all of it is.
std::size_t InvalidUtf8At(std::string_view s);
inline bool IsValidUtf8(std::string_view s) {
  return InvalidUtf8At(s) == std::string_view::npos;
}

// The number of UTF-16 units of valid UTF-8 text (a workbook cell counts its
// length in these).
std::size_t Utf16Length(std::string_view utf8);
// The longest start of valid UTF-8 text that has at most `units` UTF-16
// units (never a part of a character).
std::string_view CutUtf16(std::string_view utf8, std::size_t units);

}  // namespace migrator
