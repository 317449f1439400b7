#include <cstdio>

#include "cli/commands.h"
#include "config/driver_check.h"

namespace migrator::cli {

// The rows of the driver check: the source rows with the TCP/IP:Port row,
// then the target rows, one "name|state|usability|" per line.
int RunDrivers(const Args& args) {
  if (!args.empty()) {
    std::fprintf(stderr, "migrator-cli drivers: takes no arguments\n");
    return 2;
  }
  const auto env = DriverCheckEnvironment::FromProcess();
  auto print = [](const ProbeRow& r) {
    std::printf("%s|%s|%s|\n", r.name.c_str(), r.state.c_str(), r.usability.c_str());
  };
  for (const auto& r : CheckDialogSourceRows(SourceProbe(env)))
    print(r);
  for (const auto& r : ParseProbeRows(TargetProbe(env)))
    print(r);
  return 0;
}

}  // namespace migrator::cli
