#pragma once
// ExcelAdapter: the target side's operations. The target is a workbook (.xls)
// reached through the workbook provider that stands in for
// "Microsoft.Jet.OLEDB.4.0" (a workbook is a database, its sheets are tables);
// what SQL cannot do on a workbook is done through the automation layer.

#include <string>

#include "app/frontend.h"
#include "oledb/properties.h"
#include "oledb/slot.h"

namespace migrator {

class Workspace;
struct ConnectionSettings;

inline constexpr const char* kJetProvider = "Microsoft.Jet.OLEDB.4.0";
inline constexpr const char* kJetProviderString = "Excel 8.0;HDR=Yes;";
inline constexpr const char* kExcelOdbcProviderString =
    "Driver={Microsoft Excel Driver (*.xls)};DriverId=790;ReadOnly=0;";
inline constexpr const char* kExcelOdbcTestProviderString =
    "Driver={Microsoft Excel Driver (*.xls)};DriverId=790;";

// The provider identifier names the workbook provider (case-insensitive).
bool IsJetProvider(const std::string& providerId);

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

  // Workbook and sheet maintenance.
  static bool CreateDatabase(Workspace& ws, const std::string& name, int nonInteractive);
  static bool DropDatabase(Workspace& ws, const std::string& name);
  static bool DropTable(Workspace& ws, const std::string& database, const std::string& table);
  // A workbook has no views: nothing to do, always true.
  static bool DropView(Workspace& ws, const std::string& view);
  static void FormatTableHeads(Workspace& ws, const std::string& database);
  static bool RenameTable(Workspace& ws, const std::string& oldName, const std::string& newName);

  // Backup of target tables.
  static std::string BackupTableStructure(Frontend& out, oledb::SessionRef session,
                                          const std::string& table);
  static std::string BackupTableData(Workspace& ws, oledb::SessionRef session,
                                     const std::string& database, const std::string& table);
  // A workbook has no views: always an empty text.
  static std::string BackupView(Frontend& out, oledb::SessionRef session,
                                const std::string& database, const std::string& view);
};

}  // namespace migrator
