// The sheet-level calls: cells, rows, columns, panes and merged ranges.

#include <algorithm>
#include <cmath>
#include <unordered_map>

#include "xls/biff/formula.h"
#include "xls/model.h"
#include "xls/unicode.h"
#include "xls/workbook.h"

namespace migrator::xls {

using detail::CellKind;
using detail::CellRec;
using detail::FormulaRec;
using detail::Record;
using detail::SheetItem;
using detail::SheetModel;
using detail::SlotKind;
using detail::WorkbookImpl;
namespace rt = detail::rt;

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

std::vector<const Bytes*> StringParts(const FormulaRec& f) {
  std::vector<const Bytes*> parts;
  bool in = false;
  for (const auto& a : f.attached) {
    if (a.type == rt::kString) {
      in = true;
      parts.push_back(&a.data);
    } else if (in && a.type == rt::kContinue) {
      parts.push_back(&a.data);
    } else {
      in = false;
    }
  }
  return parts;
}

Value FormulaValue(const FormulaRec& f) {
  if (f.body.size() < 8) return {};
  const uint8_t* v = f.body.data();
  if (Get16(v + 6) != 0xFFFF) return Value::Number(GetDouble(v));
  switch (v[0]) {
    case 0: {
      std::u16string s;
      if (detail::ReadStringRecord(StringParts(f), s)) return Value::Text(Utf16ToUtf8(s));
      return Value::Text("");
    }
    case 1:
      return Value::Boolean(v[2] != 0);
    case 2: {
      Value x;
      x.kind = Value::Kind::kError;
      x.error = v[2];
      return x;
    }
    case 3:
      return Value::Text("");
    default:
      return {};
  }
}

std::string Where(uint32_t row, uint32_t col) {
  return CellName(row, col);
}

Status CheckCell(const SheetModel& m, uint32_t row, uint32_t col) {
  if (!m.modeled)
    return Fail("sheet " + Utf16ToUtf8(m.name) + " is not a worksheet; it has no cells");
  if (row >= kMaxRows)
    return Fail("row " + std::to_string(static_cast<uint64_t>(row) + 1) +
                " is beyond the last row of a sheet (65,536)");
  if (col >= kMaxColumns)
    return Fail("column " + std::to_string(static_cast<uint64_t>(col) + 1) +
                " is beyond the last column of a sheet (256, IV)");
  return {};
}

uint16_t DefaultXf(const WorkbookImpl& wb, const SheetModel& m, uint32_t row, uint32_t col) {
  uint16_t xf = 15;
  const detail::RowRec* rr = m.rows.Find(row);
  if (rr && rr->hasInfo && (rr->flags & 0x0080))
    xf = rr->xfWord & 0x0FFF;
  else if (m.cols[col].set)
    xf = m.cols[col].xf;
  if (xf >= wb.xfs.size()) xf = wb.xfs.size() > 15 ? 15 : 0;
  return xf;
}

// Before a formula cell changes: a shared formula anchored here is written
// out into each cell that uses it (or, when that cannot be done, the cell
// keeps its last value).
Status ReleaseFormula(WorkbookImpl& wb, SheetModel& m, uint32_t row, uint32_t col,
                      const CellRec& cell) {
  if (cell.kind != CellKind::kFormula || cell.aux >= m.formulas.size()) return {};
  const Record* shr = m.formulas[cell.aux].Find(rt::kShrFmla);
  if (!shr || shr->data.size() < 10) return {};
  const Bytes& d = shr->data;
  Range range{Get16(d.data()), d[4], Get16(d.data() + 2), d[5]};
  size_t cce = Get16(d.data() + 8);
  if (10 + cce > d.size()) return {};
  std::span<const uint8_t> shared(d.data() + 10, cce);
  Bytes extra(d.begin() + 10 + static_cast<long>(cce), d.end());
  for (uint32_t r = range.firstRow; r <= range.lastRow && r < m.rows.size(); ++r) {
    detail::RowRec* rr = m.rows.Find(r);
    if (!rr) continue;
    for (auto& c : rr->cells) {
      if (c.col < range.firstCol || c.col > range.lastCol || c.kind != CellKind::kFormula) continue;
      if (r == row && c.col == col) continue;
      FormulaRec& f = m.formulas[c.aux];
      auto rgce = f.rgce();
      if (rgce.size() != 5 || rgce[0] != 0x01) continue;
      uint16_t er = Get16(rgce.data() + 1), ec = Get16(rgce.data() + 3);
      bool ours = (er == row && ec == col) || (er == range.firstRow && ec == range.firstCol);
      if (!ours) continue;
      if (auto expanded = detail::ExpandSharedFormula(shared, r, c.col)) {
        Bytes body(f.body.begin(), f.body.begin() + 14);
        Put16(body.data() + 8, static_cast<uint16_t>(Get16(body.data() + 8) & ~0x0008));
        ByteWriter w(&body);
        w.U16(static_cast<uint16_t>(expanded->size()));
        w.Append(*expanded);
        w.Append(extra);
        f.body = std::move(body);
      } else {
        Value v = FormulaValue(f);
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
      }
    }
  }
  return {};
}

Status CheckArrays(const SheetModel& m, uint32_t row, uint32_t col) {
  for (const Range& a : m.arrays)
    if (a.Contains(row, col))
      return Fail("cell " + Where(row, col) + " is part of the array formula in " + RangeName(a) +
                  "; only the whole array can be changed");
  return {};
}

Status Put(WorkbookImpl& wb, SheetModel& m, uint32_t row, uint32_t col, CellRec c) {
  if (auto st = CheckCell(m, row, col); !st) return st;
  if (auto st = CheckArrays(m, row, col); !st) return st;
  if (CellRec* old = FindCell(m, row, col)) {
    CellRec prev = *old;
    if (auto st = ReleaseFormula(wb, m, row, col, prev); !st) return st;
    c.xf = prev.xf;
  } else {
    c.xf = DefaultXf(wb, m, row, col);
    // Rows of a table tend to have as many cells as the row above.
    detail::RowRec& rr = m.rows.At(row);
    if (rr.cells.empty() && row > 0) {
      const detail::RowRec* above = m.rows.Find(row - 1);
      if (above && above->cells.size() > 1) rr.cells.reserve(above->cells.size());
    }
  }
  c.col = static_cast<uint8_t>(col);
  detail::SetCellRaw(m, row, c);
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

// Slots that a loaded sheet may lack.
size_t EofIndex(const SheetModel& m) {
  for (size_t i = m.items.size(); i-- > 0;)
    if (m.items[i].kind == SlotKind::kRaw && m.items[i].rec.type == rt::kEof) return i;
  return m.items.size();
}

void EnsureColInfoSlot(SheetModel& m) {
  if (m.FindSlot(SlotKind::kColInfo) != kNpos) return;
  size_t at = m.FindSlot(SlotKind::kCells);
  if (at == kNpos) at = EofIndex(m);
  m.items.insert(m.items.begin() + static_cast<long>(at),
                 SheetItem{SlotKind::kColInfo, {rt::kColInfo, {}}});
}

size_t EnsureWindowSlot(SheetModel& m) {
  size_t w = m.FindSlot(SlotKind::kWindow2);
  if (w != kNpos) return w;
  Record rec{rt::kWindow2, Bytes(18, 0)};
  Put16(rec.data.data(), 0x00B6);
  Put16(rec.data.data() + 6, 0x40);
  w = EofIndex(m);
  m.items.insert(m.items.begin() + static_cast<long>(w),
                 SheetItem{SlotKind::kWindow2, std::move(rec)});
  return w;
}

// The index just past WINDOW2 and the records that belong with it.
size_t AfterWindowBlock(const SheetModel& m, size_t w) {
  size_t i = w + 1;
  while (i < m.items.size()) {
    const auto& it = m.items[i];
    bool part = it.kind == SlotKind::kPane || it.kind == SlotKind::kSelection ||
                (it.kind == SlotKind::kRaw && (it.rec.type == rt::kScl || it.rec.type == rt::kPlv));
    if (!part) break;
    ++i;
  }
  return i;
}

void EnsurePaneSlot(SheetModel& m) {
  size_t w = EnsureWindowSlot(m);
  if (m.FindSlot(SlotKind::kPane) != kNpos) return;
  size_t i = w + 1;
  while (i < m.items.size() && m.items[i].kind == SlotKind::kRaw &&
         (m.items[i].rec.type == rt::kScl || m.items[i].rec.type == rt::kPlv))
    ++i;
  m.items.insert(m.items.begin() + static_cast<long>(i),
                 SheetItem{SlotKind::kPane, {rt::kPane, {}}});
}

void EnsureMergedSlot(SheetModel& m) {
  if (m.FindSlot(SlotKind::kMerged) != kNpos) return;
  size_t w = m.FindSlot(SlotKind::kWindow2);
  size_t at = w == kNpos ? EofIndex(m) : AfterWindowBlock(m, w);
  m.items.insert(m.items.begin() + static_cast<long>(at),
                 SheetItem{SlotKind::kMerged, {rt::kMergedCells, {}}});
}

}  // namespace

Sheet::Sheet(WorkbookImpl* wb, std::unique_ptr<SheetModel> m) : wb_(wb), m_(std::move(m)) {}
Sheet::~Sheet() = default;

std::string Sheet::name() const {
  return Utf16ToUtf8(m_->name);
}

SheetType Sheet::type() const {
  switch (m_->dt) {
    case 1:
      return SheetType::kMacro;
    case 2:
      return SheetType::kChart;
    case 6:
      return SheetType::kVisualBasic;
    default:
      return SheetType::kWorksheet;
  }
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
      out.value = Value::Text(Utf16ToUtf8(wb_->sst.Text(c->aux)));
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
      out.value = FormulaValue(m_->formulas[c->aux]);
      break;
  }
  return out;
}

