// Worksheet, Range and the formatting objects of a range.

#include <algorithm>
#include <cctype>
#include <cmath>

#include "automation/excel.h"

#include "automation/excel_state.h"
#include "platform/text.h"

namespace migrator::automation {

using detail::Check;
using detail::Raise;

namespace {}  // namespace

// ---- Worksheet ----

Worksheet::Worksheet(std::shared_ptr<detail::AppState> app, std::shared_ptr<detail::Document> doc,
                     const xls::Sheet* sheet)
    : app_(std::move(app)), doc_(std::move(doc)), sheet_(sheet) {}

void Worksheet::Delete() {
  const size_t index = detail::SheetIndex(*app_, *doc_, sheet_);
  auto deleted = doc_->book.DeleteSheet(index);
  if (!deleted) Raise(kExcelError, "Delete method of Worksheet class failed: " + deleted.message());
  doc_->split.erase(sheet_);
}

std::string Worksheet::Name() const {
  return doc_->book.sheet(detail::SheetIndex(*app_, *doc_, sheet_)).name();
}

void Worksheet::SetName(const std::string& name) {
  const size_t index = detail::SheetIndex(*app_, *doc_, sheet_);
  auto renamed = doc_->book.RenameSheet(index, name);
  if (!renamed) {
    Raise(kExcelError,
          "Unable to set the Name property of the Worksheet class: " + renamed.message());
  }
}

int Worksheet::Visible() const {
  switch (doc_->book.sheet(detail::SheetIndex(*app_, *doc_, sheet_)).visibility()) {
    case xls::Visibility::kVisible:
      return xlSheetVisible;
    case xls::Visibility::kHidden:
      return xlSheetHidden;
    case xls::Visibility::kVeryHidden:
      return xlSheetVeryHidden;
  }
  return xlSheetVisible;
}

std::shared_ptr<Range> Worksheet::UsedRange() {
  const size_t index = detail::SheetIndex(*app_, *doc_, sheet_);
  const auto used = doc_->book.sheet(index).UsedRange();
  return std::make_shared<automation::Range>(app_, doc_, sheet_, used.value_or(xls::Range{}),
                                             false);
}

void Worksheet::Activate() {
  const size_t index = detail::SheetIndex(*app_, *doc_, sheet_);
  auto activated = doc_->book.SetActiveSheet(index);
  if (!activated) {
    Raise(kExcelError, "Activate method of Worksheet class failed: " + activated.message());
  }
  app_->active = doc_;
}

bool Worksheet::AutoFilterMode() const {
  const size_t index = detail::SheetIndex(*app_, *doc_, sheet_);
  return doc_->book.AutoFilter(index).has_value();
}

void Worksheet::SetAutoFilterMode(bool mode) {
  const size_t index = detail::SheetIndex(*app_, *doc_, sheet_);
  if (mode) {
    Raise(kExcelError, "Unable to set the AutoFilterMode property of the Worksheet class");
  }
  if (auto removed = doc_->book.RemoveAutoFilter(index); !removed) {
    Raise(kExcelError,
          "Unable to set the AutoFilterMode property of the Worksheet class: " + removed.message());
  }
}

std::shared_ptr<Range> Worksheet::Range(const std::string& address) {
  detail::SheetIndex(*app_, *doc_, sheet_);
  xls::Range area;
  if (!detail::ParseAddress(address, doc_->book.limits(), area)) {
    Raise(kExcelError, "Method 'Range' of object '_Worksheet' failed: '" + address +
                           "' is not a reference on the sheet.");
  }
  return std::make_shared<automation::Range>(app_, doc_, sheet_, area, false);
}

// ---- Range ----

Range::Range(std::shared_ptr<detail::AppState> app, std::shared_ptr<detail::Document> doc,
             const xls::Sheet* sheet, xls::Range area, bool entireRows)
    : app_(std::move(app)),
      doc_(std::move(doc)),
      sheet_(sheet),
      area_(area),
      entireRows_(entireRows) {}

xls::Sheet& Range::CheckedSheet() const {
  return doc_->book.sheet(detail::SheetIndex(*app_, *doc_, sheet_));
}

void Range::AutoFilter() {
  const size_t index = detail::SheetIndex(*app_, *doc_, sheet_);
  xls::Workbook& book = doc_->book;
  auto failed = [](const std::string& why) {
    Raise(kExcelError, "AutoFilter method of Range class failed: " + why);
  };
  if (book.AutoFilter(index)) {
    if (auto removed = book.RemoveAutoFilter(index); !removed) failed(removed.message());
    return;
  }
  xls::Range area = area_;
  if (entireRows_) {
    failed("filter buttons take a block of cells, not whole rows");
  }
  if (area.firstRow == area.lastRow && area.firstCol == area.lastCol) {
    const auto used = book.sheet(index).UsedRange();
    if (!used) failed("no cells were found on the sheet");
    area = *used;
  }
  if (auto set = book.SetAutoFilter(index, area); !set) failed(set.message());
}

std::string Range::Address() const {
  CheckedSheet();
  return xls::RangeName(area_, true);
}

void Range::SetName(const std::string& name) {
  const size_t index = detail::SheetIndex(*app_, *doc_, sheet_);
  auto defined = doc_->book.DefineName(name, index, area_);
  if (!defined) {
    Raise(kExcelError, "The name that you entered is not valid: " + defined.message());
  }
}

Value Range::Value() const {
  return CheckedSheet().GetValue(area_.firstRow, area_.firstCol);
}

std::string Range::NumberFormat() const {
  const xls::Cell cell = CheckedSheet().GetCell(area_.firstRow, area_.firstCol);
  return doc_->book.NumberFormatCode(doc_->book.format(cell.xf).numberFormat);
}

double Range::ColumnWidth() const {
  return CheckedSheet().ColumnWidth(area_.firstCol);
}

void Range::SetColumnWidth(double width) {
  xls::Sheet& sheet = CheckedSheet();
  if (!(width >= 0 && width <= 255)) {
    Raise(kExcelError, "Unable to set the ColumnWidth property of the Range class");
  }
  for (uint32_t c = area_.firstCol; c <= area_.lastCol; ++c) {
    auto set = sheet.SetColumnWidth(c, width);
    if (!set) {
      Raise(kExcelError,
            "Unable to set the ColumnWidth property of the Range class: " + set.message());
    }
  }
}

void Range::FormatRows(const xls::RowFormat& format, const char* property) {
  xls::Sheet& sheet = CheckedSheet();
  if (!entireRows_) {
    Raise(hr::E_NOTIMPL, std::string("The ") + property +
                             " property can be set on whole rows only (Range.EntireRow).");
  }
  for (uint32_t r = area_.firstRow; r <= area_.lastRow; ++r) {
    auto done = sheet.FormatRow(r, format);
    if (!done) {
      Raise(kExcelError, std::string("Unable to set the ") + property +
                             " property of the Range class: " + done.message());
    }
  }
}

void Range::SetHorizontalAlignment(int alignment) {
  xls::HAlign a;
  switch (alignment) {
    case xlGeneral:
      a = xls::HAlign::kGeneral;
      break;
    case xlLeft:
      a = xls::HAlign::kLeft;
      break;
    case xlCenter:
      a = xls::HAlign::kCenter;
      break;
    case xlRight:
      a = xls::HAlign::kRight;
      break;
    case xlFill:
      a = xls::HAlign::kFill;
      break;
    case xlJustify:
      a = xls::HAlign::kJustify;
      break;
    case xlCenterAcrossSelection:
      a = xls::HAlign::kCenterAcrossSelection;
      break;
    case xlDistributed:
      a = xls::HAlign::kDistributed;
      break;
    default:
      CheckedSheet();
      Raise(kExcelError, "Unable to set the HorizontalAlignment property of the Range class");
  }
  xls::RowFormat f;
  f.horizontal = a;
  FormatRows(f, "HorizontalAlignment");
}

std::shared_ptr<Font> Range::Font() {
  CheckedSheet();
  return std::make_shared<automation::Font>(std::make_shared<automation::Range>(*this));
}

std::shared_ptr<Borders> Range::Borders() {
  CheckedSheet();
  return std::make_shared<automation::Borders>(std::make_shared<automation::Range>(*this));
}

std::shared_ptr<Interior> Range::Interior() {
  CheckedSheet();
  return std::make_shared<automation::Interior>(std::make_shared<automation::Range>(*this));
}

std::shared_ptr<Range> Range::EntireRow() {
  CheckedSheet();
  xls::Range rows{area_.firstRow, 0, area_.lastRow, doc_->book.limits().columns - 1};
  return std::make_shared<automation::Range>(app_, doc_, sheet_, rows, true);
}

// ---- Font ----

std::optional<xls::Font> Font::Current() const {
  const xls::Sheet& sheet = range_->CheckedSheet();
  const xls::Workbook& book = range_->doc_->book;
  const xls::Range& area = range_->area_;
  uint16_t xf = 15;
  if (range_->entireRows_) {
    xf = sheet.RowFormatIndex(area.firstRow).value_or(15);
  } else {
    xf = sheet.GetCell(area.firstRow, area.firstCol).xf;
  }
  return book.font(book.format(xf).font);
}

void Font::SetFontStyle(const std::string& style) {
  xls::RowFormat f;
  if (EqualNoCase(style, "Bold")) {
    f.bold = true;
  } else if (EqualNoCase(style, "Regular") || EqualNoCase(style, "Normal")) {
    f.bold = false;
  } else {
    range_->CheckedSheet();
    Raise(kExcelError, "Unable to set the FontStyle property of the Font class");
  }
  range_->FormatRows(f, "FontStyle");
}

std::string Font::FontStyle() const {
  auto font = Current();
  return font && font->bold() ? "Bold" : "Regular";
}

double Font::Size() const {
  auto font = Current();
  if (!font) Raise(kExcelError, "Unable to get the Size property of the Font class");
  return font->points();
}

// ---- Borders, Border ----

std::shared_ptr<Border> Borders::Item(int index) {
  range_->CheckedSheet();
  if (index < xlDiagonalDown || index > xlInsideHorizontal) {
    Raise(kExcelError, "Unable to get the Item property of the Borders class");
  }
  return std::make_shared<Border>(range_, index);
}

void Border::SetLineStyle(int style) {
  range_->CheckedSheet();
  if (style != xlContinuous) {
    if (style == xlLineStyleNone) {
      Raise(hr::E_NOTIMPL, "Border lines cannot be removed.");
    }
    Raise(kExcelError, "Unable to set the LineStyle property of the Border class");
  }
  xls::RowFormat f;
  switch (index_) {
    case xlEdgeLeft:
      f.borderLeft = true;
      break;
    case xlEdgeTop:
      f.borderTop = true;
      break;
    case xlEdgeBottom:
      f.borderBottom = true;
      break;
    case xlInsideVertical:
      f.borderInsideVertical = true;
      break;
    default:
      Raise(hr::E_NOTIMPL,
            "Only the left, top, bottom and inside vertical lines of whole rows "
            "can be drawn.");
  }
  range_->FormatRows(f, "LineStyle");
}

// ---- Interior ----

void Interior::SetColorIndex(int index) {
  range_->CheckedSheet();
  if (index == xlColorIndexNone) Raise(hr::E_NOTIMPL, "Fills cannot be removed.");
  if (index < 1 || index > 56) {
    Raise(kExcelError, "Unable to set the ColorIndex property of the Interior class");
  }
  // Colour index n is entry n of the 56-colour palette, which the file
  // format numbers from 8.
  xls::RowFormat f;
  f.fillColor = static_cast<uint8_t>(index + 7);
  range_->FormatRows(f, "ColorIndex");
}

}  // namespace migrator::automation
