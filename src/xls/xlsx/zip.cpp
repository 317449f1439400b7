#include "xls/xlsx/zip.h"

#include <isa-l/crc.h>
#include <isa-l/igzip_lib.h>
#include <zip.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <unordered_set>

#include "xls/unicode.h"

namespace migrator::xls::xlsx {

namespace {

// More entries than any workbook package holds.
constexpr uint64_t kMaxEntries = 100000;
constexpr size_t kPiece = 64 * 1024;

std::string SizeText(uint64_t bytes) {
  if (bytes < (uint64_t{1} << 20)) return std::to_string((bytes + 1023) >> 10) + " KiB";
  return std::to_string((bytes + (1 << 20) - 1) >> 20) + " MiB";
}

std::string Lower(std::string_view s) {
  std::string l(s);
  for (char& c : l)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return l;
}

// Why an entry name cannot be a part's: it would name something else than a
// part inside the package wherever it is taken as a path.
const char* BadName(std::string_view name) {
  if (name.empty()) return "an empty name";
  if (name.size() > 1024) return "a name too long for a part";
  if (name.front() == '/') return "an absolute path";
  if (name.size() >= 2 && name[1] == ':') return "a drive letter";
  std::u16string wide;
  if (!Utf8ToUtf16(name, wide)) return "a name that is not UTF-8";
  for (char c : name)
    if (static_cast<unsigned char>(c) < 0x20 || c == '\\' || c == 0x7F)
      return "a backslash or a control character";
  size_t from = 0;
  while (from <= name.size()) {
    size_t slash = name.find('/', from);
    if (slash == std::string_view::npos) slash = name.size();
    std::string_view seg = name.substr(from, slash - from);
    if (seg == "." || seg == "..") return "a path that climbs out of the package";
    if (seg.empty() && slash != name.size()) return "an empty path segment";
    from = slash + 1;
  }
  return nullptr;
}

}  // namespace

struct ZipReader::Archive {
  zip_t* za = nullptr;
  ~Archive() {
    if (za) zip_discard(za);
  }
};

ZipReader::~ZipReader() = default;

Result<std::unique_ptr<ZipReader>> ZipReader::Open(std::span<const uint8_t> image,
                                                   const LoadLimits& limits) {
  zip_error_t err;
  zip_error_init(&err);
  zip_source_t* src = zip_source_buffer_create(image.data(), image.size(), 0, &err);
  zip_error_fini(&err);
  if (!src) return Fail("not enough memory to open the package");
  return FromSource(src, image.size(), limits);
}

Result<std::unique_ptr<ZipReader>> ZipReader::OpenFile(const std::string& path, uint64_t size,
                                                       const LoadLimits& limits) {
  zip_error_t err;
  zip_error_init(&err);
  zip_source_t* src = zip_source_file_create(path.c_str(), 0, -1, &err);
  std::string why = src ? "" : zip_error_strerror(&err);
  zip_error_fini(&err);
  if (!src) return Fail("cannot read " + path + ": " + why);
  return FromSource(src, size, limits);
}

Result<std::unique_ptr<ZipReader>> ZipReader::FromSource(void* source, uint64_t packageSize,
                                                         const LoadLimits& limits) {
  zip_source_t* src = static_cast<zip_source_t*>(source);
  zip_error_t err;
  zip_error_init(&err);
  zip_t* za = zip_open_from_source(src, ZIP_RDONLY | ZIP_CHECKCONS, &err);
  if (!za) {
    zip_source_free(src);
    const int code = zip_error_code_zip(&err);
    std::string why = zip_error_strerror(&err);
    zip_error_fini(&err);
    if (code == ZIP_ER_NOZIP) return Fail("not a workbook: the file is not a zip package");
    if (code == ZIP_ER_INCONS)
      return Fail("the package is damaged: its directory does not match its entries");
    if (code == ZIP_ER_MEMORY) return Fail("not enough memory to open the package");
    return Fail("the package cannot be read: " + why);
  }
  zip_error_fini(&err);
  std::unique_ptr<ZipReader> r(new ZipReader());
  r->za_ = std::make_unique<Archive>();
  r->za_->za = za;

  const size_t perByte = limits.inflatedPerPackageByte;
  const uint64_t relative =
      perByte && packageSize > (UINT64_MAX - limits.baseInflatedBytes) / perByte
          ? UINT64_MAX
          : limits.baseInflatedBytes + packageSize * perByte;
  r->budget_ = std::min<uint64_t>(relative, limits.maxInflatedBytes);

  const zip_int64_t n = zip_get_num_entries(za, 0);
  if (n < 0) return Fail("the package's directory cannot be read");
  if (static_cast<uint64_t>(n) > kMaxEntries)
    return Fail("the package holds " + std::to_string(n) +
                " entries, far more than a workbook has; it is not opened");
  std::unordered_set<std::string> seen;
  uint64_t declared = 0;
  for (zip_int64_t i = 0; i < n; ++i) {
    zip_stat_t st;
    zip_stat_init(&st);
    if (zip_stat_index(za, static_cast<zip_uint64_t>(i), ZIP_FL_ENC_RAW, &st) != 0 ||
        !(st.valid & ZIP_STAT_NAME))
      return Fail("entry " + std::to_string(i + 1) +
                  " of the package cannot be read: " + zip_strerror(za));
    std::string name = st.name;
    if (!name.empty() && name.back() == '/') {
      // A folder entry: nothing to read, as long as it holds nothing.
      if ((st.valid & ZIP_STAT_SIZE) && st.size == 0) continue;
      return Fail("the package's entry " + name + " is a folder with content");
    }
    if (const char* why = BadName(name))
      return Fail("the package holds an entry named \"" + name + "\": " + why +
                  "; the package is damaged or made to write outside a folder, and is not opened");
    if ((st.valid & ZIP_STAT_ENCRYPTION_METHOD) && st.encryption_method != ZIP_EM_NONE)
      return Fail("the package's entry " + name +
                  " is encrypted; encrypted workbooks are not supported");
    if ((st.valid & ZIP_STAT_COMP_METHOD) && st.comp_method != ZIP_CM_STORE &&
        st.comp_method != ZIP_CM_DEFLATE)
      return Fail("the package's entry " + name + " is compressed by method " +
                  std::to_string(st.comp_method) + ", which this program does not read");
    if (!seen.insert(Lower(name)).second)
      return Fail("the package holds two entries named " + name +
                  "; it is damaged and is not opened");
    const uint64_t size = (st.valid & ZIP_STAT_SIZE) ? st.size : 0;
    declared += std::min<uint64_t>(size, UINT64_MAX / 2);
    if (declared > r->budget_)
      return Fail("the package's parts would inflate to more than " + SizeText(r->budget_) +
                  ", far more than a package of " + SizeText(packageSize) +
                  " holds; it is damaged or made to exhaust memory, and is not opened");
    r->entries_.push_back({std::move(name), size, static_cast<uint64_t>(i)});
  }
  return r;
}

long ZipReader::Find(std::string_view name) const {
  const std::string wanted = Lower(name);
  for (size_t i = 0; i < entries_.size(); ++i)
    if (entries_[i].name.size() == wanted.size() && Lower(entries_[i].name) == wanted)
      return static_cast<long>(i);
  return -1;
}

Status ZipReader::Read(size_t entry, const std::function<Status(const char*, size_t)>& sink) {
  const Entry& e = entries_.at(entry);
  zip_file_t* f = zip_fopen_index(za_->za, e.index, 0);
  if (!f) return Fail("the part " + e.name + " cannot be read: " + zip_strerror(za_->za));
  std::vector<char> buf(kPiece);
  Status st;
  for (;;) {
    const zip_int64_t k = zip_fread(f, buf.data(), buf.size());
    if (k < 0) {
      st = Fail("the part " + e.name + " is damaged: " + zip_file_strerror(f));
      break;
    }
    if (k == 0) break;
    inflated_ += static_cast<uint64_t>(k);
    if (inflated_ > budget_) {
      st = Fail("the package's parts inflate to more than " + SizeText(budget_) +
                ", far more than its size allows; it is damaged or made to exhaust memory, and "
                "is not opened");
      break;
    }
    if (st = sink(buf.data(), static_cast<size_t>(k)); !st) break;
  }
  zip_fclose(f);
  return st;
}

Result<std::string> ZipReader::ReadAll(size_t entry, size_t maxBytes) {
  std::string out;
  const Entry& e = entries_.at(entry);
  if (e.size <= maxBytes) out.reserve(static_cast<size_t>(e.size));
  auto st = Read(entry, [&](const char* p, size_t n) -> Status {
    if (out.size() + n > maxBytes)
      return Fail("the part " + e.name + " is larger than such a part ever is (" +
                  SizeText(maxBytes) + ")");
    out.append(p, n);
    return {};
  });
  if (!st) return st.error();
  return out;
}

// ---- writing ----

namespace {

// The archive's own bytes go to the save's output.
struct OutputSource {
  detail::Output* out = nullptr;
  zip_error_t err;
  std::string failure;

