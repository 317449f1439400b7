#include "adapters/excel/excel_table_sheet.h"

#include "platform/text.h"
#include "providers/workbook/tables.h"

namespace migrator::excel {
namespace {

using providers::workbook::DefinedNameForTable;

// A workbook-level name as the workbook spells it, and its reference; nothing
// when the workbook has no such name.
std::optional<std::pair<std::string, std::string>> LookUpName(ExcelObjects& x,
                                                              const std::string& name) {
  try {
    auto found = x.book->Names()->Item(name);
    return std::make_pair(found->NameText(), found->Value());
  } catch (const automation::AutomationError&) {
    return std::nullopt;
  }
}

// A sheet is a table's own when its name is the table's, or when the
// provider would name the sheet's table as the table's name is.
bool OwnSheet(std::string_view sheet, std::string_view table, std::string_view name) {
  return EqualNoCase(sheet, table) || EqualNoCase(DefinedNameForTable(sheet), name);
}

void AddOnce(std::vector<std::string>& names, const std::string& name) {
  for (const std::string& n : names)
    if (EqualNoCase(n, name)) return;
  names.push_back(name);
}

}  // namespace

std::optional<std::string> SheetOfReference(std::string_view value) {
  if (!value.empty() && value.front() == '=') value.remove_prefix(1);
  std::string sheet;
  if (!value.empty() && value.front() == '\'') {
    std::size_t i = 1;
    for (; i < value.size(); ++i) {
      if (value[i] != '\'') {
        sheet += value[i];
      } else if (i + 1 < value.size() && value[i + 1] == '\'') {
        sheet += '\'';
        ++i;
      } else {
        break;
      }
    }
    if (i + 1 >= value.size() || value[i + 1] != '!') return std::nullopt;
  } else {
    const auto bang = value.find('!');
    if (bang == std::string_view::npos) return std::nullopt;
    sheet = value.substr(0, bang);
    // "#REF!": the cells are gone.
    if (!sheet.empty() && sheet.front() == '#') return std::nullopt;
  }
  if (sheet.empty()) return std::nullopt;
  return sheet;
}

std::optional<TableName> FindTableName(ExcelObjects& x, std::string_view table) {
  const std::string bare = SheetNameOf(table);
  for (const std::string& candidate : {bare, DefinedNameForTable(bare)}) {
    auto found = LookUpName(x, candidate);
    if (!found) continue;
    TableName t;
    t.name = std::move(found->first);
    t.value = std::move(found->second);
    t.sheet = SheetOfReference(t.value);
    t.ownSheet = t.sheet && OwnSheet(*t.sheet, bare, t.name);
    return t;
  }
  return std::nullopt;
}

std::optional<TableSheet> FindTableSheet(ExcelObjects& x, std::string_view table) {
  const std::string bare = SheetNameOf(table);
  TableSheet t;
  try {
    t.sheet = x.sheets->Item(bare);
  } catch (const automation::AutomationError&) {
    const auto name = FindTableName(x, table);
    if (!name || !name->ownSheet) return std::nullopt;
    try {
      t.sheet = x.sheets->Item(*name->sheet);
    } catch (const automation::AutomationError&) {
      return std::nullopt;
    }
  }
  t.sheetName = t.sheet->Name();
  for (const std::string& candidate :
       {bare, t.sheetName, DefinedNameForTable(bare), DefinedNameForTable(t.sheetName)}) {
    const auto found = LookUpName(x, candidate);
    if (!found) continue;
    const auto sheet = SheetOfReference(found->second);
    if (sheet && EqualNoCase(*sheet, t.sheetName)) AddOnce(t.names, found->first);
  }
  return t;
}

void DeleteTableSheet(ExcelObjects& x, const TableSheet& table) {
  table.sheet->Delete();
  auto names = x.book->Names();
  for (const std::string& name : table.names)
    names->Item(name)->Delete();
}

}  // namespace migrator::excel
