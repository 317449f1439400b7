#pragma once
// The statement operations that report through the Frontend: run a statement
// with no interest in its rows, run one and list its rows in the output pane,
// and read a single value.

#include <string>
#include <string_view>

#include "app/frontend.h"
#include "oledb/slot.h"

namespace migrator::oledb {

inline constexpr const char* kNoConnection = "No Connection!";
inline constexpr const char* kResultSuccess = "RESULT: The operation completed SUCCESSFULLY";
// Rows that RunStatementAndList lists; the rest are fetched and not shown.
inline constexpr int kListedRows = 100;

// Runs a statement and ignores any rows. report 1 writes "RESULT: The
// operation completed SUCCESSFULLY" for a statement without a rowset and
// "T::" + the provider's error text on failure; report 0 writes nothing. A
// missing session writes "E::No Connection!" whatever the flag. Returns true
// when the statement ran (with or without a rowset).
bool ExecuteStatement(Frontend& out, SessionRef session, std::string_view statement, int report);

// Runs a statement and writes one output line per column value of its first
// 100 rows ("(NULL)" for a NULL); later rows are fetched and not listed. A
// missing session writes the system-error line for "No Connection!"; a
// failure writes the provider's error text. The wait cursor is shown while it
// runs. Returns true when the statement ran.
bool RunStatementAndList(Frontend& out, SessionRef session, std::string_view statement, int report);

// Makes the changes a session holds back durable now (Session::Flush), e.g.
// the rows inserted into a table. A failure writes "E::" + the provider's
// error text (the reason the changes are not saved) when report is 1 and
// returns false; a missing session writes "E::No Connection!" whatever the
// flag.
bool FlushSession(Frontend& out, SessionRef session, int report);

// Closes a connection: flushes the session, then releases it and the data
// source (in that order). When the session's changes cannot be saved the
// provider's error text is written as an "E::" line and the result is false;
// the connection is released all the same. Empty slots are fine.
bool CloseConnection(Frontend& out, SessionSlot& session, DataSourceSlot& dataSource);

// The single-value query: the first column's text of the last row read in
// full; "RESULT: The operation completed SUCCESSFULLY" when the statement
// gives no rowset (not written); the provider's error text on failure; "No
// Connection!" (and the system-error line for it written) when the session is
// missing. An empty rowset gives an empty text.
std::string QuerySingleValue(Frontend& out, SessionRef session, std::string_view statement);

}  // namespace migrator::oledb
