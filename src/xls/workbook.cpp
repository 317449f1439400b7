// The workbook-level calls: loading, saving, sheets, defined names, formats.

#include "xls/workbook.h"

#include <algorithm>
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

#include "xls/biff/formula.h"
#include "xls/big_alloc.h"
#include "xls/model.h"
#include "xls/unicode.h"

namespace migrator::xls {

using detail::GlobalSlot;
using detail::NameRec;
using detail::SheetModel;
using detail::WorkbookImpl;

// ---- names of cells ----

std::string ColumnName(uint32_t col) {
  std::string s;
  uint32_t n = col + 1;
  while (n > 0) {
    uint32_t r = (n - 1) % 26;
    s.insert(s.begin(), static_cast<char>('A' + r));
    n = (n - 1) / 26;
  }
  return s;
}

std::string CellName(uint32_t row, uint32_t col, bool absolute) {
  std::string d = absolute ? "$" : "";
  return d + ColumnName(col) + d + std::to_string(row + 1);
}

std::string RangeName(const Range& r, bool absolute) {
  std::string a = CellName(r.firstRow, r.firstCol, absolute);
  if (r.firstRow == r.lastRow && r.firstCol == r.lastCol) return a;
  return a + ":" + CellName(r.lastRow, r.lastCol, absolute);
}

std::string QuoteSheetName(std::string_view name) {
  bool plain = !name.empty() && !(name[0] >= '0' && name[0] <= '9');
  for (unsigned char c : name)
    if (!(std::isalnum(c) || c == '_' || c == '.' || c >= 0x80)) plain = false;
  if (plain) return std::string(name);
  std::string q = "'";
  for (char c : name) {
    if (c == '\'') q += '\'';
    q += c;
  }
  return q + "'";
}

const char* ErrorText(uint8_t code) {
  switch (code) {
    case 0x00:
      return "#NULL!";
    case 0x07:
      return "#DIV/0!";
    case 0x0F:
      return "#VALUE!";
    case 0x17:
      return "#REF!";
    case 0x1D:
      return "#NAME?";
    case 0x24:
      return "#NUM!";
    case 0x2A:
      return "#N/A";
    default:
      return "#ERR";
  }
}

namespace detail {

// ---- decoded formats ----

Font DecodeFont(const Bytes& d) {
  Font f;
  if (d.size() < 14) return f;
  f.height = Get16(d.data());
  uint16_t grbit = Get16(d.data() + 2);
  f.italic = grbit & 0x02;
  f.strikeout = grbit & 0x08;
  f.color = Get16(d.data() + 4);
  f.weight = Get16(d.data() + 6);
  f.underline = d[10];
  ByteReader r(d.data() + 14, d.size() - 14);
  std::u16string name;
  if (ReadXLString(r, false, name)) f.name = Utf16ToUtf8(name);
  return f;
}

CellFormat DecodeXf(const std::array<uint8_t, 20>& x) {
  CellFormat f;
  f.font = Get16(x.data());
  f.numberFormat = Get16(x.data() + 2);
  uint16_t w4 = Get16(x.data() + 4);
  f.locked = w4 & 1;
  f.hidden = w4 & 2;
  f.isStyle = w4 & 4;
  f.parent = w4 >> 4;
  f.horizontal = static_cast<HAlign>(x[6] & 7);
  f.wrap = x[6] & 8;
  f.vertical = static_cast<VAlign>(std::min((x[6] >> 4) & 7, 4));
  f.rotation = x[7];
  f.indent = x[8] & 0x0F;
  uint32_t b = Get32(x.data() + 10);
  f.left = static_cast<LineStyle>(b & 0xF);
  f.right = static_cast<LineStyle>((b >> 4) & 0xF);
  f.top = static_cast<LineStyle>((b >> 8) & 0xF);
  f.bottom = static_cast<LineStyle>((b >> 12) & 0xF);
  f.leftColor = (b >> 16) & 0x7F;
  f.rightColor = (b >> 23) & 0x7F;
  uint32_t c = Get32(x.data() + 14);
  f.topColor = c & 0x7F;
  f.bottomColor = (c >> 7) & 0x7F;
  f.fillPattern = (c >> 26) & 0x3F;
  uint16_t p = Get16(x.data() + 18);
  f.fillColor = p & 0x7F;
  f.fillBackColor = (p >> 7) & 0x7F;
  return f;
}

// ---- workbook internals ----

namespace {

constexpr size_t kNpos = static_cast<size_t>(-1);

int SlotRank(GlobalSlot k) {
  switch (k) {
    case GlobalSlot::kFonts:
      return 1;
    case GlobalSlot::kFormats:
      return 2;
    case GlobalSlot::kXfs:
      return 3;
    case GlobalSlot::kSheets:
      return 4;
    case GlobalSlot::kSupBookSelf:
      return 5;
    case GlobalSlot::kExternSheet:
      return 6;
    case GlobalSlot::kNames:
      return 7;
    case GlobalSlot::kSst:
      return 8;
    default:
      return 0;
  }
}

bool IsSupBookGroup(uint16_t t) {
  return t == rt::kSupBook || t == 0x0023 /* EXTERNNAME */ || t == 0x0059 /* XCT */ ||
         t == 0x005A /* CRN */;
}

const char* const kBuiltinNames[] = {
    "Consolidate_Area", "Auto_Open",       "Auto_Close",   "Extract",        "Database",
    "Criteria",         "Print_Area",      "Print_Titles", "Recorder",       "Data_Form",
    "Auto_Activate",    "Auto_Deactivate", "Sheet_Title",  "_FilterDatabase"};

}  // namespace

size_t WorkbookImpl::InsertGlobalSlot(GlobalSlot k) {
  size_t pos = kNpos;
  if (k == GlobalSlot::kSupBookSelf || k == GlobalSlot::kExternSheet) {
    // After every SUPBOOK group already there.
    for (size_t i = 0; i < globals.size(); ++i)
      if ((globals[i].kind == GlobalSlot::kRaw && IsSupBookGroup(globals[i].rec.type)) ||
          globals[i].kind == GlobalSlot::kSupBookSelf)
        pos = i + 1;
    if (k == GlobalSlot::kSupBookSelf) {
      size_t es = FindGlobal(GlobalSlot::kExternSheet);
      if (es != kNpos && (pos == kNpos || pos > es)) pos = es;
    }
  }
  if (pos == kNpos) {
    int rank = SlotRank(k);
    for (size_t i = 0; i < globals.size(); ++i)
      if (SlotRank(globals[i].kind) > rank) {
        pos = i;
        break;
      }
  }
  if (pos == kNpos) {
    // Before the final EOF.
    pos = globals.size();
    if (!globals.empty() && globals.back().rec.type == rt::kEof) pos = globals.size() - 1;
  }
  uint16_t type = 0;
  switch (k) {
    case GlobalSlot::kFonts:
      type = rt::kFont;
      break;
    case GlobalSlot::kFormats:
      type = rt::kFormat;
      break;
    case GlobalSlot::kXfs:
      type = rt::kXf;
      break;
    case GlobalSlot::kSheets:
      type = rt::kBoundSheet;
      break;
    case GlobalSlot::kSupBookSelf:
      type = rt::kSupBook;
      break;
    case GlobalSlot::kExternSheet:
      type = rt::kExternSheet;
      break;
    case GlobalSlot::kNames:
      type = rt::kName;
      break;
    case GlobalSlot::kSst:
      type = rt::kSst;
      break;
    default:
      break;
  }
  GlobalItem item{k, {type, {}}};
  if (k == GlobalSlot::kSupBookSelf) {
    item.rec.data.resize(4);
    Put16(item.rec.data.data(), static_cast<uint16_t>(sheets.size()));
    Put16(item.rec.data.data() + 2, 0x0401);
  }
  globals.insert(globals.begin() + static_cast<long>(pos), std::move(item));
  return pos;
}

uint16_t WorkbookImpl::SelfSupBookIndex(bool create) {
  uint16_t n = 0;
  for (const auto& g : globals) {
    if (g.kind == GlobalSlot::kSupBookSelf) return n;
    if (g.kind == GlobalSlot::kRaw && g.rec.type == rt::kSupBook) ++n;
  }
  if (!create) return 0xFFFF;
  size_t at = InsertGlobalSlot(GlobalSlot::kSupBookSelf);
  n = 0;
  for (size_t i = 0; i < at; ++i)
    if (globals[i].kind == GlobalSlot::kRaw && globals[i].rec.type == rt::kSupBook) ++n;
  return n;
}

uint16_t WorkbookImpl::XtiForSheet(size_t sheet) {
  uint16_t self = SelfSupBookIndex(true);
  if (FindGlobal(GlobalSlot::kExternSheet) == kNpos) InsertGlobalSlot(GlobalSlot::kExternSheet);
  for (size_t i = 0; i < xtis.size(); ++i)
    if (xtis[i].supBook == self && xtis[i].first == sheet && xtis[i].last == sheet)
      return static_cast<uint16_t>(i);
  xtis.push_back({self, static_cast<uint16_t>(sheet), static_cast<uint16_t>(sheet)});
  return static_cast<uint16_t>(xtis.size() - 1);
}

uint16_t WorkbookImpl::AddFont(const Bytes& data) {
  for (size_t i = 0; i < fonts.size(); ++i)
    if (fonts[i] == data) return static_cast<uint16_t>(i < 4 ? i : i + 1);
  fonts.push_back(data);
  size_t i = fonts.size() - 1;
  if (FindGlobal(GlobalSlot::kFonts) == kNpos) InsertGlobalSlot(GlobalSlot::kFonts);
  return static_cast<uint16_t>(i < 4 ? i : i + 1);
}

Result<uint16_t> WorkbookImpl::FindOrAddXf(const std::array<uint8_t, 20>& xf) {
  for (size_t i = 0; i < xfs.size(); ++i)
    if (xfs[i] == xf) return static_cast<uint16_t>(i);
  if (xfs.size() >= 4050)
    return Fail("the workbook already holds the most cell formats the file format allows (4,050)");
  xfs.push_back(xf);
  if (FindGlobal(GlobalSlot::kXfs) == kNpos) InsertGlobalSlot(GlobalSlot::kXfs);
  return static_cast<uint16_t>(xfs.size() - 1);
}

std::string WorkbookImpl::NameText(const NameRec& n) const {
  if (n.builtin() && n.name.size() == 1 && n.name[0] < std::size(kBuiltinNames))
    return kBuiltinNames[n.name[0]];
  return Utf16ToUtf8(n.name);
}

}  // namespace detail

using detail::kXtiDeleted;

namespace {

constexpr size_t kNpos = static_cast<size_t>(-1);

Status CheckSheetName(const WorkbookImpl& wb, std::u16string_view name, size_t self) {
  if (name.empty()) return Fail("a sheet name cannot be empty");
  if (name.size() > kMaxSheetNameLength)
    return Fail("the sheet name " + Utf16ToUtf8(name) + " is longer than 31 characters");
  for (char16_t c : name)
    if (c == ':' || c == '\\' || c == '/' || c == '?' || c == '*' || c == '[' || c == ']' ||
        c < 0x20)
      return Fail("the sheet name " + Utf16ToUtf8(name) +
                  " holds a character that sheet names cannot hold (: \\ / ? * [ ])");
  if (name.front() == '\'' || name.back() == '\'')
    return Fail("a sheet name cannot begin or end with an apostrophe");
  for (size_t i = 0; i < wb.sheets.size(); ++i)
    if (i != self && EqualsIgnoreCase(wb.model(i).name, name))
      return Fail("the workbook already has a sheet named " + Utf16ToUtf8(name));
  return {};
}

bool IsNameChar(char16_t c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' ||
         c == '.' || c == '\\' || c == '?' || c >= 0x80;
}

Status CheckDefinedName(std::u16string_view n) {
  auto bad = [&](const char* why) { return Fail("the defined name " + Utf16ToUtf8(n) + why); };
  if (n.empty()) return Fail("a defined name cannot be empty");
  if (n.size() > 255) return bad(" is longer than 255 characters");
  char16_t f = n[0];
  if (!((f >= 'A' && f <= 'Z') || (f >= 'a' && f <= 'z') || f == '_' || f == '\\' || f >= 0x80))
    return bad(" must begin with a letter, an underscore or a backslash");
  for (char16_t c : n)
    if (!IsNameChar(c)) return bad(" holds a character that names cannot hold");
  // Names that read as cell references (A1, IV65536, R1C1, R, C).
  size_t i = 0;
  while (i < n.size() && i < 3 && ((n[i] | 0x20) >= 'a' && (n[i] | 0x20) <= 'z'))
    ++i;
  size_t digits = i;
  while (digits < n.size() && n[digits] >= '0' && n[digits] <= '9')
    ++digits;
  if (i > 0 && digits > i && digits == n.size()) return bad(" looks like a cell reference");
  auto rc = [&](size_t p) {
    size_t q = p;
    while (q < n.size() && n[q] >= '0' && n[q] <= '9')
      ++q;
    return q;
  };
  if ((n[0] | 0x20) == 'r') {
    size_t p = rc(1);
    if (p == n.size()) return bad(" looks like a cell reference");
    if ((n[p] | 0x20) == 'c' && rc(p + 1) == n.size()) return bad(" looks like a cell reference");
  }
  if ((n[0] | 0x20) == 'c' && rc(1) == n.size()) return bad(" looks like a cell reference");
  return {};
}

// Rewrites the name references of every formula the model holds after the
// name with 1-based index `deleted` went away.
void RenumberEverywhere(WorkbookImpl& wb, uint16_t deleted) {
  for (auto& n : wb.names)
    detail::RenumberNameRefs(n.rgce, deleted);
  for (size_t s = 0; s < wb.sheets.size(); ++s) {
    SheetModel& m = wb.model(s);
    for (auto& f : m.formulas) {
      if (f.body.size() >= 16) {
        size_t cce = Get16(f.body.data() + 14);
        if (16 + cce <= f.body.size()) detail::RenumberNameRefs({f.body.data() + 16, cce}, deleted);
      }
      for (auto& a : f.attached) {
        size_t at =
            a.type == detail::rt::kShrFmla ? 8 : (a.type == detail::rt::kArray ? 12 : kNpos);
        if (at == kNpos || a.data.size() < at + 2) continue;
        size_t cce = Get16(a.data.data() + at);
        if (at + 2 + cce <= a.data.size())
          detail::RenumberNameRefs({a.data.data() + at + 2, cce}, deleted);
      }
    }
  }
}

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

class FdSink : public cfb::Sink {
 public:
  explicit FdSink(int fd) : fd_(fd) {}
  bool Write(const uint8_t* p, size_t n) override {
    while (n > 0) {
      ssize_t k = ::write(fd_, p, n);
      if (k < 0 && errno == EINTR) continue;
      if (k <= 0) {
        err = k < 0 ? errno : EIO;
        return false;
      }
      p += k;
      n -= static_cast<size_t>(k);
    }
    return true;
  }
  int err = 0;

