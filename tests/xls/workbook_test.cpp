// The workbook engine through its API: values written and read back, the
// format's limits, sheet and name editing, formatting, saving.

#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <string>
#include <vector>

#include "testlib/testlib.h"
#include "xls/biff/cfb.h"
#include "xls/biff/formula.h"
#include "xls/workbook.h"

namespace migrator::xls {
namespace {

Workbook Reload(const Workbook& wb) {
  auto bytes = wb.Serialize();
  EXPECT_TRUE(bytes) << bytes.message();
  auto back = Workbook::Parse(*bytes);
  EXPECT_TRUE(back) << back.message();
  return std::move(*back);
}

Workbook OneSheet(const char* name = "Sheet1") {
  Workbook wb = Workbook::New();
  auto s = wb.AddSheet(name);
  EXPECT_TRUE(s) << s.message();
  return wb;
}

TEST(WorkbookValues, EveryKindOfValueSurvivesSaveAndLoad) {
  Workbook wb = OneSheet();
  Sheet& s = wb.sheet(0);
  const double numbers[] = {0.0, -0.0,  1,     -1,        536870911, 536870912, -536870913,
                            0.1, 12.34, 1e300, -2.5e-310, 3.0e9,     1234567.89};
  for (size_t i = 0; i < std::size(numbers); ++i)
    ASSERT_TRUE(s.SetNumber(static_cast<uint32_t>(i), 0, numbers[i]));
  const char* texts[] = {"",
                         "plain",
                         "caf\xC3\xA9",
                         "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E",
                         "\xF0\x9F\x98\x80 smile",
                         "tab\there\nnew line",
                         "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82"};
  for (size_t i = 0; i < std::size(texts); ++i)
    ASSERT_TRUE(s.SetText(static_cast<uint32_t>(i), 1, texts[i]));
  ASSERT_TRUE(s.SetBoolean(0, 2, true));
  ASSERT_TRUE(s.SetBoolean(1, 2, false));
  ASSERT_TRUE(s.SetError(2, 2, ErrorCode::kDiv0));
  ASSERT_TRUE(s.SetBlank(3, 2));
  ASSERT_TRUE(s.SetNumber(65535, 255, 42));

  Workbook back = Reload(wb);
  const Sheet& t = back.sheet(0);
  for (size_t i = 0; i < std::size(numbers); ++i) {
    Value v = t.GetValue(static_cast<uint32_t>(i), 0);
    ASSERT_EQ(v.kind, Value::Kind::kNumber);
    EXPECT_EQ(v.number, numbers[i]) << i;
    EXPECT_EQ(std::signbit(v.number), std::signbit(numbers[i])) << i;
  }
  for (size_t i = 0; i < std::size(texts); ++i)
    EXPECT_EQ(t.GetValue(static_cast<uint32_t>(i), 1), Value::Text(texts[i]));
  EXPECT_EQ(t.GetValue(0, 2), Value::Boolean(true));
  EXPECT_EQ(t.GetValue(1, 2), Value::Boolean(false));
  EXPECT_EQ(t.GetValue(2, 2), Value::Error(ErrorCode::kDiv0));
  Cell blank = t.GetCell(3, 2);
  EXPECT_TRUE(blank.exists);
  EXPECT_EQ(blank.value.kind, Value::Kind::kEmpty);
  EXPECT_FALSE(t.GetCell(4, 2).exists);
  EXPECT_EQ(t.GetValue(65535, 255), Value::Number(42));
  EXPECT_EQ(t.UsedRange(), (Range{0, 0, 65535, 255}));
}

bool FontIsBold(const Workbook& wb, uint16_t xf) {
  auto f = wb.font(wb.format(xf).font);
  return f && f->bold();
}

TEST(WorkbookValues, OverwritingAndClearingKeepTheCellFormat) {
  Workbook wb = OneSheet();
  Sheet& s = wb.sheet(0);
  ASSERT_TRUE(s.SetText(1, 1, "a"));
  RowFormat bold;
  bold.bold = true;
  ASSERT_TRUE(s.FormatRow(1, bold));
  uint16_t xf = s.GetCell(1, 1).xf;
  ASSERT_NE(xf, 15);
  ASSERT_TRUE(s.SetNumber(1, 1, 5));
  EXPECT_EQ(s.GetCell(1, 1).xf, xf);
  // A new cell in a formatted row takes the row's format.
  ASSERT_TRUE(s.SetText(1, 7, "new"));
  EXPECT_TRUE(FontIsBold(wb, s.GetCell(1, 7).xf));
  ASSERT_TRUE(s.Clear(1, 1));
  EXPECT_FALSE(s.GetCell(1, 1).exists);
  EXPECT_EQ(s.UsedRange(), (Range{1, 7, 1, 7}));
}

TEST(WorkbookLimits, RowsColumnsAndTextLengthAreRefusedPastTheFormat) {
  Workbook wb = OneSheet();
  Sheet& s = wb.sheet(0);
  EXPECT_TRUE(s.SetText(65535, 0, "last row"));
  auto r = s.SetText(65536, 0, "one too many");
  ASSERT_FALSE(r);
  EXPECT_NE(r.message().find("65,536"), std::string::npos) << r.message();
  EXPECT_TRUE(s.SetNumber(0, 255, 1));
  auto c = s.SetNumber(0, 256, 1);
  ASSERT_FALSE(c);
  EXPECT_NE(c.message().find("256"), std::string::npos) << c.message();

  std::string euro;  // 32,767 characters that do not fit 8 bits
  for (int i = 0; i < 32767; ++i)
    euro += "\xE2\x82\xAC";
  EXPECT_TRUE(s.SetText(1, 0, euro));
  auto t = s.SetText(2, 0, euro + "x");
  ASSERT_FALSE(t);
  EXPECT_NE(t.message().find("32,767"), std::string::npos) << t.message();
  // Characters outside the BMP count twice, as they do in the file.
  std::string emoji;
  for (int i = 0; i < 16384; ++i)
    emoji += "\xF0\x9F\x98\x80";
  EXPECT_FALSE(s.SetText(2, 0, emoji));
  EXPECT_FALSE(s.GetCell(2, 0).exists);

  EXPECT_FALSE(s.SetText(3, 0, std::string("bad \xC3", 5)));
  EXPECT_FALSE(s.SetNumber(3, 0, std::nan("")));
  EXPECT_FALSE(s.SetNumber(3, 0, INFINITY));
  EXPECT_FALSE(s.GetCell(3, 0).exists);

  Workbook back = Reload(wb);
  EXPECT_EQ(back.sheet(0).GetValue(1, 0).text, euro);
  EXPECT_EQ(back.sheet(0).GetValue(65535, 0).text, "last row");
}

TEST(WorkbookStrings, ManyAndLongStringsCrossRecordBoundaries) {
  Workbook wb = OneSheet();
  Sheet& s = wb.sheet(0);
  std::string longLatin(20000, 'x');
  std::string longWide;
  for (int i = 0; i < 9000; ++i)
    longWide += (i % 2) ? "\xCE\xA9" : "a";
  for (uint32_t r = 0; r < 30000; ++r)
    ASSERT_TRUE(s.SetText(r, 0, "s" + std::to_string(r * 7919)));
  ASSERT_TRUE(s.SetText(0, 1, longLatin));
  ASSERT_TRUE(s.SetText(1, 1, longWide));
  ASSERT_TRUE(s.SetText(2, 1, "s0"));  // shared with A1
  Workbook back = Reload(wb);
  const Sheet& t = back.sheet(0);
  for (uint32_t r = 0; r < 30000; r += 997)
    EXPECT_EQ(t.GetValue(r, 0).text, "s" + std::to_string(r * 7919));
  EXPECT_EQ(t.GetValue(29999, 0).text, "s" + std::to_string(29999 * 7919));
  EXPECT_EQ(t.GetValue(0, 1).text, longLatin);
  EXPECT_EQ(t.GetValue(1, 1).text, longWide);
  EXPECT_EQ(t.GetValue(2, 1).text, "s0");
}

// Equal texts are written once, however often and whenever they were set, and
// a text no cell shows any more is not written: the table of equal texts is
// carried from one save to the next, so the second save must see what
// changed since the first.
TEST(WorkbookStrings, EqualTextsAreWrittenOnceFromSaveToSave) {
  // The SST record's counts: text cells, and texts written.
  auto sstCounts = [](const Workbook& wb) -> std::pair<uint32_t, uint32_t> {
    auto bytes = wb.Serialize();
    EXPECT_TRUE(bytes) << bytes.message();
    auto cf = cfb::Parse(*bytes);
    EXPECT_TRUE(cf) << cf.message();
    const Bytes& stream = cf->entries[static_cast<size_t>(cf->FindChild(0, u"Workbook"))].data;
    for (size_t at = 0; at + 4 <= stream.size(); at += 4 + Get16(stream.data() + at + 2)) {
      if (Get16(stream.data() + at) == 0x00FC)
        return {Get32(stream.data() + at + 4), Get32(stream.data() + at + 8)};
    }
    return {0, 0};
  };
  Workbook wb = OneSheet();
  Sheet& s = wb.sheet(0);
  for (uint32_t r = 0; r < 3000; ++r)
    ASSERT_TRUE(s.SetText(r, 0, "city " + std::to_string(r % 100)));
  EXPECT_EQ(sstCounts(wb), std::make_pair(3000u, 100u));

  for (uint32_t r = 0; r < 3000; ++r)
    ASSERT_TRUE(s.SetText(r, 1, "city " + std::to_string(r % 150)));  // 50 new texts
  ASSERT_TRUE(s.SetText(0, 0, "only here"));
  for (uint32_t r = 0; r < 3000; r += 100)
    ASSERT_TRUE(s.Clear(r, 1));  // "city 0", "city 100", ... still in column A
  for (uint32_t r = 50; r < 3000; r += 150)
    ASSERT_TRUE(s.Clear(r, 1));  // 10 of them cleared already; "city 50" stays in A only
  EXPECT_EQ(sstCounts(wb), std::make_pair(3000u + 3000u - 40u, 151u));

  Workbook back = Reload(wb);
  EXPECT_EQ(back.sheet(0).GetValue(0, 0).text, "only here");
  EXPECT_EQ(back.sheet(0).GetValue(2999, 0).text, "city 99");
  EXPECT_EQ(back.sheet(0).GetValue(2999, 1).text, "city 149");
  EXPECT_EQ(back.sheet(0).GetValue(101, 1).text, "city 101");
  EXPECT_EQ(back.sheet(0).GetValue(100, 1).kind, Value::Kind::kEmpty);
}

// A string of characters outside the Basic Multilingual Plane that does not
// fit the SST record goes on in a CONTINUE record between two characters,
// never between the halves of a surrogate pair: readers that decode each
// record's piece on its own (xlrd) refuse the whole file otherwise. With one
// to four leading letters, some record boundary falls on a pair.
TEST(WorkbookStrings, SurrogatePairsStayInOneRecord) {
  std::string emoji;
  for (int i = 0; i < 6000; ++i)
    emoji += "\xF0\x9F\x98\x80";
  for (size_t lead = 1; lead <= 4; ++lead) {
    SCOPED_TRACE(lead);
    Workbook wb = OneSheet();
    const std::string text = std::string(lead, 'a') + emoji;
    ASSERT_TRUE(wb.sheet(0).SetText(0, 0, text));
    auto bytes = wb.Serialize();
    ASSERT_TRUE(bytes) << bytes.message();
    auto cf = cfb::Parse(*bytes);
    ASSERT_TRUE(cf) << cf.message();
    const long entry = cf->FindChild(0, u"Workbook");
    ASSERT_GE(entry, 0);
    const Bytes& stream = cf->entries[static_cast<size_t>(entry)].data;
    // The one string's pieces: the SST record's and each CONTINUE's after it.
    std::vector<std::pair<const uint8_t*, size_t>> pieces;
    bool inSst = false;
    for (size_t at = 0; at + 4 <= stream.size();) {
      const uint16_t type = Get16(stream.data() + at);
      const uint16_t size = Get16(stream.data() + at + 2);
      const uint8_t* data = stream.data() + at + 4;
      if (type == 0x00FC) {
        inSst = true;
        pieces.push_back({data + 11, size - 11u});  // counts, length, flags
      } else if (inSst && type == 0x003C) {
        pieces.push_back({data + 1, size - 1u});  // flags
      } else {
        inSst = false;
      }
      at += 4 + size;
    }
    ASSERT_GE(pieces.size(), 2u);
    for (const auto& [data, size] : pieces) {
      ASSERT_EQ(size % 2, 0u);
      ASSERT_GT(size, 0u);
      const uint16_t first = Get16(data), last = Get16(data + size - 2);
      EXPECT_FALSE(first >= 0xDC00 && first <= 0xDFFF) << "a piece starts with a low surrogate";
      EXPECT_FALSE(last >= 0xD800 && last <= 0xDBFF) << "a piece ends with a high surrogate";
    }
    EXPECT_EQ(Reload(wb).sheet(0).GetValue(0, 0).text, text);
  }
}

TEST(WorkbookSheets, NamesAreCheckedAndFoundWithoutRegardToCase) {
  Workbook wb = OneSheet("Data");
  EXPECT_FALSE(wb.AddSheet("DATA"));
  EXPECT_FALSE(wb.AddSheet(""));
  EXPECT_FALSE(wb.AddSheet("a/b"));
  EXPECT_FALSE(wb.AddSheet("'quoted'"));
  EXPECT_FALSE(wb.AddSheet(std::string(32, 'n')));
  EXPECT_TRUE(wb.AddSheet(std::string(31, 'n')));
  ASSERT_TRUE(wb.AddSheet("\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82"));     // Привет
  EXPECT_EQ(wb.FindSheet("\xD0\xBF\xD0\xA0\xD0\x98\xD0\x92\xD0\x95\xD0\xA2"), 2u);  // пРИВЕТ
  EXPECT_EQ(wb.FindSheet("data"), 0u);
  EXPECT_FALSE(wb.FindSheet("nope"));
  auto first = wb.AddSheet("First", 0);
  ASSERT_TRUE(first);
  EXPECT_EQ(*first, 0u);
  EXPECT_EQ(wb.sheet(1).name(), "Data");
  EXPECT_FALSE(wb.RenameSheet(0, "data"));
  EXPECT_TRUE(wb.RenameSheet(1, "data"));  // its own name in another case
  EXPECT_TRUE(wb.RenameSheet(1, "Renamed"));
  Workbook back = Reload(wb);
  ASSERT_EQ(back.sheetCount(), 4u);
  EXPECT_EQ(back.sheet(0).name(), "First");
  EXPECT_EQ(back.sheet(1).name(), "Renamed");
}

TEST(WorkbookSheets, TheLastVisibleSheetStays) {
  Workbook wb = OneSheet("A");
  ASSERT_TRUE(wb.AddSheet("B"));
  ASSERT_TRUE(wb.sheet(1).SetVisibility(Visibility::kHidden));
  EXPECT_FALSE(wb.sheet(0).SetVisibility(Visibility::kHidden));
  EXPECT_FALSE(wb.DeleteSheet(0));
  EXPECT_TRUE(wb.DeleteSheet(1));
  EXPECT_EQ(wb.sheetCount(), 1u);
  EXPECT_FALSE(Workbook::New().Serialize());  // no sheet at all
}

TEST(WorkbookNames, DefineRedefineFindAndDelete) {
  Workbook wb = OneSheet("Sales data");
  ASSERT_TRUE(wb.AddSheet("Other"));
  ASSERT_TRUE(wb.DefineName("Orders", 0, {0, 0, 0, 2}));
  ASSERT_TRUE(wb.DefineName("One", 1, {4, 3, 4, 3}));
  ASSERT_TRUE(wb.DefineName("Local", 1, {0, 0, 9, 0}, 1));
  EXPECT_FALSE(wb.DefineName("A1", 0, {0, 0, 0, 0}));
  EXPECT_FALSE(wb.DefineName("R1C1", 0, {0, 0, 0, 0}));
  EXPECT_FALSE(wb.DefineName("has space", 0, {0, 0, 0, 0}));
  EXPECT_FALSE(wb.DefineName("1st", 0, {0, 0, 0, 0}));
  EXPECT_FALSE(wb.DefineName("Bad", 5, {0, 0, 0, 0}));
  EXPECT_FALSE(wb.DefineName("Bad", 0, {0, 0, 65536, 0}));

  // Growing a table's name by a row keeps one name.
  ASSERT_TRUE(wb.DefineName("ORDERS", 0, {0, 0, 1, 2}));
  EXPECT_EQ(wb.nameCount(), 3u);

  Workbook back = Reload(wb);
  auto i = back.FindName("orders");
  ASSERT_TRUE(i);
  DefinedName n = back.name(*i);
  EXPECT_EQ(n.name, "Orders");
  EXPECT_EQ(n.kind, DefinedName::Kind::kArea);
  EXPECT_EQ(n.sheet, 0u);
  EXPECT_EQ(n.range, (Range{0, 0, 1, 2}));
  EXPECT_EQ(n.reference, "'Sales data'!$A$1:$C$2");
  EXPECT_EQ(back.name(*back.FindName("One")).reference, "Other!$D$5");
  EXPECT_FALSE(back.FindName("Local"));
  auto local = back.FindName("local", 1);
  ASSERT_TRUE(local);
  EXPECT_EQ(back.name(*local).scope, 1u);

  ASSERT_TRUE(back.DeleteName(*i));
  EXPECT_FALSE(back.FindName("Orders"));
  Workbook again = Reload(back);
  EXPECT_EQ(again.nameCount(), 2u);
  EXPECT_EQ(again.name(*again.FindName("One")).reference, "Other!$D$5");
}

TEST(WorkbookNames, DeletingASheetInvalidatesNamesIntoIt) {
  Workbook wb = OneSheet("A");
  ASSERT_TRUE(wb.AddSheet("B"));
  ASSERT_TRUE(wb.AddSheet("C"));
  ASSERT_TRUE(wb.DefineName("InB", 1, {0, 0, 3, 3}));
  ASSERT_TRUE(wb.DefineName("InC", 2, {1, 1, 1, 1}));
  ASSERT_TRUE(wb.DefineName("LocalToB", 0, {0, 0, 0, 0}, 1));
  ASSERT_TRUE(wb.DefineName("LocalToC", 0, {0, 0, 0, 0}, 2));
  ASSERT_TRUE(wb.DeleteSheet(1));
  Workbook back = Reload(wb);
  ASSERT_EQ(back.sheetCount(), 2u);
  DefinedName inB = back.name(*back.FindName("InB"));
  EXPECT_EQ(inB.kind, DefinedName::Kind::kInvalid);
  EXPECT_EQ(inB.reference, "#REF!");
  DefinedName inC = back.name(*back.FindName("InC"));
  EXPECT_EQ(inC.kind, DefinedName::Kind::kArea);
  EXPECT_EQ(inC.sheet, 1u);
  EXPECT_EQ(inC.reference, "C!$B$2");
  EXPECT_FALSE(back.FindName("LocalToB", 0));
  EXPECT_FALSE(back.FindName("LocalToB", 1));
  EXPECT_TRUE(back.FindName("LocalToC", 1));
}

TEST(WorkbookNames, InsertingASheetKeepsReferencesOnTheirSheets) {
  Workbook wb = OneSheet("A");
  ASSERT_TRUE(wb.AddSheet("B"));
  ASSERT_TRUE(wb.DefineName("InB", 1, {0, 0, 0, 0}));
  ASSERT_TRUE(wb.DefineName("LocalB", 1, {0, 0, 0, 0}, 1));
  ASSERT_TRUE(wb.AddSheet("Front", 0));
  Workbook back = Reload(wb);
  EXPECT_EQ(back.name(*back.FindName("InB")).reference, "B!$A$1");
  EXPECT_TRUE(back.FindName("LocalB", 2));
}

// A sheet's filter is one hidden built-in name local to it, in both formats:
// moved rather than doubled, kept on its sheet when sheets go in before it,
// across a save, a conversion into the other format, and gone with the
// filter or with its sheet.
TEST(WorkbookNames, AutoFilterIsOneHiddenNameOfItsSheet) {
  for (FileFormat format : {FileFormat::kXls, FileFormat::kXlsx}) {
    SCOPED_TRACE(format == FileFormat::kXls ? "xls" : "xlsx");
    Workbook wb = Workbook::New(format);
    ASSERT_TRUE(wb.AddSheet("A"));
    ASSERT_TRUE(wb.AddSheet("B"));
    ASSERT_TRUE(wb.DefineName("Table", 1, {0, 0, 3, 2}));
    ASSERT_TRUE(wb.SetAutoFilter(1, {0, 0, 3, 2}));
    ASSERT_TRUE(wb.SetAutoFilter(1, {0, 0, 8, 2}));
    ASSERT_TRUE(wb.AddSheet("Front", 0));
    Workbook back = Reload(wb);
    EXPECT_FALSE(back.AutoFilter(0));
    EXPECT_FALSE(back.AutoFilter(1));
    EXPECT_EQ(back.AutoFilter(2), (Range{0, 0, 8, 2}));
    ASSERT_EQ(back.nameCount(), 2u);
    const auto index = back.FindName("_FilterDatabase", 2);
    ASSERT_TRUE(index);
    const DefinedName d = back.name(*index);
    EXPECT_TRUE(d.builtin && d.hidden);
    EXPECT_EQ(d.scope, 2u);
    EXPECT_FALSE(back.FindName("_FilterDatabase"));  // no workbook-level name

    const FileFormat other = format == FileFormat::kXls ? FileFormat::kXlsx : FileFormat::kXls;
    auto converted = back.ConvertedTo(other);
    ASSERT_TRUE(converted) << converted.message();
    EXPECT_EQ(Reload(*converted).AutoFilter(2), (Range{0, 0, 8, 2}));

    ASSERT_TRUE(back.RemoveAutoFilter(2));
    EXPECT_FALSE(Reload(back).AutoFilter(2));
    EXPECT_EQ(back.nameCount(), 1u);
    ASSERT_TRUE(back.SetAutoFilter(2, {0, 0, 1, 1}));
    ASSERT_TRUE(back.DeleteSheet(2));
    EXPECT_EQ(Reload(back).nameCount(), 1u);
  }
}

TEST(FormulaTokens, DeletedNamesBecomeReferenceErrorsAndLaterOnesMoveDown) {
  // =Name1 + Name3, as tokens: ptgName(1) ptgName(3) ptgAdd.
  Bytes f = {0x43, 1, 0, 0, 0, 0x43, 3, 0, 0, 0, 0x03};
  ASSERT_TRUE(detail::RenumberNameRefs(f, 1));
  EXPECT_EQ(f[0], 0x4A);  // ptgRefErr, value class
  EXPECT_EQ(Get16(f.data() + 6), 2);
  EXPECT_EQ(f.size(), 11u);
  Bytes unknown = {0xFF, 1, 2};
  EXPECT_FALSE(detail::RenumberNameRefs(unknown, 1));
}

TEST(FormulaTokens, SharedFormulasMoveToTheirCell) {
  // =A1 + $B$1 written relative to the anchor: ptgRefN(row+0, col-1) ptgRef($B$1) ptgAdd
  Bytes shared = {0x4C, 0, 0, 0xFF, 0xC0, 0x44, 0, 0, 1, 0, 0x03};
  auto out = detail::ExpandSharedFormula(shared, 4, 2);  // cell C5
  ASSERT_TRUE(out);
  EXPECT_EQ((*out)[0], 0x44);
  EXPECT_EQ(Get16(out->data() + 1), 4);
  EXPECT_EQ(Get16(out->data() + 3) & 0xFF, 1);  // column B
  EXPECT_EQ(Get16(out->data() + 3) & 0xC000, 0xC000);
}

TEST(WorkbookFormat, HeaderRowFormatting) {
  Workbook wb = OneSheet();
  Sheet& s = wb.sheet(0);
  ASSERT_TRUE(s.SetText(0, 0, "id"));
  ASSERT_TRUE(s.SetText(0, 1, "name"));
  ASSERT_TRUE(s.SetText(0, 255, "edge"));
  ASSERT_TRUE(s.SetText(1, 0, "data"));
  size_t before = wb.formatCount();
  RowFormat h;
  h.bold = true;
  h.horizontal = HAlign::kCenter;
  h.borderTop = h.borderBottom = h.borderLeft = h.borderInsideVertical = true;
  h.fillColor = 8;
  ASSERT_TRUE(s.FormatRow(0, h));
  // The same formatting again makes no new formats.
  size_t after = wb.formatCount();
  ASSERT_TRUE(s.FormatRow(0, h));
  EXPECT_EQ(wb.formatCount(), after);
  EXPECT_GT(after, before);

  Workbook back = Reload(wb);
  const Sheet& t = back.sheet(0);
  CellFormat a = back.format(t.GetCell(0, 0).xf);
  EXPECT_TRUE(back.font(a.font)->bold());
  EXPECT_EQ(a.horizontal, HAlign::kCenter);
  EXPECT_EQ(a.top, LineStyle::kThin);
  EXPECT_EQ(a.bottom, LineStyle::kThin);
  EXPECT_EQ(a.left, LineStyle::kThin);
  EXPECT_EQ(a.right, LineStyle::kThin);
  EXPECT_EQ(a.fillPattern, 1);
  EXPECT_EQ(a.fillColor, 8);
  EXPECT_EQ(back.format(t.GetCell(0, 255).xf).right, LineStyle::kNone);  // the last column
  auto rowXf = t.RowFormatIndex(0);
  ASSERT_TRUE(rowXf);
  EXPECT_TRUE(back.font(back.format(*rowXf).font)->bold());
  // Other rows are untouched.
  CellFormat d = back.format(t.GetCell(1, 0).xf);
  EXPECT_FALSE(back.font(d.font)->bold());
  EXPECT_EQ(d.fillPattern, 0);
}

TEST(WorkbookFormat, WidthsPanesMergesAndHeights) {
  Workbook wb = OneSheet();
  Sheet& s = wb.sheet(0);
  ASSERT_TRUE(s.SetColumnWidth(0, 15));
  ASSERT_TRUE(s.SetColumnWidth(1, 15));
  ASSERT_TRUE(s.SetColumnWidth(5, 2.5));
  EXPECT_FALSE(s.SetColumnWidth(256, 1));
  EXPECT_FALSE(s.SetColumnWidth(2, 300));
  ASSERT_TRUE(s.FreezePanes(1, 0));
  ASSERT_TRUE(s.AddMergedRange({2, 0, 3, 2}));
  EXPECT_FALSE(s.AddMergedRange({3, 2, 4, 4}));  // overlaps
  ASSERT_TRUE(s.SetRowHeight(4, 600));
  Workbook back = Reload(wb);
  const Sheet& t = back.sheet(0);
  EXPECT_DOUBLE_EQ(t.ColumnWidth(0), 15);
  EXPECT_DOUBLE_EQ(t.ColumnWidth(1), 15);
  EXPECT_DOUBLE_EQ(t.ColumnWidth(5), 2.5);
  EXPECT_FALSE(t.HasColumnWidth(2));
  EXPECT_EQ(t.frozenRows(), 1u);
  EXPECT_EQ(t.frozenColumns(), 0u);
  ASSERT_EQ(t.mergedRanges().size(), 1u);
  EXPECT_EQ(t.mergedRanges()[0], (Range{2, 0, 3, 2}));
  EXPECT_EQ(t.RowHeight(4), 600);
  EXPECT_FALSE(t.UsedRange());
}

TEST(WorkbookSave, WritesThroughATemporaryFileAndReplacesTheTarget) {
  testing::TempDir dir;
  std::string path = (dir / "book.xls").string();
  Workbook wb = OneSheet();
  ASSERT_TRUE(wb.sheet(0).SetText(0, 0, "first"));
  ASSERT_TRUE(wb.Save(path));
  ASSERT_TRUE(wb.sheet(0).SetText(0, 0, "second"));
  ASSERT_TRUE(wb.Save(path));
  auto back = Workbook::Load(path);
  ASSERT_TRUE(back) << back.message();
  EXPECT_EQ(back->sheet(0).GetValue(0, 0).text, "second");
  size_t files = 0;
  for (const auto& e : std::filesystem::directory_iterator(dir.path())) {
    (void)e;
    ++files;
  }
  EXPECT_EQ(files, 1u);  // no temporary file left behind

  auto missing = wb.Save((dir / "no" / "such" / "dir.xls").string());
  ASSERT_FALSE(missing);
  EXPECT_NE(missing.message().find("cannot save"), std::string::npos);
}

TEST(WorkbookSave, ALinkStaysALinkAndTheFileItNamesChanges) {
  namespace fs = std::filesystem;
  testing::TempDir dir;
  fs::create_directories(dir / "real");
  fs::create_directories(dir / "links");
  Workbook wb = OneSheet();
  ASSERT_TRUE(wb.sheet(0).SetText(0, 0, "first"));
  ASSERT_TRUE(wb.Save((dir / "real" / "book.xls").string()));
  fs::create_symlink("../real/book.xls", dir / "links" / "link.xls");
  fs::create_symlink("link.xls", dir / "links" / "chain.xls");

  ASSERT_TRUE(wb.sheet(0).SetText(0, 0, "second"));
  auto saved = wb.Save((dir / "links" / "chain.xls").string());
  ASSERT_TRUE(saved) << saved.message();
  EXPECT_TRUE(fs::is_symlink(dir / "links" / "chain.xls"));
  EXPECT_TRUE(fs::is_symlink(dir / "links" / "link.xls"));
  auto back = Workbook::Load((dir / "real" / "book.xls").string());
  ASSERT_TRUE(back) << back.message();
  EXPECT_EQ(back->sheet(0).GetValue(0, 0).text, "second");
  auto count = [](const fs::path& d) {
    return std::distance(fs::directory_iterator(d), fs::directory_iterator());
  };
  EXPECT_EQ(count(dir / "real"), 1);  // no temporary file on either side
  EXPECT_EQ(count(dir / "links"), 2);

  // A link to a file that does not exist yet: the file is made where it points.
  fs::create_symlink("../real/new.xls", dir / "links" / "new.xls");
  ASSERT_TRUE(wb.Save((dir / "links" / "new.xls").string()));
  EXPECT_TRUE(fs::is_symlink(dir / "links" / "new.xls"));
  EXPECT_TRUE(fs::is_regular_file(dir / "real" / "new.xls"));

  // Links that point at each other are an error, not a hang.
  fs::create_symlink("b.xls", dir / "links" / "a.xls");
  fs::create_symlink("a.xls", dir / "links" / "b.xls");
  auto loop = wb.Save((dir / "links" / "a.xls").string());
  ASSERT_FALSE(loop);
  EXPECT_NE(loop.message().find(std::strerror(ELOOP)), std::string::npos) << loop.message();
}

TEST(WorkbookSave, TemporaryFilesOfSavesWhoseProcessIsGoneAreRemoved) {
  namespace fs = std::filesystem;
  testing::TempDir dir;
  const fs::path path = dir / "book.xls";
  Workbook wb = OneSheet();
  ASSERT_TRUE(wb.Save(path.string()));
  // A process id that no process has any more.
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) _exit(0);
  ASSERT_EQ(::waitpid(child, nullptr, 0), child);
  const std::string gone = ".book.xls.~" + std::to_string(child) + "1234abcd.tmp";
  const std::string live = ".book.xls.~" + std::to_string(::getpid()) + "1234abcd.tmp";
  const std::string others[] = {live, ".book.xls.~x.tmp", ".other.xls.~11234abcd.tmp", "notes"};
  auto leave = [&](const std::string& name) { testing::WriteFile(dir / name, "left over"); };
  auto names = [&] {
    std::vector<std::string> out;
    for (const auto& e : fs::directory_iterator(dir.path()))
      out.push_back(e.path().filename().string());
    std::sort(out.begin(), out.end());
    return out;
  };
  leave(gone);
  for (const auto& o : others)
    leave(o);
  std::vector<std::string> kept(std::begin(others), std::end(others));
  kept.push_back("book.xls");
  std::sort(kept.begin(), kept.end());