std::span<const uint8_t> Sheet::FormulaTokens(uint32_t row, uint32_t col) const {
  if (!m_->modeled) return {};
  const CellRec* c = FindCell(*m_, row, col);
  if (!c || c->kind != CellKind::kFormula) return {};
  return m_->formulas[c->aux].rgce();
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
  if (auto st = CheckCell(*m_, row, col); !st) return st;
  std::u16string& t = wb_->scratch;
  size_t bad = 0;
  if (!Utf8ToUtf16(utf8, t, &bad))
    return Fail("cell " + Where(row, col) + ": the text is not valid UTF-8 (at byte " +
                std::to_string(bad) + ")");
  if (t.size() > kMaxTextLength)
    return Fail("cell " + Where(row, col) + ": a text of " + std::to_string(t.size()) +
                " characters is longer than a cell holds (32,767)");
  if (auto st = CheckArrays(*m_, row, col); !st) return st;
  auto idx = wb_->sst.Add(t);
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
  if (auto st = CheckCell(*m_, row, col); !st) return st;
  CellRec* old = FindCell(*m_, row, col);
  if (!old) return {};
  if (auto st = CheckArrays(*m_, row, col); !st) return st;
  CellRec prev = *old;
  if (auto st = ReleaseFormula(*wb_, *m_, row, col, prev); !st) return st;
  auto& cells = m_->rows.Find(row)->cells;
  cells.erase(
      std::find_if(cells.begin(), cells.end(), [&](const CellRec& c) { return c.col == col; }));
  m_->usedDirty = true;
  return {};
}

