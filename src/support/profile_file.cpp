#include "support/profile_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>

#include "support/error_text.h"

namespace migrator {
namespace {

constexpr std::string_view kBom = "\xEF\xBB\xBF";

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\v';
}

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && IsBlank(s.front()))
    s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back()))
    s.remove_suffix(1);
  return s;
}

// Names asked for lose their spaces only (tabs stay), as with the platform.
std::string_view TrimSpaces(std::string_view s) {
  while (!s.empty() && s.front() == ' ')
    s.remove_prefix(1);
  while (!s.empty() && s.back() == ' ')
    s.remove_suffix(1);
  return s;
}

char Lower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (Lower(a[i]) != Lower(b[i])) return false;
  }
  return true;
}

enum class Kind { Blank, Comment, Section, Entry, Bare };

struct Parsed {
  Kind kind = Kind::Blank;
  std::string_view name;       // section or key name, trimmed
  std::string_view value;      // Entry: the value, trimmed
  std::size_t valueStart = 0;  // Entry: where the value starts in the line
};

Parsed Classify(std::string_view line) {
  Parsed p;
  std::size_t i = 0;
  while (i < line.size() && IsBlank(line[i]))
    ++i;
  if (i == line.size()) return p;
  if (line[i] == ';') {
    p.kind = Kind::Comment;
    return p;
  }
  if (line[i] == '[') {
    const std::size_t close = line.find(']', i + 1);
    const std::size_t end = close == std::string_view::npos ? line.size() : close;
    p.kind = Kind::Section;
    p.name = TrimBlanks(line.substr(i + 1, end - i - 1));
    return p;
  }
  const std::size_t eq = line.find('=', i);
  if (eq == std::string_view::npos) {
    p.kind = Kind::Bare;
    p.name = TrimBlanks(line.substr(i));
    return p;
  }
  p.kind = Kind::Entry;
  p.name = TrimBlanks(line.substr(i, eq - i));
  std::size_t v = eq + 1;
  while (v < line.size() && IsBlank(line[v]))
    ++v;
  p.valueStart = v;
  p.value = TrimBlanks(line.substr(v));
  return p;
}

std::string Unquote(std::string_view v) {
  if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) {
    v = v.substr(1, v.size() - 2);
  }
  return std::string(v);
}

// The text to write for a value so that it reads back as given.
std::string EncodeValue(std::string_view value) {
  std::string v(value);
  for (char& c : v) {
    if (c == '\r' || c == '\n' || c == '\0') c = ' ';
  }
  const bool outerBlank = !v.empty() && (IsBlank(v.front()) || IsBlank(v.back()));
  const bool quoted =
      v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front();
  if (outerBlank || quoted) v = '"' + v + '"';
  return v;
}

bool HasAny(std::string_view s, std::string_view chars) {
  return s.find_first_of(chars) != std::string_view::npos;
}

std::string ErrnoText(const std::string& what, int code) {
  return what + ": " + SystemErrorMessage(code);
}

// An exclusive lock on a directory for the length of one write.
class DirectoryLock {
 public:
  explicit DirectoryLock(const std::string& dir) {
    fd_ = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd_ < 0) return;
    while (::flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
    }
  }
  ~DirectoryLock() {
    if (fd_ >= 0) ::close(fd_);  // releases the lock
  }
  DirectoryLock(const DirectoryLock&) = delete;
  DirectoryLock& operator=(const DirectoryLock&) = delete;
  int fd() const { return fd_; }

 private:
  int fd_ = -1;
};

