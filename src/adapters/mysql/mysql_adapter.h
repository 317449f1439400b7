#pragma once
// MySqlAdapter: the source side's operations. The source is a MySQL (or
// MariaDB) server reached through the ODBC provider "MSDASQL" and an
// installed MySQL ODBC driver.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "adapters/mysql/typed_columns.h"
#include "app/frontend.h"
#include "oledb/properties.h"
#include "oledb/slot.h"
#include "tasks/task.h"
#include "workflows/connect.h"

namespace migrator {

class Workspace;
struct ConnectionSettings;

inline constexpr const char* kTcpIpPort = "TCP/IP:Port";
inline constexpr const char* kDefaultMySqlPort = "3306";
inline constexpr const char* kNoViewSupport = "NO SUPPORT! No Views Supported in Excel!";

// A server address split for the connection string: everything before the
// first ":" is the host, everything after it the port ("3306" without one).
// An IPv6 address stands in brackets: "[::1]:3307" is host ::1, port 3307.
struct ServerAddress {
  std::string host;
  std::string port;
};
ServerAddress SplitServerAddress(std::string_view sourceName);

// ";Driver={driver};SERVER=host;PORT=port;UID=root;" followed by
// "Database=catalog" when there is a catalog. A value that holds a character
// with a meaning in a connection string (";", "{", "}", "=", blanks at its
// ends) is put in braces with "}" doubled, so it stays one value.
std::string MySqlConnectionString(std::string_view driver, const ServerAddress& address,
                                  std::string_view catalog);

// What the row transfer keeps to.
struct TransferOptions {
  // The file that receives every INSERT sent, one a line; none when empty.
  // It is made readable by its owner only.
  std::string scratchFile;
  // The rows the target table takes; more are counted, not sent. -1: any.
  std::int64_t maxRows = -1;
  // What holds those rows, as the line about a cut table names it ("a sheet
  // of an .xls workbook"), and what that line adds (where the table fits).
  std::string rowsHolder = "a sheet";
  std::string cutHint;
  // The UTF-16 units a value may have; a longer one is cut there. 0: any.
  std::size_t maxValueUnits = 0;
  // Told the rows read of the rows expected (counted before the copy) when
  // the copy starts, a few times a second while it runs, and when it ends
  // (active false). The rows are not counted without it.
  std::function<void(const RowProgress&)> onProgress;
  // Typed cells: each column's form (typed_columns.h), in the order of the
  // table's columns. Without it every value goes as a quoted text.
  const std::vector<TypedColumn>* typed = nullptr;
  // When a target table is full (maxRows), asked for the table the rows go
  // on in: the name of a table it has just made with the same columns, or
  // nothing (the rest is then counted and left behind, as without it).
  std::function<std::optional<std::string>()> nextTable;
  // Added to the line that counts the rows left behind at maxRows (what
  // would have taken them).
  std::string whenFull;
  // Whether the rows are made durable at the end (Session::Flush). Not inside
  // a transaction, whose commit does it.
  bool flush = true;
};

// How a row transfer ended.
struct TransferResult {
  // "true" after the row loop; otherwise the text of what kept it from
  // starting ("No Source Connection!", the provider's error text, ...).
  std::string status;
  // Every selected row arrived whole: none was rejected, left behind at the
  // row limit or unread after an error, no value was cut, the loop was not
  // stopped, and the target made the rows durable.
  bool whole = false;
  std::int64_t arrived = 0;    // rows the target accepted
  std::int64_t cutValues = 0;  // values cut at maxValueUnits (the rows went on)
  bool stopped = false;        // a stop request ended the row loop
  // Every selected row arrived (values may have been cut): none rejected,
  // left behind or unread, no stop, and the rows made durable when asked.
  bool allRows = false;
  std::vector<std::string> continued;  // the tables the rows went on in, in order
};

struct MySqlAdapter {
  // Fills the initialisation properties of a source connection. For
  // "TCP/IP:Port" it tries the MySQL ODBC drivers k = 1, 2, 3 with a trial
  // data source until one initialises; false when the probe names no driver
  // (the set is then incomplete). Reports nothing.
  static bool BuildInitProperties(const ConnectionSettings& settings, oledb::PropertySet& set);
  static bool BuildInitProperties(const ConnectionSettings& settings, oledb::PropertySet& set,
                                  const ConnectServices& services);
  // The same; when it returns false, `reason` says why (no driver, or the
  // driver's error text for the last trial).
  static bool BuildInitProperties(const ConnectionSettings& settings, oledb::PropertySet& set,
                                  const ConnectServices& services, std::string& reason);

  // The configuration dialog's variant: the same set, but it tells the user
  // "No appropriate Config, Please correct!!!" when the probe names no driver
  // (and returns false) and shows the provider's error text after every
  // failed trial.
  static bool BuildTestInitProperties(Frontend& ui, const ConnectionSettings& settings,
                                      oledb::PropertySet& set);
  static bool BuildTestInitProperties(Frontend& ui, const ConnectionSettings& settings,
                                      oledb::PropertySet& set, const ConnectServices& services);

  // "select @@Version" through the single-value query; "No Connection!" (and
  // its system-error line) without a session.
  static std::string QueryServerVersion(Frontend& out, oledb::SessionRef session);

  // The table's CREATE TABLE text ("show create table" with the name quoted)
  // rewritten for the target, or a message text that the caller runs like
  // DDL and that then fails on the target.
  static std::string GetTableDdl(Frontend& out, oledb::SessionRef session,
                                 const std::string& database, const std::string& table);
  // A CREATE TABLE text for the target built from the table's entries in the
  // columns schema rowset of the current database: every column a text
  // column, names quoted and in lower case, in ordinal order. Empty when the rowset cannot be
  // read or lists no column of the table.
  static std::string GetColumnsDdl(oledb::SessionRef session, const std::string& table);
  // The table's columns with the forms their values take as typed cells, in
  // ordinal order: their OLE DB types from the columns schema rowset, refined
  // by the server's own type texts (information_schema) where those say more.
  // Empty when the rowset cannot be read or lists no column of the table.
  static std::vector<TypedColumn> GetTypedColumns(oledb::SessionRef session,
                                                  const std::string& table);

  // Copies a table's rows into the target table of the same name, one INSERT
  // per row (see TransferOptions and TransferResult). A NULL is sent as NULL
  // (no cell in a workbook), an empty text as ''. A stored migration
  // condition that filters the rows is named in an orange line.
  static TransferResult TransferTableRows(Workspace& ws, oledb::SessionRef source,
                                          oledb::SessionRef target, const std::string& database,
                                          const std::string& table,
                                          const TransferOptions& options = {});

  // The workbook target has no views: always kNoViewSupport; touches neither
  // the session nor the output pane.
  static std::string GetViewDdl(Frontend& out, oledb::SessionRef session,
                                const std::string& database, const std::string& view);
};

}  // namespace migrator
