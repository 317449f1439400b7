#include <cstdio>

#include "cli/commands.h"

namespace migrator::cli {

int RunSql(const Args&) {
  std::fprintf(stderr, "migrator-cli sql: not built yet\n");
  return 2;
}

}  // namespace migrator::cli