Status Sheet::SetCellFormat(uint32_t row, uint32_t col, uint16_t xf) {
  if (auto st = CheckCell(*m_, row, col); !st) return st;
  if (xf >= wb_->xfs.size()) return Fail("there is no cell format " + std::to_string(xf));
  if (wb_->xfs[xf][4] & 0x04)
    return Fail("cell format " + std::to_string(xf) + " is a style, not a cell format");
  if (CellRec* c = FindCell(*m_, row, col)) {
    c->xf = xf;
    return {};
  }
  CellRec c;
  c.kind = CellKind::kBlank;
  c.xf = xf;
  c.col = static_cast<uint8_t>(col);
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
detail::RowRec& RowInfo(SheetModel& m, uint32_t row) {
  detail::RowRec& r = m.rows.At(row);
  if (!r.hasInfo) {
    r.hasInfo = true;
    r.height = m.defaultRowHeight;
    r.flags = 0x0100;
    r.xfWord = 0x000F;
  }
  return r;
}
}  // namespace

Status Sheet::SetRowHeight(uint32_t row, uint16_t twips) {
  if (auto st = CheckCell(*m_, row, 0); !st) return st;
  if (twips > 8192) return Fail("a row cannot be higher than 409 points");
  detail::RowRec& r = RowInfo(*m_, row);
  r.height = twips;
  r.flags |= 0x0040;  // the height was set, not derived from the contents
  return {};
}

