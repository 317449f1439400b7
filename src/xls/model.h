#pragma once
// The in-memory form of a workbook, shared by both file formats and the
// editing calls: sheets, rows, cells, column settings, merged ranges, panes
// and the text pool. What only one file format has (its records or parts,
// formula forms, cell formats and defined names as that format stores them)
// lives in the format's own part of the model, behind BookPart and SheetPart.

#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "xls/bytes.h"
#include "xls/output.h"
#include "xls/text_pool.h"
#include "xls/workbook.h"

namespace migrator::xls::detail {

// ---- cells ----

enum class CellKind : uint8_t { kBlank, kNumber, kText, kBool, kError, kFormula };

struct CellRec {
  union {
    double num = 0;  // kNumber
    uint32_t aux;    // kText: text index; kBool/kError: value; kFormula: formula index
  };
  uint16_t xf = 0;
  uint16_t col = 0;
  CellKind kind = CellKind::kBlank;
};
static_assert(sizeof(CellRec) == 16);

// Row option bits, laid out as the .xls ROW record lays them out.
constexpr uint16_t kRowOutlineMask = 0x0007;
constexpr uint16_t kRowCollapsed = 0x0010;
constexpr uint16_t kRowHidden = 0x0020;
constexpr uint16_t kRowCustomHeight = 0x0040;  // the height was set, not derived from the contents
constexpr uint16_t kRowHasFormat = 0x0080;     // `xf` is the row's format
// The row's format bits beside its index.
constexpr uint8_t kRowThickTop = 0x1;
constexpr uint8_t kRowThickBottom = 0x2;
constexpr uint8_t kRowPhonetic = 0x4;

struct RowRec {
  std::vector<CellRec> cells;  // sorted by column
  uint16_t height = 0;         // 1/20 point, when hasInfo
  uint16_t flags = 0x0100;     // kRow* option bits (and those a file had besides)
  uint16_t xf = 0;             // the row's own format, when flags has kRowHasFormat
  uint8_t low = 0;             // the row number's place in its block (RowTable)
  uint8_t hasInfo : 1 = 0;     // the row has settings worth keeping
  uint8_t xfBits : 4 = 0;      // kRowThick* and kRowPhonetic (and a reserved bit)
};
static_assert(sizeof(RowRec) == 32);

// Rows of a sheet: only rows that were touched exist. They are kept in blocks
// of 256 row numbers; a block holds just its touched rows, in order, so that
// memory follows the rows a sheet has, and an insertion moves at most one
// block's rows. A block whose rows have no gaps up to a row finds it directly.
// A row's reference stays valid until another row is created.
class RowTable {
 public:
  static constexpr uint32_t kBlockBits = 8;
  static constexpr uint32_t kBlock = 1u << kBlockBits;

  // One more than the highest row that was ever touched.
  uint32_t size() const { return size_; }
  // Rows that exist.
  size_t count() const { return count_; }
  const RowRec* Find(uint32_t r) const {
    const uint32_t bi = r >> kBlockBits;
    if (bi >= where_.size() || where_[bi] == 0) return nullptr;
    const std::vector<RowRec>& rows = blocks_[where_[bi] - 1].rows;
    const uint8_t low = static_cast<uint8_t>(r);
    if (low < rows.size() && rows[low].low == low) return &rows[low];
    auto it = std::lower_bound(rows.begin(), rows.end(), low,
                               [](const RowRec& x, uint8_t l) { return x.low < l; });
    return it != rows.end() && it->low == low ? &*it : nullptr;
  }
  RowRec* Find(uint32_t r) {
    return const_cast<RowRec*>(static_cast<const RowTable*>(this)->Find(r));
  }
  // The row, created when it does not exist.
  RowRec& At(uint32_t r);
  // Calls f(row, RowRec&) for every row that exists, in order.
  // The rows in order, one at a time: a cursor starts empty and moves on;
  // nullptr past the last row.
  struct Cursor {
    size_t block = 0, row = 0;
  };
  const RowRec* Next(Cursor& at, uint32_t& row) const {
    while (at.block < blocks_.size()) {
      const Block& b = blocks_[at.block];
      if (at.row < b.rows.size()) {
        const RowRec& r = b.rows[at.row++];
        row = b.index << kBlockBits | r.low;
        return &r;
      }
      ++at.block;
      at.row = 0;
    }
    return nullptr;
  }
  template <class F>
  void ForEach(F&& f) const {
    for (const Block& b : blocks_)
      for (const RowRec& x : b.rows)
        f(b.index << kBlockBits | x.low, x);
  }
  template <class F>
  void ForEach(F&& f) {
    for (Block& b : blocks_)
      for (RowRec& x : b.rows)
        f(b.index << kBlockBits | x.low, x);
  }

