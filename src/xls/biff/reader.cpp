// Reads a BIFF8 workbook stream into the model.

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "xls/biff/book.h"
#include "xls/unicode.h"

namespace migrator::xls::detail {
namespace {

std::string Hex(uint16_t v) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "0x%04X", v);
  return buf;
}

double DecodeRk(uint32_t rk) {
  double v;
  if (rk & 2) {
    v = static_cast<double>(static_cast<int32_t>(rk) >> 2);
  } else {
    uint64_t bits = static_cast<uint64_t>(rk & 0xFFFFFFFCu) << 32;
    std::memcpy(&v, &bits, sizeof v);
  }
  if (rk & 1) v /= 100;
  return v;
}

Bytes ToBytes(std::span<const uint8_t> s) {
  return Bytes(s.begin(), s.end());
}

// Estimates of what the model holds, charged against the load budget.
constexpr size_t kHeapBlock = 16;  // what the allocator adds to each block
// A row: its record, its share of its block, and the heap blocks behind them.
constexpr size_t kRowCost = sizeof(RowRec) + 5 * kHeapBlock;
size_t KeptBytes(size_t n) {
  return n ? n + kHeapBlock : 0;
}

std::string SizeText(size_t bytes) {
  if (bytes < (size_t{1} << 20)) return std::to_string((bytes + 1023) >> 10) + " KiB";
  return std::to_string((bytes + (1 << 20) - 1) >> 20) + " MiB";
}

struct BoundSheet {
  uint32_t pos = 0;
  uint8_t visibility = 0;
  uint8_t dt = 0;
  std::u16string name;
};

class Parser {
 public:
  Parser(std::span<const uint8_t> stream, WorkbookImpl& wb, const LoadLimits& limits)
      : s_(stream), wb_(wb), book_(Biff(wb)) {
    const size_t perByte = limits.bytesPerStreamByte;
    budget_ = perByte && stream.size() > (SIZE_MAX - limits.baseBytes) / perByte
                  ? SIZE_MAX
                  : limits.baseBytes + stream.size() * perByte;
  }
  Status Run();

 private:
  Status Globals(RecordCursor& cur);
  Status Worksheet(RecordCursor& cur, SheetModel& m);
  Status Verbatim(RecordCursor& cur, SheetModel& m);
  // Appends the data of the CONTINUE records that follow.
  void Continues(RecordCursor& cur, Bytes& data) {
    uint16_t t;
    RecordView c;
    while (cur.PeekType(t) && t == rt::kContinue && cur.Next(c, &err_))
      data.insert(data.end(), c.data.begin(), c.data.end());
  }
  Status ParseName(const Bytes& data);
  // A cell. The cells of a row come together in most files: they are
  // gathered until the row is done, so that it gets exactly the room it needs.
  Status Cell(SheetModel& m, uint16_t row, uint16_t col, CellRec c) {
    if (col >= kBiffColumns) return {};  // not a cell of a BIFF8 sheet
    c.col = col;
    if (pendingSheet_ != &m || row != pendingRow_ ||
        (!pending_.empty() && pending_.back().col >= c.col)) {
      FlushRow();
      pendingSheet_ = &m;
      pendingRow_ = row;
    }
    pending_.push_back(c);
    return {};
  }
  void FlushRow() {
    if (pending_.empty()) return;
    SheetModel& m = *pendingSheet_;
    const size_t rows = m.rows.count();
    RowRec& rr = m.rows.At(pendingRow_);
    if (rr.cells.empty()) {
      rr.cells.assign(pending_.begin(), pending_.end());
    } else {
      for (const CellRec& c : pending_)
        SetCellRaw(m, pendingRow_, c);
    }
    m.usedDirty = true;
    Charge(pending_.size() * sizeof(CellRec) + (m.rows.count() != rows ? kRowCost : 0));
    pending_.clear();
  }

  // What the model is about to hold. Loading stops once the file has asked
  // for more than its budget (checked after each record).
  void Charge(size_t bytes) { charged_ += bytes; }
  bool Overdrawn() const { return charged_ > budget_; }
  Status Refuse() const {
    return Fail("the workbook would need more than " + SizeText(budget_) +
                " of memory to open, far more than a workbook stream of " + SizeText(s_.size()) +
                " can hold; it is damaged or made to exhaust memory, and is not opened");
  }

