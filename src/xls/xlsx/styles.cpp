#include "xls/xlsx/styles.h"

#include <array>
#include <cmath>
#include <cstdlib>

#include "xls/model.h"
#include "xls/unicode.h"

namespace migrator::xls::xlsx {

namespace {

constexpr std::string_view kListNames[] = {"numFmts", "fonts",        "fills",
                                           "borders", "cellStyleXfs", "cellXfs"};
// The style sheet's children in the order the format wants them.
constexpr const char* kOrder[] = {"numFmts",      "fonts",   "fills",      "borders",
                                  "cellStyleXfs", "cellXfs", "cellStyles", "dxfs",
                                  "tableStyles",  "colors",  "extLst"};
// Spreadsheet programs stop at this many cell formats.
constexpr size_t kMaxXfs = 64000;

const char* const kLineStyles[] = {"none",
                                   "thin",
                                   "medium",
                                   "dashed",
                                   "dotted",
                                   "thick",
                                   "double",
                                   "hair",
                                   "mediumDashed",
                                   "dashDot",
                                   "mediumDashDot",
                                   "dashDotDot",
                                   "mediumDashDotDot",
                                   "slantDashDot"};
const char* const kPatterns[] = {
    "none",           "solid",           "mediumGray",    "darkGray",  "lightGray",
    "darkHorizontal", "darkVertical",    "darkDown",      "darkUp",    "darkGrid",
    "darkTrellis",    "lightHorizontal", "lightVertical", "lightDown", "lightUp",
    "lightGrid",      "lightTrellis",    "gray125",       "gray0625"};
const char* const kHorizontal[] = {"general", "left",    "center",           "right",
                                   "fill",    "justify", "centerContinuous", "distributed"};
const char* const kVertical[] = {"top", "center", "bottom", "justify", "distributed"};

// The palette spreadsheet programs start with (indexes 8 to 63).
constexpr std::array<uint32_t, 56> kPalette = {
    0x000000, 0xFFFFFF, 0xFF0000, 0x00FF00, 0x0000FF, 0xFFFF00, 0xFF00FF, 0x00FFFF,
    0x800000, 0x008000, 0x000080, 0x808000, 0x800080, 0x008080, 0xC0C0C0, 0x808080,
    0x9999FF, 0x993366, 0xFFFFCC, 0xCCFFFF, 0x660066, 0xFF8080, 0x0066CC, 0xCCCCFF,
    0x000080, 0xFF00FF, 0xFFFF00, 0x00FFFF, 0x800080, 0x800000, 0x008080, 0x0000FF,
    0x00CCFF, 0xCCFFFF, 0xCCFFCC, 0xFFFF99, 0x99CCFF, 0xFF99CC, 0xCC99FF, 0xFFCC99,
    0x3366FF, 0x33CCCC, 0x99CC00, 0xFFCC00, 0xFF9900, 0xFF6600, 0x666699, 0x969696,
    0x003366, 0x339966, 0x003300, 0x333300, 0x993300, 0x993366, 0x333399, 0x333333};
// The colours of the default theme, by theme index (light 1, dark 1, light 2,
// dark 2, six accents, two hyperlink colours).
constexpr std::array<uint32_t, 12> kTheme = {0xFFFFFF, 0x000000, 0xEEECE1, 0x1F497D,
                                             0x4F81BD, 0xC0504D, 0x9BBB59, 0x8064A2,
                                             0x4BACC6, 0xF79646, 0x0000FF, 0x800080};

int IndexOf(const char* const* names, size_t n, std::string_view s, int fallback) {
  for (size_t i = 0; i < n; ++i)
    if (s == names[i]) return static_cast<int>(i);
  return fallback;
}

uint8_t NearestPalette(uint32_t rgb) {
  uint8_t best = 8;
  long bestDistance = -1;
  for (size_t i = 0; i < kPalette.size(); ++i) {
    const long dr = static_cast<long>((rgb >> 16) & 0xFF) - ((kPalette[i] >> 16) & 0xFF);
    const long dg = static_cast<long>((rgb >> 8) & 0xFF) - ((kPalette[i] >> 8) & 0xFF);
    const long db = static_cast<long>(rgb & 0xFF) - (kPalette[i] & 0xFF);
    const long d = dr * dr + dg * dg + db * db;
    if (bestDistance < 0 || d < bestDistance) {
      bestDistance = d;
      best = static_cast<uint8_t>(i + 8);
    }
  }
  return best;
}

// A colour element as a palette index; `automatic` when it says so or is missing.
uint16_t PaletteOf(const XmlNode* color, uint16_t automatic) {
  if (!color) return automatic;
  if (const std::string* v = color->Attr("indexed")) {
    uint64_t i;
    if (ParseUint(*v, i)) return static_cast<uint16_t>(std::min<uint64_t>(i, automatic));
  }
  if (const std::string* v = color->Attr("rgb")) {
    const uint32_t argb = static_cast<uint32_t>(std::strtoul(v->c_str(), nullptr, 16));
    return NearestPalette(argb & 0xFFFFFF);
  }
  if (const std::string* v = color->Attr("theme")) {
    uint64_t i;
    if (ParseUint(*v, i) && i < kTheme.size())
      return i == 1 ? automatic : NearestPalette(kTheme[i]);
  }
  return automatic;
}

bool IsMain(const XmlNode& n, std::string_view local) {
  return n.Is(ns::kMain, local);
}

}  // namespace

Result<Styles> Styles::Parse(std::string_view doc) {
  auto tree = ParseTree(doc, "the styles part");
  if (!tree) return tree.error();
  if (!IsMain(*tree, "styleSheet")) return Fail("the styles part is not a style sheet");
  Styles s;
  s.root_ = std::move(*tree);
  for (auto& c : s.root_.children)
    if (!c.isText()) std::erase_if(c.children, [](const XmlNode& k) { return k.isText(); });
  const size_t colon = s.root_.qname.find(':');
  if (colon != std::string::npos) s.main_ = s.root_.qname.substr(0, colon + 1);
  return s;
}

Styles Styles::New() {
  Styles s;
  auto parsed = Parse(
      "<styleSheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\">"
      "<fonts count=\"1\"><font><sz val=\"11\"/><name val=\"Calibri\"/><family val=\"2\"/></font>"
      "</fonts>"
      "<fills count=\"2\"><fill><patternFill patternType=\"none\"/></fill>"
      "<fill><patternFill patternType=\"gray125\"/></fill></fills>"
      "<borders count=\"1\"><border><left/><right/><top/><bottom/><diagonal/></border></borders>"
      "<cellStyleXfs count=\"1\"><xf numFmtId=\"0\" fontId=\"0\" fillId=\"0\" borderId=\"0\"/>"
      "</cellStyleXfs>"
      "<cellXfs count=\"1\"><xf numFmtId=\"0\" fontId=\"0\" fillId=\"0\" borderId=\"0\" "
      "xfId=\"0\"/></cellXfs>"
      "<cellStyles count=\"1\"><cellStyle name=\"Normal\" xfId=\"0\" builtinId=\"0\"/>"
      "</cellStyles>"
      "<dxfs count=\"0\"/><tableStyles count=\"0\"/></styleSheet>");
  if (parsed) s = std::move(*parsed);
  return s;
}

std::string Styles::Write() const {
  std::string out(kXmlDeclaration);
  XmlNode root = root_;
  // The counts follow the lists.
  for (auto& c : root.children) {
    if (c.isText() || c.uri != ns::kMain) continue;
    for (std::string_view l : kListNames)
      if (c.local == l) {
        size_t n = 0;
        for (const auto& k : c.children)
          if (!k.isText()) ++n;
        c.SetAttr("count", std::to_string(n));
      }
  }
  WriteNode(root, out);
  return out;
}

const XmlNode* Styles::Get(List l) const {
  return root_.Child(ns::kMain, kListNames[l]);
}

XmlNode& Styles::Edit(List l) {
  if (XmlNode* n = root_.Child(ns::kMain, kListNames[l])) return *n;
  // Missing: made in its place.
  auto rank = [](std::string_view local) {
    for (size_t i = 0; i < std::size(kOrder); ++i)
      if (local == kOrder[i]) return static_cast<int>(i);
    return 100;
  };
  const int want = rank(kListNames[l]);
  size_t at = root_.children.size();
  for (size_t i = 0; i < root_.children.size(); ++i)
    if (!root_.children[i].isText() && rank(root_.children[i].local) > want) {
      at = i;
      break;
    }
  XmlNode n;
  n.uri = ns::kMain;
  n.local = kListNames[l];
  n.qname = main_ + n.local;
  root_.children.insert(root_.children.begin() + static_cast<long>(at), std::move(n));
  return root_.children[at];
}

const XmlNode* Styles::Item(List l, size_t i) const {
  const XmlNode* list = Get(l);
  // The lists hold elements only (Parse drops the blanks between them).
  return list && i < list->children.size() ? &list->children[i] : nullptr;
}

Result<uint16_t> Styles::FindOrAdd(List l, XmlNode node) {
  std::string key;
  WriteNode(node, key);
  XmlNode& list = Edit(l);
  auto& index = index_[l];
  if (index.empty())
    for (size_t i = 0; i < list.children.size() && i < 0xFFFF; ++i) {
      std::string k;
      WriteNode(list.children[i], k);
      index.emplace(std::move(k), static_cast<uint16_t>(i));
    }
  if (auto it = index.find(key); it != index.end()) return it->second;
  if (list.children.size() >= (l == kCellXfs ? kMaxXfs : 0xFFFF))
    return Fail("the workbook already holds the most cell formats a workbook can (64,000)");
  const auto i = static_cast<uint16_t>(list.children.size());
  list.children.push_back(std::move(node));
  index.emplace(std::move(key), i);
  dateXf_.clear();
  return i;
}

size_t Styles::fontCount() const {
  const XmlNode* l = Get(kFonts);
  size_t n = 0;
  if (l)
    for (const auto& c : l->children)
      if (!c.isText()) ++n;
  return n;
}

std::optional<Font> Styles::font(uint16_t index) const {
  const XmlNode* f = Item(kFonts, index);
  if (!f) return std::nullopt;
  Font font;
  font.name = "Calibri";
  font.height = 220;
  font.color = 0x7FFF;
  for (const auto& c : f->children) {
    if (c.isText()) continue;
    const std::string* val = c.Attr("val");
    if (c.local == "b") {
      font.weight = ParseBool(val, true) ? 700 : 400;
    } else if (c.local == "i") {
      font.italic = ParseBool(val, true);
    } else if (c.local == "strike") {
      font.strikeout = ParseBool(val, true);
    } else if (c.local == "u") {
      const std::string u = val ? *val : "single";
      font.underline = u == "single"             ? 1
                       : u == "double"           ? 2
                       : u == "singleAccounting" ? 0x21
                       : u == "doubleAccounting" ? 0x22
                                                 : 0;
    } else if (c.local == "sz" && val) {
      double pt;
      if (ParseDouble(*val, pt) && pt > 0 && pt < 4096)
        font.height = static_cast<uint16_t>(std::lround(pt * 20));
    } else if (c.local == "name" && val) {
      font.name = *val;
    } else if (c.local == "color") {
      font.color = PaletteOf(&c, 0x7FFF);
    }
  }
  return font;
}

size_t Styles::xfCount() const {
  const XmlNode* l = Get(kCellXfs);
  size_t n = 0;
  if (l)
    for (const auto& c : l->children)
      if (!c.isText()) ++n;
  return n;
}

uint16_t Styles::XfAttr(const XmlNode& xf, std::string_view name) const {
  uint64_t v = 0;
  if (const std::string* s = xf.Attr(name)) ParseUint(*s, v);
  return static_cast<uint16_t>(std::min<uint64_t>(v, 0xFFFF));
}

CellFormat Styles::format(uint16_t index) const {
  CellFormat f;
  const XmlNode* xf = Item(kCellXfs, index);
  if (!xf) return f;
  f.font = XfAttr(*xf, "fontId");
  f.numberFormat = XfAttr(*xf, "numFmtId");
  f.parent = XfAttr(*xf, "xfId");
  if (const XmlNode* a = xf->Child(ns::kMain, "alignment")) {
    if (const std::string* h = a->Attr("horizontal"))
      f.horizontal = static_cast<HAlign>(IndexOf(kHorizontal, std::size(kHorizontal), *h, 0));
    if (const std::string* v = a->Attr("vertical"))
      f.vertical = static_cast<VAlign>(IndexOf(kVertical, std::size(kVertical), *v, 2));
    f.wrap = ParseBool(a->Attr("wrapText"), false);
    uint64_t n;
    if (const std::string* r = a->Attr("textRotation"); r && ParseUint(*r, n) && n <= 255)
      f.rotation = static_cast<uint8_t>(n);
    if (const std::string* i = a->Attr("indent"); i && ParseUint(*i, n))
      f.indent = static_cast<uint8_t>(std::min<uint64_t>(n, 15));
  }
  if (const XmlNode* p = xf->Child(ns::kMain, "protection")) {
    f.locked = ParseBool(p->Attr("locked"), true);
    f.hidden = ParseBool(p->Attr("hidden"), false);
  }
  if (const XmlNode* b = Item(kBorders, XfAttr(*xf, "borderId"))) {
    auto side = [&](const char* name, LineStyle& style, uint8_t& color) {
      const XmlNode* s = b->Child(ns::kMain, name);
      if (!s) return;
      if (const std::string* st = s->Attr("style"))
        style = static_cast<LineStyle>(IndexOf(kLineStyles, std::size(kLineStyles), *st, 0));
      color = static_cast<uint8_t>(PaletteOf(s->Child(ns::kMain, "color"), 64));
    };
    side("left", f.left, f.leftColor);
    side("right", f.right, f.rightColor);
    side("top", f.top, f.topColor);
    side("bottom", f.bottom, f.bottomColor);
  }
  if (const XmlNode* fill = Item(kFills, XfAttr(*xf, "fillId")))
    if (const XmlNode* p = fill->Child(ns::kMain, "patternFill")) {
      if (const std::string* t = p->Attr("patternType"))
        f.fillPattern = static_cast<uint8_t>(IndexOf(kPatterns, std::size(kPatterns), *t, 0));
      f.fillColor = static_cast<uint8_t>(PaletteOf(p->Child(ns::kMain, "fgColor"), 64));
      f.fillBackColor = static_cast<uint8_t>(PaletteOf(p->Child(ns::kMain, "bgColor"), 65));
    }
  return f;
}

std::string Styles::NumberFormatCode(uint16_t id) const {
  if (const XmlNode* l = Get(kNumFmts))
    for (const auto& c : l->children) {
      if (c.isText() || XfAttr(c, "numFmtId") != id) continue;
      if (const std::string* code = c.Attr("formatCode")) return *code;
    }
  const char* b = detail::BuiltinNumberFormat(id);
  return b ? b : "General";
}

bool Styles::IsDateFormat(uint16_t index) const {
  // Asked for every number a table read holds: the answers are kept.
  if (dateXf_.empty()) dateXf_.resize(xfCount() + 1, -1);
  if (index < dateXf_.size() && dateXf_[index] >= 0) return dateXf_[index] != 0;
  const bool date = DateFormatOf(index);
  if (index < dateXf_.size()) dateXf_[index] = date ? 1 : 0;
  return date;
}

bool Styles::DateFormatOf(uint16_t index) const {
  const XmlNode* xf = Item(kCellXfs, index);
  if (!xf) return false;
  const uint16_t id = XfAttr(*xf, "numFmtId");
  if (const XmlNode* l = Get(kNumFmts))
    for (const auto& c : l->children) {
      if (c.isText() || XfAttr(c, "numFmtId") != id) continue;
      std::u16string code;
      if (const std::string* s = c.Attr("formatCode")) Utf8ToUtf16(*s, code);
      return detail::IsDateFormatCode(code);
    }
  return detail::IsBuiltinDateFormat(id);
}

Result<uint16_t> Styles::NumberFormatId(std::string_view code) {
  std::u16string wide;
  bool controls = false;
  for (char c : code)
    if (static_cast<unsigned char>(c) < 0x20) controls = true;
  if (!Utf8ToUtf16(code, wide) || wide.empty() || wide.size() > 255 || controls)
    return Fail("\"" + std::string(code) + "\" is not a number format that can be stored");
  uint16_t last = 163;  // custom formats count from 164
  if (const XmlNode* l = Get(kNumFmts))
    for (const auto& c : l->children) {
      if (c.isText()) continue;
      const uint16_t id = XfAttr(c, "numFmtId");
      if (const std::string* s = c.Attr("formatCode"); s && *s == code) return id;
      last = std::max(last, id);
    }
  for (uint16_t b = 0; b < 164; ++b)
    if (const char* builtin = detail::BuiltinNumberFormat(b); builtin && code == builtin) return b;
  if (last == 0xFFFF) return Fail("the workbook holds the most number formats it can");
  XmlNode n;
  n.uri = ns::kMain;
  n.local = "numFmt";
  n.qname = main_ + "numFmt";
  n.SetAttr("numFmtId", std::to_string(last + 1));
  n.SetAttr("formatCode", std::string(code));
  Edit(kNumFmts).children.push_back(std::move(n));
  dateXf_.clear();
  return static_cast<uint16_t>(last + 1);
}

namespace {

XmlNode Element(const std::string& prefix, std::string local) {
  XmlNode n;
  n.uri = ns::kMain;
  n.qname = prefix + local;
  n.local = std::move(local);
  return n;
}

XmlNode ColorElement(const std::string& prefix, const char* local, uint16_t palette) {
  XmlNode c = Element(prefix, local);
  if (palette >= 64)
    c.SetAttr(palette == 0x7FFF || palette == 64 ? "auto" : "indexed",
              palette == 0x7FFF || palette == 64 ? "1" : std::to_string(palette));
  else
    c.SetAttr("indexed", std::to_string(palette));
  return c;
}

// The border sides in the order the format wants them.
constexpr const char* kSides[] = {"start",  "end",      "left",     "right",     "top",
                                  "bottom", "diagonal", "vertical", "horizontal"};

void SetSide(XmlNode& border, const std::string& prefix, const char* side, LineStyle style,
             uint16_t color) {
  XmlNode s = Element(prefix, side);
  if (style != LineStyle::kNone) {
    s.SetAttr(
        "style",
        kLineStyles[static_cast<size_t>(style) < std::size(kLineStyles) ? static_cast<size_t>(style)
                                                                        : 1]);
    s.children.push_back(ColorElement(prefix, "color", color));
  }
  std::vector<XmlNode> kids;
  bool placed = false;
  for (const char* name : kSides) {
    if (std::string_view(name) == side) {
      kids.push_back(std::move(s));
      placed = true;
      continue;
    }
    for (auto& c : border.children)
      if (!c.isText() && c.local == name) kids.push_back(std::move(c));
  }
  if (!placed) kids.push_back(std::move(s));
  border.children = std::move(kids);
}

XmlNode& AlignmentOf(XmlNode& xf, const std::string& prefix) {
  if (XmlNode* a = xf.Child(ns::kMain, "alignment")) return *a;
  xf.children.insert(xf.children.begin(), Element(prefix, "alignment"));
  return xf.children.front();
}

}  // namespace

Result<uint16_t> Styles::WithNumberFormat(uint16_t index, std::string_view code) {
  for (const WithFormat& w : withFormat_)
    if (w.xf == index && w.code == code) return w.result;
  const XmlNode* base = Item(kCellXfs, index);
  if (!base) return Fail("there is no cell format " + std::to_string(index));
  auto id = NumberFormatId(code);
  if (!id) return id.error();
  XmlNode xf = *Item(kCellXfs, index);
  xf.SetAttr("numFmtId", std::to_string(*id));
  xf.SetAttr("applyNumberFormat", "1");
  auto result = FindOrAdd(kCellXfs, std::move(xf));
  if (result) {
    constexpr size_t kKept = 32;
    if (withFormat_.size() == kKept) withFormat_.erase(withFormat_.begin());
    withFormat_.push_back({index, std::string(code), *result});
  }
  return result;
}

Result<uint16_t> Styles::Formatted(uint16_t index, const RowFormat& f, bool lastCol) {
  const XmlNode* base = Item(kCellXfs, index);
  if (!base) base = Item(kCellXfs, 0);
  if (!base) return Fail("the workbook has no default cell format to start from");
  XmlNode xf = *base;
  if (f.bold) {
    const XmlNode* old = Item(kFonts, XfAttr(xf, "fontId"));
    if (!old) old = Item(kFonts, 0);
    XmlNode font = old ? *old : Element(main_, "font");
    std::erase_if(font.children, [](const XmlNode& c) { return !c.isText() && c.local == "b"; });
    if (*f.bold) font.children.insert(font.children.begin(), Element(main_, "b"));
    auto id = FindOrAdd(kFonts, std::move(font));
    if (!id) return id.error();
    xf.SetAttr("fontId", std::to_string(*id));
    xf.SetAttr("applyFont", "1");
  }
  if (f.horizontal) {
    const size_t h = static_cast<size_t>(*f.horizontal);
    AlignmentOf(xf, main_).SetAttr("horizontal", kHorizontal[h < std::size(kHorizontal) ? h : 0]);
    xf.SetAttr("applyAlignment", "1");
  }
  if (f.borderTop || f.borderBottom || f.borderLeft || (f.borderInsideVertical && !lastCol)) {
    const XmlNode* old = Item(kBorders, XfAttr(xf, "borderId"));
    XmlNode border = old ? *old : Element(main_, "border");
    if (f.borderTop) SetSide(border, main_, "top", LineStyle::kThin, 64);
    if (f.borderBottom) SetSide(border, main_, "bottom", LineStyle::kThin, 64);
    if (f.borderLeft) SetSide(border, main_, "left", LineStyle::kThin, 64);
    if (f.borderInsideVertical && !lastCol) SetSide(border, main_, "right", LineStyle::kThin, 64);
    auto id = FindOrAdd(kBorders, std::move(border));
    if (!id) return id.error();
    xf.SetAttr("borderId", std::to_string(*id));
    xf.SetAttr("applyBorder", "1");
  }
  if (f.fillColor) {
    XmlNode fill = Element(main_, "fill");
    XmlNode pattern = Element(main_, "patternFill");
    pattern.SetAttr("patternType", "solid");
    pattern.children.push_back(ColorElement(main_, "fgColor", *f.fillColor & 0x7F));
    pattern.children.push_back(ColorElement(main_, "bgColor", 64));
    fill.children.push_back(std::move(pattern));
    auto id = FindOrAdd(kFills, std::move(fill));
    if (!id) return id.error();
    xf.SetAttr("fillId", std::to_string(*id));
    xf.SetAttr("applyFill", "1");
  }
  return FindOrAdd(kCellXfs, std::move(xf));
}

Result<uint16_t> Styles::Import(const CellFormat& f, const Font& font, std::string_view code) {
  auto numFmt = NumberFormatId(code.empty() ? "General" : code);
  if (!numFmt) return numFmt.error();
  XmlNode fn = Element(main_, "font");
  if (font.bold()) fn.children.push_back(Element(main_, "b"));
  if (font.italic) fn.children.push_back(Element(main_, "i"));
  if (font.strikeout) fn.children.push_back(Element(main_, "strike"));
  if (font.underline) {
    XmlNode u = Element(main_, "u");
    if (font.underline == 2) u.SetAttr("val", "double");
    if (font.underline == 0x21) u.SetAttr("val", "singleAccounting");
    if (font.underline == 0x22) u.SetAttr("val", "doubleAccounting");
    fn.children.push_back(std::move(u));
  }
  XmlNode sz = Element(main_, "sz");
  std::string pts;
  AppendNumber(font.height / 20.0, pts);
  sz.SetAttr("val", pts);
  fn.children.push_back(std::move(sz));
  if (font.color != 0x7FFF) fn.children.push_back(ColorElement(main_, "color", font.color));
  XmlNode name = Element(main_, "name");
  name.SetAttr("val", font.name);
  fn.children.push_back(std::move(name));
  auto fontId = FindOrAdd(kFonts, std::move(fn));
  if (!fontId) return fontId.error();

  XmlNode border = Element(main_, "border");
  SetSide(border, main_, "left", f.left, f.leftColor);
  SetSide(border, main_, "right", f.right, f.rightColor);
  SetSide(border, main_, "top", f.top, f.topColor);
  SetSide(border, main_, "bottom", f.bottom, f.bottomColor);
  SetSide(border, main_, "diagonal", LineStyle::kNone, 64);
  auto borderId = FindOrAdd(kBorders, std::move(border));
  if (!borderId) return borderId.error();

  uint16_t fillId = 0;
  if (f.fillPattern != 0) {
    XmlNode fill = Element(main_, "fill");
    XmlNode pattern = Element(main_, "patternFill");
    pattern.SetAttr("patternType",
                    kPatterns[f.fillPattern < std::size(kPatterns) ? f.fillPattern : 1]);
    pattern.children.push_back(ColorElement(main_, "fgColor", f.fillColor));
    pattern.children.push_back(ColorElement(main_, "bgColor", f.fillBackColor));
    fill.children.push_back(std::move(pattern));
    auto id = FindOrAdd(kFills, std::move(fill));
    if (!id) return id.error();
    fillId = *id;
  }

  XmlNode xf = Element(main_, "xf");
  xf.SetAttr("numFmtId", std::to_string(*numFmt));
  xf.SetAttr("fontId", std::to_string(*fontId));
  xf.SetAttr("fillId", std::to_string(fillId));
  xf.SetAttr("borderId", std::to_string(*borderId));
  xf.SetAttr("xfId", "0");
  if (*numFmt) xf.SetAttr("applyNumberFormat", "1");
  xf.SetAttr("applyFont", "1");
  if (fillId) xf.SetAttr("applyFill", "1");
  if (*borderId) xf.SetAttr("applyBorder", "1");
  if (f.horizontal != HAlign::kGeneral || f.vertical != VAlign::kBottom || f.wrap || f.rotation ||
      f.indent) {
    XmlNode& a = AlignmentOf(xf, main_);
    if (f.horizontal != HAlign::kGeneral)
      a.SetAttr("horizontal", kHorizontal[static_cast<size_t>(f.horizontal) & 7]);
    if (f.vertical != VAlign::kBottom)
      a.SetAttr("vertical", kVertical[std::min<size_t>(static_cast<size_t>(f.vertical), 4)]);
    if (f.wrap) a.SetAttr("wrapText", "1");
    if (f.rotation) a.SetAttr("textRotation", std::to_string(f.rotation));
    if (f.indent) a.SetAttr("indent", std::to_string(f.indent));
    xf.SetAttr("applyAlignment", "1");
  }
  if (!f.locked || f.hidden) {
    XmlNode p = Element(main_, "protection");
    if (!f.locked) p.SetAttr("locked", "0");
    if (f.hidden) p.SetAttr("hidden", "1");
    xf.children.push_back(std::move(p));
    xf.SetAttr("applyProtection", "1");
  }
  return FindOrAdd(kCellXfs, std::move(xf));
}

}  // namespace migrator::xls::xlsx
