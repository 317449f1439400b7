#pragma once
// The workbook engine: a workbook held in memory, read from and saved to
// disk in either of its file formats, Excel 97-2003 (.xls, BIFF8 in an OLE2
// compound file) and Excel 2007 and later (.xlsx, an Office Open XML
// package). A file is recognised by its content; a workbook is saved in the
// format it was read in, a new one in the format it was made for.
//
// What the engine models (cells, fonts, cell formats, column widths, row
// heights, merged ranges, frozen panes, defined names, sheet order and
// visibility) can be read and changed; comments and hyperlinks can be listed
// and removed; everything else in a loaded file (charts, drawings,
// validation, print settings, other streams and parts) is kept as it was and
// written back unchanged.
//
// Text is UTF-8 in this API. Rows and columns are 0-based. No call throws;
// failures come back as Error texts. Sheet and name indexes passed in must be
// below sheetCount() and nameCount().
//
// A workbook is not locked: one thread at a time may use it (callers that
// share one, like the workbook provider, serialise their calls).

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/result.h"

namespace migrator::xls {

namespace detail {
struct WorkbookImpl;
struct SheetModel;
class Output;
}  // namespace detail

enum class FileFormat : uint8_t {
  kXls,   // Excel 97-2003: BIFF8 in an OLE2 compound file
  kXlsx,  // Excel 2007 and later: SpreadsheetML in a zip package
};

// How many rows and columns a sheet of a format has.
struct Limits {
  uint32_t rows = 0;
  uint32_t columns = 0;
  bool operator==(const Limits&) const = default;
};
constexpr Limits kXlsLimits{65536, 256};
constexpr Limits kXlsxLimits{1048576, 16384};
constexpr Limits LimitsOf(FileFormat f) {
  return f == FileFormat::kXlsx ? kXlsxLimits : kXlsLimits;
}

// The .xls format's limits (a workbook's own are Workbook::limits()).
constexpr uint32_t kMaxRows = kXlsLimits.rows;
constexpr uint32_t kMaxColumns = kXlsLimits.columns;
// Both formats.
constexpr size_t kMaxTextLength = 32767;  // UTF-16 units in one cell
constexpr size_t kMaxSheetNameLength = 31;

// The format a file name's extension names: .xlsx (in any case) for
// kXlsx, anything else kXls.
FileFormat FormatForPath(std::string_view path);
// The format of the workbook at `path`: by its content (a zip package is
// .xlsx), or by its name when nothing is there yet.
FileFormat FormatOfFile(const std::string& path);

// A block of cells, corners inclusive.
struct Range {
  uint32_t firstRow = 0;
  uint32_t firstCol = 0;
  uint32_t lastRow = 0;
  uint32_t lastCol = 0;
  bool operator==(const Range&) const = default;
  bool Contains(uint32_t row, uint32_t col) const {
    return row >= firstRow && row <= lastRow && col >= firstCol && col <= lastCol;
  }
};

// "A", "B", ... "IV", ... "XFD".
std::string ColumnName(uint32_t col);
// "B3" or "$B$3".
std::string CellName(uint32_t row, uint32_t col, bool absolute = false);
// "A1:C4" ("A1" for one cell), optionally with "$".
std::string RangeName(const Range& r, bool absolute = false);
// Quotes a sheet name for a reference when it needs it: 'My sheet'.
std::string QuoteSheetName(std::string_view name);

// Cell error codes as stored in the file.
enum class ErrorCode : uint8_t {
  kNull = 0x00,
  kDiv0 = 0x07,
  kValue = 0x0F,
  kRef = 0x17,
  kName = 0x1D,
  kNum = 0x24,
  kNA = 0x2A,
};
// "#DIV/0!" and so on; "#ERR" for unknown codes.
const char* ErrorText(uint8_t code);

struct Value {
  enum class Kind : uint8_t { kEmpty, kNumber, kText, kBoolean, kError };
  Kind kind = Kind::kEmpty;
  double number = 0;
  bool boolean = false;
  uint8_t error = 0;
  std::string text;  // UTF-8