  static zip_int64_t Callback(void* u, void* data, zip_uint64_t len, zip_source_cmd_t cmd) {
    auto* s = static_cast<OutputSource*>(u);
    switch (cmd) {
      case ZIP_SOURCE_SUPPORTS:
        return zip_source_make_command_bitmap(
            ZIP_SOURCE_OPEN, ZIP_SOURCE_READ, ZIP_SOURCE_CLOSE, ZIP_SOURCE_STAT, ZIP_SOURCE_ERROR,
            ZIP_SOURCE_FREE, ZIP_SOURCE_SEEK, ZIP_SOURCE_TELL, ZIP_SOURCE_SUPPORTS,
            ZIP_SOURCE_BEGIN_WRITE, ZIP_SOURCE_COMMIT_WRITE, ZIP_SOURCE_ROLLBACK_WRITE,
            ZIP_SOURCE_WRITE, ZIP_SOURCE_SEEK_WRITE, ZIP_SOURCE_TELL_WRITE, ZIP_SOURCE_REMOVE, -1);
      case ZIP_SOURCE_STAT: {
        auto* st = static_cast<zip_stat_t*>(data);
        zip_stat_init(st);
        st->size = 0;
        st->valid |= ZIP_STAT_SIZE;
        return sizeof(*st);
      }
      case ZIP_SOURCE_OPEN:
      case ZIP_SOURCE_CLOSE:
      case ZIP_SOURCE_READ:
      case ZIP_SOURCE_SEEK:
      case ZIP_SOURCE_TELL:
      case ZIP_SOURCE_BEGIN_WRITE:
      case ZIP_SOURCE_COMMIT_WRITE:
      case ZIP_SOURCE_ROLLBACK_WRITE:
      case ZIP_SOURCE_REMOVE:
      case ZIP_SOURCE_FREE:
        return 0;
      case ZIP_SOURCE_WRITE:
        if (!s->out->Write(static_cast<const uint8_t*>(data), len)) {
          s->failure = s->out->Error();
          zip_error_set(&s->err, ZIP_ER_WRITE, 0);
          return -1;
        }
        return static_cast<zip_int64_t>(len);
      case ZIP_SOURCE_SEEK_WRITE: {
        auto* a = ZIP_SOURCE_GET_ARGS(zip_source_args_seek_t, data, len, &s->err);
        if (!a) return -1;
        const uint64_t end = s->out->Tell();
        int64_t base = a->whence == SEEK_SET ? 0 : static_cast<int64_t>(end);
        if (a->whence == SEEK_END) base = static_cast<int64_t>(end);
        const int64_t to = base + a->offset;
        if (to < 0 || !s->out->Seek(static_cast<uint64_t>(to))) {
          s->failure = s->out->Error();
          zip_error_set(&s->err, ZIP_ER_SEEK, 0);
          return -1;
        }
        return 0;
      }
      case ZIP_SOURCE_TELL_WRITE:
        return static_cast<zip_int64_t>(s->out->Tell());
      case ZIP_SOURCE_ERROR:
        return zip_error_to_data(&s->err, data, len);
      default:
        zip_error_set(&s->err, ZIP_ER_OPNOTSUPP, 0);
        return -1;
    }
  }
};

// A part whose bytes are made while it is compressed. It is deflated here
// and handed to libzip as deflated data with its CRC and size, so that the
// part's bytes go once through the compressor and nowhere else (libzip's own
// layers would copy them in small reads and sum them with a slower CRC).
// At the fastest level (the sheets) the deflate is ISA-L's: four times the
// speed of zlib's level 1 on sheet XML, and a smaller result; other levels
// are zlib's, with libzip's parameters.
struct PartSource {
  ZipWriter::PieceSource next;
  int level = 6;
  z_stream z{};
  isal_zstream fast{};
  std::vector<uint8_t> fastLevel;  // ISA-L's level 1 tables
  bool started = false;            // deflateInit2 done
  bool lastIn = false;             // every piece given to deflate
  bool ended = false;              // the deflate stream is complete
  std::string_view in;             // what deflate has still to take of the current piece
  uint32_t crc = 0;
  uint64_t size = 0, compressed = 0;
  zip_error_t err;
  std::string failure;

