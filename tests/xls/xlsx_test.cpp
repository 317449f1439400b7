// The engine's .xlsx side: what it writes reads back equal, conversions to
// and from .xls, workbooks made by other programs kept through edits and
// saves, and packages it must refuse.

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "testlib/testlib.h"
#include "xls/biff/cfb.h"
#include "xls/output.h"
#include "xls/workbook.h"
#include "xls/xlsx/zip.h"

namespace migrator::xls {
namespace {

namespace fs = std::filesystem;

const std::string kData = MIGRATOR_TEST_DATA_DIR;

std::vector<uint8_t> ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

Workbook Reload(const Workbook& wb) {
  auto bytes = wb.Serialize();
  EXPECT_TRUE(bytes) << bytes.message();
  auto back = Workbook::Parse(*bytes);
  EXPECT_TRUE(back) << back.message();
  return std::move(*back);
}

// Every part of a package, by name.
std::map<std::string, std::string> Parts(std::span<const uint8_t> package) {
  std::map<std::string, std::string> parts;
  auto zip = xlsx::ZipReader::Open(package, {});
  EXPECT_TRUE(zip) << zip.message();
  if (!zip) return parts;
  for (size_t i = 0; i < (*zip)->entries().size(); ++i) {
    auto bytes = (*zip)->ReadAll(i, size_t{1} << 30);
    EXPECT_TRUE(bytes);
    parts[(*zip)->entries()[i].name] = bytes ? *bytes : "";
  }
  return parts;
}

// Every cell of every worksheet as text, formats' number codes with them.
std::string Dump(const Workbook& wb) {
  std::string out;
  for (size_t i = 0; i < wb.sheetCount(); ++i) {
    const Sheet& s = wb.sheet(i);
    out += "sheet " + s.name() + " " + std::to_string(static_cast<int>(s.visibility())) + "\n";
    auto used = s.UsedRange();
    if (!used) continue;
    for (uint32_t r = used->firstRow; r <= used->lastRow; ++r)
      for (uint32_t c = used->firstCol; c <= used->lastCol; ++c) {
        const Cell cell = s.GetCell(r, c);
        if (!cell.exists) continue;
        const Value& v = cell.value;
        out += CellName(r, c) + " " + std::to_string(static_cast<int>(v.kind)) + " ";
        if (v.kind == Value::Kind::kNumber) {
          char buf[40];
          std::snprintf(buf, sizeof buf, "%.17g", v.number);
          out += buf;
        }
        if (v.kind == Value::Kind::kText) out += v.text;
        if (v.kind == Value::Kind::kBoolean) out += v.boolean ? "T" : "F";
        if (v.kind == Value::Kind::kError) out += ErrorText(v.error);
        const CellFormat f = wb.format(cell.xf);
        out += " [" + wb.NumberFormatCode(f.numberFormat) + "]";
        if (auto font = wb.font(f.font); font && font->bold()) out += " bold";
        out += "\n";
      }
  }
  return out;
}

// ---- what the engine writes ----

TEST(XlsxRoundTrip, CellsFormatsAndLayoutReadBackEqual) {
  Workbook wb = Workbook::New(FileFormat::kXlsx);
  EXPECT_EQ(wb.format(), FileFormat::kXlsx);
  EXPECT_EQ(wb.limits(), kXlsxLimits);
  ASSERT_TRUE(wb.AddSheet("Data"));
  ASSERT_TRUE(wb.AddSheet("Second sheet"));
  Sheet& s = wb.sheet(0);
  const std::vector<std::string> texts = {
      "plain",
      "caf\xC3\xA9 \xE6\x97\xA5\xE6\x9C\xAC \xF0\x9F\x98\x80",
      std::string("controls \x01\x02\x1F and nul ") + '\0' + " end",
      "cr\rlf\ncrlf\r\ntab\t",
      "_x0041_ written as it is",
      "__x005F_x0041_ twice",
      " leading and trailing ",
      "&<>\"' and ]]>",
      std::string(kMaxTextLength, 'x'),
      ""};
  for (uint32_t i = 0; i < texts.size(); ++i)
    ASSERT_TRUE(s.SetText(i, 0, texts[i])) << i;
  const double numbers[] = {
      0, -0.5, 1e-300, 1.7976931348623157e308, 123456789012345678.0, 0.1 + 0.2, -2.5e-310};
  for (uint32_t i = 0; i < std::size(numbers); ++i)
    ASSERT_TRUE(s.SetNumber(i, 1, numbers[i]));
  ASSERT_TRUE(s.SetBoolean(0, 2, true));
  ASSERT_TRUE(s.SetBoolean(1, 2, false));
  ASSERT_TRUE(s.SetError(2, 2, ErrorCode::kDiv0));
  ASSERT_TRUE(s.SetError(3, 2, ErrorCode::kNA));
  ASSERT_TRUE(s.SetBlank(4, 2));
  ASSERT_TRUE(s.SetNumber(0, 3, 45292.5));
  auto date = wb.CellFormatWithNumberFormat(s.GetCell(0, 3).xf, "yyyy-mm-dd hh:mm");
  ASSERT_TRUE(date);
  ASSERT_TRUE(s.SetCellFormat(0, 3, *date));
  // The last cell of a sheet, and past it.
  Workbook corner = Workbook::New(FileFormat::kXlsx);
  ASSERT_TRUE(corner.AddSheet("Corner"));
  ASSERT_TRUE(corner.sheet(0).SetText(kXlsxLimits.rows - 1, kXlsxLimits.columns - 1, "corner"));
  EXPECT_EQ(Reload(corner).sheet(0).GetValue(kXlsxLimits.rows - 1, kXlsxLimits.columns - 1).text,
            "corner");
  auto pastRow = s.SetText(kXlsxLimits.rows, 0, "x");
  EXPECT_NE(pastRow.message().find("1,048,576"), std::string::npos) << pastRow.message();
  auto pastCol = s.SetText(0, kXlsxLimits.columns, "x");
  EXPECT_NE(pastCol.message().find("16,384, XFD"), std::string::npos) << pastCol.message();
  EXPECT_FALSE(s.SetText(0, 4, std::string(kMaxTextLength + 1, 'y')));

  RowFormat header;
  header.bold = true;
  header.horizontal = HAlign::kCenter;
  header.borderTop = header.borderBottom = header.borderLeft = header.borderInsideVertical = true;
  header.fillColor = 22;
  ASSERT_TRUE(s.FormatRow(0, header));
  ASSERT_TRUE(s.SetColumnWidth(1, 20.5));
  ASSERT_TRUE(s.SetRowHeight(2, 600));
  ASSERT_TRUE(s.FreezePanes(1, 0));
  ASSERT_TRUE(s.AddMergedRange({20, 0, 21, 2}));
  ASSERT_TRUE(wb.DefineName("Table1", 0, {0, 0, 4, 2}));
  ASSERT_TRUE(wb.DefineName("Local", 1, {0, 0, 0, 0}, 1));
  ASSERT_TRUE(wb.sheet(1).SetText(0, 0, "plain"));  // the same text twice is written once
  ASSERT_TRUE(wb.sheet(1).SetVisibility(Visibility::kHidden));

  const auto first = wb.Serialize();
  ASSERT_TRUE(first);
  const auto second = wb.Serialize();
  ASSERT_TRUE(second);
  EXPECT_EQ(*first, *second) << "two saves of one workbook differ";

  Workbook back = Reload(wb);
  EXPECT_EQ(back.format(), FileFormat::kXlsx);
  EXPECT_EQ(Dump(back), Dump(wb));
  const Sheet& b = back.sheet(0);
  for (uint32_t i = 0; i < texts.size(); ++i) {
    // A NUL cannot be in a text read from UTF-8 API calls past it: compare whole.
    EXPECT_EQ(b.GetValue(i, 0).text, texts[i]) << i;
  }
  EXPECT_TRUE(back.IsDateFormat(b.GetCell(0, 3).xf));
  EXPECT_EQ(back.NumberFormatCode(back.format(b.GetCell(0, 3).xf).numberFormat),
            "yyyy-mm-dd hh:mm");
  const CellFormat h = back.format(b.GetCell(0, 1).xf);
  EXPECT_TRUE(back.font(h.font)->bold());
  EXPECT_EQ(h.horizontal, HAlign::kCenter);
  EXPECT_EQ(h.top, LineStyle::kThin);
  EXPECT_EQ(h.right, LineStyle::kThin);
  EXPECT_EQ(h.fillPattern, 1);
  EXPECT_EQ(h.fillColor, 22);
  EXPECT_TRUE(b.RowFormatIndex(0));
  EXPECT_DOUBLE_EQ(b.ColumnWidth(1), 20.5);
  EXPECT_EQ(b.RowHeight(2), 600);
  EXPECT_EQ(b.frozenRows(), 1u);
  EXPECT_EQ(b.frozenColumns(), 0u);
  ASSERT_EQ(b.mergedRanges().size(), 1u);
  EXPECT_EQ(b.mergedRanges()[0], (Range{20, 0, 21, 2}));
  ASSERT_EQ(back.nameCount(), 2u);
  const DefinedName n = back.name(*back.FindName("table1"));
  EXPECT_EQ(n.kind, DefinedName::Kind::kArea);
  EXPECT_EQ(n.reference, "Data!$A$1:$C$5");
  EXPECT_TRUE(back.FindName("Local", 1));
  EXPECT_EQ(back.sheet(1).visibility(), Visibility::kHidden);
}

TEST(XlsxRoundTrip, XlsToXlsxAndBackReadsBackEqual) {
  auto xls = Workbook::Load(kData + "/xls/xlwt_mixed.xls");
  ASSERT_TRUE(xls) << xls.message();
  std::vector<std::string> notes;
  auto xlsx = xls->ConvertedTo(FileFormat::kXlsx, &notes);
  ASSERT_TRUE(xlsx) << xlsx.message();
  EXPECT_FALSE(notes.empty());  // formulas go over as their values, and say so
  Workbook x = Reload(*xlsx);
  auto again = x.ConvertedTo(FileFormat::kXls);
  ASSERT_TRUE(again) << again.message();
  Workbook back = Reload(*again);
  EXPECT_EQ(back.format(), FileFormat::kXls);
  EXPECT_EQ(Dump(x), Dump(*xls));
  EXPECT_EQ(Dump(back), Dump(*xls));
  for (size_t i = 0; i < xls->sheetCount(); ++i) {
    const Sheet& a = xls->sheet(i);
    const Sheet& b = back.sheet(i);
    EXPECT_EQ(b.mergedRanges(), a.mergedRanges());
    EXPECT_EQ(b.frozenRows(), a.frozenRows());
    EXPECT_EQ(b.frozenColumns(), a.frozenColumns());
    for (uint32_t c = 0; c < 8; ++c) {
      EXPECT_EQ(b.HasColumnWidth(c), a.HasColumnWidth(c)) << a.name() << " column " << c;
      if (a.HasColumnWidth(c)) {
        EXPECT_DOUBLE_EQ(b.ColumnWidth(c), a.ColumnWidth(c)) << a.name() << " column " << c;
      }
    }
  }
  // A sheet too large for .xls is refused, not cut.
  Workbook big = Workbook::New(FileFormat::kXlsx);
  ASSERT_TRUE(big.AddSheet("Big"));
  ASSERT_TRUE(big.sheet(0).SetNumber(70000, 0, 1));
  auto refused = big.ConvertedTo(FileFormat::kXls);
  ASSERT_FALSE(refused);
  EXPECT_NE(refused.message().find("70,001 rows"), std::string::npos) << refused.message();
}

TEST(XlsxRoundTrip, TwoHundredThousandRowsReadBackCellForCell) {
  constexpr uint32_t kRows = 200000;
  Workbook wb = Workbook::New(FileFormat::kXlsx);
  ASSERT_TRUE(wb.AddSheet("Rows"));
  Sheet& s = wb.sheet(0);
  for (uint32_t r = 0; r < kRows; ++r) {
    ASSERT_TRUE(s.SetText(r, 0, "row " + std::to_string(r) + (r % 3 ? "" : " \xE2\x82\xAC")));
    ASSERT_TRUE(s.SetNumber(r, 1, r));
    ASSERT_TRUE(s.SetNumber(r, 2, r / 7.0));
    if (r % 5) {
      ASSERT_TRUE(s.SetNumber(r, 4, 40000 + r % 3000));
    }
    ASSERT_TRUE(s.SetBoolean(r, 5, r % 2));
  }
  testing::TempDir dir;
  const std::string path = (dir / "rows.xlsx").string();
  ASSERT_TRUE(wb.Save(path));
  auto back = Workbook::Load(path);
  ASSERT_TRUE(back) << back.message();
  const Sheet& b = back->sheet(0);
  ASSERT_EQ(b.UsedRange(), (Range{0, 0, kRows - 1, 5}));
  for (uint32_t r = 0; r < kRows; ++r)
    for (uint32_t c = 0; c < 6; ++c) {
      const Cell x = s.GetCell(r, c), y = b.GetCell(r, c);
      ASSERT_EQ(y.exists, x.exists) << CellName(r, c);
      ASSERT_EQ(y.value, x.value) << CellName(r, c);
    }
}

// ---- workbooks of other programs ----

TEST(XlsxFidelity, ForeignWorkbooksKeepEveryPartThroughAnInsertAndASave) {
  for (const char* file : {"op_rich.xlsx", "lo_rich.xlsx"}) {
    SCOPED_TRACE(file);
    const auto original = ReadBytes(kData + "/xlsx/" + file);
    ASSERT_FALSE(original.empty());
    auto wb = Workbook::Parse(original);
    ASSERT_TRUE(wb) << wb.message();
    ASSERT_EQ(wb->sheetCount(), 3u);
    Sheet& sales = wb->sheet(0);
    EXPECT_EQ(sales.FormulaText(1, 5), "SUM(B2:E2)");
    EXPECT_EQ(sales.commentCells(), (std::vector<Range>{{1, 0, 1, 0}}));
    EXPECT_EQ(sales.hyperlinkRanges(), (std::vector<Range>{{0, 7, 0, 7}}));
    if (std::string(file) == "op_rich.xlsx") {
      EXPECT_EQ(sales.frozenRows(), 1u);
    }
    auto regions = wb->FindName("Regions");
    ASSERT_TRUE(regions);
    ASSERT_EQ(wb->name(*regions).kind, DefinedName::Kind::kArea);
    EXPECT_EQ(wb->name(*wb->FindName("Doubled")).kind, DefinedName::Kind::kOther);
    EXPECT_TRUE(wb->IsDateFormat(wb->sheet(1).GetCell(0, 0).xf));
    const std::string before = Dump(*wb);

    // What an INSERT into the table Regions does: a row below it, the name grown.
    const Range r = wb->name(*regions).range;
    ASSERT_TRUE(sales.SetText(r.lastRow + 1, 0, "Added"));
    ASSERT_TRUE(sales.SetNumber(r.lastRow + 1, 1, 42));
    ASSERT_TRUE(wb->MoveNameArea(*regions, 0, {r.firstRow, r.firstCol, r.lastRow + 1, r.lastCol}));
    auto saved = wb->Serialize();
    ASSERT_TRUE(saved) << saved.message();

    // Every part is still there; those the engine does not write anew are
    // the same bytes.
    const auto was = Parts(original);
    const auto now = Parts(*saved);
    for (const auto& [name, bytes] : was) {
      // Texts go in their cells: a shared string table is not written.
      if (name == "xl/sharedStrings.xml") continue;
      ASSERT_TRUE(now.count(name)) << name << " was lost";
      const bool rewritten = name.find("worksheets/sheet") != std::string::npos ||
                             name == "xl/workbook.xml" || name == "xl/styles.xml" ||
                             name == "xl/sharedStrings.xml" || name == "[Content_Types].xml" ||
                             name.find("_rels/") != std::string::npos;
      if (!rewritten) {
        EXPECT_EQ(now.at(name), bytes) << name << " changed";
      }
    }
    EXPECT_NE(now.at("xl/worksheets/sheet1.xml").find("conditionalFormatting"), std::string::npos);
    EXPECT_NE(now.at("xl/worksheets/sheet1.xml").find("dataValidation"), std::string::npos);
    EXPECT_NE(now.at("xl/worksheets/sheet1.xml").find("<drawing"), std::string::npos);
    EXPECT_NE(now.at("xl/worksheets/sheet1.xml").find("legacyDrawing"), std::string::npos);

    auto back = Workbook::Parse(*saved);
    ASSERT_TRUE(back) << back.message();
    EXPECT_EQ(Dump(*back), Dump(*wb));
    EXPECT_NE(Dump(*back), before);
    EXPECT_EQ(back->sheet(0).FormulaText(1, 5), "SUM(B2:E2)");
    EXPECT_EQ(back->sheet(0).commentCells().size(), 1u);
    EXPECT_EQ(back->name(*back->FindName("Regions")).range.lastRow, r.lastRow + 1);
    EXPECT_EQ(back->sheet(2).visibility(), Visibility::kHidden);
  }
}

TEST(XlsxFidelity, CommentsAndLinksGoByBlockWithTheirParts) {
  const auto original = ReadBytes(kData + "/xlsx/op_rich.xlsx");
  auto wb = Workbook::Parse(original);
  ASSERT_TRUE(wb) << wb.message();
  Sheet& s = wb->sheet(0);
  ASSERT_TRUE(s.RemoveAttached({0, 0, 0, 3}));  // nothing attached there but merged cells
  EXPECT_EQ(s.commentCells().size(), 1u);
  ASSERT_TRUE(s.RemoveAttached({0, 0, 20, 10}));
  EXPECT_TRUE(s.commentCells().empty());
  EXPECT_TRUE(s.hyperlinkRanges().empty());
  EXPECT_TRUE(s.mergedRanges().empty());
  auto saved = wb->Serialize();
  ASSERT_TRUE(saved);
  const auto parts = Parts(*saved);
  for (const auto& [name, bytes] : parts) {
    EXPECT_EQ(name.find("comment"), std::string::npos) << name;
    if (name.find(".rels") != std::string::npos || name == "[Content_Types].xml") {
      EXPECT_EQ(bytes.find("comment"), std::string::npos) << name;
    }
  }
  EXPECT_EQ(parts.at("xl/worksheets/sheet1.xml").find("legacyDrawing"), std::string::npos);
  EXPECT_EQ(parts.at("xl/worksheets/sheet1.xml").find("hyperlink"), std::string::npos);
  EXPECT_NE(parts.at("xl/worksheets/sheet1.xml").find("<drawing"), std::string::npos);
  auto back = Workbook::Parse(*saved);
  ASSERT_TRUE(back) << back.message();
  EXPECT_TRUE(back->sheet(0).commentCells().empty());
}

// A package of a few parts, each given whole.
std::vector<uint8_t> Package(const std::vector<std::pair<std::string, std::string>>& parts) {
  std::vector<uint8_t> out;
  detail::MemoryOutput sink(out);
  xlsx::ZipWriter zip(sink);
  for (const auto& [name, bytes] : parts)
    EXPECT_TRUE(zip.Add(name, bytes)) << name;
  EXPECT_TRUE(zip.Finish());
  return out;
}

const char* kTypes =
    "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
    "<Default Extension=\"rels\" "
    "ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
    "<Default Extension=\"xml\" ContentType=\"application/xml\"/>"
    "<Override PartName=\"/xl/workbook.xml\" "
    "ContentType=\"application/"
    "vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml\"/></Types>";
const char* kRootRels =
    "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
    "<Relationship Id=\"rId1\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/"
    "relationships/officeDocument\" Target=\"xl/workbook.xml\"/></Relationships>";
const char* kBookRels =
    "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
    "<Relationship Id=\"rId1\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/"
    "relationships/worksheet\" Target=\"worksheets/sheet1.xml\"/></Relationships>";
const std::string kBook =
    "<workbook xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" "
    "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\">"
    "<sheets><sheet name=\"S\" sheetId=\"1\" r:id=\"rId1\"/></sheets>"
    "<definedNames><definedName name=\"Doubles\">S!$B$1:$B$3</definedName></definedNames>"
    "</workbook>";
const std::string kSheet =
    "<worksheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"><sheetData>"
    "<row r=\"1\"><c r=\"A1\"><v>1</v></c><c r=\"B1\"><f t=\"shared\" ref=\"B1:B3\" si=\"0\">"
    "A1*2+S!$A$1</f><v>3</v></c></row>"
    "<row r=\"2\"><c r=\"A2\"><v>2</v></c><c r=\"B2\"><f t=\"shared\" si=\"0\"/><v>5</v></c></row>"
    "<row r=\"3\"><c r=\"A3\"><v>3</v></c><c r=\"B3\"><f t=\"shared\" si=\"0\"/><v>7</v></c></row>"
    "</sheetData></worksheet>";

std::vector<uint8_t> SmallPackage(std::string book = kBook, std::string sheet = kSheet) {
  return Package({{"[Content_Types].xml", kTypes},
                  {"_rels/.rels", kRootRels},
                  {"xl/workbook.xml", book},
                  {"xl/_rels/workbook.xml.rels", kBookRels},
                  {"xl/worksheets/sheet1.xml", sheet}});
}

TEST(XlsxFidelity, SharedFormulasAndSheetNamesFollowEdits) {
  auto wb = Workbook::Parse(SmallPackage());
  ASSERT_TRUE(wb) << wb.message();
  Sheet& s = wb->sheet(0);
  EXPECT_EQ(s.GetValue(2, 1).number, 7);
  // The first cell of a shared formula changes: the others keep theirs.
  ASSERT_TRUE(s.SetNumber(0, 1, 100));
  ASSERT_TRUE(wb->RenameSheet(0, "My sheet"));
  Workbook back = Reload(*wb);
  const Sheet& b = back.sheet(0);
  EXPECT_EQ(b.GetValue(0, 1).number, 100);
  EXPECT_EQ(b.FormulaText(1, 1), "A2*2+'My sheet'!$A$1");
  EXPECT_EQ(b.FormulaText(2, 1), "A3*2+'My sheet'!$A$1");
  EXPECT_EQ(b.GetValue(2, 1).number, 7);
  EXPECT_EQ(back.name(0).reference, "'My sheet'!$B$1:$B$3");
}

TEST(XlsxFidelity, AnAddedSheetDoesNotTakeTheRelationshipsOfAMissingPart) {
  // The package carries relationships (damaged ones) for a sheet2.xml it
  // does not have: a sheet added must not be named so that they become its.
  auto wb = Workbook::Parse(Package({{"[Content_Types].xml", kTypes},
                                     {"_rels/.rels", kRootRels},
                                     {"xl/workbook.xml", kBook},
                                     {"xl/_rels/workbook.xml.rels", kBookRels},
                                     {"xl/worksheets/sheet1.xml", kSheet},
                                     {"xl/worksheets/_rels/sheet2.xml.rels", "<Relationships"}}));
  ASSERT_TRUE(wb) << wb.message();
  ASSERT_TRUE(wb->AddSheet("Added", 1));
  ASSERT_TRUE(wb->sheet(1).SetText(0, 0, "new"));
  Workbook back = Reload(*wb);
  ASSERT_EQ(back.sheetCount(), 2u);
  EXPECT_EQ(back.sheet(1).GetValue(0, 0).text, "new");
}

TEST(XlsxFidelity, RichTextAndPrefixedNamespacesComeBackAsRead) {
  // The worksheet calls the main namespace x:, the string table uses it
  // as its default; a rich text goes from the table into its cell.
  const std::string main = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";
  const std::string sheet = "<x:worksheet xmlns:x=\"" + main +
                            "\"><x:sheetData><x:row r=\"1\"><x:c r=\"A1\" t=\"s\"><x:v>0</x:v>"
                            "</x:c><x:c r=\"B1\" t=\"s\"><x:v>1</x:v></x:c></x:row></x:sheetData>"
                            "</x:worksheet>";
  const std::string strings =
      "<sst xmlns=\"" + main +
      "\"><si><r><rPr><b/></rPr><t>Bold</t></r><r><t xml:space=\"preserve\">"
      " plain</t></r></si><si><t>simple</t></si></sst>";
  std::string rels = kBookRels;
  rels.insert(rels.find("</Relationships>"),
              "<Relationship Id=\"rId2\" Type=\"http://schemas.openxmlformats.org/officeDocument/"
              "2006/relationships/sharedStrings\" Target=\"sharedStrings.xml\"/>");
  auto wb = Workbook::Parse(Package({{"[Content_Types].xml", kTypes},
                                     {"_rels/.rels", kRootRels},
                                     {"xl/workbook.xml", kBook},
                                     {"xl/_rels/workbook.xml.rels", rels},
                                     {"xl/sharedStrings.xml", strings},
                                     {"xl/worksheets/sheet1.xml", sheet}}));
  ASSERT_TRUE(wb) << wb.message();
  EXPECT_EQ(wb->sheet(0).GetValue(0, 0).text, "Bold plain");
  auto saved = wb->Serialize();
  ASSERT_TRUE(saved);
  const std::string xml = Parts(*saved).at("xl/worksheets/sheet1.xml");
  EXPECT_NE(xml.find("<x:is xmlns=\"" + main + "\"><r><rPr><b/></rPr><t>Bold</t></r>"),
            std::string::npos)
      << xml;
  Workbook back = Reload(*wb);
  EXPECT_EQ(back.sheet(0).GetValue(0, 0).text, "Bold plain");
  EXPECT_EQ(back.sheet(0).GetValue(0, 1).text, "simple");
}

TEST(XlsxFidelity, CellsOutOfOrderOrGivenTwiceReadInOrder) {
  // Rows of every column given backwards (as sorting them one insertion at
  // a time would take the square of their cells), a cell given twice (the
  // later counts) and a row given twice (merged).
  std::string sheet =
      "<worksheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\">"
      "<sheetData>";
  for (uint32_t r = 1; r <= 20; ++r) {
    sheet += "<row r=\"" + std::to_string(r) + "\">";
    for (uint32_t c = kXlsxLimits.columns; c-- > 0;)
      sheet += "<c r=\"" + CellName(r - 1, c) + "\"><v>" + std::to_string(c) + "</v></c>";
    sheet += "</row>";
  }
  sheet +=
      "<row r=\"30\"><c r=\"B30\"><v>1</v></c><c r=\"A30\"><v>2</v></c>"
      "<c r=\"B30\"><v>3</v></c></row><row r=\"30\"><c r=\"C30\"><v>4</v></c>"
      "<c r=\"A30\"><v>5</v></c></row></sheetData></worksheet>";
  auto wb = Workbook::Parse(SmallPackage(kBook, sheet));
  ASSERT_TRUE(wb) << wb.message();
  const Sheet& s = wb->sheet(0);
  for (uint32_t r = 0; r < 20; ++r)
    for (uint32_t c = 0; c < kXlsxLimits.columns; c += 997)
      ASSERT_EQ(s.GetValue(r, c).number, c) << CellName(r, c);
  EXPECT_EQ(s.GetValue(29, 0).number, 5);
  EXPECT_EQ(s.GetValue(29, 1).number, 3);
  EXPECT_EQ(s.GetValue(29, 2).number, 4);
  EXPECT_EQ(Dump(Reload(*wb)), Dump(*wb));
}

// ---- packages that are refused ----

// A zip written byte by byte, for packages no zip library would write.
std::vector<uint8_t> RawZip(const std::vector<std::pair<std::string, std::string>>& entries,
                            uint16_t flags = 0) {
  auto crc32 = [](const std::string& s) {
    uint32_t c = 0xFFFFFFFF;
    for (unsigned char b : s) {
      c ^= b;
      for (int k = 0; k < 8; ++k)
        c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1)));
    }
    return ~c;
  };
  std::string out, dir;
  auto u16 = [](std::string& s, uint16_t v) {
    s += static_cast<char>(v & 0xFF);
    s += static_cast<char>(v >> 8);
  };
  auto u32 = [&](std::string& s, uint32_t v) {
    u16(s, static_cast<uint16_t>(v));
    u16(s, static_cast<uint16_t>(v >> 16));
  };
  for (const auto& [name, data] : entries) {
    const uint32_t offset = static_cast<uint32_t>(out.size());
    const uint32_t crc = crc32(data);
    u32(out, 0x04034b50);
    u16(out, 20);
    u16(out, flags);
    u16(out, 0);
    u32(out, 0x00210000);
    u32(out, crc);
    u32(out, static_cast<uint32_t>(data.size()));
    u32(out, static_cast<uint32_t>(data.size()));
    u16(out, static_cast<uint16_t>(name.size()));
    u16(out, 0);
    out += name + data;
    u32(dir, 0x02014b50);
    u16(dir, 20);
    u16(dir, 20);
    u16(dir, flags);
    u16(dir, 0);
    u32(dir, 0x00210000);
    u32(dir, crc);
    u32(dir, static_cast<uint32_t>(data.size()));
    u32(dir, static_cast<uint32_t>(data.size()));
    u16(dir, static_cast<uint16_t>(name.size()));
    u16(dir, 0);
    u16(dir, 0);
    u16(dir, 0);
    u16(dir, 0);
    u32(dir, 0);
    u32(dir, offset);
    dir += name;
  }
  const uint32_t dirAt = static_cast<uint32_t>(out.size());
  out += dir;
  u32(out, 0x06054b50);
  u32(out, 0);
  u16(out, static_cast<uint16_t>(entries.size()));
  u16(out, static_cast<uint16_t>(entries.size()));
  u32(out, static_cast<uint32_t>(dir.size()));
  u32(out, dirAt);
  u16(out, 0);
  return {out.begin(), out.end()};
}

