// Writes the model as a BIFF8 workbook stream, and builds new workbooks.

#include <algorithm>
#include <cmath>
#include <cstring>

#include "xls/biff/book.h"
#include "xls/unicode.h"

namespace migrator::xls::detail {
namespace {

constexpr size_t kNpos = static_cast<size_t>(-1);

void WriteVerbatim(RecordWriter& w, const Record& r) {
  // Kept records go back exactly as they came, whatever their length.
  size_t n = std::min<size_t>(r.data.size(), 0xFFFF);
  uint8_t* p = w.Begin(r.type, n);
  if (n) std::memcpy(p, r.data.data(), n);
}

bool EncodeRk(double v, uint32_t& rk) {
  if (v >= -536870912.0 && v <= 536870911.0 && v == std::floor(v) && !(v == 0 && std::signbit(v))) {
    rk = (static_cast<uint32_t>(static_cast<int32_t>(v)) << 2) | 2;
    return true;
  }
  uint64_t bits;
  std::memcpy(&bits, &v, sizeof bits);
  if ((bits & 0x3FFFFFFFFull) == 0) {
    rk = static_cast<uint32_t>(bits >> 32);
    return true;
  }
  double h = v * 100;
  if (std::isfinite(h) && h >= -536870912.0 && h <= 536870911.0 && h == std::floor(h)) {
    int32_t i = static_cast<int32_t>(h);
    if (static_cast<double>(i) / 100 == v) {
      rk = (static_cast<uint32_t>(i) << 2) | 3;
      return true;
    }
  }
  return false;
}

// A row the sheet writes: its number and its record.
struct WrittenRow {
  uint32_t number;
  const RowRec* row;
};

class SheetWriter {
 public:
  SheetWriter(RecordWriter& w, const WorkbookImpl& wb, const SheetModel& m, size_t index,
              const StringUse& sst)
      : w_(w), wb_(wb), m_(m), p_(Biff(m)), index_(index), sst_(sst) {}

  void Run() {
    m_.rows.ForEach([&](uint32_t r, const RowRec& row) {
      if (row.hasInfo || !row.cells.empty()) rows_.push_back({r, &row});
    });
    size_t blocks = (rows_.size() + 31) / 32;
    for (const auto& item : p_.items) {
      switch (item.kind) {
        case SlotKind::kRaw:
          if (item.rec.type == rt::kDefColWidth) defColWidthPos_ = w_.pos();
          WriteVerbatim(w_, item.rec);
          break;
        case SlotKind::kSelection:
          if (!m_.selectionsReplaced) WriteVerbatim(w_, item.rec);
          break;
        case SlotKind::kIndex:
          indexPos_ = w_.pos();
          w_.Begin(rt::kIndex, 16 + 4 * blocks);
          break;
        case SlotKind::kColInfo:
          ColInfos();
          break;
        case SlotKind::kCells:
          Cells();
          break;
        case SlotKind::kWindow2:
          Window2(item.rec);
          break;
        case SlotKind::kPane:
          Pane();
          break;
        case SlotKind::kMerged:
          Merged();
          break;
      }
    }
    if (indexPos_ != kNpos) {
      uint8_t* p = w_.bytes().data() + indexPos_ + 4;
      Put32(p, 0);
      Put32(p + 4, rows_.empty() ? 0 : rows_.front().number);
      Put32(p + 8, rows_.empty() ? 0 : rows_.back().number + 1);
      Put32(p + 12, static_cast<uint32_t>(defColWidthPos_ == kNpos ? 0 : defColWidthPos_));
      for (size_t i = 0; i < dbcells_.size() && i < blocks; ++i)
        Put32(p + 16 + 4 * i, dbcells_[i]);
    }
  }