  static Value Empty() { return {}; }
  static Value Number(double v) {
    Value x;
    x.kind = Kind::kNumber;
    x.number = v;
    return x;
  }
  static Value Text(std::string s) {
    Value x;
    x.kind = Kind::kText;
    x.text = std::move(s);
    return x;
  }
  static Value Boolean(bool b) {
    Value x;
    x.kind = Kind::kBoolean;
    x.boolean = b;
    return x;
  }
  static Value Error(ErrorCode e) {
    Value x;
    x.kind = Kind::kError;
    x.error = static_cast<uint8_t>(e);
    return x;
  }
  bool operator==(const Value&) const = default;
};

struct Cell {
  bool exists = false;   // the sheet has a record for the cell (blank cells too)
  bool formula = false;  // `value` is the formula's last calculated result
  Value value;
  uint16_t xf = 15;  // cell format index
};

enum class SheetType : uint8_t { kWorksheet, kChart, kMacro, kVisualBasic };
enum class Visibility : uint8_t { kVisible = 0, kHidden = 1, kVeryHidden = 2 };

enum class HAlign : uint8_t {
  kGeneral = 0,
  kLeft = 1,
  kCenter = 2,
  kRight = 3,
  kFill = 4,
  kJustify = 5,
  kCenterAcrossSelection = 6,
  kDistributed = 7,
};
enum class VAlign : uint8_t { kTop = 0, kCenter = 1, kBottom = 2, kJustify = 3, kDistributed = 4 };
// Border line styles as stored (0 none, 1 thin, 2 medium, ... 13).
enum class LineStyle : uint8_t {
  kNone = 0,
  kThin = 1,
  kMedium = 2,
  kDashed = 3,
  kDotted = 4,
  kThick = 5,
  kDouble = 6,
  kHair = 7
};

struct Font {
  uint16_t height = 200;  // 1/20 point
  uint16_t weight = 400;  // 700 = bold
  bool italic = false;
  bool strikeout = false;
  uint8_t underline = 0;
  uint16_t color = 0x7FFF;  // palette index; 0x7FFF = automatic
  std::string name = "Arial";
  bool bold() const { return weight >= 700; }
  double points() const { return height / 20.0; }
};

// A cell format (XF record) decoded.
struct CellFormat {
  uint16_t font = 0;
  uint16_t numberFormat = 0;
  bool isStyle = false;
  uint16_t parent = 0;
  HAlign horizontal = HAlign::kGeneral;
  VAlign vertical = VAlign::kBottom;
  bool wrap = false;
  uint8_t rotation = 0;
  uint8_t indent = 0;
  bool locked = true;
  bool hidden = false;
  LineStyle left = LineStyle::kNone, right = LineStyle::kNone, top = LineStyle::kNone,
            bottom = LineStyle::kNone;
  uint8_t leftColor = 0, rightColor = 0, topColor = 0, bottomColor = 0;
  uint8_t fillPattern = 0;  // 0 none, 1 solid, ...
  uint8_t fillColor = 64;   // pattern (foreground) colour index
  uint8_t fillBackColor = 65;
};

// Formatting applied to a whole row: to the row's default format and to every
// cell the row has. Unset members leave that property alone. Borders are thin
// lines; "inside vertical" draws the right edge of every cell but the last
// column's.
struct RowFormat {
  std::optional<bool> bold;
  std::optional<HAlign> horizontal;
  bool borderTop = false;
  bool borderBottom = false;
  bool borderLeft = false;
  bool borderInsideVertical = false;
  // Palette index as stored in the file (8 = the palette's first entry, black;
  // Excel's ColorIndex n is palette index n + 7), filled solid.
  std::optional<uint8_t> fillColor;
};

struct DefinedName {
  enum class Kind : uint8_t {
    kArea,     // a plain reference to cells of one sheet: `sheet` and `range`
    kInvalid,  // a reference into a deleted sheet or to #REF!
    kOther,    // any other formula; kept as it is
  };
  std::string name;
  std::optional<size_t> scope;  // the sheet of a sheet-level name
  bool builtin = false;         // Print_Area and the other built-in names
  bool hidden = false;
  Kind kind = Kind::kOther;
  size_t sheet = 0;
  Range range;
  std::string reference;  // "Sheet1!$A$1:$C$1", "#REF!" or "(formula)"
};

// What loading a file may make the engine hold, against the size of its
// workbook stream (.xls) or of its package (.xlsx). A file that would need
// more is refused: it is damaged or made to exhaust memory, since what a
// file holds never needs that much.
struct LoadLimits {
  size_t bytesPerStreamByte = 16;
  size_t baseBytes = size_t{64} << 20;
  // A package's parts are compressed: its memory is allowed more per byte,
  // and what its parts inflate to, in all, has a bound of its own against
  // the package's size and an absolute one.
  size_t bytesPerPackageByte = 64;
  size_t inflatedPerPackageByte = 250;
  size_t baseInflatedBytes = size_t{16} << 20;
  size_t maxInflatedBytes = size_t{2} << 30;
};

class Workbook;

// One sheet of a workbook. References stay valid until the sheet is deleted
// or the workbook goes.
class Sheet {
 public:
  std::string name() const;
  SheetType type() const;
  // Only worksheets have cells; the cell calls on other sheets fail.
  bool isWorksheet() const;
  Visibility visibility() const;
  Status SetVisibility(Visibility v);