 private:
  struct Block {
    uint32_t index = 0;        // row number >> kBlockBits
    std::vector<RowRec> rows;  // by `low`
  };
  std::vector<Block> blocks_;    // by index
  std::vector<uint16_t> where_;  // block index -> position in blocks_ + 1; 0: none
  uint32_t size_ = 0;
  size_t count_ = 0;
};

// Column option bits, laid out as the .xls COLINFO record lays them out.
constexpr uint16_t kColHidden = 0x0001;
constexpr uint16_t kColCustomWidth = 0x0002;
constexpr uint16_t kColBestFit = 0x0004;
constexpr uint16_t kColPhonetic = 0x0008;
constexpr uint16_t kColOutlineMask = 0x0700;
constexpr uint16_t kColCollapsed = 0x1000;

struct ColInfo {
  float width = 0;  // characters of the default font; 1/256 steps in .xls files
  uint16_t xf = 0;
  uint16_t flags = 0;  // kCol* bits
  bool set = false;
};

// Column settings of a sheet, allocated when the first one is set. There is
// room for one column past the last one: writers often let the last column's
// setting reach it, and it is kept so that such a setting goes back unchanged.
class ColumnTable {
 public:
  explicit ColumnTable(size_t columns = kMaxColumns) : size_(columns + 1) {}
  size_t size() const { return size_; }
  bool any() const { return !cols_.empty(); }
  const ColInfo& operator[](size_t c) const {
    static const ColInfo kUnset{};
    return c < cols_.size() ? cols_[c] : kUnset;
  }
  ColInfo& Edit(size_t c) {
    if (cols_.empty()) cols_.resize(size_);
    return cols_[c];
  }

 private:
  size_t size_;
  std::vector<ColInfo> cols_;
};

// A pane split: frozen panes count rows and columns, split panes 1/20 points.
struct PaneRec {
  uint32_t x = 0, y = 0;            // columns left and rows above the split
  uint32_t rwTop = 0, colLeft = 0;  // the first row and column of the lower right pane
  uint8_t active = 3;               // 0 lower right, 1 upper right, 2 lower left, 3 upper left
  uint8_t unused = 0;
};

// ---- sheets ----

struct WorkbookImpl;
struct SheetModel;

// What a file format keeps for one sheet beside the shared model, and the
// calls that depend on it.
class SheetPart {
 public:
  virtual ~SheetPart() = default;
  virtual SheetType type() const = 0;
  // The last value of the formula with index `formula` (CellRec::aux).
  virtual Value FormulaValue(uint32_t formula) const = 0;
  // The formula as the file holds it: its tokens in an .xls file, its text
  // in an .xlsx file (the other is empty).
  virtual std::span<const uint8_t> FormulaTokens(uint32_t) const { return {}; }
  virtual std::string FormulaText(uint32_t) const { return {}; }
  // Before the formula cell at (row, col) changes or goes: formulas that
  // depend on it (a shared formula anchored there) are written out into
  // their own cells, or keep their last values.
  virtual Status ReleaseFormula(WorkbookImpl& wb, SheetModel& m, uint32_t row, uint32_t col,
                                const CellRec& cell) = 0;
  // After the value of a cell changed or went (only when SheetModel::cellHook).
  virtual void CellChanged(uint32_t, uint32_t) {}
  // The width of columns without a setting, in characters.
  virtual double DefaultColumnWidth() const = 0;
  // After the shared model gained column settings, panes or merged ranges:
  // the format makes room to write them.
  enum class Aspect : uint8_t { kColumns, kPanes, kMerges };
  virtual void Touched(Aspect) {}
  // Comments and hyperlinks (see Sheet::RemoveAttached).
  virtual std::vector<Range> CommentCells() const = 0;
  virtual std::vector<Range> HyperlinkRanges() const = 0;
  virtual Status RemoveAttached(const std::string& sheetName, const Range& r) = 0;
};

struct SheetModel {
  explicit SheetModel(const Limits& limits) : cols(limits.columns) {}

  std::u16string name;
  uint8_t visibility = 0;  // Visibility
  uint32_t tabId = 0;      // the sheet's id in the file
  bool modeled = false;    // worksheets; other sheets are kept as the file has them

  RowTable rows;
  ColumnTable cols;
  std::vector<Range> merges;
  std::vector<Range> arrays;  // array and table formula ranges: edited whole only
  uint16_t defaultRowHeight = 255;
  bool hasPane = false;
  bool frozen = false;  // the panes are frozen (not split)
  PaneRec pane;
  bool selectionsReplaced = false;  // the selections are written anew

  std::unique_ptr<SheetPart> part;
  bool cellHook = false;  // the part hears of every change of a cell (SheetPart::CellChanged)

  // Cached used range.
  mutable bool usedDirty = true;
  mutable bool usedEmpty = true;
  mutable Range used;
};

// ---- the workbook ----

// What a file format keeps for the whole workbook beside the shared model:
// cell formats, fonts and number formats, defined names, and whatever else
// the file held; and the calls that depend on it.
class BookPart {
 public:
  virtual ~BookPart() = default;

