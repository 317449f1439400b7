#pragma once
// A workbook made through every kind of call the layers above the engine
// make: cells of each kind, row formatting, number formats, widths,
// heights, frozen panes, merged ranges, names, a second sheet put first.
// tests/data/xls/api_book.xls is this workbook as the engine wrote it before
// it held a second file format; an .xls save must stay those bytes.

#include <string>

#include "xls/workbook.h"

namespace migrator::xls {

inline Workbook MakeApiBook() {
  Workbook wb = Workbook::New();
  (void)wb.AddSheet("Orders");
  Sheet& s = wb.sheet(0);
  const char* head[] = {"id", "name", "amount", "when", "flag"};
  for (uint32_t c = 0; c < 5; ++c)
    (void)s.SetText(0, c, head[c]);
  for (uint32_t r = 1; r <= 40; ++r) {
    (void)s.SetNumber(r, 0, r);
    (void)s.SetText(r, 1, "name " + std::to_string(r % 7) + " \xC3\xA9\xE6\x97\xA5");
    (void)s.SetNumber(r, 2, r * 1.25);
    (void)s.SetNumber(r, 3, 43831 + r);
    if (r % 3) (void)s.SetBoolean(r, 4, r % 2);
    if (r % 5 == 0) (void)s.SetError(r, 4, ErrorCode::kNA);
    if (r % 11 == 0) (void)s.SetBlank(r, 5);
  }
  auto money = wb.CellFormatWithNumberFormat(s.GetCell(1, 2).xf, "#,##0.00");
  auto date = wb.CellFormatWithNumberFormat(s.GetCell(1, 3).xf, "yyyy-mm-dd");
  for (uint32_t r = 1; r <= 40; ++r) {
    if (money) (void)s.SetCellFormat(r, 2, *money);
    if (date) (void)s.SetCellFormat(r, 3, *date);
  }
  RowFormat header;
  header.bold = true;
  header.horizontal = HAlign::kCenter;
  header.borderTop = header.borderBottom = header.borderLeft = header.borderInsideVertical = true;
  header.fillColor = 22;
  (void)s.FormatRow(0, header);
  for (uint32_t c = 0; c < 5; ++c)
    (void)s.SetColumnWidth(c, 8 + c * 2.5);
  (void)s.SetRowHeight(0, 400);
  (void)s.FreezePanes(1, 0);
  (void)s.AddMergedRange({42, 0, 43, 2});
  (void)s.Clear(10, 1);
  (void)wb.DefineName("orders", 0, {0, 0, 40, 4});
  (void)wb.DefineName("local", 0, {0, 0, 0, 0}, 0);
  (void)wb.AddSheet("First", 0);
  (void)wb.sheet(0).SetText(0, 0, "first");
  (void)wb.DefineName("orders", 1, {0, 0, 41, 4});
  (void)wb.SetActiveSheet(1);
  return wb;
}

}  // namespace migrator::xls
