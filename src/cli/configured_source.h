#pragma once
// The source settings kept in migrator.cfg, for commands given no source.

#include <string>

#include "app/workspace.h"
#include "platform/result.h"

namespace migrator::cli {

// The SourceDB section of programDir/migrator.cfg as the configuration dialog
// would hand it to the window.
Result<ConnectionSettings> LoadConfiguredSource(const std::string& programDir);

}  // namespace migrator::cli
