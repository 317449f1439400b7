#include "cli/configured_source.h"

namespace migrator::cli {

Result<ConnectionSettings> LoadConfiguredSource(const std::string& programDir) {
  return Fail("no --source or --source-dsn given, and reading " + programDir +
              "/migrator.cfg is not available yet");
}

}  // namespace migrator::cli
