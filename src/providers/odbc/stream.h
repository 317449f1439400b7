#pragma once
// Streamed reading for the ODBC provider.
//
// The MariaDB ODBC driver keeps a statement's whole result in memory before it
// hands over the first row. A long read (a migration's row transfer, `sql` on
// the command line) therefore reads over a connection of its own, opened with
// the same login through MariaDB Connector/C, where rows come off the network
// one at a time: memory stays flat and the first row is there at once. That
// connection follows the session's current database and its character-set,
// time-zone and SQL-mode settings before each statement, and is kept for the
// next long read when a read ends at the end of its rows.
//
// The login is taken from the connection string the driver got (a data
// source name is looked up in odbc.ini); a string with an attribute this
// file does not know (TLS options, for example) gives no login, and the
// provider then reads through the driver as before.

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "oledb/provider.h"
#include "providers/odbc/charset.h"

namespace migrator::providers::odbc {

// What a streamed connection logs in with.
struct StreamLogin {
  std::string host = "localhost", user, password, database, socket, charset;
  unsigned port = 3306;
  bool tcp = false;
  int connectTimeout = 0, readTimeout = 0, writeTimeout = 0;  // seconds; 0: none
};

// The login for a connection string, or none when it holds an attribute
// whose meaning a streamed connection could not honour. `loginTimeout` and
// `readTimeout` (seconds, 0: none) apply unless the string sets its own.
std::optional<StreamLogin> StreamLoginFor(std::string_view connectionString, int loginTimeout,
                                          int readTimeout);

// The settings of a session that a streamed connection copies.
struct SessionSettings {
  std::string database, client, results, collation, timeZone, sqlMode;
  bool resultsNull = false;
  friend bool operator==(const SessionSettings&, const SessionSettings&) = default;
};

class StreamConnection;

// The idle streamed connection of a data source, shared by its sessions.
class StreamPool {
 public:
  explicit StreamPool(StreamLogin login);
  ~StreamPool();

  // Runs a query that only reads (statement_text.h) on a streamed connection
  // set up like `settings`. On success `rowset` holds its rows (or stays null
  // when it gave none); a failure of the statement itself leaves its error
  // records. `usable` is false when no streamed connection could be had or
  // set up: the caller then reads through the driver instead, and `errors`
  // is untouched.
  HRESULT Execute(const std::string& statement, const SessionSettings& settings,
                  std::shared_ptr<TextDecoder> decoder,
                  std::unique_ptr<oledb::ProviderRowset>& rowset, oledb::ErrorRecords& errors,
                  bool& usable);

  // Takes back a connection whose read ended at the end of its rows.
  void Return(std::unique_ptr<StreamConnection> connection);

 private:
  std::unique_ptr<StreamConnection> Take(const SessionSettings& settings);

  StreamLogin login_;
  std::mutex lock_;
  std::unique_ptr<StreamConnection> idle_;
};

}  // namespace migrator::providers::odbc