std::optional<uint16_t> Sheet::RowFormatIndex(uint32_t row) const {
  const detail::RowRec* rr = m_->rows.Find(row);
  if (rr && rr->hasInfo && (rr->flags & 0x0080)) return static_cast<uint16_t>(rr->xfWord & 0x0FFF);
  return std::nullopt;
}

Status Sheet::FormatRow(uint32_t row, const RowFormat& f) {
  if (auto st = CheckCell(*m_, row, 0); !st) return st;
  WorkbookImpl& wb = *wb_;
  if (wb.xfs.size() <= 15) return Fail("the workbook has no default cell format to start from");
  std::unordered_map<uint32_t, uint16_t> done;
  auto derive = [&](uint16_t xf, bool lastCol) -> Result<uint16_t> {
    uint32_t key = (static_cast<uint32_t>(xf) << 1) | (lastCol ? 1 : 0);
    if (auto it = done.find(key); it != done.end()) return it->second;
    std::array<uint8_t, 20> x = wb.xfs[xf < wb.xfs.size() ? xf : 15];
    if (x[4] & 0x04) {
      // A cell that points at a style gets a cell format inheriting from it.
      uint16_t parent = xf < wb.xfs.size() ? xf : 0;
      Put16(x.data() + 4, static_cast<uint16_t>((parent << 4) | (Get16(x.data() + 4) & 0x0003)));
    }
    if (f.bold) {
      uint16_t fi = Get16(x.data());
      size_t vi = fi < 4 ? fi : fi - 1u;
      if (fi == 4 || vi >= wb.fonts.size()) vi = 0;
      if (wb.fonts.empty()) return Fail("the workbook has no fonts");
      Bytes font = wb.fonts[vi];
      uint16_t grbit = Get16(font.data() + 2);
      Put16(font.data() + 2, static_cast<uint16_t>(*f.bold ? (grbit | 1) : (grbit & ~1)));
      Put16(font.data() + 6, *f.bold ? 700 : 400);
      Put16(x.data(), wb.AddFont(font));
      x[9] |= 0x08;
    }
    if (f.horizontal) {
      x[6] = static_cast<uint8_t>((x[6] & ~0x07) | (static_cast<uint8_t>(*f.horizontal) & 0x07));
      x[9] |= 0x10;
    }
    uint32_t b = Get32(x.data() + 10), c = Get32(x.data() + 14);
    constexpr uint32_t kAuto = 64;
    if (f.borderTop) {
      b = (b & ~0x0F00u) | 0x0100u;
      c = (c & ~0x7Fu) | kAuto;
    }
    if (f.borderBottom) {
      b = (b & ~0xF000u) | 0x1000u;
      c = (c & ~(0x7Fu << 7)) | (kAuto << 7);
    }
    if (f.borderLeft) {
      b = (b & ~0x000Fu) | 0x0001u;
      b = (b & ~(0x7Fu << 16)) | (kAuto << 16);
    }
    if (f.borderInsideVertical && !lastCol) {
      b = (b & ~0x00F0u) | 0x0010u;
      b = (b & ~(0x7Fu << 23)) | (kAuto << 23);
    }
    if (f.borderTop || f.borderBottom || f.borderLeft || f.borderInsideVertical) x[9] |= 0x20;
    if (f.fillColor) {
      c = (c & ~(0x3Fu << 26)) | (1u << 26);
      uint16_t p = Get16(x.data() + 18);
      p = static_cast<uint16_t>((p & 0xC000) | (*f.fillColor & 0x7F) | (65u << 7));
      Put16(x.data() + 18, p);
      x[9] |= 0x40;
    }
    Put32(x.data() + 10, b);
    Put32(x.data() + 14, c);
    auto r = wb.FindOrAddXf(x);
    if (!r) return r;
    done[key] = *r;
    return *r;
  };
  detail::RowRec& rr = RowInfo(*m_, row);
  uint16_t base = (rr.flags & 0x0080) ? static_cast<uint16_t>(rr.xfWord & 0x0FFF) : 15;
  auto rowXf = derive(base, false);
  if (!rowXf) return rowXf.error();
  for (auto& cell : rr.cells) {
    auto x = derive(cell.xf, cell.col == kMaxColumns - 1);
    if (!x) return x.error();
    cell.xf = *x;
  }
  rr.flags |= 0x0080;
  rr.xfWord = static_cast<uint16_t>((rr.xfWord & 0xF000) | *rowXf);
  return {};
}

