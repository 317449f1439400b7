#pragma once
// The ODBC provider ("MSDASQL"): the data-source layer over unixODBC.
//
// Initialisation turns the DBPROPSET_DBINIT properties into a connection (see
// BuildConnectionString in connection_string.h): the provider string goes to
// SQLDriverConnect without prompting, DBPROP_INIT_DATASOURCE names a DSN, the
// auth properties log in over any UID/PWD of the string, and
// DBPROP_INIT_CATALOG selects the database once connected.
//
// Timeouts: a login may take DBPROP_INIT_TIMEOUT seconds and a read or write
// may wait DBPROP_INIT_GENERALTIMEOUT seconds on the server (a long query runs
// on while its rows keep arriving); 0 means no limit. Without the properties
// the environment's MIGRATOR_LOGIN_TIMEOUT and MIGRATOR_READ_TIMEOUT hold, and
// without those 30 and 300 seconds.
//
// Text goes to the driver as UTF-8 through the narrow calls (the drivers'
// connection character set is UTF-8), and comes back as the bytes the server
// sent, decoded here from the session's result character set, so a session
// switched to another character set still reads as UTF-8. Values are read
// whole.

#include <memory>

#include "oledb/provider.h"

namespace migrator::providers::odbc {

inline constexpr const char* kProviderId = "MSDASQL";
inline constexpr const char* kProviderName = "Microsoft OLE DB Provider for ODBC Drivers";
// The driver manager the provider loads (what the driver check looks for).
inline constexpr const char* kProviderLibrary = "libodbc.so.2";
inline constexpr int kDefaultLoginTimeout = 30;
inline constexpr int kDefaultReadTimeout = 300;

std::unique_ptr<oledb::ProviderDataSource> CreateDataSource();

}  // namespace migrator::providers::odbc