  ~PartSource() {
    if (started && level > 1) deflateEnd(&z);
  }

  zip_int64_t Stop(std::string why, int code) {
    failure = std::move(why);
    zip_error_set(&err, code, 0);
    return -1;
  }

  zip_int64_t Start() {
    if (level <= 1) {
      fastLevel.resize(ISAL_DEF_LVL1_DEFAULT);
      isal_deflate_init(&fast);
      fast.level = 1;
      fast.level_buf = fastLevel.data();
      fast.level_buf_size = static_cast<uint32_t>(fastLevel.size());
      fast.flush = NO_FLUSH;
    } else if (deflateInit2(&z, level, Z_DEFLATED, -MAX_WBITS, MAX_MEM_LEVEL, Z_DEFAULT_STRATEGY) !=
               Z_OK) {
      return Stop("not enough memory to compress a part", ZIP_ER_MEMORY);
    }
    started = true;
    return 0;
  }

  // Deflates what it can of `in` into out/room; false when it cannot.
  bool Deflate(uint8_t*& out, uint32_t& room) {
    const uint32_t take = static_cast<uint32_t>(std::min<size_t>(in.size(), UINT32_MAX));
    if (level <= 1) {
      fast.next_in = reinterpret_cast<uint8_t*>(const_cast<char*>(in.data()));
      fast.avail_in = take;
      fast.end_of_stream = lastIn ? 1 : 0;
      fast.next_out = out;
      fast.avail_out = room;
      if (isal_deflate(&fast) != COMP_OK) return false;
      in.remove_prefix(take - fast.avail_in);
      out = fast.next_out;
      room = fast.avail_out;
      ended = fast.internal_state.state == ZSTATE_END;
      return true;
    }
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data()));
    z.avail_in = take;
    z.next_out = out;
    z.avail_out = room;
    const int rc = deflate(&z, lastIn ? Z_FINISH : Z_NO_FLUSH);
    in.remove_prefix(take - z.avail_in);
    out = z.next_out;
    room = z.avail_out;
    ended = rc == Z_STREAM_END;
    return rc == Z_OK || rc == Z_BUF_ERROR || rc == Z_STREAM_END;
  }

