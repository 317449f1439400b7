#pragma once
// What an .xlsx workbook keeps beside the shared model: the package's parts
// (those the engine does not model are carried over as they were read), the
// workbook part's other elements, the styles, defined names, formulas and,
// for each worksheet, its elements beside the cells in their order.

#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "xls/model.h"
#include "xls/xlsx/package.h"
#include "xls/xlsx/styles.h"
#include "xls/xlsx/xml.h"

namespace migrator::xls::xlsx {

using detail::BookPart;
using detail::CellKind;
using detail::CellRec;
using detail::Output;
using detail::SheetModel;
using detail::SheetPart;
using detail::WorkbookImpl;

class XlsxBook;

// A formula cell.
struct Formula {
  std::string text;  // without "="; empty in the cells of a shared formula but its first
  XmlNode f;         // the <f> element without its text (its t, ref, si and other attributes)
  Value value;       // its last value
};

// A worksheet's element the engine writes itself, or keeps as it was read.
struct SheetElement {
  enum Kind : uint8_t {
    kKept,        // written back as read
    kDimension,   // the used range, written anew
    kSheetViews,  // kept, with the pane, selection and tab mark kept up to date
    kFormatPr,    // kept; the default row height is read from it
    kCols,        // column settings, written anew
    kSheetData,   // the cells, written anew
    kMergeCells,  // merged ranges, written anew
    kHyperlinks,  // hyperlinks, written from the list
  };
  Kind kind = kKept;
  XmlNode node;
};

struct Hyperlink {
  Range ref;
  XmlNode node;
};

class XlsxSheet : public SheetPart {
 public:
  explicit XlsxSheet(XlsxBook& book) : book_(book) {}

  std::string part;   // "xl/worksheets/sheet1.xml"
  std::string relId;  // in the workbook's relationships
  SheetType kind = SheetType::kWorksheet;
  XmlNode root;                        // the root element, without children
  std::vector<SheetElement> elements;  // worksheets: the root's children in order
  Relationships rels;                  // the sheet's own relationships
  std::vector<Formula> formulas;
  // Attributes of cells the model has no room for (cm, vm, ph), by cell.
  std::unordered_map<uint64_t, std::string> cellAttrs;
  std::vector<Hyperlink> hyperlinks;
  std::vector<Range> comments;  // the cells with a comment
  double defaultColumnWidth = 8.43;

  static uint64_t CellKey(uint32_t row, uint32_t col) { return uint64_t{row} << 16 | col; }
  // What the cell had beside its value goes with its value.
  void CellChanged(uint32_t row, uint32_t col) override { cellAttrs.erase(CellKey(row, col)); }
  // The part the sheet's first relationship of a type names.
  std::optional<std::string> RelTarget(std::string_view type) const;

  SheetType type() const override { return kind; }
  Value FormulaValue(uint32_t formula) const override;
  std::string FormulaText(uint32_t formula) const override;
  Status ReleaseFormula(WorkbookImpl& wb, SheetModel& m, uint32_t row, uint32_t col,
                        const CellRec& cell) override;
  double DefaultColumnWidth() const override { return defaultColumnWidth; }
  void Touched(Aspect a) override;
  std::vector<Range> CommentCells() const override { return comments; }
  std::vector<Range> HyperlinkRanges() const override;
  Status RemoveAttached(const std::string& sheetName, const Range& r) override;

 private:
  XlsxBook& book_;
};

inline XlsxSheet& Xlsx(SheetModel& m) {
  return static_cast<XlsxSheet&>(*m.part);
}
inline const XlsxSheet& Xlsx(const SheetModel& m) {
  return static_cast<const XlsxSheet&>(*m.part);
}

struct DefinedNameEntry {
  std::string name;                      // as the file has it ("_xlnm.Print_Area")
  std::optional<uint32_t> localSheetId;  // the sheet of a sheet-level name
  std::string text;                      // the formula, without "="
  XmlNode node;                          // the element's other attributes
  // What the last move of the name's area wrote, while `text` is still that:
  // a table's name moves down with every row added to it, and the next move
  // then rewrites only the number of the last row (at lastRowAt).
  struct Moved {
    std::string text;
    std::u16string sheet;
    Range area;
    size_t lastRowAt = 0;  // 0: not a two-cell block, nothing kept
  } moved;
};

// A part of the package the engine does not model: carried over as read.
struct CarriedPart {
  std::string name;
  std::string bytes;
};

class XlsxBook : public BookPart {
 public:
  explicit XlsxBook(WorkbookImpl& wb) : wb_(wb) {}

  ContentTypes types;
  Relationships rootRels;
  std::string workbookPart = "xl/workbook.xml";
  XmlNode workbook;  // the workbook part; its sheets and names are written anew
  Relationships workbookRels;
  std::string stylesPart, stringsPart;
  Styles styles;
  std::vector<DefinedNameEntry> names;
  // Every part that is not written anew, in the package's order.
  std::vector<CarriedPart> carried;

