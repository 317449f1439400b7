// Workbook files: telling the formats apart, reading a file whole, and saving
// through a temporary file beside the target.

#include <cctype>
#include <cerrno>
#include <cstring>
#include <random>

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/workbook_guard.h"
#include "xls/biff/book.h"
#include "xls/big_alloc.h"
#include "xls/model.h"
#include "xls/xlsx/book.h"

namespace migrator::xls {

using detail::WorkbookImpl;

FileFormat FormatForPath(std::string_view path) {
  const size_t slash = path.find_last_of('/');
  std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
  const size_t dot = name.find_last_of('.');
  if (dot == std::string_view::npos) return FileFormat::kXls;
  std::string ext;
  for (char c : name.substr(dot + 1))
    ext += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return ext == "xlsx" ? FileFormat::kXlsx : FileFormat::kXls;
}

namespace {

struct FileImageFree {
  size_t bytes = 0;
  void operator()(uint8_t* p) const { BigFree(p, bytes); }
};

struct FileImage {
  std::unique_ptr<uint8_t[], FileImageFree> data;
  size_t size = 0;
};

Status ReadWholeFile(const std::string& path, FileImage& out) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return Fail("cannot open " + path + ": " + std::strerror(errno));
  struct stat st;
  if (::fstat(fd, &st) != 0) {
    int e = errno;
    ::close(fd);
    return Fail("cannot read " + path + ": " + std::strerror(e));
  }
  if (!S_ISREG(st.st_mode)) {
    ::close(fd);
    return Fail(path + " is not a file");
  }
  if (st.st_size > (off_t{1} << 30)) {
    ::close(fd);
    return Fail(path + " is too large to be a workbook");
  }
  out.size = static_cast<size_t>(st.st_size);
  size_t bytes = out.size ? out.size : 1;
  out.data = std::unique_ptr<uint8_t[], FileImageFree>(static_cast<uint8_t*>(BigAllocate(bytes)),
                                                       FileImageFree{bytes});
  if (!out.data) {
    ::close(fd);
    return Fail("not enough memory to read " + path);
  }
  size_t got = 0;
  while (got < out.size) {
    ssize_t k = ::read(fd, out.data.get() + got, out.size - got);
    if (k < 0 && errno == EINTR) continue;
    if (k < 0) {
      int e = errno;
      ::close(fd);
      return Fail("cannot read " + path + ": " + std::strerror(e));
    }
    if (k == 0) break;  // the file shrank while it was read
    got += static_cast<size_t>(k);
  }
  out.size = got;
  ::close(fd);
  return {};
}

std::string DirectoryOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// The file a path names once its symbolic links are followed (the path itself
// when it is none, or when nothing is there yet). A save replaces that file,
// so that a link stays a link.
Result<std::string> FollowLinks(std::string path) {
  for (int hops = 0; hops < 40; ++hops) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
    std::string target(static_cast<size_t>(st.st_size > 0 ? st.st_size : 0) + 256, '\0');
    const ssize_t n = ::readlink(path.c_str(), target.data(), target.size());
    if (n < 0) return Fail(std::strerror(errno));
    target.resize(static_cast<size_t>(n));
    if (target.empty()) return Fail(std::strerror(ENOENT));
    path = target.front() == '/' ? target : DirectoryOf(path) + "/" + target;
  }
  return Fail(std::strerror(ELOOP));
}

// Save's temporary files are named ".BASE.~PID" followed by 8 hex digits and
// ".tmp"; the process that writes one holds a lock on it. The pid of a name,
// or 0 when the name is not one of them.
pid_t SaveFilePid(std::string_view name, std::string_view base) {
  const std::string prefix = "." + std::string(base) + ".~";
  constexpr std::string_view kSuffix = ".tmp";
  if (name.size() <= prefix.size() + 8 + kSuffix.size() ||
      name.substr(0, prefix.size()) != prefix ||
      name.substr(name.size() - kSuffix.size()) != kSuffix)
    return 0;
  std::string_view middle =
      name.substr(prefix.size(), name.size() - prefix.size() - kSuffix.size());
  std::string_view pid = middle.substr(0, middle.size() - 8);
  for (char c : middle.substr(pid.size()))
    if (!std::isxdigit(static_cast<unsigned char>(c))) return 0;
  if (pid.empty() || pid.size() > 9) return 0;
  pid_t value = 0;
  for (char c : pid) {
    if (c < '0' || c > '9') return 0;
    value = value * 10 + (c - '0');
  }
  return value;
}

}  // namespace

void RemoveStaleSaveFiles(const std::string& path) {
  auto real = FollowLinks(path);
  if (!real) return;
  const std::string dir = DirectoryOf(*real);
  const size_t slash = real->find_last_of('/');
  const std::string base = slash == std::string::npos ? *real : real->substr(slash + 1);
  if (base.empty()) return;
  DIR* d = ::opendir(dir.c_str());
  if (!d) return;
  while (const dirent* e = ::readdir(d)) {
    const pid_t pid = SaveFilePid(e->d_name, base);
    // The writer is gone when its process is, and nothing holds the file.
    if (pid <= 0 || pid == ::getpid() || ::kill(pid, 0) == 0 || errno != ESRCH) continue;
    const int fd = ::openat(::dirfd(d), e->d_name, O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) continue;
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) ::unlinkat(::dirfd(d), e->d_name, 0);
    ::close(fd);
  }
  ::closedir(d);
}

