#include "platform/program_dir.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace migrator {
namespace {

std::string Normal(const std::filesystem::path& p) {
  std::error_code ec;
  std::filesystem::path abs = std::filesystem::absolute(p, ec);
  if (ec) abs = p;
  std::string s = abs.lexically_normal().string();
  while (s.size() > 1 && s.back() == '/')
    s.pop_back();
  return s;
}

}  // namespace

std::string ProgramDirectory() {
  if (const char* home = std::getenv(kHomeVariable); home && *home) return Normal(home);
  std::error_code ec;
  const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (!ec && exe.has_parent_path()) return Normal(exe.parent_path());
  const std::filesystem::path cwd = std::filesystem::current_path(ec);
  return ec ? std::string("/") : Normal(cwd);
}

}  // namespace migrator
