#pragma once
// How migrator-cli sql shows a statement's result: every row on standard
// output as tab-separated text, failures on standard error with a non-zero
// exit code.
//
// Values are escaped so that every line is one row and every tab ends a
// value: a backslash prints as \\, a tab as \t, a line feed as \n, a carriage
// return as \r. NULL prints as (NULL); a text that reads "(NULL)" prints as
// \(NULL). A statement that returns several results (a procedure's SELECTs)
// prints them all, an empty line between two results.

#include <memory>
#include <string>
#include <string_view>

#include "oledb/data_source.h"
#include "oledb/text_rows.h"

namespace migrator::cli {

// What PrintRows read, and whether standard output took it.
struct PrintedRows : oledb::TextReadResult {
  int writeError = 0;  // errno of a failed write to standard output; 0 when all went out
};

// One value as it is printed.
std::string EscapeValue(std::string_view value, bool isNull);

// Runs the statement and prints the rows of every result as they are read;
// a write to standard output that fails (a full disk) stops the reading.
PrintedRows PrintRows(const std::shared_ptr<oledb::Session>& session, std::string_view statement);

// The exit code for what PrintRows read: 0 when the statement ran, every row
// was read and printed, 1 otherwise (with the reason on standard error).
// Without `quiet` a statement without rows says so on standard error.
int RowsExitCode(const PrintedRows& result, bool quiet);

}  // namespace migrator::cli