 private:
  void ColInfos() {
    if (!m_.cols.any()) return;
    for (uint32_t c = 0; c < m_.cols.size();) {
      const ColInfo& ci = m_.cols[c];
      uint32_t e = c;
      while (e + 1 < m_.cols.size() && m_.cols[e + 1].set == ci.set &&
             m_.cols[e + 1].width == ci.width && m_.cols[e + 1].xf == ci.xf &&
             m_.cols[e + 1].flags == ci.flags)
        ++e;
      if (ci.set) {
        uint8_t* p = w_.Begin(rt::kColInfo, 12);
        Put16(p, static_cast<uint16_t>(c));
        Put16(p + 2, static_cast<uint16_t>(e));
        Put16(p + 4, static_cast<uint16_t>(std::lround(ci.width * 256)));
        Put16(p + 6, ci.xf);
        Put16(p + 8, ci.flags);
        Put16(p + 10, 0);
      }
      c = e + 1;
    }
  }

  void Cells() {
    // DIMENSIONS: the block of cell records.
    uint32_t r1 = 0, r2 = 0, c1 = 0, c2 = 0;
    bool any = false;
    for (const WrittenRow& wr : rows_) {
      const uint32_t r = wr.number;
      const auto& cells = wr.row->cells;
      if (cells.empty()) continue;
      if (!any) {
        r1 = r;
        c1 = cells.front().col;
        c2 = cells.back().col;
        any = true;
      }
      r2 = r;
      c1 = std::min<uint32_t>(c1, cells.front().col);
      c2 = std::max<uint32_t>(c2, cells.back().col);
    }
    uint8_t* p = w_.Begin(rt::kDimensions, 14);
    Put32(p, any ? r1 : 0);
    Put32(p + 4, any ? r2 + 1 : 0);
    Put16(p + 8, static_cast<uint16_t>(any ? c1 : 0));
    Put16(p + 10, static_cast<uint16_t>(any ? c2 + 1 : 0));
    Put16(p + 12, 0);

    std::vector<size_t> cellStarts;
    for (size_t b = 0; b < rows_.size(); b += 32) {
      size_t e = std::min(rows_.size(), b + 32);
      size_t firstRowPos = w_.pos();
      for (size_t i = b; i < e; ++i)
        RowRecord(rows_[i]);
      cellStarts.clear();
      for (size_t i = b; i < e; ++i) {
        cellStarts.push_back(w_.pos());
        RowCells(rows_[i]);
      }
      size_t dbPos = w_.pos();
      uint8_t* d = w_.Begin(rt::kDbCell, 4 + 2 * (e - b));
      Put32(d, static_cast<uint32_t>(dbPos - firstRowPos));
      for (size_t i = 0; i < cellStarts.size(); ++i) {
        size_t from = i == 0 ? firstRowPos + 20 : cellStarts[i - 1];
        Put16(d + 4 + 2 * i, static_cast<uint16_t>(cellStarts[i] - from));
      }
      dbcells_.push_back(static_cast<uint32_t>(dbPos));
    }
  }

  void RowRecord(const WrittenRow& wr) {
    const uint32_t r = wr.number;
    const RowRec& row = *wr.row;
    uint8_t* p = w_.Begin(rt::kRow, 16);
    Put16(p, static_cast<uint16_t>(r));
    Put16(p + 2, row.cells.empty() ? 0 : row.cells.front().col);
    Put16(p + 4, static_cast<uint16_t>(row.cells.empty() ? 0 : row.cells.back().col + 1));
    Put16(p + 6, row.hasInfo ? row.height : m_.defaultRowHeight);
    Put16(p + 8, 0);
    Put16(p + 10, 0);
    Put16(p + 12, row.hasInfo ? static_cast<uint16_t>(row.flags | 0x0100) : 0x0100);
    Put16(p + 14, row.hasInfo ? static_cast<uint16_t>(row.xfBits << 12 | row.xf) : 0x000F);
  }

