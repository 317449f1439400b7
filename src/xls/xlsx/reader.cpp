// Reads an .xlsx package into the model: the package's structure, the
// workbook part, styles and shared strings, and each worksheet streamed row
// by row from its inflating part. Everything else is carried over as read.

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <set>

#include "xls/unicode.h"
#include "xls/xlsx/book.h"
#include "xls/xlsx/zip.h"

namespace migrator::xls::xlsx {

namespace {

// The largest small part (workbook, styles, relationships...) read whole.
constexpr size_t kMaxSmallPart = size_t{256} << 20;
// Estimates of what the model holds, charged against the load budget.
constexpr size_t kHeapBlock = 16;
constexpr size_t kRowCost = sizeof(detail::RowRec) + 5 * kHeapBlock;
// A text longer than this is not a cell's (a cell holds 32,767 characters;
// some programs write longer ones, which are kept).
constexpr size_t kMaxCellText = size_t{1} << 20;

std::string SizeText(size_t bytes) {
  if (bytes < (size_t{1} << 20)) return std::to_string((bytes + 1023) >> 10) + " KiB";
  return std::to_string((bytes + (1 << 20) - 1) >> 20) + " MiB";
}

const char* const kStrictRefusal =
    "this workbook is saved as strict Office Open XML, which this program does not read; "
    "save it as an ordinary Excel workbook (.xlsx)";

bool IsStrict(std::string_view uri) {
  return uri.substr(0, ns::kStrictPrefix.size()) == ns::kStrictPrefix;
}

uint8_t ErrorCodeOf(std::string_view text) {
  static const std::pair<std::string_view, uint8_t> kErrors[] = {
      {"#NULL!", 0x00}, {"#DIV/0!", 0x07}, {"#VALUE!", 0x0F}, {"#REF!", 0x17},
      {"#NAME?", 0x1D}, {"#NUM!", 0x24},   {"#N/A", 0x2A}};
  for (const auto& [t, code] : kErrors)
    if (t == text) return code;
  return 0x2A;
}

// Days since 1899-12-30 (or 1904-01-01) of an ISO 8601 date and time.
bool IsoToSerial(std::string_view s, bool date1904, double& serial) {
  int y, mo, d, h = 0, mi = 0;
  double sec = 0;
  if (std::sscanf(std::string(s).c_str(), "%d-%d-%dT%d:%d:%lf", &y, &mo, &d, &h, &mi, &sec) < 3 &&
      std::sscanf(std::string(s).c_str(), "%d:%d:%lf", &h, &mi, &sec) < 2)
    return false;
  if (s.find('-') == std::string_view::npos) {
    serial = (h * 3600 + mi * 60 + sec) / 86400.0;
    return true;
  }
  if (mo < 1 || mo > 12 || d < 1 || d > 31) return false;
  // Days from civil (proleptic Gregorian).
  const int yy = y - (mo <= 2 ? 1 : 0);
  const int era = (yy >= 0 ? yy : yy - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(yy - era * 400);
  const unsigned doy =
      (153 * static_cast<unsigned>(mo + (mo > 2 ? -3 : 9)) + 2) / 5 + static_cast<unsigned>(d) - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  const long days = era * 146097L + static_cast<long>(doe) - 719468L;  // since 1970-01-01
  double v = static_cast<double>(days + (date1904 ? 24107 - 1462 : 25569));
  // The 1900 date system counts a 29 February 1900 that never was.
  if (!date1904 && v < 61) v -= 1;
  serial = v + (h * 3600 + mi * 60 + sec) / 86400.0;
  return true;
}

// Attributes by local name (those of the engine's elements have no namespace).
const std::string_view* Find(const std::vector<XmlAttr>& attrs, std::string_view local) {
  for (const auto& a : attrs)
    if (a.name.local == local && a.name.uri.empty()) return &a.value;
  return nullptr;
}

// The text of a string item (<si> or <is>): its <t>, or the <t> of each of
// its runs; `rich` when it holds more than a plain <t>.
std::string RichText(const XmlNode& item, bool& rich) {
  std::string text;
  rich = false;
  for (const auto& c : item.children) {
    if (c.isText()) continue;
    if (c.Is(ns::kMain, "t")) {
      text += c.Text();
      continue;
    }
    rich = true;
    if (c.Is(ns::kMain, "r"))
      for (const auto& t : c.children)
        if (t.Is(ns::kMain, "t")) text += t.Text();
  }
  return text;
}

// The runs of a rich text as the worksheet writes them back in its cell:
// elements of the main namespace without a prefix, whatever prefix the
// part they came from gave it (the cell's <is> declares it the default).
std::string RunsXml(const XmlNode& item) {
  std::string xml;
  std::function<void(const XmlNode&)> write = [&](const XmlNode& n) {
    if (n.isText() || n.uri != ns::kMain) {
      WriteNode(n, xml);
      return;
    }
    XmlNode plain = n;
    plain.qname = n.local;
    plain.children.clear();
    if (n.children.empty()) {
      WriteNode(plain, xml);
      return;
    }
    AppendStartTag(plain, xml);
    for (const auto& c : n.children)
      write(c);
    xml += "</" + n.local + ">";
  };
  for (const auto& k : item.children)
    write(k);
  return xml;
}

class Loader;

// A worksheet, streamed.
class SheetReader : public XmlHandler {
 public:
  SheetReader(Loader& loader, SheetModel& m, XlsxSheet& x, std::string what)
      : L_(loader), m_(m), x_(x), what_(std::move(what)) {}
  void Start(const XmlName& name, const std::vector<XmlAttr>& attrs,
             const std::vector<XmlAttr>& nsDecls) override;
  void End(const XmlName& name) override;
  void Text(std::string_view t) override;
  XmlParser* parser = nullptr;
  bool sawRoot = false;

 private:
  void StartRow(const std::vector<XmlAttr>& attrs);
  void StartCell(const std::vector<XmlAttr>& attrs);
  void EndCell();
  void FlushRow();
  void Finish(XmlNode&& node);
  void Failure(std::string why) {
    if (fault.empty()) fault = what_ + ": " + why;
  }
  std::string CellName() const { return xls::CellName(row_, col_); }

  Loader& L_;
  SheetModel& m_;
  XlsxSheet& x_;
  std::string what_;
  int depth_ = 0;
  // Where in the sheet: the top-level element being kept, or the cell table.
  std::vector<XmlNode*> capture_;
  XmlNode captured_;
  bool inData_ = false;
  // The row and cell being read.
  uint32_t row_ = 0, col_ = 0;
  bool haveRow_ = false;
  long lastCol_ = -1;
  uint32_t nextRow_ = 0;
  std::vector<CellRec> pending_;  // the cells of the row being read
  bool sorted_ = true;            // ... in the order of their columns
  uint32_t pendingRow_ = 0;
  // The cell.
  enum class Type : uint8_t { kNumber, kShared, kInline, kFormulaText, kBool, kError, kDate };
  Type type_ = Type::kNumber;
  uint16_t xf_ = 0;
  bool haveV_ = false, haveF_ = false, haveIs_ = false;
  bool inIs_ = false;
  bool isPlain_ = true;  // the <is> holds one plain <t> (so far)
  int textOf_ = 0;       // 1 <v>, 2 <f>, 3 the <t> of <is>
  std::string v_, f_;
  XmlNode fNode_;
  std::string extra_;  // attributes kept beside the model
  XmlNode isNode_;     // the <is> element as read, when not plain
  std::string isText_;
};

class Loader {
 public:
  Loader(ZipReader& zip, WorkbookImpl& wb, XlsxBook& book, const LoadLimits& limits,
         size_t packageSize)
      : zip_(zip), wb_(wb), b_(book), packageSize_(packageSize) {
    const size_t perByte = limits.bytesPerPackageByte;
    budget_ = perByte && packageSize > (SIZE_MAX - limits.baseBytes) / perByte
                  ? SIZE_MAX
                  : limits.baseBytes + packageSize * perByte;
  }
  Status Run();

  void Charge(size_t bytes) { charged_ += bytes; }
  bool Overdrawn() const { return charged_ > budget_; }
  std::string Refusal() const {
    return "the workbook would need more than " + SizeText(budget_) +
           " of memory to open, far more than a package of " + SizeText(packageSize_) +
           " can hold; it is damaged or made to exhaust memory, and is not opened";
  }
  WorkbookImpl& wb() { return wb_; }
  XlsxBook& book() { return b_; }

 private:
  Result<std::string> ReadSmall(std::string_view part);
  // The name the package gives a part that a relationship names (in any
  // case): what is written back must not become a second entry of it.
  std::string Canonical(const std::string& part) const {
    const long e = zip_.Find(part);
    return e < 0 ? part : zip_.entries()[static_cast<size_t>(e)].name;
  }
  Status ReadStrings(const std::string& part);
  Status ReadSheet(SheetModel& m, XlsxSheet& x);
  Status ReadNames(const XmlNode& definedNames);
  Status ReadComments(XlsxSheet& x);

  ZipReader& zip_;
  WorkbookImpl& wb_;
  XlsxBook& b_;
  size_t packageSize_;
  size_t budget_ = 0;
  size_t charged_ = 0;
  std::set<std::string> modelled_;  // parts written anew, in lower case
};

std::string LowerAscii(std::string_view s) {
  std::string l(s);
  for (char& c : l)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return l;
}

// ---- the worksheet ----

void SheetReader::Start(const XmlName& name, const std::vector<XmlAttr>& attrs,
                        const std::vector<XmlAttr>& nsDecls) {
  ++depth_;
  if (L_.Overdrawn()) {
    fault = L_.Refusal();
    return;
  }
  if (depth_ == 1) {
    if (IsStrict(name.uri)) {
      fault = kStrictRefusal;
      return;
    }
    if (!name.Is(ns::kMain, "worksheet")) {
      Failure("the part is not a worksheet");
      return;
    }
    sawRoot = true;
    x_.root = XmlNode::From(name, attrs, nsDecls);
    return;
  }
  if (inData_) {
    if (depth_ == 3) {
      if (name.Is(ns::kMain, "row")) StartRow(attrs);
      return;
    }
    if (depth_ == 4) {
      if (name.Is(ns::kMain, "c")) StartCell(attrs);
      return;
    }
    if (depth_ == 5) {
      if (name.Is(ns::kMain, "v")) {
        haveV_ = true;
        textOf_ = 1;
        parser->WantText(true);
      } else if (name.Is(ns::kMain, "f")) {
        haveF_ = true;
        textOf_ = 2;
        fNode_ = XmlNode::From(name, attrs);
        parser->WantText(true);
      } else if (name.Is(ns::kMain, "is")) {
        haveIs_ = inIs_ = isPlain_ = true;
        isText_.clear();
        isNode_.children.clear();
        capture_.assign(1, &isNode_);
        parser->WantText(true);
      }
      return;
    }
    if (!inIs_) return;
    // Inline text is mostly one plain <t>: only its text is kept. Anything
    // else is read as a tree, to be written back as read.
    if (depth_ == 6 && isPlain_ && textOf_ == 0 && isNode_.children.empty() && isText_.empty() &&
        name.Is(ns::kMain, "t")) {
      textOf_ = 3;
      return;
    }
    if (isPlain_) {
      isPlain_ = false;
      if (textOf_ == 3 || !isText_.empty()) {
        XmlNode t;
        t.uri = ns::kMain;
        t.local = "t";
        t.qname = "t";
        t.attrs.push_back({"xml:space", std::string(ns::kXml), "preserve"});
        t.children.emplace_back();
        t.children.back().text = isText_;
        isNode_.children.push_back(std::move(t));
      }
      textOf_ = 0;
    }
    capture_.back()->children.push_back(XmlNode::From(name, attrs));
    capture_.push_back(&capture_.back()->children.back());
    return;
  }
  if (depth_ == 2 && name.Is(ns::kMain, "sheetData")) {
    inData_ = true;
    parser->WantText(false);
    x_.elements.push_back({SheetElement::kSheetData, {}});
    return;
  }
  // Any other element is read as a tree.
  XmlNode* n;
  if (depth_ == 2) {
    captured_ = XmlNode::From(name, attrs, nsDecls);
    n = &captured_;
  } else {
    capture_.back()->children.push_back(XmlNode::From(name, attrs, nsDecls));
    n = &capture_.back()->children.back();
  }
  capture_.push_back(n);
  L_.Charge(sizeof(XmlNode) + kHeapBlock + 32 * attrs.size());
}

void SheetReader::Text(std::string_view t) {
  if (inData_) {
    if (inIs_ && textOf_ == 3) {
      if (isText_.size() + t.size() > kMaxCellText * 4) {
        Failure("cell " + CellName() + " holds a text far longer than a cell holds");
        return;
      }
      isText_.append(t);
      return;
    }
    if (inIs_) {
      if (isPlain_) return;
      auto& kids = capture_.back()->children;
      if (kids.empty() || !kids.back().isText()) kids.emplace_back();
      if (kids.back().text.size() + t.size() > kMaxCellText * 4) {
        Failure("cell " + CellName() + " holds a text far longer than a cell holds");
        return;
      }
      kids.back().text.append(t);
      return;
    }
    std::string* into = textOf_ == 1 ? &v_ : textOf_ == 2 ? &f_ : nullptr;
    if (!into) return;
    if (into->size() + t.size() > kMaxCellText * 4) {
      Failure("cell " + CellName() + " holds a text far longer than a cell holds");
      return;
    }
    into->append(t);
    return;
  }
  if (capture_.empty()) return;
  auto& kids = capture_.back()->children;
  if (kids.empty() || !kids.back().isText()) kids.emplace_back();
  kids.back().text.append(t);
  L_.Charge(t.size());
}

void SheetReader::End(const XmlName&) {
  --depth_;
  if (inData_) {
    if (depth_ == 1) {
      // </sheetData>
      FlushRow();
      inData_ = false;
      parser->WantText(true);
      return;
    }
    if (depth_ == 2) {
      haveRow_ = false;
      return;
    }
    if (depth_ == 3) {
      EndCell();
      return;
    }
    if (depth_ == 4) {
      textOf_ = 0;
      if (inIs_) {
        inIs_ = false;
        capture_.clear();
      }
      parser->WantText(false);
      return;
    }
    if (inIs_ && textOf_ == 3) {
      textOf_ = 0;
    } else if (inIs_ && capture_.size() > 1) {
      capture_.pop_back();
    }
    return;
  }
  if (depth_ == 0) return;
  if (capture_.empty()) return;
  capture_.back()->DropBlanks();
  capture_.pop_back();
  if (depth_ == 1) Finish(std::move(captured_));
}

// A top-level element read whole.
void SheetReader::Finish(XmlNode&& node) {
  const Limits& lim = L_.wb().limits;
  SheetElement e;
  e.kind = SheetElement::kKept;
  if (node.uri == ns::kMain) {
    if (node.local == "dimension") {
      e.kind = SheetElement::kDimension;
      node.children.clear();
    } else if (node.local == "sheetViews") {
      e.kind = SheetElement::kSheetViews;
      if (const XmlNode* view = node.Child(ns::kMain, "sheetView"))
        if (const XmlNode* pane = view->Child(ns::kMain, "pane")) {
          m_.hasPane = true;
          const std::string* state = pane->Attr("state");
          m_.frozen = state && (*state == "frozen" || *state == "frozenSplit");
          double x = 0, y = 0;
          if (const std::string* s = pane->Attr("xSplit")) ParseDouble(*s, x);
          if (const std::string* s = pane->Attr("ySplit")) ParseDouble(*s, y);
          m_.pane.x = static_cast<uint32_t>(std::clamp(x, 0.0, 4e9));
          m_.pane.y = static_cast<uint32_t>(std::clamp(y, 0.0, 4e9));
          if (const std::string* s = pane->Attr("topLeftCell")) {
            uint32_t r, c;
            if (ParseCellRef(*s, lim, r, c)) {
              m_.pane.rwTop = r;
              m_.pane.colLeft = c;
            }
          }
          const std::string* active = pane->Attr("activePane");
          m_.pane.active = !active                    ? 3
                           : *active == "bottomRight" ? 0
                           : *active == "topRight"    ? 1
                           : *active == "bottomLeft"  ? 2
                                                      : 3;
        }
    } else if (node.local == "sheetFormatPr") {
      e.kind = SheetElement::kFormatPr;
      double v;
      if (const std::string* s = node.Attr("defaultRowHeight"); s && ParseDouble(*s, v) && v >= 0)
        m_.defaultRowHeight = static_cast<uint16_t>(std::min(std::lround(v * 20), 8192L));
      if (const std::string* s = node.Attr("defaultColWidth"); s && ParseDouble(*s, v) && v >= 0)
        x_.defaultColumnWidth = v;
      else if (const std::string* s = node.Attr("baseColWidth"); s && ParseDouble(*s, v) && v >= 0)
        x_.defaultColumnWidth = v;
    } else if (node.local == "cols") {
      e.kind = SheetElement::kCols;
      for (const auto& c : node.children) {
        if (!c.Is(ns::kMain, "col")) continue;
        uint64_t first = 0, last = 0;
        const std::string* mn = c.Attr("min");
        const std::string* mx = c.Attr("max");
        if (!mn || !mx || !ParseUint(*mn, first) || !ParseUint(*mx, last) || first < 1 ||
            last < first) {
          Failure("a column setting names no columns");
          return;
        }
        detail::ColInfo ci;
        ci.set = true;
        double w = x_.defaultColumnWidth;
        if (const std::string* s = c.Attr("width")) ParseDouble(*s, w);
        ci.width = static_cast<float>(std::clamp(w, 0.0, 255.0));
        uint64_t style = 0;
        if (const std::string* s = c.Attr("style")) ParseUint(*s, style);
        ci.xf = static_cast<uint16_t>(std::min<uint64_t>(style, 0xFFFF));
        uint64_t level = 0;
        if (const std::string* s = c.Attr("outlineLevel")) ParseUint(*s, level);
        ci.flags = static_cast<uint16_t>(
            (ParseBool(c.Attr("hidden"), false) ? detail::kColHidden : 0) |
            (ParseBool(c.Attr("customWidth"), false) ? detail::kColCustomWidth : 0) |
            (ParseBool(c.Attr("bestFit"), false) ? detail::kColBestFit : 0) |
            (ParseBool(c.Attr("phonetic"), false) ? detail::kColPhonetic : 0) |
            ((std::min<uint64_t>(level, 7) << 8) & detail::kColOutlineMask) |
            (ParseBool(c.Attr("collapsed"), false) ? detail::kColCollapsed : 0));
        if (!m_.cols.any()) L_.Charge(sizeof(detail::ColInfo) * m_.cols.size());
        for (uint64_t k = first; k <= last && k <= lim.columns + 1; ++k)
          m_.cols.Edit(k - 1) = ci;
      }
      node.children.clear();
    } else if (node.local == "mergeCells") {
      e.kind = SheetElement::kMergeCells;
      for (const auto& c : node.children) {
        Range r;
        const std::string* ref = c.Attr("ref");
        if (!c.Is(ns::kMain, "mergeCell") || !ref) continue;
        if (!ParseRangeRef(*ref, lim, r)) {
          Failure("the merged range " + *ref + " is not a block of cells of a sheet");
          return;
        }
        m_.merges.push_back(r);
      }
      L_.Charge(m_.merges.size() * sizeof(Range));
      node.children.clear();
    } else if (node.local == "hyperlinks") {
      e.kind = SheetElement::kHyperlinks;
      for (auto& c : node.children) {
        Range r;
        const std::string* ref = c.Attr("ref");
        if (!c.Is(ns::kMain, "hyperlink") || !ref || !ParseRangeRef(*ref, lim, r)) continue;
        x_.hyperlinks.push_back({r, std::move(c)});
      }
      node.children.clear();
    }
  }
  e.node = std::move(node);
  x_.elements.push_back(std::move(e));
}

void SheetReader::StartRow(const std::vector<XmlAttr>& attrs) {
  FlushRow();
  const Limits& lim = L_.wb().limits;
  uint64_t r = nextRow_ + 1;
  if (const std::string_view* s = Find(attrs, "r")) {
    if (!ParseUint(*s, r) || r < 1 || r > lim.rows) {
      Failure("row " + std::string(*s) + " is not a row of a sheet");
      return;
    }
  } else if (r > lim.rows) {
    Failure("it has more rows than a sheet holds");
    return;
  }
  row_ = static_cast<uint32_t>(r - 1);
  nextRow_ = row_ + 1;
  haveRow_ = true;
  lastCol_ = -1;
  pendingRow_ = row_;
  // The row's own settings.
  uint16_t flags = 0x0100;
  uint8_t bits = 0;
  uint16_t height = m_.defaultRowHeight;
  uint16_t xf = 0;
  bool info = false;
  for (const auto& a : attrs) {
    if (!a.name.uri.empty()) continue;
    const std::string_view k = a.name.local;
    if (k == "ht") {
      double pt;
      if (ParseDouble(a.value, pt) && pt >= 0) {
        height = static_cast<uint16_t>(std::min(std::lround(pt * 20), 8192L));
        info = true;
      }
    } else if (k == "customHeight" && ParseBool(a.value, false)) {
      flags |= detail::kRowCustomHeight;
    } else if (k == "hidden" && ParseBool(a.value, false)) {
      flags |= detail::kRowHidden;
      info = true;
    } else if (k == "outlineLevel") {
      uint64_t level;
      if (ParseUint(a.value, level) && level > 0) {
        flags |= static_cast<uint16_t>(std::min<uint64_t>(level, 7));
        info = true;
      }
    } else if (k == "collapsed" && ParseBool(a.value, false)) {
      flags |= detail::kRowCollapsed;
      info = true;
    } else if (k == "customFormat" && ParseBool(a.value, false)) {
      flags |= detail::kRowHasFormat;
      info = true;
    } else if (k == "s") {
      uint64_t s;
      if (ParseUint(a.value, s)) xf = static_cast<uint16_t>(std::min<uint64_t>(s, 0xFFFF));
    } else if (k == "thickTop" && ParseBool(a.value, false)) {
      bits |= detail::kRowThickTop;
      info = true;
    } else if (k == "thickBot" && ParseBool(a.value, false)) {
      bits |= detail::kRowThickBottom;
      info = true;
    } else if (k == "ph" && ParseBool(a.value, false)) {
      bits |= detail::kRowPhonetic;
      info = true;
    }
  }
  if (!info) return;
  const size_t rows = m_.rows.count();
  detail::RowRec& rr = m_.rows.At(row_);
  if (m_.rows.count() != rows) L_.Charge(kRowCost);
  rr.hasInfo = true;
  rr.height = height;
  rr.flags = flags;
  rr.xf = (flags & detail::kRowHasFormat) ? xf : 0;
  rr.xfBits = bits;
}

void SheetReader::StartCell(const std::vector<XmlAttr>& attrs) {
  if (!haveRow_) return;
  const Limits& lim = L_.wb().limits;
  type_ = Type::kNumber;
  xf_ = 0;
  haveV_ = haveF_ = haveIs_ = false;
  v_.clear();
  f_.clear();
  extra_.clear();
  textOf_ = 0;
  bool haveRef = false;
  for (const auto& a : attrs) {
    const std::string_view k = a.name.local;
    if (!a.name.uri.empty()) continue;
    if (k == "r") {
      uint32_t r, c;
      if (!ParseCellRef(a.value, lim, r, c)) {
        Failure("the cell reference " + std::string(a.value) + " is not a cell of a sheet");
        return;
      }
      if (r != row_) {
        Failure("the cell " + std::string(a.value) + " lies outside its row " +
                std::to_string(row_ + 1));
        return;
      }
      col_ = c;
      haveRef = true;
    } else if (k == "s") {
      uint64_t s;
      if (ParseUint(a.value, s)) xf_ = static_cast<uint16_t>(std::min<uint64_t>(s, 0xFFFF));
    } else if (k == "t") {
      const std::string_view t = a.value;
      type_ = t == "s"           ? Type::kShared
              : t == "inlineStr" ? Type::kInline
              : t == "str"       ? Type::kFormulaText
              : t == "b"         ? Type::kBool
              : t == "e"         ? Type::kError
              : t == "d"         ? Type::kDate
                                 : Type::kNumber;
    } else if (k == "cm" || k == "vm" || k == "ph") {
      extra_ += ' ';
      extra_ += a.name.qname;
      extra_ += "=\"";
      AppendEscaped(a.value, extra_, true);
      extra_ += '"';
    }
  }
  if (!haveRef) {
    if (lastCol_ + 1 >= static_cast<long>(lim.columns)) {
      Failure("row " + std::to_string(row_ + 1) + " has more cells than a sheet has columns");
      return;
    }
    col_ = static_cast<uint32_t>(lastCol_ + 1);
  }
  lastCol_ = col_;
}

void SheetReader::EndCell() {
  if (!haveRow_ || !fault.empty()) return;
  WorkbookImpl& wb = L_.wb();
  CellRec c;
  c.xf = xf_;
  c.col = static_cast<uint16_t>(col_);
  Value value;  // what the cell shows
  std::string text;
  bool rich = false;
  // An empty <v> is no value (some writers give formulas one).
  if (haveV_ && type_ != Type::kFormulaText && type_ != Type::kInline &&
      v_.find_first_not_of(" \t\r\n") == std::string::npos)
    haveV_ = false;
  switch (type_) {
    case Type::kNumber:
      if (haveV_) {
        double d;
        if (!ParseDouble(v_, d)) {
          Failure("cell " + CellName() + " holds \"" + v_.substr(0, 40) +
                  "\", which is not a number");
          return;
        }
        value = Value::Number(d);
      }
      break;
    case Type::kDate:
      if (haveV_) {
        double d;
        if (!IsoToSerial(v_, wb.date1904, d)) {
          Failure("cell " + CellName() + " holds \"" + v_.substr(0, 40) +
                  "\", which is not a date");
          return;
        }
        value = Value::Number(d);
      }
      break;
    case Type::kShared:
      if (haveV_) {
        uint64_t i;
        if (!ParseUint(v_, i) || i >= wb.sst.size()) {
          Failure("cell " + CellName() + " refers to shared string " + v_.substr(0, 20) +
                  ", which does not exist");
          return;
        }
        c.kind = CellKind::kText;
        c.aux = static_cast<uint32_t>(i);
      }
      break;
    case Type::kInline:
      if (haveIs_) {
        text = UnescapeCellText(isPlain_ ? isText_ : RichText(isNode_, rich));
        value = Value::Text({});
      }
      break;
    case Type::kFormulaText:
      if (haveV_ || !haveF_) {
        text = UnescapeCellText(v_);
        value = Value::Text({});
      }
      break;
    case Type::kBool:
      if (haveV_) value = Value::Boolean(ParseBool(v_, false) || v_ == "1");
      break;
    case Type::kError:
      if (haveV_) value = Value::Error(static_cast<ErrorCode>(ErrorCodeOf(v_)));
      break;
  }
  if (haveF_) {
    Formula f;
    f.text = std::move(f_);
    f.f = std::move(fNode_);
    if (value.kind == Value::Kind::kText)
      value.text = std::move(text);
    else if (type_ == Type::kShared && c.kind == CellKind::kText)
      value = Value::Text(wb.sst.Text(c.aux).Utf8());
    f.value = std::move(value);
    const std::string* ft = f.f.Attr("t");
    if (ft && (*ft == "array" || *ft == "dataTable")) {
      Range r;
      if (const std::string* ref = f.f.Attr("ref"); ref && ParseRangeRef(*ref, wb.limits, r))
        m_.arrays.push_back(r);
    }
    L_.Charge(sizeof(Formula) + f.text.size() + f.value.text.size() + 64);
    c.kind = CellKind::kFormula;
    c.aux = static_cast<uint32_t>(x_.formulas.size());
    x_.formulas.push_back(std::move(f));
  } else {
    switch (value.kind) {
      case Value::Kind::kNumber:
        c.kind = CellKind::kNumber;
        c.num = value.number;
        break;
      case Value::Kind::kBoolean:
        c.kind = CellKind::kBool;
        c.aux = value.boolean ? 1 : 0;
        break;
      case Value::Kind::kError:
        c.kind = CellKind::kError;
        c.aux = value.error;
        break;
      case Value::Kind::kText: {
        std::u16string& t = wb.scratch;
        if (!Utf8ToUtf16(text, t)) t.clear();
        if (t.size() > kMaxCellText) {
          Failure("cell " + CellName() + " holds a text far longer than a cell holds");
          return;
        }
        if (rich) {
          const std::string xml = RunsXml(isNode_);
          const uint32_t idx = wb.sst.AddLoaded(t, Bytes(xml.begin(), xml.end()), {});
          if (idx >= wb.sst.size()) {
            fault = "the workbook holds too much text";
            return;
          }
          c.aux = idx;
        } else {
          auto idx = wb.sst.AddShared(t);
          if (!idx) {
            fault = idx.message();
            return;
          }
          c.aux = *idx;
        }
        L_.Charge(12 + t.size() * 2);
        c.kind = CellKind::kText;
        break;
      }
      case Value::Kind::kEmpty:
        break;
    }
  }
  if (!extra_.empty()) {
    x_.cellAttrs[XlsxSheet::CellKey(row_, col_)] = extra_;
    m_.cellHook = true;
    L_.Charge(extra_.size() + 48);
  }
  if (!pending_.empty() && pending_.back().col >= c.col) sorted_ = false;
  pendingRow_ = row_;
  pending_.push_back(c);
}

void SheetReader::FlushRow() {
  if (pending_.empty()) return;
  if (!sorted_) {
    // Cells out of order (or given twice, the last counting) are sorted
    // once, not inserted one by one: a row of many columns given backwards
    // would otherwise cost the square of its cells.
    std::stable_sort(pending_.begin(), pending_.end(),
                     [](const CellRec& a, const CellRec& b) { return a.col < b.col; });
    size_t kept = 0;
    for (size_t i = 0; i < pending_.size(); ++i) {
      if (i + 1 < pending_.size() && pending_[i + 1].col == pending_[i].col) continue;
      pending_[kept++] = pending_[i];
    }
    pending_.resize(kept);
    sorted_ = true;
  }
  const size_t rows = m_.rows.count();
  detail::RowRec& rr = m_.rows.At(pendingRow_);
  if (rr.cells.empty()) {
    rr.cells.assign(pending_.begin(), pending_.end());
  } else {
    // The row was given twice: both merged, the later cells counting.
    std::vector<CellRec> merged;
    merged.reserve(rr.cells.size() + pending_.size());
    size_t i = 0, k = 0;
    while (i < rr.cells.size() || k < pending_.size()) {
      if (k == pending_.size() || (i < rr.cells.size() && rr.cells[i].col < pending_[k].col)) {
        merged.push_back(rr.cells[i++]);
      } else {
        if (i < rr.cells.size() && rr.cells[i].col == pending_[k].col) ++i;
        merged.push_back(pending_[k++]);
      }
    }
    rr.cells = std::move(merged);
  }
  m_.usedDirty = true;
  L_.Charge(pending_.size() * sizeof(CellRec) + (m_.rows.count() != rows ? kRowCost : 0));
  pending_.clear();
}

// ---- shared strings ----

class StringsReader : public XmlHandler {
 public:
  explicit StringsReader(Loader& loader) : L_(loader) {}

  void Start(const XmlName& name, const std::vector<XmlAttr>& attrs,
             const std::vector<XmlAttr>&) override {
    ++depth_;
    if (L_.Overdrawn()) {
      fault = L_.Refusal();
      return;
    }
    if (depth_ == 1) {
      if (const size_t colon = name.qname.find(':'); colon != std::string_view::npos)
        main_ = std::string(name.qname.substr(0, colon + 1));
      if (IsStrict(name.uri))
        fault = kStrictRefusal;
      else if (!name.Is(ns::kMain, "sst"))
        fault = "the shared strings part is not a string table";
      if (const std::string_view* n = Find(attrs, "uniqueCount")) {
        uint64_t count;
        if (ParseUint(*n, count)) L_.wb().sst.Reserve(std::min<uint64_t>(count, 1u << 20), 0);
      }
      return;
    }
    if (depth_ == 2) {
      si_.children.clear();
      text_.clear();
      plain_ = true;
      inText_ = false;
      stack_.assign(1, &si_);
      return;
    }
    // Most strings are one plain <t>: its text is all that is kept. Anything
    // else is read as a tree, to be written back as read.
    if (depth_ == 3 && plain_ && name.Is(ns::kMain, "t") && si_.children.empty()) {
      inText_ = true;
      return;
    }
    if (plain_) {
      plain_ = false;
      if (!text_.empty() || inText_) {
        XmlNode t;
        t.uri = ns::kMain;
        t.local = "t";
        t.qname = main_ + "t";
        t.attrs.push_back({"xml:space", std::string(ns::kXml), "preserve"});
        t.children.emplace_back();
        t.children.back().text = text_;
        si_.children.push_back(std::move(t));
      }
    }
    inText_ = false;
    stack_.back()->children.push_back(XmlNode::From(name, attrs));
    stack_.push_back(&stack_.back()->children.back());
  }
  void End(const XmlName&) override {
    --depth_;
    if (depth_ >= 2) {
      if (inText_) {
        inText_ = false;
      } else if (stack_.size() > 1) {
        stack_.pop_back();
      }
      return;
    }
    if (depth_ != 1) return;
    WorkbookImpl& wb = L_.wb();
    std::u16string& t = wb.scratch;
    uint32_t idx;
    if (plain_) {
      if (!Utf8ToUtf16(UnescapeCellText(text_), t)) t.clear();
      if (t.size() > kMaxCellText) {
        fault = "the shared strings part holds a text far longer than a cell holds";
        return;
      }
      idx = wb.sst.AddLoaded(t, {}, {});
    } else {
      bool rich;
      if (!Utf8ToUtf16(UnescapeCellText(RichText(si_, rich)), t)) t.clear();
      if (t.size() > kMaxCellText) {
        fault = "the shared strings part holds a text far longer than a cell holds";
        return;
      }
      const std::string xml = RunsXml(si_);
      idx = wb.sst.AddLoaded(t, Bytes(xml.begin(), xml.end()), {});
      L_.Charge(xml.size() + 48);
    }
    if (idx >= wb.sst.size()) fault = "the workbook holds too much text";
    L_.Charge(12 + t.size() * 2);
  }
  void Text(std::string_view s) override {
    if (depth_ < 3) return;
    if (inText_) {
      if (text_.size() + s.size() > kMaxCellText * 4) {
        fault = "the shared strings part holds a text far longer than a cell holds";
        return;
      }
      text_.append(s);
      return;
    }
    if (plain_) return;
    auto& kids = stack_.back()->children;
    if (kids.empty() || !kids.back().isText()) kids.emplace_back();
    if (kids.back().text.size() + s.size() > kMaxCellText * 4) {
      fault = "the shared strings part holds a text far longer than a cell holds";
      return;
    }
    kids.back().text.append(s);
  }
  std::string main_;  // the prefix of the main namespace

 private:
  Loader& L_;
  int depth_ = 0;
  XmlNode si_;
  std::vector<XmlNode*> stack_;
  std::string text_;
  bool plain_ = true;
  bool inText_ = false;
};

// ---- the package ----

Result<std::string> Loader::ReadSmall(std::string_view part) {
  const long e = zip_.Find(part);
  if (e < 0) return Fail("the package's part " + std::string(part) + " is missing");
  auto bytes = zip_.ReadAll(static_cast<size_t>(e), kMaxSmallPart);
  if (!bytes) return bytes.error();
  Charge(bytes->size() * 2);
  modelled_.insert(LowerAscii(part));
  return bytes;
}

Status Loader::ReadStrings(const std::string& part) {
  const long e = zip_.Find(part);
  if (e < 0) return Fail("the package's shared strings part " + part + " is missing");
  modelled_.insert(LowerAscii(part));
  StringsReader h(*this);
  XmlParser p(h, part);
  auto st = zip_.Read(static_cast<size_t>(e), [&](const char* d, size_t n) {
    if (auto s = p.Feed(d, n, false); !s) return s;
    return Overdrawn() ? Fail(Refusal()) : Status{};
  });
  if (!st) return st;
  return p.Feed(nullptr, 0, true);
}

Status Loader::ReadSheet(SheetModel& m, XlsxSheet& x) {
  const long e = zip_.Find(x.part);
  if (e < 0)
    return Fail("the package's part " + x.part + " of sheet " + Utf16ToUtf8(m.name) +
                " is missing");
  modelled_.insert(LowerAscii(x.part));
  // The sheet's relationships.
  const std::string relsPart = RelsPartOf(x.part);
  if (zip_.Find(relsPart) >= 0) {
    auto doc = ReadSmall(relsPart);
    if (!doc) return doc.error();
    auto rels = Relationships::Parse(*doc, relsPart);
    if (!rels) return rels.error();
    x.rels = std::move(*rels);
  }
  SheetReader h(*this, m, x, "sheet " + Utf16ToUtf8(m.name));
  XmlParser p(h, x.part);
  h.parser = &p;
  auto st = zip_.Read(static_cast<size_t>(e), [&](const char* d, size_t n) {
    if (auto s = p.Feed(d, n, false); !s) return s;
    return Overdrawn() ? Fail(Refusal()) : Status{};
  });
  if (!st) return st;
  if (auto s = p.Feed(nullptr, 0, true); !s) return s;
  if (!h.sawRoot) return Fail(x.part + " holds no worksheet");
  // Elements the model writes but the file lacked go where they belong.
  bool data = false;
  for (const auto& el : x.elements)
    if (el.kind == SheetElement::kSheetData) data = true;
  if (!data) {
    SheetElement d;
    d.kind = SheetElement::kSheetData;
    size_t at = x.elements.size();
    for (size_t i = 0; i < x.elements.size(); ++i)
      if (WorksheetRank(x.elements[i].node.local) > WorksheetRank("sheetData")) {
        at = i;
        break;
      }
    x.elements.insert(x.elements.begin() + static_cast<long>(at), std::move(d));
  }
  return ReadComments(x);
}

Status Loader::ReadComments(XlsxSheet& x) {
  const auto part = x.RelTarget(rel::kComments);
  if (!part) return {};
  const long e = zip_.Find(*part);
  if (e < 0) return {};  // carried as the file has it
  auto doc = zip_.ReadAll(static_cast<size_t>(e), kMaxSmallPart);
  if (!doc) return doc.error();
  auto tree = ParseTree(*doc, *part);
  if (!tree) return tree.error();
  if (const XmlNode* list = tree->Child(ns::kMain, "commentList"))
    for (const auto& c : list->children) {
      Range r;
      const std::string* ref = c.Attr("ref");
      if (c.Is(ns::kMain, "comment") && ref && ParseRangeRef(*ref, wb_.limits, r))
        x.comments.push_back({r.firstRow, r.firstCol, r.firstRow, r.firstCol});
    }
  return {};
}

Status Loader::ReadNames(const XmlNode& definedNames) {
  for (const auto& n : definedNames.children) {
    if (!n.Is(ns::kMain, "definedName")) continue;
    DefinedNameEntry d;
    const std::string* name = n.Attr("name");
    if (!name) return Fail("the workbook holds a defined name without its name");
    d.name = *name;
    if (const std::string* s = n.Attr("localSheetId")) {
      uint64_t id;
      if (!ParseUint(*s, id) || id > 0xFFFF)
        return Fail("the defined name " + *name + " names no sheet");
      d.localSheetId = static_cast<uint32_t>(id);
    }
    d.text = n.Text();
    d.node = n;
    d.node.children.clear();
    d.node.RemoveAttr("name");
    d.node.RemoveAttr("localSheetId");
    Charge(sizeof(DefinedNameEntry) + d.name.size() + d.text.size() + 64);
    b_.names.push_back(std::move(d));
  }
  return {};
}

Status Loader::Run() {
  // The package: its content types and its main part.
  auto typesDoc = zip_.Find("[Content_Types].xml") >= 0 ? ReadSmall("[Content_Types].xml")
                                                        : Result<std::string>(Fail(""));
  if (!typesDoc)
    return Fail(typesDoc.message().empty()
                    ? "not a workbook: the package has no [Content_Types].xml"
                    : typesDoc.message());
  auto types = ContentTypes::Parse(*typesDoc);
  if (!types) return types.error();
  b_.types = std::move(*types);
  if (zip_.Find("_rels/.rels") < 0)
    return Fail("not a workbook: the package has no relationships (_rels/.rels)");
  auto rootDoc = ReadSmall("_rels/.rels");
  if (!rootDoc) return rootDoc.error();
  auto rootRels = Relationships::Parse(*rootDoc, "_rels/.rels");
  if (!rootRels) return rootRels.error();
  b_.rootRels = std::move(*rootRels);
  const Relationship* main = nullptr;
  for (const auto& r : b_.rootRels.list) {
    if (r.type == rel::kOfficeDocument) main = &r;
    if (r.type.substr(0, rel::kStrictBase.size()) == rel::kStrictBase &&
        r.type.ends_with("/officeDocument"))
      return Fail(kStrictRefusal);
  }
  if (!main) return Fail("not a workbook: the package names no main document");
  auto mainPart = ResolveTarget("", main->target);
  if (!mainPart || zip_.Find(*mainPart) < 0)
    return Fail("the package's main document " + main->target + " is missing");
  b_.workbookPart = Canonical(*mainPart);
  const std::string type = b_.types.TypeOf(b_.workbookPart);
  if (type == ct::kBinaryWorkbook)
    return Fail("this is an Excel binary workbook (.xlsb), which this program does not read");
  if (type != ct::kWorkbook && type != ct::kTemplate && type != ct::kMacroWorkbook &&
      type != ct::kMacroTemplate)
    return Fail("not a workbook: the package's main document is of the type \"" + type + "\"");

  // The workbook part.
  auto wbDoc = ReadSmall(b_.workbookPart);
  if (!wbDoc) return wbDoc.error();
  auto tree = ParseTree(*wbDoc, b_.workbookPart);
  if (!tree) return tree.error();
  if (IsStrict(tree->uri)) return Fail(kStrictRefusal);
  if (!tree->Is(ns::kMain, "workbook")) return Fail(b_.workbookPart + " is not a workbook");
  b_.workbook = std::move(*tree);
  const std::string relsPart = RelsPartOf(b_.workbookPart);
  if (zip_.Find(relsPart) >= 0) {
    auto doc = ReadSmall(relsPart);
    if (!doc) return doc.error();
    auto rels = Relationships::Parse(*doc, relsPart);
    if (!rels) return rels.error();
    b_.workbookRels = std::move(*rels);
  }
  if (const XmlNode* pr = b_.workbook.Child(ns::kMain, "workbookPr"))
    wb_.date1904 = ParseBool(pr->Attr("date1904"), false);

  // Styles and shared strings.
  auto partOf = [&](const std::string& relType) -> std::optional<std::string> {
    const Relationship* r = b_.workbookRels.FirstOfType(relType);
    if (!r || r->external) return std::nullopt;
    return ResolveTarget(b_.workbookPart, r->target);
  };
  if (auto part = partOf(rel::kStyles); part && zip_.Find(*part) >= 0) {
    auto doc = ReadSmall(*part);
    if (!doc) return doc.error();
    auto styles = Styles::Parse(*doc);
    if (!styles) return styles.error();
    b_.styles = std::move(*styles);
    b_.stylesPart = Canonical(*part);
  } else {
    b_.styles = Styles::New();
  }
  if (auto part = partOf(rel::kSharedStrings)) {
    if (auto st = ReadStrings(*part); !st) return st;
    b_.stringsPart = Canonical(*part);
  }
  if (Overdrawn()) return Fail(Refusal());

  // The sheets.
  const XmlNode* sheets = b_.workbook.Child(ns::kMain, "sheets");
  if (!sheets) return Fail("the workbook has no list of sheets");
  std::set<std::string> sheetParts;
  for (const auto& s : sheets->children) {
    if (!s.Is(ns::kMain, "sheet")) continue;
    const std::string* name = s.Attr("name");
    const std::string* id = s.AttrNs(ns::kRel, "id");
    if (!name || !id) return Fail("the workbook lists a sheet without its name or its part");
    std::u16string wide;
    if (!Utf8ToUtf16(*name, wide) || wide.empty())
      return Fail("the workbook lists a sheet without a name");
    for (size_t i = 0; i < wb_.sheets.size(); ++i)
      if (EqualsIgnoreCase(wb_.model(i).name, wide))
        return Fail("the workbook has two sheets named " + *name);
    const Relationship* r = b_.workbookRels.Find(*id);
    if (!r || r->external) return Fail("the part of sheet " + *name + " is missing");
    // The parts a save writes anew are never a sheet's: a sheet that names
    // one would be lost with it.
    if (r->type == rel::kSharedStrings || r->type == rel::kStyles)
      return Fail("the sheet " + *name +
                  " names the workbook's shared strings or styles as its part; the package is "
                  "damaged");
    auto part = ResolveTarget(b_.workbookPart, r->target);
    if (!part || zip_.Find(*part) < 0) return Fail("the part of sheet " + *name + " is missing");
    if (!sheetParts.insert(LowerAscii(*part)).second)
      return Fail("two sheets of the workbook share the part " + *part);
    auto m = std::make_unique<SheetModel>(wb_.limits);
    auto x = std::make_unique<XlsxSheet>(b_);
    XlsxSheet& xs = *x;
    m->part = std::move(x);
    m->name = std::move(wide);
    const std::string* state = s.Attr("state");
    m->visibility = !state ? 0 : *state == "hidden" ? 1 : *state == "veryHidden" ? 2 : 0;
    uint64_t sheetId = wb_.sheets.size() + 1;
    if (const std::string* v = s.Attr("sheetId")) ParseUint(*v, sheetId);
    m->tabId = static_cast<uint32_t>(std::min<uint64_t>(sheetId, UINT32_MAX));
    xs.part = Canonical(*part);
    xs.relId = *id;
    Charge(sizeof(SheetModel) + sizeof(XlsxSheet) + sizeof(Sheet) + 512);
    if (r->type == rel::kWorksheet) {
      m->modeled = true;
      if (auto st = ReadSheet(*m, xs); !st) return st;
    } else {
      xs.kind = r->type == rel::kChartsheet   ? SheetType::kChart
                : r->type == rel::kMacrosheet ? SheetType::kMacro
                                              : SheetType::kWorksheet;
    }
    wb_.sheets.push_back(wb_.MakeSheet(std::move(m)));
    if (Overdrawn()) return Fail(Refusal());
  }
  if (wb_.sheets.empty()) return Fail("the workbook has no sheets");
  if (const XmlNode* views = b_.workbook.Child(ns::kMain, "bookViews"))
    if (const XmlNode* v = views->Child(ns::kMain, "workbookView")) {
      uint64_t tab = 0;
      if (const std::string* s = v->Attr("activeTab")) ParseUint(*s, tab);
      wb_.activeSheet = tab < wb_.sheets.size() ? static_cast<uint16_t>(tab) : 0;
    }
  if (const XmlNode* dn = b_.workbook.Child(ns::kMain, "definedNames"))
    if (auto st = ReadNames(*dn); !st) return st;

  // Everything else goes on as it is.
  for (size_t i = 0; i < zip_.entries().size(); ++i) {
    const auto& e = zip_.entries()[i];
    if (modelled_.count(LowerAscii(e.name))) continue;
    auto bytes = zip_.ReadAll(i, SIZE_MAX);
    if (!bytes) return bytes.error();
    Charge(bytes->size() + sizeof(CarriedPart) + 64);
    if (Overdrawn()) return Fail(Refusal());
    b_.carried.push_back({e.name, std::move(*bytes)});
  }
  return {};
}

}  // namespace

namespace {

Result<std::unique_ptr<WorkbookImpl>> Read(ZipReader& zip, size_t packageSize,
                                           const LoadLimits& limits) {
  auto wb = std::make_unique<WorkbookImpl>(FileFormat::kXlsx);
  auto book = std::make_unique<XlsxBook>(*wb);
  XlsxBook& b = *book;
  wb->book = std::move(book);
  Loader loader(zip, *wb, b, limits, packageSize);
  if (auto st = loader.Run(); !st) return st.error();
  return wb;
}

}  // namespace

Result<std::unique_ptr<WorkbookImpl>> Parse(std::span<const uint8_t> file,
                                            const LoadLimits& limits) {
  auto zip = ZipReader::Open(file, limits);
  if (!zip) return zip.error();
  return Read(**zip, file.size(), limits);
}

Result<std::unique_ptr<WorkbookImpl>> ParseFile(const std::string& path, uint64_t size,
                                                const LoadLimits& limits) {
  auto zip = ZipReader::OpenFile(path, size, limits);
  if (!zip) return zip.error();
  return Read(**zip, size, limits);
}

}  // namespace migrator::xls::xlsx