  // Fills `out` with up to `len` deflated bytes; their count, or -1.
  zip_int64_t Read(uint8_t* out, zip_uint64_t len) {
    if (ended || len == 0) return 0;
    const uint32_t wanted = static_cast<uint32_t>(std::min<zip_uint64_t>(len, UINT32_MAX));
    uint32_t room = wanted;
    while (room > 0 && !ended) {
      if (in.empty() && !lastIn) {
        auto piece = next();
        if (!piece) return Stop(piece.message(), ZIP_ER_INTERNAL);
        in = *piece;
        if (in.empty()) {
          lastIn = true;
        } else {
          crc = crc32_gzip_refl(crc, reinterpret_cast<const uint8_t*>(in.data()), in.size());
          size += in.size();
        }
      }
      if (!Deflate(out, room)) return Stop("a part cannot be compressed", ZIP_ER_INTERNAL);
    }
    const zip_uint64_t k = wanted - room;
    compressed += k;
    return static_cast<zip_int64_t>(k);
  }

  static zip_int64_t Callback(void* u, void* data, zip_uint64_t len, zip_source_cmd_t cmd) {
    auto* s = static_cast<PartSource*>(u);
    switch (cmd) {
      case ZIP_SOURCE_SUPPORTS:
        return zip_source_make_command_bitmap(
            ZIP_SOURCE_OPEN, ZIP_SOURCE_READ, ZIP_SOURCE_CLOSE, ZIP_SOURCE_STAT, ZIP_SOURCE_ERROR,
            ZIP_SOURCE_FREE, ZIP_SOURCE_SUPPORTS, ZIP_SOURCE_GET_FILE_ATTRIBUTES, -1);
      case ZIP_SOURCE_STAT: {
        // Deflated data; its sizes and CRC once it has all been read.
        auto* st = static_cast<zip_stat_t*>(data);
        zip_stat_init(st);
        st->valid |= ZIP_STAT_COMP_METHOD;
        st->comp_method = ZIP_CM_DEFLATE;
        if (s->ended) {
          st->valid |= ZIP_STAT_SIZE | ZIP_STAT_COMP_SIZE | ZIP_STAT_CRC;
          st->size = s->size;
          st->comp_size = s->compressed;
          st->crc = s->crc;
        }
        return sizeof(*st);
      }
      case ZIP_SOURCE_GET_FILE_ATTRIBUTES: {
        // What libzip's own deflate states: the version deflate needs and
        // the bits that tell a fast or a maximal compression.
        if (len < sizeof(zip_file_attributes_t)) {
          zip_error_set(&s->err, ZIP_ER_INVAL, 0);
          return -1;
        }
        auto* a = static_cast<zip_file_attributes_t*>(data);
        a->valid |=
            ZIP_FILE_ATTRIBUTES_VERSION_NEEDED | ZIP_FILE_ATTRIBUTES_GENERAL_PURPOSE_BIT_FLAGS;
        a->version_needed = 20;
        a->general_purpose_bit_mask = 0x0006;
        a->general_purpose_bit_flags = s->level < 3 ? 2 << 1 : s->level > 7 ? 1 << 1 : 0;
        return 0;
      }
      case ZIP_SOURCE_OPEN:
        return s->started ? 0 : s->Start();
      case ZIP_SOURCE_CLOSE:
      case ZIP_SOURCE_FREE:
        return 0;
      case ZIP_SOURCE_READ:
        return s->Read(static_cast<uint8_t*>(data), len);
      case ZIP_SOURCE_ERROR:
        return zip_error_to_data(&s->err, data, len);
      default:
        zip_error_set(&s->err, ZIP_ER_OPNOTSUPP, 0);
        return -1;
    }
  }
};