  void RowCells(const WrittenRow& wr) {
    const uint32_t r = wr.number;
    const auto& cells = wr.row->cells;
    size_t n = cells.size();
    uint16_t rw = static_cast<uint16_t>(r);
    for (size_t i = 0; i < n;) {
      const CellRec& c = cells[i];
      uint32_t rk;
      if (c.kind == CellKind::kNumber && EncodeRk(c.num, rk)) {
        size_t j = i;
        uint32_t tmp;
        while (j + 1 < n && cells[j + 1].kind == CellKind::kNumber &&
               cells[j + 1].col == cells[j].col + 1 && EncodeRk(cells[j + 1].num, tmp))
          ++j;
        if (j == i) {
          uint8_t* p = w_.Begin(rt::kRk, 10);
          Put16(p, rw);
          Put16(p + 2, c.col);
          Put16(p + 4, c.xf);
          Put32(p + 6, rk);
        } else {
          uint8_t* p = w_.Begin(rt::kMulRk, 6 + 6 * (j - i + 1));
          Put16(p, rw);
          Put16(p + 2, c.col);
          uint8_t* q = p + 4;
          for (size_t k = i; k <= j; ++k, q += 6) {
            EncodeRk(cells[k].num, tmp);
            Put16(q, cells[k].xf);
            Put32(q + 2, tmp);
          }
          Put16(q, cells[j].col);
        }
        i = j + 1;
        continue;
      }
      if (c.kind == CellKind::kBlank) {
        size_t j = i;
        while (j + 1 < n && cells[j + 1].kind == CellKind::kBlank &&
               cells[j + 1].col == cells[j].col + 1)
          ++j;
        if (j == i) {
          uint8_t* p = w_.Begin(rt::kBlank, 6);
          Put16(p, rw);
          Put16(p + 2, c.col);
          Put16(p + 4, c.xf);
        } else {
          uint8_t* p = w_.Begin(rt::kMulBlank, 6 + 2 * (j - i + 1));
          Put16(p, rw);
          Put16(p + 2, c.col);
          uint8_t* q = p + 4;
          for (size_t k = i; k <= j; ++k, q += 2)
            Put16(q, cells[k].xf);
          Put16(q, cells[j].col);
        }
        i = j + 1;
        continue;
      }
      switch (c.kind) {
        case CellKind::kNumber: {
          uint8_t* p = w_.Begin(rt::kNumber, 14);
          Put16(p, rw);
          Put16(p + 2, c.col);
          Put16(p + 4, c.xf);
          PutDouble(p + 6, c.num);
          break;
        }
        case CellKind::kText: {
          uint8_t* p = w_.Begin(rt::kLabelSst, 10);
          Put16(p, rw);
          Put16(p + 2, c.col);
          Put16(p + 4, c.xf);
          Put32(p + 6, sst_.remap.empty() ? c.aux : sst_.remap[c.aux]);
          break;
        }
        case CellKind::kBool:
        case CellKind::kError: {
          uint8_t* p = w_.Begin(rt::kBoolErr, 8);
          Put16(p, rw);
          Put16(p + 2, c.col);
          Put16(p + 4, c.xf);
          p[6] = static_cast<uint8_t>(c.aux);
          p[7] = c.kind == CellKind::kError ? 1 : 0;
          break;
        }
        case CellKind::kFormula: {
          const FormulaRec& f = p_.formulas[c.aux];
          size_t len = std::min<size_t>(6 + f.body.size(), 0xFFFF);
          uint8_t* p = w_.Begin(rt::kFormula, len);
          Put16(p, rw);
          Put16(p + 2, c.col);
          Put16(p + 4, c.xf);
          std::memcpy(p + 6, f.body.data(), len - 6);
          for (const auto& a : f.attached)
            WriteVerbatim(w_, a);
          break;
        }
        default:
          break;
      }
      ++i;
    }
  }