  bool HaveGlobal(GlobalSlot k) const { return seenGlobal_[static_cast<size_t>(k)]; }

  std::span<const uint8_t> s_;
  WorkbookImpl& wb_;
  BiffBook& book_;
  std::array<bool, 16> seenGlobal_{};
  std::vector<BoundSheet> bound_;
  std::vector<uint16_t> tabIds_;
  std::string err_;
  size_t budget_ = 0;
  size_t charged_ = 0;
  SheetModel* pendingSheet_ = nullptr;
  uint32_t pendingRow_ = 0;
  std::vector<CellRec> pending_;
};

Status Parser::ParseName(const Bytes& data) {
  ByteReader r(data.data(), data.size());
  NameRec n;
  n.flags = r.U16();
  n.key = r.U8();
  uint8_t cch = r.U8();
  uint16_t cce = r.U16();
  n.reserved = r.U16();
  n.itab = r.U16();
  for (auto& l : n.lengths)
    l = r.U8();
  if (r.failed() || !ReadXLChars(r, cch, n.name))
    return Fail("defined name " + std::to_string(book_.names.size() + 1) + " is damaged");
  auto rgce = r.Take(cce);
  if (r.failed()) return Fail("the formula of defined name " + Utf16ToUtf8(n.name) + " is damaged");
  n.rgce = ToBytes(rgce);
  n.tail = ToBytes(r.Rest());
  Charge(sizeof(NameRec) + KeptBytes(n.name.size() * 2) + KeptBytes(n.rgce.size()) +
         KeptBytes(n.tail.size()));
  book_.names.push_back(std::move(n));
  return {};
}

