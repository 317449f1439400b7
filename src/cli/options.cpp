#include "cli/options.h"

namespace migrator::cli {

bool TakeValue(const Args& args, std::size_t& i, std::optional<std::string>& into) {
  if (i + 1 >= args.size() || into) return false;
  into = args[++i];
  return true;
}

bool TakeScopeOption(const Args& args, std::size_t& i, ObjectScope& into, bool& bad) {
  const std::string& a = args[i];
  if (a == "--table") {
    bad = !TakeValue(args, i, into.table);
    into.scope = Scope::Table;
  } else if (a == "--tables") {
    into.scope = Scope::Tables;
  } else if (a == "--views") {
    into.scope = Scope::Views;
  } else {
    return false;
  }
  ++into.given;
  return true;
}

}  // namespace migrator::cli
