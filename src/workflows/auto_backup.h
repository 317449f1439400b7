#pragma once
// Auto Backup: with the configuration's option "Auto Backup (need more time
// and disk space)" on, a workbook is copied aside before a migration, a Clear
// or a Drop changes it.

#include <string>

#include "app/workspace.h"

namespace migrator {

// With Auto Backup on and a workbook at `workbook`: copies it into the backup
// directory (the chosen one, or "backup" in the program's directory) as
// "NAME-YYYYMMDD-HHMMSS.xls" (the workbook's own extension; "-2", "-3", ...
// when that name is taken, never over a file) and says where. True when the
// copy was made or there was nothing to copy; false, with a red line, when it
// could not be made: the change must not go ahead then.
bool AutoBackupWorkbook(Workspace& ws, const std::string& workbook);

}  // namespace migrator
