#pragma once
// The program's directory: where migrator.cfg, Condition.cfg, the data cache
// and the backup tree live.

#include <string>

namespace migrator {

inline constexpr const char* kHomeVariable = "MIGRATOR_HOME";

// The directory of the running executable (/proc/self/exe), or the value of
// MIGRATOR_HOME when that is set and not empty (tests, installed copies). The
// result is absolute and has no trailing "/" (except for "/" itself). When
// neither can be found, the current directory.
std::string ProgramDirectory();

}  // namespace migrator
