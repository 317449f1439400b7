// The sheet-level calls: cells, rows, columns, panes and merged ranges.

#include <algorithm>
#include <cmath>
#include <unordered_map>

#include "xls/model.h"
#include "xls/unicode.h"
#include "xls/workbook.h"

namespace migrator::xls {

namespace detail {

RowRec& RowTable::At(uint32_t r) {
  const uint32_t bi = r >> kBlockBits;
  const uint8_t low = static_cast<uint8_t>(r);
  if (bi >= where_.size()) where_.resize(bi + 1, 0);
  if (where_[bi] == 0) {
    auto at = std::lower_bound(blocks_.begin(), blocks_.end(), bi,
                               [](const Block& b, uint32_t i) { return b.index < i; });
    at = blocks_.insert(at, Block{bi, {}});
    // A block after a full one will most likely fill up too.
    if (at != blocks_.begin() && std::prev(at)->index + 1 == bi &&
        std::prev(at)->rows.size() == kBlock)
      at->rows.reserve(kBlock);
    for (auto b = at; b != blocks_.end(); ++b)
      where_[b->index] = static_cast<uint16_t>(b - blocks_.begin() + 1);
  }
  std::vector<RowRec>& rows = blocks_[where_[bi] - 1].rows;
  // Rows mostly come in order: the last one again, or a new one after it.
  auto it = rows.end();
  if (!rows.empty() && rows.back().low >= low) {
    if (rows.back().low == low) return rows.back();
    if (low < rows.size() && rows[low].low == low) return rows[low];
    it = std::lower_bound(rows.begin(), rows.end(), low,
                          [](const RowRec& x, uint8_t l) { return x.low < l; });
    if (it->low == low) return *it;
  }
  it = rows.insert(it, RowRec{});
  it->low = low;
  ++count_;
  if (r >= size_) size_ = r + 1;
  return *it;
}

// SetCellRaw into the row's record (rows.At(row)).
void SetCellIn(SheetModel& s, RowRec& rr, uint32_t row, const CellRec& c) {
  auto& cells = rr.cells;
  if (cells.empty() || cells.back().col < c.col) {
    cells.push_back(c);
  } else {
    auto it = std::lower_bound(cells.begin(), cells.end(), c.col,
                               [](const CellRec& a, uint16_t col) { return a.col < col; });
    if (it != cells.end() && it->col == c.col)
      *it = c;
    else
      cells.insert(it, c);
  }
  if (!s.usedDirty) {
    if (s.usedEmpty) {
      s.used = {row, c.col, row, c.col};
      s.usedEmpty = false;
    } else {
      s.used.firstRow = std::min(s.used.firstRow, row);
      s.used.lastRow = std::max(s.used.lastRow, row);
      s.used.firstCol = std::min<uint32_t>(s.used.firstCol, c.col);
      s.used.lastCol = std::max<uint32_t>(s.used.lastCol, c.col);
    }
  }
}

void SetCellRaw(SheetModel& s, uint32_t row, const CellRec& c) {
  SetCellIn(s, s.rows.At(row), row, c);
}

Status SetCellValue(WorkbookImpl& wb, CellRec& c, const Value& v) {
  switch (v.kind) {
    case Value::Kind::kNumber:
      c.kind = CellKind::kNumber;
      c.num = v.number;
      break;
    case Value::Kind::kBoolean:
      c.kind = CellKind::kBool;
      c.aux = v.boolean;
      break;
    case Value::Kind::kError:
      c.kind = CellKind::kError;
      c.aux = v.error;
      break;
    case Value::Kind::kText: {
      std::u16string t;
      Utf8ToUtf16(v.text, t);
      auto idx = wb.sst.Add(t);
      if (!idx) return idx.error();
      c.kind = CellKind::kText;
      c.aux = *idx;
      break;
    }
    default:
      c.kind = CellKind::kBlank;
      break;
  }
  return {};
}

}  // namespace detail

using detail::CellKind;
using detail::CellRec;
using detail::SheetModel;
using detail::SheetPart;
using detail::WorkbookImpl;

namespace {

constexpr size_t kNpos = static_cast<size_t>(-1);

const CellRec* FindCell(const SheetModel& m, uint32_t row, uint32_t col) {
  const detail::RowRec* rr = m.rows.Find(row);
  if (!rr) return nullptr;
  const auto& cells = rr->cells;
  auto it = std::lower_bound(cells.begin(), cells.end(), col,
                             [](const CellRec& a, uint32_t c) { return a.col < c; });
  if (it == cells.end() || it->col != col) return nullptr;
  return &*it;
}

CellRec* FindCell(SheetModel& m, uint32_t row, uint32_t col) {
  return const_cast<CellRec*>(FindCell(static_cast<const SheetModel&>(m), row, col));
}

std::string Where(uint32_t row, uint32_t col) {
  return CellName(row, col);
}

// 1048576 as "1,048,576".
std::string Grouped(uint64_t n) {
  std::string s = std::to_string(n);
  for (size_t i = s.size(); i > 3; i -= 3)
    s.insert(i - 3, 1, ',');
  return s;
}

// Why a cell cannot be set; kept out of the way of the calls that can.
[[gnu::noinline, gnu::cold]] Status CellRefusal(const WorkbookImpl& wb, const SheetModel& m,
                                                uint32_t row, uint32_t col) {
  if (!m.modeled)
    return Fail("sheet " + Utf16ToUtf8(m.name) + " is not a worksheet; it has no cells");
  if (row >= wb.limits.rows)
    return Fail("row " + std::to_string(static_cast<uint64_t>(row) + 1) +
                " is beyond the last row of a sheet (" + Grouped(wb.limits.rows) + ")");
  return Fail("column " + std::to_string(static_cast<uint64_t>(col) + 1) +
              " is beyond the last column of a sheet (" + Grouped(wb.limits.columns) + ", " +
              ColumnName(wb.limits.columns - 1) + ")");
}

[[gnu::noinline, gnu::cold]] Status TooLong(uint32_t row, uint32_t col, size_t length) {
  return Fail("cell " + Where(row, col) + ": a text of " + std::to_string(length) +
              " characters is longer than a cell holds (32,767)");
}

inline Status CheckCell(const WorkbookImpl& wb, const SheetModel& m, uint32_t row, uint32_t col) {
  if (m.modeled && row < wb.limits.rows && col < wb.limits.columns) [[likely]]
    return {};
  return CellRefusal(wb, m, row, col);
}

uint16_t DefaultXf(const WorkbookImpl& wb, const SheetModel& m, const detail::RowRec* rr,
                   uint32_t col) {
  const uint16_t fallback = wb.book->DefaultXf();
  uint16_t xf = fallback;
  if (rr && rr->hasInfo && (rr->flags & detail::kRowHasFormat))
    xf = rr->xf;
  else if (m.cols[col].set)
    xf = m.cols[col].xf;
  if (xf == 0) return 0;  // the first format, or none when there are none
  const size_t formats = wb.book->formatCount();
  if (xf >= formats) xf = formats > fallback ? fallback : 0;
  return xf;
}

Status CheckArrays(const SheetModel& m, uint32_t row, uint32_t col) {
  for (const Range& a : m.arrays)
    if (a.Contains(row, col))
      return Fail("cell " + Where(row, col) + " is part of the array formula in " + RangeName(a) +
                  "; only the whole array can be changed");
  return {};
}

Status Put(WorkbookImpl& wb, SheetModel& m, uint32_t row, uint32_t col, CellRec c) {
  if (auto st = CheckCell(wb, m, row, col); !st) return st;
  if (!m.arrays.empty())
    if (auto st = CheckArrays(m, row, col); !st) return st;
  // A cell after the last one of its row (rows filled left to right) is new.
  detail::RowRec* rr = m.rows.Find(row);
  const bool appended = rr && (rr->cells.empty() || rr->cells.back().col < col);
  if (CellRec* old = appended ? nullptr : FindCell(m, row, col)) {
    CellRec prev = *old;
    if (prev.kind == CellKind::kFormula)
      if (auto st = m.part->ReleaseFormula(wb, m, row, col, prev); !st) return st;
    c.xf = prev.xf;
    c.col = static_cast<uint16_t>(col);
    detail::SetCellRaw(m, row, c);
  } else {
    c.xf = DefaultXf(wb, m, rr, col);
    // Rows of a table tend to span the columns of the row above: room for
    // them, empty cells (NULLs) included, so that a row fuller than the one
    // above is not given twice the room it needs; a sparse row above gives at
    // most twice its cells.
    if (!rr) rr = &m.rows.At(row);
    if (rr->cells.empty() && row > 0) {
      const detail::RowRec* above = m.rows.Find(row - 1);
      if (above && above->cells.size() > 1) {
        const size_t span = above->cells.back().col - above->cells.front().col + 1u;
        rr->cells.reserve(std::min(span, 2 * above->cells.size()));
      }
    }
    c.col = static_cast<uint16_t>(col);
    detail::SetCellIn(m, *rr, row, c);
  }
  if (m.cellHook) m.part->CellChanged(row, col);
  return {};
}

size_t IndexOf(const WorkbookImpl& wb, const SheetModel* m) {
  for (size_t i = 0; i < wb.sheets.size(); ++i)
    if (&wb.model(i) == m) return i;
  return kNpos;
}

void RecomputeUsed(const SheetModel& m) {
  m.usedEmpty = true;
  m.rows.ForEach([&](uint32_t r, const detail::RowRec& row) {
    const auto& cells = row.cells;
    if (cells.empty()) return;
    if (m.usedEmpty) {
      m.used = {r, cells.front().col, r, cells.back().col};
      m.usedEmpty = false;
    } else {
      m.used.lastRow = r;
      m.used.firstCol = std::min<uint32_t>(m.used.firstCol, cells.front().col);
      m.used.lastCol = std::max<uint32_t>(m.used.lastCol, cells.back().col);
    }
  });
  m.usedDirty = false;
}

}  // namespace

Sheet::Sheet(WorkbookImpl* wb, std::unique_ptr<SheetModel> m) : wb_(wb), m_(std::move(m)) {}
Sheet::~Sheet() = default;

std::string Sheet::name() const {
  return Utf16ToUtf8(m_->name);
}

SheetType Sheet::type() const {
  return m_->part->type();
}

bool Sheet::isWorksheet() const {
  return m_->modeled;
}

Visibility Sheet::visibility() const {
  return static_cast<Visibility>(std::min<uint8_t>(m_->visibility, 2));
}

Status Sheet::SetVisibility(Visibility v) {
  WorkbookImpl& wb = *wb_;
  size_t self = IndexOf(wb, m_.get());
  if (v != Visibility::kVisible) {
    size_t other = kNpos;
    for (size_t i = 0; i < wb.sheets.size(); ++i)
      if (i != self && wb.model(i).visibility == 0) {
        other = i;
        break;
      }
    if (other == kNpos) return Fail("a workbook must keep at least one visible sheet");
    if (wb.activeSheet == self) {
      wb.activeSheet = static_cast<uint16_t>(other);
      wb.selectionDirty = true;
    }
  }
  m_->visibility = static_cast<uint8_t>(v);
  return {};
}

Cell Sheet::GetCell(uint32_t row, uint32_t col) const {
  Cell out;
  if (!m_->modeled) return out;
  const CellRec* c = FindCell(*m_, row, col);
  if (!c) return out;
  out.exists = true;
  out.xf = c->xf;
  switch (c->kind) {
    case CellKind::kBlank:
      break;
    case CellKind::kNumber:
      out.value = Value::Number(c->num);
      break;
    case CellKind::kText:
      out.value = Value::Text(wb_->sst.Text(c->aux).Utf8());
      break;
    case CellKind::kBool:
      out.value = Value::Boolean(c->aux != 0);
      break;
    case CellKind::kError:
      out.value.kind = Value::Kind::kError;
      out.value.error = static_cast<uint8_t>(c->aux);
      break;
    case CellKind::kFormula:
      out.formula = true;
      out.value = m_->part->FormulaValue(c->aux);
      break;
  }
  return out;
}

std::span<const uint8_t> Sheet::FormulaTokens(uint32_t row, uint32_t col) const {
  if (!m_->modeled) return {};
  const CellRec* c = FindCell(*m_, row, col);
  if (!c || c->kind != CellKind::kFormula) return {};
  return m_->part->FormulaTokens(c->aux);
}

std::string Sheet::FormulaText(uint32_t row, uint32_t col) const {
  if (!m_->modeled) return {};
  const CellRec* c = FindCell(*m_, row, col);
  if (!c || c->kind != CellKind::kFormula) return {};
  return m_->part->FormulaText(c->aux);
}

Status Sheet::SetNumber(uint32_t row, uint32_t col, double v) {
  if (!std::isfinite(v))
    return Fail("cell " + Where(row, col) + ": a cell cannot hold an infinite or undefined number");
  CellRec c;
  c.kind = CellKind::kNumber;
  c.num = v;
  return Put(*wb_, *m_, row, col, c);
}

Status Sheet::SetText(uint32_t row, uint32_t col, std::string_view utf8) {
  if (auto st = CheckCell(*wb_, *m_, row, col); !st) return st;
  // An .xlsx save writes each text in its cell, and nothing merges equal
  // texts there: they are shared as they come. (An .xls save merges them
  // in its string table.)
  const bool shared = wb_->fileFormat == FileFormat::kXlsx;
  Result<uint32_t> idx = 0u;
  // Most texts are ASCII or Latin-1: they go into the pool one byte a
  // character without a UTF-16 copy.
  if (const auto narrow = Utf8AsLatin1(utf8, wb_->narrowScratch)) {
    if (narrow->size() > kMaxTextLength) return TooLong(row, col, narrow->size());
    if (!m_->arrays.empty())
      if (auto st = CheckArrays(*m_, row, col); !st) return st;
    idx = shared ? wb_->sst.AddSharedNarrow(*narrow) : wb_->sst.AddNarrow(*narrow);
  } else {
    std::u16string& t = wb_->scratch;
    size_t bad = 0;
    if (!Utf8ToUtf16(utf8, t, &bad))
      return Fail("cell " + Where(row, col) + ": the text is not valid UTF-8 (at byte " +
                  std::to_string(bad) + ")");
    if (t.size() > kMaxTextLength) return TooLong(row, col, t.size());
    if (!m_->arrays.empty())
      if (auto st = CheckArrays(*m_, row, col); !st) return st;
    idx = shared ? wb_->sst.AddShared(t) : wb_->sst.Add(t);
  }
  if (!idx) return idx.error();
  CellRec c;
  c.kind = CellKind::kText;
  c.aux = *idx;
  return Put(*wb_, *m_, row, col, c);
}

Status Sheet::SetBoolean(uint32_t row, uint32_t col, bool v) {
  CellRec c;
  c.kind = CellKind::kBool;
  c.aux = v ? 1 : 0;
  return Put(*wb_, *m_, row, col, c);
}

Status Sheet::SetError(uint32_t row, uint32_t col, ErrorCode e) {
  CellRec c;
  c.kind = CellKind::kError;
  c.aux = static_cast<uint8_t>(e);
  return Put(*wb_, *m_, row, col, c);
}

Status Sheet::SetValue(uint32_t row, uint32_t col, const Value& v) {
  switch (v.kind) {
    case Value::Kind::kEmpty:
      return Clear(row, col);
    case Value::Kind::kNumber:
      return SetNumber(row, col, v.number);
    case Value::Kind::kText:
      return SetText(row, col, v.text);
    case Value::Kind::kBoolean:
      return SetBoolean(row, col, v.boolean);
    case Value::Kind::kError:
      return SetError(row, col, static_cast<ErrorCode>(v.error));
  }
  return {};
}

Status Sheet::SetBlank(uint32_t row, uint32_t col) {
  CellRec c;
  c.kind = CellKind::kBlank;
  return Put(*wb_, *m_, row, col, c);
}

Status Sheet::Clear(uint32_t row, uint32_t col) {
  if (auto st = CheckCell(*wb_, *m_, row, col); !st) return st;
  CellRec* old = FindCell(*m_, row, col);
  if (!old) return {};
  if (auto st = CheckArrays(*m_, row, col); !st) return st;
  CellRec prev = *old;
  if (prev.kind == CellKind::kFormula)
    if (auto st = m_->part->ReleaseFormula(*wb_, *m_, row, col, prev); !st) return st;
  auto& cells = m_->rows.Find(row)->cells;
  cells.erase(
      std::find_if(cells.begin(), cells.end(), [&](const CellRec& c) { return c.col == col; }));
  m_->usedDirty = true;
  if (m_->cellHook) m_->part->CellChanged(row, col);
  return {};
}

Status Sheet::SetCellFormat(uint32_t row, uint32_t col, uint16_t xf) {
  if (auto st = CheckCell(*wb_, *m_, row, col); !st) return st;
  if (xf >= wb_->book->formatCount()) return Fail("there is no cell format " + std::to_string(xf));
  if (!wb_->book->IsCellXf(xf))
    return Fail("cell format " + std::to_string(xf) + " is a style, not a cell format");
  if (CellRec* c = FindCell(*m_, row, col)) {
    c->xf = xf;
    return {};
  }
  CellRec c;
  c.kind = CellKind::kBlank;
  c.xf = xf;
  c.col = static_cast<uint16_t>(col);
  detail::SetCellRaw(*m_, row, c);
  return {};
}

std::optional<Range> Sheet::UsedRange() const {
  if (!m_->modeled) return std::nullopt;
  if (m_->usedDirty) RecomputeUsed(*m_);
  if (m_->usedEmpty) return std::nullopt;
  return m_->used;
}

uint16_t Sheet::RowHeight(uint32_t row) const {
  const detail::RowRec* rr = m_->rows.Find(row);
  if (rr && rr->hasInfo) return rr->height & 0x7FFF;
  return m_->defaultRowHeight;
}

namespace {
detail::RowRec& RowInfo(const WorkbookImpl& wb, SheetModel& m, uint32_t row) {
  detail::RowRec& r = m.rows.At(row);
  if (!r.hasInfo) {
    r.hasInfo = true;
    r.height = m.defaultRowHeight;
    r.flags = 0x0100;
    r.xf = wb.book->DefaultXf();
    r.xfBits = 0;
  }
  return r;
}
}  // namespace

Status Sheet::SetRowHeight(uint32_t row, uint16_t twips) {
  if (auto st = CheckCell(*wb_, *m_, row, 0); !st) return st;
  if (twips > 8192) return Fail("a row cannot be higher than 409 points");
  detail::RowRec& r = RowInfo(*wb_, *m_, row);
  r.height = twips;
  r.flags |= detail::kRowCustomHeight;  // the height was set, not derived from the contents
  return {};
}

std::optional<uint16_t> Sheet::RowFormatIndex(uint32_t row) const {
  const detail::RowRec* rr = m_->rows.Find(row);
  if (rr && rr->hasInfo && (rr->flags & detail::kRowHasFormat)) return rr->xf;
  return std::nullopt;
}

Status Sheet::FormatRow(uint32_t row, const RowFormat& f) {
  if (auto st = CheckCell(*wb_, *m_, row, 0); !st) return st;
  WorkbookImpl& wb = *wb_;
  if (auto st = wb.book->CheckFormattable(); !st) return st;
  // Each format the row's cells have is derived once.
  std::unordered_map<uint32_t, uint16_t> done;
  auto derive = [&](uint16_t xf, bool lastCol) -> Result<uint16_t> {
    uint32_t key = (static_cast<uint32_t>(xf) << 1) | (lastCol ? 1 : 0);
    if (auto it = done.find(key); it != done.end()) return it->second;
    auto r = wb.book->FormattedXf(xf, f, lastCol);
    if (!r) return r;
    done[key] = *r;
    return *r;
  };
  const detail::RowRec* had = m_->rows.Find(row);
  uint16_t base =
      had && had->hasInfo && (had->flags & detail::kRowHasFormat) ? had->xf : wb.book->DefaultXf();
  detail::RowRec& rr = RowInfo(wb, *m_, row);
  auto rowXf = derive(base, false);
  if (!rowXf) return rowXf.error();
  for (auto& cell : rr.cells) {
    auto x = derive(cell.xf, cell.col == wb.limits.columns - 1);
    if (!x) return x.error();
    cell.xf = *x;
  }
  rr.flags |= detail::kRowHasFormat;
  rr.xf = *rowXf;
  return {};
}

double Sheet::ColumnWidth(uint32_t col) const {
  if (col >= wb_->limits.columns) return 0;
  if (m_->cols[col].set) return m_->cols[col].width;
  return m_->part ? m_->part->DefaultColumnWidth() : 8;
}

bool Sheet::HasColumnWidth(uint32_t col) const {
  return col < wb_->limits.columns && m_->cols[col].set;
}

Status Sheet::SetColumnWidth(uint32_t col, double characters) {
  if (auto st = CheckCell(*wb_, *m_, 0, col); !st) return st;
  if (!(characters >= 0 && characters <= 255))
    return Fail("a column width must be between 0 and 255 characters");
  detail::ColInfo& ci = m_->cols.Edit(col);
  if (!ci.set) {
    ci = detail::ColInfo{};
    ci.xf = wb_->book->DefaultXf();
    ci.set = true;
  }
  // In steps of 1/256 character, as spreadsheet programs keep widths.
  ci.width = static_cast<float>(std::lround(characters * 256)) / 256.0f;
  ci.flags = static_cast<uint16_t>((ci.flags & ~detail::kColHidden) | detail::kColCustomWidth |
                                   (ci.width == 0 ? detail::kColHidden : 0));
  const uint32_t last = wb_->limits.columns - 1;
  if (col == last && m_->cols[last + 1].set) m_->cols.Edit(last + 1) = ci;
  m_->part->Touched(SheetPart::Aspect::kColumns);
  return {};
}

uint32_t Sheet::frozenRows() const {
  return m_->hasPane && m_->frozen ? m_->pane.y : 0;
}
uint32_t Sheet::frozenColumns() const {
  return m_->hasPane && m_->frozen ? m_->pane.x : 0;
}

Status Sheet::FreezePanes(uint32_t rows, uint32_t cols) {
  if (!m_->modeled) return Fail("sheet " + name() + " is not a worksheet");
  if (rows >= wb_->limits.rows || cols >= wb_->limits.columns)
    return Fail("the frozen panes must leave part of the sheet free");
  m_->part->Touched(SheetPart::Aspect::kPanes);
  if (rows == 0 && cols == 0) {
    m_->hasPane = false;
    m_->frozen = false;
  } else {
    m_->hasPane = true;
    m_->frozen = true;
    m_->pane.x = cols;
    m_->pane.y = rows;
    m_->pane.rwTop = rows;
    m_->pane.colLeft = cols;
    m_->pane.active = rows && cols ? 0 : (rows ? 2 : 1);
    m_->pane.unused = 0;
  }
  m_->selectionsReplaced = true;
  return {};
}

const std::vector<Range>& Sheet::mergedRanges() const {
  return m_->merges;
}

Status Sheet::AddMergedRange(const Range& r) {
  if (auto st = CheckCell(*wb_, *m_, r.lastRow, r.lastCol); !st) return st;
  if (r.firstRow > r.lastRow || r.firstCol > r.lastCol)
    return Fail("the merged range is not a valid block of cells");
  for (const Range& g : m_->merges)
    if (!(r.lastRow < g.firstRow || r.firstRow > g.lastRow || r.lastCol < g.firstCol ||
          r.firstCol > g.lastCol))
      return Fail("the range " + RangeName(r) + " overlaps the merged range " + RangeName(g));
  m_->merges.push_back(r);
  m_->part->Touched(SheetPart::Aspect::kMerges);
  return {};
}

std::vector<Range> Sheet::commentCells() const {
  if (!m_->modeled) return {};
  return m_->part->CommentCells();
}

std::vector<Range> Sheet::hyperlinkRanges() const {
  if (!m_->modeled) return {};
  return m_->part->HyperlinkRanges();
}

Status Sheet::RemoveAttached(const Range& r) {
  if (!m_->modeled) return Fail("the sheet " + name() + " is not a worksheet");
  if (auto st = m_->part->RemoveAttached(name(), r); !st) return st;
  std::erase_if(m_->merges, [&](const Range& g) {
    return !(g.lastRow < r.firstRow || g.firstRow > r.lastRow || g.lastCol < r.firstCol ||
             g.firstCol > r.lastCol);
  });
  return {};
}

}  // namespace migrator::xls
