#include "adapters/mysql/ddl_rewrite.h"

#include "support/regexp_service.h"

namespace migrator {

std::string RewriteDdl(std::string ddl) {
  for (char& c : ddl) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  auto apply = [&ddl](const DdlRule& rule) {
    ddl = RegExpService::Replace(ddl, rule.pattern, rule.replacement);
    return ddl != RegExpService::kFailure;
  };
  for (const DdlRule& rule : kDdlRewriteRules) {
    if (!apply(rule)) return ddl;
  }
  apply(kDdlClosingRule);
  return ddl;
}

}  // namespace migrator