// 1980-01-01 00:00, the zip format's first date: a package saved twice is
// the same bytes twice.
constexpr zip_uint16_t kDosDate = (0 << 9) | (1 << 5) | 1;

}  // namespace

struct ZipWriter::Impl {
  OutputSource out;
  zip_t* za = nullptr;
  std::vector<std::unique_ptr<PartSource>> parts;
  std::string failure;
};

ZipWriter::ZipWriter(detail::Output& out) : impl_(std::make_unique<Impl>()) {
  Impl& m = *impl_;
  m.out.out = &out;
  zip_error_init(&m.out.err);
  zip_error_t err;
  zip_error_init(&err);
  zip_source_t* src = zip_source_function_create(OutputSource::Callback, &m.out, &err);
  if (src) {
    m.za = zip_open_from_source(src, ZIP_CREATE | ZIP_TRUNCATE, &err);
    if (!m.za) zip_source_free(src);
  }
  if (!m.za) m.failure = std::string("the package cannot be made: ") + zip_error_strerror(&err);
  zip_error_fini(&err);
}

ZipWriter::~ZipWriter() {
  if (impl_->za) zip_discard(impl_->za);
  zip_error_fini(&impl_->out.err);
  for (auto& p : impl_->parts)
    zip_error_fini(&p->err);
}

namespace {

Status AddSource(zip_t* za, const std::string& name, zip_source_t* src, size_t hint, int level) {
  if (!src) return Fail("not enough memory for the part " + name);
  const zip_int64_t i = zip_file_add(za, name.c_str(), src, ZIP_FL_ENC_UTF_8);
  if (i < 0) {
    zip_source_free(src);
    return Fail("the part " + name + " cannot be added: " + zip_strerror(za));
  }
  if (level <= 0) level = hint > (1u << 20) ? 1 : 6;
  if (zip_set_file_compression(za, static_cast<zip_uint64_t>(i), ZIP_CM_DEFLATE,
                               static_cast<zip_uint32_t>(std::min(level, 9))) != 0 ||
      zip_file_set_dostime(za, static_cast<zip_uint64_t>(i), 0, kDosDate, 0) != 0)
    return Fail("the part " + name + " cannot be added: " + zip_strerror(za));
  return {};
}

}  // namespace

Status ZipWriter::Add(const std::string& name, std::string_view bytes, int level) {
  if (!impl_->za) return Fail(impl_->failure);
  zip_source_t* src = zip_source_buffer(impl_->za, bytes.data(), bytes.size(), 0);
  return AddSource(impl_->za, name, src, bytes.size(), level);
}

Status ZipWriter::AddPieces(const std::string& name, PieceSource pieces, int level) {
  if (!impl_->za) return Fail(impl_->failure);
  auto part = std::make_unique<PartSource>();
  part->next = std::move(pieces);
  part->level = std::clamp(level <= 0 ? 1 : level, 1, 9);
  zip_error_init(&part->err);
  zip_source_t* src = zip_source_function(impl_->za, PartSource::Callback, part.get());
  impl_->parts.push_back(std::move(part));
  return AddSource(impl_->za, name, src, SIZE_MAX, level);
}

Status ZipWriter::Finish() {
  Impl& m = *impl_;
  if (!m.za) return Fail(m.failure);
  if (zip_close(m.za) != 0) {
    std::string why;
    for (const auto& p : m.parts)
      if (!p->failure.empty()) why = p->failure;
    if (why.empty()) why = m.out.failure;
    if (why.empty()) why = zip_strerror(m.za);
    zip_discard(m.za);
    m.za = nullptr;
    m.failure = why;
    return Fail(why);
  }
  m.za = nullptr;
  return {};
}

}  // namespace migrator::xls::xlsx