bool WriteAll(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t n = ::write(fd, data.data(), data.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

}  // namespace

// ---- ProfileText ----------------------------------------------------------

ProfileText ProfileText::Parse(std::string_view text) {
  ProfileText t;
  if (text.substr(0, kBom.size()) == kBom) {
    t.bom_ = std::string(kBom);
    text.remove_prefix(kBom.size());
  }
  while (!text.empty()) {
    const std::size_t nl = text.find('\n');
    Line line;
    if (nl == std::string_view::npos) {
      line.text = std::string(text);
      text = {};
    } else {
      std::string_view body = text.substr(0, nl);
      if (!body.empty() && body.back() == '\r') {
        body.remove_suffix(1);
        line.end = "\r\n";
      } else {
        line.end = "\n";
      }
      line.text = std::string(body);
      text.remove_prefix(nl + 1);
    }
    t.lines_.push_back(std::move(line));
  }
  return t;
}

std::optional<std::size_t> ProfileText::FindSection(std::string_view name) const {
  name = TrimSpaces(name);
  for (std::size_t i = 0; i < lines_.size(); ++i) {
    const Parsed p = Classify(lines_[i].text);
    if (p.kind == Kind::Section && SameName(p.name, name)) return i;
  }
  return std::nullopt;
}

std::size_t ProfileText::SectionEnd(std::size_t header) const {
  std::size_t i = header + 1;
  while (i < lines_.size() && Classify(lines_[i].text).kind != Kind::Section)
    ++i;
  return i;
}

std::optional<std::string> ProfileText::Get(std::string_view section, std::string_view key) const {
  const auto header = FindSection(section);
  if (!header) return std::nullopt;
  key = TrimSpaces(key);
  const std::size_t end = SectionEnd(*header);
  for (std::size_t i = *header + 1; i < end; ++i) {
    const Parsed p = Classify(lines_[i].text);
    if ((p.kind == Kind::Entry || p.kind == Kind::Bare) && SameName(p.name, key)) {
      if (p.kind == Kind::Bare) return std::nullopt;
      return Unquote(p.value);
    }
  }
  return std::nullopt;
}

std::string ProfileText::NewLineEnd() const {
  for (const Line& l : lines_) {
    if (!l.end.empty()) return l.end;
  }
  return "\n";
}

Status ProfileText::Set(std::string_view section, std::string_view key, std::string_view value) {
  section = TrimSpaces(section);
  key = TrimSpaces(key);
  using namespace std::string_view_literals;
  if (HasAny(section, "]\r\n\0"sv) ||
      (!section.empty() && (IsBlank(section.front()) || IsBlank(section.back())))) {
    return Fail("section name \"" + std::string(section) + "\" cannot be stored");
  }
  if (key.empty() || HasAny(key, "=\r\n\0"sv) || key.front() == ';' || key.front() == '[' ||
      IsBlank(key.front()) || IsBlank(key.back())) {
    return Fail("key name \"" + std::string(key) + "\" cannot be stored");
  }
  const std::string encoded = EncodeValue(value);
  const std::string end = NewLineEnd();

  const auto header = FindSection(section);
  if (!header) {
    if (!lines_.empty() && lines_.back().end.empty()) lines_.back().end = end;
    lines_.push_back({"[" + std::string(section) + "]", end});
    lines_.push_back({std::string(key) + "=" + encoded, end});
    return {};
  }
  const std::size_t stop = SectionEnd(*header);
  std::size_t lastKey = *header;
  for (std::size_t i = *header + 1; i < stop; ++i) {
    const Parsed p = Classify(lines_[i].text);
    if (p.kind != Kind::Entry && p.kind != Kind::Bare) continue;
    if (SameName(p.name, key)) {
      Line& line = lines_[i];
      if (p.kind == Kind::Entry) {
        line.text = line.text.substr(0, p.valueStart) + encoded;
      } else {
        std::string_view t = line.text;
        while (!t.empty() && IsBlank(t.back()))
          t.remove_suffix(1);
        line.text = std::string(t) + "=" + encoded;
      }
      return {};
    }
    lastKey = i;
  }
  if (lines_[lastKey].end.empty()) lines_[lastKey].end = end;
  lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(lastKey + 1),
                Line{std::string(key) + "=" + encoded, end});
  return {};
}

std::vector<std::string> ProfileText::SectionNames() const {
  std::vector<std::string> names;
  for (const Line& l : lines_) {
    const Parsed p = Classify(l.text);
    if (p.kind == Kind::Section) names.emplace_back(p.name);
  }
  return names;
}

std::vector<std::string> ProfileText::KeyNames(std::string_view section) const {
  std::vector<std::string> names;
  const auto header = FindSection(section);
  if (!header) return names;
  const std::size_t end = SectionEnd(*header);
  for (std::size_t i = *header + 1; i < end; ++i) {
    const Parsed p = Classify(lines_[i].text);
    if (p.kind == Kind::Entry || p.kind == Kind::Bare) names.emplace_back(p.name);
  }
  return names;
}

std::string ProfileText::ToString() const {
  std::string s = bom_;
  for (const Line& l : lines_) {
    s += l.text;
    s += l.end;
  }
  return s;
}

std::string CutToBuffer(std::string value, std::size_t bufferSize) {
  if (bufferSize == 0) return {};
  if (value.size() <= bufferSize - 1) return value;
  std::size_t cut = bufferSize - 1;
  // Never keep half a UTF-8 character.
  while (cut > 0 && (static_cast<unsigned char>(value[cut]) & 0xC0) == 0x80)
    --cut;
  value.resize(cut);
  return value;
}

// ---- ProfileFile ----------------------------------------------------------

ProfileFile::ProfileFile(std::string path, mode_t createMode, mode_t modeLimit)
    : path_(std::move(path)), createMode_(createMode & modeLimit), modeLimit_(modeLimit) {}

bool ProfileFile::Readable() const {
  return ::access(path_.c_str(), R_OK) == 0;
}

