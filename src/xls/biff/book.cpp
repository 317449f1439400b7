// What an .xls workbook keeps beside the shared model, and the calls that
// depend on it: cell formats, defined names, formulas, sheets' records, and
// reading and writing whole files.

#include "xls/biff/book.h"

#include <algorithm>
#include <cmath>

#include "xls/biff/formula.h"
#include "xls/unicode.h"

namespace migrator::xls::detail {

// ---- decoded formats ----

Font DecodeFont(const Bytes& d) {
  Font f;
  if (d.size() < 14) return f;
  f.height = Get16(d.data());
  uint16_t grbit = Get16(d.data() + 2);
  f.italic = grbit & 0x02;
  f.strikeout = grbit & 0x08;
  f.color = Get16(d.data() + 4);
  f.weight = Get16(d.data() + 6);
  f.underline = d[10];
  ByteReader r(d.data() + 14, d.size() - 14);
  std::u16string name;
  if (ReadXLString(r, false, name)) f.name = Utf16ToUtf8(name);
  return f;
}

CellFormat DecodeXf(const std::array<uint8_t, 20>& x) {
  CellFormat f;
  f.font = Get16(x.data());
  f.numberFormat = Get16(x.data() + 2);
  uint16_t w4 = Get16(x.data() + 4);
  f.locked = w4 & 1;
  f.hidden = w4 & 2;
  f.isStyle = w4 & 4;
  f.parent = w4 >> 4;
  f.horizontal = static_cast<HAlign>(x[6] & 7);
  f.wrap = x[6] & 8;
  f.vertical = static_cast<VAlign>(std::min((x[6] >> 4) & 7, 4));
  f.rotation = x[7];
  f.indent = x[8] & 0x0F;
  uint32_t b = Get32(x.data() + 10);
  f.left = static_cast<LineStyle>(b & 0xF);
  f.right = static_cast<LineStyle>((b >> 4) & 0xF);
  f.top = static_cast<LineStyle>((b >> 8) & 0xF);
  f.bottom = static_cast<LineStyle>((b >> 12) & 0xF);
  f.leftColor = (b >> 16) & 0x7F;
  f.rightColor = (b >> 23) & 0x7F;
  uint32_t c = Get32(x.data() + 14);
  f.topColor = c & 0x7F;
  f.bottomColor = (c >> 7) & 0x7F;
  f.fillPattern = (c >> 26) & 0x3F;
  uint16_t p = Get16(x.data() + 18);
  f.fillColor = p & 0x7F;
  f.fillBackColor = (p >> 7) & 0x7F;
  return f;
}

// ---- workbook internals ----

namespace {

constexpr size_t kNpos = static_cast<size_t>(-1);

int SlotRank(GlobalSlot k) {
  switch (k) {
    case GlobalSlot::kFonts:
      return 1;
    case GlobalSlot::kFormats:
      return 2;
    case GlobalSlot::kXfs:
      return 3;
    case GlobalSlot::kSheets:
      return 4;
    case GlobalSlot::kSupBookSelf:
      return 5;
    case GlobalSlot::kExternSheet:
      return 6;
    case GlobalSlot::kNames:
      return 7;
    case GlobalSlot::kSst:
      return 8;
    default:
      return 0;
  }
}

bool IsSupBookGroup(uint16_t t) {
  return t == rt::kSupBook || t == 0x0023 /* EXTERNNAME */ || t == 0x0059 /* XCT */ ||
         t == 0x005A /* CRN */;
}

const char* const kBuiltinNames[] = {
    "Consolidate_Area", "Auto_Open",       "Auto_Close",   "Extract",        "Database",
    "Criteria",         "Print_Area",      "Print_Titles", "Recorder",       "Data_Form",
    "Auto_Activate",    "Auto_Deactivate", "Sheet_Title",  "_FilterDatabase"};

}  // namespace

size_t BiffBook::InsertGlobalSlot(GlobalSlot k) {
  size_t pos = kNpos;
  if (k == GlobalSlot::kSupBookSelf || k == GlobalSlot::kExternSheet) {
    // After every SUPBOOK group already there.
    for (size_t i = 0; i < globals.size(); ++i)
      if ((globals[i].kind == GlobalSlot::kRaw && IsSupBookGroup(globals[i].rec.type)) ||
          globals[i].kind == GlobalSlot::kSupBookSelf)
        pos = i + 1;
    if (k == GlobalSlot::kSupBookSelf) {
      size_t es = FindGlobal(GlobalSlot::kExternSheet);
      if (es != kNpos && (pos == kNpos || pos > es)) pos = es;
    }
  }
  if (pos == kNpos) {
    int rank = SlotRank(k);
    for (size_t i = 0; i < globals.size(); ++i)
      if (SlotRank(globals[i].kind) > rank) {
        pos = i;
        break;
      }
  }
  if (pos == kNpos) {
    // Before the final EOF.
    pos = globals.size();
    if (!globals.empty() && globals.back().rec.type == rt::kEof) pos = globals.size() - 1;
  }
  uint16_t type = 0;
  switch (k) {
    case GlobalSlot::kFonts:
      type = rt::kFont;
      break;
    case GlobalSlot::kFormats:
      type = rt::kFormat;
      break;
    case GlobalSlot::kXfs:
      type = rt::kXf;
      break;
    case GlobalSlot::kSheets:
      type = rt::kBoundSheet;
      break;
    case GlobalSlot::kSupBookSelf:
      type = rt::kSupBook;
      break;
    case GlobalSlot::kExternSheet:
      type = rt::kExternSheet;
      break;
    case GlobalSlot::kNames:
      type = rt::kName;
      break;
    case GlobalSlot::kSst:
      type = rt::kSst;
      break;
    default:
      break;
  }
  GlobalItem item{k, {type, {}}};
  if (k == GlobalSlot::kSupBookSelf) {
    item.rec.data.resize(4);
    Put16(item.rec.data.data(), static_cast<uint16_t>(wb_.sheets.size()));
    Put16(item.rec.data.data() + 2, 0x0401);
  }
  globals.insert(globals.begin() + static_cast<long>(pos), std::move(item));
  return pos;
}

uint16_t BiffBook::SelfSupBookIndex(bool create) {
  uint16_t n = 0;
  for (const auto& g : globals) {
    if (g.kind == GlobalSlot::kSupBookSelf) return n;
    if (g.kind == GlobalSlot::kRaw && g.rec.type == rt::kSupBook) ++n;
  }
  if (!create) return 0xFFFF;
  size_t at = InsertGlobalSlot(GlobalSlot::kSupBookSelf);
  n = 0;
  for (size_t i = 0; i < at; ++i)
    if (globals[i].kind == GlobalSlot::kRaw && globals[i].rec.type == rt::kSupBook) ++n;
  return n;
}

uint16_t BiffBook::XtiForSheet(size_t sheet) {
  uint16_t self = SelfSupBookIndex(true);
  if (FindGlobal(GlobalSlot::kExternSheet) == kNpos) InsertGlobalSlot(GlobalSlot::kExternSheet);
  for (size_t i = 0; i < xtis.size(); ++i)
    if (xtis[i].supBook == self && xtis[i].first == sheet && xtis[i].last == sheet)
      return static_cast<uint16_t>(i);
  xtis.push_back({self, static_cast<uint16_t>(sheet), static_cast<uint16_t>(sheet)});
  return static_cast<uint16_t>(xtis.size() - 1);
}

uint16_t BiffBook::AddFont(const Bytes& data) {
  for (size_t i = 0; i < fonts.size(); ++i)
    if (fonts[i] == data) return static_cast<uint16_t>(i < 4 ? i : i + 1);
  fonts.push_back(data);
  size_t i = fonts.size() - 1;
  if (FindGlobal(GlobalSlot::kFonts) == kNpos) InsertGlobalSlot(GlobalSlot::kFonts);
  return static_cast<uint16_t>(i < 4 ? i : i + 1);
}

Result<uint16_t> BiffBook::FindOrAddXf(const std::array<uint8_t, 20>& xf) {
  for (size_t i = 0; i < xfs.size(); ++i)
    if (xfs[i] == xf) return static_cast<uint16_t>(i);
  if (xfs.size() >= 4050)
    return Fail("the workbook already holds the most cell formats the file format allows (4,050)");
  xfs.push_back(xf);
  if (FindGlobal(GlobalSlot::kXfs) == kNpos) InsertGlobalSlot(GlobalSlot::kXfs);
  return static_cast<uint16_t>(xfs.size() - 1);
}

std::string BiffBook::NameText(const NameRec& n) const {
  if (n.builtin() && n.name.size() == 1 && n.name[0] < std::size(kBuiltinNames))
    return kBuiltinNames[n.name[0]];
  return Utf16ToUtf8(n.name);
}

namespace {

// Rewrites the name references of every formula the model holds after the
// name with 1-based index `deleted` went away.
void RenumberEverywhere(WorkbookImpl& wb, uint16_t deleted) {
  BiffBook& book = Biff(wb);
  for (auto& n : book.names)
    RenumberNameRefs(n.rgce, deleted);
  for (size_t s = 0; s < wb.sheets.size(); ++s) {
    if (!wb.model(s).part) continue;
    BiffSheet& m = Biff(wb.model(s));
    for (auto& f : m.formulas) {
      if (f.body.size() >= 16) {
        size_t cce = Get16(f.body.data() + 14);
        if (16 + cce <= f.body.size()) RenumberNameRefs({f.body.data() + 16, cce}, deleted);
      }
      for (auto& a : f.attached) {
        size_t at = a.type == rt::kShrFmla ? 8 : (a.type == rt::kArray ? 12 : kNpos);
        if (at == kNpos || a.data.size() < at + 2) continue;
        size_t cce = Get16(a.data.data() + at);
        if (at + 2 + cce <= a.data.size()) RenumberNameRefs({a.data.data() + at + 2, cce}, deleted);
      }
    }
  }
}

std::vector<cfb::OutEntry> BuildEntries(const BiffBook& wb, std::span<const uint8_t> stream) {
  std::vector<cfb::OutEntry> out(wb.container.entries.size());
  for (size_t i = 0; i < out.size(); ++i) {
    const auto& e = wb.container.entries[i];
    auto& o = out[i];
    o.name = e.name;
    o.type = e.type;
    o.clsid = e.clsid;
    o.stateBits = e.stateBits;
    o.created = e.created;
    o.modified = e.modified;
    o.data = e.data;
    o.children = e.children;
  }
  out[static_cast<size_t>(wb.workbookEntry)].data = stream;
  return out;
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

Value DecodeFormulaValue(const FormulaRec& f) {
  if (f.body.size() < 8) return {};
  const uint8_t* v = f.body.data();
  if (Get16(v + 6) != 0xFFFF) return Value::Number(GetDouble(v));
  switch (v[0]) {
    case 0: {
      std::u16string s;
      if (ReadStringRecord(StringParts(f), s)) return Value::Text(Utf16ToUtf8(s));
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

// The sheet's records: slots a loaded sheet may lack.
size_t EofIndex(const BiffSheet& m) {
  for (size_t i = m.items.size(); i-- > 0;)
    if (m.items[i].kind == SlotKind::kRaw && m.items[i].rec.type == rt::kEof) return i;
  return m.items.size();
}

void EnsureColInfoSlot(BiffSheet& m) {
  if (m.FindSlot(SlotKind::kColInfo) != kNpos) return;
  size_t at = m.FindSlot(SlotKind::kCells);
  if (at == kNpos) at = EofIndex(m);
  m.items.insert(m.items.begin() + static_cast<long>(at),
                 SheetItem{SlotKind::kColInfo, {rt::kColInfo, {}}});
}

size_t EnsureWindowSlot(BiffSheet& m) {
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
size_t AfterWindowBlock(const BiffSheet& m, size_t w) {
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

void EnsurePaneSlot(BiffSheet& m) {
  size_t w = EnsureWindowSlot(m);
  if (m.FindSlot(SlotKind::kPane) != kNpos) return;
  size_t i = w + 1;
  while (i < m.items.size() && m.items[i].kind == SlotKind::kRaw &&
         (m.items[i].rec.type == rt::kScl || m.items[i].rec.type == rt::kPlv))
    ++i;
  m.items.insert(m.items.begin() + static_cast<long>(i),
                 SheetItem{SlotKind::kPane, {rt::kPane, {}}});
}

void EnsureMergedSlot(BiffSheet& m) {
  if (m.FindSlot(SlotKind::kMerged) != kNpos) return;
  size_t w = m.FindSlot(SlotKind::kWindow2);
  size_t at = w == kNpos ? EofIndex(m) : AfterWindowBlock(m, w);
  m.items.insert(m.items.begin() + static_cast<long>(at),
                 SheetItem{SlotKind::kMerged, {rt::kMergedCells, {}}});
}

}  // namespace

// ---- defined names ----

DefinedName BiffBook::name(size_t index) const {
  const BiffBook& wb = *this;
  DefinedName d;
  if (index >= wb.names.size()) return d;
  const NameRec& n = wb.names[index];
  d.name = wb.NameText(n);
  d.builtin = n.builtin();
  d.hidden = n.hidden();
  if (n.itab > 0) d.scope = n.itab - 1;
  d.kind = DefinedName::Kind::kOther;
  d.reference = "(formula)";
  if (auto ref = ParseRef3d(n.rgce)) {
    uint16_t self = 0xFFFF;
    {
      uint16_t k = 0;
      for (const auto& g : wb.globals) {
        if (g.kind == GlobalSlot::kSupBookSelf) {
          self = k;
          break;
        }
        if (g.kind == GlobalSlot::kRaw && g.rec.type == rt::kSupBook) ++k;
      }
    }
    if (ref->error) {
      d.kind = DefinedName::Kind::kInvalid;
    } else if (ref->ixti < wb.xtis.size() && wb.xtis[ref->ixti].supBook == self) {
      const auto& x = wb.xtis[ref->ixti];
      if (x.first == kXtiDeleted || x.last == kXtiDeleted) {
        d.kind = DefinedName::Kind::kInvalid;
      } else if (x.first == x.last && x.first < wb_.sheets.size()) {
        d.kind = DefinedName::Kind::kArea;
        d.sheet = x.first;
        d.range = ref->range;
        d.reference = QuoteSheetName(Utf16ToUtf8(wb_.model(x.first).name)) + "!" +
                      RangeName(ref->range, true);
      }
    }
  } else if (n.rgce.size() >= 1) {
    uint8_t t = n.rgce[0];
    uint8_t base = t < 0x20 ? t : static_cast<uint8_t>((t & 0x1F) | 0x20);
    if ((n.rgce.size() == 5 && base == 0x2A) || (n.rgce.size() == 9 && base == 0x2B) ||
        (n.rgce.size() == 2 && t == 0x1C && n.rgce[1] == 0x17))
      d.kind = DefinedName::Kind::kInvalid;
  }
  if (d.kind == DefinedName::Kind::kInvalid) d.reference = "#REF!";
  return d;
}

std::optional<size_t> BiffBook::FindName(std::string_view name, std::u16string_view n,
                                         std::optional<size_t> scope) const {
  const BiffBook& wb = *this;
  uint16_t itab = scope ? static_cast<uint16_t>(*scope + 1) : 0;
  for (size_t i = 0; i < wb.names.size(); ++i) {
    const NameRec& r = wb.names[i];
    if (r.itab != itab) continue;
    if (r.builtin() && r.name.size() == 1) {
      if (EqualsIgnoreCase(wb.NameText(r), name)) return i;
    } else if (EqualsIgnoreCase(r.name, n)) {
      return i;
    }
  }
  return std::nullopt;
}

Status BiffBook::DefineName(std::string_view name, std::u16string_view n, size_t sheet,
                            const Range& area, std::optional<size_t> scope) {
  BiffBook& wb = *this;
  auto existing = FindName(name, n, scope);
  uint16_t ixti = wb.XtiForSheet(sheet);
  if (wb.xtis.size() > 0xFFFF) return Fail("the workbook holds too many sheet references");
  Bytes rgce = MakeRef3d(ixti, area);
  if (existing) {
    NameRec& r = wb.names[*existing];
    r.rgce = std::move(rgce);
    // Extra data of the old formula and its texts are not kept with a new formula.
    r.tail.clear();
    r.lengths = {};
    return {};
  }
  NameRec r;
  r.name = std::u16string(n);
  r.itab = scope ? static_cast<uint16_t>(*scope + 1) : 0;
  r.rgce = std::move(rgce);
  wb.names.push_back(std::move(r));
  if (wb.FindGlobal(GlobalSlot::kNames) == kNpos) wb.InsertGlobalSlot(GlobalSlot::kNames);
  return {};
}

Status BiffBook::MoveNameArea(size_t index, size_t sheet, const Range& area) {
  BiffBook& wb = *this;
  NameRec& r = wb.names[index];
  // ptgRef3d or ptgArea3d (any class), alone.
  const bool block = (r.rgce.size() == 7 && (r.rgce[0] & 0x1F) == 0x1A) ||
                     (r.rgce.size() == 11 && (r.rgce[0] & 0x1F) == 0x1B);
  const uint16_t ixti = block ? Get16(r.rgce.data() + 1) : 0xFFFF;
  if (!block || ixti >= wb.xtis.size() || wb.xtis[ixti].first != sheet ||
      wb.xtis[ixti].last != sheet || wb.xtis[ixti].supBook != wb.SelfSupBookIndex(false))
    return Fail("the defined name " + std::to_string(index + 1) +
                " is not a block of cells of sheet " + std::to_string(sheet + 1));
  r.rgce = MakeRef3d(ixti, area);
  r.tail.clear();
  r.lengths = {};
  return {};
}

Status BiffBook::DeleteName(size_t index) {
  names.erase(names.begin() + static_cast<long>(index));
  RenumberEverywhere(wb_, static_cast<uint16_t>(index + 1));
  return {};
}

// ---- automatic filters ----

namespace {

// The built-in code of _FilterDatabase in a NAME record.
constexpr char16_t kFilterDatabaseCode = 0x0D;
constexpr uint16_t kNameHidden = 0x0001;
constexpr uint16_t kNameBuiltin = 0x0020;

bool IsFilterRecord(const SheetItem& it) {
  return it.kind == SlotKind::kRaw &&
         (it.rec.type == rt::kAutoFilterInfo || it.rec.type == rt::kAutoFilter ||
          it.rec.type == rt::kAutoFilter12 || it.rec.type == rt::kFilterMode);
}

}  // namespace

Status BiffBook::SetAutoFilter(size_t sheet, const std::optional<Range>& area) {
  const uint16_t itab = static_cast<uint16_t>(sheet + 1);
  std::optional<size_t> existing;
  for (size_t i = 0; i < names.size() && !existing; ++i)
    if (names[i].itab == itab && names[i].builtin() && names[i].name.size() == 1 &&
        names[i].name[0] == kFilterDatabaseCode)
      existing = i;
  const DefinedName before = existing ? name(*existing) : DefinedName{};

  // The sheet's records: the criteria of a filter over other columns (or of
  // none) go; AUTOFILTERINFO counts the drop-down arrows, one per column,
  // and stands just before DIMENSIONS.
  BiffSheet& m = Biff(wb_.model(sheet));
  const bool sameColumns =
      area && before.kind == DefinedName::Kind::kArea && before.range.firstCol == area->firstCol &&
      before.range.lastCol == area->lastCol && before.range.firstRow == area->firstRow;
  if (!sameColumns) std::erase_if(m.items, IsFilterRecord);
  if (area) {
    Bytes count(2);
    Put16(count.data(), static_cast<uint16_t>(area->lastCol - area->firstCol + 1));
    auto info = std::find_if(m.items.begin(), m.items.end(), [](const SheetItem& it) {
      return it.kind == SlotKind::kRaw && it.rec.type == rt::kAutoFilterInfo;
    });
    if (info != m.items.end()) {
      info->rec.data = std::move(count);
    } else {
      size_t at = m.FindSlot(SlotKind::kCells);
      if (at == kNpos) at = EofIndex(m);
      m.items.insert(m.items.begin() + static_cast<long>(at),
                     SheetItem{SlotKind::kRaw, {rt::kAutoFilterInfo, std::move(count)}});
    }
  }

  // The name: hidden, built-in, local to the sheet, a 3-D reference.
  if (!area) {
    if (existing) return DeleteName(*existing);
    return {};
  }
  const uint16_t ixti = XtiForSheet(sheet);
  if (xtis.size() > 0xFFFF) return Fail("the workbook holds too many sheet references");
  if (existing) {
    NameRec& r = names[*existing];
    r.flags |= kNameHidden;
    r.rgce = MakeRef3d(ixti, *area);
    r.tail.clear();
    r.lengths = {};
    return {};
  }
  NameRec r;
  r.flags = kNameHidden | kNameBuiltin;
  r.name = std::u16string(1, kFilterDatabaseCode);
  r.itab = itab;
  r.rgce = MakeRef3d(ixti, *area);
  names.push_back(std::move(r));
  if (FindGlobal(GlobalSlot::kNames) == kNpos) InsertGlobalSlot(GlobalSlot::kNames);
  return {};
}

// ---- formats ----

std::optional<Font> BiffBook::font(uint16_t index) const {
  if (index == 4) return std::nullopt;
  size_t i = index < 4 ? index : index - 1u;
  if (i >= fonts.size()) return std::nullopt;
  return detail::DecodeFont(fonts[i]);
}

size_t BiffBook::formatCount() const {
  return xfs.size();
}

CellFormat BiffBook::format(uint16_t xf) const {
  if (xf >= xfs.size()) return {};
  return DecodeXf(xfs[xf]);
}

std::string BiffBook::NumberFormatCode(uint16_t id) const {
  for (const auto& f : formats)
    if (f.id == id) return Utf16ToUtf8(f.code);
  const char* b = BuiltinNumberFormat(id);
  return b ? b : "General";
}

Result<uint16_t> BiffBook::NumberFormatId(std::string_view code) {
  std::u16string wanted;
  if (!Utf8ToUtf16(code, wanted) || wanted.empty() || wanted.size() > 255)
    return Fail("\"" + std::string(code) + "\" is not a number format that can be stored");
  std::optional<uint16_t> id;
  uint16_t last = 163;  // custom formats count from 164
  for (const auto& f : formats) {
    if (f.code == wanted) id = f.id;
    last = std::max(last, f.id);
  }
  for (uint16_t b = 0; !id && b < 164; ++b) {
    const char* builtin = BuiltinNumberFormat(b);
    if (builtin && code == builtin) id = b;
  }
  if (!id) {
    if (last == 0xFFFF) return Fail("the workbook holds the most number formats it can");
    id = static_cast<uint16_t>(last + 1);
    formats.push_back({*id, std::move(wanted)});
    if (FindGlobal(GlobalSlot::kFormats) == kNpos) InsertGlobalSlot(GlobalSlot::kFormats);
  }
  return *id;
}

Result<uint16_t> BiffBook::CellFormatWithNumberFormat(uint16_t xf, std::string_view code) {
  if (xf >= xfs.size()) return Fail("there is no cell format " + std::to_string(xf));
  auto id = NumberFormatId(code);
  if (!id) return id.error();
  std::array<uint8_t, 20> x = xfs[xf];
  if (x[4] & 0x04) {
    // A style: the cell format inherits from it.
    Put16(x.data() + 4, static_cast<uint16_t>((xf << 4) | (Get16(x.data() + 4) & 0x0003)));
  }
  Put16(x.data() + 2, *id);
  x[9] |= 0x04;  // the number format is this cell format's own
  return FindOrAddXf(x);
}

bool BiffBook::IsDateFormat(uint16_t xf) const {
  if (xf >= xfs.size()) return false;
  uint16_t id = Get16(xfs[xf].data() + 2);
  for (const auto& f : formats)
    if (f.id == id) return IsDateFormatCode(f.code);
  return IsBuiltinDateFormat(id);
}

// ---- sheets ----

SheetType BiffSheet::type() const {
  switch (dt) {
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

Value BiffSheet::FormulaValue(uint32_t formula) const {
  return DecodeFormulaValue(formulas[formula]);
}

std::span<const uint8_t> BiffSheet::FormulaTokens(uint32_t formula) const {
  return formulas[formula].rgce();
}

// Before a formula cell changes: a shared formula anchored here is written
// out into each cell that uses it (or, when that cannot be done, the cell
// keeps its last value).
Status BiffSheet::ReleaseFormula(WorkbookImpl& wb, SheetModel& m, uint32_t row, uint32_t col,
                                 const CellRec& cell) {
  if (cell.kind != CellKind::kFormula || cell.aux >= formulas.size()) return {};
  const Record* shr = formulas[cell.aux].Find(rt::kShrFmla);
  if (!shr || shr->data.size() < 10) return {};
  const Bytes& d = shr->data;
  Range range{Get16(d.data()), d[4], Get16(d.data() + 2), d[5]};
  size_t cce = Get16(d.data() + 8);
  if (10 + cce > d.size()) return {};
  std::span<const uint8_t> shared(d.data() + 10, cce);
  Bytes extra(d.begin() + 10 + static_cast<long>(cce), d.end());
  for (uint32_t r = range.firstRow; r <= range.lastRow && r < m.rows.size(); ++r) {
    RowRec* rr = m.rows.Find(r);
    if (!rr) continue;
    for (auto& c : rr->cells) {
      if (c.col < range.firstCol || c.col > range.lastCol || c.kind != CellKind::kFormula) continue;
      if (r == row && c.col == col) continue;
      FormulaRec& f = formulas[c.aux];
      auto rgce = f.rgce();
      if (rgce.size() != 5 || rgce[0] != 0x01) continue;
      uint16_t er = Get16(rgce.data() + 1), ec = Get16(rgce.data() + 3);
      bool ours = (er == row && ec == col) || (er == range.firstRow && ec == range.firstCol);
      if (!ours) continue;
      if (auto expanded = ExpandSharedFormula(shared, r, c.col)) {
        Bytes body(f.body.begin(), f.body.begin() + 14);
        Put16(body.data() + 8, static_cast<uint16_t>(Get16(body.data() + 8) & ~0x0008));
        ByteWriter w(&body);
        w.U16(static_cast<uint16_t>(expanded->size()));
        w.Append(*expanded);
        w.Append(extra);
        f.body = std::move(body);
      } else if (auto st = SetCellValue(wb, c, DecodeFormulaValue(f)); !st) {
        return st;
      }
    }
  }
  return {};
}

double BiffSheet::DefaultColumnWidth() const {
  for (const auto& it : items)
    if (it.kind == SlotKind::kRaw && it.rec.type == rt::kDefColWidth && it.rec.data.size() >= 2)
      return Get16(it.rec.data.data());
  return 8;
}

void BiffSheet::Touched(Aspect a) {
  switch (a) {
    case Aspect::kColumns:
      EnsureColInfoSlot(*this);
      break;
    case Aspect::kPanes:
      EnsurePaneSlot(*this);
      break;
    case Aspect::kMerges:
      EnsureMergedSlot(*this);
      break;
  }
}

// ---- the workbook ----

size_t BiffBook::fontCount() const {
  return fonts.size();
}

bool BiffBook::IsCellXf(uint16_t xf) const {
  return xf < xfs.size() && !(xfs[xf][4] & 0x04);
}

Status BiffBook::CheckFormattable() const {
  if (xfs.size() <= 15) return Fail("the workbook has no default cell format to start from");
  return {};
}

Result<uint16_t> BiffBook::FormattedXf(uint16_t xf, const RowFormat& f, bool lastCol) {
  BiffBook& wb = *this;
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
  return wb.FindOrAddXf(x);
}

namespace {

Bytes EncodeFont(const Font& f) {
  Bytes d;
  ByteWriter b(&d);
  b.U16(f.height);
  b.U16(static_cast<uint16_t>((f.bold() ? 0x01 : 0) | (f.italic ? 0x02 : 0) |
                              (f.strikeout ? 0x08 : 0)));
  b.U16(f.color);
  b.U16(f.weight);
  b.U16(0);  // normal, not super- or subscript
  b.U8(f.underline);
  b.U8(0);  // family
  b.U8(0);  // character set
  b.U8(0);
  std::u16string name;
  if (!Utf8ToUtf16(f.name, name) || name.empty() || name.size() > 31) name = u"Arial";
  WriteXLString(b, name, false);
  return d;
}

}  // namespace

Result<uint16_t> BiffBook::ImportXf(const CellFormat& f, const Font& font, std::string_view code) {
  auto id = NumberFormatId(code.empty() ? "General" : code);
  if (!id) return id.error();
  std::array<uint8_t, 20> x{};
  Put16(x.data(), AddFont(EncodeFont(font)));
  Put16(x.data() + 2, *id);
  Put16(x.data() + 4, static_cast<uint16_t>((f.locked ? 1 : 0) | (f.hidden ? 2 : 0)));
  x[6] = static_cast<uint8_t>((static_cast<uint8_t>(f.horizontal) & 7) | (f.wrap ? 8 : 0) |
                              ((static_cast<uint8_t>(f.vertical) & 7) << 4));
  x[7] = f.rotation;
  x[8] = f.indent & 0x0F;
  x[9] = 0xFC;  // every attribute is the cell format's own
  auto c7 = [](uint8_t c) { return static_cast<uint32_t>(c & 0x7F); };
  const uint32_t b = (static_cast<uint32_t>(f.left) & 0xF) |
                     ((static_cast<uint32_t>(f.right) & 0xF) << 4) |
                     ((static_cast<uint32_t>(f.top) & 0xF) << 8) |
                     ((static_cast<uint32_t>(f.bottom) & 0xF) << 12) | (c7(f.leftColor) << 16) |
                     (c7(f.rightColor) << 23);
  const uint32_t c = c7(f.topColor) | (c7(f.bottomColor) << 7) |
                     ((static_cast<uint32_t>(f.fillPattern) & 0x3F) << 26);
  Put32(x.data() + 10, b);
  Put32(x.data() + 14, c);
  Put16(x.data() + 18, static_cast<uint16_t>(c7(f.fillColor) | (c7(f.fillBackColor) << 7)));
  return FindOrAddXf(x);
}

void BiffBook::SetDate1904(bool on) {
  for (auto& g : globals)
    if (g.kind == GlobalSlot::kRaw && g.rec.type == rt::kDateMode && g.rec.data.size() >= 2)
      Put16(g.rec.data.data(), on ? 1 : 0);
}

std::unique_ptr<SheetModel> BiffBook::NewSheet(std::u16string name) {
  return NewSheetModel(std::move(name));
}

void BiffBook::SheetInserting(size_t pos) {
  // References by sheet index move with the sheets they name.
  uint16_t self = SelfSupBookIndex(false);
  for (auto& x : xtis) {
    if (x.supBook != self || x.first >= 0xFFFE) continue;
    if (x.first >= pos) ++x.first;
    if (x.last >= pos && x.last < 0xFFFE) ++x.last;
  }
  for (auto& nm : names)
    if (nm.itab > pos) ++nm.itab;
}

Status BiffBook::SheetDeleting(size_t index) {
  // The sheet's own names go with it.
  for (size_t i = names.size(); i-- > 0;)
    if (names[i].itab == index + 1) {
      if (auto st = DeleteName(i); !st) return st;
    }
  for (auto& nm : names)
    if (nm.itab > index + 1) --nm.itab;
  // References into the sheet become invalid; later sheets move down by one.
  uint16_t self = SelfSupBookIndex(false);
  for (auto& x : xtis) {
    if (x.supBook != self || x.first >= 0xFFFE || x.last >= 0xFFFE) continue;
    if (x.first == index && x.last == index) {
      x.first = x.last = kXtiDeleted;
      continue;
    }
    if (x.first > index) --x.first;
    if (x.last >= index) --x.last;
  }
  return {};
}

namespace {

// The compound file's writer into a save's output.
class OutputSink : public cfb::Sink {
 public:
  explicit OutputSink(Output& out) : out_(out) {}
  bool Write(const uint8_t* p, size_t n) override {
    if (out_.Write(p, n)) return true;
    failed = true;
    return false;
  }
  bool failed = false;

 private:
  Output& out_;
};

}  // namespace

Status BiffBook::Prepare() const {
  return WriteWorkbookStream(wb_, saveBuffer);
}

Status BiffBook::Write(Output& out) const {
  auto entries = BuildEntries(*this, std::span<const uint8_t>(saveBuffer));
  OutputSink sink(out);
  Status st = cfb::Write(entries, sink);
  if (!st && sink.failed) return Fail(out.Error());
  return st;
}

std::unique_ptr<WorkbookImpl> NewBiffWorkbook() {
  auto wb = std::make_unique<WorkbookImpl>(FileFormat::kXls);
  auto book = std::make_unique<BiffBook>(*wb);
  BiffBook& b = *book;
  wb->book = std::move(book);
  InitNewWorkbook(*wb);
  auto& c = b.container;
  cfb::Entry root;
  root.name = u"Root Entry";
  root.type = cfb::EntryType::kRoot;
  // The class of an Excel workbook, {00020820-0000-0000-C000-000000000046}.
  root.clsid = {0x20, 0x08, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00,
                0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};
  root.children = {1};
  cfb::Entry stream;
  stream.name = u"Workbook";
  c.entries.push_back(std::move(root));
  c.entries.push_back(std::move(stream));
  b.workbookEntry = 1;
  return wb;
}

Result<std::unique_ptr<WorkbookImpl>> ParseBiff(std::span<const uint8_t> file,
                                                const LoadLimits& limits) {
  auto cf = cfb::Parse(file, u"Workbook");
  if (!cf) return cf.error();
  // An encrypted Office Open XML package travels in a compound file.
  if (cf->FindChild(0, u"EncryptedPackage") >= 0 || cf->FindChild(0, u"EncryptionInfo") >= 0)
    return Fail(
        "the workbook is encrypted (protected by a password to open); "
        "encrypted workbooks are not supported");
  auto wb = std::make_unique<WorkbookImpl>(FileFormat::kXls);
  auto book = std::make_unique<BiffBook>(*wb);
  BiffBook& impl = *book;
  wb->book = std::move(book);
  impl.container = std::move(*cf);
  long idx = impl.container.FindChild(0, u"Workbook");
  if (idx < 0) {
    if (impl.container.FindChild(0, u"Book") >= 0)
      return Fail(
          "this is an Excel 5.0/95 workbook; only Excel 97-2003 (BIFF8) workbooks can be read");
    return Fail("not a workbook: the file has no Workbook stream");
  }
  if (impl.container.entries[static_cast<size_t>(idx)].type != cfb::EntryType::kStream)
    return Fail("not a workbook: Workbook is not a stream");
  // A file that also carries an Excel 5.0 copy of the workbook: that copy would
  // go stale with the first change, so it is not kept.
  long bookEntry = impl.container.FindChild(0, u"Book");
  if (bookEntry >= 0) {
    auto& kids = impl.container.entries[0].children;
    kids.erase(std::remove(kids.begin(), kids.end(), static_cast<size_t>(bookEntry)), kids.end());
    impl.container.entries[static_cast<size_t>(bookEntry)].data.clear();
  }
  impl.workbookEntry = idx;
  auto& entry = impl.container.entries[static_cast<size_t>(idx)];
  Bytes stream = std::move(entry.data);
  entry.data.clear();
  std::span<const uint8_t> view =
      entry.view.empty() ? std::span<const uint8_t>(stream) : entry.view;
  entry.view = {};  // the image it points into goes when this call returns
  if (auto st = ParseWorkbookStream(view, *wb, limits); !st) return st.error();
  return wb;
}

}  // namespace migrator::xls::detail
