#include "app/output.h"
#include "app/workspace.h"
#include "tasks/controller.h"
#include "workflows/backup.h"
#include "workflows/migration.h"

namespace migrator {

TaskFunctionTable DefaultTaskFunctions() {
  TaskFunctionTable t;
  t.functions[kCloneDatabase] = CloneDatabaseTask;
  t.functions[kMigrateDatabase] = MigrateDatabaseTask;
  t.functions[kMigrateTables] = MigrateTablesTask;
  t.functions[kMigrateViews] = MigrateViewsTask;
  t.functions[kMigrateTable] = MigrateTableTask;
  t.functions[kMigrateView] = MigrateViewsTask;
  t.functions[kBackupDatabase] = BackupDatabaseTask;
  t.functions[kBackupObject] = BackupObjectTask;
  return t;
}

}  // namespace migrator
