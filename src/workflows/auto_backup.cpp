#include "workflows/auto_backup.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>

#include "app/output.h"
#include "workflows/backup.h"

namespace migrator {
namespace {

// Copies the file at `from` into a new file `to` (never an existing one) and
// syncs it; an errno text on failure, with nothing left at `to`.
Status CopyNew(const std::string& from, const std::string& to) {
  const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return Fail(std::strerror(errno), errno);
  // Private: it is a full copy of the person's data.
  const int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (out < 0) {
    const int e = errno;
    ::close(in);
    return Fail(std::strerror(e), e);
  }
  int failed = 0;
  char buffer[1 << 16];
  for (;;) {
    const ssize_t n = ::read(in, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) failed = errno;
    if (n <= 0) break;
    for (ssize_t done = 0; done < n && !failed;) {
      const ssize_t w = ::write(out, buffer + done, static_cast<std::size_t>(n - done));
      if (w < 0 && errno != EINTR) failed = errno;
      if (w > 0) done += w;
    }
    if (failed) break;
  }
  if (!failed && ::fsync(out) != 0) failed = errno;
  if (::close(out) != 0 && !failed) failed = errno;
  ::close(in);
  if (failed) {
    ::unlink(to.c_str());
    return Fail(std::strerror(failed), failed);
  }
  return {};
}

}  // namespace

bool AutoBackupWorkbook(Workspace& ws, const std::string& workbook) {
  if (!ws.AutoBackup()) return true;
  struct stat st {};
  if (::stat(workbook.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return true;
  Frontend& ui = ws.frontend();
  auto fail = [&](const std::string& why) {
    WriteOutput(ui, "E::Auto Backup: [%s] could not be copied (%s); it is left unchanged.",
                workbook.c_str(), why.c_str());
    return false;
  };
  auto root = EnterBackupRoot(ws);
  if (!root) return fail(root.message());

  const auto slash = workbook.find_last_of('/');
  const std::string name = slash == std::string::npos ? workbook : workbook.substr(slash + 1);
  const auto dot = name.find_last_of('.');
  const std::string stem = dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
  const std::string extension = stem.size() == name.size() ? ".xls" : name.substr(stem.size());
  char stamp[32];
  const std::time_t now = std::time(nullptr);
  std::tm tm{};
  ::localtime_r(&now, &tm);
  std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &tm);

  for (int n = 1; n < 1000; ++n) {
    const std::string file =
        stem + "-" + stamp + (n == 1 ? std::string() : "-" + std::to_string(n)) + extension;
    const SafePath to = root->File(file);
    Status copied = CopyNew(workbook, to.path);
    if (copied) {
      WriteOutput(ui, "Auto Backup: [%s] copied to [%s]", workbook.c_str(), to.path.c_str());
      return true;
    }
    if (copied.error().code != EEXIST) return fail(copied.message());
  }
  return fail("no free name in " + root->path());
}

}  // namespace migrator
