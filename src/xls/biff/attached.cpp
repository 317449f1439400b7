// What is attached to a sheet's cells besides their values: comments,
// hyperlinks and merged ranges, listed and removed by block of cells.
//
// Comments and hyperlinks are kept as the records they were read from. A
// hyperlink is one HLINK record (and its HLINKTOOLTIP). A comment is a NOTE
// record naming its cell and an object id, and a shape of the sheet's drawing:
// the drawing is one OfficeArt container split over the MSODRAWING records of
// the sheet, and each shape's OBJ record follows the MSODRAWING record that
// ends with the shape's client data, its TXO record (and the text in CONTINUE
// records) the one that ends with its client text box. Removing a comment
// cuts its shape out of that container, with the records between its parts.

#include <algorithm>

#include "xls/biff/book.h"

namespace migrator::xls::detail {

namespace {

constexpr uint16_t kNote = 0x001C;
constexpr uint16_t kObj = 0x005D;
constexpr uint16_t kMsoDrawing = 0x00EC;
constexpr uint16_t kTxo = 0x01B6;
constexpr uint16_t kHlink = 0x01B8;
constexpr uint16_t kHlinkTooltip = 0x0800;

// OfficeArt record types.
constexpr uint16_t kDgContainer = 0xF002;
constexpr uint16_t kSpgrContainer = 0xF003;
constexpr uint16_t kFdg = 0xF008;
constexpr uint16_t kClientData = 0xF011;

constexpr uint16_t kObjNote = 0x0019;  // ftCmo object type of a comment

bool Overlaps(const Range& a, const Range& b) {
  return !(a.lastRow < b.firstRow || a.firstRow > b.lastRow || a.lastCol < b.firstCol ||
           a.firstCol > b.lastCol);
}

// For each item: true when it is one of the sheet's own records, not part of
// a substream embedded in it (a chart's records) nor the sheet's BOF or EOF.
std::vector<bool> OwnRecords(const BiffSheet& m) {
  std::vector<bool> own(m.items.size(), false);
  int depth = 0;
  for (size_t i = 0; i < m.items.size(); ++i) {
    const SheetItem& it = m.items[i];
    if (it.kind == SlotKind::kRaw && it.rec.type == rt::kBof) {
      ++depth;
      continue;
    }
    if (it.kind == SlotKind::kRaw && it.rec.type == rt::kEof) {
      --depth;
      continue;
    }
    own[i] = depth == 1;
  }
  return own;
}

bool IsRaw(const SheetItem& it, uint16_t type) {
  return it.kind == SlotKind::kRaw && it.rec.type == type;
}

// The block of cells at the start of an HLINK record (or after the record
// type in an HLINKTOOLTIP).
std::optional<Range> LinkRange(const Bytes& d, size_t at) {
  if (d.size() < at + 8) return std::nullopt;
  const uint8_t* p = d.data() + at;
  return Range{Get16(p), Get16(p + 4), Get16(p + 2), Get16(p + 6)};
}

struct NoteRef {
  size_t item = 0;
  uint32_t row = 0;
  uint32_t col = 0;
  uint16_t objId = 0;
};

std::vector<NoteRef> Notes(const BiffSheet& m, const std::vector<bool>& own) {
  std::vector<NoteRef> notes;
  for (size_t i = 0; i < m.items.size(); ++i) {
    if (!own[i] || !IsRaw(m.items[i], kNote) || m.items[i].rec.data.size() < 8) continue;
    const uint8_t* p = m.items[i].rec.data.data();
    notes.push_back({i, Get16(p), Get16(p + 2), Get16(p + 6)});
  }
  return notes;
}

// The sheet's drawing: its MSODRAWING records joined, with where each lies.
struct Drawing {
  struct Part {
    size_t item = 0;
    size_t begin = 0, end = 0;  // in `bytes`
  };
  std::vector<Part> parts;
  Bytes bytes;
  size_t fdg = 0;         // FDG record data, 0 when none
  size_t spgr = 0;        // the shape group container's header
  size_t firstShape = 0;  // just past the group's own shape
  size_t shapesEnd = 0;
};

struct OfficeArtHeader {
  uint16_t verInst = 0;
  uint16_t type = 0;
  uint32_t length = 0;
  bool container() const { return (verInst & 0x000F) == 0x000F; }
};

bool ReadHeader(const Bytes& b, size_t at, size_t end, OfficeArtHeader& h) {
  if (at + 8 > end) return false;
  h.verInst = Get16(b.data() + at);
  h.type = Get16(b.data() + at + 2);
  h.length = Get32(b.data() + at + 4);
  return h.length <= end - at - 8;
}

// Joins the MSODRAWING records and finds the shape group in them. False when
// the drawing is not laid out as spreadsheet programs write it.
bool ReadDrawing(const BiffSheet& m, const std::vector<bool>& own, Drawing& d) {
  for (size_t i = 0; i < m.items.size(); ++i) {
    if (!own[i] || !IsRaw(m.items[i], kMsoDrawing)) continue;
    // Drawing data continued in CONTINUE records is not followed.
    if (i + 1 < m.items.size() && IsRaw(m.items[i + 1], rt::kContinue)) return false;
    const Bytes& data = m.items[i].rec.data;
    d.parts.push_back({i, d.bytes.size(), d.bytes.size() + data.size()});
    d.bytes.insert(d.bytes.end(), data.begin(), data.end());
  }
  if (d.parts.empty()) return false;
  const Bytes& b = d.bytes;
  OfficeArtHeader dg;
  if (!ReadHeader(b, 0, b.size(), dg) || dg.type != kDgContainer || 8 + dg.length != b.size())
    return false;
  for (size_t at = 8; at < b.size();) {
    OfficeArtHeader h;
    if (!ReadHeader(b, at, b.size(), h)) return false;
    if (h.type == kFdg && h.length >= 8) d.fdg = at + 8;
    if (h.type == kSpgrContainer && !d.spgr) {
      d.spgr = at;
      d.shapesEnd = at + 8 + h.length;
      // The group's own shape comes first.
      OfficeArtHeader first;
      if (!ReadHeader(b, at + 8, d.shapesEnd, first)) return false;
      d.firstShape = at + 16 + first.length;
    }
    at += 8 + h.length;
  }
  return d.spgr != 0;
}

// Where the client data atoms of the shape b[begin, end) end. Groups nest a
// few levels at most; deeper containers are not looked into.
void ClientDataEnds(const Bytes& b, size_t begin, size_t end, std::vector<size_t>& out,
                    int depth = 0) {
  for (size_t at = begin; at < end;) {
    OfficeArtHeader h;
    if (!ReadHeader(b, at, end, h)) return;
    if (h.container()) {
      if (depth < 16) ClientDataEnds(b, at + 8, at + 8 + h.length, out, depth + 1);
    } else if (h.type == kClientData) {
      out.push_back(at + 8 + h.length);
    }
    at += 8 + h.length;
  }
}

// The ftCmo object id and type of an OBJ record.
bool ObjIdentity(const Bytes& d, uint16_t& id, uint16_t& type) {
  if (d.size() < 8 || Get16(d.data()) != 0x0015) return false;
  type = Get16(d.data() + 4);
  id = Get16(d.data() + 6);
  return true;
}

struct Cut {
  size_t begin = 0, end = 0;  // bytes of the drawing
};

// Removes the shapes of the comments with the given object ids from the
// drawing, with the OBJ, TXO and CONTINUE records between their parts. Marks
// the items to drop in `drop` and rewrites the MSODRAWING records left.
// False, with nothing changed, when the drawing cannot be followed.
bool CutShapes(BiffSheet& m, const std::vector<bool>& own, const std::vector<uint16_t>& ids,
               std::vector<bool>& drop) {
  Drawing d;
  if (!ReadDrawing(m, own, d)) return false;
  const Bytes& b = d.bytes;
  auto partEndingAt = [&](size_t pos) -> const Drawing::Part* {
    for (const auto& p : d.parts)
      if (p.end == pos) return &p;
    return nullptr;
  };

  std::vector<Cut> cuts;
  for (size_t at = d.firstShape; at < d.shapesEnd;) {
    OfficeArtHeader h;
    if (!ReadHeader(b, at, d.shapesEnd, h)) return false;
    const size_t end = at + 8 + h.length;
    std::vector<size_t> ends;
    ClientDataEnds(b, at, end, ends);
    // A comment is a shape of its own, with one object.
    if (ends.size() == 1) {
      const Drawing::Part* p = partEndingAt(ends[0]);
      uint16_t id = 0, type = 0;
      if (p && p->item + 1 < m.items.size() && IsRaw(m.items[p->item + 1], kObj) &&
          ObjIdentity(m.items[p->item + 1].rec.data, id, type) && type == kObjNote &&
          std::find(ids.begin(), ids.end(), id) != ids.end())
        cuts.push_back({at, end});
    }
    at = end;
  }
  if (cuts.empty()) return true;

  // The records between the parts of a cut shape go with it: those that
  // follow a part ending inside the shape.
  size_t removed = 0;
  for (const Cut& c : cuts) {
    removed += c.end - c.begin;
    for (const auto& p : d.parts) {
      if (p.end <= c.begin || p.end > c.end) continue;
      bool text = false;
      for (size_t i = p.item + 1; i < m.items.size(); ++i) {
        const SheetItem& it = m.items[i];
        if (IsRaw(it, kObj)) {
          text = false;
        } else if (IsRaw(it, kTxo)) {
          text = true;
        } else if (!(text && IsRaw(it, rt::kContinue))) {
          break;
        }
        drop[i] = true;
      }
    }
  }
  // The containers shrink by what was cut; the drawing has fewer shapes.
  Bytes patched = b;
  Put32(patched.data() + 4, static_cast<uint32_t>(Get32(b.data() + 4) - removed));
  Put32(patched.data() + d.spgr + 4, static_cast<uint32_t>(Get32(b.data() + d.spgr + 4) - removed));
  if (d.fdg) {
    const uint32_t shapes = Get32(b.data() + d.fdg);
    Put32(patched.data() + d.fdg,
          shapes >= cuts.size() ? shapes - static_cast<uint32_t>(cuts.size()) : 0);
  }
  for (const auto& p : d.parts) {
    Bytes kept;
    size_t from = p.begin;
    for (const Cut& c : cuts) {
      if (c.end <= from || c.begin >= p.end) continue;
      if (c.begin > from)
        kept.insert(kept.end(), patched.begin() + from, patched.begin() + c.begin);
      from = std::min(c.end, p.end);
    }
    if (from < p.end) kept.insert(kept.end(), patched.begin() + from, patched.begin() + p.end);
    if (kept.empty())
      drop[p.item] = true;
    else
      m.items[p.item].rec.data = std::move(kept);
  }
  return true;
}

}  // namespace

std::vector<Range> BiffSheet::CommentCells() const {
  std::vector<Range> out;
  for (const NoteRef& n : Notes(*this, OwnRecords(*this)))
    out.push_back({n.row, n.col, n.row, n.col});
  return out;
}

std::vector<Range> BiffSheet::HyperlinkRanges() const {
  std::vector<Range> out;
  const std::vector<bool> own = OwnRecords(*this);
  for (size_t i = 0; i < items.size(); ++i)
    if (own[i] && IsRaw(items[i], kHlink))
      if (auto r = LinkRange(items[i].rec.data, 0)) out.push_back(*r);
  return out;
}

Status BiffSheet::RemoveAttached(const std::string& sheetName, const Range& r) {
  BiffSheet& m = *this;
  const std::vector<bool> own = OwnRecords(m);
  std::vector<bool> drop(m.items.size(), false);

  // Comments: the NOTE records, and the shapes they name.
  std::vector<uint16_t> ids;
  for (const NoteRef& n : Notes(m, own)) {
    if (!r.Contains(n.row, n.col)) continue;
    drop[n.item] = true;
    ids.push_back(n.objId);
  }
  if (!ids.empty() && !CutShapes(m, own, ids, drop)) {
    return Fail("the comments in " + RangeName(r) + " on the sheet " + sheetName +
                " cannot be removed: the sheet's drawing is not in a form this program follows");
  }

  // Hyperlinks and their tool tips.
  for (size_t i = 0; i < m.items.size(); ++i) {
    if (!own[i]) continue;
    const SheetItem& it = m.items[i];
    std::optional<Range> link;
    if (IsRaw(it, kHlink)) link = LinkRange(it.rec.data, 0);
    if (IsRaw(it, kHlinkTooltip)) link = LinkRange(it.rec.data, 2);
    if (!link || !Overlaps(*link, r)) continue;
    drop[i] = true;
    for (size_t k = i + 1; k < m.items.size() && IsRaw(m.items[k], rt::kContinue); ++k)
      drop[k] = true;
  }

  size_t kept = 0;
  for (size_t i = 0; i < m.items.size(); ++i) {
    if (drop[i]) continue;
    if (kept != i) m.items[kept] = std::move(m.items[i]);
    ++kept;
  }
  m.items.resize(kept);
  return {};
}

}  // namespace migrator::xls::detail
