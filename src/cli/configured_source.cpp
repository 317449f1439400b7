#include "cli/configured_source.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>

#include "cli/source_url.h"
#include "config/config_file.h"

namespace migrator::cli {
namespace {

std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

// The password asked for on the terminal, without echo; none without one.
std::optional<std::string> AskPassword(const std::string& user) {
  const int fd = ::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  termios old{};
  if (::tcgetattr(fd, &old) != 0) {
    ::close(fd);
    return std::nullopt;
  }
  const std::string prompt = "Password for " + user + ": ";
  (void)!::write(fd, prompt.data(), prompt.size());
  termios quiet = old;
  quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
  ::tcsetattr(fd, TCSAFLUSH, &quiet);
  std::string password;
  char c;
  while (::read(fd, &c, 1) == 1 && c != '\n' && c != '\r')
    password += c;
  ::tcsetattr(fd, TCSAFLUSH, &old);
  (void)!::write(fd, "\n", 1);
  ::close(fd);
  return password;
}

}  // namespace

void CompletePassword(ConnectionSettings& settings, bool given) {
  if (given || settings.userId.empty() || !settings.password.empty()) return;
  if (const char* env = std::getenv("MIGRATOR_SOURCE_PASSWORD")) {
    settings.password = env;
  } else if (::isatty(STDIN_FILENO)) {
    if (auto asked = AskPassword(settings.userId)) settings.password = std::move(*asked);
  }
}

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

bool TakeSourceOption(const std::vector<std::string>& args, std::size_t& i, SourceOptions& into,
                      bool& bad) {
  std::optional<std::string>* field = nullptr;
  if (args[i] == "--source") {
    field = &into.url;
  } else if (args[i] == "--source-dsn") {
    field = &into.dsn;
  } else if (args[i] == "--user") {
    field = &into.user;
  } else if (args[i] == "--password") {
    field = &into.password;
  } else {
    return false;
  }
  if (i + 1 >= args.size()) {
    bad = true;
  } else {
    *field = args[++i];
  }
  return true;
}

bool SourceOptionsValid(const SourceOptions& o) {
  return !(o.url && o.dsn) && !(o.url && (o.user || o.password));
}

Result<ConnectionSettings> SourceSettings(const SourceOptions& options,
                                          const std::string& programDir, Frontend& ui) {
  if (!options.url && !options.dsn) return LoadConfiguredSource(programDir, ui);
  ConnectionSettings settings;
  if (options.url) {
    auto parsed = ParseMySqlUrl(*options.url);
    if (!parsed) return parsed.error();
    settings = std::move(*parsed);
  } else {
    settings = DsnSettings(*options.dsn, options.user.value_or(""), options.password.value_or(""));
  }
  CompletePassword(settings, (options.url && HasPassword(*options.url)) || options.password);
  return settings;
}

}  // namespace migrator::cli