  ASSERT_TRUE(Workbook::Load(path.string()));  // opening removes it
  EXPECT_EQ(names(), kept);
  leave(gone);
  ASSERT_TRUE(wb.Save(path.string()));  // and so does saving
  EXPECT_EQ(names(), kept);
}

TEST(WorkbookLoad, ErrorsNameTheProblem) {
  testing::TempDir dir;
  auto none = Workbook::Load((dir / "absent.xls").string());
  ASSERT_FALSE(none);
  EXPECT_NE(none.message().find("absent.xls"), std::string::npos);
  testing::WriteFile(dir / "text.xls",
                     "this is not a workbook, just some text that is long enough");
  auto text = Workbook::Load((dir / "text.xls").string());
  ASSERT_FALSE(text);
  EXPECT_NE(text.message().find("not a workbook"), std::string::npos) << text.message();
}

}  // namespace
}  // namespace migrator::xls

namespace migrator::xls {
namespace {

// LibreOffice writes filled-down formulas as one shared formula, stored with
// the first cell; the other cells only point at it.
TEST(WorkbookFormulas, OverwritingTheCellThatHoldsASharedFormulaKeepsTheOthers) {
  auto wb = Workbook::Load(std::string(MIGRATOR_TEST_DATA_DIR) + "/xls/lo_rich.xls");
  ASSERT_TRUE(wb) << wb.message();
  auto idx = wb->FindSheet("Sales");
  ASSERT_TRUE(idx);
  Sheet& s = wb->sheet(*idx);
  // F3 (row 2, column 5) = SUM(B3:E3), shared from F2.
  auto before = s.FormulaTokens(2, 5);
  ASSERT_FALSE(before.empty());
  ASSERT_EQ(before[0], 0x01);  // points at the shared formula
  Value f3 = s.GetValue(2, 5);
  ASSERT_TRUE(s.SetNumber(1, 5, 99));
  Workbook back = Reload(*wb);
  const Sheet& t = back.sheet(*idx);
  EXPECT_EQ(t.GetValue(1, 5), Value::Number(99));
  EXPECT_FALSE(t.GetCell(1, 5).formula);
  for (uint32_t r = 2; r <= 7; ++r) {
    auto tokens = t.FormulaTokens(r, 5);
    ASSERT_GE(tokens.size(), 9u) << r;
    EXPECT_EQ(tokens[0] & 0x9F, 0x05) << r;  // an area of its own: B..E of the same row
    EXPECT_EQ(Get16(tokens.data() + 1), r);
    EXPECT_EQ(Get16(tokens.data() + 3), r);
    EXPECT_EQ(Get16(tokens.data() + 5) & 0xFF, 1);
    EXPECT_EQ(Get16(tokens.data() + 7) & 0xFF, 4);
  }
  EXPECT_EQ(t.GetValue(2, 5), f3);  // the last value is kept
}

}  // namespace
}  // namespace migrator::xls