  void Window2(const Record& rec) {
    Bytes d = rec.data;
    if (d.size() >= 2) {
      uint16_t f = Get16(d.data());
      if (m_.hasPane && m_.frozen) {
        if (!(f & 0x0008)) f |= 0x0108;
      } else
        f &= static_cast<uint16_t>(~0x0108);
      if (wb_.selectionDirty) {
        if (index_ == wb_.activeSheet)
          f |= 0x0600;
        else
          f &= static_cast<uint16_t>(~0x0600);
      }
      Put16(d.data(), f);
    }
    WriteVerbatim(w_, {rt::kWindow2, std::move(d)});
  }

  void Pane() {
    if (m_.hasPane) {
      uint8_t* p = w_.Begin(rt::kPane, 10);
      Put16(p, m_.pane.x);
      Put16(p + 2, m_.pane.y);
      Put16(p + 4, m_.pane.rwTop);
      Put16(p + 6, m_.pane.colLeft);
      p[8] = m_.pane.active;
      p[9] = m_.pane.unused;
    }
    if (m_.selectionsReplaced) {
      uint8_t pnn = m_.hasPane ? m_.pane.active : 3;
      uint16_t row = m_.hasPane ? m_.pane.rwTop : 0;
      uint16_t col = m_.hasPane ? m_.pane.colLeft : 0;
      uint8_t* p = w_.Begin(rt::kSelection, 15);
      p[0] = pnn;
      Put16(p + 1, row);
      Put16(p + 3, col);
      Put16(p + 5, 0);
      Put16(p + 7, 1);
      Put16(p + 9, row);
      Put16(p + 11, row);
      p[13] = static_cast<uint8_t>(col);
      p[14] = static_cast<uint8_t>(col);
    }
  }

  void Merged() {
    for (size_t i = 0; i < m_.merges.size(); i += 1026) {
      size_t k = std::min<size_t>(1026, m_.merges.size() - i);
      uint8_t* p = w_.Begin(rt::kMergedCells, 2 + 8 * k);
      Put16(p, static_cast<uint16_t>(k));
      for (size_t j = 0; j < k; ++j) {
        const Range& g = m_.merges[i + j];
        uint8_t* q = p + 2 + 8 * j;
        Put16(q, static_cast<uint16_t>(g.firstRow));
        Put16(q + 2, static_cast<uint16_t>(g.lastRow));
        Put16(q + 4, static_cast<uint16_t>(g.firstCol));
        Put16(q + 6, static_cast<uint16_t>(g.lastCol));
      }
    }
  }

