// Times RegExpService::Replace with each DDL rewriting rule over large texts:
// a realistic CREATE TABLE of about 200,000 characters and a few texts shaped
// to make the rules backtrack. Prints milliseconds and MB/s per rule, and the
// growth of the one known quadratic shape.
//
//   support_regex_bench [characters]

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include <sys/resource.h>

#include "adapters/mysql/ddl_rewrite.h"
#include "bench_clock.h"
#include "support/regexp_service.h"

using migrator::DdlRule;
using migrator::kDdlRewriteRules;
using migrator::RegExpService;

namespace {

std::string RealisticDdl(std::size_t target) {
  std::string s = "create table `big` (\n";
  for (int i = 0; s.size() < target; ++i) {
    s += "  `column_" + std::to_string(i) + "` ";
    switch (i % 5) {
      case 0:
        s += "int(11) not null default '0',\n";
        break;
      case 1:
        s += "varchar(200) default null comment 'note (x), y',\n";
        break;
      case 2:
        s += "decimal(10,2) default null,\n";
        break;
      case 3:
        s += "datetime default current_timestamp(),\n";
        break;
      default:
        s += "text,\n";
        break;
    }
  }
  s += "  primary key (`column_0`),\n  key `k1` (`column_1`),\n  unique key `k2` (`column_2`)\n"
       ") engine=innodb default charset=utf8mb4 comment='big (table)'";
  return s;
}

// Lines without a single comma: rule 3's "[^,]*" runs to the end of the text
// from every line break.
std::string NoCommas(std::size_t target) {
  std::string s;
  while (s.size() < target)
    s += "\n  `c` int(11) not null key";
  return s;
}

// Back-quoted names with long runs of blanks and line breaks after them, for
// the "\s*.*" of rules 1, 2 and 6.
std::string BlankRuns(std::size_t target) {
  std::string s;
  while (s.size() < target)
    s += "\n `a`" + std::string(200, ' ') + "\n" + std::string(50, ')');
  return s;
}

// One very long line between two back quotes.
std::string LongLine(std::size_t target) {
  return "\n  `" + std::string(target, 'x') + "` int" + std::string(target / 10, ')');
}

// Empty lines and no "key": in its plain form rule 3 tries every line break
// and each attempt runs to the end of the text, so the time grows with the
// square of the length; the rule as written fails once for the whole run.
std::string EmptyLines(std::size_t n) {
  return std::string(n, '\n') + "y";
}

}  // namespace

int main(int argc, char** argv) {
  const std::size_t size = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 200'000;
  const std::vector<std::pair<const char*, std::string>> texts = {
      {"realistic DDL", RealisticDdl(size)}, {"no commas", NoCommas(size)},
      {"blank runs", BlankRuns(size)},       {"long line", LongLine(size)},
      {"empty lines", EmptyLines(size)},
  };
  double worst = 0;
  for (const auto& [name, text] : texts) {
    std::printf("%s, %zu characters\n", name, text.size());
    for (std::size_t r = 0; r < kDdlRewriteRules.size(); ++r) {
      const DdlRule& rule = kDdlRewriteRules[r];
      const auto t0 = std::chrono::steady_clock::now();
      const std::string out = RegExpService::Replace(text, rule.pattern, rule.replacement);
      const double ms =
          std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
      worst = ms > worst ? ms : worst;
      std::printf("  rule %zu: %9.2f ms  %9.1f MB/s  -> %zu characters%s\n", r + 1, ms,
                  static_cast<double>(text.size()) / 1e6 / (ms / 1e3), out.size(),
                  out == RegExpService::kFailure ? " (limit reached: Error)" : "");
    }
    const auto t0 = std::chrono::steady_clock::now();
    const std::string rewritten = migrator::RewriteDdl(text);
    const double ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
    std::printf("  RewriteDdl (six rules, closing rule): %.2f ms -> %zu characters\n", ms,
                rewritten.size());
  }
  for (std::size_t n : {10'000u, 20'000u, 40'000u}) {
    const std::string text = EmptyLines(n);
    const auto t0 = std::chrono::steady_clock::now();
    const std::string out = RegExpService::Replace(text, migrator::kDdlKeyLineRulePlain, "");
    const double ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
    std::printf("empty lines, %zu characters, rule 3 in its plain form: %.2f ms%s\n", text.size(),
                ms, out == RegExpService::kFailure ? " (Error)" : "");
  }
  std::printf("slowest single replacement: %.2f ms; peak memory %.1f MiB\n", worst,
              migrator::bench::PeakMiB());
  return 0;
}
