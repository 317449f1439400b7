#pragma once
// What an .xls workbook keeps beside the shared model. Records the engine
// does not model are kept verbatim, in order, with "slots" marking where the
// modelled ones are written back.

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "xls/biff/cfb.h"
#include "xls/biff/records.h"
#include "xls/biff/strings.h"
#include "xls/model.h"

namespace migrator::xls::detail {

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

class BiffSheet : public SheetPart {
 public:
  uint8_t dt = 0;                // BOUNDSHEET sheet type
  std::vector<Record> verbatim;  // sheets that are not modelled, whole
  std::vector<SheetItem> items;
  std::vector<FormulaRec> formulas;

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

  SheetType type() const override;
  Value FormulaValue(uint32_t formula) const override;
  std::span<const uint8_t> FormulaTokens(uint32_t formula) const override;
  Status ReleaseFormula(WorkbookImpl& wb, SheetModel& m, uint32_t row, uint32_t col,
                        const CellRec& cell) override;
  double DefaultColumnWidth() const override;
  void Touched(Aspect a) override;
  std::vector<Range> CommentCells() const override;
  std::vector<Range> HyperlinkRanges() const override;
  Status RemoveAttached(const std::string& sheetName, const Range& r) override;
};

inline BiffSheet& Biff(SheetModel& m) {
  return static_cast<BiffSheet&>(*m.part);
}
inline const BiffSheet& Biff(const SheetModel& m) {
  return static_cast<const BiffSheet&>(*m.part);
}

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

class BiffBook : public BookPart {
 public:
  explicit BiffBook(WorkbookImpl& wb) : wb_(wb) {}

  cfb::CompoundFile container;  // other streams and storages, kept for saving
  long workbookEntry = -1;      // the Workbook stream's entry in `container`

  std::vector<GlobalItem> globals;
  std::vector<Bytes> fonts;  // FONT record data
  std::vector<FormatRec> formats;
  std::vector<std::array<uint8_t, 20>> xfs;
  std::vector<Xti> xtis;
  std::vector<NameRec> names;

  // The workbook stream of the last save, kept for the next one: a stream
  // the size of the workbook costs a fresh page fault per 4 KB otherwise.
  // Saves of one workbook never run at the same time.
  mutable OutBytes saveBuffer;

  size_t FindGlobal(GlobalSlot k) const {
    for (size_t i = 0; i < globals.size(); ++i)
      if (globals[i].kind == k) return i;
    return static_cast<size_t>(-1);
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

  // BookPart.
  size_t fontCount() const override;
  std::optional<Font> font(uint16_t index) const override;
  size_t formatCount() const override;
  CellFormat format(uint16_t xf) const override;
  std::string NumberFormatCode(uint16_t numberFormat) const override;
  bool IsDateFormat(uint16_t xf) const override;
  Result<uint16_t> CellFormatWithNumberFormat(uint16_t xf, std::string_view code) override;
  uint16_t DefaultXf() const override { return 15; }
  bool IsCellXf(uint16_t xf) const override;
  Status CheckFormattable() const override;
  Result<uint16_t> FormattedXf(uint16_t xf, const RowFormat& f, bool lastCol) override;
  Result<uint16_t> ImportXf(const CellFormat& f, const Font& font, std::string_view code) override;

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
  void SheetRenamed(size_t, std::u16string_view) override {}

  Status Prepare() const override;
  Status Write(Output& out) const override;

 private:
  Result<uint16_t> NumberFormatId(std::string_view code);
  WorkbookImpl& wb_;
};

inline BiffBook& Biff(WorkbookImpl& wb) {
  return static_cast<BiffBook&>(*wb.book);
}
inline const BiffBook& Biff(const WorkbookImpl& wb) {
  return static_cast<const BiffBook&>(*wb.book);
}

// The .xls format's own sheet size.
constexpr uint32_t kBiffColumns = kXlsLimits.columns;

// Reading and writing (reader.cpp, writer.cpp).
Status ParseWorkbookStream(std::span<const uint8_t> stream, WorkbookImpl& wb,
                           const LoadLimits& limits);
// Into `out`, emptied first (its memory is reused).
Status WriteWorkbookStream(const WorkbookImpl& wb, OutBytes& out);
void InitNewWorkbook(WorkbookImpl& wb);
std::unique_ptr<SheetModel> NewSheetModel(std::u16string name);

// A workbook read from a compound file, and a new one.
Result<std::unique_ptr<WorkbookImpl>> ParseBiff(std::span<const uint8_t> file,
                                                const LoadLimits& limits);
std::unique_ptr<WorkbookImpl> NewBiffWorkbook();

// Decoded FONT and XF.
Font DecodeFont(const Bytes& data);
CellFormat DecodeXf(const std::array<uint8_t, 20>& xf);

}  // namespace migrator::xls::detail