 private:
  int fd_;
};

std::vector<cfb::OutEntry> BuildEntries(const WorkbookImpl& wb, std::span<const uint8_t> stream) {
  std::vector<cfb::OutEntry> out(wb.container.entries.size());
  for (size_t i = 0; i < out.size(); ++i) {
    const auto& e = wb.container.entries[i];
    auto& o = out[i];
    o.name = e.name;
    o.type = e.type;
    o.clsid = e.clsid;
    o.stateBits = e.stateBits;
    o.created = e.created;
    o.modified = e.modified;
    o.data = e.data;
    o.children = e.children;
  }
  out[static_cast<size_t>(wb.workbookEntry)].data = stream;
  return out;
}

}  // namespace
}  // namespace migrator::xls

namespace migrator::xls {

// ---- Workbook ----

Workbook::Workbook() : impl_(std::make_unique<WorkbookImpl>()) {}
Workbook::Workbook(Workbook&&) noexcept = default;
Workbook& Workbook::operator=(Workbook&&) noexcept = default;
Workbook::~Workbook() = default;

Workbook Workbook::New() {
  Workbook wb;
  detail::InitNewWorkbook(*wb.impl_);
  auto& c = wb.impl_->container;
  cfb::Entry root;
  root.name = u"Root Entry";
  root.type = cfb::EntryType::kRoot;
  // The class of an Excel workbook, {00020820-0000-0000-C000-000000000046}.
  root.clsid = {0x20, 0x08, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00,
                0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};
  root.children = {1};
  cfb::Entry stream;
  stream.name = u"Workbook";
  c.entries.push_back(std::move(root));
  c.entries.push_back(std::move(stream));
  wb.impl_->workbookEntry = 1;
  return wb;
}

Result<Workbook> Workbook::Parse(std::span<const uint8_t> file, const LoadLimits& limits) {
  auto cf = cfb::Parse(file, u"Workbook");
  if (!cf) return cf.error();
  Workbook wb;
  WorkbookImpl& impl = *wb.impl_;
  impl.container = std::move(*cf);
  long idx = impl.container.FindChild(0, u"Workbook");
  if (idx < 0) {
    if (impl.container.FindChild(0, u"Book") >= 0)
      return Fail(
          "this is an Excel 5.0/95 workbook; only Excel 97-2003 (BIFF8) workbooks can be read");
    return Fail("not a workbook: the file has no Workbook stream");
  }
  if (impl.container.entries[static_cast<size_t>(idx)].type != cfb::EntryType::kStream)
    return Fail("not a workbook: Workbook is not a stream");
  // A file that also carries an Excel 5.0 copy of the workbook: that copy would
  // go stale with the first change, so it is not kept.
  long book = impl.container.FindChild(0, u"Book");
  if (book >= 0) {
    auto& kids = impl.container.entries[0].children;
    kids.erase(std::remove(kids.begin(), kids.end(), static_cast<size_t>(book)), kids.end());
    impl.container.entries[static_cast<size_t>(book)].data.clear();
  }
  impl.workbookEntry = idx;
  auto& entry = impl.container.entries[static_cast<size_t>(idx)];
  Bytes stream = std::move(entry.data);
  entry.data.clear();
  std::span<const uint8_t> view =
      entry.view.empty() ? std::span<const uint8_t>(stream) : entry.view;
  entry.view = {};  // the image it points into goes when this call returns
  if (auto st = detail::ParseWorkbookStream(view, impl, limits); !st) return st.error();
  return wb;
}

namespace {

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

Result<Workbook> Workbook::Load(const std::string& path) {
  RemoveStaleSaveFiles(path);
  FileImage file;
  if (auto st = ReadWholeFile(path, file); !st) return st.error();
  auto wb = Parse(std::span<const uint8_t>(file.data.get(), file.size));
  if (!wb) return Fail(path + ": " + wb.message());
  return wb;
}

Result<std::vector<uint8_t>> Workbook::Serialize() const {
  OutBytes& stream = impl_->saveBuffer;
  if (auto st = detail::WriteWorkbookStream(*impl_, stream); !st) return st.error();
  return cfb::WriteToBytes(BuildEntries(*impl_, std::span<const uint8_t>(stream)));
}

Status Workbook::Save(const std::string& path) const {
  OutBytes& stream = impl_->saveBuffer;
  if (auto st = detail::WriteWorkbookStream(*impl_, stream); !st) return st;
  auto entries = BuildEntries(*impl_, std::span<const uint8_t>(stream));

  // Through symbolic links to the file they name: it is replaced, they stay.
  auto real = FollowLinks(path);
  if (!real) return Fail("cannot save " + path + ": " + real.message());
  const std::string dir = DirectoryOf(*real);
  const size_t slash = real->find_last_of('/');
  const std::string base = slash == std::string::npos ? *real : real->substr(slash + 1);
  if (base.empty()) return Fail("cannot save: " + path + " names a directory");
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

  FdSink sink(fd);
  Status st = cfb::Write(entries, sink);
  std::string why;
  if (!st) why = sink.err ? std::strerror(sink.err) : st.message();
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

size_t Workbook::sheetCount() const {
  return impl_->sheets.size();
}
Sheet& Workbook::sheet(size_t index) {
  return *impl_->sheets.at(index);
}
const Sheet& Workbook::sheet(size_t index) const {
  return *impl_->sheets.at(index);
}

std::optional<size_t> Workbook::FindSheet(std::string_view name) const {
  std::u16string n;
  if (!Utf8ToUtf16(name, n)) return std::nullopt;
  for (size_t i = 0; i < impl_->sheets.size(); ++i)
    if (EqualsIgnoreCase(impl_->model(i).name, n)) return i;
  return std::nullopt;
}

Result<size_t> Workbook::AddSheet(std::string_view name, std::optional<size_t> position) {
  WorkbookImpl& wb = *impl_;
  std::u16string n;
  if (!Utf8ToUtf16(name, n)) return Fail("the sheet name is not valid UTF-8");
  if (auto st = CheckSheetName(wb, n, kNpos); !st) return st.error();
  if (wb.sheets.size() >= 0xFFFF) return Fail("the workbook holds too many sheets");
  size_t pos = position.value_or(wb.sheets.size());
  if (pos > wb.sheets.size())
    return Fail("sheet position " + std::to_string(pos + 1) + " is past the last sheet");
  auto m = detail::NewSheetModel(std::move(n));
  uint16_t maxId = 0;
  for (size_t i = 0; i < wb.sheets.size(); ++i)
    maxId = std::max(maxId, wb.model(i).tabId);
  m->tabId = static_cast<uint16_t>(maxId + 1);
  if (pos < wb.sheets.size()) {
    // References by sheet index move with the sheets they name.
    uint16_t self = wb.SelfSupBookIndex(false);
    for (auto& x : wb.xtis) {
      if (x.supBook != self || x.first >= 0xFFFE) continue;
      if (x.first >= pos) ++x.first;
      if (x.last >= pos && x.last < 0xFFFE) ++x.last;
    }
    for (auto& nm : wb.names)
      if (nm.itab > pos) ++nm.itab;
    if (wb.activeSheet >= pos) ++wb.activeSheet;
  }
  wb.sheets.insert(wb.sheets.begin() + static_cast<long>(pos), wb.MakeSheet(std::move(m)));
  if (wb.sheets.size() == 1) {
    wb.activeSheet = 0;
    wb.selectionDirty = true;
  }
  return pos;
}

Status Workbook::DeleteSheet(size_t index) {
  WorkbookImpl& wb = *impl_;
  if (index >= wb.sheets.size()) return Fail("there is no sheet " + std::to_string(index + 1));
  size_t visibleOthers = 0;
  for (size_t i = 0; i < wb.sheets.size(); ++i)
    if (i != index && wb.model(i).visibility == 0) ++visibleOthers;
  if (visibleOthers == 0) return Fail("a workbook must keep at least one visible sheet");
  std::string name = Utf16ToUtf8(wb.model(index).name);

  // The sheet's own names go with it.
  for (size_t i = wb.names.size(); i-- > 0;)
    if (wb.names[i].itab == index + 1) {
      if (auto st = DeleteName(i); !st) return st;
    }
  for (auto& nm : wb.names)
    if (nm.itab > index + 1) --nm.itab;
  // References into the sheet become invalid; later sheets move down by one.
  uint16_t self = wb.SelfSupBookIndex(false);
  for (auto& x : wb.xtis) {
    if (x.supBook != self || x.first >= 0xFFFE || x.last >= 0xFFFE) continue;
    if (x.first == index && x.last == index) {
      x.first = x.last = kXtiDeleted;
      continue;
    }
    if (x.first > index) --x.first;
    if (x.last >= index) --x.last;
  }
  wb.sheets.erase(wb.sheets.begin() + static_cast<long>(index));
  if (wb.activeSheet == index || wb.activeSheet >= wb.sheets.size()) {
    size_t a = std::min<size_t>(index, wb.sheets.size() - 1);
    if (wb.model(a).visibility != 0)
      for (size_t i = 0; i < wb.sheets.size(); ++i)
        if (wb.model(i).visibility == 0) {
          a = i;
          break;
        }
    wb.activeSheet = static_cast<uint16_t>(a);
    wb.selectionDirty = true;
  } else if (wb.activeSheet > index) {
    --wb.activeSheet;
  }
  return {};
}

Status Workbook::RenameSheet(size_t index, std::string_view name) {
  WorkbookImpl& wb = *impl_;
  if (index >= wb.sheets.size()) return Fail("there is no sheet " + std::to_string(index + 1));
  std::u16string n;
  if (!Utf8ToUtf16(name, n)) return Fail("the sheet name is not valid UTF-8");
  if (auto st = CheckSheetName(wb, n, index); !st) return st;
  wb.model(index).name = std::move(n);
  return {};
}

size_t Workbook::activeSheet() const {
  return impl_->activeSheet;
}

Status Workbook::SetActiveSheet(size_t index) {
  if (index >= impl_->sheets.size()) return Fail("there is no sheet " + std::to_string(index + 1));
  if (impl_->model(index).visibility != 0) return Fail("a hidden sheet cannot be the active sheet");
  impl_->activeSheet = static_cast<uint16_t>(index);
  impl_->selectionDirty = true;
  return {};
}

// ---- defined names ----

size_t Workbook::nameCount() const {
  return impl_->names.size();
}

DefinedName Workbook::name(size_t index) const {
  const WorkbookImpl& wb = *impl_;
  DefinedName d;
  if (index >= wb.names.size()) return d;
  const NameRec& n = wb.names[index];
  d.name = wb.NameText(n);
  d.builtin = n.builtin();
  d.hidden = n.hidden();
  if (n.itab > 0) d.scope = n.itab - 1;
  d.kind = DefinedName::Kind::kOther;
  d.reference = "(formula)";
  if (auto ref = detail::ParseRef3d(n.rgce)) {
    uint16_t self = 0xFFFF;
    {
      uint16_t k = 0;
      for (const auto& g : wb.globals) {
        if (g.kind == GlobalSlot::kSupBookSelf) {
          self = k;
          break;
        }
        if (g.kind == GlobalSlot::kRaw && g.rec.type == detail::rt::kSupBook) ++k;
      }
    }
    if (ref->error) {
      d.kind = DefinedName::Kind::kInvalid;
    } else if (ref->ixti < wb.xtis.size() && wb.xtis[ref->ixti].supBook == self) {
      const auto& x = wb.xtis[ref->ixti];
      if (x.first == kXtiDeleted || x.last == kXtiDeleted) {
        d.kind = DefinedName::Kind::kInvalid;
      } else if (x.first == x.last && x.first < wb.sheets.size()) {
        d.kind = DefinedName::Kind::kArea;
        d.sheet = x.first;
        d.range = ref->range;
        d.reference =
            QuoteSheetName(Utf16ToUtf8(wb.model(x.first).name)) + "!" + RangeName(ref->range, true);
      }
    }
  } else if (n.rgce.size() >= 1) {
    uint8_t t = n.rgce[0];
    uint8_t base = t < 0x20 ? t : static_cast<uint8_t>((t & 0x1F) | 0x20);
    if ((n.rgce.size() == 5 && base == 0x2A) || (n.rgce.size() == 9 && base == 0x2B) ||
        (n.rgce.size() == 2 && t == 0x1C && n.rgce[1] == 0x17))
      d.kind = DefinedName::Kind::kInvalid;
  }
  if (d.kind == DefinedName::Kind::kInvalid) d.reference = "#REF!";
  return d;
}

std::optional<size_t> Workbook::FindName(std::string_view name, std::optional<size_t> scope) const {
  const WorkbookImpl& wb = *impl_;
  std::u16string n;
  if (!Utf8ToUtf16(name, n)) return std::nullopt;
  uint16_t itab = scope ? static_cast<uint16_t>(*scope + 1) : 0;
  for (size_t i = 0; i < wb.names.size(); ++i) {
    const NameRec& r = wb.names[i];
    if (r.itab != itab) continue;
    if (r.builtin() && r.name.size() == 1) {
      if (EqualsIgnoreCase(wb.NameText(r), name)) return i;
    } else if (EqualsIgnoreCase(r.name, n)) {
      return i;
    }
  }
  return std::nullopt;
}

Status Workbook::DefineName(std::string_view name, size_t sheet, const Range& area,
                            std::optional<size_t> scope) {
  WorkbookImpl& wb = *impl_;
  std::u16string n;
  if (!Utf8ToUtf16(name, n)) return Fail("the defined name is not valid UTF-8");
  if (auto st = CheckDefinedName(n); !st) return st;
  if (sheet >= wb.sheets.size()) return Fail("there is no sheet " + std::to_string(sheet + 1));
  if (scope && *scope >= wb.sheets.size())
    return Fail("there is no sheet " + std::to_string(*scope + 1));
  if (area.firstRow > area.lastRow || area.firstCol > area.lastCol || area.lastRow >= kMaxRows ||
      area.lastCol >= kMaxColumns)
    return Fail("the range of the defined name " + std::string(name) +
                " is not a valid block of cells");
  auto existing = FindName(name, scope);
  uint16_t ixti = wb.XtiForSheet(sheet);
  if (wb.xtis.size() > 0xFFFF) return Fail("the workbook holds too many sheet references");
  Bytes rgce = detail::MakeRef3d(ixti, area);
  if (existing) {
    NameRec& r = wb.names[*existing];
    r.rgce = std::move(rgce);
    // Extra data of the old formula and its texts are not kept with a new formula.
    r.tail.clear();
    r.lengths = {};
    return {};
  }
  NameRec r;
  r.name = std::move(n);
  r.itab = scope ? static_cast<uint16_t>(*scope + 1) : 0;
  r.rgce = std::move(rgce);
  wb.names.push_back(std::move(r));
  if (wb.FindGlobal(GlobalSlot::kNames) == kNpos) wb.InsertGlobalSlot(GlobalSlot::kNames);
  return {};
}

Status Workbook::MoveNameArea(size_t index, size_t sheet, const Range& area) {
  WorkbookImpl& wb = *impl_;
  if (index >= wb.names.size())
    return Fail("there is no defined name " + std::to_string(index + 1));
  if (area.firstRow > area.lastRow || area.firstCol > area.lastCol || area.lastRow >= kMaxRows ||
      area.lastCol >= kMaxColumns)
    return Fail("the new range of a defined name is not a valid block of cells");
  NameRec& r = wb.names[index];
  // ptgRef3d or ptgArea3d (any class), alone.
  const bool block = (r.rgce.size() == 7 && (r.rgce[0] & 0x1F) == 0x1A) ||
                     (r.rgce.size() == 11 && (r.rgce[0] & 0x1F) == 0x1B);
  const uint16_t ixti = block ? Get16(r.rgce.data() + 1) : 0xFFFF;
  if (!block || ixti >= wb.xtis.size() || wb.xtis[ixti].first != sheet ||
      wb.xtis[ixti].last != sheet || wb.xtis[ixti].supBook != wb.SelfSupBookIndex(false))
    return Fail("the defined name " + std::to_string(index + 1) +
                " is not a block of cells of sheet " + std::to_string(sheet + 1));
  r.rgce = detail::MakeRef3d(ixti, area);
  r.tail.clear();
  r.lengths = {};
  return {};
}

Status Workbook::DeleteName(size_t index) {
  WorkbookImpl& wb = *impl_;
  if (index >= wb.names.size())
    return Fail("there is no defined name " + std::to_string(index + 1));
  wb.names.erase(wb.names.begin() + static_cast<long>(index));
  RenumberEverywhere(wb, static_cast<uint16_t>(index + 1));
  return {};
}

// ---- formats ----

size_t Workbook::fontCount() const {
  return impl_->fonts.size();
}

std::optional<Font> Workbook::font(uint16_t index) const {
  if (index == 4) return std::nullopt;
  size_t i = index < 4 ? index : index - 1u;
  if (i >= impl_->fonts.size()) return std::nullopt;
  return detail::DecodeFont(impl_->fonts[i]);
}

size_t Workbook::formatCount() const {
  return impl_->xfs.size();
}

CellFormat Workbook::format(uint16_t xf) const {
  if (xf >= impl_->xfs.size()) return {};
  return detail::DecodeXf(impl_->xfs[xf]);
}

namespace {
const char* BuiltinFormat(uint16_t id) {
  switch (id) {
    case 0:
      return "General";
    case 1:
      return "0";
    case 2:
      return "0.00";
    case 3:
      return "#,##0";
    case 4:
      return "#,##0.00";
    case 9:
      return "0%";
    case 10:
      return "0.00%";
    case 11:
      return "0.00E+00";
    case 12:
      return "# ?/?";
    case 13:
      return "# ?\?/??";
    case 14:
      return "M/D/YY";
    case 15:
      return "D-MMM-YY";
    case 16:
      return "D-MMM";
    case 17:
      return "MMM-YY";
    case 18:
      return "h:mm AM/PM";
    case 19:
      return "h:mm:ss AM/PM";
    case 20:
      return "h:mm";
    case 21:
      return "h:mm:ss";
    case 22:
      return "M/D/YY h:mm";
    case 37:
      return "#,##0_);(#,##0)";
    case 38:
      return "#,##0_);[Red](#,##0)";
    case 39:
      return "#,##0.00_);(#,##0.00)";
    case 40:
      return "#,##0.00_);[Red](#,##0.00)";
    case 45:
      return "mm:ss";
    case 46:
      return "[h]:mm:ss";
    case 47:
      return "mm:ss.0";
    case 48:
      return "##0.0E+0";
    case 49:
      return "@";
    default:
      return nullptr;
  }
}
}  // namespace

std::string Workbook::NumberFormatCode(uint16_t id) const {
  for (const auto& f : impl_->formats)
    if (f.id == id) return Utf16ToUtf8(f.code);
  const char* b = BuiltinFormat(id);
  return b ? b : "General";
}

Result<uint16_t> Workbook::CellFormatWithNumberFormat(uint16_t xf, std::string_view code) {
  WorkbookImpl& wb = *impl_;
  if (xf >= wb.xfs.size()) return Fail("there is no cell format " + std::to_string(xf));
  std::u16string wanted;
  if (!Utf8ToUtf16(code, wanted) || wanted.empty() || wanted.size() > 255)
    return Fail("\"" + std::string(code) + "\" is not a number format that can be stored");
  std::optional<uint16_t> id;
  uint16_t last = 163;  // custom formats count from 164
  for (const auto& f : wb.formats) {
    if (f.code == wanted) id = f.id;
    last = std::max(last, f.id);
  }
  for (uint16_t b = 0; !id && b < 164; ++b) {
    const char* builtin = BuiltinFormat(b);
    if (builtin && code == builtin) id = b;
  }
  if (!id) {
    if (last == 0xFFFF) return Fail("the workbook holds the most number formats it can");
    id = static_cast<uint16_t>(last + 1);
    wb.formats.push_back({*id, std::move(wanted)});
    if (wb.FindGlobal(GlobalSlot::kFormats) == kNpos) wb.InsertGlobalSlot(GlobalSlot::kFormats);
  }
  std::array<uint8_t, 20> x = wb.xfs[xf];
  if (x[4] & 0x04) {
    // A style: the cell format inherits from it.
    Put16(x.data() + 4, static_cast<uint16_t>((xf << 4) | (Get16(x.data() + 4) & 0x0003)));
  }
  Put16(x.data() + 2, *id);
  x[9] |= 0x04;  // the number format is this cell format's own
  return wb.FindOrAddXf(x);
}

bool Workbook::IsDateFormat(uint16_t xf) const {
  if (xf >= impl_->xfs.size()) return false;
  uint16_t id = Get16(impl_->xfs[xf].data() + 2);
  bool custom = false;
  std::u16string code;
  for (const auto& f : impl_->formats)
    if (f.id == id) {
      code = f.code;
      custom = true;
    }
  if (!custom)
    return (id >= 14 && id <= 22) || (id >= 27 && id <= 36) || (id >= 45 && id <= 47) ||
           (id >= 50 && id <= 58);
  // A date or time code holds d, m, y, h or s outside quotes, escapes and
  // bracketed colours or conditions.
  bool inQuote = false;
  for (size_t i = 0; i < code.size(); ++i) {
    char16_t c = code[i];
    if (inQuote) {
      if (c == '"') inQuote = false;
      continue;
    }
    if (c == '"') {
      inQuote = true;
    } else if (c == '\\' || c == '_' || c == '*') {
      ++i;
    } else if (c == '[') {
      size_t e = code.find(u']', i);
      if (e == std::u16string::npos) break;
      std::u16string in = code.substr(i + 1, e - i - 1);
      if (!in.empty() && ((in[0] | 0x20) == 'h' || (in[0] | 0x20) == 'm' || (in[0] | 0x20) == 's'))
        return true;
      i = e;
    } else if (c < 0x80) {
      char16_t l = c | 0x20;
      if (l == 'g' && i + 7 <= code.size()) {
        bool general = true;
        const char16_t* g = u"general";
        for (size_t k = 0; k < 7; ++k)
          if ((code[i + k] | 0x20) != g[k]) general = false;
        if (general) {
          i += 6;
          continue;
        }
      }
      if (l == 'd' || l == 'm' || l == 'y' || l == 'h' || l == 's') return true;
    }
  }
  return false;
}

bool Workbook::date1904() const {
  return impl_->date1904;
}

}  // namespace migrator::xls