Status Parser::Globals(RecordCursor& cur) {
  RecordView r;
  bool eof = false;
  while (!eof && cur.Next(r, &err_)) {
    if (Overdrawn()) return Refuse();
    const auto& d = r.data;
    Charge(sizeof(GlobalItem) + KeptBytes(d.size()));
    GlobalItem item;
    item.rec.type = r.type;
    auto slot = [&](GlobalSlot k) {
      if (!HaveGlobal(k)) {
        seenGlobal_[static_cast<size_t>(k)] = true;
        book_.globals.push_back({k, {r.type, {}}});
      }
    };
    switch (r.type) {
      case rt::kBof:
        return Fail("the workbook globals hold an unexpected BOF record");
      case rt::kEof:
        eof = true;
        book_.globals.push_back({GlobalSlot::kRaw, {r.type, ToBytes(d)}});
        break;
      case rt::kFilePass:
        return Fail(
            "the workbook is encrypted (protected by a password to open); it cannot be read");
      case rt::kFont:
        if (d.size() < 15)
          return Fail("font " + std::to_string(book_.fonts.size()) + " is damaged");
        book_.fonts.push_back(ToBytes(d));
        slot(GlobalSlot::kFonts);
        break;
      case rt::kFormat: {
        ByteReader br(d);
        FormatRec f;
        f.id = br.U16();
        if (br.failed() || !ReadXLString(br, true, f.code))
          return Fail("a number format record is damaged");
        book_.formats.push_back(std::move(f));
        slot(GlobalSlot::kFormats);
        break;
      }
      case rt::kXf: {
        if (d.size() < 20)
          return Fail("cell format " + std::to_string(book_.xfs.size()) + " is damaged");
        std::array<uint8_t, 20> x;
        std::copy_n(d.data(), 20, x.begin());
        book_.xfs.push_back(x);
        slot(GlobalSlot::kXfs);
        break;
      }
      case rt::kBoundSheet: {
        ByteReader br(d);
        BoundSheet b;
        b.pos = br.U32();
        b.visibility = br.U8() & 0x03;
        b.dt = br.U8();
        if (br.failed() || !ReadXLString(br, false, b.name))
          return Fail("a sheet record is damaged");
        bound_.push_back(std::move(b));
        slot(GlobalSlot::kSheets);
        break;
      }
      case rt::kSupBook:
        if (d.size() >= 4 && Get16(d.data() + 2) == 0x0401 &&
            !HaveGlobal(GlobalSlot::kSupBookSelf)) {
          seenGlobal_[static_cast<size_t>(GlobalSlot::kSupBookSelf)] = true;
          book_.globals.push_back({GlobalSlot::kSupBookSelf, {r.type, ToBytes(d)}});
        } else {
          book_.globals.push_back({GlobalSlot::kRaw, {r.type, ToBytes(d)}});
        }
        break;
      case rt::kExternSheet: {
        Bytes data = ToBytes(d);
        Continues(cur, data);
        if (data.size() < 2) return Fail("the external sheet table is damaged");
        size_t n = Get16(data.data());
        if (2 + n * 6 > data.size()) return Fail("the external sheet table is damaged");
        if (HaveGlobal(GlobalSlot::kExternSheet))
          return Fail("the workbook has two external sheet tables");
        for (size_t i = 0; i < n; ++i) {
          const uint8_t* p = data.data() + 2 + i * 6;
          book_.xtis.push_back({Get16(p), Get16(p + 2), Get16(p + 4)});
        }
        slot(GlobalSlot::kExternSheet);
        break;
      }
      case rt::kName: {
        Bytes data = ToBytes(d);
        Continues(cur, data);
        if (auto st = ParseName(data); !st) return st;
        slot(GlobalSlot::kNames);
        break;
      }
      case rt::kSst: {
        if (HaveGlobal(GlobalSlot::kSst)) return Fail("the workbook has two shared string tables");
        std::vector<std::span<const uint8_t>> segs{d};
        uint16_t t;
        RecordView c;
        while (cur.PeekType(t) && t == rt::kContinue && cur.Next(c, &err_))
          segs.push_back(c.data);
        std::string e;
        if (!ParseSst(std::move(segs), wb_.sst, &e)) return Fail(e);
        Charge(size_t{wb_.sst.size()} * 12 + wb_.sst.poolChars() * 2);
        slot(GlobalSlot::kSst);
        break;
      }
      case rt::kExtSst:
        break;  // rebuilt on save
      case rt::kTabId:
        for (size_t i = 0; i + 1 < d.size(); i += 2)
          tabIds_.push_back(Get16(d.data() + i));
        slot(GlobalSlot::kTabId);
        break;
      case rt::kWindow1:
        if (!HaveGlobal(GlobalSlot::kWindow1) && d.size() >= 18) {
          seenGlobal_[static_cast<size_t>(GlobalSlot::kWindow1)] = true;
          wb_.activeSheet = Get16(d.data() + 10);
          book_.globals.push_back({GlobalSlot::kWindow1, {r.type, ToBytes(d)}});
        } else {
          book_.globals.push_back({GlobalSlot::kRaw, {r.type, ToBytes(d)}});
        }
        break;
      case rt::kDateMode:
        if (d.size() >= 2) wb_.date1904 = Get16(d.data()) == 1;
        book_.globals.push_back({GlobalSlot::kRaw, {r.type, ToBytes(d)}});
        break;
      default:
        book_.globals.push_back({GlobalSlot::kRaw, {r.type, ToBytes(d)}});
        break;
    }
  }
  if (!err_.empty()) return Fail(err_);
  if (!eof) return Fail("the workbook globals end without an EOF record");
  if (Overdrawn()) return Refuse();
  return {};
}

