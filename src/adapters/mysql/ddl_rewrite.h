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
// match (see support/regexp_service.h for the pattern language). Patterns and
// replacements carry real line breaks.

inline constexpr std::array<DdlRule, 6> kDdlRewriteRules{{
    // 1. every column line ending in a comma: "`name` text,", indentation gone
    {"\n[\\s]*(`.*`)\\s*.*,", "\n$1 text,"},
    // 2. the column line just before the closing line
    {"\n[\\s]*(`.*`)\\s*.*\n\\)", "\n$1 text\n)"},
    // 3. key lines (primary, unique, fulltext, foreign keys and indexes): a
    //    run from a line break to the end of the line holding "key", with no
    //    comma in between. A line that starts with a back-quoted name is a
    //    column that rules 1 and 2 have rewritten, and is never removed, even
    //    when its name holds the letters "key" (a column `monkey`).
    //    Written (see kDdlKeyLineRulePlain for the plain form) so that a start with no "key" before
    //    the next comma fails
    //    once for the whole comma-free run ((*SKIP) moves the next attempt to
    //    its end) instead of once per line break in it, which made long
    //    comma-free texts quadratic. The matches are the same: the first "key"
    //    is found, then the greedy part reaches the last one before the comma.
    {"\n[^,`](?:(?!key)[^,])*+(*SKIP)key(?:[^,]*key)?[\\s]*.*", ""},
    // 4. a comma left before the closing line, and the table options after it
    {",\n\\)[^\\)]*$", "\n)"},
    // 5. table options after a closing ")" at the start of a line
    {"(\n\\))[^\\)]*$", "$1"},
    // 6. a last column line that itself ends in ")"
    {"\n[\\s]*(`.*`)\\s*.*\\)[^\\)]*$", "$1 text)"},
}};

// Rule 3 in its plain form: the same matches, found in quadratic time on long
// comma-free texts.
inline constexpr const char* kDdlKeyLineRulePlain = "\n[^,`][^,]*[\\s]*key[\\s]*.*";

// Applied after the six: the first line that starts with ")" closes the
// column list; a comma before it and everything after its ")" go. Rules 4 and
// 5 leave table options that hold a ")" themselves (a comment such as
// 'prices (in euro)', a partitioning clause), which no workbook accepts.
inline constexpr DdlRule kDdlClosingRule{",?\n\\)[\\s\\S]*$", "\n)"};

// Lower-cases the text (ASCII letters; other bytes are left alone) and
// applies the six rules and then the closing rule. When the expression
// service fails on a rule, the result is its failure text ("Error").
std::string RewriteDdl(std::string ddl);

}  // namespace migrator
