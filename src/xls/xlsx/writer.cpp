// Writes the model as an .xlsx package: the parts the engine models written
// anew (the worksheets produced row by row while they are compressed), the
// others as they were read.

#include <algorithm>
#include <charconv>
#include <cstring>
#include <memory>
#include <type_traits>

#include "xls/unicode.h"
#include "xls/xlsx/book.h"
#include "xls/xlsx/zip.h"

namespace migrator::xls::xlsx {

namespace {

// A worksheet or the string table is made in pieces of about this size.
constexpr size_t kPiece = 256 * 1024;

std::string MainPrefix(const XmlNode& root) {
  const size_t colon = root.qname.find(':');
  return colon == std::string::npos ? "" : root.qname.substr(0, colon + 1);
}

// The prefix a tree's root gives the relationships namespace, declared there
// when it has none.
std::string RelPrefix(XmlNode& root) {
  for (const auto& a : root.attrs)
    if (a.value == ns::kRel && a.qname.substr(0, 6) == "xmlns:") return a.qname.substr(6) + ":";
  for (int n = 0;; ++n) {
    std::string p = n ? "r" + std::to_string(n) : "r";
    if (!root.Attr("xmlns:" + p)) {
      root.attrs.push_back({"xmlns:" + p, {}, std::string(ns::kRel)});
      return p + ":";
    }
  }
}

// Text of the pool as cell text in a part: escaped, and what XML cannot
// hold written as _xHHHH_ (see AppendCellText).
void AppendPoolText(const detail::PoolText& s, std::string& out) {
  auto plain = [](auto chars) {
    for (auto ch : chars) {
      const auto c = static_cast<std::make_unsigned_t<decltype(ch)>>(ch);
      if (c < 0x20 || c > 0x7E || c == '&' || c == '<' || c == '>' || c == '_') return false;
    }
    return true;
  };
  if (!s.wide() && plain(s.narrowChars())) {
    out += s.narrowChars();
    return;
  }
  AppendCellText(s.Utf8(), out);
}

bool PoolNeedsPreserve(const detail::PoolText& s) {
  if (s.empty()) return false;
  auto blank = [](char16_t c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
  return blank(s[0]) || blank(s[s.size() - 1]);
}

// The bytes of a piece of a part. Cells are written through a pointer into
// room made for their longest form, then trimmed to what was written: no
// per-character bookkeeping, and no bytes cleared first.
class Buffer {
 public:
  // Room for at least `n` more bytes after what is held; write there and
  // then Commit the end of what was written. Room may move what is held.
  char* Room(size_t n) {
    if (cap_ - size_ < n) Grow(n);
    return data_.get() + size_;
  }
  void Commit(char* end) { size_ = static_cast<size_t>(end - data_.get()); }

  Buffer& operator+=(std::string_view s) {
    Commit(Put(Room(s.size()), s));
    return *this;
  }
  Buffer& operator+=(char c) {
    char* p = Room(1);
    *p = c;
    Commit(p + 1);
    return *this;
  }
  void Int(uint64_t v) {
    char* p = Room(24);
    Commit(std::to_chars(p, p + 24, v).ptr);
  }
  // As AppendNumber writes it.
  void Number(double v) {
    char* p = Room(kNumberRoom);
    Commit(std::to_chars(p, p + kNumberRoom, v).ptr);
  }
  // What a writer of the XML helpers appends.
  template <class F>
  void Via(F&& f) {
    scratch_.clear();
    f(scratch_);
    *this += scratch_;
  }

  void clear() { size_ = 0; }
  size_t size() const { return size_; }
  std::string_view view() const { return {data_.get(), size_}; }

  static char* Put(char* p, std::string_view s) {
    std::memcpy(p, s.data(), s.size());
    return p + s.size();
  }
  // The longest shortest form of a double ("-1.2345678901234567e-308").
  static constexpr size_t kNumberRoom = 32;

 private:
  void Grow(size_t n) {
    const size_t cap = std::max(cap_ * 2, size_ + n + 4096);
    auto bigger = std::make_unique_for_overwrite<char[]>(cap);
    if (size_) std::memcpy(bigger.get(), data_.get(), size_);
    data_ = std::move(bigger);
    cap_ = cap;
  }
  std::unique_ptr<char[]> data_;
  size_t size_ = 0, cap_ = 0;
  std::string scratch_;
};

// A worksheet, made row by row while it is compressed.
class SheetWriter {
 public:
  SheetWriter(const WorkbookImpl& wb, const SheetModel& m, size_t index)
      : wb_(wb), m_(m), x_(Xlsx(m)), index_(index), prefix_(MainPrefix(x_.root)) {}

  // The next piece of the part, about kPiece long; empty at its end. Only
  // the piece being compressed is held.
  Result<std::string_view> Next() {
    buf_.clear();
    while (!done_ && buf_.size() < kPiece)
      Fill();
    return buf_.view();
  }

 private:
  void Tag(std::string_view local) {
    buf_ += prefix_;
    buf_ += local;
  }

  void Fill() {
    if (!started_) {
      started_ = true;
      buf_ += kXmlDeclaration;
      buf_.Via([&](std::string& o) { AppendStartTag(x_.root, o); });
    }
    while (buf_.size() < kPiece) {
      if (inData_) {
        Rows();
        if (inData_) return;
        continue;
      }
      if (next_ >= x_.elements.size()) {
        buf_ += "</";
        buf_ += x_.root.qname;
        buf_ += '>';
        done_ = true;
        return;
      }
      const SheetElement& e = x_.elements[next_++];
      switch (e.kind) {
        case SheetElement::kKept:
        case SheetElement::kFormatPr:
          buf_.Via([&](std::string& o) { WriteNode(e.node, o); });
          break;
        case SheetElement::kDimension:
          Dimension();
          break;
        case SheetElement::kSheetViews:
          SheetViews(e);
          break;
        case SheetElement::kCols:
          Cols();
          break;
        case SheetElement::kSheetData:
          buf_ += '<';
          Tag("sheetData>");
          inData_ = true;
          break;
        case SheetElement::kMergeCells:
          Merges();
          break;
        case SheetElement::kHyperlinks:
          Hyperlinks(e);
          break;
      }
    }
  }

  void Dimension() {
    buf_ += '<';
    Tag("dimension ref=\"");
    std::optional<Range> used;
    if (!m_.usedDirty && !m_.usedEmpty) used = m_.used;
    if (m_.usedDirty) {
      bool any = false;
      Range r;
      m_.rows.ForEach([&](uint32_t row, const detail::RowRec& rr) {
        if (rr.cells.empty()) return;
        if (!any) {
          r = {row, rr.cells.front().col, row, rr.cells.back().col};
          any = true;
        }
        r.lastRow = row;
        r.firstCol = std::min<uint32_t>(r.firstCol, rr.cells.front().col);
        r.lastCol = std::max<uint32_t>(r.lastCol, rr.cells.back().col);
      });
      if (any) used = r;
    }
    buf_ += used ? RangeName(*used) : "A1";
    buf_ += "\"/>";
  }

  void SheetViews(const SheetElement& e) {
    const bool tab = wb_.selectionDirty;
    const bool panes = m_.selectionsReplaced;
    if (!tab && !panes && !e.node.children.empty()) {
      buf_.Via([&](std::string& o) { WriteNode(e.node, o); });
      return;
    }
    XmlNode n = e.node;
    XmlNode* view = n.Child(ns::kMain, "sheetView");
    if (!view) {
      XmlNode v;
      v.uri = ns::kMain;
      v.local = "sheetView";
      v.qname = prefix_ + "sheetView";
      v.SetAttr("workbookViewId", "0");
      n.children.push_back(std::move(v));
      view = &n.children.back();
    }
    if (tab || panes) {
      if (index_ == wb_.activeSheet)
        view->SetAttr("tabSelected", "1");
      else
        view->RemoveAttr("tabSelected");
    }
    if (panes) {
      std::erase_if(view->children,
                    [](const XmlNode& c) { return c.local == "pane" || c.local == "selection"; });
      if (m_.hasPane && m_.frozen) {
        const char* active = m_.pane.x && m_.pane.y ? "bottomRight"
                             : m_.pane.y            ? "bottomLeft"
                                                    : "topRight";
        XmlNode pane;
        pane.uri = ns::kMain;
        pane.local = "pane";
        pane.qname = prefix_ + "pane";
        if (m_.pane.x) pane.SetAttr("xSplit", std::to_string(m_.pane.x));
        if (m_.pane.y) pane.SetAttr("ySplit", std::to_string(m_.pane.y));
        std::string topLeft;
        AppendCellRef(m_.pane.rwTop, m_.pane.colLeft, topLeft);
        pane.SetAttr("topLeftCell", topLeft);
        pane.SetAttr("activePane", active);
        pane.SetAttr("state", "frozen");
        XmlNode sel;
        sel.uri = ns::kMain;
        sel.local = "selection";
        sel.qname = prefix_ + "selection";
        sel.SetAttr("pane", active);
        sel.SetAttr("activeCell", topLeft);
        sel.SetAttr("sqref", topLeft);
        view->children.insert(view->children.begin(), std::move(sel));
        view->children.insert(view->children.begin(), std::move(pane));
      }
    }
    buf_.Via([&](std::string& o) { WriteNode(n, o); });
  }

  void Cols() {
    if (!m_.cols.any()) return;
    const size_t n = std::min<size_t>(m_.cols.size(), wb_.limits.columns);
    bool any = false;
    for (size_t c = 0; c < n;) {
      const detail::ColInfo& ci = m_.cols[c];
      size_t e = c;
      while (e + 1 < n && m_.cols[e + 1].set == ci.set && m_.cols[e + 1].width == ci.width &&
             m_.cols[e + 1].xf == ci.xf && m_.cols[e + 1].flags == ci.flags)
        ++e;
      if (ci.set) {
        if (!any) {
          buf_ += '<';
          Tag("cols>");
          any = true;
        }
        buf_ += '<';
        Tag("col min=\"");
        buf_.Int(c + 1);
        buf_ += "\" max=\"";
        buf_.Int(e + 1);
        buf_ += "\" width=\"";
        buf_.Number(ci.width);
        buf_ += '"';
        if (ci.xf) {
          buf_ += " style=\"";
          buf_.Int(ci.xf);
          buf_ += '"';
        }
        if (ci.flags & detail::kColHidden) buf_ += " hidden=\"1\"";
        if (ci.flags & detail::kColBestFit) buf_ += " bestFit=\"1\"";
        if (ci.flags & detail::kColCustomWidth) buf_ += " customWidth=\"1\"";
        if (ci.flags & detail::kColPhonetic) buf_ += " phonetic=\"1\"";
        if (const unsigned level = (ci.flags & detail::kColOutlineMask) >> 8) {
          buf_ += " outlineLevel=\"";
          buf_.Int(level);
          buf_ += '"';
        }
        if (ci.flags & detail::kColCollapsed) buf_ += " collapsed=\"1\"";
        buf_ += "/>";
      }
      c = e + 1;
    }
    if (any) {
      buf_ += "</";
      Tag("cols>");
    }
  }

  void Merges() {
    if (m_.merges.empty()) return;
    buf_ += '<';
    Tag("mergeCells count=\"");
    buf_.Int(m_.merges.size());
    buf_ += "\">";
    for (const Range& r : m_.merges) {
      buf_ += '<';
      Tag("mergeCell ref=\"");
      buf_ += RangeName(r);
      buf_ += "\"/>";
    }
    buf_ += "</";
    Tag("mergeCells>");
  }

  void Hyperlinks(const SheetElement& e) {
    if (x_.hyperlinks.empty()) return;
    XmlNode n = e.node;
    n.children.clear();
    for (const auto& h : x_.hyperlinks)
      n.children.push_back(h.node);
    buf_.Via([&](std::string& o) { WriteNode(n, o); });
  }

  void Rows() {
    uint32_t row;
    while (buf_.size() < kPiece) {
      const detail::RowRec* rr = m_.rows.Next(cursor_, row);
      if (!rr) {
        buf_ += "</";
        Tag("sheetData>");
        inData_ = false;
        return;
      }
      if (rr->cells.empty() && !rr->hasInfo) continue;
      Row(row, *rr);
    }
  }

  void Row(uint32_t row, const detail::RowRec& rr) {
    // The row's number, which every cell's reference ends with.
    rowText_.clear();
    AppendInt(uint64_t{row} + 1, rowText_);
    buf_ += '<';
    Tag("row r=\"");
    buf_ += rowText_;
    buf_ += '"';
    if (rr.hasInfo) {
      if (rr.flags & detail::kRowHasFormat) {
        buf_ += " s=\"";
        buf_.Int(rr.xf);
        buf_ += "\" customFormat=\"1\"";
      }
      const bool custom = rr.flags & detail::kRowCustomHeight;
      if (custom || rr.height != m_.defaultRowHeight) {
        buf_ += " ht=\"";
        buf_.Number(rr.height / 20.0);
        buf_ += '"';
        if (custom) buf_ += " customHeight=\"1\"";
      }
      if (rr.flags & detail::kRowHidden) buf_ += " hidden=\"1\"";
      if (const unsigned level = rr.flags & detail::kRowOutlineMask) {
        buf_ += " outlineLevel=\"";
        buf_.Int(level);
        buf_ += '"';
      }
      if (rr.flags & detail::kRowCollapsed) buf_ += " collapsed=\"1\"";
      if (rr.xfBits & detail::kRowThickTop) buf_ += " thickTop=\"1\"";
      if (rr.xfBits & detail::kRowThickBottom) buf_ += " thickBot=\"1\"";
      if (rr.xfBits & detail::kRowPhonetic) buf_ += " ph=\"1\"";
    }
    if (rr.cells.empty()) {
      buf_ += "/>";
      return;
    }
    buf_ += '>';
    for (const CellRec& c : rr.cells)
      Cell(row, c);
    buf_ += "</";
    Tag("row>");
  }

  void AppendValue(const xls::Value& v) {
    switch (v.kind) {
      case xls::Value::Kind::kNumber:
        buf_.Number(v.number);
        break;
      case xls::Value::Kind::kText:
        buf_.Via([&](std::string& o) { AppendCellText(v.text, o); });
        break;
      case xls::Value::Kind::kBoolean:
        buf_ += v.boolean ? '1' : '0';
        break;
      case xls::Value::Kind::kError:
        buf_ += ErrorText(v.error);
        break;
      case xls::Value::Kind::kEmpty:
        break;
    }
  }

  // A cell. Numbers, blanks and plain texts, most of what a sheet holds, are
  // written through a pointer into room made for their longest form; the
  // others take the general way (Other).
  void Cell(uint32_t row, const CellRec& c) {
    std::string_view text;  // a plain text's characters
    bool preserve = false;
    switch (c.kind) {
      case CellKind::kBlank:
      case CellKind::kNumber:
        break;
      case CellKind::kText:
        if (PlainText(c.aux, text, preserve)) break;
        [[fallthrough]];
      default:
        Other(row, c);
        return;
    }
    if (!x_.cellAttrs.empty() && x_.cellAttrs.count(XlsxSheet::CellKey(row, c.col))) {
      Other(row, c);
      return;
    }
    char* p = buf_.Room(cellRoom_ + text.size());
    *p++ = '<';
    p = Tag(p, "c r=\"");
    p = Letters(p, c.col);
    p = Buffer::Put(p, rowText_);
    *p++ = '"';
    if (c.xf) {
      p = Buffer::Put(p, " s=\"");
      p = std::to_chars(p, p + 8, c.xf).ptr;
      *p++ = '"';
    }
    switch (c.kind) {
      case CellKind::kBlank:
        p = Buffer::Put(p, "/>");
        break;
      case CellKind::kNumber:
        p = Buffer::Put(p, "><");
        p = Tag(p, "v>");
        p = std::to_chars(p, p + Buffer::kNumberRoom, c.num).ptr;
        p = Buffer::Put(p, "</");
        p = Tag(p, "v></");
        p = Tag(p, "c>");
        break;
      default:
        p = Buffer::Put(p, " t=\"inlineStr\"><");
        p = Tag(p, "is><");
        p = Tag(p, preserve ? "t xml:space=\"preserve\">" : "t>");
        p = Buffer::Put(p, text);
        p = Buffer::Put(p, "</");
        p = Tag(p, "t></");
        p = Tag(p, "is></");
        p = Tag(p, "c>");
        break;
    }
    buf_.Commit(p);
  }

  // The pool's text `index` when it goes into a cell as it is (no rich runs,
  // nothing to escape), and whether its blanks at either end need keeping.
  bool PlainText(uint32_t index, std::string_view& text, bool& preserve) const {
    if (const auto* extra = wb_.sst.ExtraOf(index); extra && !extra->runs.empty()) return false;
    const detail::PoolText t = wb_.sst.Text(index);
    if (t.wide()) return false;
    for (const char ch : t.narrowChars()) {
      const auto u = static_cast<unsigned char>(ch);
      if (u < 0x20 || u > 0x7E || u == '&' || u == '<' || u == '>' || u == '_') return false;
    }
    text = t.narrowChars();
    preserve = PoolNeedsPreserve(t);
    return true;
  }

  char* Tag(char* p, std::string_view local) const {
    if (!prefix_.empty()) p = Buffer::Put(p, prefix_);
    return Buffer::Put(p, local);
  }

  // The column's letters ("A", "AB", "XFD").
  static char* Letters(char* p, uint32_t col) {
    char letters[4];
    size_t n = 0;
    for (uint32_t k = col + 1u; k > 0 && n < sizeof letters; k = (k - 1) / 26)
      letters[n++] = static_cast<char>('A' + (k - 1) % 26);
    while (n > 0)
      *p++ = letters[--n];
    return p;
  }

  void Other(uint32_t row, const CellRec& c) {
    buf_ += '<';
    Tag("c r=\"");
    buf_.Commit(Letters(buf_.Room(4), c.col));
    buf_ += rowText_;
    buf_ += '"';
    if (c.xf) {
      buf_ += " s=\"";
      buf_.Int(c.xf);
      buf_ += '"';
    }
    const xls::Value* fv = nullptr;
    switch (c.kind) {
      case CellKind::kText:
        buf_ += " t=\"inlineStr\"";
        break;
      case CellKind::kBool:
        buf_ += " t=\"b\"";
        break;
      case CellKind::kError:
        buf_ += " t=\"e\"";
        break;
      case CellKind::kFormula:
        fv = &x_.formulas[c.aux].value;
        if (fv->kind == xls::Value::Kind::kText) buf_ += " t=\"str\"";
        if (fv->kind == xls::Value::Kind::kBoolean) buf_ += " t=\"b\"";
        if (fv->kind == xls::Value::Kind::kError) buf_ += " t=\"e\"";
        break;
      default:
        break;
    }
    if (!x_.cellAttrs.empty())
      if (auto it = x_.cellAttrs.find(XlsxSheet::CellKey(row, c.col)); it != x_.cellAttrs.end())
        buf_ += it->second;
    switch (c.kind) {
      case CellKind::kBlank:
        buf_ += "/>";
        return;
      case CellKind::kNumber:
        buf_ += '>';
        Tag_v();
        buf_.Number(c.num);
        break;
      case CellKind::kText:
        InlineText(c.aux);
        return;
      case CellKind::kBool:
        buf_ += '>';
        Tag_v();
        buf_ += c.aux ? '1' : '0';
        break;
      case CellKind::kError:
        buf_ += '>';
        Tag_v();
        buf_ += ErrorText(static_cast<uint8_t>(c.aux));
        break;
      case CellKind::kFormula: {
        const Formula& f = x_.formulas[c.aux];
        buf_ += '>';
        XmlNode tag = f.f;
        if (tag.qname.empty()) {
          tag.uri = ns::kMain;
          tag.local = "f";
          tag.qname = prefix_ + "f";
        }
        if (f.text.empty()) {
          buf_.Via([&](std::string& o) { WriteNode(tag, o); });
        } else {
          buf_.Via([&](std::string& o) { AppendStartTag(tag, o); });
          buf_.Via([&](std::string& o) { AppendEscaped(f.text, o, false); });
          buf_ += "</";
          buf_ += tag.qname;
          buf_ += '>';
        }
        if (fv->kind == xls::Value::Kind::kEmpty) {
          buf_ += "</";
          Tag("c>");
          return;
        }
        Tag_v();
        AppendValue(*fv);
        break;
      }
    }
    buf_ += "</";
    Tag("v></");
    Tag("c>");
  }

  // Texts go in their cells: a save then needs no table of them, and its
  // time and memory follow the cells alone.
  void InlineText(uint32_t text) {
    const auto& pool = wb_.sst;
    if (const auto* extra = pool.ExtraOf(text); extra && !extra->runs.empty()) {
      // Rich text as read, its elements in the default namespace.
      buf_ += "><";
      Tag("is");
      if (!prefix_.empty()) {
        buf_ += " xmlns=\"";
        buf_ += ns::kMain;
        buf_ += '"';
      }
      buf_ += '>';
      buf_ +=
          std::string_view(reinterpret_cast<const char*>(extra->runs.data()), extra->runs.size());
    } else {
      buf_ += "><";
      Tag("is>");
      const detail::PoolText t = pool.Text(text);
      buf_ += '<';
      Tag(PoolNeedsPreserve(t) ? "t xml:space=\"preserve\">" : "t>");
      buf_.Via([&](std::string& o) { AppendPoolText(t, o); });
      buf_ += "</";
      Tag("t>");
    }
    buf_ += "</";
    Tag("is></");
    Tag("c>");
  }

  void Tag_v() {
    buf_ += '<';
    Tag("v>");
  }

  const WorkbookImpl& wb_;
  const SheetModel& m_;
  const XlsxSheet& x_;
  size_t index_;
  std::string prefix_;
  Buffer buf_;
  size_t next_ = 0;
  bool started_ = false, inData_ = false, done_ = false;
  detail::RowTable::Cursor cursor_;
  std::string rowText_;  // the number of the row being written
  // Room for the longest cell Cell writes, its text aside.
  size_t cellRoom_ = 128 + 8 * prefix_.size();
};

}  // namespace

Status XlsxBook::Prepare() const {
  if (wb_.sheets.empty()) return Fail("a workbook needs at least one sheet");
  return {};
}

Status XlsxBook::Write(Output& out) const {
  const WorkbookImpl& wb = wb_;
  ContentTypes t = types;
  Relationships wrels = workbookRels;
  auto freeName = [&](std::string_view wanted, std::string_view prefix) {
    return PartTaken(wanted) ? NewPartName(prefix, ".xml") : std::string(wanted);
  };
  auto ensureRel = [&](const std::string& type, const std::string& part) {
    const std::string target = RelativeTarget(workbookPart, part);
    for (const auto& r : wrels.list)
      if (r.type == type) return;
    wrels.list.push_back({wrels.NewId(), type, target, false});
  };
  const std::string stylesName =
      stylesPart.empty() ? freeName("xl/styles.xml", "xl/styles") : stylesPart;
  ensureRel(rel::kStyles, stylesName);
  t.Set(stylesName, ct::kStyles);
  // Texts are written in their cells (see SheetWriter::InlineText): a
  // shared strings part read goes.
  std::erase_if(wrels.list, [](const Relationship& r) { return r.type == rel::kSharedStrings; });
  if (!stringsPart.empty()) t.Remove(stringsPart);

  // The workbook part: its sheets, defined names and active sheet.
  XmlNode book = workbook;
  const std::string relPrefix = RelPrefix(book);
  const std::string prefix = MainPrefix(book);
  auto element = [&](const char* local) {
    XmlNode n;
    n.uri = ns::kMain;
    n.local = local;
    n.qname = prefix + local;
    return n;
  };
  static const char* const kOrder[] = {"fileVersion",    "fileSharing",
                                       "workbookPr",     "workbookProtection",
                                       "bookViews",      "sheets",
                                       "functionGroups", "externalReferences",
                                       "definedNames",   "calcPr",
                                       "oleSize",        "customWorkbookViews",
                                       "pivotCaches",    "smartTagPr",
                                       "smartTagTypes",  "webPublishing",
                                       "fileRecoveryPr", "webPublishObjects",
                                       "extLst"};
  auto rank = [](std::string_view local) {
    for (size_t i = 0; i < std::size(kOrder); ++i)
      if (local == kOrder[i]) return static_cast<int>(i);
    return -1;
  };
  auto place = [&](const char* local) -> XmlNode& {
    if (XmlNode* n = book.Child(ns::kMain, local)) return *n;
    const int want = rank(local);
    size_t at = book.children.size();
    for (size_t i = 0; i < book.children.size(); ++i)
      if (rank(book.children[i].local) > want) {
        at = i;
        break;
      }
    book.children.insert(book.children.begin() + static_cast<long>(at), element(local));
    return book.children[at];
  };
  XmlNode& sheets = place("sheets");
  sheets.children.clear();
  for (size_t i = 0; i < wb.sheets.size(); ++i) {
    const SheetModel& m = wb.model(i);
    XmlNode s = element("sheet");
    s.SetAttr("name", Utf16ToUtf8(m.name));
    s.SetAttr("sheetId", std::to_string(m.tabId));
    if (m.visibility == 1) s.SetAttr("state", "hidden");
    if (m.visibility == 2) s.SetAttr("state", "veryHidden");
    s.SetAttr(relPrefix + "id", Xlsx(m).relId);
    sheets.children.push_back(std::move(s));
  }
  if (names.empty()) {
    std::erase_if(book.children, [](const XmlNode& c) { return c.Is(ns::kMain, "definedNames"); });
  } else {
    XmlNode& list = place("definedNames");
    list.children.clear();
    for (const auto& n : names) {
      XmlNode d = n.node;
      d.attrs.insert(d.attrs.begin(), {"name", {}, n.name});
      if (n.localSheetId) d.SetAttr("localSheetId", std::to_string(*n.localSheetId));
      XmlNode text;
      text.text = n.text;
      d.children.push_back(std::move(text));
      list.children.push_back(std::move(d));
    }
  }
  if (wb.activeSheet != 0 || book.Child(ns::kMain, "bookViews")) {
    XmlNode& views = place("bookViews");
    XmlNode* v = views.Child(ns::kMain, "workbookView");
    if (!v) {
      views.children.push_back(element("workbookView"));
      v = &views.children.back();
    }
    if (wb.activeSheet)
      v->SetAttr("activeTab", std::to_string(wb.activeSheet));
    else
      v->RemoveAttr("activeTab");
    uint64_t first = 0;
    if (const std::string* s = v->Attr("firstSheet");
        s && ParseUint(*s, first) && first >= wb.sheets.size())
      v->RemoveAttr("firstSheet");
  }
  std::string bookXml(kXmlDeclaration);
  WriteNode(book, bookXml);

  // The package.
  ZipWriter z(out);
  const std::string typesXml = t.Write();
  const std::string rootXml = rootRels.Write();
  const std::string wrelsXml = wrels.Write();
  const std::string stylesXml = styles.Write();
  std::vector<std::string> sheetRels(wb.sheets.size());
  std::vector<std::unique_ptr<SheetWriter>> sheetWriters;
  Status st;
  auto add = [&](const std::string& name, std::string_view bytes) {
    if (st) st = z.Add(name, bytes);
  };
  add("[Content_Types].xml", typesXml);
  add("_rels/.rels", rootXml);
  add(workbookPart, bookXml);
  add(RelsPartOf(workbookPart), wrelsXml);
  add(stylesName, stylesXml);
  for (size_t i = 0; i < wb.sheets.size() && st; ++i) {
    const SheetModel& m = wb.model(i);
    const XlsxSheet& x = Xlsx(m);
    if (!m.modeled) continue;
    sheetWriters.push_back(std::make_unique<SheetWriter>(wb, m, i));
    SheetWriter* w = sheetWriters.back().get();
    st = z.AddPieces(x.part, [w] { return w->Next(); });
    if (!x.rels.list.empty()) {
      sheetRels[i] = x.rels.Write();
      add(RelsPartOf(x.part), sheetRels[i]);
    }
  }
  for (const auto& p : carried)
    add(p.name, p.bytes);
  if (!st) return st;
  return z.Finish();
}

std::unique_ptr<WorkbookImpl> NewWorkbook() {
  auto wb = std::make_unique<WorkbookImpl>(FileFormat::kXlsx);
  auto book = std::make_unique<XlsxBook>(*wb);
  XlsxBook& b = *book;
  wb->book = std::move(book);
  b.types.defaults = {{"rels", ct::kRelationships}, {"xml", "application/xml"}};
  b.types.Set("xl/workbook.xml", ct::kWorkbook);
  b.types.Set("docProps/core.xml", ct::kCore);
  b.types.Set("docProps/app.xml", ct::kApp);
  b.rootRels.list = {{"rId1", rel::kOfficeDocument, "xl/workbook.xml", false},
                     {"rId2", rel::kCoreProperties, "docProps/core.xml", false},
                     {"rId3", rel::kExtendedProperties, "docProps/app.xml", false}};
  b.carried.push_back(
      {"docProps/core.xml",
       std::string(kXmlDeclaration) +
           "<cp:coreProperties "
           "xmlns:cp=\"http://schemas.openxmlformats.org/package/2006/metadata/core-properties\" "
           "xmlns:dc=\"http://purl.org/dc/elements/1.1/\"><dc:creator>Migrator</dc:creator>"
           "</cp:coreProperties>"});
  b.carried.push_back(
      {"docProps/app.xml",
       std::string(kXmlDeclaration) +
           "<Properties "
           "xmlns=\"http://schemas.openxmlformats.org/officeDocument/2006/extended-properties\">"
           "<Application>Migrator</Application></Properties>"});
  auto tree = ParseTree(
      "<workbook xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" "
      "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\">"
      "<workbookPr/><bookViews><workbookView/></bookViews><sheets/></workbook>",
      "a new workbook");
  if (tree) b.workbook = std::move(*tree);
  b.styles = Styles::New();
  return wb;
}

}  // namespace migrator::xls::xlsx
