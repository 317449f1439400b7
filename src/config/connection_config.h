#pragma once
// The connection configuration dialog's logic: the two sides' fields and
// lists, the three options, the file chooser, the connection test, Save
// Config and Connect. The window's dialog only shows `form()` and `lists()`,
// reads its controls back into `form()` before every action, and calls the
// operation of the control the person used; every question and message goes
// through the workspace's Frontend.
//
// The source side is always a MySQL server, the target always an Excel
// workbook; the kind list still holds the eight kinds of the configuration.

#include <string>
#include <string_view>
#include <vector>

#include "adapters/excel/excel_adapter.h"
#include "app/frontend.h"
#include "app/workspace.h"
#include "config/config_file.h"
#include "config/driver_check.h"

namespace migrator {

// The DBMS kinds, by index (DbmsKind).
inline constexpr const char* kDbmsKindNames[] = {"Text Data File", "MSSQL", "MySQL",  "Sybase",
                                                 "Access",         "Excel", "Oracle", "SybaseIQ"};

// Provider texts as the lists show them.
inline constexpr const char* kOdbcProviderText = "Microsoft OLE DB Provider for ODBC Divers";
inline constexpr const char* kSqlServerProviderText = "Microsoft OLE DB Provider for SQL Server";
inline constexpr const char* kJet40ProviderText = "Microsoft Jet 4.0 OLE DB Provider";
inline constexpr const char* kJet351ProviderText = "Microsoft Jet 3.51 OLE DB Provider";

inline constexpr const char* kSourceNameLabel = "Source Name";
inline constexpr const char* kServerPortLabel = "Server:Port";
inline constexpr const char* kDefaultServer = "127.0.0.1";
inline constexpr const char* kDefaultWorkbookName = "Excel_New";
inline constexpr const char* kDatabaseFileTitle = "Open the database file";

// The providers offered for a kind (kind names compared without regard to
// case), sorted as the list keeps them.
std::vector<std::string> ProvidersOfKind(std::string_view kind);
// The provider identifier of a provider text; an unknown text is its own
// identifier.
std::string ProviderIdOf(std::string_view providerText);
bool IsJetProviderText(std::string_view providerText);
// The file chooser's filters for a kind.
std::vector<FileFilter> DatabaseFileFilters(std::string_view kind);

// One side's lists as the dialog shows them.
struct ConfigSideLists {
  std::vector<std::string> providers;    // sorted
  std::vector<std::string> sourceNames;  // sorted
  std::string sourceNameLabel = kSourceNameLabel;
};

// Where the dialog's work goes: the data sources of the connection test, the
// spreadsheet program of the default workbook, and the ODBC files that list
// the data source names. Tests pass their own.
struct ConnectionConfigServices {
  ExcelServices excel;
  DriverCheckEnvironment drivers;
};
ConnectionConfigServices DefaultConnectionConfigServices();

class ConnectionConfig {
 public:
  static constexpr int kOpenCommand = 1026;     // the window's command that opens the dialog
  static constexpr int kConnectCommand = 1028;  // the window's command that connects both sides

  explicit ConnectionConfig(Workspace& ws);
  ConnectionConfig(Workspace& ws, ConnectionConfigServices services);

  // Creation and initialisation: the options (the main window's Tips tab
  // follows the file) and, when the file keeps them, the ten fields; both
  // sides' lists; each side's provider selected (the first one when the file
  // names none of the list) and its source names listed. A source name from
  // the file is kept over the one the provider proposes.
  void Open();

  // The dialog's fields and options; the dialog writes its controls here
  // before every operation below.
  ConfigForm& form() { return form_; }
  const ConfigForm& form() const { return form_; }
  ConnectionFields& fields(DataSourceSide side);
  const ConfigSideLists& lists(DataSourceSide side) const;
  static int KindIndex(DataSourceSide side);
  static const char* KindName(DataSourceSide side) { return kDbmsKindNames[KindIndex(side)]; }
  const std::string& configFilePath() const { return file_.path(); }

  // A provider chosen in a side's list: the source-name list is emptied and
  // filled again for the provider (data source names, or "127.0.0.1" for
  // TCP/IP:Port). Choosing the workbook provider on the target proposes a
  // workbook "Excel_New.xls" and creates it when it is missing; an entry of
  // that name that is no file is left alone and another name proposed.
  void ChangeProvider(DataSourceSide side, const std::string& providerText);

  // The person opens a side's source-name list. With the workbook provider a
  // file chooser takes the list's place (a new name creates an empty
  // workbook); true when it did, and the list is then not shown.
  bool OpenSourceNameList(DataSourceSide side);
  // The chooser for a workbook, whatever the provider (the dialog's browse
  // button). False when the person cancelled.
  bool ChooseWorkbook(DataSourceSide side);
  // A double click in a side's Catalog Name: for the file-based kinds (Excel,
  // Access) and a provider other than the workbook provider, a file chooser
  // fills the catalog and clears the source name. False when nothing changed.
  bool ChooseCatalogFile(DataSourceSide side);

  // The check boxes. Display Tips shows or hides the main window's Tips tab
  // at once.
  void SetConfigOption(bool on) { form_.config = on; }
  void SetAutoBackup(bool on) { form_.autoBackup = on; }
  void SetMigrationOptions(const MigrationOptions& options) { form_.migration = options; }
  void SetTips(bool on);

  // Test Connections: each side is connected with the fields as they stand
  // (not the saved ones) and released again; the result, with the provider's
  // own error text on failure, is shown.
  void TestConnections();
  // Save Config; the dialog stays open.
  void SaveConfig();
  // Connect: the options and fields are saved, both sides' settings, the
  // Auto Backup option and the migration options handed to the main window, the Connect command
  // posted and the Task List made current. The dialog then closes.
  void Connect();

  // A side's settings as the fields stand: the provider identifier derived
  // from the provider text, every text as typed.
  ConnectionSettings SettingsOf(DataSourceSide side) const;

 private:
  void FillSourceNames(DataSourceSide side);
  void ProposeWorkbook();
  // Makes `path` the side's source name (kept in the list) and clears the
  // catalog; a missing workbook is created first.
  void TakeWorkbook(DataSourceSide side, std::string path);
  void TestSide(DataSourceSide side);
  std::string ChooserDirectory(const std::string& current) const;

  Workspace& ws_;
  Frontend& ui_;
  ConnectionConfigServices services_;
  ConfigFile file_;
  ConfigForm form_;
  ConfigSideLists lists_[2];
  bool initialising_ = false;
};

}  // namespace migrator