  RecordWriter& w_;
  const WorkbookImpl& wb_;
  const SheetModel& m_;
  const BiffSheet& p_;
  size_t index_;
  const StringUse& sst_;
  std::vector<WrittenRow> rows_;
  std::vector<uint32_t> dbcells_;
  size_t indexPos_ = kNpos;
  size_t defColWidthPos_ = kNpos;
};

void WriteName(RecordWriter& w, const NameRec& n) {
  Bytes d;
  ByteWriter b(&d);
  b.U16(n.flags);
  b.U8(n.key);
  b.U8(static_cast<uint8_t>(n.name.size()));
  b.U16(static_cast<uint16_t>(n.rgce.size()));
  b.U16(n.reserved);
  b.U16(n.itab);
  for (uint8_t l : n.lengths)
    b.U8(l);
  WriteXLChars(b, n.name);
  b.Append(n.rgce);
  b.Append(n.tail);
  w.Write(rt::kName, d);
}

}  // namespace

Status WriteWorkbookStream(const WorkbookImpl& wb, OutBytes& out) {
  const BiffBook& book = Biff(wb);
  if (wb.sheets.empty()) return Fail("a workbook needs at least one sheet");
  StringUse sst = CountStrings(wb);
  out.clear();
  size_t cells = 0;
  for (size_t i = 0; i < wb.sheets.size(); ++i)
    wb.model(i).rows.ForEach([&](uint32_t, const RowRec& row) { cells += row.cells.size(); });
  // Untouched capacity costs nothing with this allocator; reserve for wide text.
  out.reserve(64 * 1024 + cells * 16 + wb.sst.poolChars() * 2 + wb.sst.size() * 4);
  RecordWriter w(out);
  std::vector<size_t> sheetPosFields;
  for (const auto& item : book.globals) {
    switch (item.kind) {
      case GlobalSlot::kRaw:
        WriteVerbatim(w, item.rec);
        break;
      case GlobalSlot::kFonts:
        for (const auto& f : book.fonts)
          WriteVerbatim(w, {rt::kFont, f});
        break;
      case GlobalSlot::kFormats:
        for (const auto& f : book.formats) {
          Bytes d;
          ByteWriter b(&d);
          b.U16(f.id);
          WriteXLString(b, f.code, true);
          w.Write(rt::kFormat, d);
        }
        break;
      case GlobalSlot::kXfs:
        for (const auto& x : book.xfs) {
          uint8_t* p = w.Begin(rt::kXf, 20);
          std::memcpy(p, x.data(), 20);
        }
        break;
      case GlobalSlot::kSheets:
        for (size_t i = 0; i < wb.sheets.size(); ++i) {
          const SheetModel& m = wb.model(i);
          Bytes d;
          ByteWriter b(&d);
          b.U32(0);
          b.U8(m.visibility);
          b.U8(Biff(m).dt);
          WriteXLString(b, m.name, false);
          sheetPosFields.push_back(w.pos() + 4);
          w.Write(rt::kBoundSheet, d);
        }
        break;
      case GlobalSlot::kSupBookSelf: {
        Bytes d = item.rec.data;
        if (d.size() >= 2) Put16(d.data(), static_cast<uint16_t>(wb.sheets.size()));
        WriteVerbatim(w, {rt::kSupBook, std::move(d)});
        break;
      }
      case GlobalSlot::kExternSheet: {
        Bytes d;
        ByteWriter b(&d);
        b.U16(static_cast<uint16_t>(book.xtis.size()));
        for (const auto& x : book.xtis) {
          b.U16(x.supBook);
          b.U16(x.first);
          b.U16(x.last);
        }
        w.Write(rt::kExternSheet, d);
        break;
      }
      case GlobalSlot::kNames:
        for (const auto& n : book.names)
          WriteName(w, n);
        break;
      case GlobalSlot::kSst:
        WriteSst(w, wb.sst, sst.order, sst.total);
        break;
      case GlobalSlot::kTabId: {
        uint8_t* p = w.Begin(rt::kTabId, 2 * wb.sheets.size());
        for (size_t i = 0; i < wb.sheets.size(); ++i)
          Put16(p + 2 * i, wb.model(i).tabId);
        break;
      }
      case GlobalSlot::kWindow1: {
        Bytes d = item.rec.data;
        if (d.size() >= 16) {
          Put16(d.data() + 10, wb.activeSheet);
          if (Get16(d.data() + 12) >= wb.sheets.size()) Put16(d.data() + 12, 0);
          if (wb.selectionDirty || Get16(d.data() + 14) > wb.sheets.size()) Put16(d.data() + 14, 1);
        }
        WriteVerbatim(w, {rt::kWindow1, std::move(d)});
        break;
      }
    }
  }
  if (sheetPosFields.size() != wb.sheets.size())
    return Fail("internal error: the sheet list was not written");
  for (size_t i = 0; i < wb.sheets.size(); ++i) {
    if (out.size() > 0xFFFFFFFFull) return Fail("the workbook is too large for the file format");
    Put32(out.data() + sheetPosFields[i], static_cast<uint32_t>(out.size()));
    const SheetModel& m = wb.model(i);
    if (m.modeled) {
      SheetWriter(w, wb, m, i, sst).Run();
    } else {
      for (const auto& r : Biff(m).verbatim)
        WriteVerbatim(w, r);
    }
  }
  if (out.size() > 0xFFFFFFFFull) return Fail("the workbook is too large for the file format");
  // Keep the stream out of the compound file's mini stream, as Excel does.
  if (out.size() < 4096) out.resize(4096, 0);
  return {};
}

// ---- new workbooks ----

namespace {

Record MakeRecord(uint16_t type, std::initializer_list<uint16_t> words) {
  Record r{type, {}};
  ByteWriter b(&r.data);
  for (uint16_t v : words)
    b.U16(v);
  return r;
}

Bytes MakeFont(uint16_t height, uint16_t weight, const char* name) {
  Bytes d;
  ByteWriter b(&d);
  b.U16(height);
  b.U16(weight >= 700 ? 1 : 0);
  b.U16(0x7FFF);
  b.U16(weight);
  b.U16(0);
  b.U8(0);
  b.U8(0);
  b.U8(0);
  b.U8(0);
  std::u16string n;
  for (const char* p = name; *p; ++p)
    n.push_back(static_cast<char16_t>(*p));
  WriteXLString(b, n, false);
  return d;
}

std::array<uint8_t, 20> MakeXf(uint16_t font, uint16_t fmt, bool style, uint8_t used) {
  std::array<uint8_t, 20> x{};
  Put16(x.data(), font);
  Put16(x.data() + 2, fmt);
  Put16(x.data() + 4, style ? 0xFFF5 : 0x0001);  // locked; a style has no parent
  x[6] = 0x20;                                   // bottom aligned
  x[9] = used;
  Put32(x.data() + 14, 0);
  Put16(x.data() + 18, 0x20C0);  // pattern colours: automatic
  return x;
}

}  // namespace

void InitNewWorkbook(WorkbookImpl& workbook) {
  BiffBook& wb = Biff(workbook);
  auto raw = [&](Record r) { wb.globals.push_back({GlobalSlot::kRaw, std::move(r)}); };
  raw(MakeRecord(rt::kBof, {0x0600, 0x0005, 0x0DBB, 0x07CC, 0x0000, 0x0000, 0x0006, 0x0000}));
  raw(MakeRecord(0x00E1, {0x04B0}));  // INTERFACEHDR
  raw(MakeRecord(0x00C1, {0x0000}));  // MMS
  raw(MakeRecord(0x00E2, {}));        // INTERFACEEND
  {
    Record wa{0x005C, {}};  // WRITEACCESS: the user name, padded with blanks
    ByteWriter b(&wa.data);
    std::u16string user = u"Migrator";
    WriteXLString(b, user, true);
    while (wa.data.size() < 112)
      wa.data.push_back(' ');
    raw(std::move(wa));
  }
  raw(MakeRecord(rt::kCodePage, {1200}));
  raw(MakeRecord(0x0161, {0}));  // DSF
  wb.globals.push_back({GlobalSlot::kTabId, {rt::kTabId, {}}});
  raw(MakeRecord(0x009C, {0x000E}));  // FNGROUPCOUNT
  raw(MakeRecord(0x0019, {0}));       // WINDOWPROTECT
  raw(MakeRecord(rt::kProtect, {0}));
  raw(MakeRecord(0x0013, {0}));  // PASSWORD
  raw(MakeRecord(0x01AF, {0}));  // PROT4REV
  raw(MakeRecord(0x01BC, {0}));  // PROT4REVPASS
  wb.globals.push_back(
      {GlobalSlot::kWindow1,
       MakeRecord(rt::kWindow1, {0x0168, 0x001E, 0x3A5C, 0x23BE, 0x0038, 0, 0, 1, 0x0258})});
  raw(MakeRecord(0x0040, {0}));  // BACKUP
  raw(MakeRecord(0x008D, {0}));  // HIDEOBJ
  raw(MakeRecord(rt::kDateMode, {0}));
  raw(MakeRecord(0x000E, {1}));  // PRECISION
  raw(MakeRecord(0x01B7, {0}));  // REFRESHALL
  raw(MakeRecord(0x00DA, {0}));  // BOOKBOOL
  wb.globals.push_back({GlobalSlot::kFonts, {rt::kFont, {}}});
  wb.globals.push_back({GlobalSlot::kFormats, {rt::kFormat, {}}});
  wb.globals.push_back({GlobalSlot::kXfs, {rt::kXf, {}}});
  {
    Record st{rt::kStyle, {}};  // the built-in Normal style over XF 0
    ByteWriter b(&st.data);
    b.U16(0x8000);
    b.U8(0);
    b.U8(0xFF);
    wb.globals.push_back({GlobalSlot::kRaw, std::move(st)});
  }
  raw(MakeRecord(0x0160, {0}));  // USESELFS
  wb.globals.push_back({GlobalSlot::kSheets, {rt::kBoundSheet, {}}});
  raw(MakeRecord(0x008C, {1, 1}));  // COUNTRY
  wb.globals.push_back({GlobalSlot::kSst, {rt::kSst, {}}});
  raw(MakeRecord(rt::kEof, {}));

  for (int i = 0; i < 4; ++i)
    wb.fonts.push_back(MakeFont(200, 400, "Arial"));
  // Style formats 0-14 and the default cell format 15.
  wb.xfs.push_back(MakeXf(0, 0, true, 0));
  for (int i = 1; i < 15; ++i)
    wb.xfs.push_back(MakeXf(i <= 2 ? 1 : (i <= 4 ? 2 : 0), 0, true, 0xF4));
  wb.xfs.push_back(MakeXf(0, 0, false, 0));
}

std::unique_ptr<SheetModel> NewSheetModel(std::u16string name) {
  auto sheet = std::make_unique<SheetModel>(kXlsLimits);
  sheet->part = std::make_unique<BiffSheet>();
  sheet->name = std::move(name);
  sheet->modeled = true;
  BiffSheet* m = &Biff(*sheet);
  m->dt = 0;
  auto raw = [&](Record r) { m->items.push_back({SlotKind::kRaw, std::move(r)}); };
  raw(MakeRecord(rt::kBof, {0x0600, 0x0010, 0x0DBB, 0x07CC, 0x0000, 0x0000, 0x0006, 0x0000}));
  m->items.push_back({SlotKind::kIndex, {rt::kIndex, {}}});
  raw(MakeRecord(rt::kCalcCount, {100}));
  raw(MakeRecord(0x000D, {1}));  // CALCMODE: automatic
  raw(MakeRecord(0x000F, {1}));  // REFMODE: A1
  raw(MakeRecord(0x0011, {0}));  // ITERATION
  {
    Record delta{0x0010, Bytes(8)};  // DELTA 0.001
    PutDouble(delta.data.data(), 0.001);
    raw(std::move(delta));
  }
  raw(MakeRecord(0x005F, {1}));           // SAVERECALC
  raw(MakeRecord(0x002A, {0}));           // PRINTHEADERS
  raw(MakeRecord(0x002B, {0}));           // PRINTGRIDLINES
  raw(MakeRecord(0x0082, {1}));           // GRIDSET
  raw(MakeRecord(0x0080, {0, 0, 0, 0}));  // GUTS
  raw(MakeRecord(rt::kDefaultRowHeight, {0, 255}));
  raw(MakeRecord(0x0081, {0x04C1}));  // WSBOOL
  raw(MakeRecord(rt::kDefColWidth, {8}));
  m->items.push_back({SlotKind::kColInfo, {rt::kColInfo, {}}});
  m->items.push_back({SlotKind::kCells, {rt::kDimensions, {}}});
  m->items.push_back(
      {SlotKind::kWindow2, MakeRecord(rt::kWindow2, {0x00B6, 0, 0, 0x40, 0, 0, 0, 0, 0})});
  m->items.push_back({SlotKind::kPane, {rt::kPane, {}}});
  sheet->selectionsReplaced = true;
  m->items.push_back({SlotKind::kMerged, {rt::kMergedCells, {}}});
  raw(MakeRecord(rt::kEof, {}));
  sheet->usedDirty = false;
  sheet->usedEmpty = true;
  return sheet;
}

}  // namespace migrator::xls::detail
