#include <cstdio>

#include "cli/commands.h"

namespace migrator::cli {

int RunDrivers(const Args&) {
  std::fprintf(stderr, "migrator-cli drivers: not built yet\n");
  return 2;
}

}  // namespace migrator::cli