TEST(XlsxHostile, PackagesAreRefusedWithTheirReasons) {
  auto refused = [](std::span<const uint8_t> bytes, const std::string& why,
                    const LoadLimits& limits = {}) {
    auto wb = Workbook::Parse(bytes, limits);
    ASSERT_FALSE(wb) << "accepted; expected: " << why;
    EXPECT_NE(wb.message().find(why), std::string::npos) << wb.message();
  };
  const std::vector<std::pair<std::string, std::string>> good = {
      {"[Content_Types].xml", kTypes},
      {"_rels/.rels", kRootRels},
      {"xl/workbook.xml", kBook},
      {"xl/_rels/workbook.xml.rels", kBookRels},
      {"xl/worksheets/sheet1.xml", kSheet}};
  ASSERT_TRUE(Workbook::Parse(RawZip(good)));

  // Names that would matter as paths, and two entries of one name.
  for (const char* name : {"../evil.xml", "xl/../../evil.xml", "/etc/evil.xml", "xl\\evil.xml",
                           "C:/evil.xml", "xl//evil.xml"}) {
    auto entries = good;
    entries.emplace_back(name, "x");
    refused(RawZip(entries), "is not opened");
  }
  {
    auto entries = good;
    entries.emplace_back("XL/Workbook.xml", kBook);
    refused(RawZip(entries), "two entries named");
  }
  // Encrypted entries, and an encrypted workbook in its compound file.
  refused(RawZip(good, 0x0001), "encrypted workbooks are not supported");
  {
    std::vector<cfb::OutEntry> e(3);
    e[0].name = u"Root Entry";
    e[0].type = cfb::EntryType::kRoot;
    e[0].children = {1, 2};
    e[1].name = u"EncryptionInfo";
    e[2].name = u"EncryptedPackage";
    const std::vector<uint8_t> data(5000, 7);
    e[1].data = data;
    e[2].data = data;
    auto image = cfb::WriteToBytes(e);
    ASSERT_TRUE(image);
    refused(*image, "encrypted workbooks are not supported");
  }
  // Missing parts.
  refused(RawZip({good.begin() + 1, good.end()}), "no [Content_Types].xml");
  refused(RawZip({good.begin(), good.end() - 1}), "the part of sheet S is missing");
  {
    // A sheet whose relationship says it is the shared strings (the fuzzer's):
    // a save, which writes no such part, would lose it.
    auto entries = good;
    std::string rels = kBookRels;
    rels.replace(rels.find("relationships/worksheet"), 23, "relationships/sharedStrings");
    rels.replace(rels.find("worksheets/sheet1.xml"), 21, "sharedStrings.xml");
    entries[3].second = rels;
    entries.emplace_back("xl/sharedStrings.xml",
                         "<sst xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/"
                         "main\"><si><t>a</t></si></sst>");
    refused(RawZip(entries), "names the workbook's shared strings or styles as its part");
  }
  // Document type declarations: entity expansion and external entities.
  refused(SmallPackage("<?xml version=\"1.0\"?><!DOCTYPE workbook [<!ENTITY a \"aaaaaaaaaa\">"
                       "<!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\">"
                       "<!ENTITY c \"&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;\">]>" +
                       kBook.substr(0, kBook.size() - 11) + "&c;</workbook>"),
          "document type declaration");
  refused(SmallPackage(kBook, "<!DOCTYPE worksheet SYSTEM \"file:///etc/passwd\">" + kSheet),
          "document type declaration");
  // Strict Office Open XML.
  {
    std::string strict = kBook;
    strict.replace(strict.find("http://schemas.openxmlformats.org/spreadsheetml/2006/main"), 57,
                   "http://purl.oclc.org/ooxml/spreadsheetml/main");
    refused(SmallPackage(strict), "strict Office Open XML");
  }
  // Elements nested to exhaust the stack.
  {
    std::string deep = kSheet;
    std::string nest;
    for (int i = 0; i < 5000; ++i)
      nest += "<x>";
    deep.insert(deep.find("</worksheet>"), nest);
    refused(SmallPackage(kBook, deep), "nest deeper");
  }
  // A part that inflates to a thousand times its size: 512 MiB of blanks.
  {
    std::vector<uint8_t> bomb;
    detail::MemoryOutput sink(bomb);
    xlsx::ZipWriter zip(sink);
    for (const auto& [name, bytes] : good)
      ASSERT_TRUE(zip.Add(name, bytes));
    const std::string blanks(size_t{64} << 10, ' ');
    size_t pieces = 8192;
    ASSERT_TRUE(zip.AddPieces(
        "xl/media/blank.bin",
        [&]() -> Result<std::string_view> {
          if (pieces == 0) return std::string_view();
          --pieces;
          return std::string_view(blanks);
        },
        9));
    ASSERT_TRUE(zip.Finish());
    EXPECT_LT(bomb.size(), size_t{1} << 20);
    refused(bomb, "made to exhaust memory");
    // And with a generous bound against its size, the absolute one.
    LoadLimits generous;
    generous.inflatedPerPackageByte = 100000;
    generous.maxInflatedBytes = size_t{256} << 20;
    refused(bomb, "made to exhaust memory", generous);
  }
}

}  // namespace
}  // namespace migrator::xls