  // Cells.
  Cell GetCell(uint32_t row, uint32_t col) const;
  Value GetValue(uint32_t row, uint32_t col) const { return GetCell(row, col).value; }
  // The formula's parsed tokens, as an .xls file holds them (empty for other
  // cells and in .xlsx workbooks).
  std::span<const uint8_t> FormulaTokens(uint32_t row, uint32_t col) const;
  // The formula's text, as an .xlsx file holds it ("SUM(A1:A3)", no "=";
  // empty for other cells and in .xls workbooks).
  std::string FormulaText(uint32_t row, uint32_t col) const;
  Status SetNumber(uint32_t row, uint32_t col, double v);
  Status SetText(uint32_t row, uint32_t col, std::string_view utf8);
  Status SetBoolean(uint32_t row, uint32_t col, bool v);
  Status SetError(uint32_t row, uint32_t col, ErrorCode e);
  Status SetValue(uint32_t row, uint32_t col, const Value& v);  // kEmpty clears
  // A formatted blank cell.
  Status SetBlank(uint32_t row, uint32_t col);
  Status Clear(uint32_t row, uint32_t col);
  Status SetCellFormat(uint32_t row, uint32_t col, uint16_t xf);

  // The smallest block holding every cell record, if any.
  std::optional<Range> UsedRange() const;

  // Rows.
  uint16_t RowHeight(uint32_t row) const;  // 1/20 point
  Status SetRowHeight(uint32_t row, uint16_t twips);
  // The row's own format, if it has one.
  std::optional<uint16_t> RowFormatIndex(uint32_t row) const;
  Status FormatRow(uint32_t row, const RowFormat& f);

  // Columns: widths in characters of the default font (1/256 resolution).
  double ColumnWidth(uint32_t col) const;
  bool HasColumnWidth(uint32_t col) const;
  Status SetColumnWidth(uint32_t col, double characters);

  // Frozen panes: the rows above and columns left of the split stay put.
  // A workbook's last row and column are those of its format
  // (Workbook::limits()).
  uint32_t frozenRows() const;
  uint32_t frozenColumns() const;
  Status FreezePanes(uint32_t rows, uint32_t cols);

  const std::vector<Range>& mergedRanges() const;
  Status AddMergedRange(const Range& r);

  // The cells that carry a comment (one-cell ranges), and the blocks that
  // carry a hyperlink, in the file's order.
  std::vector<Range> commentCells() const;
  std::vector<Range> hyperlinkRanges() const;
  // Removes what is attached to the cells of `r`: the comments on them, and
  // the hyperlinks and merged ranges that overlap it. Values and formats stay.
  // Fails, changing nothing, when a comment's drawing cannot be followed.
  Status RemoveAttached(const Range& r);

  Sheet(const Sheet&) = delete;
  Sheet& operator=(const Sheet&) = delete;
  ~Sheet();

 private:
  friend class Workbook;
  friend struct detail::WorkbookImpl;
  Sheet(detail::WorkbookImpl* wb, std::unique_ptr<detail::SheetModel> m);
  detail::WorkbookImpl* wb_;
  std::unique_ptr<detail::SheetModel> m_;
};

// Removes the temporary files that saves of the workbook at `path` left
// behind when their process ended before finishing (a crash, a kill). A save
// still being written by a live process is left alone. Load and Save do this
// themselves; others that read a workbook file call it when they open it.
void RemoveStaleSaveFiles(const std::string& path);

class Workbook {
 public:
  // An empty workbook without sheets (add at least one before saving).
  static Workbook New(FileFormat format = FileFormat::kXls);
  static Result<Workbook> Load(const std::string& path);
  // A workbook file in either format, told apart by its content.
  static Result<Workbook> Parse(std::span<const uint8_t> file, const LoadLimits& limits = {});

