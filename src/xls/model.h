#pragma once
// The in-memory form of a workbook, shared by the reader, the writer and the
// editing calls. Records the engine does not model are kept verbatim, in
// order, with "slots" marking where the modelled ones are written back.

#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "xls/biff/cfb.h"
#include "xls/biff/records.h"
#include "xls/biff/strings.h"
#include "xls/workbook.h"

namespace migrator::xls::detail {

// ---- cells ----

enum class CellKind : uint8_t { kBlank, kNumber, kText, kBool, kError, kFormula };

struct CellRec {
  double num = 0;    // kNumber
  uint32_t aux = 0;  // kText: string index; kBool/kError: value; kFormula: formula index
  uint16_t xf = 15;
  uint8_t col = 0;
  CellKind kind = CellKind::kBlank;
};
static_assert(sizeof(CellRec) == 16);

struct RowRec {
  std::vector<CellRec> cells;  // sorted by column
  uint16_t height = 0;         // 1/20 point, when hasInfo
  uint16_t flags = 0x0100;     // ROW record option flags
  uint16_t xfWord = 0x000F;    // the row's format index and its extra flags
  bool hasInfo = false;        // the row has a ROW record worth keeping
  uint8_t low = 0;             // the row number's place in its block (RowTable)
};
static_assert(sizeof(RowRec) == 32);

// A formula cell: the FORMULA record from its cached value on, and the
// records that belong to it (SHRFMLA, ARRAY, TABLE, STRING, CONTINUE).
struct FormulaRec {
  Bytes body;  // value(8) flags(2) chn(4) cce(2) rgce extra
  std::vector<Record> attached;
  std::span<const uint8_t> rgce() const {
    if (body.size() < 16) return {};
    size_t cce = Get16(body.data() + 14);
    if (16 + cce > body.size()) return {};
    return {body.data() + 16, cce};
  }
  const Record* Find(uint16_t type) const {
    for (const auto& r : attached)
      if (r.type == type) return &r;
    return nullptr;
  }
};

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

struct ColInfo {
  uint16_t width = 0;  // 1/256 character
  uint16_t xf = 15;
  uint16_t flags = 0;
  bool set = false;
};

// Column settings of a sheet, allocated when the first one is set. Column 256
// does not exist, but writers often let the last COLINFO reach it; it is kept
// so that such a record goes back unchanged.
class ColumnTable {
 public:
  static constexpr size_t kSize = 257;
  size_t size() const { return kSize; }
  bool any() const { return cols_ != nullptr; }
  const ColInfo& operator[](size_t c) const {
    static const ColInfo kUnset{};
    return cols_ ? (*cols_)[c] : kUnset;
  }
  ColInfo& Edit(size_t c) {
    if (!cols_) cols_ = std::make_unique<std::array<ColInfo, kSize>>();
    return (*cols_)[c];
  }

 private:
  std::unique_ptr<std::array<ColInfo, kSize>> cols_;
};

struct PaneRec {
  uint16_t x = 0, y = 0, rwTop = 0, colLeft = 0;
  uint8_t active = 3;
  uint8_t unused = 0;
};

// ---- sheets ----

enum class SlotKind : uint8_t {
  kRaw,
  kIndex,      // INDEX, rebuilt
  kColInfo,    // COLINFO records
  kCells,      // DIMENSIONS and the cell table (ROW, cells, DBCELL)
  kWindow2,    // WINDOW2, kept but with its flags kept up to date
  kPane,       // PANE
  kSelection,  // SELECTION, kept unless panes are re-frozen
  kMerged,     // MERGEDCELLS
};

struct SheetItem {
  SlotKind kind = SlotKind::kRaw;
  Record rec;
};

struct SheetModel {
  std::u16string name;
  uint8_t visibility = 0;  // BOUNDSHEET hsState
  uint8_t dt = 0;          // BOUNDSHEET sheet type
  uint16_t tabId = 0;
  bool modeled = false;  // worksheets; other substreams are kept verbatim
  std::vector<Record> verbatim;
  std::vector<SheetItem> items;

  RowTable rows;
  ColumnTable cols;
  std::vector<Range> merges;
  std::vector<FormulaRec> formulas;
  std::vector<Range> arrays;  // array and table formula ranges: edited whole only
  uint16_t defaultRowHeight = 255;
  bool hasPane = false;
  bool frozen = false;  // WINDOW2 says the panes are frozen
  PaneRec pane;
  bool selectionsReplaced = false;  // SELECTION records are regenerated

  // Cached used range.
  mutable bool usedDirty = true;
  mutable bool usedEmpty = true;
  mutable Range used;