Workbook Workbook::New(FileFormat format) {
  Workbook wb;
  wb.impl_ = format == FileFormat::kXlsx ? detail::NewXlsxWorkbook() : detail::NewBiffWorkbook();
  return wb;
}

Result<Workbook> Workbook::Parse(std::span<const uint8_t> file, const LoadLimits& limits) {
  // A zip package starts with a local file header (or, empty, with the end
  // of its central directory); anything else goes to the compound file reader.
  const bool zip = file.size() >= 4 && file[0] == 'P' && file[1] == 'K' &&
                   ((file[2] == 3 && file[3] == 4) || (file[2] == 5 && file[3] == 6));
  auto impl = zip ? detail::ParseXlsx(file, limits) : detail::ParseBiff(file, limits);
  if (!impl) return impl.error();
  Workbook wb;
  wb.impl_ = std::move(*impl);
  return wb;
}

// True when the file at `path` starts as a zip package; its size in `size`.
static bool IsPackageFile(const std::string& path, uint64_t& size) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st;
  uint8_t head[4] = {};
  const bool zip = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
                   ::read(fd, head, sizeof head) == sizeof head && head[0] == 'P' &&
                   head[1] == 'K' &&
                   ((head[2] == 3 && head[3] == 4) || (head[2] == 5 && head[3] == 6));
  size = zip ? static_cast<uint64_t>(st.st_size) : 0;
  ::close(fd);
  return zip;
}

FileFormat FormatOfFile(const std::string& path) {
  uint64_t size = 0;
  if (IsPackageFile(path, size)) return FileFormat::kXlsx;
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 ? FileFormat::kXls : FormatForPath(path);
}

Result<Workbook> Workbook::Load(const std::string& path) {
  RemoveStaleSaveFiles(path);
  // A package is read from its file as its parts are: its image is not
  // held beside the workbook it makes.
  uint64_t size = 0;
  if (IsPackageFile(path, size)) {
    if (size > (uint64_t{1} << 30)) return Fail(path + " is too large to be a workbook");
    auto impl = detail::ParseXlsxFile(path, size, {});
    if (!impl) return Fail(path + ": " + impl.message());
    Workbook wb;
    wb.impl_ = std::move(*impl);
    return wb;
  }
  FileImage file;
  if (auto st = ReadWholeFile(path, file); !st) return st.error();
  auto wb = Parse(std::span<const uint8_t>(file.data.get(), file.size));
  if (!wb) return Fail(path + ": " + wb.message());
  return wb;
}

Result<std::vector<uint8_t>> Workbook::Serialize() const {
  std::vector<uint8_t> bytes;
  detail::MemoryOutput out(bytes);
  if (auto st = impl_->book->Prepare(); !st) return st.error();
  if (auto st = impl_->book->Write(out); !st) return st.error();
  return bytes;
}

Status Workbook::Save(const std::string& path) const {
  if (auto st = impl_->book->Prepare(); !st) return st;
  // Through symbolic links to the file they name: it is replaced, they stay.
  auto real = FollowLinks(path);
  if (!real) return Fail("cannot save " + path + ": " + real.message());
  const std::string dir = DirectoryOf(*real);
  const size_t slash = real->find_last_of('/');
  const std::string base = slash == std::string::npos ? *real : real->substr(slash + 1);
  if (base.empty()) return Fail("cannot save: " + path + " names a directory");
  // A workbook the person made read-only stays as it is.
  if (auto writable = CheckWritable(*real); !writable)
    return Fail("cannot save " + path + ": " + writable.message());
  RemoveStaleSaveFiles(*real);

  // A temporary file beside the target, so that the rename is atomic.
  std::random_device rd;
  std::string tmp;
  int fd = -1;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    char suffix[32];
    std::snprintf(suffix, sizeof suffix, ".~%u%08x.tmp", static_cast<unsigned>(::getpid()), rd());
    tmp = (dir == "/" ? "" : dir) + "/." + base + suffix;
    fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST) return Fail("cannot save " + path + ": " + std::strerror(errno));
  }
  if (fd < 0) return Fail("cannot save " + path + ": no temporary file name is free");
  // Held while the file is written: a file nobody holds, of a process that is
  // gone, is left over from a save that never finished.
  (void)::flock(fd, LOCK_EX | LOCK_NB);
  struct stat old;
  if (::stat(real->c_str(), &old) == 0 && S_ISREG(old.st_mode)) ::fchmod(fd, old.st_mode & 07777);

  detail::FdOutput out(fd);
  Status st = impl_->book->Write(out);
  std::string why;
  if (!st) why = out.error() ? std::strerror(out.error()) : st.message();
  if (why.empty() && ::fsync(fd) != 0) why = std::strerror(errno);
  if (::close(fd) != 0 && why.empty()) why = std::strerror(errno);
  if (why.empty() && ::rename(tmp.c_str(), real->c_str()) != 0) why = std::strerror(errno);
  if (!why.empty()) {
    ::unlink(tmp.c_str());
    return Fail("cannot save " + path + ": " + why);
  }
  int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dfd >= 0) {
    ::fsync(dfd);
    ::close(dfd);
  }
  return {};
}

}  // namespace migrator::xls
