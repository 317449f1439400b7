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

// A name as a quoted identifier: `name`, with a back-quote inside doubled,
// so the name cannot end the identifier whatever it holds.
std::string QuoteIdentifier(std::string_view name);

}  // namespace migrator::oledb
