#pragma once
// Small text helpers of the layer.

#include <cstddef>
#include <string>
#include <string_view>

namespace migrator::oledb {

// The first `chars` characters of UTF-8 text (never a part of a character).
std::string_view CutChars(std::string_view text, std::size_t chars);

// Compares ASCII letters without regard to case.
bool EqualsNoCase(std::string_view a, std::string_view b);

// A name as an identifier of a statement, for the source server and the
// workbook provider alike: between back-quotes, a back-quote in it doubled,
// so a name with a blank, a quote or a reserved word stays one identifier.
std::string QuoteIdentifier(std::string_view name);
// Appends a value as a string literal: between single quotes, a single
// quote in it doubled.
void AppendQuotedLiteral(std::string& out, std::string_view value);

}  // namespace migrator::oledb
