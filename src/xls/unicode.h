#pragma once
// Text conversions between the API's UTF-8 and the file's UTF-16, and the
// case-insensitive comparison that spreadsheet programs use for sheet and
// defined names.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace migrator::xls {

// Converts UTF-8 to UTF-16 into `out` (replacing its content). Returns false
// on malformed input and sets *badOffset to the byte offset of the fault.
bool Utf8ToUtf16(std::string_view in, std::u16string& out, size_t* badOffset = nullptr);
// The text as Latin-1 bytes when it is valid UTF-8 whose characters are all
// below U+0100: `in` itself when it is ASCII, else decoded into `scratch`.
// Nothing for any other text (Utf8ToUtf16 then says whether it is valid).
std::optional<std::string_view> Utf8AsLatin1(std::string_view in, std::string& scratch);

// Converts UTF-16 to UTF-8; unpaired surrogates become U+FFFD.
std::string Utf16ToUtf8(std::u16string_view in);
void AppendUtf8(std::u16string_view in, std::string& out);

// Simple case folding of one UTF-16 unit (Latin, Greek, Cyrillic and the
// full-width forms; other characters are returned unchanged).
char16_t FoldCase(char16_t c);
bool EqualsIgnoreCase(std::u16string_view a, std::u16string_view b);
bool EqualsIgnoreCase(std::string_view utf8a, std::string_view utf8b);

}  // namespace migrator::xls
