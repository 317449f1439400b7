#include "platform/program_dir.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <system_error>
#include <vector>

#include "install_dirs.h"

namespace migrator {
namespace {

namespace fs = std::filesystem;

std::string Normal(const fs::path& p) {
  std::error_code ec;
  fs::path abs = fs::absolute(p, ec);
  if (ec) abs = p;
  std::string s = abs.lexically_normal().string();
  while (s.size() > 1 && s.back() == '/')
    s.pop_back();
  return s;
}

bool IsFile(const fs::path& p) {
  std::error_code ec;
  return fs::is_regular_file(p, ec);
}

std::string HomeDirectory() {
  if (const char* home = std::getenv("HOME"); home && home[0] == '/') return home;
  std::vector<char> buf(16384);
  passwd pw{};
  passwd* found = nullptr;
  if (::getpwuid_r(::getuid(), &pw, buf.data(), buf.size(), &found) == 0 && found &&
      found->pw_dir && found->pw_dir[0] == '/')
    return found->pw_dir;
  std::error_code ec;
  const fs::path cwd = fs::current_path(ec);
  return ec ? std::string("/") : cwd.string();
}

// Creates every missing directory of `dir` with owner-only permissions (the
// XDG rule for a data directory that is not there yet). Existing directories
// keep theirs. A failure is left for the first write there to report.
void MakePrivateDirectories(const std::string& dir) {
  fs::path prefix;
  for (const fs::path& part : fs::path(dir)) {
    prefix /= part;
    if (::mkdir(prefix.c_str(), 0700) != 0 && errno != EEXIST) return;
  }
}

}  // namespace

bool RunsFromBuildTree(const fs::path& executable) {
  for (fs::path dir = executable.parent_path(); !dir.empty(); dir = dir.parent_path()) {
    if (IsFile(dir / kBuildTreeMarker)) return true;
    if (dir == dir.root_path()) break;
  }
  return false;
}

std::string UserDataDirectory() {
  if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && xdg[0] == '/')
    return Normal(fs::path(xdg) / "migrator");
  return Normal(fs::path(HomeDirectory()) / ".local/share/migrator");
}

std::string ProgramDirectoryFor(const fs::path& executable) {
  if (const char* home = std::getenv(kHomeVariable); home && *home) return Normal(home);
  if (RunsFromBuildTree(executable)) return Normal(executable.parent_path());
  std::string dir = UserDataDirectory();
  MakePrivateDirectories(dir);
  return dir;
}

std::string ProgramDirectory() {
  std::error_code ec;
  const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  if (!ec && exe.has_parent_path()) return ProgramDirectoryFor(exe);
  if (const char* home = std::getenv(kHomeVariable); home && *home) return Normal(home);
  const fs::path cwd = fs::current_path(ec);
  return ec ? std::string("/") : Normal(cwd);
}

std::string ManualIndexFor(const fs::path& executable, const std::string& programDir) {
  const fs::path exeDir = executable.parent_path();
  const bool installed = !exeDir.empty() && !RunsFromBuildTree(executable);
  const fs::path candidates[] = {
      exeDir.empty() ? fs::path() : exeDir / "manual/index.html",
      installed ? exeDir / MIGRATOR_MANUAL_FROM_BINDIR / "index.html" : fs::path(),
      fs::path(programDir) / "manual/index.html",
  };
  for (const fs::path& p : candidates) {
    if (!p.empty() && IsFile(p)) return Normal(p);
  }
  return Normal(installed ? candidates[1] : candidates[2]);
}

std::string ManualIndex(const std::string& programDir) {
  std::error_code ec;
  const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  return ManualIndexFor(ec ? fs::path() : exe, programDir);
}

}  // namespace migrator
