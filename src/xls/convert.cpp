// A workbook copied into the other file format.

#include <cmath>
#include <unordered_map>

#include "xls/model.h"
#include "xls/unicode.h"

namespace migrator::xls {

using detail::CellKind;
using detail::CellRec;
using detail::SheetModel;
using detail::WorkbookImpl;

namespace {

std::string Grouped(uint64_t n) {
  std::string s = std::to_string(n);
  for (size_t i = s.size(); i > 3; i -= 3)
    s.insert(i - 3, 1, ',');
  return s;
}

const char* FormatName(FileFormat f) {
  return f == FileFormat::kXlsx ? ".xlsx" : ".xls";
}

}  // namespace

Result<Workbook> Workbook::ConvertedTo(FileFormat format, std::vector<std::string>* notes) const {
  const WorkbookImpl& src = *impl_;
  std::vector<std::string> said;
  auto note = [&](std::string line) { said.push_back(std::move(line)); };

  // What does not fit the other format is refused, never cut.
  const Limits target = LimitsOf(format);
  for (size_t i = 0; i < src.sheets.size(); ++i) {
    const SheetModel& m = src.model(i);
    if (!m.modeled) continue;
    auto used = sheet(i).UsedRange();
    const std::string name = Utf16ToUtf8(m.name);
    if (used && used->lastRow >= target.rows)
      return Fail("the sheet " + name + " has " + Grouped(uint64_t{used->lastRow} + 1) +
                  " rows; a sheet of an " + FormatName(format) + " workbook holds " +
                  Grouped(target.rows));
    if (used && used->lastCol >= target.columns)
      return Fail("the sheet " + name + " has " + Grouped(uint64_t{used->lastCol} + 1) +
                  " columns; a sheet of an " + FormatName(format) + " workbook holds " +
                  Grouped(target.columns));
  }

  Workbook out = New(format);
  WorkbookImpl& dst = *out.impl_;
  dst.date1904 = src.date1904;
  dst.book->SetDate1904(src.date1904);

  // Cell formats are made once each, the nearest the other format shows.
  std::unordered_map<uint16_t, uint16_t> xfs;
  auto mapXf = [&](uint16_t xf) -> Result<uint16_t> {
    if (auto it = xfs.find(xf); it != xfs.end()) return it->second;
    const CellFormat f = src.book->format(xf);
    const Font font = src.book->font(f.font).value_or(Font{});
    auto made = dst.book->ImportXf(f, font, src.book->NumberFormatCode(f.numberFormat));
    if (!made) return made;
    xfs.emplace(xf, *made);
    return *made;
  };
  // Texts are copied once each.
  std::vector<uint32_t> texts(src.sst.size(), UINT32_MAX);

  for (size_t i = 0; i < src.sheets.size(); ++i) {
    const SheetModel& m = src.model(i);
    const std::string name = Utf16ToUtf8(m.name);
    if (!m.modeled) {
      note("the sheet " + name + " is not a worksheet and is not copied");
      continue;
    }
    auto added = out.AddSheet(name);
    if (!added) return added.error();
    SheetModel& d = dst.model(*added);
    d.visibility = m.visibility;
    size_t formulas = 0;
    Status failed;
    m.rows.ForEach([&](uint32_t r, const detail::RowRec& row) {
      if (!failed) return;
      detail::RowRec& to = d.rows.At(r);
      if (row.hasInfo) {
        to.hasInfo = true;
        to.height = row.height;
        to.flags = row.flags;
        to.xfBits = row.xfBits;
        to.xf = dst.book->DefaultXf();
        if (row.flags & detail::kRowHasFormat) {
          auto x = mapXf(row.xf);
          if (!x) {
            failed = x.error();
            return;
          }
          to.xf = *x;
        }
      }
      to.cells.reserve(row.cells.size());
      for (const CellRec& c : row.cells) {
        auto x = mapXf(c.xf);
        if (!x) {
          failed = x.error();
          return;
        }
        CellRec n;
        n.xf = *x;
        n.col = c.col;
        n.kind = c.kind;
        switch (c.kind) {
          case CellKind::kNumber:
            n.num = c.num;
            break;
          case CellKind::kText:
            if (texts[c.aux] == UINT32_MAX) {
              auto t = dst.sst.Add(src.sst.Text(c.aux));
              if (!t) {
                failed = t.error();
                return;
              }
              texts[c.aux] = *t;
            }
            n.aux = texts[c.aux];
            break;
          case CellKind::kBool:
          case CellKind::kError:
            n.aux = c.aux;
            break;
          case CellKind::kBlank:
            break;
          case CellKind::kFormula: {
            // The other format's formula is another language: the last
            // value goes over.
            ++formulas;
            if (auto st = detail::SetCellValue(dst, n, m.part->FormulaValue(c.aux)); !st) {
              failed = st;
              return;
            }
            break;
          }
        }
        to.cells.push_back(n);
      }
    });
    if (!failed) return failed.error();
    d.usedDirty = true;
    if (formulas)
      note("the sheet " + name + ": " + std::to_string(formulas) +
           " formulas are copied as their last values");

    // Columns, merged ranges, panes.
    if (m.cols.any()) {
      for (uint32_t c = 0; c < dst.limits.columns && c < m.cols.size(); ++c) {
        const detail::ColInfo& ci = m.cols[c];
        if (!ci.set) continue;
        detail::ColInfo& to = d.cols.Edit(c);
        to = ci;
        if (format == FileFormat::kXls)
          to.width = static_cast<float>(std::lround(ci.width * 256)) / 256.0f;
        auto x = mapXf(ci.xf);
        if (!x) return x.error();
        to.xf = *x;
      }
      d.part->Touched(detail::SheetPart::Aspect::kColumns);
    }
    for (const Range& g : m.merges)
      if (auto st = out.sheet(*added).AddMergedRange(g); !st) return st.error();
    if (m.hasPane && m.frozen)
      if (auto st = out.sheet(*added).FreezePanes(m.pane.y, m.pane.x); !st) return st.error();
    const auto comments = sheet(i).commentCells().size();
    const auto links = sheet(i).hyperlinkRanges().size();
    if (comments)
      note("the sheet " + name + ": " + std::to_string(comments) + " comments are not copied");
    if (links)
      note("the sheet " + name + ": " + std::to_string(links) + " hyperlinks are not copied");
  }
  if (out.sheetCount() == 0) return Fail("the workbook has no worksheet to copy");

  // Defined names that name blocks of cells.
  for (size_t n = 0; n < nameCount(); ++n) {
    const DefinedName d = name(n);
    auto sheetOf = [&](size_t s) {
      return s < sheetCount() ? out.FindSheet(sheet(s).name()) : std::nullopt;
    };
    auto target = d.kind == DefinedName::Kind::kArea ? sheetOf(d.sheet) : std::nullopt;
    std::optional<size_t> scope;
    if (d.scope) scope = sheetOf(*d.scope);
    if (d.builtin && d.scope && EqualsIgnoreCase(d.name, detail::kFilterDatabaseName))
      continue;  // the sheet's filter, below
    if (!target || d.builtin || (d.scope && !scope) ||
        !out.DefineName(d.name, *target, d.range, scope)) {
      note("the defined name " + d.name + " (" + d.reference + ") is not copied");
      continue;
    }
  }
  // Automatic filters.
  for (size_t i = 0; i < sheetCount(); ++i) {
    const auto filter = AutoFilter(i);
    const auto to = filter ? out.FindSheet(sheet(i).name()) : std::nullopt;
    if (filter && (!to || !out.SetAutoFilter(*to, *filter)))
      note("the sheet " + sheet(i).name() + ": its filter buttons are not copied");
  }
  const size_t active = src.activeSheet < src.sheets.size() ? src.activeSheet : 0;
  if (auto a = out.FindSheet(sheet(active).name())) (void)out.SetActiveSheet(*a);
  if (notes) *notes = std::move(said);
  return out;
}

}  // namespace migrator::xls
