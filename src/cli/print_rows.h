#pragma once
// How migrator-cli sql shows a statement's result: every row on standard
// output as tab-separated text ("(NULL)" for NULL), failures on standard
// error with a non-zero exit code.

#include <memory>
#include <string_view>

#include "oledb/data_source.h"
#include "oledb/text_rows.h"

namespace migrator::cli {

// Runs the statement and prints its rows as they are read.
oledb::TextReadResult PrintRows(const std::shared_ptr<oledb::Session>& session,
                                std::string_view statement);

// The exit code for what PrintRows read: 0 when the statement ran and every
// row was read, 1 otherwise (with the reason on standard error). Without
// `quiet` a statement without rows says so on standard error.
int RowsExitCode(const oledb::TextReadResult& result, bool quiet);

}  // namespace migrator::cli
