#pragma once
// Rewriting of a MySQL CREATE TABLE text into a statement a workbook accepts:
// every column becomes a text column, keys, indexes and table options go, and
// the whole text is lower case.

#include <array>
#include <string>

namespace migrator {

struct DdlRule {
  const char* pattern;
  const char* replacement;
};

// The six rules, applied in this order, each to the whole text and to every
// match. Patterns and replacements carry real line breaks.
inline constexpr std::array<DdlRule, 6> kDdlRewriteRules{{
    // every column line ending in a comma: "`name` text,", indentation gone
    {"\n[\\s]*(`.*`)\\s*.*,", "\n$1 text,"},
    // the column line just before the closing line
    {"\n[\\s]*(`.*`)\\s*.*\n\\)", "\n$1 text\n)"},
    // key lines (primary, unique, index, foreign) and any line holding "key"
    {"\n[^,]*[\\s]*key[\\s]*.*", ""},
    // a comma left before the closing line, and the table options after it
    {",\n\\)[^\\)]*$", "\n)"},
    // table options after a closing ")" at the start of a line
    {"(\n\\))[^\\)]*$", "$1"},
    // a last column line that itself ends in ")"
    {"\n[\\s]*(`.*`)\\s*.*\\)[^\\)]*$", "$1 text)"},
}};

// Lower-cases the text (ASCII letters; other bytes are left alone) and
// applies the six rules in order. When the expression service fails on a
// rule, the result is its failure text ("Error").
std::string RewriteDdl(std::string ddl);

}  // namespace migrator
