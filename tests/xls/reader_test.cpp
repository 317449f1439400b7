// The reader on record streams built by hand: record kinds that the corpus
// writers do not produce, strings split over CONTINUE records, and damaged
// streams, which must give an error text.

#include <malloc.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <string>

#include "xls/biff/cfb.h"
#include "xls/workbook.h"

namespace migrator::xls {
namespace {

// Builds a Workbook stream record by record.
class Biff {
 public:
  Biff& Rec(uint16_t type, const Bytes& data) {
    W16(type);
    W16(static_cast<uint16_t>(data.size()));
    out.insert(out.end(), data.begin(), data.end());
    return *this;
  }
  size_t pos() const { return out.size(); }
  void W16(uint16_t v) {
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
  }
  Bytes out;
};

struct D {  // little-endian data for one record
  D& u8(uint8_t v) {
    b.push_back(v);
    return *this;
  }
  D& u16(uint16_t v) { return u8(static_cast<uint8_t>(v)).u8(static_cast<uint8_t>(v >> 8)); }
  D& u32(uint32_t v) { return u16(static_cast<uint16_t>(v)).u16(static_cast<uint16_t>(v >> 16)); }
  D& f64(double v) {
    uint64_t bits;
    std::memcpy(&bits, &v, 8);
    return u32(static_cast<uint32_t>(bits)).u32(static_cast<uint32_t>(bits >> 32));
  }
  D& ascii(const char* s) {
    while (*s)
      u8(static_cast<uint8_t>(*s++));
    return *this;
  }
  D& wide(std::u16string_view s) {
    for (char16_t c : s)
      u16(c);
    return *this;
  }
  Bytes b;
};

Bytes Bof(uint16_t kind) {
  return D().u16(0x0600).u16(kind).u16(0).u16(0).u32(0).u32(0).b;
}

Bytes Xf(bool style) {
  D d;
  d.u16(0).u16(0).u16(style ? 0xFFF5 : 0x0001).u8(0x20).u8(0).u8(0).u8(0).u32(0).u32(0).u16(0x20C0);
  return d.b;
}

// A workbook with one sheet whose cells come from `cells`; the shared string
// table is `sst` (SST and CONTINUE record data, in order).
Bytes Wrap(const Bytes& stream) {
  std::vector<cfb::OutEntry> e(2);
  e[0].name = u"Root Entry";
  e[0].type = cfb::EntryType::kRoot;
  e[0].children = {1};
  e[1].name = u"Workbook";
  e[1].data = stream;
  auto img = cfb::WriteToBytes(e);
  EXPECT_TRUE(img);
  return *img;
}

Bytes Book(const std::function<void(Biff&)>& cells, const std::vector<Bytes>& sst = {},
           bool sheetEnds = true) {
  Biff g;
  g.Rec(0x0809, Bof(0x0005));
  for (int i = 0; i < 4; ++i)
    g.Rec(0x0031, D().u16(200)
                      .u16(0)
                      .u16(0x7FFF)
                      .u16(400)
                      .u16(0)
                      .u8(0)
                      .u8(0)
                      .u8(0)
                      .u8(0)
                      .u8(5)
                      .u8(0)
                      .ascii("Arial")
                      .b);
  for (int i = 0; i < 15; ++i)
    g.Rec(0x00E0, Xf(true));
  g.Rec(0x00E0, Xf(false));
  size_t bs = g.pos();
  g.Rec(0x0085, D().u32(0).u8(0).u8(0).u8(5).u8(0).ascii("Sheet").b);
  if (!sst.empty()) {
    g.Rec(0x00FC, sst[0]);
    for (size_t i = 1; i < sst.size(); ++i)
      g.Rec(0x003C, sst[i]);
  }
  g.Rec(0x000A, {});
  uint32_t sheetPos = static_cast<uint32_t>(g.pos());
  g.out[bs + 4] = static_cast<uint8_t>(sheetPos);
  g.out[bs + 5] = static_cast<uint8_t>(sheetPos >> 8);
  g.Rec(0x0809, Bof(0x0010));
  cells(g);
  if (sheetEnds) g.Rec(0x000A, {});
  g.out.resize(std::max<size_t>(g.out.size(), 4096), 0);
  return Wrap(g.out);
}

TEST(Reader, EveryKindOfCellRecord) {
  Bytes file = Book([](Biff& b) {
    b.Rec(0x0200, D().u32(0).u32(10).u16(0).u16(10).u16(0).b);
    b.Rec(0x0204, D().u16(0).u16(0).u16(15).u16(5).u8(0).ascii("label").b);  // LABEL
    b.Rec(0x00D6, D().u16(0)
                      .u16(1)
                      .u16(15)
                      .u16(4)
                      .u8(1)
                      .wide(u"r\u00e9ch")
                      .u16(1)
                      .u16(2)
                      .u16(0)
                      .b);                                                 // RSTRING
    b.Rec(0x0203, D().u16(1).u16(0).u16(15).f64(-1.25).b);                 // NUMBER
    b.Rec(0x027E, D().u16(1).u16(1).u16(15).u32((1234u << 2) | 2 | 1).b);  // RK 12.34
    b.Rec(0x00BD,
          D().u16(2).u16(3).u16(15).u32((7u << 2) | 2).u16(15).u32(0x3FF00000).u16(4).b);  // MULRK
                                                                                           // 7, 1.0
    b.Rec(0x00BE, D().u16(3).u16(0).u16(15).u16(15).u16(15).u16(2).b);  // MULBLANK A4:C4
    b.Rec(0x0205, D().u16(4).u16(0).u16(15).u8(1).u8(0).b);             // TRUE
    b.Rec(0x0205, D().u16(4).u16(1).u16(15).u8(0x07).u8(1).b);          // #DIV/0!
    // A formula with a cached text result in a STRING record that continues.
    b.Rec(0x0006, D().u16(5)
                      .u16(0)
                      .u16(15)
                      .u8(0)
                      .u8(0)
                      .u8(0)
                      .u8(0)
                      .u8(0)
                      .u8(0)
                      .u16(0xFFFF)
                      .u16(0)
                      .u32(0)
                      .u16(3)
                      .u8(0x1E)
                      .u16(1)
                      .u8(0x16)
                      .b);
    b.Rec(0x0207, D().u16(6).u8(0).ascii("abc").b);
    b.Rec(0x003C, D().u8(1).wide(u"\u00e9\u4e2d\u6587").b);
    // A formula with a cached number.
    b.Rec(0x0006, D().u16(5).u16(1).u16(15).f64(42).u16(0).u32(0).u16(3).u8(0x1E).u16(42).b);
    b.Rec(0x0201, D().u16(6).u16(300).u16(15).b);  // a column no BIFF8 sheet has: ignored
  });
  auto wb = Workbook::Parse(file);
  ASSERT_TRUE(wb) << wb.message();
  const Sheet& s = wb->sheet(0);
  EXPECT_EQ(s.GetValue(0, 0), Value::Text("label"));
  EXPECT_EQ(s.GetValue(0, 1), Value::Text("r\xC3\xA9"
                                          "ch"));
  EXPECT_EQ(s.GetValue(1, 0), Value::Number(-1.25));
  EXPECT_EQ(s.GetValue(1, 1), Value::Number(12.34));
  EXPECT_EQ(s.GetValue(2, 3), Value::Number(7));
  EXPECT_EQ(s.GetValue(2, 4), Value::Number(1));
  for (uint32_t c = 0; c < 3; ++c)
    EXPECT_TRUE(s.GetCell(3, c).exists);
  EXPECT_EQ(s.GetValue(4, 0), Value::Boolean(true));
  EXPECT_EQ(s.GetValue(4, 1), Value::Error(ErrorCode::kDiv0));
  Cell f = s.GetCell(5, 0);
  EXPECT_TRUE(f.formula);
  EXPECT_EQ(f.value, Value::Text("abc\xC3\xA9\xE4\xB8\xAD\xE6\x96\x87"));
  EXPECT_EQ(s.GetValue(5, 1), Value::Number(42));
  ASSERT_EQ(s.FormulaTokens(5, 1).size(), 3u);
  EXPECT_EQ(s.UsedRange(), (Range{0, 0, 5, 4}));

  // Saved and read again, the same (the inline strings now shared).
  auto out = wb->Serialize();
  ASSERT_TRUE(out);
  auto back = Workbook::Parse(*out);
  ASSERT_TRUE(back) << back.message();
  EXPECT_EQ(back->sheet(0).GetValue(0, 1), Value::Text("r\xC3\xA9"
                                                       "ch"));
  EXPECT_EQ(back->sheet(0).GetCell(5, 0).value, f.value);
  EXPECT_EQ(back->sheet(0).GetValue(1, 1), Value::Number(12.34));
}

TEST(Reader, SharedStringsSplitOverContinueRecords) {
  // Three strings: "hello", then one whose characters start compressed in the
  // SST record and go on 16-bit in the CONTINUE record, then a rich string
  // with phonetic data whose runs and phonetic block continue.
  D sst;
  sst.u32(3).u32(3);
  sst.u16(5).u8(0).ascii("hello");
  sst.u16(6).u8(0).ascii("abc");
  D cont;
  cont.u8(1).wide(u"\u0436\u0437\u0438");
  cont.u16(2).u8(0x0C).u16(1).u32(4).ascii("xy").u16(0);  // runs: 1, phonetic: 4 bytes
  D cont2;
  cont2.u16(1).u32(0xDEADBEEF);
  Bytes file = Book(
      [](Biff& b) {
        for (uint16_t i = 0; i < 3; ++i)
          b.Rec(0x00FD, D().u16(i).u16(0).u16(15).u32(i).b);
      },
      {sst.b, cont.b, cont2.b});
  auto wb = Workbook::Parse(file);
  ASSERT_TRUE(wb) << wb.message();
  const Sheet& s = wb->sheet(0);
  EXPECT_EQ(s.GetValue(0, 0), Value::Text("hello"));
  EXPECT_EQ(s.GetValue(1, 0), Value::Text("abc\xD0\xB6\xD0\xB7\xD0\xB8"));
  EXPECT_EQ(s.GetValue(2, 0), Value::Text("xy"));
  // Round trip keeps the rich string's runs and phonetic data.
  auto out = wb->Serialize();
  ASSERT_TRUE(out);
  auto back = Workbook::Parse(*out);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->sheet(0).GetValue(2, 0), Value::Text("xy"));
  EXPECT_EQ(back->sheet(0).GetValue(1, 0), Value::Text("abc\xD0\xB6\xD0\xB7\xD0\xB8"));
}

// `sheets` sheets, each with one blank cell every 256 rows (A1, A257, ...,
// A65281) as bare BLANK records: a small file that touches every block of
// rows of every sheet.
Bytes SparseSheets(int sheets) {
  auto name = [](int i) { return "S" + std::to_string(i); };
  size_t sheetsAt = 4 + 16 + 4;  // BOF and EOF of the globals
  for (int i = 0; i < sheets; ++i)
    sheetsAt += 4 + 8 + name(i).size();
  const size_t sheetSize = 4 + 16 + 256 * 10 + 4;
  Biff g;
  g.Rec(0x0809, Bof(0x0005));
  for (int i = 0; i < sheets; ++i) {
    const std::string n = name(i);
    g.Rec(0x0085, D().u32(static_cast<uint32_t>(sheetsAt + i * sheetSize))
                      .u8(0)
                      .u8(0)
                      .u8(static_cast<uint8_t>(n.size()))
                      .u8(0)
                      .ascii(n.c_str())
                      .b);
  }
  g.Rec(0x000A, {});
  for (int i = 0; i < sheets; ++i) {
    g.Rec(0x0809, Bof(0x0010));
    for (uint32_t row = 0; row < 65536; row += 256)
      g.Rec(0x0201, D().u16(static_cast<uint16_t>(row)).u16(0).u16(15).b);
    g.Rec(0x000A, {});
  }
  return Wrap(g.out);
}

// The pages this process has mapped (VmSize).
size_t MappedBytes() {
  size_t pages = 0;
  if (std::FILE* f = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(f, "%zu", &pages) != 1) pages = 0;
    std::fclose(f);
  }
  return pages * static_cast<size_t>(::sysconf(_SC_PAGESIZE));
}

