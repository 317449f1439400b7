#pragma once
// ExcelAdapter: the target side's operations. The target is a workbook (.xls)
// reached through the workbook provider that stands in for
// "Microsoft.Jet.OLEDB.4.0" (a workbook is a database, its sheets are tables);
// what SQL cannot do on a workbook is done through the automation layer.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "app/frontend.h"
#include "automation/excel.h"
#include "oledb/properties.h"
#include "oledb/slot.h"
#include "workflows/connect.h"

namespace migrator {

class Workspace;
struct ConnectionSettings;

inline constexpr const char* kJetProvider = "Microsoft.Jet.OLEDB.4.0";
inline constexpr const char* kJetProviderString = "Excel 8.0;HDR=Yes;";
// What the backup of a table answers for a sheet entry, and what its data
// backup answers when every row was written or when a stop cut it short.
inline constexpr const char* kUserDefinedName = "User Defined Name!";
inline constexpr const char* kDataBackupDone = "true";
inline constexpr const char* kDataBackupStopped = "Data Backup Terminaled!";
// The first and the last line of a table's data file. The last one counts
// the rows, so that a file cut at a line boundary is told from a whole one;
// files of earlier versions have neither line.
inline constexpr const char* kDataFileHeader =
    "-- table data: one INSERT statement a line, the number of rows on the last line";
inline constexpr const char* kDataFileEndPrefix = "-- end: ";
inline constexpr const char* kDataFileEndSuffix = " rows";

inline constexpr const char* kExcelOdbcProviderString =
    "Driver={Microsoft Excel Driver (*.xls)};DriverId=790;ReadOnly=0;";
inline constexpr const char* kExcelOdbcTestProviderString =
    "Driver={Microsoft Excel Driver (*.xls)};DriverId=790;";

// The UTF-16 units one cell of a workbook holds (the rows of a sheet follow
// the workbook's format).
inline constexpr std::size_t kExcelCellUnits = 32767;

// The provider identifier names the workbook provider (case-insensitive).
bool IsJetProvider(const std::string& providerId);

// A workbook's extension at the very end of a path, in any case.
inline constexpr const char* kXlsExtensionPattern = "\\.[xX][lL][sS]$";
bool HasXlsExtension(std::string_view path);
// The same for either workbook format: .xls or .xlsx, in any case.
bool HasWorkbookExtension(std::string_view path);

// What the workbook operations take from their surroundings: how the
// spreadsheet program is started and how a side is (re)connected. Tests pass
// their own; the program uses the defaults.
struct ExcelServices {
  automation::ApplicationFactory startExcel;
  ConnectServices connect;
};
const ExcelServices& DefaultExcelServices();

struct ExcelAdapter {
  // Fills the initialisation properties of a target connection and, for the
  // workbook provider, derives the database (catalog) name from the data
  // source: the workbook path without a final ".xls". Always true.
  static bool BuildInitProperties(ConnectionSettings& settings, oledb::PropertySet& set);
  // The configuration dialog's variant: the catalog goes in whenever it is
  // set, and the ODBC provider string has no "ReadOnly=0;".
  static bool BuildTestInitProperties(ConnectionSettings& settings, oledb::PropertySet& set);

  // "select @@Version" through the single-value query, for a provider that
  // names no DBMS; "No Connection!" without a session.
  static std::string QueryServerVersion(Frontend& out, oledb::SessionRef session);