  WorkbookImpl& wb() { return wb_; }
  CarriedPart* FindCarried(std::string_view name);
  void RemoveCarried(std::string_view name);
  // True when a part of the package has the name (in any case), or a
  // relationships part for it is carried: a part made under that name would
  // take those relationships as its own.
  bool PartTaken(std::string_view name) const;
  // A part name no part has yet: prefix + n + suffix.
  std::string NewPartName(std::string_view prefix, std::string_view suffix) const;

  // BookPart.
  size_t fontCount() const override { return styles.fontCount(); }
  std::optional<Font> font(uint16_t index) const override { return styles.font(index); }
  size_t formatCount() const override { return styles.xfCount(); }
  CellFormat format(uint16_t xf) const override { return styles.format(xf); }
  std::string NumberFormatCode(uint16_t id) const override { return styles.NumberFormatCode(id); }
  bool IsDateFormat(uint16_t xf) const override { return styles.IsDateFormat(xf); }
  Result<uint16_t> CellFormatWithNumberFormat(uint16_t xf, std::string_view code) override {
    return styles.WithNumberFormat(xf, code);
  }
  uint16_t DefaultXf() const override { return 0; }
  bool IsCellXf(uint16_t xf) const override { return xf < styles.xfCount(); }
  Result<uint16_t> FormattedXf(uint16_t xf, const RowFormat& f, bool lastCol) override {
    return styles.Formatted(xf, f, lastCol);
  }
  Result<uint16_t> ImportXf(const CellFormat& f, const Font& font, std::string_view code) override {
    return styles.Import(f, font, code);
  }

  void SetDate1904(bool on) override;
  size_t nameCount() const override { return names.size(); }
  DefinedName name(size_t index) const override;
  std::optional<size_t> FindName(std::string_view name, std::u16string_view wide,
                                 std::optional<size_t> scope) const override;
  Status DefineName(std::string_view name, std::u16string_view wide, size_t sheet,
                    const Range& area, std::optional<size_t> scope) override;
  Status MoveNameArea(size_t index, size_t sheet, const Range& area) override;
  Status DeleteName(size_t index) override;
  Status SetAutoFilter(size_t sheet, const std::optional<Range>& area) override;

  std::unique_ptr<SheetModel> NewSheet(std::u16string name) override;
  void SheetInserting(size_t pos) override;
  Status SheetDeleting(size_t index) override;
  void SheetRenamed(size_t index, std::u16string_view old) override;

  Status Prepare() const override;
  Status Write(Output& out) const override;

 private:
  WorkbookImpl& wb_;
};

inline XlsxBook& Xlsx(WorkbookImpl& wb) {
  return static_cast<XlsxBook&>(*wb.book);
}
inline const XlsxBook& Xlsx(const WorkbookImpl& wb) {
  return static_cast<const XlsxBook&>(*wb.book);
}

// Reading (reader.cpp) and writing (writer.cpp) whole packages.
Result<std::unique_ptr<WorkbookImpl>> Parse(std::span<const uint8_t> file,
                                            const LoadLimits& limits);
// From the package's file, read as its parts are (the file is not held).
Result<std::unique_ptr<WorkbookImpl>> ParseFile(const std::string& path, uint64_t size,
                                                const LoadLimits& limits);
std::unique_ptr<WorkbookImpl> NewWorkbook();
std::unique_ptr<SheetModel> NewSheetModel(XlsxBook& book, std::u16string name);

// The place of a worksheet's child element in the order the format wants;
// -1 for elements it does not name.
int WorksheetRank(std::string_view local);

// "B3" as (row 2, column 1); false when it is no cell of a sheet of `limits`.
bool ParseCellRef(std::string_view s, const Limits& limits, uint32_t& row, uint32_t& col);
// "A1:C4" or "B3".
bool ParseRangeRef(std::string_view s, const Limits& limits, Range& r);
void AppendCellRef(uint32_t row, uint32_t col, std::string& out);

// Formula text (formula.cpp): the text of a formula of the cell moved by
// (rows, cols), its relative references following; nothing when a reference
// would leave the sheet.
std::optional<std::string> ShiftFormula(std::string_view text, int64_t rows, int64_t cols,
                                        const Limits& limits);
// The text with every reference to the sheet `from` naming `to` instead.
std::string RenameSheetInFormula(std::string_view text, std::u16string_view from,
                                 std::u16string_view to);
// The sheet and block of cells of a formula that is one such reference
// ("Sheet1!$A$1:$C$4", "'My sheet'!B2").
struct AreaRef {
  std::string sheet;
  Range range;
};
std::optional<AreaRef> ParseAreaFormula(std::string_view text, const Limits& limits);

}  // namespace migrator::xls::xlsx

namespace migrator::xls::detail {
// The entry points the engine's file calls use.
inline Result<std::unique_ptr<WorkbookImpl>> ParseXlsx(std::span<const uint8_t> file,
                                                       const LoadLimits& limits) {
  return xlsx::Parse(file, limits);
}
inline Result<std::unique_ptr<WorkbookImpl>> ParseXlsxFile(const std::string& path, uint64_t size,
                                                           const LoadLimits& limits) {
  return xlsx::ParseFile(path, size, limits);
}
inline std::unique_ptr<WorkbookImpl> NewXlsxWorkbook() {
  return xlsx::NewWorkbook();
}
}  // namespace migrator::xls::detail
