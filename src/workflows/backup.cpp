#include "workflows/backup.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <random>
#include <vector>

#include "adapters/excel/excel_adapter.h"
#include "app/output.h"
#include "browser/refresh_tree.h"
#include "oledb/operations.h"
#include "oledb/schema_reader.h"
#include "oledb/text.h"
#include "platform/text.h"
#include "providers/workbook/workbook_provider.h"
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

// What an entry that is in the way is, for messages.
const char* KindOf(mode_t mode) {
  if (S_ISLNK(mode)) return "a symbolic link";
  if (S_ISREG(mode)) return "a file";
  if (S_ISDIR(mode)) return "a directory";
  return "a special file";
}

// A directory of the backup, entered: made when missing. Anything else of
// that name (a file, a symbolic link even to a directory) was not made by
// the backup and is left as it is; false (reported) then, and when the
// directory cannot be made.
bool EnterOwnDirectory(Frontend& ui, WorkingDirectory& dir, const std::string& name,
                       SafeName* used = nullptr) {
  const SafeName safe = MakeSafeFileName(name);
  const std::string path = dir.File(safe.name).path;
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) {
    int error = errno;
    if (error == ENOENT) {
      error = ::mkdir(path.c_str(), 0777) == 0 || errno == EEXIST ? 0 : errno;
      if (error == 0 && ::lstat(path.c_str(), &st) != 0) error = errno;
    }
    if (error != 0) {
      WriteOutput(ui, "E::Cannot make the directory [%s]: %s", path.c_str(),
                  SystemErrorMessage(error).c_str());
      return false;
    }
  }
  if (!S_ISDIR(st.st_mode)) {
    WriteOutput(ui,
                "E::[%s] is %s, not a directory of the backup: it is left as it is and nothing "
                "is written there",
                path.c_str(), KindOf(st.st_mode));
    return false;
  }
  dir = WorkingDirectory(path);
  if (used) *used = safe;
  return true;
}

// The part of a temporary file's name after "." + the file's name: ".~",
// the writer's process id, eight hexadecimal digits, ".tmp".
constexpr const char* kTempMark = ".~";
constexpr const char* kTempEnd = ".tmp";

// Removes the temporary files of `base` in `dir` that a backup left when its
// process ended before it finished (killed, or the machine stopped).
void RemoveStaleTemps(const std::string& dir, const std::string& base) {
  const std::string head = "." + base + kTempMark;
  const std::string tail = kTempEnd;
  DIR* d = ::opendir(dir.c_str());
  if (!d) return;
  while (const dirent* e = ::readdir(d)) {
    const std::string name = e->d_name;
    if (name.size() <= head.size() + 8 + tail.size() || name.compare(0, head.size(), head) != 0 ||
        name.compare(name.size() - tail.size(), tail.size(), tail) != 0) {
      continue;
    }
    const std::string digits =
        name.substr(head.size(), name.size() - head.size() - tail.size() - 8);
    if (digits.empty() || digits.find_first_not_of("0123456789") != std::string::npos) continue;
    const long pid = std::strtol(digits.c_str(), nullptr, 10);
    if (pid <= 0 || pid == ::getpid() || ::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH)
      continue;
    struct stat st {};
    if (::fstatat(::dirfd(d), e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode))
      ::unlinkat(::dirfd(d), e->d_name, 0);
  }
  ::closedir(d);
}

// Makes a file's contents durable (before it is moved into its place).
bool SyncFile(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return false;
  const bool synced = ::fdatasync(fd) == 0;
  ::close(fd);
  return synced;
}

void SyncDirectory(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  (void)::fsync(fd);
  ::close(fd);
}

