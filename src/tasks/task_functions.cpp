#include "app/output.h"
#include "app/workspace.h"
#include "tasks/controller.h"

namespace migrator {

namespace {

// A task whose steps are not available in this build ends as a failure and
// says which steps are missing.
TaskFunction Missing(const char* what) {
  return [what](TaskContext& ctx) {
    WriteOutput(ctx.ws.frontend(), "E::%s is not available in this build!", what);
    return false;
  };
}

// Views cannot be migrated into a workbook.
bool MigrateViews(TaskContext& ctx) {
  WriteOutputText(ctx.ws.frontend(), "Excel Datafiles have no Views to convert !!!");
  return false;
}

}  // namespace

TaskFunctionTable DefaultTaskFunctions() {
  TaskFunctionTable t;
  t.functions[kCloneDatabase] = Missing("Database migration");
  t.functions[kMigrateDatabase] = Missing("Database migration");
  t.functions[kMigrateTables] = Missing("Tables migration");
  t.functions[kMigrateViews] = MigrateViews;
  t.functions[kMigrateTable] = Missing("Table migration");
  t.functions[kMigrateView] = MigrateViews;
  t.functions[kBackupDatabase] = Missing("Database backup");
  t.functions[kBackupObject] = Missing("Object backup");
  return t;
}

}  // namespace migrator
