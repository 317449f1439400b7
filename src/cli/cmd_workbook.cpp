#include <cstdio>

#include "cli/commands.h"

namespace migrator::cli {

int RunWorkbook(const Args&) {
  std::fprintf(stderr, "migrator-cli workbook: not built yet\n");
  return 2;
}

}  // namespace migrator::cli