// The bytes the allocator has handed out and not had back.
size_t HeapInUse() {
  const struct mallinfo2 m = ::mallinfo2();
  return m.uordblks + m.hblkhd;
}

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

TEST(Reader, MemoryFollowsWhatAFileHoldsNotTheRowsItTouches) {
  const Bytes file = SparseSheets(200);  // about 530 KB
  ASSERT_LT(file.size(), 600u * 1024);
  {
    const size_t before = HeapInUse();
    auto wb = Workbook::Parse(file);
    ASSERT_TRUE(wb) << wb.message();
    ASSERT_EQ(wb->sheetCount(), 200u);
    EXPECT_TRUE(wb->sheet(199).GetCell(65280, 0).exists);
    EXPECT_FALSE(wb->sheet(199).GetCell(65279, 0).exists);
    EXPECT_EQ(wb->sheet(0).UsedRange(), (Range{0, 0, 65280, 0}));
    // What the loaded workbook holds (a sheet held 2 MB once, 400 MB for
    // this file). Counted by the allocator: the address-space limit below
    // does not see freed memory that earlier tests left to this process.
    if (!kSanitized) {
      EXPECT_LT(HeapInUse() - before, 20 * file.size() + (size_t{4} << 20));
    }
  }

  // Loading and saving it fits in 64 MB more than the process has mapped (a
  // sheet cost 2 MB once, 400 MB for this file).
  if (kSanitized) {
    GTEST_SKIP() << "an address-space limit does not work with the sanitizers' shadow memory";
  }
  std::fflush(nullptr);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    rlimit limit{};
    limit.rlim_cur = limit.rlim_max = MappedBytes() + (size_t{64} << 20);
    if (::setrlimit(RLIMIT_AS, &limit) != 0) _exit(3);
    try {
      auto wb = Workbook::Parse(file);
      if (!wb) _exit(1);
      auto out = wb->Serialize();
      _exit(out ? 0 : 2);
    } catch (...) {
      _exit(4);  // out of memory
    }
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST(Reader, AFileThatWouldNeedFarMoreMemoryThanItsSizeIsRefused) {
  // The same sparse file against a budget of 2 bytes for each of its bytes:
  // the engine stops charging and says why before it holds more.
  const Bytes file = SparseSheets(20);
  LoadLimits tight;
  tight.bytesPerStreamByte = 2;
  tight.baseBytes = 0;
  auto refused = Workbook::Parse(file, tight);
  ASSERT_FALSE(refused);
  EXPECT_NE(refused.message().find("the workbook would need more than 102 KiB of memory to open, "
                                   "far more than a workbook stream of 51 KiB can hold"),
            std::string::npos)
      << refused.message();
  EXPECT_TRUE(Workbook::Parse(file));  // the default budget
}

TEST(Reader, DamagedStreamsGiveErrors) {
  auto expectError = [](const Bytes& file, const char* part) {
    auto wb = Workbook::Parse(file);
    ASSERT_FALSE(wb);
    EXPECT_NE(wb.message().find(part), std::string::npos) << wb.message();
  };
  // A record that runs past the end of the stream.
  {
    Biff g;
    g.Rec(0x0809, Bof(0x0005));
    g.W16(0x0031);
    g.W16(500);
    expectError(Wrap(g.out), "runs past the end");
  }
  // An Excel 95 workbook.
  {
    Biff g;
    g.Rec(0x0809, D().u16(0x0500).u16(0x0005).u32(0).b);
    g.Rec(0x000A, {});
    expectError(Wrap(g.out), "Excel 5.0/95");
  }
  // Globals without their end.
  {
    Biff g;
    g.Rec(0x0809, Bof(0x0005));
    g.Rec(0x0042, D().u16(1200).b);
    expectError(Wrap(g.out), "without an EOF");
  }
  // A cell pointing at a shared string that does not exist.
  expectError(Book([](Biff& b) { b.Rec(0x00FD, D().u16(0).u16(0).u16(15).u32(7).b); }),
              "shared string 7");
  // A sheet without its end: the zero padding after it is no record either.
  expectError(Book([](Biff& b) { b.Rec(0x0203, D().u16(0).u16(0).u16(15).f64(1).b); }, {}, false),
              "Sheet");
  // Encrypted.
  {
    Biff g;
    g.Rec(0x0809, Bof(0x0005));
    g.Rec(0x002F, D().u16(0).u16(0).b);
    g.Rec(0x000A, {});
    expectError(Wrap(g.out), "encrypted");
  }
  // No Workbook stream at all.
  {
    std::vector<cfb::OutEntry> e(2);
    Bytes data(5000, 1);
    e[0].name = u"Root Entry";
    e[0].type = cfb::EntryType::kRoot;
    e[0].children = {1};
    e[1].name = u"WordDocument";
    e[1].data = data;
    auto img = cfb::WriteToBytes(e);
    ASSERT_TRUE(img);
    expectError(*img, "no Workbook stream");
  }
}

}  // namespace
}  // namespace migrator::xls
