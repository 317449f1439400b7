#include "platform/workbook_guard.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <pwd.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <thread>
#include <vector>

#include "platform/text.h"

namespace migrator {

FileStamp FileStamp::Of(const struct stat& st) {
  return {st.st_dev, st.st_ino, st.st_size, st.st_mtim.tv_sec, st.st_mtim.tv_nsec};
}

FileStamp StampOf(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) ? FileStamp::Of(st) : FileStamp{};
}

Status CheckWritable(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    if (errno == ENOENT) return {};
    return Fail(std::strerror(errno), errno);
  }
  if (!S_ISREG(st.st_mode)) return {};
  // A file nobody may write was made so on purpose; the right to replace it
  // (the folder's, or the administrator's) does not count.
  if ((st.st_mode & 0222) == 0) return Fail(std::strerror(EACCES), EACCES);
  if (::access(path.c_str(), W_OK) != 0) return Fail(std::strerror(errno), errno);
  return {};
}

std::string EntryNamedLike(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) == 0) return path;
  const auto slash = path.find_last_of('/');
  const std::string dir = slash == std::string::npos ? "." : path.substr(0, slash + 1);
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  DIR* d = ::opendir(dir.c_str());
  if (!d) return {};
  std::string found;
  while (const dirent* e = ::readdir(d)) {
    if (EqualNoCase(e->d_name, name)) {
      found = (slash == std::string::npos ? std::string() : dir) + e->d_name;
      break;
    }
  }
  ::closedir(d);
  return found;
}

Status RenameNoReplace(const std::string& from, const std::string& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return {};
  if (errno != EINVAL && errno != ENOSYS) return Fail(std::strerror(errno), errno);
  // A file system without the flag: a new link fails where a name exists.
  if (::link(from.c_str(), to.c_str()) != 0) return Fail(std::strerror(errno), errno);
  ::unlink(from.c_str());
  return {};
}

namespace {

// The folder and the name of the file a workbook path stands for, its
// symbolic links followed (a save replaces the file a link names).
void SplitReal(const std::string& workbook, std::string& dir, std::string& base) {
  std::string path = workbook;
  char real[PATH_MAX];
  if (::realpath(workbook.c_str(), real)) path = real;
  const auto slash = path.find_last_of('/');
  dir = slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
  base = slash == std::string::npos ? path : path.substr(slash + 1);
  if (slash != std::string::npos && ::realpath(dir.c_str(), real)) dir = real;
}

std::string Join(const std::string& dir, const std::string& name) {
  return (dir == "/" ? std::string() : dir) + "/" + name;
}

// Printable text of at most a line, for a message.
std::string Printable(std::string text) {
  std::string out;
  for (char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '\n' || c == '\r') break;
    if (u >= 0x20 && u != 0x7F) out += c;
  }
  while (!out.empty() && out.back() == ' ')
    out.pop_back();
  return out;
}

std::string ReadSome(int fd) {
  char buffer[512];
  const ssize_t n = ::pread(fd, buffer, sizeof buffer, 0);
  return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
}

// Who this process is, for the lock file: "migrator-cli, process 12 of ann on
// pc1, since 2025-05-19 10:12:03".
std::string Holder() {
  std::string user = "an unknown user";
  passwd entry{};
  passwd* pw = nullptr;
  char buffer[1024];
  if (::getpwuid_r(::geteuid(), &entry, buffer, sizeof buffer, &pw) == 0 && pw) user = pw->pw_name;
  char host[256] = "";
  if (::gethostname(host, sizeof host - 1) != 0) std::strcpy(host, "this computer");
  char since[32] = "";
  const std::time_t now = std::time(nullptr);
  std::tm tm{};
  ::localtime_r(&now, &tm);
  std::strftime(since, sizeof since, "%Y-%m-%d %H:%M:%S", &tm);
  return std::string(program_invocation_short_name) + ", process " + std::to_string(::getpid()) +
         " of " + user + " on " + host + ", since " + since;
}

// LibreOffice's lock file: "Name,user,host,dd.mm.yyyy hh:mm,url;" with "\"
// escaping a comma, a semicolon or itself.
std::string OfficeHolder(const std::string& file) {
  std::string text;
  if (const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW); fd >= 0) {
    text = ReadSome(fd);
    ::close(fd);
  }
  std::vector<std::string> fields(1);
  for (std::size_t i = 0; i < text.size() && text[i] != ';'; ++i) {
    if (text[i] == '\\' && i + 1 < text.size()) {
      fields.back() += text[++i];
    } else if (text[i] == ',') {
      fields.emplace_back();
    } else {
      fields.back() += text[i];
    }
  }
  for (auto& f : fields)
    f = Printable(f);
  fields.resize(4);
  std::string who = !fields[0].empty() ? fields[0] : !fields[1].empty() ? fields[1] : "someone";
  if (!fields[1].empty() || !fields[2].empty())
    who += " (" + fields[1] + (fields[2].empty() ? "" : " on " + fields[2]) + ")";
  if (!fields[3].empty()) who += " since " + fields[3];
  return who;
}

bool SameFile(int fd, const std::string& path) {
  struct stat a {
  }, b{};
  return ::fstat(fd, &a) == 0 && ::lstat(path.c_str(), &b) == 0 && a.st_dev == b.st_dev &&
         a.st_ino == b.st_ino;
}

