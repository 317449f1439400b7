#pragma once
// What the workbook fuzzers do with a workbook they could read: read
// everything the engine made of it, save it and read the saved image again,
// edit it as the workbook provider and the automation layer do, and save
// again. Any crash, hang or sanitizer report is a fault; so is a saved
// workbook that the reader refuses.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "xls/workbook.h"

namespace fuzzing {

using migrator::xls::Workbook;

inline void Touch(const Workbook& wb) {
  for (size_t i = 0; i < wb.sheetCount(); ++i) {
    const auto& s = wb.sheet(i);
    (void)s.name();
    (void)s.visibility();
    auto used = s.UsedRange();
    if (!used) continue;
    // A bounded window of cells: enough to reach every kind of record.
    uint32_t r2 = std::min(used->lastRow, used->firstRow + 40);
    uint32_t c2 = std::min(used->lastCol, used->firstCol + 20);
    for (uint32_t r = used->firstRow; r <= r2; ++r) {
      (void)s.RowHeight(r);
      (void)s.RowFormatIndex(r);
      for (uint32_t c = used->firstCol; c <= c2; ++c) {
        auto cell = s.GetCell(r, c);
        (void)wb.format(cell.xf);
        (void)wb.IsDateFormat(cell.xf);
        (void)s.FormulaTokens(r, c);
        (void)s.FormulaText(r, c);
      }
    }
    for (uint32_t c = 0; c < wb.limits().columns; c += 17 * (wb.limits().columns / 256))
      (void)s.ColumnWidth(c);
    (void)s.frozenRows();
    (void)s.mergedRanges().size();
    (void)s.commentCells();
    (void)s.hyperlinkRanges();
  }
  for (size_t i = 0; i < wb.nameCount(); ++i)
    (void)wb.name(i);
  for (uint16_t f = 0; f < 40; ++f)
    (void)wb.font(f);
  for (uint16_t x = 0; x < 40 && x < wb.formatCount(); ++x)
    (void)wb.NumberFormatCode(wb.format(x).numberFormat);
}

inline void MustReadBack(const Workbook& wb) {
  auto out = wb.Serialize();
  if (!out) return;  // e.g. nothing left to save
  auto again = Workbook::Parse(*out);
  if (!again) {
    std::fprintf(stderr, "the saved workbook does not load: %s\n", again.message().c_str());
    std::abort();
  }
  Touch(*again);
}

// Reads, saves, edits and saves again.
inline void Exercise(Workbook& wb) {
  Touch(wb);
  MustReadBack(wb);
  // Edits of the kinds the workbook provider and the automation layer make.
  if (wb.sheetCount() > 0) {
    auto& s = wb.sheet(0);
    (void)s.SetText(0, 0, "fuzz");
    (void)s.SetNumber(1, 1, 2.5);
    (void)s.Clear(2, 2);
    (void)s.RemoveAttached({0, 0, 5, 2});
    migrator::xls::RowFormat f;
    f.bold = true;
    f.borderInsideVertical = true;
    f.fillColor = 8;
    (void)s.FormatRow(0, f);
    (void)s.SetColumnWidth(0, 12);
    (void)s.FreezePanes(1, 0);
    (void)wb.DefineName("FuzzName", 0, {0, 0, 3, 3});
  }
  if (wb.nameCount() > 0) (void)wb.DeleteName(0);
  if (wb.sheetCount() > 1) (void)wb.DeleteSheet(wb.sheetCount() - 1);
  (void)wb.AddSheet("Added", 0);
  if (wb.sheetCount() > 1) (void)wb.RenameSheet(1, "Renamed");
  Touch(wb);
  MustReadBack(wb);
}

}  // namespace fuzzing