Status Parser::Worksheet(RecordCursor& cur, SheetModel& m) {
  BiffSheet& p = Biff(m);
  pending_.clear();
  pendingSheet_ = nullptr;
  RecordView r;
  int depth = 1;
  long lastFormula = -1;
  bool afterString = false;
  std::array<bool, 16> have{};
  auto ensureCells = [&] {
    if (have[static_cast<size_t>(SlotKind::kCells)]) return;
    have[static_cast<size_t>(SlotKind::kCells)] = true;
    p.items.push_back({SlotKind::kCells, {}});
  };
  auto raw = [&] {
    Charge(sizeof(SheetItem) + KeptBytes(r.data.size()));
    p.items.push_back({SlotKind::kRaw, {r.type, ToBytes(r.data)}});
  };
  auto slotOnce = [&](SlotKind k) {
    if (!have[static_cast<size_t>(k)]) {
      have[static_cast<size_t>(k)] = true;
      p.items.push_back({k, {r.type, {}}});
    }
  };
  std::string sheetName = Utf16ToUtf8(m.name);
  auto damaged = [&](const char* what) {
    return Fail("sheet " + sheetName + ": " + what + " record at offset " +
                std::to_string(r.offset) + " is damaged");
  };
  while (cur.Next(r, &err_)) {
    if (Overdrawn()) return Refuse();
    const auto& d = r.data;
    if (depth > 1) {
      // An embedded chart or other nested substream: kept whole.
      raw();
      if (r.type == rt::kBof) ++depth;
      if (r.type == rt::kEof) --depth;
      continue;
    }
    bool keep = false;  // the record belongs to the formula before it
    switch (r.type) {
      case rt::kBof:
        ++depth;
        raw();
        break;
      case rt::kEof:
        FlushRow();
        if (!have[static_cast<size_t>(SlotKind::kCells)]) {
          // No cell table: the cells go before the window settings.
          size_t at = p.FindSlot(SlotKind::kWindow2);
          if (at == static_cast<size_t>(-1)) at = p.items.size();
          p.items.insert(p.items.begin() + static_cast<long>(at), SheetItem{SlotKind::kCells, {}});
        }
        raw();
        return {};
      case rt::kIndex:
        slotOnce(SlotKind::kIndex);
        break;
      case rt::kDimensions:
        ensureCells();
        break;
      case rt::kDbCell:
        break;
      case rt::kRow: {
        if (d.size() < 16) return damaged("ROW");
        ensureCells();
        uint16_t row = Get16(d.data());
        if (!m.rows.Find(row)) Charge(kRowCost);
        RowRec& rr = m.rows.At(row);
        rr.height = Get16(d.data() + 6);
        rr.flags = Get16(d.data() + 12);
        const uint16_t xfWord = Get16(d.data() + 14);
        rr.xf = xfWord & 0x0FFF;
        rr.xfBits = xfWord >> 12;
        rr.hasInfo = true;
        break;
      }
      case rt::kNumber: {
        if (d.size() < 14) return damaged("NUMBER");
        ensureCells();
        CellRec c;
        c.kind = CellKind::kNumber;
        c.xf = Get16(d.data() + 4);
        c.num = GetDouble(d.data() + 6);
        if (auto st = Cell(m, Get16(d.data()), Get16(d.data() + 2), c); !st) return st;
        break;
      }
      case rt::kRk: {
        if (d.size() < 10) return damaged("RK");
        ensureCells();
        CellRec c;
        c.kind = CellKind::kNumber;
        c.xf = Get16(d.data() + 4);
        c.num = DecodeRk(Get32(d.data() + 6));
        if (auto st = Cell(m, Get16(d.data()), Get16(d.data() + 2), c); !st) return st;
        break;
      }
      case rt::kMulRk: {
        if (d.size() < 6 || (d.size() - 6) % 6 != 0) return damaged("MULRK");
        ensureCells();
        uint16_t row = Get16(d.data());
        uint16_t col = Get16(d.data() + 2);
        size_t n = (d.size() - 6) / 6;
        for (size_t i = 0; i < n; ++i) {
          const uint8_t* p = d.data() + 4 + 6 * i;
          CellRec c;
          c.kind = CellKind::kNumber;
          c.xf = Get16(p);
          c.num = DecodeRk(Get32(p + 2));
          if (auto st = Cell(m, row, static_cast<uint16_t>(col + i), c); !st) return st;
        }
        break;
      }
      case rt::kLabelSst: {
        if (d.size() < 10) return damaged("LABELSST");
        ensureCells();
        CellRec c;
        c.kind = CellKind::kText;
        c.xf = Get16(d.data() + 4);
        c.aux = Get32(d.data() + 6);
        if (c.aux >= wb_.sst.size())
          return Fail("sheet " + sheetName + ": a cell refers to shared string " +
                      std::to_string(c.aux) + ", which does not exist");
        if (auto st = Cell(m, Get16(d.data()), Get16(d.data() + 2), c); !st) return st;
        break;
      }
      case rt::kLabel:
      case rt::kRString: {
        ByteReader br(d);
        uint16_t row = br.U16(), col = br.U16(), xf = br.U16();
        std::u16string text;
        Bytes runs;
        if (br.failed() || !ReadXLString(br, true, text)) return damaged("LABEL");
        if (r.type == rt::kRString) {
          size_t n = br.U16();
          auto rb = br.Take(n * 4);
          if (!br.failed()) runs = ToBytes(rb);
        }
        ensureCells();
        CellRec c;
        c.kind = CellKind::kText;
        c.xf = xf;
        if (runs.empty()) {
          auto idx = wb_.sst.Add(text);
          if (!idx) return idx.error();
          c.aux = *idx;
        } else {
          c.aux = wb_.sst.AddLoaded(text, std::move(runs), {});
          if (c.aux >= wb_.sst.size()) return Fail("the workbook holds too much text");
        }
        Charge(12 + text.size() * 2);
        if (auto st = Cell(m, row, col, c); !st) return st;
        break;
      }
      case rt::kBlank: {
        if (d.size() < 6) return damaged("BLANK");
        ensureCells();
        CellRec c;
        c.kind = CellKind::kBlank;
        c.xf = Get16(d.data() + 4);
        if (auto st = Cell(m, Get16(d.data()), Get16(d.data() + 2), c); !st) return st;
        break;
      }
      case rt::kMulBlank: {
        if (d.size() < 6) return damaged("MULBLANK");
        ensureCells();
        uint16_t row = Get16(d.data());
        uint16_t col = Get16(d.data() + 2);
        size_t n = (d.size() - 6) / 2;
        for (size_t i = 0; i < n; ++i) {
          CellRec c;
          c.kind = CellKind::kBlank;
          c.xf = Get16(d.data() + 4 + 2 * i);
          if (auto st = Cell(m, row, static_cast<uint16_t>(col + i), c); !st) return st;
        }
        break;
      }
      case rt::kBoolErr: {
        if (d.size() < 8) return damaged("BOOLERR");
        ensureCells();
        CellRec c;
        c.kind = d[7] ? CellKind::kError : CellKind::kBool;
        c.xf = Get16(d.data() + 4);
        c.aux = d[6];
        if (auto st = Cell(m, Get16(d.data()), Get16(d.data() + 2), c); !st) return st;
        break;
      }
      case rt::kFormula: {
        if (d.size() < 22) return damaged("FORMULA");
        ensureCells();
        uint16_t cce = Get16(d.data() + 20);
        if (22u + cce > d.size()) return damaged("FORMULA");
        uint16_t col = Get16(d.data() + 2);
        if (col >= kBiffColumns) break;
        CellRec c;
        c.kind = CellKind::kFormula;
        c.xf = Get16(d.data() + 4);
        c.aux = static_cast<uint32_t>(p.formulas.size());
        FormulaRec f;
        f.body.assign(d.begin() + 6, d.end());
        Charge(sizeof(FormulaRec) + KeptBytes(f.body.size()));
        p.formulas.push_back(std::move(f));
        if (auto st = Cell(m, Get16(d.data()), col, c); !st) return st;
        lastFormula = static_cast<long>(c.aux);
        keep = true;
        break;
      }
      case rt::kShrFmla:
      case rt::kArray:
      case rt::kTable:
        if (lastFormula >= 0) {
          if (r.type != rt::kShrFmla && d.size() >= 6) {
            Range a{Get16(d.data()), d[4], Get16(d.data() + 2), d[5]};
            if (a.firstRow <= a.lastRow && a.firstCol <= a.lastCol) m.arrays.push_back(a);
          }
          Charge(sizeof(Record) + sizeof(Range) + KeptBytes(d.size()));
          p.formulas[lastFormula].attached.push_back({r.type, ToBytes(d)});
          keep = true;
        }
        // Without its formula the record means nothing and is dropped.
        break;
      case rt::kString:
        if (lastFormula >= 0) {
          Charge(sizeof(Record) + KeptBytes(d.size()));
          p.formulas[lastFormula].attached.push_back({r.type, ToBytes(d)});
          keep = true;
          afterString = true;
        }
        break;
      case rt::kContinue:
        if (afterString && lastFormula >= 0) {
          Charge(sizeof(Record) + KeptBytes(d.size()));
          p.formulas[lastFormula].attached.push_back({r.type, ToBytes(d)});
          keep = true;
        } else {
          raw();
        }
        break;
      case rt::kColInfo: {
        if (d.size() < 10) return damaged("COLINFO");
        slotOnce(SlotKind::kColInfo);
        if (!m.cols.any()) Charge(sizeof(ColInfo) * m.cols.size());
        uint16_t first = Get16(d.data()), last = Get16(d.data() + 2);
        ColInfo ci;
        ci.width = Get16(d.data() + 4) / 256.0f;
        ci.xf = Get16(d.data() + 6);
        ci.flags = Get16(d.data() + 8);
        ci.set = true;
        for (uint32_t c = first; c <= last && c <= kBiffColumns; ++c)
          m.cols.Edit(c) = ci;
        break;
      }
      case rt::kWindow2:
        if (!have[static_cast<size_t>(SlotKind::kWindow2)] && d.size() >= 10) {
          have[static_cast<size_t>(SlotKind::kWindow2)] = true;
          m.frozen = Get16(d.data()) & 0x0008;
          Charge(sizeof(SheetItem) + KeptBytes(d.size()));
          p.items.push_back({SlotKind::kWindow2, {r.type, ToBytes(d)}});
        } else
          raw();
        break;
      case rt::kPane:
        if (d.size() >= 9 && !m.hasPane) {
          m.hasPane = true;
          m.pane.x = Get16(d.data());
          m.pane.y = Get16(d.data() + 2);
          m.pane.rwTop = Get16(d.data() + 4);
          m.pane.colLeft = Get16(d.data() + 6);
          m.pane.active = d[8];
          m.pane.unused = d.size() >= 10 ? d[9] : 0;
          slotOnce(SlotKind::kPane);
        } else {
          raw();
        }
        break;
      case rt::kSelection:
        Charge(sizeof(SheetItem) + KeptBytes(d.size()));
        p.items.push_back({SlotKind::kSelection, {r.type, ToBytes(d)}});
        break;
      case rt::kMergedCells: {
        if (d.size() < 2) return damaged("MERGEDCELLS");
        slotOnce(SlotKind::kMerged);
        size_t n = std::min<size_t>(Get16(d.data()), (d.size() - 2) / 8);
        Charge(n * sizeof(Range));
        for (size_t i = 0; i < n; ++i) {
          const uint8_t* p = d.data() + 2 + 8 * i;
          Range g{Get16(p), Get16(p + 4), Get16(p + 2), Get16(p + 6)};
          if (g.firstRow <= g.lastRow && g.firstCol <= g.lastCol && g.lastCol < kBiffColumns)
            m.merges.push_back(g);
        }
        break;
      }
      case rt::kDefaultRowHeight:
        if (d.size() >= 4) m.defaultRowHeight = Get16(d.data() + 2);
        raw();
        break;
      default:
        raw();
        break;
    }
    if (!keep) {
      lastFormula = -1;
      afterString = false;
    } else if (r.type != rt::kString && r.type != rt::kContinue) {
      afterString = false;
    }
  }
  if (!err_.empty()) return Fail(err_);
  return Fail("sheet " + sheetName + " ends without an EOF record");
}

