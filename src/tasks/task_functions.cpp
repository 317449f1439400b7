#include "app/output.h"
#include "app/workspace.h"
#include "tasks/controller.h"
#include "workflows/backup.h"

namespace migrator {

namespace {

// A task whose steps are not available in this build ends as a failure and
// says which steps are missing.
TaskFunction Missing(const char* task, const char* steps) {
  return [task, steps](TaskContext& ctx) {
    WriteOutput(ctx.ws.frontend(), "E::%s needs %s, which this build does not have yet!", task,
                steps);
    return false;
  };
}

constexpr const char* kConversionSteps =
    "the table conversion steps (reading a table's definition, copying its rows)";

// Views cannot be migrated into a workbook.
bool MigrateViews(TaskContext& ctx) {
  WriteOutputText(ctx.ws.frontend(), "Excel Datafiles have no Views to convert !!!");
  return false;
}

}  // namespace

TaskFunctionTable DefaultTaskFunctions() {
  TaskFunctionTable t;
  t.functions[kCloneDatabase] = Missing("Database migration", kConversionSteps);
  t.functions[kMigrateDatabase] = Missing("Database migration", kConversionSteps);
  t.functions[kMigrateTables] = Missing("Tables migration", kConversionSteps);
  t.functions[kMigrateViews] = MigrateViews;
  t.functions[kMigrateTable] = Missing("Table migration", kConversionSteps);
  t.functions[kMigrateView] = MigrateViews;
  t.functions[kBackupDatabase] = BackupDatabaseTask;
  t.functions[kBackupObject] = BackupObjectTask;
  return t;
}

}  // namespace migrator