bool LockWhole(int fd, short type, int command) {
  struct flock fl {};
  fl.l_type = type;
  fl.l_whence = SEEK_SET;
  return ::fcntl(fd, command, &fl) == 0;
}

enum class Attempt { Taken, Busy, Office, Again, Failed };

}  // namespace

std::string WorkbookLock::LockFileOf(const std::string& workbook) {
  std::string dir, base;
  SplitReal(workbook, dir, base);
  return Join(dir, "." + base + ".~lock");
}

std::string WorkbookLock::OfficeLockFileOf(const std::string& workbook) {
  std::string dir, base;
  SplitReal(workbook, dir, base);
  return Join(dir, ".~lock." + base + "#");
}

WorkbookLock::WorkbookLock(WorkbookLock&& other) noexcept
    : fd_(other.fd_), file_(std::move(other.file_)) {
  other.fd_ = -1;
}

WorkbookLock& WorkbookLock::operator=(WorkbookLock&& other) noexcept {
  if (this != &other) {
    Release();
    fd_ = other.fd_;
    file_ = std::move(other.file_);
    other.fd_ = -1;
  }
  return *this;
}

void WorkbookLock::Release() {
  if (fd_ < 0) return;
  // Removed while still held: whoever waits for the lock of the removed file
  // finds it gone and takes a new one.
  ::unlink(file_.c_str());
  ::close(fd_);
  fd_ = -1;
}

Result<WorkbookLock> WorkbookLock::Acquire(const std::string& workbook,
                                           std::chrono::milliseconds wait) {
  const std::string file = LockFileOf(workbook);
  const std::string office = OfficeLockFileOf(workbook);
  const auto deadline = std::chrono::steady_clock::now() + wait;
  std::string holder, error;

  auto attempt = [&](int& taken) {
    int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0666);
    if (fd < 0) {
      const int e = errno;
      // Another user's lock file: held or left behind?
      fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
      if (fd >= 0) {
        struct flock fl {};
        fl.l_type = F_WRLCK;
        fl.l_whence = SEEK_SET;
        const bool held = ::fcntl(fd, F_OFD_GETLK, &fl) == 0 && fl.l_type != F_UNLCK;
        if (held) holder = Printable(ReadSome(fd));
        ::close(fd);
        if (held) return Attempt::Busy;
      }
      error = std::strerror(e == ELOOP ? EEXIST : e);
      return Attempt::Failed;
    }
    if (!LockWhole(fd, F_WRLCK, F_OFD_SETLK)) {
      const int e = errno;
      if (e == EAGAIN || e == EACCES) {
        holder = Printable(ReadSome(fd));
        ::close(fd);
        return Attempt::Busy;
      }
      // A file system without such locks (some network mounts): the file
      // stays as the sign, and the stamps still keep changes apart.
      if (e != EINVAL && e != ENOLCK && e != EOPNOTSUPP) {
        ::close(fd);
        error = std::strerror(e);
        return Attempt::Failed;
      }
    }
    if (!SameFile(fd, file)) {  // its holder let go and removed it meanwhile
      ::close(fd);
      return Attempt::Again;
    }
    struct stat st {};
    if (::lstat(office.c_str(), &st) == 0) {
      holder = OfficeHolder(office);
      ::unlink(file.c_str());
      ::close(fd);
      return Attempt::Office;
    }
    const std::string me = Holder() + "\n";
    if (::ftruncate(fd, 0) != 0 || ::pwrite(fd, me.data(), me.size(), 0) < 0) {
      // The name of the holder is a courtesy; the lock holds without it.
    }
    taken = fd;
    return Attempt::Taken;
  };

  for (;;) {
    int fd = -1;
    const Attempt a = attempt(fd);
    if (a == Attempt::Taken) {
      WorkbookLock lock;
      lock.fd_ = fd;
      lock.file_ = file;
      return lock;
    }
    if (a == Attempt::Failed) {
      return Fail("The workbook \"" + workbook + "\" cannot be locked for writing (" + file +
                  "): " + error + ".");
    }
    if (a == Attempt::Again) continue;
    if (std::chrono::steady_clock::now() >= deadline) {
      const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(wait).count();
      if (a == Attempt::Office) {
        return Fail("The workbook \"" + workbook + "\" is open in LibreOffice: its lock file " +
                    office + " says it is held by " + holder +
                    ". Close it there first; if no program has it open any more, delete " + office +
                    ".");
      }
      return Fail("The workbook \"" + workbook + "\" is being changed by " +
                  (holder.empty() ? std::string("another program") : holder) +
                  (seconds > 0
                       ? ", which did not finish within " + std::to_string(seconds) + " seconds"
                       : std::string()) +
                  "; try again when it has finished.");
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

void RemoveStaleWorkbookLock(const std::string& workbook) {
  const std::string file = WorkbookLock::LockFileOf(workbook);
  const int fd = ::open(file.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return;
  if (LockWhole(fd, F_WRLCK, F_OFD_SETLK) && SameFile(fd, file)) ::unlink(file.c_str());
  ::close(fd);
}

}  // namespace migrator
