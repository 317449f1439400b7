#pragma once
// The subcommands of migrator-cli. Each lives in a file of its own and gets the
// arguments after its name; it returns the process exit code.

#include <string>
#include <vector>

namespace migrator::cli {

using Args = std::vector<std::string>;

int RunDrivers(const Args& args);   // cmd_drivers.cpp
int RunSql(const Args& args);       // cmd_sql.cpp
int RunWorkbook(const Args& args);  // cmd_workbook.cpp
int RunMigrate(const Args& args);   // cmd_migrate.cpp
int RunBackup(const Args& args);    // cmd_backup.cpp
int RunRestore(const Args& args);   // cmd_restore.cpp

}  // namespace migrator::cli
