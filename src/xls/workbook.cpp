// The workbook-level calls: sheets, defined names, formats.

#include "xls/workbook.h"

#include <algorithm>
#include <cctype>
#include <string>

#include "xls/model.h"
#include "xls/unicode.h"

namespace migrator::xls {

using detail::SheetModel;
using detail::WorkbookImpl;

// ---- names of cells ----

std::string ColumnName(uint32_t col) {
  std::string s;
  uint32_t n = col + 1;
  while (n > 0) {
    uint32_t r = (n - 1) % 26;
    s.insert(s.begin(), static_cast<char>('A' + r));
    n = (n - 1) / 26;
  }
  return s;
}

std::string CellName(uint32_t row, uint32_t col, bool absolute) {
  std::string d = absolute ? "$" : "";
  return d + ColumnName(col) + d + std::to_string(row + 1);
}

std::string RangeName(const Range& r, bool absolute) {
  std::string a = CellName(r.firstRow, r.firstCol, absolute);
  if (r.firstRow == r.lastRow && r.firstCol == r.lastCol) return a;
  return a + ":" + CellName(r.lastRow, r.lastCol, absolute);
}

std::string QuoteSheetName(std::string_view name) {
  bool plain = !name.empty() && !(name[0] >= '0' && name[0] <= '9');
  for (unsigned char c : name)
    if (!(std::isalnum(c) || c == '_' || c == '.' || c >= 0x80)) plain = false;
  if (plain) return std::string(name);
  std::string q = "'";
  for (char c : name) {
    if (c == '\'') q += '\'';
    q += c;
  }
  return q + "'";
}

const char* ErrorText(uint8_t code) {
  switch (code) {
    case 0x00:
      return "#NULL!";
    case 0x07:
      return "#DIV/0!";
    case 0x0F:
      return "#VALUE!";
    case 0x17:
      return "#REF!";
    case 0x1D:
      return "#NAME?";
    case 0x24:
      return "#NUM!";
    case 0x2A:
      return "#N/A";
    default:
      return "#ERR";
  }
}

namespace detail {
namespace {

bool IsNameChar(char16_t c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' ||
         c == '.' || c == '\\' || c == '?' || c >= 0x80;
}

}  // namespace

Status CheckDefinedName(std::u16string_view n) {
  auto bad = [&](const char* why) { return Fail("the defined name " + Utf16ToUtf8(n) + why); };
  if (n.empty()) return Fail("a defined name cannot be empty");
  if (n.size() > 255) return bad(" is longer than 255 characters");
  char16_t f = n[0];
  if (!((f >= 'A' && f <= 'Z') || (f >= 'a' && f <= 'z') || f == '_' || f == '\\' || f >= 0x80))
    return bad(" must begin with a letter, an underscore or a backslash");
  for (char16_t c : n)
    if (!IsNameChar(c)) return bad(" holds a character that names cannot hold");
  // Names that read as cell references (A1, IV65536, R1C1, R, C).
  size_t i = 0;
  while (i < n.size() && i < 3 && ((n[i] | 0x20) >= 'a' && (n[i] | 0x20) <= 'z'))
    ++i;
  size_t digits = i;
  while (digits < n.size() && n[digits] >= '0' && n[digits] <= '9')
    ++digits;
  if (i > 0 && digits > i && digits == n.size()) return bad(" looks like a cell reference");
  auto rc = [&](size_t p) {
    size_t q = p;
    while (q < n.size() && n[q] >= '0' && n[q] <= '9')
      ++q;
    return q;
  };
  if ((n[0] | 0x20) == 'r') {
    size_t p = rc(1);
    if (p == n.size()) return bad(" looks like a cell reference");
    if ((n[p] | 0x20) == 'c' && rc(p + 1) == n.size()) return bad(" looks like a cell reference");
  }
  if ((n[0] | 0x20) == 'c' && rc(1) == n.size()) return bad(" looks like a cell reference");
  return {};
}

bool ValidArea(const Range& area, const Limits& limits) {
  return area.firstRow <= area.lastRow && area.firstCol <= area.lastCol &&
         area.lastRow < limits.rows && area.lastCol < limits.columns;
}

}  // namespace detail

namespace {

constexpr size_t kNpos = static_cast<size_t>(-1);

Status CheckSheetName(const WorkbookImpl& wb, std::u16string_view name, size_t self) {
  if (name.empty()) return Fail("a sheet name cannot be empty");
  if (name.size() > kMaxSheetNameLength)
    return Fail("the sheet name " + Utf16ToUtf8(name) + " is longer than 31 characters");
  for (char16_t c : name)
    if (c == ':' || c == '\\' || c == '/' || c == '?' || c == '*' || c == '[' || c == ']' ||
        c < 0x20)
      return Fail("the sheet name " + Utf16ToUtf8(name) +
                  " holds a character that sheet names cannot hold (: \\ / ? * [ ])");
  if (name.front() == '\'' || name.back() == '\'')
    return Fail("a sheet name cannot begin or end with an apostrophe");
  for (size_t i = 0; i < wb.sheets.size(); ++i)
    if (i != self && EqualsIgnoreCase(wb.model(i).name, name))
      return Fail("the workbook already has a sheet named " + Utf16ToUtf8(name));
  return {};
}

}  // namespace

// ---- Workbook ----

Workbook::Workbook() = default;
Workbook::Workbook(Workbook&&) noexcept = default;
Workbook& Workbook::operator=(Workbook&&) noexcept = default;
Workbook::~Workbook() = default;

FileFormat Workbook::format() const {
  return impl_->fileFormat;
}

const Limits& Workbook::limits() const {
  return impl_->limits;
}

size_t Workbook::sheetCount() const {
  return impl_->sheets.size();
}
Sheet& Workbook::sheet(size_t index) {
  return *impl_->sheets.at(index);
}
const Sheet& Workbook::sheet(size_t index) const {
  return *impl_->sheets.at(index);
}

std::optional<size_t> Workbook::FindSheet(std::string_view name) const {
  std::u16string n;
  if (!Utf8ToUtf16(name, n)) return std::nullopt;
  for (size_t i = 0; i < impl_->sheets.size(); ++i)
    if (EqualsIgnoreCase(impl_->model(i).name, n)) return i;
  return std::nullopt;
}

Result<size_t> Workbook::AddSheet(std::string_view name, std::optional<size_t> position) {
  WorkbookImpl& wb = *impl_;
  std::u16string n;
  if (!Utf8ToUtf16(name, n)) return Fail("the sheet name is not valid UTF-8");
  if (auto st = CheckSheetName(wb, n, kNpos); !st) return st.error();
  if (wb.sheets.size() >= 0xFFFF) return Fail("the workbook holds too many sheets");
  size_t pos = position.value_or(wb.sheets.size());
  if (pos > wb.sheets.size())
    return Fail("sheet position " + std::to_string(pos + 1) + " is past the last sheet");
  auto m = wb.book->NewSheet(std::move(n));
  uint32_t maxId = 0;
  for (size_t i = 0; i < wb.sheets.size(); ++i)
    maxId = std::max(maxId, wb.model(i).tabId);
  m->tabId = maxId + 1;
  if (pos < wb.sheets.size()) {
    wb.book->SheetInserting(pos);
    if (wb.activeSheet >= pos) ++wb.activeSheet;
  }
  wb.sheets.insert(wb.sheets.begin() + static_cast<long>(pos), wb.MakeSheet(std::move(m)));
  if (wb.sheets.size() == 1) {
    wb.activeSheet = 0;
    wb.selectionDirty = true;
  }
  return pos;
}

Status Workbook::DeleteSheet(size_t index) {
  WorkbookImpl& wb = *impl_;
  if (index >= wb.sheets.size()) return Fail("there is no sheet " + std::to_string(index + 1));
  size_t visibleOthers = 0;
  for (size_t i = 0; i < wb.sheets.size(); ++i)
    if (i != index && wb.model(i).visibility == 0) ++visibleOthers;
  if (visibleOthers == 0) return Fail("a workbook must keep at least one visible sheet");
  std::string name = Utf16ToUtf8(wb.model(index).name);

  if (auto st = wb.book->SheetDeleting(index); !st) return st;
  wb.sheets.erase(wb.sheets.begin() + static_cast<long>(index));
  if (wb.activeSheet == index || wb.activeSheet >= wb.sheets.size()) {
    size_t a = std::min<size_t>(index, wb.sheets.size() - 1);
    if (wb.model(a).visibility != 0)
      for (size_t i = 0; i < wb.sheets.size(); ++i)
        if (wb.model(i).visibility == 0) {
          a = i;
          break;
        }
    wb.activeSheet = static_cast<uint16_t>(a);
    wb.selectionDirty = true;
  } else if (wb.activeSheet > index) {
    --wb.activeSheet;
  }
  return {};
}

Status Workbook::RenameSheet(size_t index, std::string_view name) {
  WorkbookImpl& wb = *impl_;
  if (index >= wb.sheets.size()) return Fail("there is no sheet " + std::to_string(index + 1));
  std::u16string n;
  if (!Utf8ToUtf16(name, n)) return Fail("the sheet name is not valid UTF-8");
  if (auto st = CheckSheetName(wb, n, index); !st) return st;
  std::u16string old = std::move(wb.model(index).name);
  wb.model(index).name = std::move(n);
  wb.book->SheetRenamed(index, old);
  return {};
}

size_t Workbook::activeSheet() const {
  return impl_->activeSheet;
}

Status Workbook::SetActiveSheet(size_t index) {
  if (index >= impl_->sheets.size()) return Fail("there is no sheet " + std::to_string(index + 1));
  if (impl_->model(index).visibility != 0) return Fail("a hidden sheet cannot be the active sheet");
  impl_->activeSheet = static_cast<uint16_t>(index);
  impl_->selectionDirty = true;
  return {};
}

// ---- defined names ----

size_t Workbook::nameCount() const {
  return impl_->book->nameCount();
}

DefinedName Workbook::name(size_t index) const {
  if (index >= impl_->book->nameCount()) return {};
  return impl_->book->name(index);
}

std::optional<size_t> Workbook::FindName(std::string_view name, std::optional<size_t> scope) const {
  std::u16string n;
  if (!Utf8ToUtf16(name, n)) return std::nullopt;
  return impl_->book->FindName(name, n, scope);
}

Status Workbook::DefineName(std::string_view name, size_t sheet, const Range& area,
                            std::optional<size_t> scope) {
  WorkbookImpl& wb = *impl_;
  std::u16string n;
  if (!Utf8ToUtf16(name, n)) return Fail("the defined name is not valid UTF-8");
  if (auto st = detail::CheckDefinedName(n); !st) return st;
  if (sheet >= wb.sheets.size()) return Fail("there is no sheet " + std::to_string(sheet + 1));
  if (scope && *scope >= wb.sheets.size())
    return Fail("there is no sheet " + std::to_string(*scope + 1));
  if (!detail::ValidArea(area, wb.limits))
    return Fail("the range of the defined name " + std::string(name) +
                " is not a valid block of cells");
  return wb.book->DefineName(name, n, sheet, area, scope);
}

Status Workbook::MoveNameArea(size_t index, size_t sheet, const Range& area) {
  WorkbookImpl& wb = *impl_;
  if (index >= wb.book->nameCount())
    return Fail("there is no defined name " + std::to_string(index + 1));
  if (!detail::ValidArea(area, wb.limits))
    return Fail("the new range of a defined name is not a valid block of cells");
  return wb.book->MoveNameArea(index, sheet, area);
}

Status Workbook::DeleteName(size_t index) {
  WorkbookImpl& wb = *impl_;
  if (index >= wb.book->nameCount())
    return Fail("there is no defined name " + std::to_string(index + 1));
  return wb.book->DeleteName(index);
}

std::optional<Range> Workbook::AutoFilter(size_t sheet) const {
  if (sheet >= impl_->sheets.size()) return std::nullopt;
  const auto index = FindName(detail::kFilterDatabaseName, sheet);
  if (!index) return std::nullopt;
  const DefinedName d = name(*index);
  if (!d.builtin || d.kind != DefinedName::Kind::kArea || d.sheet != sheet) return std::nullopt;
  return d.range;
}

Status Workbook::SetAutoFilter(size_t sheet, const Range& area) {
  WorkbookImpl& wb = *impl_;
  if (sheet >= wb.sheets.size()) return Fail("there is no sheet " + std::to_string(sheet + 1));
  if (!wb.model(sheet).modeled) return Fail("only a worksheet takes filter buttons");
  if (!detail::ValidArea(area, wb.limits))
    return Fail("the range of a filter is not a valid block of cells");
  return wb.book->SetAutoFilter(sheet, area);
}

Status Workbook::RemoveAutoFilter(size_t sheet) {
  WorkbookImpl& wb = *impl_;
  if (sheet >= wb.sheets.size()) return Fail("there is no sheet " + std::to_string(sheet + 1));
  if (!wb.model(sheet).modeled) return {};  // only worksheets have one
  return wb.book->SetAutoFilter(sheet, std::nullopt);
}

// ---- formats ----

size_t Workbook::fontCount() const {
  return impl_->book->fontCount();
}

std::optional<Font> Workbook::font(uint16_t index) const {
  return impl_->book->font(index);
}

size_t Workbook::formatCount() const {
  return impl_->book->formatCount();
}

CellFormat Workbook::format(uint16_t xf) const {
  return impl_->book->format(xf);
}

std::string Workbook::NumberFormatCode(uint16_t id) const {
  return impl_->book->NumberFormatCode(id);
}

Result<uint16_t> Workbook::CellFormatWithNumberFormat(uint16_t xf, std::string_view code) {
  return impl_->book->CellFormatWithNumberFormat(xf, code);
}

bool Workbook::IsDateFormat(uint16_t xf) const {
  return impl_->book->IsDateFormat(xf);
}

bool Workbook::date1904() const {
  return impl_->date1904;
}

}  // namespace migrator::xls
