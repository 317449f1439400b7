// What an .xlsx workbook keeps beside the shared model, and the calls that
// depend on it: defined names, sheets' parts, formulas, comments and
// hyperlinks.

#include "xls/xlsx/book.h"

#include <algorithm>
#include <charconv>

#include "xls/unicode.h"

namespace migrator::xls::xlsx {

namespace {

constexpr std::string_view kBuiltinPrefix = "_xlnm.";

bool Overlaps(const Range& a, const Range& b) {
  return !(a.lastRow < b.firstRow || a.firstRow > b.lastRow || a.lastCol < b.firstCol ||
           a.firstCol > b.lastCol);
}

// The prefix a tree gives the main namespace ("x:" or "").
std::string MainPrefix(const XmlNode& root) {
  const size_t colon = root.qname.find(':');
  return colon == std::string::npos ? "" : root.qname.substr(0, colon + 1);
}

}  // namespace

// ---- sheets ----

std::optional<std::string> XlsxSheet::RelTarget(std::string_view type) const {
  for (const auto& r : rels.list)
    if (r.type == type && !r.external) return ResolveTarget(part, r.target);
  return std::nullopt;
}

Value XlsxSheet::FormulaValue(uint32_t formula) const {
  return formulas[formula].value;
}

std::string XlsxSheet::FormulaText(uint32_t formula) const {
  return formulas[formula].text;
}

Status XlsxSheet::ReleaseFormula(WorkbookImpl& wb, SheetModel& m, uint32_t row, uint32_t col,
                                 const CellRec& cell) {
  if (cell.aux >= formulas.size()) return {};
  const Formula& master = formulas[cell.aux];
  const std::string* t = master.f.Attr("t");
  const std::string* si = master.f.Attr("si");
  const std::string* ref = master.f.Attr("ref");
  if (!t || *t != "shared" || !si || !ref || master.text.empty()) return {};
  Range range;
  if (!ParseRangeRef(*ref, wb.limits, range)) return {};
  const std::string text = master.text;
  const std::string group = *si;
  // The other cells of the shared formula get the formula written out.
  for (uint32_t r = range.firstRow; r <= range.lastRow && r < m.rows.size(); ++r) {
    detail::RowRec* rr = m.rows.Find(r);
    if (!rr) continue;
    for (auto& c : rr->cells) {
      if (c.col < range.firstCol || c.col > range.lastCol || c.kind != CellKind::kFormula) continue;
      if (r == row && c.col == col) continue;
      Formula& f = formulas[c.aux];
      const std::string* ft = f.f.Attr("t");
      const std::string* fsi = f.f.Attr("si");
      if (!ft || *ft != "shared" || !fsi || *fsi != group) continue;
      auto moved = ShiftFormula(text, int64_t{r} - row, int64_t{c.col} - col, wb.limits);
      if (moved) {
        f.text = std::move(*moved);
        f.f.RemoveAttr("t");
        f.f.RemoveAttr("si");
        f.f.RemoveAttr("ref");
        continue;
      }
      // A reference would leave the sheet: the cell keeps its last value.
      if (auto st = detail::SetCellValue(wb, c, f.value); !st) return st;
    }
  }
  return {};
}

namespace {

int ElementRank(const SheetElement& e) {
  switch (e.kind) {
    case SheetElement::kDimension:
      return WorksheetRank("dimension");
    case SheetElement::kSheetViews:
      return WorksheetRank("sheetViews");
    case SheetElement::kFormatPr:
      return WorksheetRank("sheetFormatPr");
    case SheetElement::kCols:
      return WorksheetRank("cols");
    case SheetElement::kSheetData:
      return WorksheetRank("sheetData");
    case SheetElement::kMergeCells:
      return WorksheetRank("mergeCells");
    case SheetElement::kHyperlinks:
      return WorksheetRank("hyperlinks");
    case SheetElement::kKept:
      break;
  }
  return WorksheetRank(e.node.local);
}

}  // namespace

int WorksheetRank(std::string_view local) {
  static const char* const kOrder[] = {"sheetPr",
                                       "dimension",
                                       "sheetViews",
                                       "sheetFormatPr",
                                       "cols",
                                       "sheetData",
                                       "sheetCalcPr",
                                       "sheetProtection",
                                       "protectedRanges",
                                       "scenarios",
                                       "autoFilter",
                                       "sortState",
                                       "dataConsolidate",
                                       "customSheetViews",
                                       "mergeCells",
                                       "phoneticPr",
                                       "conditionalFormatting",
                                       "dataValidations",
                                       "hyperlinks",
                                       "printOptions",
                                       "pageMargins",
                                       "pageSetup",
                                       "headerFooter",
                                       "rowBreaks",
                                       "colBreaks",
                                       "customProperties",
                                       "cellWatches",
                                       "ignoredErrors",
                                       "smartTags",
                                       "drawing",
                                       "legacyDrawing",
                                       "legacyDrawingHF",
                                       "drawingHF",
                                       "picture",
                                       "oleObjects",
                                       "controls",
                                       "webPublishItems",
                                       "tableParts",
                                       "extLst"};
  for (size_t i = 0; i < std::size(kOrder); ++i)
    if (local == kOrder[i]) return static_cast<int>(i);
  return -1;
}

namespace {

// Puts an element where the format wants it.
void InsertInOrder(std::vector<SheetElement>& elements, SheetElement add) {
  const int want = ElementRank(add);
  size_t at = elements.size();
  int rank = -1;
  for (size_t i = 0; i < elements.size(); ++i) {
    const int r = ElementRank(elements[i]);
    if (r >= 0) rank = r;  // unknown elements rank with the one before them
    if (rank > want) {
      at = i;
      break;
    }
  }
  elements.insert(elements.begin() + static_cast<long>(at), std::move(add));
}

// Puts an element of `kind` where the format wants it, unless there is one.
void EnsureElement(std::vector<SheetElement>& elements, SheetElement::Kind kind,
                   const std::string& prefix, const char* local) {
  for (const auto& e : elements)
    if (e.kind == kind) return;
  SheetElement add;
  add.kind = kind;
  add.node.uri = ns::kMain;
  add.node.local = local;
  add.node.qname = prefix + local;
  InsertInOrder(elements, std::move(add));
}

}  // namespace

void XlsxSheet::Touched(Aspect a) {
  const std::string prefix = MainPrefix(root);
  switch (a) {
    case Aspect::kColumns:
      EnsureElement(elements, SheetElement::kCols, prefix, "cols");
      break;
    case Aspect::kMerges:
      EnsureElement(elements, SheetElement::kMergeCells, prefix, "mergeCells");
      break;
    case Aspect::kPanes:
      EnsureElement(elements, SheetElement::kSheetViews, prefix, "sheetViews");
      break;
  }
}

std::vector<Range> XlsxSheet::HyperlinkRanges() const {
  std::vector<Range> out;
  for (const auto& h : hyperlinks)
    out.push_back(h.ref);
  return out;
}

namespace {

// The cell a comment's shape of a VML drawing belongs to, if it is one.
std::optional<std::pair<uint32_t, uint32_t>> NoteCell(const XmlNode& shape) {
  for (const auto& c : shape.children) {
    if (c.local != "ClientData") continue;
    const std::string* type = c.Attr("ObjectType");
    if (!type || *type != "Note") return std::nullopt;
    uint64_t row = 0, col = 0;
    bool haveRow = false, haveCol = false;
    for (const auto& k : c.children) {
      if (k.local == "Row") haveRow = ParseUint(k.Text(), row);
      if (k.local == "Column") haveCol = ParseUint(k.Text(), col);
    }
    if (!haveRow || !haveCol || row > UINT32_MAX || col > UINT32_MAX) return std::nullopt;
    return std::make_pair(static_cast<uint32_t>(row), static_cast<uint32_t>(col));
  }
  return std::nullopt;
}

size_t CountShapes(const XmlNode& n) {
  size_t k = 0;
  for (const auto& c : n.children)
    if (!c.isText() && c.local == "shape") ++k;
  return k;
}

}  // namespace

Status XlsxSheet::RemoveAttached(const std::string& sheetName, const Range& r) {
  XlsxBook& book = book_;
  bool anyComment = false;
  for (const Range& c : comments)
    if (r.Contains(c.firstRow, c.firstCol)) anyComment = true;

  // Everything is read and changed in copies first: a part that cannot be
  // followed leaves the workbook as it was.
  struct Change {
    std::string part;
    std::optional<std::string> bytes;  // nothing: the part goes
  };
  std::vector<Change> changes;
  std::vector<std::string> dropRels;
  bool dropLegacy = false;
  auto refuse = [&](const std::string& why) {
    return Fail("the comments in " + RangeName(r) + " on the sheet " + sheetName +
                " cannot be removed: " + why);
  };
  if (anyComment) {
    // The comments part.
    for (const auto& rl : rels.list) {
      if (rl.external || (rl.type != rel::kComments && rl.type != rel::kThreadedComment)) continue;
      auto target = ResolveTarget(part, rl.target);
      CarriedPart* p = target ? book.FindCarried(*target) : nullptr;
      if (!p) continue;
      auto tree = ParseTree(p->bytes, p->name);
      if (!tree) return refuse(tree.message());
      XmlNode* list = rl.type == rel::kComments ? tree->Child(ns::kMain, "commentList") : &*tree;
      if (!list) continue;
      size_t left = 0;
      std::erase_if(list->children, [&](const XmlNode& c) {
        if (c.isText()) return false;
        const std::string* ref = c.Attr("ref");
        Range at;
        if (ref && ParseRangeRef(*ref, book.wb().limits, at) &&
            r.Contains(at.firstRow, at.firstCol))
          return true;
        ++left;
        return false;
      });
      if (left == 0) {
        changes.push_back({p->name, std::nullopt});
        dropRels.push_back(rl.id);
      } else {
        std::string out(kXmlDeclaration);
        WriteNode(*tree, out);
        changes.push_back({p->name, std::move(out)});
      }
    }
    // The shapes that show them.
    for (auto& e : elements) {
      if (e.kind != SheetElement::kKept || !e.node.Is(ns::kMain, "legacyDrawing")) continue;
      const std::string* id = e.node.AttrNs(ns::kRel, "id");
      const Relationship* rl = id ? rels.Find(*id) : nullptr;
      auto target = rl && !rl->external ? ResolveTarget(part, rl->target) : std::nullopt;
      CarriedPart* p = target ? book.FindCarried(*target) : nullptr;
      if (!p) continue;
      auto tree = ParseTree(p->bytes, p->name);
      if (!tree) return refuse("the drawing of the comments is not in a form this program follows");
      std::erase_if(tree->children, [&](const XmlNode& shape) {
        if (shape.isText() || shape.local != "shape") return false;
        auto cell = NoteCell(shape);
        return cell && r.Contains(cell->first, cell->second);
      });
      if (CountShapes(*tree) == 0) {
        changes.push_back({p->name, std::nullopt});
        dropRels.push_back(rl->id);
        dropLegacy = true;
      } else {
        std::string out;
        WriteNode(*tree, out);
        changes.push_back({p->name, std::move(out)});
      }
    }
  }

  // Everything could be followed: the changes are made.
  for (auto& c : changes) {
    if (c.bytes) {
      book.FindCarried(c.part)->bytes = std::move(*c.bytes);
    } else {
      book.RemoveCarried(c.part);
      book.types.Remove(c.part);
    }
  }
  for (const auto& id : dropRels)
    rels.Remove(id);
  if (dropLegacy)
    std::erase_if(elements, [](const SheetElement& e) {
      return e.kind == SheetElement::kKept && e.node.Is(ns::kMain, "legacyDrawing");
    });
  std::erase_if(comments, [&](const Range& c) { return r.Contains(c.firstRow, c.firstCol); });

  // Hyperlinks, and the relationships of those that named a target outside.
  std::vector<std::string> linkRels;
  std::erase_if(hyperlinks, [&](const Hyperlink& h) {
    if (!Overlaps(h.ref, r)) return false;
    if (const std::string* id = h.node.AttrNs(ns::kRel, "id")) linkRels.push_back(*id);
    return true;
  });
  for (const auto& id : linkRels) {
    bool used = false;
    for (const auto& h : hyperlinks)
      if (const std::string* other = h.node.AttrNs(ns::kRel, "id"); other && *other == id)
        used = true;
    if (!used) rels.Remove(id);
  }
  return {};
}

// ---- the workbook ----

CarriedPart* XlsxBook::FindCarried(std::string_view name) {
  for (auto& p : carried)
    if (SamePartName(p.name, name)) return &p;
  return nullptr;
}

void XlsxBook::RemoveCarried(std::string_view name) {
  std::erase_if(carried, [&](const CarriedPart& p) { return SamePartName(p.name, name); });
}

bool XlsxBook::PartTaken(std::string_view name) const {
  if (SamePartName(name, workbookPart) || SamePartName(name, stylesPart) ||
      SamePartName(name, stringsPart) || SamePartName(name, RelsPartOf(workbookPart)) ||
      SamePartName(name, "[Content_Types].xml") || SamePartName(name, "_rels/.rels"))
    return true;
  const std::string rels = RelsPartOf(name);
  for (const auto& p : carried)
    if (SamePartName(p.name, name) || SamePartName(p.name, rels)) return true;
  for (size_t i = 0; i < wb_.sheets.size(); ++i) {
    const XlsxSheet& x = Xlsx(wb_.model(i));
    if (SamePartName(x.part, name) || SamePartName(RelsPartOf(x.part), name)) return true;
  }
  return false;
}

std::string XlsxBook::NewPartName(std::string_view prefix, std::string_view suffix) const {
  for (size_t n = 1;; ++n) {
    std::string name = std::string(prefix) + std::to_string(n) + std::string(suffix);
    if (!PartTaken(name)) return name;
  }
}

void XlsxBook::SetDate1904(bool on) {
  XmlNode* pr = workbook.Child(ns::kMain, "workbookPr");
  if (!pr) {
    XmlNode n;
    n.uri = ns::kMain;
    n.local = "workbookPr";
    n.qname = MainPrefix(workbook) + "workbookPr";
    // Before everything but the file's version and sharing.
    size_t at = 0;
    while (at < workbook.children.size() && (workbook.children[at].local == "fileVersion" ||
                                             workbook.children[at].local == "fileSharing"))
      ++at;
    workbook.children.insert(workbook.children.begin() + static_cast<long>(at), std::move(n));
    pr = &workbook.children[at];
  }
  if (on)
    pr->SetAttr("date1904", "1");
  else
    pr->RemoveAttr("date1904");
}

DefinedName XlsxBook::name(size_t index) const {
  const DefinedNameEntry& n = names[index];
  DefinedName d;
  d.name = n.name;
  if (std::string_view(n.name).substr(0, kBuiltinPrefix.size()) == kBuiltinPrefix) {
    d.builtin = true;
    d.name = n.name.substr(kBuiltinPrefix.size());
  }
  d.hidden = ParseBool(n.node.Attr("hidden"), false);
  if (n.localSheetId) d.scope = *n.localSheetId;
  d.kind = DefinedName::Kind::kOther;
  d.reference = "(formula)";
  if (auto area = ParseAreaFormula(n.text, wb_.limits)) {
    std::u16string sheet;
    Utf8ToUtf16(area->sheet, sheet);
    for (size_t i = 0; i < wb_.sheets.size(); ++i)
      if (EqualsIgnoreCase(wb_.model(i).name, sheet)) {
        d.kind = DefinedName::Kind::kArea;
        d.sheet = i;
        d.range = area->range;
        d.reference =
            QuoteSheetName(Utf16ToUtf8(wb_.model(i).name)) + "!" + RangeName(area->range, true);
      }
  } else if (n.text.find("#REF!") != std::string::npos && n.text.find('(') == std::string::npos) {
    d.kind = DefinedName::Kind::kInvalid;
    d.reference = "#REF!";
  }
  return d;
}

std::optional<size_t> XlsxBook::FindName(std::string_view name, std::u16string_view,
                                         std::optional<size_t> scope) const {
  for (size_t i = 0; i < names.size(); ++i) {
    const DefinedNameEntry& n = names[i];
    if (n.localSheetId.has_value() != scope.has_value()) continue;
    if (scope && *n.localSheetId != *scope) continue;
    std::string_view shown = n.name;
    if (shown.substr(0, kBuiltinPrefix.size()) == kBuiltinPrefix)
      shown.remove_prefix(kBuiltinPrefix.size());
    if (EqualsIgnoreCase(shown, name) || EqualsIgnoreCase(n.name, name)) return i;
  }
  return std::nullopt;
}

Status XlsxBook::DefineName(std::string_view name, std::u16string_view wide, size_t sheet,
                            const Range& area, std::optional<size_t> scope) {
  const std::string text =
      QuoteSheetName(Utf16ToUtf8(wb_.model(sheet).name)) + "!" + RangeName(area, true);
  if (auto existing = FindName(name, wide, scope)) {
    names[*existing].text = text;
    return {};
  }
  DefinedNameEntry d;
  d.name = std::string(name);
  if (scope) d.localSheetId = static_cast<uint32_t>(*scope);
  d.text = text;
  d.node.uri = ns::kMain;
  d.node.local = "definedName";
  d.node.qname = MainPrefix(workbook) + "definedName";
  names.push_back(std::move(d));
  return {};
}

Status XlsxBook::MoveNameArea(size_t index, size_t sheet, const Range& area) {
  DefinedNameEntry& n = names[index];
  const std::u16string& sheetName = wb_.model(sheet).name;
  DefinedNameEntry::Moved& m = n.moved;
  if (m.lastRowAt && area.firstRow == m.area.firstRow && area.firstCol == m.area.firstCol &&
      area.lastCol == m.area.lastCol &&
      !(area.firstRow == area.lastRow && area.firstCol == area.lastCol) && n.text == m.text &&
      sheetName == m.sheet) {
    char digits[16];
    const auto end = std::to_chars(digits, digits + sizeof digits, area.lastRow + 1ull).ptr;
    n.text.replace(m.lastRowAt, std::string::npos, digits, static_cast<size_t>(end - digits));
    m.text = n.text;
    m.area = area;
    return {};
  }
  auto ref = ParseAreaFormula(n.text, wb_.limits);
  std::u16string named;
  if (!ref || !Utf8ToUtf16(ref->sheet, named) || !EqualsIgnoreCase(named, sheetName))
    return Fail("the defined name " + std::to_string(index + 1) +
                " is not a block of cells of sheet " + std::to_string(sheet + 1));
  n.text = QuoteSheetName(Utf16ToUtf8(sheetName)) + "!" + RangeName(area, true);
  m = {};
  if (area.firstRow != area.lastRow || area.firstCol != area.lastCol) {
    m.text = n.text;
    m.sheet = sheetName;
    m.area = area;
    m.lastRowAt = n.text.size() - std::to_string(area.lastRow + 1ull).size();
  }
  return {};
}

Status XlsxBook::DeleteName(size_t index) {
  names.erase(names.begin() + static_cast<long>(index));
  return {};
}

void XlsxBook::SheetInserting(size_t pos) {
  for (auto& n : names)
    if (n.localSheetId && *n.localSheetId >= pos) ++*n.localSheetId;
}

Status XlsxBook::SetAutoFilter(size_t sheet, const std::optional<Range>& area) {
  // The sheet's <autoFilter ref="A1:J101">, where the format wants it; the
  // criteria of a filter over other columns go with its element.
  XlsxSheet& x = Xlsx(wb_.model(sheet));
  auto it = std::find_if(x.elements.begin(), x.elements.end(), [](const SheetElement& e) {
    return e.kind == SheetElement::kKept && e.node.local == "autoFilter";
  });
  if (!area && it != x.elements.end()) x.elements.erase(it);
  if (area && it != x.elements.end()) {
    Range was;
    const std::string* old = it->node.Attr("ref");
    if (!old || !ParseRangeRef(*old, wb_.limits, was) || was.firstCol != area->firstCol ||
        was.lastCol != area->lastCol || was.firstRow != area->firstRow)
      it->node.children.clear();
    it->node.SetAttr("ref", RangeName(*area));
  } else if (area) {
    SheetElement add;
    add.node.uri = ns::kMain;
    add.node.local = "autoFilter";
    add.node.qname = MainPrefix(x.root) + "autoFilter";
    add.node.SetAttr("ref", RangeName(*area));
    InsertInOrder(x.elements, std::move(add));
  }

  // The name: "_xlnm._FilterDatabase", local to the sheet, hidden.
  const std::string full = std::string(kBuiltinPrefix) + std::string(detail::kFilterDatabaseName);
  const auto existing = FindName(full, {}, sheet);
  if (!area) return existing ? DeleteName(*existing) : Status{};
  if (auto st = DefineName(full, {}, sheet, *area, sheet); !st) return st;
  names[*FindName(full, {}, sheet)].node.SetAttr("hidden", "1");
  return {};
}

Status XlsxBook::SheetDeleting(size_t index) {
  const std::u16string& gone = wb_.model(index).name;
  std::erase_if(names, [&](const DefinedNameEntry& n) { return n.localSheetId == index; });
  for (auto& n : names) {
    if (n.localSheetId && *n.localSheetId > index) --*n.localSheetId;
    // References into the sheet become invalid.
    if (auto area = ParseAreaFormula(n.text, wb_.limits)) {
      std::u16string sheet;
      if (Utf8ToUtf16(area->sheet, sheet) && EqualsIgnoreCase(sheet, gone)) n.text = "#REF!";
    }
  }
  // The sheet's part, and the parts only it shows.
  XlsxSheet& x = Xlsx(wb_.model(index));
  for (const auto& r : x.rels.list) {
    if (r.external ||
        (r.type != rel::kComments && r.type != rel::kVmlDrawing && r.type != rel::kThreadedComment))
      continue;
    if (auto target = ResolveTarget(x.part, r.target)) {
      RemoveCarried(*target);
      types.Remove(*target);
    }
  }
  types.Remove(x.part);
  workbookRels.Remove(x.relId);
  if (!wb_.model(index).modeled) RemoveCarried(x.part);
  RemoveCarried(RelsPartOf(x.part));
  return {};
}

void XlsxBook::SheetRenamed(size_t index, std::u16string_view old) {
  const std::u16string& now = wb_.model(index).name;
  for (auto& n : names)
    n.text = RenameSheetInFormula(n.text, old, now);
  for (size_t i = 0; i < wb_.sheets.size(); ++i) {
    if (!wb_.model(i).part) continue;
    for (auto& f : Xlsx(wb_.model(i)).formulas)
      if (!f.text.empty()) f.text = RenameSheetInFormula(f.text, old, now);
  }
}

std::unique_ptr<SheetModel> XlsxBook::NewSheet(std::u16string name) {
  return NewSheetModel(*this, std::move(name));
}

std::unique_ptr<SheetModel> NewSheetModel(XlsxBook& book, std::u16string name) {
  auto m = std::make_unique<SheetModel>(kXlsxLimits);
  auto x = std::make_unique<XlsxSheet>(book);
  XlsxSheet& xs = *x;
  m->part = std::move(x);
  m->name = std::move(name);
  m->modeled = true;
  m->defaultRowHeight = 300;
  m->selectionsReplaced = true;
  m->usedDirty = false;
  m->usedEmpty = true;
  xs.defaultColumnWidth = 8.43;
  xs.part = book.NewPartName("xl/worksheets/sheet", ".xml");
  xs.relId = book.workbookRels.NewId();
  book.workbookRels.list.push_back(
      {xs.relId, rel::kWorksheet, RelativeTarget(book.workbookPart, xs.part), false});
  book.types.Set(xs.part, ct::kWorksheet);
  auto parsed = ParseTree(
      "<worksheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" "
      "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\">"
      "<dimension ref=\"A1\"/><sheetViews><sheetView workbookViewId=\"0\"/></sheetViews>"
      "<sheetFormatPr defaultRowHeight=\"15\"/><sheetData/>"
      "<pageMargins left=\"0.7\" right=\"0.7\" top=\"0.75\" bottom=\"0.75\" header=\"0.3\" "
      "footer=\"0.3\"/></worksheet>",
      "a new sheet");
  XmlNode tree = parsed ? std::move(*parsed) : XmlNode{};
  for (auto& c : tree.children) {
    SheetElement e;
    e.kind = c.local == "dimension"       ? SheetElement::kDimension
             : c.local == "sheetViews"    ? SheetElement::kSheetViews
             : c.local == "sheetFormatPr" ? SheetElement::kFormatPr
             : c.local == "sheetData"     ? SheetElement::kSheetData
                                          : SheetElement::kKept;
    e.node = std::move(c);
    if (e.kind == SheetElement::kSheetData || e.kind == SheetElement::kDimension)
      e.node.children.clear();
    xs.elements.push_back(std::move(e));
  }
  tree.children.clear();
  xs.root = std::move(tree);
  return m;
}

}  // namespace migrator::xls::xlsx
