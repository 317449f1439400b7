#include "workflows/migration.h"

#include <sys/stat.h>

#include <cstdio>
#include <ctime>
#include <memory>
#include <vector>

#include "adapters/excel/excel_adapter.h"
#include "adapters/excel/excel_automation.h"
#include "adapters/mysql/mysql_adapter.h"
#include "app/output.h"
#include "browser/refresh_tree.h"
#include "oledb/data_source.h"
#include "oledb/errors.h"
#include "oledb/operations.h"
#include "oledb/properties.h"
#include "oledb/schema_reader.h"
#include "oledb/text.h"
#include "oledb/text_rows.h"
#include "platform/text.h"
#include "platform/workbook_guard.h"
#include "providers/workbook/tables.h"
#include "tasks/controller.h"
#include "workflows/auto_backup.h"
#include "workflows/connect.h"
#include "workflows/restore.h"
#include "xls/workbook.h"

namespace migrator {
namespace {

constexpr const char* kCharsetHint =
    "Perhaps CHARACTER SET not correct!\nPlease change and try again.";
constexpr const char* kTargetHint = "Please select a database in Target Database Tree!";
constexpr const char* kTargetMessage = "Please select a target Database!";

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// A scratch file in the data cache, truncated, readable by its owner only;
// the name is made safe.
File OpenScratch(const Conversion& c, const std::string& name) {
  return File(OpenOwnerOnly(c.directory.File(name).path));
}

// The names the target gives a table made from `ddl`, when they differ from
// the source's: the workbook's rules for sheet and table names (characters,
// length) and the definition's own (case).
void SayNameChanges(Frontend& ui, const std::string& table, const std::string& ddl) {
  const std::string made = CreatedTableName(ddl).value_or(table);
  const std::string sheet = providers::workbook::SheetNameForTable(made);
  const std::string name = providers::workbook::DefinedNameForTable(made);
  if (sheet != table || name != table) {
    WriteOutput(ui, "T::TABLE: [%s] is named [%s] in the workbook, on the sheet [%s]",
                table.c_str(), name.c_str(), sheet.c_str());
  }
}

bool Stopping(const Workspace& ws) {
  return ws.State() == ControllerState::Stopping;
}

void Refuse(Frontend& ui, const char* hint, const char* message) {
  ui.ShowHint(hint);
  ui.Tell(message);
}

bool Confirmed(Frontend& ui, const std::string& question) {
  return ui.Ask(question, Buttons::OkCancel) == Answer::Ok;
}

// The rows of a tables schema rowset of one type, read before any of them
// is worked on. False (with the reader's error text) when it did not open.
bool ListTables(oledb::SessionRef session, const char* type, std::vector<oledb::TableRecord>& found,
                std::string& error) {
  oledb::TablesReader tables;
  if (hr::Failed(
          tables.Open(session, oledb::Restrictions().Set(oledb::restriction::kTableType, type)))) {
    error = tables.ErrorText();
    return false;
  }
  while (tables.MoveNext() == hr::S_OK)
    found.push_back(tables.record());
  return true;
}

// The target workbook holds a table of this name, under the name itself or
// the name the workbook provider makes of it.
bool TargetHasTable(Workspace& ws, const std::string& table) {
  const std::string defined = providers::workbook::DefinedNameForTable(table);
  oledb::TablesReader tables;
  if (hr::Failed(tables.Open(&ws.target.session))) return false;
  while (tables.MoveNext() == hr::S_OK) {
    const std::string name = excel::SheetNameOf(tables.record().tableName);
    if (EqualNoCase(name, table) || EqualNoCase(name, defined)) return true;
  }
  return false;
}

}  // namespace

Result<WorkingDirectory> DataCacheDirectory(const Workspace& ws) {
  WorkingDirectory dir(ws.programDir());
  auto step = dir.Step("data_cache");
  if (!step) return step.error();
  // The scratch files hold copies of the tables: the directory is the
  // owner's alone (not a directory a link leads to).
  struct stat st {};
  if (::lstat(dir.path().c_str(), &st) == 0 && S_ISDIR(st.st_mode))
    ::chmod(dir.path().c_str(), 0700);
  return dir;
}

bool EnterDataCache(Workspace& ws) {
  auto cache = DataCacheDirectory(ws);
  if (!cache) {
    WriteOutput(ws.frontend(), "E::The data cache directory cannot be made: %s",
                cache.message().c_str());
    return false;
  }
  ws.SetCurrentDirectory(*cache);
  return true;
}

std::optional<MigrateSelection> SelectionOf(const DbTree& tree) {
  const auto node = tree.SelectedNode();
  if (!node) return std::nullopt;
  MigrateSelection s;
  s.kind = node->kind;
  s.name = node->text;
  int levels = -1;
  switch (node->kind) {
    case NodeKind::Database:
      levels = 0;
      break;
    case NodeKind::TablesFolder:
    case NodeKind::ViewsFolder:
      levels = 1;
      break;
    case NodeKind::Table:
    case NodeKind::View:
      levels = 2;
      break;
    default:
      break;
  }
  if (levels == 0) {
    s.database = node->text;
  } else if (levels > 0) {
    if (const auto db = tree.Ancestor(node->id, levels)) s.database = db->text;
  }
  return s;
}

std::optional<TaskId> MigrateCommand(Workspace& ws) {
  return MigrateCommand(ws, SelectionOf(ws.source.tree), SelectionOf(ws.target.tree));
}

std::optional<TaskId> MigrateCommand(Workspace& ws, const std::optional<MigrateSelection>& source,
                                     const std::optional<MigrateSelection>& target) {
  Frontend& ui = ws.frontend();
  // 1.
  if (!ws.target.Connected()) {
    Refuse(ui, "Please confirm your Target Database Connection is valid!",
           "No Target DataSource Connection!");
    return std::nullopt;
  }
  // 2.
  if (!EnterDataCache(ws)) return std::nullopt;
  // 3, 4.
  if (!source) {
    Refuse(ui, "Please Select a Object to Convert in Source Databases Tree!",
           "No Selected Source Database Object!");
    return std::nullopt;
  }
  if (!target) {
    Refuse(ui, "Please Select a object in Target Tree!", "No Selected Target Objects!");
    return std::nullopt;
  }
  // 5, 6.
  auto task = ChooseMigrationTask(ws, *source, *target);
  if (!task) return std::nullopt;
  return QueueMigrationTask(ws, std::move(*task));
}

std::optional<Task> ChooseMigrationTask(Workspace& ws, const MigrateSelection& source,
                                        const MigrateSelection& target) {
  Frontend& ui = ws.frontend();
  Task task;
  task.kind = kMigrationTask;
  task.sourceDatabase = source.database;
  task.targetDatabase = target.database;

  if (target.kind == NodeKind::Root) {
    if (source.kind != NodeKind::Database) {
      Refuse(ui, kTargetHint, kTargetMessage);
      return std::nullopt;
    }
    if (!Confirmed(ui, Format("Clone database [%s] of source tree?", source.database.c_str()))) {
      return std::nullopt;
    }
    task.typeCode = kCloneDatabase;
    task.targetDatabase = source.database;
  } else if (target.kind == NodeKind::Database) {
    const char* db = source.database.c_str();
    const char* into = target.database.c_str();
    std::string question;
    switch (source.kind) {
      case NodeKind::Database:
        task.typeCode = kMigrateDatabase;
        question = Format("Convert database [%s] into Target database [%s]?", db, into);
        break;
      case NodeKind::Table:
        task.typeCode = kMigrateTable;
        task.sourceObject = source.name;
        question =
            Format("Convert table [%s] into Target database [%s]?", source.name.c_str(), into);
        break;
      case NodeKind::TablesFolder:
        task.typeCode = kMigrateTables;
        question = Format("Convert tables of [%s] into Target database [%s]?", db, into);
        break;
      case NodeKind::View:
        task.typeCode = kMigrateView;
        task.sourceObject = source.name;
        question =
            Format("Convert view [%s] into Target database [%s]?", source.name.c_str(), into);
        break;
      case NodeKind::ViewsFolder:
        task.typeCode = kMigrateViews;
        question = Format("Convert views of [%s] into Target database [%s]?", db, into);
        break;
      default:
        ws.controller().StartIfIdle();
        return std::nullopt;
    }
    if (!Confirmed(ui, question)) return std::nullopt;
  } else {
    Refuse(ui, kTargetHint, kTargetMessage);
    return std::nullopt;
  }
  return task;
}

TaskId QueueMigrationTask(Workspace& ws, Task task) {
  task.state = kTaskWaiting;
  task.stateText = "Waiting";
  task.startStamp = static_cast<std::int32_t>(std::time(nullptr));
  task.options = ws.Migration();
  task.sourceDbms = ws.source.DbmsTitle();
  task.targetDbms = ws.target.DbmsTitle();
  const TaskId id = ws.tasks.Append(std::move(task));
  ws.controller().StartIfIdle();
  return id;
}

void ConvertAllTables(Conversion& c, const std::string& sourceDatabase,
                      const std::string& targetDatabase) {
  Frontend& ui = c.ws.frontend();
  WriteOutput(ui, "Convert Tables of database [%s]", sourceDatabase.c_str());
  std::vector<oledb::TableRecord> tables;
  std::string error;
  if (!ListTables(c.source, "TABLE", tables, error)) {
    WriteOutputText(ui, "E::Open tables Error: " + error);
    // Nothing is known to have arrived.
    c.whole = false;
    CheckSideConnection(c.ws, DataSourceSide::Source);
    return;
  }
  std::size_t last = tables.size();
  for (std::size_t i = 0; i < tables.size(); ++i)
    if (tables[i].tableType != "VIEW") last = i;
  for (std::size_t i = 0; i < tables.size(); ++i) {
    if (tables[i].tableType == "VIEW") continue;
    const bool wholeBefore = c.whole;
    c.whole = true;
    // The last table's rows are saved with the header formatting; each
    // other table's when it arrived, so a later one cannot take it along.
    c.saveWithHeads = i == last;
    ConvertOneTable(c, sourceDatabase, tables[i].tableName);
    const bool tableWhole = c.whole;
    c.whole = wholeBefore && tableWhole;
    // A table that did not arrive may have lost the source with it: the
    // other tables would only fail the same way.
    if (!tableWhole && !CheckSideConnection(c.ws, DataSourceSide::Source)) {
      WriteOutputText(ui, "E::Tables Converting stopped: the source connection is lost!");
      break;
    }
    if (Stopping(c.ws)) {
      WriteOutputText(ui, "Tables Converting Terminaled!");
      c.stopped = true;
      for (std::size_t j = i + 1; j < tables.size(); ++j) {
        if (tables[j].tableType != "VIEW") c.notReached.push_back(tables[j].tableName);
      }
      if (!c.notReached.empty()) c.whole = false;
      break;
    }
  }
  // The tables made here, and no sheet of the person's.
  if (!ExcelAdapter::FormatTableHeads(c.ws, targetDatabase, c.newWorkbook ? nullptr : &c.made,
                                      c.options.filters))
    c.whole = false;
  SaveHeldRows(c);
}

void SaveHeldRows(Conversion& c) {
  if (c.unsaved.empty()) return;
  Frontend& ui = c.ws.frontend();
  if (!oledb::FlushSession(ui, &c.ws.target.session, 1)) {
    WriteOutput(ui, "E::The records of %s cannot be saved in the workbook: they did not arrive",
                NameList(c.unsaved).c_str());
    c.whole = false;
    for (const std::string& table : c.unsaved)
      c.arrived.erase(std::remove(c.arrived.begin(), c.arrived.end(), table), c.arrived.end());
  }
  c.unsaved.clear();
}

namespace {

constexpr const char* kReplaceTablesOption = "--replace-tables (\"Overwrite the same-name table\")";
constexpr const char* kReplaceWorkbookOption =
    "--replace-workbook (\"Overwrite the same-name database\")";
constexpr const char* kSplitSheetsOption =
    "--split-sheets (\"Continue long tables on new sheets\")";

// Whether the target holds a table of that name (a sheet filled by hand,
// which is no table, is found by the CREATE TABLE that it refuses).
bool TargetHasTable(oledb::SessionRef target, const std::string& name) {
  const oledb::TextReadResult read =
      oledb::ReadTextRows(target, "select * from " + oledb::QuoteIdentifier(name),
                          [](const oledb::TextRow&) { return false; });
  return read.outcome == oledb::TextReadOutcome::Rows;
}

enum class Created { Made, Exists, Failed };

// Runs a CREATE TABLE on the target. A failure is said in orange, as the
// statement's own line; a name the target already has is left to the
// caller to say.
Created CreateOnTarget(Frontend& ui, oledb::SessionRef target, const std::string& ddl) {
  const auto s = oledb::Resolve(target);
  if (!s) {
    WriteOutputText(ui, "E::No Connection!");
    return Created::Failed;
  }
  const oledb::CommandRun run = oledb::RunCommand(*s, ddl, oledb::StandardRowsetProperties());
  if (run.hr == hr::DB_E_DUPLICATETABLEID) return Created::Exists;
  if (hr::Failed(run.hr)) {
    WriteOutputText(ui, "T::" + run.ErrorText());
    return Created::Failed;
  }
  if (!run.rowset) WriteOutputText(ui, oledb::kResultSuccess);
  return Created::Made;
}

// The definition with another table's name: CREATE TABLE and the name
// replaced, the column list kept.
std::string DefinitionNamed(const std::string& ddl, const std::string& name) {
  const auto open = ddl.find('(');
  return "create table " + oledb::QuoteIdentifier(name) + " " +
         (open == std::string::npos ? std::string("()") : ddl.substr(open));
}

// "name (n)", the name cut so that the whole fits a sheet's name.
std::string ContinuationName(const std::string& name, int n) {
  const std::string suffix = " (" + std::to_string(n) + ")";
  return std::string(CutUtf16(name, xls::kMaxSheetNameLength - suffix.size())) + suffix;
}

// A transaction on the target for a table that replaces another: nothing of
// it is saved until Commit, and it is undone when it goes uncommitted.
class Replacement {
 public:
  Replacement(Frontend& ui, oledb::SessionRef target) : ui_(ui), session_(oledb::Resolve(target)) {}
  ~Replacement() {
    if (open_) session_->Abort();
  }
  bool Start(const std::string& database, const std::string& table) {
    if (session_ && hr::Succeeded(session_->StartTransaction())) {
      open_ = true;
      return true;
    }
    WriteOutput(ui_, "E::TABLE: [%s].[%s] cannot be replaced: %s", database.c_str(), table.c_str(),
                session_ ? oledb::ErrorDescription(session_.get(), oledb::Iid::ITransaction).c_str()
                         : oledb::kNoConnection);
    return false;
  }
  bool Commit(std::string& error) {
    open_ = false;
    if (hr::Succeeded(session_->Commit())) return true;
    error = oledb::ErrorDescription(session_.get(), oledb::Iid::ITransaction);
    return false;
  }
  void Abort() {
    if (open_) session_->Abort();
    open_ = false;
  }

