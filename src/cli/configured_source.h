#pragma once
// The source settings kept in migrator.cfg, for commands given no source.

#include <string>

#include "app/frontend.h"
#include "app/workspace.h"
#include "platform/result.h"

namespace migrator::cli {

// The SourceDB section of programDir/migrator.cfg as the configuration dialog
// hands it to the window on Connect: provider identifier derived from the
// provider text, source name and catalog lower-cased. Fails when the file is
// missing or keeps no connection properties (its Config option is off).
Result<ConnectionSettings> LoadConfiguredSource(const std::string& programDir, Frontend& ui);

// The provider identifier for a source provider text.
std::string SourceProviderId(const std::string& providerText);

}  // namespace migrator::cli