  // Cell formats.
  virtual size_t fontCount() const = 0;
  virtual std::optional<Font> font(uint16_t index) const = 0;
  virtual size_t formatCount() const = 0;
  virtual CellFormat format(uint16_t xf) const = 0;
  virtual std::string NumberFormatCode(uint16_t numberFormat) const = 0;
  virtual bool IsDateFormat(uint16_t xf) const = 0;
  virtual Result<uint16_t> CellFormatWithNumberFormat(uint16_t xf, std::string_view code) = 0;
  // The format of cells that have none of their own.
  virtual uint16_t DefaultXf() const = 0;
  // True when `xf` exists and can be a cell's format (not a style).
  virtual bool IsCellXf(uint16_t xf) const = 0;
  // Fails when the workbook lacks what formatting starts from.
  virtual Status CheckFormattable() const { return {}; }
  // The cell format like `xf` with the row formatting `f` applied; `lastCol`
  // for the cell of the sheet's last column.
  virtual Result<uint16_t> FormattedXf(uint16_t xf, const RowFormat& f, bool lastCol) = 0;
  // A cell format that looks like `f` with `font` and number format `code`,
  // for a workbook of the other format (the nearest this format can show).
  virtual Result<uint16_t> ImportXf(const CellFormat& f, const Font& font,
                                    std::string_view code) = 0;

  // Dates counted from 1904 instead of 1900 (WorkbookImpl::date1904).
  virtual void SetDate1904(bool on) = 0;

  // Defined names.
  virtual size_t nameCount() const = 0;
  virtual DefinedName name(size_t index) const = 0;
  // The name in UTF-8 and in UTF-16, both (callers converted it already).
  virtual std::optional<size_t> FindName(std::string_view name, std::u16string_view wide,
                                         std::optional<size_t> scope) const = 0;
  virtual Status DefineName(std::string_view name, std::u16string_view wide, size_t sheet,
                            const Range& area, std::optional<size_t> scope) = 0;
  virtual Status MoveNameArea(size_t index, size_t sheet, const Range& area) = 0;
  virtual Status DeleteName(size_t index) = 0;
  // The automatic filter of a sheet (Workbook::SetAutoFilter): its hidden
  // built-in name and the sheet's own records; none removes both.
  virtual Status SetAutoFilter(size_t sheet, const std::optional<Range>& area) = 0;

  // Sheets.
  virtual std::unique_ptr<SheetModel> NewSheet(std::u16string name) = 0;
  // Before a sheet goes in at `pos` (references by position move).
  virtual void SheetInserting(size_t pos) = 0;
  // Before the sheet at `index` goes: its own names go, references into it
  // become invalid.
  virtual Status SheetDeleting(size_t index) = 0;
  // After the sheet at `index` was renamed from `old`.
  virtual void SheetRenamed(size_t index, std::u16string_view old) = 0;

  // The file's bytes: what can be made before the file is opened (and fail
  // without one), then the file itself, right after.
  virtual Status Prepare() const { return {}; }
  virtual Status Write(Output& out) const = 0;
};

struct WorkbookImpl {
  explicit WorkbookImpl(FileFormat format = FileFormat::kXls)
      : fileFormat(format), limits(LimitsOf(format)) {}

  FileFormat fileFormat = FileFormat::kXls;
  Limits limits = kXlsLimits;
  std::unique_ptr<BookPart> book;

  SharedStrings sst;
  std::vector<std::unique_ptr<Sheet>> sheets;
  bool date1904 = false;
  uint16_t activeSheet = 0;
  bool selectionDirty = false;  // re-mark the active sheet's tab on save

  // Reused conversion buffers.
  std::u16string scratch;
  std::string narrowScratch;

  SheetModel& model(size_t i) { return *sheets[i]->m_; }
  const SheetModel& model(size_t i) const { return *sheets[i]->m_; }
  std::unique_ptr<Sheet> MakeSheet(std::unique_ptr<SheetModel> m) {
    return std::unique_ptr<Sheet>(new Sheet(this, std::move(m)));
  }
};

void SetCellRaw(SheetModel& s, uint32_t row, const CellRec& c);
// Makes `c` hold `v` (a formula's last value, a text added to the pool).
Status SetCellValue(WorkbookImpl& wb, CellRec& c, const Value& v);

// Which texts of the pool the cells use, equal plain texts merged: the order
// in which a save writes them and the new index of each entry.
struct StringUse {
  std::vector<uint32_t, BigAlloc<uint32_t>> remap;  // entry -> written index; empty: as they are
  std::vector<uint32_t, BigAlloc<uint32_t>> order;  // written index -> entry
  uint32_t total = 0;                               // text cells
  uint32_t Index(uint32_t entry) const { return remap.empty() ? entry : remap[entry]; }
};
StringUse CountStrings(const WorkbookImpl& wb);

// Number formats both file formats know by number, and what a code shows.
const char* BuiltinNumberFormat(uint16_t id);
bool IsBuiltinDateFormat(uint16_t id);
bool IsDateFormatCode(std::u16string_view code);

// The built-in name of a sheet's automatic filter, without a format's prefix.
inline constexpr std::string_view kFilterDatabaseName = "_FilterDatabase";

// Checks of names both formats share.
Status CheckDefinedName(std::u16string_view n);
bool ValidArea(const Range& area, const Limits& limits);

}  // namespace migrator::xls::detail
