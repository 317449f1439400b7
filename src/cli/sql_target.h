#pragma once
// migrator-cli sql --target FILE.xls|FILE.xlsx STATEMENT: the statement runs on a
// workbook through the workbook provider, opened with the target side's
// initialisation properties, and its rows are printed as the source branch
// prints them (tab-separated text, "(NULL)" for NULL).

#include "cli/commands.h"

namespace migrator::cli {

// Whether the arguments of "sql" name a workbook (--target).
bool IsTargetSql(const Args& args);

// Runs the statement and saves what it changed; 0 on success, 1 when the
// workbook cannot be opened, the statement fails or its change cannot be
// saved (the error text on standard error), 2 for wrong arguments.
int RunSqlTarget(const Args& args);

}  // namespace migrator::cli