double Sheet::ColumnWidth(uint32_t col) const {
  if (col >= kMaxColumns) return 0;
  if (m_->cols[col].set) return m_->cols[col].width / 256.0;
  for (const auto& it : m_->items)
    if (it.kind == SlotKind::kRaw && it.rec.type == rt::kDefColWidth && it.rec.data.size() >= 2)
      return Get16(it.rec.data.data());
  return 8;
}

bool Sheet::HasColumnWidth(uint32_t col) const {
  return col < kMaxColumns && m_->cols[col].set;
}

Status Sheet::SetColumnWidth(uint32_t col, double characters) {
  if (auto st = CheckCell(*m_, 0, col); !st) return st;
  if (!(characters >= 0 && characters <= 255))
    return Fail("a column width must be between 0 and 255 characters");
  detail::ColInfo& ci = m_->cols.Edit(col);
  if (!ci.set) {
    ci = detail::ColInfo{};
    ci.set = true;
  }
  ci.width = static_cast<uint16_t>(std::lround(characters * 256));
  ci.flags = static_cast<uint16_t>((ci.flags & ~0x0001) | 0x0002 | (ci.width == 0 ? 0x0001 : 0));
  if (col == kMaxColumns - 1 && m_->cols[kMaxColumns].set) m_->cols.Edit(kMaxColumns) = ci;
  EnsureColInfoSlot(*m_);
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
  if (rows >= kMaxRows || cols >= kMaxColumns)
    return Fail("the frozen panes must leave part of the sheet free");
  EnsurePaneSlot(*m_);
  if (rows == 0 && cols == 0) {
    m_->hasPane = false;
    m_->frozen = false;
  } else {
    m_->hasPane = true;
    m_->frozen = true;
    m_->pane.x = static_cast<uint16_t>(cols);
    m_->pane.y = static_cast<uint16_t>(rows);
    m_->pane.rwTop = static_cast<uint16_t>(rows);
    m_->pane.colLeft = static_cast<uint16_t>(cols);
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
  if (auto st = CheckCell(*m_, r.lastRow, r.lastCol); !st) return st;
  if (r.firstRow > r.lastRow || r.firstCol > r.lastCol)
    return Fail("the merged range is not a valid block of cells");
  for (const Range& g : m_->merges)
    if (!(r.lastRow < g.firstRow || r.firstRow > g.lastRow || r.lastCol < g.firstCol ||
          r.firstCol > g.lastCol))
      return Fail("the range " + RangeName(r) + " overlaps the merged range " + RangeName(g));
  m_->merges.push_back(r);
  EnsureMergedSlot(*m_);
  return {};
}

}  // namespace migrator::xls