  size_t FindSlot(SlotKind k) const {
    for (size_t i = 0; i < items.size(); ++i)
      if (items[i].kind == k) return i;
    return static_cast<size_t>(-1);
  }
  Bytes* Window2() {
    size_t i = FindSlot(SlotKind::kWindow2);
    return i == static_cast<size_t>(-1) ? nullptr : &items[i].rec.data;
  }
  const Bytes* Window2() const {
    size_t i = FindSlot(SlotKind::kWindow2);
    return i == static_cast<size_t>(-1) ? nullptr : &items[i].rec.data;
  }
};

// ---- workbook globals ----

enum class GlobalSlot : uint8_t {
  kRaw,
  kFonts,
  kFormats,
  kXfs,
  kSheets,       // BOUNDSHEET records
  kSupBookSelf,  // the SUPBOOK of this workbook's own sheets (sheet count kept up to date)
  kExternSheet,
  kNames,
  kSst,  // SST and EXTSST
  kTabId,
  kWindow1,
};

struct GlobalItem {
  GlobalSlot kind = GlobalSlot::kRaw;
  Record rec;
};

struct FormatRec {
  uint16_t id = 0;
  std::u16string code;
};

struct Xti {
  uint16_t supBook = 0;
  uint16_t first = 0;
  uint16_t last = 0;
};
constexpr uint16_t kXtiDeleted = 0xFFFF;

struct NameRec {
  uint16_t flags = 0;
  uint8_t key = 0;
  uint16_t reserved = 0;
  uint16_t itab = 0;                 // 0 = workbook, else 1-based sheet
  std::array<uint8_t, 4> lengths{};  // menu, description, help, status text lengths
  std::u16string name;               // for built-in names: one character, the code
  Bytes rgce;
  Bytes tail;  // extra formula data and the optional texts
  bool builtin() const { return flags & 0x0020; }
  bool hidden() const { return flags & 0x0001; }
};

struct WorkbookImpl {
  cfb::CompoundFile container;  // other streams and storages, kept for saving
  long workbookEntry = -1;      // the Workbook stream's entry in `container`

  std::vector<GlobalItem> globals;
  std::vector<Bytes> fonts;  // FONT record data
  std::vector<FormatRec> formats;
  std::vector<std::array<uint8_t, 20>> xfs;
  std::vector<Xti> xtis;
  std::vector<NameRec> names;
  SharedStrings sst;
  std::vector<std::unique_ptr<Sheet>> sheets;
  bool date1904 = false;
  uint16_t activeSheet = 0;
  bool selectionDirty = false;  // re-mark the active sheet's tab on save

  std::u16string scratch;  // reused conversion buffer
  // The workbook stream of the last save, kept for the next one: a stream
  // the size of the workbook costs a fresh page fault per 4 KB otherwise.
  // Saves of one workbook never run at the same time.
  mutable OutBytes saveBuffer;

  size_t FindGlobal(GlobalSlot k) const {
    for (size_t i = 0; i < globals.size(); ++i)
      if (globals[i].kind == k) return i;
    return static_cast<size_t>(-1);
  }
  SheetModel& model(size_t i) { return *sheets[i]->m_; }
  const SheetModel& model(size_t i) const { return *sheets[i]->m_; }
  std::unique_ptr<Sheet> MakeSheet(std::unique_ptr<SheetModel> m) {
    return std::unique_ptr<Sheet>(new Sheet(this, std::move(m)));
  }
  // The index of the SUPBOOK for the workbook's own sheets, creating it and the
  // EXTERNSHEET when missing.
  uint16_t SelfSupBookIndex(bool create);
  // Finds or adds the XTI for one sheet of this workbook.
  uint16_t XtiForSheet(size_t sheet);
  // Where a new global slot goes, in the order spreadsheet programs write.
  size_t InsertGlobalSlot(GlobalSlot k);
  // Formats.
  uint16_t AddFont(const Bytes& data);
  Result<uint16_t> FindOrAddXf(const std::array<uint8_t, 20>& xf);
  std::string NameText(const NameRec& n) const;
};

// Reading and writing (reader.cpp, writer.cpp).
Status ParseWorkbookStream(std::span<const uint8_t> stream, WorkbookImpl& wb,
                           const LoadLimits& limits);
// Into `out`, emptied first (its memory is reused).
Status WriteWorkbookStream(const WorkbookImpl& wb, OutBytes& out);
void InitNewWorkbook(WorkbookImpl& wb);
std::unique_ptr<SheetModel> NewSheetModel(std::u16string name);
void SetCellRaw(SheetModel& s, uint32_t row, const CellRec& c);

// Decoded FONT and XF (workbook.cpp).
Font DecodeFont(const Bytes& data);
CellFormat DecodeXf(const std::array<uint8_t, 20>& xf);

}  // namespace migrator::xls::detail
