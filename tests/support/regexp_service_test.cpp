// RegExpService: the replacement and last-match rules, failure results,
// large inputs, and a differential run against node's RegExp.

#include "support/regexp_service.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "adapters/mysql/ddl_rewrite.h"
#include "testlib/testlib.h"

namespace migrator {
namespace {

using R = RegExpService;

TEST(RegExpService, ReplaceIsGlobalCaseSensitiveAndLeavesMissesAlone) {
  EXPECT_EQ(R::Replace("a-b-c", "-", "+"), "a+b+c");
  EXPECT_EQ(R::Replace("nothing here", "xyz", "!"), "nothing here");
  EXPECT_EQ(R::Replace("", "a", "b"), "");
  EXPECT_EQ(R::Replace("Book.XLS", ".xls$", ""), "Book.XLS");
  EXPECT_EQ(R::Replace("book.xls", ".xls$", ""), "book");
  EXPECT_EQ(R::Replace("a.xls.xls", ".xls$", ""), "a.xls");
  // Greedy.
  EXPECT_EQ(R::Replace("<a><b>", "<.*>", "X"), "X");
}

TEST(RegExpService, LastMatchReturnsOnlyTheLastOrEmpty) {
  EXPECT_EQ(R::LastMatch("a1b22c333", "[0-9]+"), "333");
  EXPECT_EQ(R::LastMatch("abc", "[0-9]+"), "");
  EXPECT_EQ(R::LastMatch("book.xls", ".xls$"), ".xls");
  EXPECT_EQ(R::LastMatch("book.XLS", ".xls$"), "");
  EXPECT_EQ(R::LastMatch("", "x*"), "");
}

TEST(RegExpService, LineBreaksDotDollarAndClasses) {
  // "." stops at a line break, "[^,]" and "\s" cross it.
  EXPECT_EQ(R::Replace("ab\ncd", "a.*", "X"), "X\ncd");
  EXPECT_EQ(R::Replace("ab\r\ncd", "b.", "X"), "ab\r\ncd");
  EXPECT_EQ(R::Replace("ab\ncd,e", "b[^,]*", "X"), "aX,e");
  EXPECT_EQ(R::Replace("a \n\t b", "a\\s*b", "X"), "X");
  // "$" only at the very end, never before a final line break.
  EXPECT_EQ(R::Replace("ab\n", "b$", "X"), "ab\n");
  EXPECT_EQ(R::Replace("ab\ncd", "b$", "X"), "ab\ncd");
  EXPECT_EQ(R::Replace("ab\ncd", "^c", "X"), "ab\ncd");
  // Unicode line and space separators count as JavaScript counts them.
  EXPECT_EQ(R::Replace("a\xE2\x80\xA8"
                       "b",
                       "a.b", "X"),
            "a\xE2\x80\xA8"
            "b");
  EXPECT_EQ(R::Replace("a\xC2\xA0"
                       "b",
                       "a\\sb", "X"),
            "X");
  EXPECT_EQ(R::Replace("\xC3\xA9t\xC3\xA9", ".", "x"), "xxx");
}

TEST(RegExpService, ReplacementDollarForms) {
  EXPECT_EQ(R::Replace("ab", "(a)(b)", "$2$1"), "ba");
  EXPECT_EQ(R::Replace("ab", "a", "$$"), "$b");
  EXPECT_EQ(R::Replace("ab", "a", "[$&]"), "[a]b");
  EXPECT_EQ(R::Replace("xab", "a", "[$`|$']"), "x[x|b]b");
  // A group number beyond the pattern's groups is literal text; $0 too.
  EXPECT_EQ(R::Replace("ab", "(a)", "$2$0"), "$2$0b");
  // "$10" with one group is group 1 followed by "0"; "$01" is group 1.
  EXPECT_EQ(R::Replace("ab", "(a)", "$10|$01"), "a0|ab");
  // A group that did not take part gives nothing.
  EXPECT_EQ(R::Replace("b", "(a)?b", "[$1]"), "[]");
  EXPECT_EQ(R::Replace("ab", "(?<x>a)", "[$<x>$<y>]"), "[a]b");
  EXPECT_EQ(R::Replace("ab", "a", "$<x>"), "$<x>b");
  EXPECT_EQ(R::Replace("ab", "a", "$"), "$b");
}

TEST(RegExpService, EmptyMatchesAdvanceOneCharacter) {
  EXPECT_EQ(R::Replace("abc", "b*", "-"), "-a--c-");
  EXPECT_EQ(R::Replace("\xC3\xA9", "x*", "-"), "-\xC3\xA9-");
  EXPECT_EQ(R::Replace("", "", "-"), "-");
}

TEST(RegExpService, FailuresGiveErrorAndNeverCrash) {
  for (const char* bad : {"(", "[a-", "a{2,1}", "\\", "(?<n>a)(?<n>b)", "*", "a)"}) {
    SCOPED_TRACE(bad);
    EXPECT_EQ(R::Replace("abc", bad, "x"), "Error");
    EXPECT_EQ(R::LastMatch("abc", bad), "Error");
  }
  // Catastrophic backtracking ends at the engine's limits instead of running on.
  const std::string text(40, 'a');
  EXPECT_EQ(R::Replace(text + "!", "^(a|aa)*$", "x"), "Error");
}

TEST(RegExpService, TextsThatAreNotUtf8AreMatchedByteWise) {
  const std::string bad =
      "a\xFF\xFE"
      "b";
  EXPECT_EQ(R::Replace(bad, ".", "x"), "xxxx");
  EXPECT_EQ(R::Replace(bad, "\xFF", "-"),
            "a-\xFE"
            "b");
  EXPECT_EQ(R::LastMatch(bad, "b$"), "b");
}

// A CREATE TABLE text of about `target` characters: many columns of every
// kind, keys and table options.
std::string LargeDdl(std::size_t target) {
  std::string s = "create table `big` (\n";
  for (int i = 0; s.size() < target; ++i) {
    s += "  `c" + std::to_string(i) + "` ";
    switch (i % 4) {
      case 0:
        s += "int(11) not null default '0',\n";
        break;
      case 1:
        s += "varchar(200) default null comment 'note (x), y',\n";
        break;
      case 2:
        s += "decimal(10,2) default null,\n";
        break;
      default:
        s += "text,\n";
        break;
    }
  }
  s += "  primary key (`c0`),\n  key `k1` (`c1`)\n) engine=innodb default charset=utf8mb4";
  return s;
}

TEST(RegExpService, LargeDdlTextsDoNotExhaustTheStack) {
  const std::string ddl = LargeDdl(200'000);
  for (const DdlRule& rule : kDdlRewriteRules) {
    SCOPED_TRACE(rule.pattern);
    EXPECT_NE(R::Replace(ddl, rule.pattern, rule.replacement), "Error");
  }
  // One long line without commas or line breaks, and one of only line breaks.
  for (const std::string& s : {std::string(200'000, 'x'), std::string(200'000, '\n'),
                               "\n`" + std::string(200'000, ' ') + "`"}) {
    for (const DdlRule& rule : kDdlRewriteRules) {
      EXPECT_NE(R::Replace(s, rule.pattern, rule.replacement), "Error");
    }
  }
}

// ---- differential run against node -------------------------------------

std::string Hex(const std::string& s) {
  static const char* digits = "0123456789abcdef";
  std::string h;
  for (unsigned char c : s) {
    h += digits[c >> 4];
    h += digits[c & 15];
  }
  return h;
}

std::string JsonString(const std::string& s) {
  std::string j = "\"";
  for (unsigned char c : s) {
    if (c == '"' || c == '\\') {
      j += '\\';
      j += static_cast<char>(c);
    } else if (c < 0x20) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", c);
      j += buf;
    } else {
      j += static_cast<char>(c);
    }
  }
  return j + "\"";
}

TEST(RegExpService, AgreesWithJavaScriptRegExp) {
  if (testing::RunCommand("node --version >/dev/null 2>&1").status != 0) {
    GTEST_SKIP() << "node is not installed";
  }
  std::vector<std::string> patterns;
  for (const DdlRule& rule : kDdlRewriteRules)
    patterns.push_back(rule.pattern);
  for (const char* p : {".xls$",      "[a-zA-Z]:[\\\\|/]",
                        ".*(\\\\|/)", "b*",
                        "(a)|(b)",    "\\s+",
                        "[^,]*",      ".*",
                        "$",          "^",
                        "x*",         "(`.*`)",
                        "[\\s]",      "[^\\s]",
                        "\\S+",       "[\\s-]",
                        "[\\s\\S]*$", "[\\S]",
                        "key",        "\\)[^\\)]*$",
                        "(k)(e)(y)?", "\\bkey\\b",
                        "\\d+",       "[]",
                        "[^]",        "\\u00e9",
                        "(?:ab)+",    "a|",
                        ".\\n."}) {
    patterns.push_back(p);
  }
  const std::vector<std::string> replacements = {"\n$1 text,", "$1 text)", "",    "[$&]",
                                                 "$2$1",       "$$-$`-$'", "$10", "$0$3"};
  const std::vector<std::string> tokens = {"`",    "`id`", "\n",       "  ",       " ",
                                           ",",    "(",    ")",        "key",      "KEY",
                                           "text", "a",    "b",        "int(11)",  "decimal(10,2)",
                                           "\r",   "$",    "\xC3\xA9", "\xC2\xA0", "\xE2\x80\xA8",
                                           "x",    ".",    "\\",       "/",        "C:",
                                           ".xls", "\t",   "\n)",      ",\n",      "\xE4\xB8\xAD"};
  std::mt19937 rng(20240607);
  std::vector<std::string> texts = {"", "create table `t` (\n  `id` int(11),\n  key (`id`)\n)"};
  for (int i = 0; i < 250; ++i) {
    std::string t;
    const int n = static_cast<int>(rng() % 24);
    for (int k = 0; k < n; ++k)
      t += tokens[rng() % tokens.size()];
    texts.push_back(t);
  }

  struct Case {
    std::string text, pattern, replacement;
  };
  std::vector<Case> cases;
  for (const auto& t : texts) {
    for (const auto& p : patterns) {
      cases.push_back({t, p, replacements[rng() % replacements.size()]});
    }
  }

  testing::TempDir dir;
  std::ostringstream json;
  json << "[";
  for (std::size_t i = 0; i < cases.size(); ++i) {
    if (i) json << ",";
    json << "[" << JsonString(cases[i].text) << "," << JsonString(cases[i].pattern) << ","
         << JsonString(cases[i].replacement) << "]";
  }
  json << "]";
  testing::WriteFile(dir / "cases.json", json.str());
  testing::WriteFile(dir / "run.js", R"JS(
const fs = require('fs');
const cases = JSON.parse(fs.readFileSync(process.argv[2], 'utf8'));
const hex = s => Buffer.from(s, 'utf8').toString('hex');
const out = [];
for (const [text, pattern, rep] of cases) {
  let re;
  try { re = new RegExp(pattern, 'g'); } catch (e) { out.push('!'); out.push('!'); continue; }
  out.push(hex(text.replace(re, rep)));
  const all = [...text.matchAll(new RegExp(pattern, 'g'))];
  out.push(hex(all.length ? all[all.length - 1][0] : ''));
}
fs.writeFileSync(process.argv[3], out.join('\n') + '\n');
)JS");
  const auto run =
      testing::RunCommand("node " + (dir / "run.js").string() + " " +
                          (dir / "cases.json").string() + " " + (dir / "out.txt").string());
  ASSERT_EQ(run.status, 0);
  std::istringstream results(testing::ReadFile(dir / "out.txt"));
  int mismatches = 0;
  std::size_t compared = 0;
  for (const Case& c : cases) {
    std::string wantReplace, wantLast;
    ASSERT_TRUE(std::getline(results, wantReplace));
    ASSERT_TRUE(std::getline(results, wantLast));
    if (wantReplace == "!") continue;  // JavaScript rejects the pattern
    ++compared;
    const std::string gotReplace = Hex(R::Replace(c.text, c.pattern, c.replacement));
    const std::string gotLast = Hex(R::LastMatch(c.text, c.pattern));
    if (gotReplace != wantReplace || gotLast != wantLast) {
      if (++mismatches <= 10) {
        ADD_FAILURE() << "pattern " << JsonString(c.pattern) << " text " << JsonString(c.text)
                      << " replacement " << JsonString(c.replacement) << "\n replace " << gotReplace
                      << " vs node " << wantReplace << "\n last " << gotLast << " vs node "
                      << wantLast;
      }
    }
  }
  EXPECT_EQ(mismatches, 0);
  EXPECT_GT(compared, cases.size() / 2);
}

}  // namespace
}  // namespace migrator
