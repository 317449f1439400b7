#include "config/driver_check.h"

#include "platform/text.h"

#include <glob.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/frontend.h"
#include "providers/registry.h"
#include "support/profile_file.h"

namespace migrator {
namespace fs = std::filesystem;

namespace {

constexpr const char* kOdbcProviderName = "Microsoft OLE DB Provider for ODBC Drivers";
constexpr const char* kJetProviderName = "Microsoft Jet 4.0 OLE DB Provider";

#if defined(__x86_64__)
constexpr const char* kMultiarch = "x86_64-linux-gnu";
#elif defined(__aarch64__)
constexpr const char* kMultiarch = "aarch64-linux-gnu";
#elif defined(__i386__)
constexpr const char* kMultiarch = "i386-linux-gnu";
#else
constexpr const char* kMultiarch = "";
#endif

std::string Trim(std::string_view s) {
  const char* ws = " \t\r\n";
  const auto b = s.find_first_not_of(ws);
  if (b == std::string_view::npos) return {};
  const auto e = s.find_last_not_of(ws);
  return std::string(s.substr(b, e - b + 1));
}

std::string Env(const char* name) {
  const char* v = std::getenv(name);
  return v ? std::string(v) : std::string();
}

bool ReadWholeFile(const std::string& path, std::string& out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream ss;
  ss << in.rdbuf();
  out = ss.str();
  return !in.bad();
}

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::string line;
  std::istringstream in(text);
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

// The sections of a driver file in file order, with their keys and values,
// read with the profile rules (the first of duplicated sections counts).
std::vector<OdbcDriverEntry> ReadDriverFile(const std::string& path) {
  std::vector<OdbcDriverEntry> sections;
  std::string text;
  if (path.empty() || !ReadWholeFile(path, text)) return sections;
  const ProfileText profile = ProfileText::Parse(text);
  for (auto& name : profile.SectionNames()) {
    OdbcDriverEntry entry{name, {}};
    for (auto& key : profile.KeyNames(name)) {
      entry.values.emplace_back(key, profile.Get(name, key).value_or(std::string()));
    }
    sections.push_back(std::move(entry));
  }
  return sections;
}

// The loader's configured directories: /etc/ld.so.conf and its includes.
void ReadLoaderConfig(const std::string& path, std::vector<std::string>& dirs, int depth) {
  if (depth > 8) return;
  std::string text;
  if (!ReadWholeFile(path, text)) return;
  for (const auto& raw : SplitLines(text)) {
    std::string line = Trim(raw);
    if (const auto hash = line.find('#'); hash != std::string::npos)
      line = Trim(line.substr(0, hash));
    if (line.empty()) continue;
    if (line.rfind("include", 0) == 0 && line.size() > 7 && (line[7] == ' ' || line[7] == '\t')) {
      std::string pattern = Trim(line.substr(8));
      if (!pattern.empty() && pattern[0] != '/') {
        pattern = fs::path(path).parent_path().string() + "/" + pattern;
      }
      glob_t g{};
      if (glob(pattern.c_str(), 0, nullptr, &g) == 0) {
        for (std::size_t i = 0; i < g.gl_pathc; ++i) {
          ReadLoaderConfig(g.gl_pathv[i], dirs, depth + 1);
        }
      }
      globfree(&g);
      continue;
    }
    if (line[0] == '/') dirs.push_back(line);
  }
}

void AddDir(std::vector<std::string>& dirs, const std::string& dir) {
  if (dir.empty()) return;
  if (std::find(dirs.begin(), dirs.end(), dir) == dirs.end()) dirs.push_back(dir);
}

std::string Lookup(const DriverCheckEnvironment& env, const std::string& name) {
  if (env.variables) {
    const auto it = env.variables->find(name);
    return it == env.variables->end() ? std::string() : it->second;
  }
  return name.empty() ? std::string() : Env(name.c_str());
}

// A probe row's name never carries the field separator.
std::string RowName(std::string name) {
  std::replace(name.begin(), name.end(), '|', '!');
  return name;
}

void AppendRow(std::string& out, const std::string& name, const char* state,
               const char* usability) {
  out += RowName(name);
  out += '|';
  out += state;
  out += '|';
  out += usability;
  out += '|';
}

// The provider row; returns whether the provider is usable.
bool AppendProviderRow(std::string& out, const char* name, bool installed,
                       const std::string& library, const DriverCheckEnvironment& env) {
  out += name;
  out += '|';
  if (!installed) {
    out += "Not Installed|Unusable|";
    return false;
  }
  out += "Installed|";
  const bool usable = library.empty() || IsUsableLibrary(library, env);
  out += usable ? "Usable|" : "Unusable|";
  return usable;
}

const std::string* FindValue(const OdbcDriverEntry& d, std::string_view key) {
  for (const auto& [k, v] : d.values) {
    if (EqualNoCase(k, key)) return &v;
  }
  return nullptr;
}

// Both libraries of a driver usable; "Setup" is optional with unixODBC and is
// tested only when the driver names one.
bool DriverUsable(const OdbcDriverEntry& d, const DriverCheckEnvironment& env) {
  const std::string* driver = FindValue(d, "Driver");
  if (!driver || !IsUsableLibrary(*driver, env)) return false;
  const std::string* setup = FindValue(d, "Setup");
  return !setup || IsUsableLibrary(*setup, env);
}

template <class Match>
void AppendDriverRows(std::string& out, const DriverCheckEnvironment& env, Match match,
                      const char* fallback) {
  bool any = false;
  for (const auto& d : InstalledOdbcDrivers(env)) {
    if (!match(d.name)) continue;
    any = true;
    AppendRow(out, d.name, "Installed", DriverUsable(d, env) ? "Usable" : "Unusable");
  }
  if (!any) out += fallback;
}

bool HasLineBreak(const std::string& s) {
  return s.find_first_of("\r\n") != std::string::npos;
}

}  // namespace

DriverCheckEnvironment DriverCheckEnvironment::FromProcess() {
  DriverCheckEnvironment env;
  // The providers compiled into the program stand in for registered classes.
  const providers::ProviderEntry* odbc = providers::FindProvider("MSDASQL");
  env.odbcProviderInstalled = odbc != nullptr;
  if (odbc) env.odbcProviderLibrary = std::string(odbc->library);
  env.jetProviderInstalled = providers::FindProvider("Microsoft.Jet.OLEDB.4.0") != nullptr;
  const std::string sysDir = std::getenv("ODBCSYSINI") ? Env("ODBCSYSINI") : "/etc";
  const std::string sysName = std::getenv("ODBCINSTINI") ? Env("ODBCINSTINI") : "odbcinst.ini";
  env.systemDriverFile = sysDir + "/" + sysName;
  const std::string home = std::getenv("HOME") ? Env("HOME") : "/home";
  env.userDriverFile = home + "/.odbcinst.ini";
  env.systemDataSourceFile = sysDir + "/odbc.ini";
  env.userDataSourceFile = std::getenv("ODBCINI") ? Env("ODBCINI") : home + "/.odbc.ini";

  std::string ld = Env("LD_LIBRARY_PATH");
  std::size_t start = 0;
  while (start <= ld.size()) {
    const auto stop = ld.find_first_of(":;", start);
    AddDir(env.libraryDirs,
           ld.substr(start, stop == std::string::npos ? std::string::npos : stop - start));
    if (stop == std::string::npos) break;
    start = stop + 1;
  }
  std::vector<std::string> configured;
  ReadLoaderConfig("/etc/ld.so.conf", configured, 0);
  for (const auto& d : configured)
    AddDir(env.libraryDirs, d);
  const std::string arch = kMultiarch;
  if (!arch.empty()) {
    AddDir(env.libraryDirs, "/lib/" + arch);
    AddDir(env.libraryDirs, "/usr/lib/" + arch);
  }
  for (const char* d : {"/lib", "/usr/lib", "/lib64", "/usr/lib64"})
    AddDir(env.libraryDirs, d);
  // unixODBC's driver directory, where Debian's driver packages put their
  // libraries and register them by bare name.
  if (!arch.empty()) AddDir(env.libraryDirs, "/usr/lib/" + arch + "/odbc");
  AddDir(env.libraryDirs, "/usr/lib/odbc");
  return env;
}

std::vector<OdbcDriverEntry> InstalledOdbcDrivers(const DriverCheckEnvironment& env) {
  std::vector<OdbcDriverEntry> drivers;
  auto add = [&](std::vector<OdbcDriverEntry> sections) {
    for (auto& s : sections) {
      if (EqualNoCase(s.name, "ODBC")) continue;
      const bool known = std::any_of(drivers.begin(), drivers.end(),
                                     [&](const auto& d) { return EqualNoCase(d.name, s.name); });
      if (!known) drivers.push_back(std::move(s));
    }
  };
  add(ReadDriverFile(env.systemDriverFile));
  if (env.userDriverFile != env.systemDriverFile) add(ReadDriverFile(env.userDriverFile));
  return drivers;
}

std::string ExpandEnvironmentRefs(std::string_view path, const DriverCheckEnvironment& env) {
  std::string out;
  std::size_t pos = 0;
  while (pos < path.size()) {
    const auto open = path.find('%', pos);
    if (open == std::string_view::npos) break;
    const auto close = path.find('%', open + 1);
    if (close == std::string_view::npos) break;
    out.append(path.substr(pos, open - pos));
    out += Lookup(env, std::string(path.substr(open + 1, close - open - 1)));
    pos = close + 1;
  }
  out.append(path.substr(std::min(pos, path.size())));
  return out;
}

std::string ResolveLibrary(const std::string& path, const DriverCheckEnvironment& env) {
  if (path.empty()) return {};
  std::error_code ec;
  if (path.find('/') != std::string::npos) {
    return fs::exists(path, ec) ? path : std::string();
  }
  for (const auto& dir : env.libraryDirs) {
    const std::string candidate = dir + "/" + path;
    if (fs::exists(candidate, ec) && !fs::is_directory(candidate, ec)) return candidate;
  }
  return {};
}

bool IsUsableLibrary(std::string_view path, const DriverCheckEnvironment& env) {
  const std::string resolved = ResolveLibrary(ExpandEnvironmentRefs(path, env), env);
  if (resolved.empty()) return false;
  std::error_code ec;
  return fs::exists(resolved, ec) && !fs::is_directory(resolved, ec);
}

bool IsMySqlDriverName(std::string_view name) {
  return name.find("MySQL ODBC") != std::string_view::npos ||
         name.find("MariaDB") != std::string_view::npos;
}

std::string SourceProbe(const DriverCheckEnvironment& env) {
  std::string out;
  if (!AppendProviderRow(out, kOdbcProviderName, env.odbcProviderInstalled, env.odbcProviderLibrary,
                         env)) {
    return out;
  }
  AppendDriverRows(
      out, env, [](const std::string& n) { return IsMySqlDriverName(n); },
      "MySQL ODBC Driver|Not installed|Unusable|");
  return out;
}

std::string TargetProbe(const DriverCheckEnvironment& env) {
  std::string out;
  AppendProviderRow(out, kJetProviderName, env.jetProviderInstalled, {}, env);
  if (!AppendProviderRow(out, kOdbcProviderName, env.odbcProviderInstalled, env.odbcProviderLibrary,
                         env)) {
    return out;
  }
  AppendDriverRows(
      out, env, [](const std::string& n) { return n.find("Excel") != std::string::npos; },
      "Microsoft Access Driver|Not installed|Unusable|");
  return out;
}

std::string MySqlDriverProbe(int k, const DriverCheckEnvironment& env) {
  if (k < 1) return {};
  int number = 0;
  for (const auto& d : InstalledOdbcDrivers(env)) {
    if (!IsMySqlDriverName(d.name)) continue;
    if (++number == k) return DriverUsable(d, env) ? d.name : std::string();
  }
  return {};
}

std::string MySqlDriverProbe(int k) {
  return MySqlDriverProbe(k, DriverCheckEnvironment::FromProcess());
}

std::vector<std::string> DataSourceNamesOfKind(std::string_view kind,
                                               const DriverCheckEnvironment& env) {
  // Driver descriptions a kind's data sources begin with.
  static const std::pair<const char*, std::vector<std::string_view>> kPrefixes[] = {
      {"mssql", {"SQL Server"}},
      {"sybase", {"Sybase"}},
      {"sybaseiq", {"Adaptive Server IQ"}},
      {"excel", {"Driver do Microsoft Excel", "Microsoft Excel Driver"}},
      {"access", {"Driver do Microsoft Access", "Microsoft Access Driver"}},
      {"oracle", {"Microsoft ODBC for Oracle", "Oracle in"}},
  };
  const bool mysql = EqualNoCase(kind, "mysql");
  const std::vector<std::string_view>* prefixes = nullptr;
  for (const auto& [name, list] : kPrefixes) {
    if (EqualNoCase(kind, name)) prefixes = &list;
  }
  if (!mysql && !prefixes) return {};
  auto fits = [&](std::string_view driver) {
    if (mysql) return IsMySqlDriverName(driver);
    return std::any_of(prefixes->begin(), prefixes->end(),
                       [&](std::string_view p) { return driver.substr(0, p.size()) == p; });
  };

  const std::vector<OdbcDriverEntry> drivers = InstalledOdbcDrivers(env);
  // A library path stands for the installed driver that names it.
  auto driverName = [&](const std::string& value) {
    if (value.find('/') == std::string::npos) return value;
    for (const auto& d : drivers) {
      const std::string* lib = FindValue(d, "Driver");
      if (lib && *lib == value) return d.name;
    }
    return value;
  };

  std::vector<std::string> names, seen;
  auto add = [&](const std::string& file) {
    std::vector<OdbcDriverEntry> sections = ReadDriverFile(file);
    const OdbcDriverEntry* listed = nullptr;
    for (const auto& s : sections) {
      if (EqualNoCase(s.name, "ODBC Data Sources")) listed = &s;
    }
    for (const auto& s : sections) {
      if (EqualNoCase(s.name, "ODBC Data Sources") || EqualNoCase(s.name, "ODBC")) continue;
      // The user's data source hides the system's of the same name.
      if (std::any_of(seen.begin(), seen.end(),
                      [&](const std::string& n) { return EqualNoCase(n, s.name); })) {
        continue;
      }
      seen.push_back(s.name);
      const std::string* driver = FindValue(s, "Driver");
      if (!driver && listed) driver = FindValue(*listed, s.name);
      if (driver && fits(driverName(*driver))) names.push_back(s.name);
    }
  };
  if (env.userDataSourceFile != env.systemDataSourceFile) add(env.userDataSourceFile);
  add(env.systemDataSourceFile);
  std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
    const std::string la = ToLowerAscii(a), lb = ToLowerAscii(b);
    return la != lb ? la < lb : a < b;
  });
  return names;
}