std::string DirectoryOf(const std::string& path) {
  const auto slash = path.find_last_of('/');
  return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

// Writes a whole text to a new file; false (reported) when it cannot.
bool WriteWholeFile(Frontend& ui, const std::string& path, const std::string& text) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0666);
  std::FILE* file = fd < 0 ? nullptr : ::fdopen(fd, "w");
  if (!file) {
    const int error = errno;
    if (fd >= 0) ::close(fd);
    CannotWrite(ui, path, error);
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

// The database's directory in the backup root.
std::optional<WorkingDirectory> EnterDatabaseDirectory(Workspace& ws, WorkingDirectory root,
                                                       const std::string& database) {
  Frontend& ui = ws.frontend();
  SafeName used;
  if (!EnterOwnDirectory(ui, root, DatabaseDirectoryName(database), &used)) return std::nullopt;
  if (used.changed) {
    WriteOutput(ui, "T::Database [%s] is backed up in the directory [%s]", database.c_str(),
                used.name.c_str());
  }
  return root;
}

// The backup root of a step that is not given one.
std::optional<WorkingDirectory> DefaultRoot(Workspace& ws) {
  auto root = EnterBackupRoot(ws);
  if (!root) {
    WriteOutput(ws.frontend(), "E::Cannot use the backup directory: %s", root.message().c_str());
    return std::nullopt;
  }
  return *root;
}

// The sheet's name in a sheet entry ("S$", 'My sheet$').
std::string SheetOfEntry(std::string entry) {
  if (entry.size() >= 2 && entry.front() == '\'' && entry.back() == '\'') {
    std::string inner;
    for (std::size_t i = 1; i + 1 < entry.size(); ++i) {
      inner += entry[i];
      if (entry[i] == '\'' && i + 2 < entry.size() && entry[i + 1] == '\'') ++i;
    }
    entry = std::move(inner);
  }
  if (!entry.empty() && entry.back() == '$') entry.pop_back();
  return entry;
}

// Whether the target lists a table of this name.
bool TableListed(oledb::SessionRef session, const std::string& name) {
  oledb::TablesReader reader;
  if (hr::Failed(
          reader.Open(session, oledb::Restrictions().Set(oledb::restriction::kTableName, name)))) {
    return false;
  }
  return reader.MoveNext() == hr::S_OK;
}

// The table a sheet filled by hand is saved as, or nothing for any other
// table or sheet entry.
std::optional<std::string> HandMadeSheetTable(Workspace& ws, oledb::SessionRef session,
                                              const std::string& table, BackupStep& step) {
  if (!step.handMadeSheets) {
    const auto dataSource = ws.target.dataSource.Get();
    step.handMadeSheets =
        dataSource ? providers::workbook::SheetsOutsideTables(*dataSource) : std::nullopt;
    if (!step.handMadeSheets) step.handMadeSheets.emplace();
  }
  const auto& sheets = *step.handMadeSheets;
  if (std::find(sheets.begin(), sheets.end(), table) == sheets.end()) return std::nullopt;
  std::string name = SheetOfEntry(table);
  if (TableListed(session, name)) name += "_sheet";
  WriteOutput(ws.frontend(),
              "T::The sheet [%s] holds cells outside its tables: it is backed up "
              "whole, as the table [%s]",
              SheetOfEntry(table).c_str(), name.c_str());
  return name;
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
                             bool views, const std::optional<WorkingDirectory>& given) {
  Frontend& ui = ws.frontend();
  WriteOutput(ui, "Backup %s of database [%s]", views ? "Views" : "Tables", database.c_str());
  if (!oledb::Resolve(session)) {
    WriteOutput(ui, "E::%s", oledb::kNoConnection);
    return false;
  }
  const auto root = given ? given : DefaultRoot(ws);
  if (!root) return false;
  const auto dir = EnterDatabaseDirectory(ws, *root, database);
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
  BackupStep step(ui);
  std::vector<std::string> whole, notWhole;
  bool stopped = false;
  for (const std::string& name : listing.names) {
    if (stopped) {
      notWhole.push_back(name);
      continue;
    }
    const int written = views ? BackupOneView(ws, session, database, name, *dir, &step)
                              : BackupOneTable(ws, session, database, name, *dir, &step);
    (written == 1 ? whole : notWhole).push_back(name);
    if (ws.State() == ControllerState::Stopping) {
      WriteOutputText(ui, views ? "Views Backup Terminaled!" : "Tables Backup Terminaled!");
      stopped = true;
    }
  }
  if (!step.files.Commit()) notWhole.push_back("(files that could not be moved into place)");
  if (stopped) {
    WriteOutput(ui,
                "E::The backup was stopped. Written whole: %s. Not written (the files of an "
                "earlier backup of them, if any, are kept): %s",
                NameList(whole).c_str(), NameList(notWhole).c_str());
  }
  return notWhole.empty();
}

}  // namespace

BackupFiles::~BackupFiles() {
  Drop();
  for (const auto& f : kept_)
    ::unlink(f.temp.c_str());
}

