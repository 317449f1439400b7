#include "workflows/backup.h"

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <vector>

#include "adapters/excel/excel_adapter.h"
#include "app/output.h"
#include "browser/refresh_tree.h"
#include "oledb/operations.h"
#include "oledb/schema_reader.h"
#include "oledb/text.h"
#include "platform/text.h"
#include "support/error_text.h"
#include "support/regexp_service.h"
#include "workflows/connect.h"

namespace migrator {
namespace {

constexpr const char* kChooseTitle = "Please choise your backup directory:";
// The longest extension a backup file gets (".data").
constexpr std::size_t kLongestExtension = 5;
constexpr std::size_t kNameMax = 255;

// A file or directory of the backup that could not be written: red, with
// the path and the system's reason.
void CannotWrite(Frontend& ui, const std::string& path, int code) {
  WriteOutput(ui, "E::Cannot write [%s]: %s", path.c_str(), SystemErrorMessage(code).c_str());
}

// A directory step; false (reported) when the directory cannot be made.
bool StepInto(Frontend& ui, WorkingDirectory& dir, const std::string& name) {
  auto step = dir.Step(name);
  if (step) return true;
  WriteOutput(ui, "E::Cannot make the directory [%s]: %s", name.c_str(), step.message().c_str());
  return false;
}

// Writes a whole text to a new file; false (reported) when it cannot.
bool WriteWholeFile(Frontend& ui, const std::string& path, const std::string& text) {
  std::FILE* file = std::fopen(path.c_str(), "w+");
  if (!file) {
    CannotWrite(ui, path, errno);
    return false;
  }
  std::fwrite(text.data(), 1, text.size(), file);
  const bool written = !std::ferror(file);
  const int closeError = std::fclose(file) == 0 ? 0 : errno;
  if (!written || closeError != 0) {
    CannotWrite(ui, path, closeError != 0 ? closeError : EIO);
    return false;
  }
  return true;
}

// The last path component of a database name, without a drive prefix.
std::string DatabaseDirectoryName(const std::string& database) {
  std::string name = RegExpService::Replace(database, "[a-zA-Z]:[\\\\|/]", "");
  if (const auto cut = name.find_last_of('\\'); cut != std::string::npos) name.erase(0, cut + 1);
  if (const auto cut = name.find_last_of('/'); cut != std::string::npos) name.erase(0, cut + 1);
  return name;
}

// The backup root and the database's directory in it.
std::optional<WorkingDirectory> EnterDatabaseDirectory(Workspace& ws, const std::string& database) {
  Frontend& ui = ws.frontend();
  auto root = EnterBackupRoot(ws);
  if (!root) {
    WriteOutput(ui, "E::Cannot use the backup directory: %s", root.message().c_str());
    return std::nullopt;
  }
  WorkingDirectory dir = *root;
  const std::string name = DatabaseDirectoryName(database);
  auto step = dir.Step(name);
  if (!step) {
    WriteOutput(ui, "E::Cannot make the directory [%s]: %s", name.c_str(), step.message().c_str());
    return std::nullopt;
  }
  if (step->changed) {
    WriteOutput(ui, "T::Database [%s] is backed up in the directory [%s]", database.c_str(),
                step->name.c_str());
  }
  return dir;
}

// The names of a database's tables or views, as the provider lists them.
struct Listing {
  bool ok = false;
  std::string error;
  std::vector<std::string> names;
};

Listing ListObjects(oledb::SessionRef session, bool views) {
  Listing out;
  oledb::TablesReader reader;
  const HRESULT h = reader.Open(
      session, oledb::Restrictions().Set(oledb::restriction::kTableType, views ? "VIEW" : "TABLE"));
  if (hr::Failed(h)) {
    out.error = reader.ErrorText();
    return out;
  }
  while (reader.MoveNext() == hr::S_OK) {
    const oledb::TableRecord& r = reader.record();
    if (views) {
      if (r.tableType != "VIEW" || EqualNoCase(r.tableSchema, "sys") ||
          EqualNoCase(r.tableSchema, "INFORMATION_SCHEMA")) {
        continue;
      }
    } else if (r.tableType == "VIEW") {
      continue;
    }
    out.names.push_back(r.tableName);
  }
  out.ok = true;
  return out;
}

// The database of a node: its own text, its folder's parent or its
// grandparent. A node without them in the tree belongs to the target's
// current database (for a workbook its path without ".xls", as the tree
// shows it).
std::string DatabaseOfNode(const Workspace& ws, const TreeNode& node, int levels) {
  if (levels == 0) return node.text;
  if (auto above = ws.target.tree.Ancestor(node.parent, levels - 1)) return above->text;
  if (std::string catalog = ws.target.Settings().catalogName; !catalog.empty()) return catalog;
  return ws.target.tree.CurrentDatabase();
}

// The tables or the views of a database, one after the other; a stop ends
// the loop after the current object. A table listing that cannot be opened is
// shown in a message box, a view listing in the output pane.
bool BackupObjectsOfDatabase(Workspace& ws, oledb::SessionRef session, const std::string& database,
                             bool views) {
  Frontend& ui = ws.frontend();
  WriteOutput(ui, "Backup %s of database [%s]", views ? "Views" : "Tables", database.c_str());
  if (!oledb::Resolve(session)) {
    WriteOutput(ui, "E::%s", oledb::kNoConnection);
    return false;
  }
  const auto dir = EnterDatabaseDirectory(ws, database);
  if (!dir) return false;
  const Listing listing = ListObjects(session, views);
  if (!listing.ok) {
    if (views) {
      WriteOutputText(ui, "Open views Error: " + listing.error);
    } else {
      ui.Tell("Open tables Error: " + listing.error);
    }
    return false;
  }
  BackupFileNames names(ui);
  bool all = true;
  for (std::size_t i = 0; i < listing.names.size(); ++i) {
    const std::string& name = listing.names[i];
    const int written = views ? BackupOneView(ws, session, database, name, *dir, &names)
                              : BackupOneTable(ws, session, database, name, *dir, &names);
    all = written == 1 && all;
    if (ws.State() == ControllerState::Stopping) {
      WriteOutputText(ui, views ? "Views Backup Terminaled!" : "Tables Backup Terminaled!");
      if (i + 1 < listing.names.size()) all = false;
      break;
    }
  }
  return all;
}

}  // namespace

std::string BackupFileNames::Claim(const std::string& name) {
  SafeName safe = MakeSafeFileName(name);
  std::string& stem = safe.name;
  // Room for the extension, never cutting a UTF-8 character.
  if (stem.size() > kNameMax - kLongestExtension) {
    std::size_t cut = kNameMax - kLongestExtension;
    while (cut > 0 && (static_cast<unsigned char>(stem[cut]) & 0xC0) == 0x80)
      --cut;
    stem.resize(cut);
  }
  if (!stem.empty() && stem.back() == '.') stem.back() = '_';
  std::string claimed = stem;
  for (int n = 2; taken_.count(claimed) != 0; ++n)
    claimed = stem + "~" + std::to_string(n);
  taken_.insert(claimed);
  if (claimed != name) {
    WriteOutput(ui_, "T::[%s] is backed up in files named [%s]", name.c_str(), claimed.c_str());
  }
  return claimed;
}

Result<WorkingDirectory> EnterBackupRoot(const Workspace& ws) {
  const BackupSettings backup = ws.Backup();
  if (backup.chosen) return WorkingDirectory::Enter(backup.path);
  WorkingDirectory dir(ws.programDir());
  auto step = dir.Step(kBackupDirectoryName);
  if (!step) return step.error();
  return dir;
}

Task MakeBackupTask(const Workspace& ws, int typeCode, std::string database, std::string object,
                    std::string mode) {
  Task t;
  t.kind = kBackupTask;
  t.typeCode = typeCode;
  t.stateText = "Waiting";
  t.startStamp = static_cast<std::int32_t>(std::time(nullptr));
  t.targetDbms = ws.target.DbmsTitle();
  t.targetDatabase = std::move(database);
  t.targetObject = std::move(object);
  t.mode = std::move(mode);
  return t;
}

std::optional<Task> BackupTaskForNode(const Workspace& ws, const TreeNode& node) {
  switch (node.kind) {
    case NodeKind::Database:
      return MakeBackupTask(ws, kBackupDatabase, DatabaseOfNode(ws, node, 0), {}, "A");
    case NodeKind::TablesFolder:
      return MakeBackupTask(ws, kBackupDatabase, DatabaseOfNode(ws, node, 1), {}, "T");
    case NodeKind::ViewsFolder:
      return MakeBackupTask(ws, kBackupDatabase, DatabaseOfNode(ws, node, 1), {}, "V");
    case NodeKind::Table:
      return MakeBackupTask(ws, kBackupObject, DatabaseOfNode(ws, node, 2), node.text, "T");
    case NodeKind::View:
      return MakeBackupTask(ws, kBackupObject, DatabaseOfNode(ws, node, 2), node.text, "V");
    default:
      return std::nullopt;
  }
}

bool ChooseBackupDirectory(Workspace& ws) {
  Frontend& ui = ws.frontend();
  // The chooser starts in the program's backup directory (made current by
  // the command), not wherever the process happens to be.
  const auto chosen = ui.ChooseFolder(kChooseTitle, ws.CurrentDirectory().path());
  if (!chosen || chosen->empty()) return false;
  std::string path = WorkingDirectory(*chosen).path();
  // The root of the file system gets a directory of its own.
  if (path == "/") path += kRootBackupDirectoryName;
  auto dir = WorkingDirectory::Enter(path);
  if (!dir) {
    WriteOutput(ui, "E::Cannot use [%s] as the backup directory: %s", path.c_str(),
                dir.message().c_str());
    return false;
  }
  ws.SetBackup(BackupSettings{true, dir->path()});
  ws.SetCurrentDirectory(*dir);
  return true;
}

std::optional<TaskId> BackupCommand(Workspace& ws) {
  return BackupCommand(ws, ws.target.tree.SelectedNode());
}

std::optional<TaskId> BackupCommand(Workspace& ws, const std::optional<TreeNode>& selected) {
  Frontend& ui = ws.frontend();
  // 1.
  if (!ws.target.Connected()) {
    ui.ShowHint("Please confirm your target Database connected SUCCESSFULLY!");
    ui.Tell("No Target DataSource Connection!");
    return std::nullopt;
  }
  // 2.
  WorkingDirectory dir(ws.programDir());
  if (!StepInto(ui, dir, kBackupDirectoryName)) return std::nullopt;
  ws.SetCurrentDirectory(dir);
  // 3 to 5.
  std::optional<TaskId> queued;
  if (selected) {
    if (!ChooseBackupDirectory(ws)) return std::nullopt;
    if (auto task = BackupTaskForNode(ws, *selected)) queued = ws.tasks.Append(std::move(*task));
  } else {
    ui.ShowHint("Please select a Object in Target Databases Tree to backup!");
    ui.SetCurrentTab(kTipsTab);
    ui.Tell("No selected Objects to backup!");
  }
  // 6.
  ws.controller().StartIfIdle();
  return queued;
}

bool BackupTablesOfDatabase(Workspace& ws, oledb::SessionRef session, const std::string& database) {
  return BackupObjectsOfDatabase(ws, session, database, false);
}

bool BackupViewsOfDatabase(Workspace& ws, oledb::SessionRef session, const std::string& database) {
  return BackupObjectsOfDatabase(ws, session, database, true);
}

int BackupOneTable(Workspace& ws, oledb::SessionRef session, const std::string& database,
                   const std::string& table, const WorkingDirectory& dir, BackupFileNames* names) {
  Frontend& ui = ws.frontend();
  // 1, 2. The structure file.
  WorkingDirectory tables = dir;
  if (!StepInto(ui, tables, "TABLES")) return -2;
  BackupFileNames own(ui);
  const std::string stem = (names ? *names : own).Claim(table);
  const std::string tblPath = tables.File(stem + ".tbl").path;
  // 3.
  const std::string structure = ExcelAdapter::BackupTableStructure(ws, session, table);
  if (!WriteWholeFile(ui, tblPath, structure)) return -2;
  int result = 1;
  if (structure.empty() || structure == "CREATE TABLE " + oledb::QuoteIdentifier(table) + "(\n)") {
    // No columns: the schema could not be read, or there is no such table.
    WriteOutput(ui, "E::The definition of table [%s] could not be read: [%s] holds no columns",
                table.c_str(), tblPath.c_str());
    result = -1;
  } else if (structure == oledb::kNoConnection) {
    result = -1;
  }
  // 4. The rows.
  WorkingDirectory data = dir;
  if (!StepInto(ui, data, "DATA")) return -2;
  const std::string rows =
      ExcelAdapter::BackupTableData(ws, session, database, table, data.path(), stem);
  // Anything else was reported by the data backup.
  if (rows != kDataBackupDone) result = -1;
  return result;
}

int BackupOneView(Workspace& ws, oledb::SessionRef session, const std::string& database,
                  const std::string& view, const WorkingDirectory& dir, BackupFileNames* names) {
  Frontend& ui = ws.frontend();
  // 1, 2.
  WorkingDirectory views = dir;
  if (!StepInto(ui, views, "VIEWS")) return -2;
  BackupFileNames own(ui);
  const std::string stem = (names ? *names : own).Claim(view);
  const std::string path = views.File(stem + ".vw").path;
  // 3, 4.
  WriteOutput(ui, "Bakcup View [%s].[%s]", database.c_str(), view.c_str());
  const std::string text = ToLowerAscii(ExcelAdapter::BackupView(ui, session, database, view));
  if (text.find("create view") != std::string::npos) WriteOutputText(ui, oledb::kResultSuccess);
  // 5. From " view " on; nothing when the text has none.
  std::string content;
  if (const auto at = text.find(" view "); at != std::string::npos) {
    content = "create" + text.substr(at) + "\n";
  }
  // 6.
  return WriteWholeFile(ui, path, content) ? 1 : -2;
}

bool BackupDatabaseTask(TaskContext& ctx) {
  Workspace& ws = ctx.ws;
  ReopenDatabase(ws, ctx.targetDatabase, static_cast<int>(DataSourceSide::Target));
  bool all = true;
  if (ctx.mode == "A" || ctx.mode == "T") {
    all = BackupTablesOfDatabase(ws, ctx.targetSession, ctx.targetDatabase) && all;
  }
  ctx.SetProgress(50);
  if (ctx.mode == "A" || ctx.mode == "V") {
    all = BackupViewsOfDatabase(ws, ctx.targetSession, ctx.targetDatabase) && all;
  }
  ctx.SetProgress(100);
  return all;
}

bool BackupObjectTask(TaskContext& ctx) {
  Workspace& ws = ctx.ws;
  ReopenDatabase(ws, ctx.targetDatabase, static_cast<int>(DataSourceSide::Target));
  const WorkingDirectory dir = ws.CurrentDirectory();
  int result = 0;
  if (ctx.mode == "T") {
    result = BackupOneTable(ws, ctx.targetSession, ctx.targetDatabase, ctx.targetObject, dir);
  } else if (ctx.mode == "V") {
    result = BackupOneView(ws, ctx.targetSession, ctx.targetDatabase, ctx.targetObject, dir);
  }
  ctx.SetProgress(80);
  RefreshTree(ws, DataSourceSide::Target, 0);
  ctx.SetProgress(100);
  return result == 1;
}

}  // namespace migrator