Status Parser::Verbatim(RecordCursor& cur, SheetModel& m) {
  BiffSheet& p = Biff(m);
  RecordView r;
  int depth = 1;
  while (cur.Next(r, &err_)) {
    if (Overdrawn()) return Refuse();
    Charge(sizeof(Record) + KeptBytes(r.data.size()));
    p.verbatim.push_back({r.type, ToBytes(r.data)});
    if (r.type == rt::kBof) ++depth;
    if (r.type == rt::kEof && --depth == 0) return {};
  }
  if (!err_.empty()) return Fail(err_);
  return Fail("sheet " + Utf16ToUtf8(m.name) + " ends without an EOF record");
}

Status Parser::Run() {
  RecordCursor cur(s_, 0);
  RecordView r;
  if (!cur.Next(r, &err_)) return Fail(err_.empty() ? "the workbook stream is empty" : err_);
  if (r.type != rt::kBof || r.data.size() < 4) {
    if (r.type == 0x0009 || r.type == 0x0209 || r.type == 0x0409)
      return Fail(
          "this is an Excel 2.x-4.0 workbook; only Excel 97-2003 (BIFF8) workbooks can be read");
    return Fail("the workbook stream does not start with a BOF record");
  }
  uint16_t version = Get16(r.data.data());
  if (version != 0x0600)
    return Fail("this is an Excel 5.0/95 or older workbook (BIFF version " + Hex(version) +
                "); only Excel 97-2003 (BIFF8) workbooks can be read");
  if (Get16(r.data.data() + 2) != 0x0005)
    return Fail("the workbook stream does not start with the workbook globals");
  book_.globals.push_back({GlobalSlot::kRaw, {r.type, ToBytes(r.data)}});
  if (auto st = Globals(cur); !st) return st;

  // Sheet substreams: each must start where its BOUNDSHEET says and must not
  // overlap another.
  std::vector<size_t> order(bound_.size());
  for (size_t i = 0; i < order.size(); ++i)
    order[i] = i;
  std::sort(order.begin(), order.end(),
            [&](size_t a, size_t b) { return bound_[a].pos < bound_[b].pos; });
  std::vector<std::unique_ptr<SheetModel>> models(bound_.size());
  size_t prevEnd = cur.pos();
  for (size_t k = 0; k < order.size(); ++k) {
    const BoundSheet& b = bound_[order[k]];
    std::string label = "sheet " + Utf16ToUtf8(b.name);
    if (b.pos < prevEnd || b.pos >= s_.size())
      return Fail(label + ": its position in the workbook stream is invalid");
    RecordCursor sc(s_, b.pos);
    if (!sc.Next(r, &err_) || r.type != rt::kBof || r.data.size() < 4)
      return Fail(label + ": no BOF record at its position");
    if (Get16(r.data.data()) != 0x0600) return Fail(label + " is not in the BIFF8 format");
    Charge(sizeof(SheetModel) + sizeof(Sheet) + 2 * kHeapBlock + KeptBytes(b.name.size() * 2));
    if (Overdrawn()) return Refuse();
    auto m = std::make_unique<SheetModel>(kXlsLimits);
    m->part = std::make_unique<BiffSheet>();
    m->name = b.name;
    m->visibility = b.visibility;
    Biff(*m).dt = b.dt;
    uint16_t kind = Get16(r.data.data() + 2);
    Status st;
    if (b.dt == 0 && kind == 0x0010) {
      m->modeled = true;
      Biff(*m).items.push_back({SlotKind::kRaw, {r.type, ToBytes(r.data)}});
      st = Worksheet(sc, *m);
    } else {
      Biff(*m).verbatim.push_back({r.type, ToBytes(r.data)});
      st = Verbatim(sc, *m);
    }
    if (!st) return st;
    prevEnd = sc.pos();
    models[order[k]] = std::move(m);
  }
  if (Overdrawn()) return Refuse();
  for (size_t i = 0; i < models.size(); ++i) {
    models[i]->tabId = tabIds_.size() == models.size() ? tabIds_[i] : static_cast<uint32_t>(i + 1);
    wb_.sheets.push_back(wb_.MakeSheet(std::move(models[i])));
  }
  if (wb_.activeSheet >= wb_.sheets.size()) wb_.activeSheet = 0;
  for (GlobalSlot k : {GlobalSlot::kFonts, GlobalSlot::kFormats, GlobalSlot::kXfs,
                       GlobalSlot::kSheets, GlobalSlot::kSst})
    if (book_.FindGlobal(k) == static_cast<size_t>(-1)) book_.InsertGlobalSlot(k);
  return {};
}

}  // namespace

Status ParseWorkbookStream(std::span<const uint8_t> stream, WorkbookImpl& wb,
                           const LoadLimits& limits) {
  return Parser(stream, wb, limits).Run();
}

}  // namespace migrator::xls::detail