std::optional<std::string> BackupFiles::Start(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
    WriteOutput(ui_, "E::[%s] is %s, not a file of the backup: it is left as it is", path.c_str(),
                KindOf(st.st_mode));
    return std::nullopt;
  }
  const std::string dir = DirectoryOf(path);
  const std::string base = path.substr(path.find_last_of('/') + 1);
  RemoveStaleTemps(dir, base);
  std::random_device random;
  for (int attempt = 0; attempt < 100; ++attempt) {
    char suffix[40];
    std::snprintf(suffix, sizeof suffix, "%s%u%08x%s", kTempMark, static_cast<unsigned>(::getpid()),
                  random(), kTempEnd);
    std::string temp = (dir == "/" ? "" : dir) + "/." + base + suffix;
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
      ::close(fd);
      started_.push_back({temp, path});
      return temp;
    }
    if (errno != EEXIST) {
      CannotWrite(ui_, path, errno);
      return std::nullopt;
    }
  }
  CannotWrite(ui_, path, EEXIST);
  return std::nullopt;
}

void BackupFiles::Keep() {
  kept_.insert(kept_.end(), started_.begin(), started_.end());
  started_.clear();
}

void BackupFiles::Drop() {
  for (const auto& f : started_)
    ::unlink(f.temp.c_str());
  started_.clear();
}

bool BackupFiles::Commit() {
  Drop();
  bool all = true;
  std::set<std::string> dirs;
  for (const auto& f : kept_) {
    struct stat st {};
    int error = SyncFile(f.temp) ? 0 : errno;
    // Looked at again: something may have been put in its place meanwhile.
    if (error == 0 && ::lstat(f.path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
      WriteOutput(ui_, "E::[%s] is %s, not a file of the backup: it is left as it is",
                  f.path.c_str(), KindOf(st.st_mode));
      error = -1;
    } else if (error == 0 && ::rename(f.temp.c_str(), f.path.c_str()) != 0) {
      error = errno;
    }
    if (error != 0) {
      if (error > 0) CannotWrite(ui_, f.path, error);
      ::unlink(f.temp.c_str());
      all = false;
      continue;
    }
    dirs.insert(DirectoryOf(f.path));
  }
  kept_.clear();
  for (const auto& d : dirs)
    SyncDirectory(d);
  return all;
}

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
  if (!EnterOwnDirectory(ui, dir, kBackupDirectoryName)) return std::nullopt;
  ws.SetCurrentDirectory(dir);
  // 3 to 5.
  std::optional<TaskId> queued;
  if (selected) {
    if (!ChooseBackupDirectory(ws)) return std::nullopt;
    if (auto task = BackupTaskForNode(ws, *selected)) {
      // The task keeps the directory chosen for it: what runs before it
      // (a migration entering the data cache, another backup's choice)
      // does not move it.
      task->directory = ws.Backup().path;
      queued = ws.tasks.Append(std::move(*task));
    }
  } else {
    ui.ShowHint("Please select a Object in Target Databases Tree to backup!");
    ui.SetCurrentTab(kTipsTab);
    ui.Tell("No selected Objects to backup!");
  }
  // 6.
  ws.controller().StartIfIdle();
  return queued;
}

bool BackupTablesOfDatabase(Workspace& ws, oledb::SessionRef session, const std::string& database,
                            const std::optional<WorkingDirectory>& root) {
  return BackupObjectsOfDatabase(ws, session, database, false, root);
}

bool BackupViewsOfDatabase(Workspace& ws, oledb::SessionRef session, const std::string& database,
                           const std::optional<WorkingDirectory>& root) {
  return BackupObjectsOfDatabase(ws, session, database, true, root);
}