  // The format the workbook is saved in, and the size of its sheets.
  FileFormat format() const;
  const Limits& limits() const;

  // Writes a temporary file beside `path`, syncs it and renames it over
  // `path`, in the workbook's own format. A symbolic link is followed: the
  // file it names is replaced and the link stays.
  Status Save(const std::string& path) const;
  Result<std::vector<uint8_t>> Serialize() const;

  // A copy of the workbook in another format: sheets, cells, cell formats,
  // column widths, row heights, merged ranges, frozen panes, defined names
  // that name blocks of cells. What the other format cannot take over is
  // described in `notes` (formulas become their last values; comments,
  // hyperlinks, drawings and the like stay behind), one line each.
  Result<Workbook> ConvertedTo(FileFormat format, std::vector<std::string>* notes = nullptr) const;

  // Sheets in tab order.
  size_t sheetCount() const;
  Sheet& sheet(size_t index);
  const Sheet& sheet(size_t index) const;
  // Case-insensitive, as spreadsheet programs compare sheet names.
  std::optional<size_t> FindSheet(std::string_view name) const;
  // Adds a worksheet at `position` (default: after the last sheet).
  Result<size_t> AddSheet(std::string_view name, std::optional<size_t> position = {});
  // Defined names that point into the sheet become invalid references; the
  // sheet's own (sheet-level) names go with it.
  Status DeleteSheet(size_t index);
  Status RenameSheet(size_t index, std::string_view name);
  size_t activeSheet() const;
  Status SetActiveSheet(size_t index);

  // Defined names.
  size_t nameCount() const;
  DefinedName name(size_t index) const;
  // Case-insensitive. Without a scope only workbook-level names match.
  std::optional<size_t> FindName(std::string_view name, std::optional<size_t> scope = {}) const;
  // Defines (or redefines) `name` as an absolute reference to `area` of `sheet`.
  Status DefineName(std::string_view name, size_t sheet, const Range& area,
                    std::optional<size_t> scope = {});
  // Redefines the name at `index`, an absolute reference to a block of
  // `sheet` of this workbook, as `area` of the same sheet: what DefineName
  // does for it, without looking the name and the sheet up again (a table
  // that grows by a row at a time). Fails when the name refers to anything
  // else.
  Status MoveNameArea(size_t index, size_t sheet, const Range& area);
  Status DeleteName(size_t index);

  // The automatic filter of a worksheet (filter buttons on the first row of a
  // block of cells): the block, kept as the sheet's hidden built-in name
  // _FilterDatabase, and in the file what the format wants beside it (in an
  // .xls sheet the AUTOFILTERINFO record, in an .xlsx sheet <autoFilter>).
  // AutoFilter gives nothing for a sheet without one, or whose name refers to
  // anything but a block of cells of the sheet.
  std::optional<Range> AutoFilter(size_t sheet) const;
  // Sets (or moves) the filter over `area`; criteria of an earlier filter
  // over other cells go.
  Status SetAutoFilter(size_t sheet, const Range& area);
  // Removes the filter, its name and its criteria; nothing when there is none.
  Status RemoveAutoFilter(size_t sheet);

  // Formats.
  size_t fontCount() const;
  // Font by the index that cell formats use (index 4 does not exist in the format).
  std::optional<Font> font(uint16_t index) const;
  size_t formatCount() const;
  CellFormat format(uint16_t xf) const;
  std::string NumberFormatCode(uint16_t numberFormat) const;
  // True when the cell format shows numbers as dates or times.
  bool IsDateFormat(uint16_t xf) const;
  // A cell format like `xf` that shows numbers with the number format `code`
  // ("@", "0.00", "yyyy-mm-dd", ...): a built-in format or one the workbook
  // has is used, another one is added. Equal cell formats are shared.
  Result<uint16_t> CellFormatWithNumberFormat(uint16_t xf, std::string_view code);
  bool date1904() const;

  Workbook(Workbook&&) noexcept;
  Workbook& operator=(Workbook&&) noexcept;
  ~Workbook();

 private:
  Workbook();
  std::unique_ptr<detail::WorkbookImpl> impl_;
};

}  // namespace migrator::xls
