#include "cli/configured_source.h"

#include <algorithm>
#include <cctype>

#include "config/config_file.h"

namespace migrator::cli {
namespace {

std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

}  // namespace

std::string SourceProviderId(const std::string& providerText) {
  const std::string lower = Lower(providerText);
  if (lower == "microsoft ole db provider for odbc divers" || lower == "tcp/ip:port") {
    return "MSDASQL";
  }
  return providerText;
}

Result<ConnectionSettings> LoadConfiguredSource(const std::string& programDir, Frontend& ui) {
  ConfigFile file(programDir);
  ConfigForm form;
  file.LoadOptions(form, ui);
  if (!form.config) {
    return Fail("no --source or --source-dsn given, and " + file.path() +
                " keeps no connection properties");
  }
  ConnectionSettings s;
  s.providerText = form.source.provider;
  s.providerId = SourceProviderId(form.source.provider);
  s.sourceName = Lower(form.source.sourceName);
  s.userId = form.source.userId;
  s.password = form.source.password;
  s.catalogName = Lower(form.source.catalogName);
  return s;
}

}  // namespace migrator::cli