std::vector<ProbeRow> ParseProbeRows(std::string_view text) {
  std::vector<ProbeRow> rows;
  std::vector<std::string> fields;
  std::size_t pos = 0;
  while (pos < text.size()) {
    const auto bar = text.find('|', pos);
    if (bar == std::string_view::npos) break;
    fields.emplace_back(text.substr(pos, bar - pos));
    pos = bar + 1;
    if (fields.size() == 3) {
      rows.push_back({fields[0], fields[1], fields[2]});
      fields.clear();
    }
  }
  return rows;
}

std::vector<ProbeRow> CheckDialogSourceRows(std::string_view sourceProbe) {
  std::vector<ProbeRow> rows = ParseProbeRows(sourceProbe);
  // The first row is the ODBC provider; TCP/IP:Port works only through a
  // usable MySQL driver row after it.
  const bool usable = rows.size() > 1 && std::any_of(rows.begin() + 1, rows.end(), [](auto& r) {
                        return r.usability == "Usable";
                      });
  rows.push_back({"TCP/IP:Port", "N/A", usable ? "Usable" : "Unusable"});
  return rows;
}

InstallOutcome InstallMySqlOdbcDriver(Frontend& frontend, const std::string& packageDir,
                                      const DriverCheckEnvironment& env) {
  InstallOutcome outcome;
  const auto folder = frontend.ChooseFolder("Please choise install directory:");
  if (!folder) {
    frontend.PostCommand(kDriverCheckCommand);
    outcome.reopened = true;
    return outcome;
  }
  const std::string driverFile = packageDir + "/libmyodbc3.so";
  const std::string setupFile = packageDir + "/libmyodbc3S.so";
  std::error_code ec;
  if (fs::is_regular_file(driverFile, ec) && fs::is_regular_file(setupFile, ec)) {
    // The folder is checked before anything is copied into it: it must be a
    // folder, named by an absolute path (the driver file names it for every
    // program), on one line (a line break would start a new line of the
    // driver file).
    if (folder->empty() || folder->front() != '/' || HasLineBreak(*folder) ||
        folder->find('\0') != std::string::npos || !fs::is_directory(*folder, ec)) {
      frontend.Tell("Registering, Driver Error!");
      return outcome;
    }
    const std::string driverPath = *folder + "/libmyodbc3.so";
    const std::string setupPath = *folder + "/libmyodbc3S.so";
    fs::copy_file(driverFile, driverPath, fs::copy_options::skip_existing, ec);
    fs::copy_file(setupFile, setupPath, fs::copy_options::skip_existing, ec);
    const ProfileEntry entries[] = {{kMySqlOdbc351Driver, "Driver", driverPath},
                                    {kMySqlOdbc351Driver, "Setup", setupPath},
                                    {kMySqlOdbc351Driver, "UsageCount", "2"}};
    if (!ProfileFile(env.userDriverFile, 0644).Write(entries)) {
      frontend.Tell("Write Register Error!");
      return outcome;
    }
    frontend.Tell("MySQL ODBC 3.51 Driver installed successfully!");
    outcome.installed = true;
  }
  outcome.closeDialog = true;
  frontend.PostCommand(kDriverCheckCommand);
  outcome.reopened = true;
  return outcome;
}

}  // namespace migrator
