#pragma once
// The sheet of a workbook table and the defined names that belong to it, as
// the operations that drop or rename a table find them through the
// spreadsheet program. A table the program made is a sheet and a defined
// name over its cells. The name is the table's own when that is a valid
// defined name, and otherwise the one the workbook provider makes of it: the
// table "order details" lives on the sheet "order details" under the name
// "order_details". The target tree may show either name.

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "adapters/excel/excel_automation.h"

namespace migrator::excel {

// The sheet a defined name's reference lies on: "Sheet1" of "=Sheet1!$A$1",
// "my sheet" of "='my sheet'!$A$1:$B$2". Nothing for a reference to cells
// that no longer exist ("=#REF!$A$1") or to no sheet at all.
std::optional<std::string> SheetOfReference(std::string_view value);

// A table's sheet and the workbook-level names over that sheet's cells that
// are the table's: its own name as given, the sheet's name, and the name the
// provider makes of either.
struct TableSheet {
  std::shared_ptr<automation::Worksheet> sheet;
  std::string sheetName;
  std::vector<std::string> names;
};

// The sheet of a table named as the tree shows it ("$" and "'" removed
// first): the sheet of that name or, when there is none, the sheet the
// table's defined name refers to, if that sheet is the table's own (its name
// is the table's, or gives the table's name). Nothing when neither exists; a
// name over part of another sheet is not a sheet to drop.
std::optional<TableSheet> FindTableSheet(ExcelObjects& x, std::string_view table);

// Drops a table found by FindTableSheet: the sheet, then its names, which
// would otherwise be left referring to cells that no longer exist (and a
// later table of the same name could not be made).
void DeleteTableSheet(ExcelObjects& x, const TableSheet& table);

// The defined name a table goes by in the workbook and the sheet it refers
// to: the name as given or, when there is no such name, the provider's name
// for it. Nothing when neither exists.
struct TableName {
  std::string name;
  std::string value;                 // its reference, "=Sheet!$A$1:$B$2"
  std::optional<std::string> sheet;  // the sheet of the reference
  // The name is a table's: its sheet is the table's own (see FindTableSheet).
  bool ownSheet = false;
};
std::optional<TableName> FindTableName(ExcelObjects& x, std::string_view table);

}  // namespace migrator::excel