 private:
  Frontend& ui_;
  std::shared_ptr<oledb::Session> session_;
  bool open_ = false;
};

}  // namespace

int ConvertOneTable(Conversion& c, const std::string& database, const std::string& table) {
  Workspace& ws = c.ws;
  Frontend& ui = ws.frontend();
  const MigrationOptions& o = c.options;
  oledb::SessionRef target = &ws.target.session;
  // 1.
  File file = OpenScratch(c, table);
  if (!file) {
    WriteOutputText(ui, kCharsetHint);
    c.whole = false;
    return -2;
  }
  // 2.
  WriteOutput(ui, "TABLE: [%s].[%s] Migrating..... ", database.c_str(), table.c_str());
  const SafeName safe = MakeSafeFileName(table);
  if (safe.changed) {
    WriteOutput(ui, "T::TABLE: [%s] its scratch files are named %s", table.c_str(),
                safe.name.c_str());
  }
  // 3, 4. Typed cells take the column types from the source's columns;
  // otherwise the definition is rewritten. What is not a definition is the
  // source's word why there is none (the table is missing, say): it is said
  // as it is, never run.
  std::vector<TypedColumn> typed;
  std::string ddl;
  if (o.typed) {
    typed = MySqlAdapter::GetTypedColumns(c.source, table);
    if (!typed.empty()) {
      ddl = TypedCreateTable(table, typed);
    } else {
      WriteOutput(ui, "T::TABLE: [%s].[%s] its column types cannot be read: its values go as text",
                  database.c_str(), table.c_str());
    }
  }
  if (ddl.empty()) ddl = MySqlAdapter::GetTableDdl(ui, c.source, database, table);
  const bool definition = CreatedTableName(ddl).has_value();
  std::string made = CreatedTableName(ddl).value_or(ToLowerAscii(table));

  // A table the workbook already has stays as it is without leave; with it,
  // it is replaced in one transaction, so the old rows stay until the new
  // table is whole and saved.
  auto leaveAlone = [&] {
    WriteOutput(ui,
                "T::TABLE: [%s].[%s] exists in the workbook as [%s] and is left as it is: %s "
                "replaces it",
                database.c_str(), table.c_str(), made.c_str(), kReplaceTablesOption);
    c.leftAlone.push_back(table);
    c.whole = false;
    file.reset();
    std::remove(c.directory.File(table).path.c_str());
    return -1;
  };
  const bool exists = TargetHasTable(target, made);
  if (exists && !o.replaceTables) return leaveAlone();
  Replacement replacement(ui, target);
  if (o.replaceTables && !replacement.Start(database, table)) {
    c.whole = false;
    return -1;
  }
  if (exists &&
      !oledb::ExecuteStatement(ui, target, "DROP TABLE " + oledb::QuoteIdentifier(made), 1)) {
    WriteOutput(ui, "E::TABLE: [%s].[%s] the table [%s] in the workbook cannot be replaced",
                database.c_str(), table.c_str(), made.c_str());
    c.whole = false;
    return -1;
  }
  Created created = Created::Failed;
  if (definition) {
    std::fputs(ddl.c_str(), file.get());
    file.reset();
    created = CreateOnTarget(ui, target, ddl);
  }
  file.reset();

  // 5. When the target does not take the rewritten definition, the table is
  // made from its column list instead: every table the server shows arrives.
  // Never over a name the workbook already has.
  if (created == Created::Failed && typed.empty()) {
    const std::string given = ddl;
    ddl = MySqlAdapter::GetColumnsDdl(c.source, table);
    if (!ddl.empty()) {
      made = CreatedTableName(ddl).value_or(made);
      if (definition) {
        WriteOutput(ui,
                    "T::TABLE: [%s].[%s] is made from its column list instead, every column as "
                    "text",
                    database.c_str(), table.c_str());
      } else {
        WriteOutput(ui,
                    "T::TABLE: [%s].[%s] the source gave no definition (%s): it is made from "
                    "its column list, every column as text",
                    database.c_str(), table.c_str(), given.c_str());
      }
      if (File again = OpenScratch(c, table)) std::fputs(ddl.c_str(), again.get());
      created = CreateOnTarget(ui, target, ddl);
    } else if (!definition) {
      WriteOutput(ui, "E::TABLE: [%s].[%s] cannot be read from the source: %s", database.c_str(),
                  table.c_str(), given.c_str());
    }
  }
  // A sheet of that name that holds cells of its own (filled by hand) is no
  // table to replace.
  if (created == Created::Exists) {
    if (!o.replaceTables) return leaveAlone();
    WriteOutput(ui,
                "E::TABLE: [%s].[%s] the sheet [%s] holds cells outside any table: it is not "
                "replaced",
                database.c_str(), table.c_str(), made.c_str());
    c.whole = false;
    return -1;
  }
  // 6.
  if (created != Created::Made) {
    WriteOutput(ui, "E::TABLE: Create [%s].[%s] ERROR !", database.c_str(), table.c_str());
    if (TargetHasTable(ws, table)) {
      WriteOutput(ui,
                  "T::TABLE: [%s] is in the workbook already; to migrate it again, drop it in "
                  "the target tree first (Table > Drop Table)",
                  table.c_str());
    }
    c.whole = false;
    return -1;
  }
  WriteOutput(ui, "Create table [%s] SUCCESSFULLY!!!", table.c_str());
  SayNameChanges(ui, table, ddl);
  c.made.push_back(table);
  TransferOptions options;
  options.scratchFile = c.directory.File(table + ".data").path;
  // The rows of a sheet of the target's format, under the header row.
  const xls::FileFormat format = xls::FormatOfFile(ws.target.Settings().sourceName);
  options.maxRows = xls::LimitsOf(format).rows - 1;
  if (format == xls::FileFormat::kXlsx) {
    options.rowsHolder = "a sheet of an .xlsx workbook";
  } else {
    options.rowsHolder = "a sheet of an .xls workbook";
    options.cutHint = Format(
        "; an .xlsx workbook holds %u rows a sheet: migrate into one (FILE.xlsx) to keep the table "
        "whole",
        xls::kXlsxLimits.rows - 1);
  }
  options.maxValueUnits = kExcelCellUnits;
  options.flush = !o.replaceTables && !c.saveWithHeads;
  if (!options.flush && !o.replaceTables) c.unsaved.push_back(table);
  if (!typed.empty()) options.typed = &typed;
  int number = 1;  // of the last table the rows went into
  if (o.splitSheets) {
    // The rows go on in "T (2)", "T (3)", ...: the next number whose name is
    // free (with leave to replace, the next number, replaced).
    options.nextTable = [&]() -> std::optional<std::string> {
      for (int tries = 0; tries < 1000; ++tries) {
        const std::string name = ContinuationName(made, ++number);
        const std::string again = DefinitionNamed(ddl, name);
        if (o.replaceTables && TargetHasTable(target, name) &&
            !oledb::ExecuteStatement(ui, target, "DROP TABLE " + oledb::QuoteIdentifier(name), 1))
          return std::nullopt;
        switch (CreateOnTarget(ui, target, again)) {
          case Created::Made:
            return name;
          case Created::Exists:
            continue;
          case Created::Failed:
            return std::nullopt;
        }
      }
      return std::nullopt;
    };
  } else {
    options.whenFull = std::string("; ") + kSplitSheetsOption + " puts them on further sheets";
  }
  if (c.task && ui.ShowsRowProgress())
    options.onProgress = [task = c.task](const RowProgress& p) { task->SetRowProgress(p); };
  const TransferResult rows =
      MySqlAdapter::TransferTableRows(ws, c.source, target, database, table, options);
  if (rows.cutValues > 0) c.cut.emplace_back(table, rows.cutValues);
  std::vector<std::string> madeTables{made};
  madeTables.insert(madeTables.end(), rows.continued.begin(), rows.continued.end());
  c.made.insert(c.made.end(), rows.continued.begin(), rows.continued.end());

  if (o.replaceTables) {
    // The tables an earlier migration continued the table in beyond the new
    // last one go with the table they continued.
    std::vector<std::string> stale;
    for (int next = number + 1; rows.allRows && next <= number + 1000; ++next) {
      const std::string name = ContinuationName(made, next);
      if (!TargetHasTable(target, name) ||
          !oledb::ExecuteStatement(ui, target, "DROP TABLE " + oledb::QuoteIdentifier(name), 1))
        break;
      stale.push_back(name);
    }
    if (!stale.empty()) {
      WriteOutput(ui,
                  "T::TABLE: [%s].[%s] the tables an earlier migration continued it in are "
                  "removed with it: %s",
                  database.c_str(), table.c_str(), NameList(stale).c_str());
    }
    // Saved only when every row arrived; otherwise the workbook stays as it
    // was before the table was taken on.
    std::string error;
    if (rows.allRows && replacement.Commit(error)) {
      if (rows.whole) {
        c.arrived.push_back(table);
        std::remove(c.directory.File(table).path.c_str());
        std::remove(options.scratchFile.c_str());
      } else {
        c.whole = false;
      }
      if (exists)
        WriteOutput(ui, "T::TABLE: [%s].[%s] replaced the table [%s] in the workbook",
                    database.c_str(), table.c_str(), made.c_str());
      return 1;
    }
    replacement.Abort();
    // The workbook keeps what it had: none of these tables is this step's.
    c.made.resize(c.made.size() - madeTables.size());
    c.whole = false;
    if (rows.stopped) c.stopped = true;
    const char* kept = exists ? ", the workbook keeps its table as it was" : "";
    if (!error.empty()) {
      WriteOutput(ui, "E::TABLE: [%s].[%s] could not be saved (%s)%s", database.c_str(),
                  table.c_str(), error.c_str(), kept);
    } else {
      WriteOutput(ui, "E::TABLE: [%s].[%s] %s after %lld records: nothing of it is saved%s",
                  database.c_str(), table.c_str(),
                  rows.stopped ? "was stopped" : "did not arrive whole",
                  static_cast<long long>(rows.arrived), kept);
    }
    (rows.stopped ? c.untouched : c.failedWhole).push_back(table);
    return 1;
  }

  if (rows.whole) {
    c.arrived.push_back(table);
    std::remove(c.directory.File(table).path.c_str());
    std::remove(options.scratchFile.c_str());
    return 1;
  }
  c.whole = false;
  if (rows.stopped) {
    // Made by this step and cut by the stop: it goes again, so a partial
    // table never passes for the table and the same migration can run again.
    c.stopped = true;
    bool dropped = true;
    for (const std::string& name : madeTables) {
      dropped =
          oledb::ExecuteStatement(ui, target, "DROP TABLE " + oledb::QuoteIdentifier(name), 1) &&
          dropped;
    }
    if (dropped) {
      WriteOutput(ui,
                  "E::TABLE: [%s].[%s] was stopped after %lld records: the unfinished table is "
                  "removed, so that it can be migrated again",
                  database.c_str(), table.c_str(), static_cast<long long>(rows.arrived));
      c.removed.push_back(table);
    } else {
      WriteOutput(ui,
                  "E::TABLE: [%s].[%s] was stopped after %lld records and the unfinished table "
                  "could not be removed: drop it before migrating it again",
                  database.c_str(), table.c_str(), static_cast<long long>(rows.arrived));
    }
  }
  return 1;
}

bool FinishConversion(const Conversion& c) {
  Frontend& ui = c.ws.frontend();
  if (!c.cut.empty()) {
    std::string where;
    for (const auto& [table, count] : c.cut)
      where += Format("%s%lld in [%s]", where.empty() ? "" : ", ", static_cast<long long>(count),
                      table.c_str());
    WriteOutput(ui,
                "E::Not every value arrived whole: values longer than a cell holds were cut to "
                "its %zu characters (%s)",
                kExcelCellUnits, where.c_str());
  }
  if (!c.leftAlone.empty()) {
    WriteOutput(ui, "E::Tables the workbook already has, left as they are (%s replaces them): %s",
                kReplaceTablesOption, NameList(c.leftAlone).c_str());
  }
  if (c.stopped) {
    WriteOutput(ui,
                "E::The migration was stopped. Arrived whole: %s. Stopped half-way and removed: "
                "%s. Not reached: %s",
                NameList(c.arrived).c_str(), NameList(c.removed).c_str(),
                NameList(c.notReached).c_str());
    if (!c.untouched.empty()) {
      WriteOutput(ui, "E::Stopped half-way and left in the workbook as they were: %s",
                  NameList(c.untouched).c_str());
    }
  }
  WriteOutput(ui, "Migration options in force: %s", MigrationOptionsText(c.options).c_str());
  return c.whole;
}

void ConvertAllViews(Conversion& c, const std::string& sourceDatabase) {
  Frontend& ui = c.ws.frontend();
  WriteOutput(ui, "Convert Views of database [%s]", sourceDatabase.c_str());
  std::vector<oledb::TableRecord> views;
  std::string error;
  if (!ListTables(c.source, "VIEW", views, error)) {
    WriteOutputText(ui, "Open views Error: " + error);
    return;
  }
  for (const auto& v : views) {
    if (v.tableType == "VIEW" && v.tableSchema != "sys" && v.tableSchema != "INFORMATION_SCHEMA") {
      ConvertOneView(c, sourceDatabase, v.tableName);
    }
    if (Stopping(c.ws)) {
      WriteOutputText(ui, "Views Converting Terminaled!");
      break;
    }
  }
}

bool ConvertOneView(Conversion& c, const std::string& database, const std::string& view) {
  Frontend& ui = c.ws.frontend();
  File file = OpenScratch(c, view + ".vw");
  if (!file) {
    WriteOutputText(ui, kCharsetHint);
    return false;
  }
  WriteOutput(ui, "VIEW: [%s].[%s] Converting..... ", database.c_str(), view.c_str());
  const std::string ddl = MySqlAdapter::GetViewDdl(ui, c.source, database, view);
  if (ddl.find("NO SUPPORT!") != std::string::npos) {
    WriteOutputText(ui, "T::" + ddl);
    return true;
  }
  if (ddl.empty()) {
    WriteOutputText(ui, "No View(s)!");
    return true;
  }
  std::fputs(ddl.c_str(), file.get());
  file.reset();
  if (!oledb::ExecuteStatement(ui, &c.ws.target.session, ddl, 0)) {
    WriteOutput(ui, "Create VIEW [%s] failure!!!", view.c_str());
    return false;
  }
  WriteOutput(ui, "Create VIEW [%s] SUCCESSFULLY!!!", view.c_str());
  return true;
}

// ---------------------------------------------------------------------------
// Task functions

namespace {

constexpr const char* kThreadModule = "Converters/Thread";

// The source database could not be made current: said in red with the
// provider's words, and the source connection is asked whether it still
// works (the server may have gone away since it was opened).
void SourceNotSelected(Workspace& ws, int line, const std::string& database,
                       const std::string& error) {
  const std::string where = line > 0 ? Format("[%s](%d)", kThreadModule, line) : std::string();
  WriteOutput(ws.frontend(), "E::%sSelect Source Database[%s] Error! %s", where.c_str(),
              database.c_str(), error.c_str());
  CheckSideConnection(ws, DataSourceSide::Source);
}

// The conversion state of a task: its data cache and the source session.
std::optional<Conversion> StartConversion(TaskContext& ctx) {
  auto dir = DataCacheDirectory(ctx.ws);
  if (!dir) {
    WriteOutput(ctx.ws.frontend(), "E::The data cache directory cannot be made: %s",
                dir.message().c_str());
    return std::nullopt;
  }
  Conversion c{ctx.ws, ctx.sourceSession, std::move(*dir), true, &ctx, {}};
  c.options = ctx.options;
  return c;
}

// The workbook a task is about to change, copied aside first when Auto
// Backup is on.
bool BackUpTarget(Workspace& ws) {
  return AutoBackupWorkbook(ws, ws.target.Settings().sourceName);
}

}  // namespace

namespace {

// The tables and views of the source database into the workbook `workbook`,
// made for them, on which the target side is opened (and its tree read again
// when `refresh`). True when all arrived.
bool CloneInto(TaskContext& ctx, const std::string& workbook, bool refresh) {
  Workspace& ws = ctx.ws;
  ReopenDatabase(ws, workbook, 1);
  std::string error;
  if (!UseDatabase(ws, ctx.sourceDatabase, 0, &error)) {
    SourceNotSelected(ws, __LINE__, ctx.sourceDatabase, error);
    return false;
  }
  auto c = StartConversion(ctx);
  if (!c) return false;
  c->newWorkbook = true;
  ConvertAllTables(*c, ctx.sourceDatabase, ctx.targetDatabase);
  ctx.SetProgress(50);
  ConvertAllViews(*c, ctx.sourceDatabase);
  ctx.SetProgress(100);
  if (refresh) RefreshTree(ws, DataSourceSide::Target, 0);
  return FinishConversion(*c);
}

}  // namespace

bool CloneDatabaseTask(TaskContext& ctx) {
  Workspace& ws = ctx.ws;
  Frontend& ui = ws.frontend();
  const std::string path = ExcelAdapter::DatabaseFile(ws, ctx.targetDatabase);
  const bool exists = !EntryNamedLike(path).empty();
  if (exists && ctx.options.replaceWorkbook) {
    // The clone is made beside the workbook and takes its place only when
    // every table arrived: never a half-replaced workbook.
    WriteOutput(ui, "Replace Target Database[%s] with a clone of [%s]", path.c_str(),
                ctx.sourceDatabase.c_str());
    const bool replaced = ExcelAdapter::ReplaceDatabase(
        ws, ctx.targetDatabase,
        [&](const std::string& fresh) { return CloneInto(ctx, fresh, false); });
    ReopenDatabase(ws, path, 1);
    RefreshTree(ws, DataSourceSide::Target, 0);
    return replaced;
  }
  if (!ExcelAdapter::CreateDatabase(ws, ctx.targetDatabase, 1)) {
    WriteOutput(ui, "Create Target Database[%s] Error!", ctx.targetDatabase.c_str());
    if (exists) {
      WriteOutput(ui, "T::The workbook [%s] exists and is left as it is: %s replaces it",
                  path.c_str(), kReplaceWorkbookOption);
    }
    return false;
  }
  return CloneInto(ctx, ctx.targetDatabase, true);
}

bool MigrateDatabaseTask(TaskContext& ctx) {
  Workspace& ws = ctx.ws;
  ReopenDatabase(ws, ctx.targetDatabase, 1);
  if (!BackUpTarget(ws)) return false;
  std::string error;
  if (!UseDatabase(ws, ctx.sourceDatabase, 0, &error)) {
    SourceNotSelected(ws, 0, ctx.sourceDatabase, error);
    return false;
  }
  auto c = StartConversion(ctx);
  if (!c) return false;
  ConvertAllTables(*c, ctx.sourceDatabase, ctx.targetDatabase);
  ctx.SetProgress(50);
  RefreshTree(ws, DataSourceSide::Target, 0);
  ctx.SetProgress(100);
  return FinishConversion(*c);
}

bool MigrateTablesTask(TaskContext& ctx) {
  Workspace& ws = ctx.ws;
  ReopenDatabase(ws, ctx.targetDatabase, 1);
  if (!BackUpTarget(ws)) return false;
  ws.source.tree.SetCurrentDatabase(ctx.sourceDatabase);
  std::string error;
  if (!ExecuteReporting(ws.frontend(), ctx.sourceSession, UseStatement(ctx.sourceDatabase),
                        &error)) {
    SourceNotSelected(ws, __LINE__, ctx.sourceDatabase, error);
    return false;
  }
  auto c = StartConversion(ctx);
  if (!c) return false;
  ConvertAllTables(*c, ctx.sourceDatabase, ctx.targetDatabase);
  ctx.SetProgress(90);
  RefreshTree(ws, DataSourceSide::Target, 0);
  ctx.SetProgress(100);
  return FinishConversion(*c);
}

bool MigrateTableTask(TaskContext& ctx) {
  Workspace& ws = ctx.ws;
  ReopenDatabase(ws, ctx.targetDatabase, 1);
  if (!BackUpTarget(ws)) return false;
  std::string error;
  if (!UseDatabase(ws, ctx.sourceDatabase, 0, &error)) {
    SourceNotSelected(ws, __LINE__, ctx.sourceDatabase, error);
    return false;
  }
  auto c = StartConversion(ctx);
  if (!c) return false;
  c->saveWithHeads = true;
  ConvertOneTable(*c, ctx.sourceDatabase, ctx.sourceObject);
  ctx.SetProgress(90);
  if (!ExcelAdapter::FormatTableHeads(ws, ctx.targetDatabase, &c->made, c->options.filters))
    c->whole = false;
  SaveHeldRows(*c);
  RefreshTree(ws, DataSourceSide::Target, 0);
  ctx.SetProgress(100);
  return FinishConversion(*c);
}

// Views cannot be migrated into a workbook.
bool MigrateViewsTask(TaskContext& ctx) {
  WriteOutputText(ctx.ws.frontend(), "Excel Datafiles have no Views to convert !!!");
  return false;
}

}  // namespace migrator