Result<std::optional<std::string>> ProfileFile::Load() const {
  const int fd = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT) return std::optional<std::string>();
    return Fail(ErrnoText(path_, errno), errno);
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return Fail(path_ + ": not a regular file");
  }
  if (static_cast<std::size_t>(st.st_size) > kMaxFileBytes) {
    ::close(fd);
    return Fail(path_ + ": file too large");
  }
  std::string text;
  char buffer[16384];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      const int code = errno;
      ::close(fd);
      return Fail(ErrnoText(path_, code), code);
    }
    if (n == 0) break;
    text.append(buffer, static_cast<std::size_t>(n));
    if (text.size() > kMaxFileBytes) {
      ::close(fd);
      return Fail(path_ + ": file too large");
    }
  }
  ::close(fd);
  return std::optional<std::string>(std::move(text));
}

ProfileText ProfileFile::Snapshot() const {
  auto loaded = Load();
  if (!loaded || !*loaded) return {};
  return ProfileText::Parse(**loaded);
}

std::optional<std::string> ProfileFile::Find(std::string_view section, std::string_view key) const {
  return Snapshot().Get(section, key);
}

std::string ProfileFile::Read(std::string_view section, std::string_view key,
                              std::string_view defaultValue, std::size_t bufferSize) const {
  if (auto value = Find(section, key)) return CutToBuffer(std::move(*value), bufferSize);
  while (!defaultValue.empty() && defaultValue.back() == ' ')
    defaultValue.remove_suffix(1);
  return CutToBuffer(std::string(defaultValue), bufferSize);
}

std::vector<std::string> ProfileFile::SectionNames() const {
  return Snapshot().SectionNames();
}

std::vector<std::string> ProfileFile::KeyNames(std::string_view section) const {
  return Snapshot().KeyNames(section);
}

Status ProfileFile::Write(std::string_view section, std::string_view key,
                          std::string_view value) const {
  const ProfileEntry entry{std::string(section), std::string(key), std::string(value)};
  return Write(std::span<const ProfileEntry>(&entry, 1));
}

Status ProfileFile::CreateIfMissing() const {
  const int fd = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, createMode_);
  if (fd >= 0) {
    ::close(fd);
    return {};
  }
  if (errno == EEXIST) return {};
  return Fail(ErrnoText(path_, errno), errno);
}

Status ProfileFile::Write(std::span<const ProfileEntry> entries) const {
  // A symbolic link stays a link: the file it names is replaced.
  std::string target = path_;
  struct stat lst {};
  if (::lstat(path_.c_str(), &lst) == 0 && S_ISLNK(lst.st_mode)) {
    if (char* real = ::realpath(path_.c_str(), nullptr)) {
      target = real;
      std::free(real);
    }
  }
  const std::size_t slash = target.find_last_of('/');
  const std::string dir =
      slash == std::string::npos ? "." : (slash == 0 ? "/" : target.substr(0, slash));
  const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);

  DirectoryLock lock(dir);
  const ProfileFile file(target, createMode_, modeLimit_);
  auto loaded = file.Load();
  if (!loaded) return Fail(loaded.message(), loaded.error().code);
  const bool existed = loaded->has_value();
  ProfileText text = existed ? ProfileText::Parse(**loaded) : ProfileText();
  for (const ProfileEntry& e : entries) {
    Status set = text.Set(e.section, e.key, e.value);
    if (!set) return set;
  }
  const std::string content = text.ToString();
  struct stat st {};
  const bool wideMode =
      existed && ::stat(target.c_str(), &st) == 0 && (st.st_mode & ~modeLimit_ & 07777);
  if (existed && content == **loaded && !wideMode) return {};

  if (!existed) {
    // Created through open() so that the process's umask applies to the mode.
    Status created = file.CreateIfMissing();
    if (!created) return created;
  }
  if (::stat(target.c_str(), &st) != 0) return Fail(ErrnoText(target, errno), errno);

  std::string tmp = dir + "/." + base + ".XXXXXX";
  const int fd = ::mkostemp(tmp.data(), O_CLOEXEC);
  if (fd < 0) return Fail(ErrnoText(dir, errno), errno);
  auto failWith = [&](int code) -> Status {
    ::close(fd);
    ::unlink(tmp.c_str());
    return Fail(ErrnoText(target, code), code);
  };
  if (::fchmod(fd, st.st_mode & modeLimit_ & 07777) != 0) return failWith(errno);
  if (st.st_uid != ::geteuid() || st.st_gid != ::getegid()) {
    [[maybe_unused]] const int ignored = ::fchown(fd, st.st_uid, st.st_gid);
  }
  if (!WriteAll(fd, content) || ::fsync(fd) != 0) return failWith(errno);
  if (::close(fd) != 0) {
    const int code = errno;
    ::unlink(tmp.c_str());
    return Fail(ErrnoText(target, code), code);
  }
  if (::rename(tmp.c_str(), target.c_str()) != 0) {
    const int code = errno;
    ::unlink(tmp.c_str());
    return Fail(ErrnoText(target, code), code);
  }
  if (lock.fd() >= 0) ::fsync(lock.fd());
  return {};
}

}  // namespace migrator