int BackupOneTable(Workspace& ws, oledb::SessionRef session, const std::string& /*database*/,
                   const std::string& table, const WorkingDirectory& dir, BackupStep* given) {
  Frontend& ui = ws.frontend();
  BackupStep own(ui);
  BackupStep& step = given ? *given : own;
  // 1, 2. Its directories, then its files under temporary names.
  WorkingDirectory tables = dir, data = dir;
  if (!EnterOwnDirectory(ui, tables, "TABLES") || !EnterOwnDirectory(ui, data, "DATA")) return -2;
  const std::optional<std::string> sheetTable = HandMadeSheetTable(ws, session, table, step);
  const std::string& savedAs = sheetTable ? *sheetTable : table;
  const std::string stem = step.names.Claim(savedAs);
  const auto tblFile = step.files.Start(tables.File(stem + ".tbl").path);
  const auto dataFile = tblFile ? step.files.Start(data.File(stem + ".data").path) : std::nullopt;
  int result = 1;
  if (!dataFile) {
    result = -2;
  } else {
    // 3.
    const std::string structure =
        sheetTable ? ExcelAdapter::BackupSheetStructure(ws, session, table, savedAs)
                   : ExcelAdapter::BackupTableStructure(ws, session, table);
    if (!WriteWholeFile(ui, *tblFile, structure)) {
      result = -2;
    } else if (structure.empty() ||
               structure == "CREATE TABLE " + oledb::QuoteIdentifier(savedAs) + "(\n)") {
      // No columns: the schema could not be read, or there is no such table.
      WriteOutput(ui, "E::The definition of table [%s] could not be read: it holds no columns",
                  table.c_str());
      result = -1;
    } else if (structure == oledb::kNoConnection) {
      result = -1;
    }
    // 4. The rows; anything but done was reported by the data backup.
    if (result == 1 && ExcelAdapter::BackupTableDataTo(ws, session, table, savedAs, *dataFile) !=
                           kDataBackupDone) {
      result = -1;
    }
  }
  if (result != 1) {
    step.files.Drop();
    WriteOutput(ui,
                "E::[%s] is not backed up: the files of an earlier backup of it, if any, are "
                "kept",
                table.c_str());
    return result;
  }
  step.files.Keep();
  if (!given && !step.files.Commit()) return -2;
  return 1;
}

int BackupOneView(Workspace& ws, oledb::SessionRef session, const std::string& database,
                  const std::string& view, const WorkingDirectory& dir, BackupStep* given) {
  Frontend& ui = ws.frontend();
  BackupStep own(ui);
  BackupStep& step = given ? *given : own;
  // 1, 2.
  WorkingDirectory views = dir;
  if (!EnterOwnDirectory(ui, views, "VIEWS")) return -2;
  const std::string stem = step.names.Claim(view);
  const auto file = step.files.Start(views.File(stem + ".vw").path);
  if (!file) return -2;
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
  if (!WriteWholeFile(ui, *file, content)) {
    step.files.Drop();
    return -2;
  }
  step.files.Keep();
  if (!given && !step.files.Commit()) return -2;
  return 1;
}

namespace {

// The directory a backup task writes into: the one chosen when it was
// queued. A task queued without one (built by hand) takes the backup root
// (a database) or the workspace's current directory (one object), as they
// are when it runs.
std::optional<WorkingDirectory> TaskDirectory(TaskContext& ctx, bool oneObject) {
  if (ctx.directory.empty()) {
    if (oneObject) return ctx.ws.CurrentDirectory();
    return DefaultRoot(ctx.ws);
  }
  auto dir = WorkingDirectory::Enter(ctx.directory);
  if (!dir) {
    WriteOutput(ctx.ws.frontend(), "E::Cannot use [%s] as the backup directory: %s",
                ctx.directory.c_str(), dir.message().c_str());
    return std::nullopt;
  }
  return *dir;
}

}  // namespace

bool BackupDatabaseTask(TaskContext& ctx) {
  Workspace& ws = ctx.ws;
  ReopenDatabase(ws, ctx.targetDatabase, static_cast<int>(DataSourceSide::Target));
  const auto root = TaskDirectory(ctx, false);
  if (!root) return false;
  bool all = true;
  if (ctx.mode == "A" || ctx.mode == "T") {
    all = BackupTablesOfDatabase(ws, ctx.targetSession, ctx.targetDatabase, root) && all;
  }
  ctx.SetProgress(50);
  if (ctx.mode == "A" || ctx.mode == "V") {
    all = BackupViewsOfDatabase(ws, ctx.targetSession, ctx.targetDatabase, root) && all;
  }
  ctx.SetProgress(100);
  return all;
}

bool BackupObjectTask(TaskContext& ctx) {
  Workspace& ws = ctx.ws;
  ReopenDatabase(ws, ctx.targetDatabase, static_cast<int>(DataSourceSide::Target));
  const auto dir = TaskDirectory(ctx, true);
  if (!dir) return false;
  int result = 0;
  if (ctx.mode == "T") {
    result = BackupOneTable(ws, ctx.targetSession, ctx.targetDatabase, ctx.targetObject, *dir);
  } else if (ctx.mode == "V") {
    result = BackupOneView(ws, ctx.targetSession, ctx.targetDatabase, ctx.targetObject, *dir);
  }
  ctx.SetProgress(80);
  RefreshTree(ws, DataSourceSide::Target, 0);
  ctx.SetProgress(100);
  return result == 1;
}

}  // namespace migrator