  // Workbook and sheet maintenance through the spreadsheet program. Each
  // starts its own instance and quits it; failures of the program are shown
  // in two message boxes (the code's text, then the description).
  //
  // Creates an empty workbook. nonInteractive 1: the path is the name, in the
  // folder of the target tree's current workbook when it has no folder of
  // its own (a relative path is taken from the program's directory);
  // 0: the person chooses the file, and the target side is then re-opened on
  // it. ".xls" is added when the path holds none. True when it was saved.
  static bool CreateDatabase(Workspace& ws, const std::string& name, int nonInteractive);
  static bool CreateDatabase(Workspace& ws, const std::string& name, int nonInteractive,
                             const ExcelServices& services);
  // Deletes the workbook file name + ".xls". Dropping the connected workbook
  // closes the target side first and asks for a new connection afterwards
  // (command 1026). False when the file could not be deleted.
  static bool DropDatabase(Workspace& ws, const std::string& name);
  // Deletes the sheet of a table (its "$" and "'" removed; the sheet its
  // defined name refers to when no sheet has that name) and the table's
  // defined names from the workbook database + ".xls". The target side is
  // closed meanwhile and re-opened when the workbook was saved.
  static bool DropTable(Workspace& ws, const std::string& database, const std::string& table);
  static bool DropTable(Workspace& ws, const std::string& database, const std::string& table,
                        const ExcelServices& services);
  // A workbook has no views: nothing to do, always true.
  static bool DropView(Workspace& ws, const std::string& view);
  // Replaces a workbook by an empty one of the same name. The empty workbook
  // is made beside it first and renamed over it only when it was saved, so a
  // failure leaves the old workbook as it was. Dropping the connected
  // workbook closes the target side and asks for a new connection, as
  // DropDatabase does.
  static bool RecreateDatabase(Workspace& ws, const std::string& name);
  static bool RecreateDatabase(Workspace& ws, const std::string& name,
                               const ExcelServices& services);
  // Replaces the existing workbook `name` stands for (as for CreateDatabase
  // with nonInteractive 1) by one that `fill` writes, in one step: an empty
  // workbook is made beside it, `fill` gets its path and, when it returns
  // true, the new file is renamed over the old one. The old workbook stays
  // locked from before its Auto Backup copy until the rename, and it stays as
  // it was when anything fails (the new file is then removed). Only a regular
  // file of exactly that name is replaced. Runs inside a task: the caller
  // re-opens the target side afterwards.
  static bool ReplaceDatabase(Workspace& ws, const std::string& name,
                              const std::function<bool(const std::string& fresh)>& fill);
  static bool ReplaceDatabase(Workspace& ws, const std::string& name,
                              const std::function<bool(const std::string& fresh)>& fill,
                              const ExcelServices& services);
  // The file CreateDatabase makes for `name` with nonInteractive 1.
  static std::string DatabaseFile(const Workspace& ws, const std::string& name);
  // Deletes the sheets of several tables (names as for DropTable) and their
  // defined names with one save: all of them or, when one cannot be deleted
  // (the workbook's last sheet), none. A name without a sheet of its own is
  // passed over and named in a red line; false then, and when nothing was
  // saved. The target side is closed meanwhile and re-opened when the
  // workbook was saved.
  static bool DropTables(Workspace& ws, const std::string& database,
                         const std::vector<std::string>& tables);
  static bool DropTables(Workspace& ws, const std::string& database,
                         const std::vector<std::string>& tables, const ExcelServices& services);
  // Makes row 1 of sheets of the target's current workbook (the file the
  // target side is connected to) a header: frozen, centred, bold, framed,
  // shaded, columns as wide as their names. With `tables` only the sheets of
  // those tables (the tables a migration made: each table's sheet name,
  // without regard to case), else every sheet; hidden sheets are left as they are. `database` is
  // only named in the first output line. True when the workbook was formatted and saved (or no
  // table was named); false, with a red line, otherwise.
  static bool FormatTableHeads(Workspace& ws, const std::string& database);
  static bool FormatTableHeads(Workspace& ws, const std::string& database,
                               const ExcelServices& services);
  static bool FormatTableHeads(Workspace& ws, const std::string& database,
                               const std::vector<std::string>& tables);
  static bool FormatTableHeads(Workspace& ws, const std::string& database,
                               const std::vector<std::string>& tables,
                               const ExcelServices& services);
  // The same (tables null: every sheet), and with `filters` each formatted
  // sheet's table (header row, rows, every column) gets filter buttons.
  static bool FormatTableHeads(Workspace& ws, const std::string& database,
                               const std::vector<std::string>* tables, bool filters);
  // Renames a table (sheet and defined name) of the workbook two levels above
  // the target tree's selected node. The sheet takes the new name as it is
  // (blanks included), the defined name the form the workbook provider gives
  // it. A defined name that is not a table's is offered for deletion instead.
  static bool RenameTable(Workspace& ws, const std::string& oldName, const std::string& newName);
  static bool RenameTable(Workspace& ws, const std::string& oldName, const std::string& newName,
                          const ExcelServices& services);

  // The type name of a target column for a backup's CREATE TABLE text, by its
  // OLE DB column flags, type and maximum length: for the workbook provider,
  // and for any other provider of the target side.
  static std::string JetColumnTypeName(std::uint32_t flags, std::uint16_t type,
                                       std::uint32_t maxLength);
  static std::string OtherColumnTypeName(std::uint32_t flags, std::uint16_t type);

  // Backup of target tables.
  // The CREATE TABLE text of a table from the column schema, table and column
  // names quoted as identifiers; kUserDefinedName for a sheet entry ("name$"
  // or 'name$'), an empty text when the schema cannot be read, "No
  // Connection!" without a session.
  static std::string BackupTableStructure(Workspace& ws, oledb::SessionRef session,
                                          const std::string& table);
  // The same for a sheet entry taken as a table: the columns of `sheetEntry`
  // ("S$") under the name `tableName`.
  static std::string BackupSheetStructure(Workspace& ws, oledb::SessionRef session,
                                          const std::string& sheetEntry,
                                          const std::string& tableName);
  // Writes the table's rows as INSERT statements, one a line (a line break
  // inside a quoted value stays as it is), to directory/<fileStem>.data; the
  // stem is the table's name when empty and may not hold a "/". The file
  // starts with kDataFileHeader and, when every row was written, ends with
  // the row count (kDataFileEndPrefix). Text values go between quotes with
  // a quote doubled, an empty cell is NULL. Reports every 1000 rows and the
  // total. Stops after the current row when the controller is stopping.
  // Returns kDataBackupDone when every row was written, kDataBackupStopped
  // after a stop, "No Connection!" without a session, otherwise the
  // failure's text (also reported). A symbolic link in the file's place is
  // not followed: the file is not written.
  static std::string BackupTableData(Workspace& ws, oledb::SessionRef session,
                                     const std::string& database, const std::string& table,
                                     const std::string& directory,
                                     const std::string& fileStem = {});
  // The same into the file `path`, the statements naming the table
  // `insertName` (the rows of a sheet entry saved as a table of its own).
  static std::string BackupTableDataTo(Workspace& ws, oledb::SessionRef session,
                                       const std::string& table, const std::string& insertName,
                                       const std::string& path);
  // A workbook has no views: always an empty text.
  static std::string BackupView(Frontend& out, oledb::SessionRef session,
                                const std::string& database, const std::string& view);
};

}  // namespace migrator
