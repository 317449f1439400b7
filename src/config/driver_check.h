#pragma once
// The driver and provider check: which data-source providers and ODBC drivers
// the two sides need are installed, and whether their libraries are there.
// unixODBC's driver files (the system odbcinst.ini and the user's
// ~/.odbcinst.ini) play the part of the driver registry. The same walk, cut
// down to MySQL drivers, names the driver of the source connection string.
//
// A probe answers with one text of rows, each row three fields each followed
// by "|": name, installation state, usability state, e.g.
//   "Microsoft OLE DB Provider for ODBC Drivers|Installed|Usable|"

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace migrator {

class Frontend;

// Where the check looks. FromProcess() reads the process environment the way
// unixODBC and the loader do; tests fill one with temporary files.
struct DriverCheckEnvironment {
  // ${ODBCSYSINI:-/etc}/${ODBCINSTINI:-odbcinst.ini}
  std::string systemDriverFile;
  // ${HOME}/.odbcinst.ini; read after the system file, and the file new
  // drivers are registered in.
  std::string userDriverFile;
  // The data source names: ${ODBCSYSINI:-/etc}/odbc.ini and the user's
  // ${ODBCINI:-${HOME}/.odbc.ini} (its names win, as with unixODBC).
  std::string systemDataSourceFile;
  std::string userDataSourceFile;
  // Directories searched for a bare library name ("libmaodbc.so"), in order:
  // LD_LIBRARY_PATH, the loader's configured directories, the standard ones
  // and unixODBC's driver directory.
  std::vector<std::string> libraryDirs;
  // The providers: installed when the provider registry holds them. The ODBC
  // provider's library is the driver manager; the workbook provider that
  // stands in for Jet is built in and has none.
  bool odbcProviderInstalled = true;
  std::string odbcProviderLibrary = "libodbc.so.2";
  bool jetProviderInstalled = true;
  // Values for "%NAME%" references; when absent the process environment is
  // used. An unset variable counts as empty.
  std::optional<std::map<std::string, std::string>> variables;

  static DriverCheckEnvironment FromProcess();
};

// One probe row.
struct ProbeRow {
  std::string name;
  std::string state;      // "Installed", "Not Installed", "Not installed", "N/A"
  std::string usability;  // "Usable", "Unusable"
  friend bool operator==(const ProbeRow&, const ProbeRow&) = default;
};

// An ODBC driver as the driver files list it: its section name and its
// key/value pairs in file order.
struct OdbcDriverEntry {
  std::string name;
  std::vector<std::pair<std::string, std::string>> values;
};

// Drivers of the system file, then those of the user file whose names the
// system file does not already hold (as unixODBC merges them). The "ODBC"
// section holds the manager's own settings and is no driver.
std::vector<OdbcDriverEntry> InstalledOdbcDrivers(const DriverCheckEnvironment& env);

// Replaces "%NAME%" references by the variables' values. Pairs of "%" are
// taken left to right; a lone "%" stays. Substituted text is not scanned
// again, so a value that refers to itself cannot loop.
std::string ExpandEnvironmentRefs(std::string_view path, const DriverCheckEnvironment& env);

// Where a library would be loaded from: a path holding "/" as given, a bare
// name from the first library directory that has it. Empty when not found.
std::string ResolveLibrary(const std::string& path, const DriverCheckEnvironment& env);
// The expanded path names an existing file that is not a directory.
bool IsUsableLibrary(std::string_view path, const DriverCheckEnvironment& env);

// A driver counts as a MySQL driver when its name holds one of these.
bool IsMySqlDriverName(std::string_view name);

// Rows of the source side (the ODBC provider, then the MySQL drivers) and of
// the target side (the workbook provider, the ODBC provider, the Excel
// drivers).
std::string SourceProbe(const DriverCheckEnvironment& env);
std::string TargetProbe(const DriverCheckEnvironment& env);

// The name of the k-th MySQL driver (k from 1, file order, every match
// counted) when its "Driver" library and, if it names one, its "Setup"
// library are usable; otherwise empty.
std::string MySqlDriverProbe(int k, const DriverCheckEnvironment& env);
std::string MySqlDriverProbe(int k);  // with the process environment

// The ODBC data source names whose driver fits a DBMS kind ("MySQL",
// "Excel", ...; compared without regard to case), sorted without regard to
// case. A data source's driver is its "Driver" value, or its entry in the
// "ODBC Data Sources" section; a library path there stands for the installed
// driver that names the same library. MySQL takes the drivers that
// IsMySqlDriverName accepts; the other kinds take drivers whose names begin
// with the kind's driver prefixes. A kind without prefixes lists nothing.
std::vector<std::string> DataSourceNamesOfKind(std::string_view kind,
                                               const DriverCheckEnvironment& env);

// Splits a probe text into rows; an incomplete last row is dropped.
std::vector<ProbeRow> ParseProbeRows(std::string_view text);

// The source rows of the check dialog: the probe's rows followed by one
// "TCP/IP:Port|N/A|Usable|" row when a MySQL driver row is usable, or
// "TCP/IP:Port|N/A|Unusable|" otherwise.
std::vector<ProbeRow> CheckDialogSourceRows(std::string_view sourceProbe);

// Installing the MySQL ODBC 3.51 driver from a folder of the program
// (normally "./MyODBC3.51"): asks for an install folder, copies
// libmyodbc3.so and libmyodbc3S.so there (existing files are kept) and
// registers "MySQL ODBC 3.51 Driver" in the user's driver file. Messages go
// through the frontend; the Driver Check command is posted when the dialog is
// to be shown again.
struct InstallOutcome {
  bool installed = false;    // the driver was registered
  bool closeDialog = false;  // the check dialog closes
  bool reopened = false;     // the Driver Check command was posted
};
inline constexpr int kDriverCheckCommand = 32793;
inline constexpr const char* kMySqlOdbc351Driver = "MySQL ODBC 3.51 Driver";
InstallOutcome InstallMySqlOdbcDriver(Frontend& frontend, const std::string& packageDir,
                                      const DriverCheckEnvironment& env);

}  // namespace migrator
