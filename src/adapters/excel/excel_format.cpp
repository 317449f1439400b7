// Header formatting (FormatTableHeads) and the target column type names.

#include "adapters/excel/excel_format.h"

#include <algorithm>
#include <cstdio>
#include <optional>

#include "adapters/excel/excel_adapter.h"
#include "adapters/excel/excel_automation.h"
#include "app/output.h"
#include "app/workspace.h"
#include "oledb/operations.h"
#include "platform/text.h"
#include "providers/workbook/tables.h"
#include "providers/workbook/workbook_provider.h"

namespace migrator {
namespace excel {

std::string HeaderCellAddress(int column) {
  const int index = column - 1;
  const char letter = static_cast<char>('A' + index % 26);
  char buffer[16];
  if (index < 26) {
    std::snprintf(buffer, sizeof buffer, "%c1:%c1", letter, letter);
  } else {
    const char prefix = static_cast<char>('A' + index / 26 - 1);
    std::snprintf(buffer, sizeof buffer, "%c%c1:%c%c1", prefix, letter, prefix, letter);
  }
  return buffer;
}

namespace {

bool IsWide(char32_t c) {
  return (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0x303E) ||
         (c >= 0x3041 && c <= 0x33FF) || (c >= 0x3400 && c <= 0x4DBF) ||
         (c >= 0x4E00 && c <= 0x9FFF) || (c >= 0xA000 && c <= 0xA4CF) ||
         (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF) ||
         (c >= 0xFE30 && c <= 0xFE4F) || (c >= 0xFF00 && c <= 0xFF60) ||
         (c >= 0xFFE0 && c <= 0xFFE6) || (c >= 0x20000 && c <= 0x3FFFD);
}

}  // namespace

std::size_t HeaderTextLength(std::string_view utf8) {
  std::size_t length = 0;
  for (std::size_t i = 0; i < utf8.size();) {
    const auto b = static_cast<unsigned char>(utf8[i]);
    std::size_t n = b < 0x80           ? 1
                    : (b >> 5) == 0x6  ? 2
                    : (b >> 4) == 0xE  ? 3
                    : (b >> 3) == 0x1E ? 4
                                       : 0;
    char32_t c = 0;
    if (n == 0 || i + n > utf8.size()) {
      n = 1;  // a stray byte counts as one character
    } else {
      c = n == 1 ? b : static_cast<char32_t>(b & (0x7F >> n));
      for (std::size_t k = 1; k < n; ++k) {
        const auto cont = static_cast<unsigned char>(utf8[i + k]);
        if ((cont & 0xC0) != 0x80) {
          n = 1;
          c = 0;
          break;
        }
        c = (c << 6) | (cont & 0x3F);
      }
    }
    length += IsWide(c) ? 2 : 1;
    i += n;
  }
  return length;
}

int HeaderColumnWidth(float fontSize, std::size_t length) {
  const float w = fontSize * static_cast<float>(static_cast<int>(length)) * 1.3333334f;
  // A header the widest column cannot hold gets the widest column rather
  // than a refusal that would end the formatting of the whole workbook.
  if (!(w < static_cast<float>(kMaxColumnWidth) * 12.0f)) return kMaxColumnWidth;
  const int width = static_cast<int>(w) / 12 + 1;
  return width > kMaxColumnWidth ? kMaxColumnWidth : width;
}

}  // namespace excel

namespace {

// Whether a sheet is one of the tables named (by the sheet name each table
// got), or there is no list.
bool Named(const std::vector<std::string>* tables, const std::string& sheet) {
  if (!tables) return true;
  for (const std::string& t : *tables)
    if (EqualNoCase(providers::workbook::SheetNameForTable(t), sheet)) return true;
  return false;
}

// The date or time format of the cell under a header (row 2), empty for any
// other format: such a value shows as wide as its format code.
std::string FirstValueDateFormat(automation::Worksheet& sheet, int column) {
  const std::string address = excel::HeaderCellAddress(column);
  const std::string below = address.substr(0, address.find_first_of("0123456789")) + "2";
  const std::string code = sheet.Range(below)->NumberFormat();
  const bool dateOrTime =
      code.find("yy") != std::string::npos || code.find("hh:mm") != std::string::npos;
  return dateOrTime ? code : std::string();
}

// Step 5: row 1 of every sheet (or of the sheets named), the first first,
// becomes a frozen, bold, centred, bordered and filled header, its columns as
// wide as their names. A hidden sheet cannot be shown to freeze its panes,
// and is not one a migration made: it stays as it is. With `filters`, each
// sheet's table (its used range: the header row, the rows below, every
// column) gets filter buttons, in place of any filter the sheet had. Raises
// the program's failures.
void FormatSheets(excel::ExcelObjects& x, const std::vector<std::string>* only, bool filters) {
  namespace xl = automation;
  // The count is read again each time.
  for (int n = 1; n <= x.sheets->Count(); ++n) {
    auto sheet = x.sheets->Item(n);
    if (!Named(only, sheet->Name()) || sheet->Visible() != xl::xlSheetVisible) continue;
    sheet->Activate();
    auto window = x.app->ActiveWindow();
    window->SetSplitRow(1);
    window->SetFreezePanes(true);

    auto header = sheet->Range("A1:B1")->EntireRow();
    header->SetHorizontalAlignment(xl::xlCenter);
    header->Font()->SetFontStyle("Bold");
    auto borders = header->Borders();
    for (int edge : {xl::xlEdgeTop, xl::xlEdgeBottom, xl::xlEdgeLeft, xl::xlInsideVertical}) {
      borders->Item(edge)->SetLineStyle(xl::xlContinuous);
    }
    header->Interior()->SetColorIndex(8);

    // Columns as wide as their names, up to the first empty header cell
    // or the last column of the sheet; a column of dates or times (typed
    // cells) at least as wide as its first value shows, so that no date
    // shows as "###".
    int named = 0;
    for (int column = 1; column <= excel::kSheetColumns; ++column) {
      auto cell = sheet->Range(excel::HeaderCellAddress(column));
      const std::string text = xl::ValueText(cell->Value());
      if (text.empty()) break;
      named = column;
      const auto size = static_cast<float>(header->Font()->Size());
      auto length = excel::HeaderTextLength(text);
      const std::string shown = FirstValueDateFormat(*sheet, column);
      length = std::max(length, static_cast<decltype(length)>(shown.size()));
      cell->SetColumnWidth(excel::HeaderColumnWidth(size, length));
    }
    // A sheet without a header holds no table to filter.
    if (filters && named > 0) {
      if (sheet->AutoFilterMode()) sheet->SetAutoFilterMode(false);
      sheet->UsedRange()->AutoFilter();
    }
  }
}

// The same on the workbook the target side holds open, when that is the file
// `path` as the side last read or saved it: handed to the program instead of
// closing the side and reading the file again, formatted, saved once and
// taken back, so the side stays connected. False when it is not lent (another
// provider, the side closed, the file changed behind the side's back): then
// nothing happened. A failure of the program is kept in `failure`, to be
// shown once the workbook is back (no question is asked while the side is
// held).
bool FormatHeldWorkbook(Workspace& ws, excel::ExcelObjects& x, const std::string& path,
                        const std::vector<std::string>* only, bool filters,
                        std::optional<automation::AutomationError>& failure) {
  if (!IsJetProvider(ws.target.Settings().providerId)) return false;
  const auto dataSource = ws.target.dataSource.Get();
  if (!dataSource) return false;
  return providers::workbook::LendWorkbook(*dataSource, path,
                                           [&](xls::Workbook& book, const std::string& file) {
                                             std::shared_ptr<automation::Workbook> held;
                                             try {
                                               x.AdoptWorkbook(std::move(book), file);
                                               held = x.book;
                                               FormatSheets(x, only, filters);
                                               x.SaveAndQuit();
                                               book = held->Release();
                                               return true;
                                             } catch (const automation::AutomationError& e) {
                                               failure = e;
                                               if (!held)
                                                 held = x.book;  // taken in before the failure
                                               x.Abandon();
                                               if (held) book = held->Release();
                                               return false;
                                             }
                                           });
}

bool FormatHeads(Workspace& ws, const std::string& database, const std::vector<std::string>* only,
                 bool filters, const ExcelServices& services) {
  Frontend& ui = ws.frontend();
  auto failed = [&](const std::string& why) {
    WriteOutput(ui, "E::The header rows of [%s] are not formatted: %s", database.c_str(),
                why.c_str());
    return false;
  };
  auto reason = [](const automation::AutomationError& e) {
    return e.description().empty() ? automation::ErrorMessage(e.code()) : e.description();
  };
  // 1, 2.
  WriteOutput(ui, "MSEXCEL_SetTableHead of [%s]", database.c_str());
  // Without a current workbook (a reconnect failed) there is nothing to open.
  if (ws.target.Settings().catalogName.empty()) {
    WriteOutputText(ui, "E::No target workbook is open: the header rows are not formatted!");
    return false;
  }
  ws.StopRunningTasks();
  if (only && only->empty()) return true;  // no table was made
  const auto tasks = excel::ExcludeTasks(ws, "MSEXCEL_SetTableHead");
  if (!tasks) return false;
  const std::string path = excel::WorkbookFileOf(ws, ws.target.Settings().catalogName);

  excel::ExcelObjects x;
  x.app = excel::StartExcel(ui, services);
  if (x.app) {
    std::optional<automation::AutomationError> failure;
    if (FormatHeldWorkbook(ws, x, path, only, filters, failure)) {
      if (!failure) return true;
      excel::ShowAutomationError(ui, *failure);
      return failed(reason(*failure));
    }
  }

  // 3. Close the target side; its database name stays. Rows it still holds
  // are saved first: closing would drop them quietly when that save fails.
  if (!ws.target.session.Empty() && !oledb::FlushSession(ui, &ws.target.session, 1))
    return failed("the records the workbook holds cannot be saved");
  ws.target.session.Reset();
  ws.target.dataSource.Reset();
  ws.target.tree.SetSideMarker(static_cast<int>(DataSourceSide::Reconnecting));

  // 4.
  if (!x.app) return failed(excel::kExcelMissing);
  std::string failure;
  try {
    x.OpenWorkbook(path, false);
    // 5.
    FormatSheets(x, only, filters);
    // 6.
    x.SaveAndQuit();
  } catch (const automation::AutomationError& e) {
    excel::ShowAutomationError(ui, e);
    x.Abandon();
    failure = reason(e);
  }

  // 7. The target side comes back in either case.
  if (IsJetProvider(ws.target.Settings().providerId)) {
    ws.target.EditSettings([](ConnectionSettings& s) { s.catalogName.clear(); });
  }
  Connect(ws, DataSourceSide::Target, services.connect);
  return failure.empty() || failed(failure);
}

}  // namespace

bool ExcelAdapter::FormatTableHeads(Workspace& ws, const std::string& database) {
  return FormatHeads(ws, database, nullptr, false, DefaultExcelServices());
}

bool ExcelAdapter::FormatTableHeads(Workspace& ws, const std::string& database,
                                    const ExcelServices& services) {
  return FormatHeads(ws, database, nullptr, false, services);
}

bool ExcelAdapter::FormatTableHeads(Workspace& ws, const std::string& database,
                                    const std::vector<std::string>& tables) {
  return FormatHeads(ws, database, &tables, false, DefaultExcelServices());
}

bool ExcelAdapter::FormatTableHeads(Workspace& ws, const std::string& database,
                                    const std::vector<std::string>& tables,
                                    const ExcelServices& services) {
  return FormatHeads(ws, database, &tables, false, services);
}

bool ExcelAdapter::FormatTableHeads(Workspace& ws, const std::string& database,
                                    const std::vector<std::string>* tables, bool filters) {
  return FormatHeads(ws, database, tables, filters, DefaultExcelServices());
}

namespace {

struct TypeName {
  std::uint16_t type;
  const char* name;  // null ends a group's list
};

// One group of a type table: the flags that select it and its names.
struct TypeGroup {
  std::uint32_t flags[2];
  TypeName names[10];
};

// A flag value selects its group; a type the group does not know falls through
// to the groups after it.
template <std::size_t N>
const char* LookUp(const TypeGroup (&groups)[N], std::uint32_t flags, std::uint16_t type) {
  std::size_t start = N;
  for (std::size_t g = 0; g < N && start == N; ++g) {
    if (groups[g].flags[0] == flags || groups[g].flags[1] == flags) start = g;
  }
  for (std::size_t g = start; g < N; ++g) {
    for (const TypeName& t : groups[g].names) {
      if (!t.name) break;
      if (t.type == type) return t.name;
    }
  }
  return nullptr;
}

constexpr const char* kUserDefine = "USERDEFINE";

}  // namespace

std::string ExcelAdapter::JetColumnTypeName(std::uint32_t flags, std::uint16_t type,
                                            std::uint32_t maxLength) {
  // The two sized names carry the maximum length and a trailing blank.
  static constexpr const char* kChar = "CHAR";
  static constexpr const char* kVarchar = "VARCHAR";
  static constexpr TypeGroup kGroups[] = {
      {{234, 234}, {{128, "LONGBINARY"}, {130, "LONGTEXT"}}},
      {{90, 122},
       {{2, "SHORT"},
        {3, "LONG"},
        {4, "SINGLE"},
        {5, "NUMERIC"},
        {6, "CURRENCY"},
        {7, "DATETIME"},
        {17, "BYTE"},
        {72, "GUID"},
        {134, "TIME"}}},
      {{24, 24}, {{3, "COUNTER"}, {11, "BIT"}}},
      {{106, 106}, {{128, "BINARY"}, {130, "TEXT"}}},
      {{74, 74}, {{128, kChar}, {130, kVarchar}}},
  };
  const char* name = LookUp(kGroups, flags, type);
  if (!name) return kUserDefine;
  if (name == kChar || name == kVarchar) {
    return std::string(name) + "(" + std::to_string(maxLength) + ") ";
  }
  return name;
}

std::string ExcelAdapter::OtherColumnTypeName(std::uint32_t flags, std::uint16_t type) {
  static constexpr TypeGroup kGroups[] = {
      {{232, 232}, {{128, "LONGBINARY"}, {130, "LONGTEXT"}}},
      {{120, 120},
       {{2, "SHORT"},
        {3, "LONG"},
        {4, "SINGLE"},
        {5, "NUMERIC"},
        {16, "BYTE"},
        {72, "GUID"},
        {128, "BINARY"},
        {131, "CURRENCY"},
        {135, "DATETIME"}}},
      {{24, 24}, {{3, "COUNTER"}, {11, "BIT"}}},
      {{104, 104}, {{128, "VARBINARY"}, {130, "TEXT"}}},
  };
  const char* name = LookUp(kGroups, flags, type);
  return name ? name : kUserDefine;
}

}  // namespace migrator
