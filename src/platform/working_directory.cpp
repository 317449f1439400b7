#include "platform/working_directory.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <system_error>

namespace migrator {
namespace {

constexpr std::size_t kNameMax = 255;

std::string Join(const std::string& dir, const std::string& name) {
  return dir == "/" ? "/" + name : dir + "/" + name;
}

std::string ErrorText(const std::string& what, int code) {
  return what + ": " + std::error_code(code, std::generic_category()).message();
}

}  // namespace

SafeName MakeSafeFileName(std::string_view name) {
  std::string s(name);
  for (char& c : s) {
    if (c == '/' || c == '\\' || c == '\0') c = '_';
  }
  for (std::size_t i = 0; i < s.size();) {
    if (s[i] != '.') {
      ++i;
      continue;
    }
    std::size_t j = i;
    while (j < s.size() && s[j] == '.')
      ++j;
    if (j - i >= 2) s.replace(i, j - i, j - i, '_');
    i = j;
  }
  if (s.empty() || s == ".") s = "_";
  if (s.size() > kNameMax) {
    std::size_t cut = kNameMax;
    while (cut > 0 && (static_cast<unsigned char>(s[cut]) & 0xC0) == 0x80)
      --cut;
    s.resize(cut);
  }
  const bool changed = s != name;
  return {std::move(s), changed};
}

WorkingDirectory::WorkingDirectory(const std::string& path) {
  std::error_code ec;
  std::filesystem::path abs = std::filesystem::absolute(path.empty() ? "." : path, ec);
  if (ec) abs = path;
  path_ = abs.lexically_normal().string();
  while (path_.size() > 1 && path_.back() == '/')
    path_.pop_back();
}

Result<SafeName> WorkingDirectory::Step(std::string_view name) {
  SafeName safe = MakeSafeFileName(name);
  const std::string target = Join(path_, safe.name);
  struct stat st {};
  if (::stat(target.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
    path_ = target;
    return safe;
  }
  struct stat lst {};
  if (::lstat(target.c_str(), &lst) == 0) {
    // A file, a link to something that is not a directory, a fifo...
    if (::unlink(target.c_str()) != 0) return Fail(ErrorText(target, errno), errno);
  }
  if (::mkdir(target.c_str(), 0777) != 0 && errno != EEXIST) {
    return Fail(ErrorText(target, errno), errno);
  }
  if (::stat(target.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    return Fail(target + ": not a directory");
  }
  path_ = target;
  return safe;
}

void WorkingDirectory::Up() {
  const std::size_t slash = path_.find_last_of('/');
  if (slash == std::string::npos || slash == 0) {
    path_ = "/";
  } else {
    path_.resize(slash);
  }
}

Result<WorkingDirectory> WorkingDirectory::Enter(const std::string& path) {
  WorkingDirectory dir(path);
  const std::string& target = dir.path_;
  struct stat st {};
  if (::stat(target.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) return dir;
    return Fail(target + ": not a directory", ENOTDIR);
  }
  if (::mkdir(target.c_str(), 0777) != 0 && errno != EEXIST) {
    return Fail(ErrorText(target, errno), errno);
  }
  if (::stat(target.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    return Fail(target + ": not a directory", ENOTDIR);
  }
  return dir;
}

std::FILE* OpenOwnerOnly(const std::string& path) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return nullptr;
  std::FILE* f = ::fchmod(fd, 0600) == 0 ? ::fdopen(fd, "w") : nullptr;
  if (!f) {
    const int error = errno;
    ::close(fd);
    errno = error;
  }
  return f;
}

SafePath WorkingDirectory::File(std::string_view fileName) const {
  SafeName safe = MakeSafeFileName(fileName);
  return {Join(path_, safe.name), safe.changed};
}

}  // namespace migrator
