#include "adapters/mysql/ddl_rewrite.h"

#include "support/regexp_service.h"

namespace migrator {

std::string RewriteDdl(std::string ddl) {
  for (char& c : ddl) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  for (const DdlRule& rule : kDdlRewriteRules) {
    ddl = RegExpService::Replace(ddl, rule.pattern, rule.replacement);
    if (ddl == RegExpService::kFailure) break;
  }
  return ddl;
}

}  // namespace migrator
