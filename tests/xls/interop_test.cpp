// The engine against independent programs: xlrd reads what the engine
// writes, LibreOffice opens it, and workbooks written by LibreOffice and
// xlwt come through a copy unchanged. Skipped when the programs are missing.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "testlib/testlib.h"
#include "xls/workbook.h"

namespace migrator::xls {
namespace {

namespace fs = std::filesystem;
using testing::RunCommand;

const std::string kData = std::string(MIGRATOR_TEST_DATA_DIR) + "/xls";

std::string Q(const std::string& s) {
  std::string q = "'";
  for (char c : s)
    q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

bool HavePython() {
  return RunCommand("/usr/bin/python3 -c 'import xlrd, xlwt, openpyxl' 2>/dev/null").status == 0;
}
bool HaveSoffice() {
  return RunCommand("command -v soffice >/dev/null 2>&1").status == 0;
}

#define REQUIRE_PYTHON() \
  if (!HavePython()) GTEST_SKIP() << "python3 with xlrd/xlwt is not installed"
#define REQUIRE_SOFFICE() \
  if (!HaveSoffice()) GTEST_SKIP() << "LibreOffice (soffice) is not installed"

std::string Dump(const std::string& path, bool valuesOnly = false) {
  auto r = RunCommand("/usr/bin/python3 " + Q(kData + "/xlrd_dump.py") + " " + Q(path) +
                      (valuesOnly ? " --values-only" : "") + " 2>&1");
  EXPECT_EQ(r.status, 0) << r.out.substr(0, 2000);
  return r.out;
}

// Converts files with LibreOffice into `outdir`; false when soffice failed.
bool Convert(const std::vector<std::string>& files, const std::string& format,
             const fs::path& outdir, const fs::path& profile) {
  std::string cmd = "soffice -env:UserInstallation=file://" + profile.string() +
                    " --headless --convert-to " + Q(format) + " --outdir " + Q(outdir.string());
  for (const auto& f : files)
    cmd += " " + Q(f);
  return RunCommand(cmd + " >/dev/null 2>&1").status == 0;
}

const char* kAllSheetsCsv =
    "csv:Text - txt - csv (StarCalc):44,34,76,1,,0,false,true,false,false,false,-1";

std::string Slurp(const fs::path& p) {
  return testing::ReadFile(p);
}

// The workbook that check_engine_book.py expects.
Workbook MakeEngineBook() {
  static const char* names[] = {
      "\xC3\x86r\xC3\xB8sk\xC3\xB8"
      "bing",
      "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82", "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E",
      "emoji \xF0\x9F\x98\x80", "plain"};
  Workbook wb = Workbook::New();
  EXPECT_TRUE(wb.AddSheet("Customers"));
  EXPECT_TRUE(wb.AddSheet("Notes"));
  Sheet& s = wb.sheet(0);
  const char* head[] = {"id", "name", "city"};
  for (uint32_t c = 0; c < 3; ++c)
    EXPECT_TRUE(s.SetText(0, c, head[c]));
  EXPECT_TRUE(wb.DefineName("Customers", 0, {0, 0, 0, 2}));
  EXPECT_TRUE(wb.DefineName("Header", 0, {0, 0, 0, 2}));
  for (uint32_t r = 1; r <= 100; ++r) {
    EXPECT_TRUE(s.SetNumber(r, 0, r * 1.5));
    EXPECT_TRUE(s.SetText(r, 1, std::string(names[r % 5]) + " " + std::to_string(r)));
    EXPECT_TRUE(s.SetText(r, 2, "city-" + std::to_string(r % 7)));
    EXPECT_TRUE(wb.DefineName("Customers", 0, {0, 0, r, 2}));  // grows row by row
  }
  RowFormat h;
  h.horizontal = HAlign::kCenter;
  EXPECT_TRUE(s.FormatRow(0, h));
  h = RowFormat{};
  h.bold = true;
  EXPECT_TRUE(s.FormatRow(0, h));
  h = RowFormat{};
  h.borderTop = h.borderBottom = h.borderLeft = h.borderInsideVertical = true;
  EXPECT_TRUE(s.FormatRow(0, h));
  h = RowFormat{};
  h.fillColor = 8;
  EXPECT_TRUE(s.FormatRow(0, h));
  EXPECT_TRUE(s.SetColumnWidth(0, 15));
  EXPECT_TRUE(s.SetColumnWidth(1, 2));
  EXPECT_TRUE(s.SetColumnWidth(2, 20.5));
  EXPECT_TRUE(s.FreezePanes(1, 0));
  Sheet& n = wb.sheet(1);
  std::string longText;
  for (int i = 0; i < 32767; ++i)
    longText += static_cast<char>('a' + i % 26);
  EXPECT_TRUE(n.SetText(0, 0, longText));
  EXPECT_TRUE(n.SetBoolean(1, 0, true));
  EXPECT_TRUE(n.SetError(2, 0, ErrorCode::kNA));
  return wb;
}

TEST(Interop, XlrdReadsWhatTheEngineWrites) {
  REQUIRE_PYTHON();
  testing::TempDir dir;
  std::string path = (dir / "engine.xls").string();
  ASSERT_TRUE(MakeEngineBook().Save(path));
  auto r = RunCommand("/usr/bin/python3 " + Q(kData + "/check_engine_book.py") + " " + Q(path) +
                      " 2>&1");
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(r.out, "OK\n");
}

TEST(Interop, LibreOfficeOpensWhatTheEngineWrites) {
  REQUIRE_SOFFICE();
  testing::TempDir dir;
  std::string path = (dir / "engine.xls").string();
  Workbook wb = MakeEngineBook();
  ASSERT_TRUE(wb.Save(path));
  ASSERT_TRUE(Convert({path}, kAllSheetsCsv, dir / "out", dir / "lo"));
  std::string expected;
  const Sheet& s = wb.sheet(0);
  for (uint32_t r = 0; r <= 100; ++r) {
    for (uint32_t c = 0; c < 3; ++c) {
      if (c) expected += ",";
      Value v = s.GetValue(r, c);
      if (v.kind == Value::Kind::kNumber) {
        char buf[32];
        std::snprintf(buf, sizeof buf, "%g", v.number);
        expected += buf;
      } else {
        expected += v.text;
      }
    }
    expected += "\n";
  }
  EXPECT_EQ(Slurp(dir / "out" / "engine-Customers.csv"), expected);
  std::string notes = Slurp(dir / "out" / "engine-Notes.csv");
  EXPECT_EQ(notes.substr(0, 26), "abcdefghijklmnopqrstuvwxyz");
  // Booleans come out as their stored number, errors as their text.
  EXPECT_NE(notes.find("\n1\n#N/A\n"), std::string::npos) << notes.substr(32767);
}

const char* kCorpus[] = {"xlwt_mixed.xls", "lo_rich.xls", "lo_names.xls", "lo_attached.xls"};

TEST(Corpus, CopiesReadTheSameInXlrd) {
  REQUIRE_PYTHON();
  testing::TempDir dir;
  for (const char* name : kCorpus) {
    SCOPED_TRACE(name);
    std::string in = kData + "/" + name;
    std::string out = (dir / name).string();
    auto wb = Workbook::Load(in);
    ASSERT_TRUE(wb) << wb.message();
    ASSERT_TRUE(wb->Save(out));
    std::string a = Dump(in), b = Dump(out);
    EXPECT_GT(a.size(), 1000u);
    EXPECT_TRUE(a == b) << "xlrd reads the copy of " << name << " differently";
  }
}

TEST(Corpus, CopiesAreTheSameDocumentInLibreOffice) {
  REQUIRE_SOFFICE();
  testing::TempDir dir;
  std::vector<std::string> files;
  for (const char* name : kCorpus) {
    std::string copy = (dir / ("copy_" + std::string(name))).string();
    auto wb = Workbook::Load(kData + "/" + name);
    ASSERT_TRUE(wb) << wb.message();
    ASSERT_TRUE(wb->Save(copy));
    files.push_back(kData + "/" + name);
    files.push_back(copy);
  }
  // Flat ODF holds everything LibreOffice made of the file: cells, formulas,
  // formats, names, charts, comments, validation.
  ASSERT_TRUE(Convert(files, "fods", dir / "out", dir / "lo"));
  for (const char* name : kCorpus) {
    SCOPED_TRACE(name);
    std::string stem = fs::path(name).stem().string();
    std::string a = Slurp(dir / "out" / (stem + ".fods"));
    std::string b = Slurp(dir / "out" / ("copy_" + stem + ".fods"));
    ASSERT_GT(a.size(), 1000u);
    EXPECT_TRUE(a == b) << "LibreOffice reads the copy of " << name << " differently";
  }
  // The rich file's extras are really there.
  std::string rich = Slurp(dir / "out" / "copy_lo_rich.fods");
  EXPECT_NE(rich.find("<draw:object"), std::string::npos);
  EXPECT_NE(rich.find("<table:content-validation "), std::string::npos);
}

// Comments, hyperlinks and merged ranges removed by block: what overlaps the
// block goes, the rest (and the chart that shares the comments' drawing)
// stays, as the engine, xlrd and LibreOffice read the saved file.
TEST(Corpus, CommentsLinksAndMergesRemovedByBlock) {
  testing::TempDir dir;
  const std::string path = (dir / "attached.xls").string();
  {
    auto wb = Workbook::Load(kData + "/lo_attached.xls");
    ASSERT_TRUE(wb) << wb.message();
    Sheet& s = wb->sheet(0);
    EXPECT_EQ(s.commentCells(), (std::vector<Range>{{0, 0, 0, 0}, {2, 2, 2, 2}, {1, 4, 1, 4}}));
    EXPECT_EQ(s.hyperlinkRanges(), (std::vector<Range>{{3, 1, 3, 1}, {3, 4, 3, 4}}));
    ASSERT_TRUE(s.RemoveAttached({0, 0, 5, 2}));
    ASSERT_TRUE(wb->sheet(1).RemoveAttached({0, 0, kMaxRows - 1, kMaxColumns - 1}));
    ASSERT_TRUE(wb->Save(path));
  }
  auto wb = Workbook::Load(path);
  ASSERT_TRUE(wb) << wb.message();
  const Sheet& s = wb->sheet(0);
  EXPECT_EQ(s.commentCells(), (std::vector<Range>{{1, 4, 1, 4}}));
  EXPECT_EQ(s.hyperlinkRanges(), (std::vector<Range>{{3, 4, 3, 4}}));
  EXPECT_EQ(s.mergedRanges(), (std::vector<Range>{{7, 4, 8, 5}}));
  EXPECT_EQ(s.GetValue(0, 0), Value::Text("id"));  // values stay
  EXPECT_TRUE(wb->sheet(1).commentCells().empty());
  EXPECT_TRUE(wb->sheet(1).hyperlinkRanges().empty());
  EXPECT_TRUE(wb->sheet(1).mergedRanges().empty());

  const std::string expected =
      "Orders comments E2 'comment outside' | links E4 | merged E8:F9\n"
      "Notes comments - | links - | merged -\n";
  if (HavePython()) {
    auto r = RunCommand("/usr/bin/python3 " + Q(kData + "/attached_summary.py") + " " + Q(path) +
                        " 2>&1");
    EXPECT_EQ(r.out, expected);
  }
  if (HaveSoffice()) {
    auto r = RunCommand("/usr/bin/python3 " + Q(kData + "/attached_summary.py") + " " + Q(path) +
                        " --libreoffice 2>&1");
    EXPECT_EQ(r.out, expected + "charts 1\n");
  }

  // A drawing that cannot be followed: the comments stay and so does the
  // rest, and the call says why.
  std::string bytes = Slurp(kData + "/lo_attached.xls");
  const std::string dg("\x0f\x00\x02\xf0\x18\x03\x00\x00", 8);  // the first sheet's drawing
  const size_t at = bytes.find(dg);
  ASSERT_NE(at, std::string::npos);
  bytes[at + 4] = '\x19';
  auto bad =
      Workbook::Parse(std::span(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()));
  ASSERT_TRUE(bad) << bad.message();
  Status st = bad->sheet(0).RemoveAttached({0, 0, 5, 2});
  EXPECT_FALSE(st);
  EXPECT_EQ(st.message(),
            "the comments in A1:C6 on the sheet Orders cannot be removed: the sheet's drawing is "
            "not in a form this program follows");
  EXPECT_EQ(bad->sheet(0).commentCells().size(), 3u);
  EXPECT_EQ(bad->sheet(0).hyperlinkRanges().size(), 2u);
  EXPECT_EQ(bad->sheet(0).mergedRanges().size(), 3u);
}

TEST(Corpus, WorkbooksOverSevenMegabytesCopyAndOpen) {
  REQUIRE_PYTHON();
  testing::TempDir dir;
  std::string big = (dir / "big.xls").string();
  auto gen =
      RunCommand("/usr/bin/python3 " + Q(kData + "/make_corpus.py") + " big " + Q(big) + " 2>&1");
  ASSERT_EQ(gen.status, 0) << gen.out;
  ASSERT_GT(fs::file_size(big), 7u * 1024 * 1024);
  std::string copy = (dir / "big_copy.xls").string();
  {
    auto wb = Workbook::Load(big);
    ASSERT_TRUE(wb) << wb.message();
    EXPECT_EQ(wb->sheet(0).GetValue(61999, 9).text, "r061999 c9 data");
    ASSERT_TRUE(wb->Save(copy));
  }
  EXPECT_GT(fs::file_size(copy), 7u * 1024 * 1024);
  EXPECT_TRUE(Dump(big, true) == Dump(copy, true));

  // And one the engine writes itself, at the format's row limit.
  std::string mine = (dir / "engine_big.xls").string();
  {
    Workbook wb = Workbook::New();
    ASSERT_TRUE(wb.AddSheet("Rows"));
    Sheet& s = wb.sheet(0);
    for (uint32_t r = 0; r < 65536; ++r)
      for (uint32_t c = 0; c < 10; ++c)
        ASSERT_TRUE(s.SetText(r, c, "v" + std::to_string(r) + "_" + std::to_string(c)));
    ASSERT_TRUE(wb.Save(mine));
  }
  EXPECT_GT(fs::file_size(mine), 7u * 1024 * 1024);
  auto check = RunCommand(
      "/usr/bin/python3 -c \"import xlrd,io,sys; log=io.StringIO(); "
      "b=xlrd.open_workbook(sys.argv[1], logfile=log); "
      "s=b.sheet_by_index(0); print(s.nrows, s.ncols, s.cell_value(65535,9), "
      "repr(log.getvalue()))\" " +
      Q(mine));
  EXPECT_EQ(check.out, "65536 10 v65535_9 ''\n");

  if (!HaveSoffice()) return;
  ASSERT_TRUE(Convert({big, copy, mine}, kAllSheetsCsv, dir / "out", dir / "lo"));
  EXPECT_TRUE(Slurp(dir / "out" / "big-Big.csv") == Slurp(dir / "out" / "big_copy-Big.csv"));
  EXPECT_TRUE(Slurp(dir / "out" / "big-Numbers.csv") ==
              Slurp(dir / "out" / "big_copy-Numbers.csv"));
  std::string rows = Slurp(dir / "out" / "engine_big-Rows.csv");
  EXPECT_EQ(std::count(rows.begin(), rows.end(), '\n'), 65536);
  EXPECT_NE(rows.find("v65535_0,v65535_1"), std::string::npos);
}

TEST(WorkbookCli, InfoCatAndCopy) {
  std::string cli = std::string(MIGRATOR_BINARY_DIR) + "/migrator-cli";
  if (!fs::exists(cli)) GTEST_SKIP() << "migrator-cli is not built";
  testing::TempDir dir;
  std::string path = (dir / "engine.xls").string();
  ASSERT_TRUE(MakeEngineBook().Save(path));
  auto info = RunCommand(Q(cli) + " workbook info " + Q(path));
  EXPECT_EQ(info.status, 0);
  EXPECT_EQ(info.out,
            "Sheets: 2\n"
            "  1. Customers (worksheet, visible) used A1:C101\n"
            "  2. Notes (worksheet, visible) used A1:A3\n"
            "Names: 2\n"
            "  Customers = Customers!$A$1:$C$101\n"
            "  Header = Customers!$A$1:$C$1\n");
  auto cat = RunCommand(Q(cli) + " workbook cat " + Q(path) + " customers");
  EXPECT_EQ(cat.status, 0);
  std::string start =
      "id\tname\tcity\n1.5\t\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82 1\tcity-1\n";
  EXPECT_EQ(cat.out.substr(0, start.size()), start);
  std::string copy = (dir / "copy.xls").string();
  EXPECT_EQ(RunCommand(Q(cli) + " workbook copy " + Q(path) + " " + Q(copy)).status, 0);
  EXPECT_EQ(RunCommand(Q(cli) + " workbook cat " + Q(copy) + " Customers").out, cat.out);
  // A file at OUT (in any case of its name) is the person's: refused by
  // name and left as it was, unless --replace says otherwise.
  testing::WriteFile(dir / "Notes.XLSX", "mine");
  auto refused = RunCommand(Q(cli) + " workbook copy " + Q(path) + " " +
                            Q(dir.str() + "/notes.xlsx") + " 2>&1");
  EXPECT_EQ(refused.status, 1);
  EXPECT_NE(refused.out.find("Notes.XLSX is there already"), std::string::npos) << refused.out;
  EXPECT_EQ(testing::ReadFile(dir / "Notes.XLSX"), "mine");
  EXPECT_FALSE(fs::exists(dir / "notes.xlsx"));
  EXPECT_EQ(RunCommand(Q(cli) + " workbook copy --replace " + Q(path) + " " +
                       Q(dir.str() + "/Notes.XLSX"))
                .status,
            0);
  EXPECT_EQ(RunCommand(Q(cli) + " workbook cat " + Q(dir.str() + "/Notes.XLSX") + " Customers").out,
            cat.out);
  auto bad = RunCommand(Q(cli) + " workbook info " + Q(dir.str() + "/missing.xls") + " 2>&1");
  EXPECT_EQ(bad.status, 1);
  EXPECT_NE(bad.out.find("missing.xls"), std::string::npos);
  EXPECT_EQ(RunCommand(Q(cli) + " workbook frobnicate 2>/dev/null").status, 2);
}

}  // namespace
}  // namespace migrator::xls
