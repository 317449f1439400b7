// Workbook and sheet maintenance of the target side: CreateDatabase,
// DropDatabase, DropTable, DropView and RenameTable.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <random>

#include "adapters/excel/excel_adapter.h"
#include "adapters/excel/excel_automation.h"
#include "adapters/excel/excel_table_sheet.h"
#include "app/output.h"
#include "app/workspace.h"
#include "platform/workbook_guard.h"
#include "providers/workbook/tables.h"
#include "support/error_text.h"
#include "workflows/auto_backup.h"

namespace migrator {

using excel::ExcelObjects;

namespace {

constexpr int kConfigCommand = 1026;  // the main window's configuration button
constexpr const char* kDropTable = "Drop Table";

// A relative path is taken from the program's directory: that is where the
// program keeps its files, and the process never changes its directory.
std::string InProgramDir(const Workspace& ws, const std::string& path) {
  if (path.empty() || path.front() == '/' || ws.programDir().empty()) return path;
  std::string dir = ws.programDir();
  if (dir.back() != '/') dir += '/';
  return dir + path;
}

// Where a workbook or database name lives, the same for creating and for
// deleting: a name without a folder of its own (or whose first separator is
// its first character) goes into the folder of the target tree's current
// workbook; what is still relative then is taken from the program's
// directory. An absolute path stays as it is.
std::string ResolveName(const Workspace& ws, const std::string& name) {
  if (!name.empty() && name.front() == '/') return name;
  const auto firstSeparator = name.find_first_of("/\\");
  std::string path = name;
  if (firstSeparator == std::string::npos || firstSeparator == 0)
    path = excel::FolderOf(ws.target.tree.CurrentDatabase()) + name;
  return InProgramDir(ws, path);
}

// A new file beside `path`, empty, of a name nobody uses: where a workbook is
// saved before it takes its place. Empty when none could be made.
std::string FreshFileBeside(const std::string& path) {
  const std::string folder = excel::FolderOf(path);
  const std::string name = path.substr(folder.size());
  std::random_device rd;
  for (int attempt = 0; attempt < 100; ++attempt) {
    char suffix[16];
    std::snprintf(suffix, sizeof suffix, ".%08x", rd());
    const std::string fresh =
        folder + ".~" + name + suffix +
        (xls::FormatForPath(path) == xls::FileFormat::kXlsx ? ".new.xlsx" : ".new.xls");
    const int fd = ::open(fresh.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
      ::close(fd);
      return fresh;
    }
    if (errno != EEXIST) return {};
  }
  return {};
}

// Steps 4 to 9 of CreateDatabase: an empty workbook saved at `path`.
bool SaveEmptyWorkbook(Frontend& ui, const std::string& path, const ExcelServices& services) {
  ExcelObjects x;
  x.app = excel::StartExcel(ui, services);
  if (!x.app) return false;
  try {
    // 5, 6. A new workbook keeps one of its three sheets.
    x.books = x.app->Workbooks();
    x.book = x.books->Add();
    x.sheets = x.book->Sheets();
    x.sheets->Item(2)->Delete();
    x.sheets->Item(1)->Delete();
    // 7, 8.
    x.app->SetVisible(false);
    x.app->SetDisplayAlerts(false);
    automation::SaveAsArgs args;
    args.fileName = path;
    args.fileFormat = xls::FormatForPath(path) == xls::FileFormat::kXlsx
                          ? automation::xlOpenXMLWorkbook
                          : automation::xlNormal;
    args.password = "";
    args.writeResPassword = "";
    args.readOnlyRecommended = 0;
    args.createBackup = 0;
    args.accessMode = automation::xlShared;
    x.book->SaveAs(args);
    // 9.
    x.sheets.reset();
    x.book.reset();
    x.books.reset();
    x.app->Quit();
    x.app.reset();
  } catch (const automation::AutomationError& e) {
    excel::ShowAutomationError(ui, e);
    x.Abandon();
    return false;
  }
  return true;
}

// A new empty workbook at `path`, which never replaces anything: a file (or
// a link, or anything else) at that name or at a name that differs only in
// case is left alone and the workbook is not made. It is saved beside the
// path first and renamed to it in one step that fails when the name was
// taken meanwhile.
bool CreateWorkbookFile(Frontend& ui, const std::string& path, const ExcelServices& services) {
  auto refuse = [&](const std::string& there) {
    WriteOutput(ui, "E::The workbook [%s] is not made: [%s] is there already.", path.c_str(),
                there.c_str());
    return false;
  };
  if (const std::string there = EntryNamedLike(path); !there.empty()) return refuse(there);
  const std::string fresh = FreshFileBeside(path);
  const int freshError = errno;
  if (fresh.empty()) {
    // The folder takes no file: said as the program says a save it cannot do.
    excel::ShowAutomationError(
        ui, automation::AutomationError(automation::kExcelError, "Cannot access '" + path + "': " +
                                                                     std::strerror(freshError)));
    return false;
  }
  if (!SaveEmptyWorkbook(ui, fresh, services)) {
    ::unlink(fresh.c_str());
    return false;
  }
  if (auto moved = RenameNoReplace(fresh, path); !moved) {
    ::unlink(fresh.c_str());
    if (moved.error().code == EEXIST) return refuse(path);
    WriteOutput(ui, "E::The workbook [%s] is not made: %s", path.c_str(), moved.message().c_str());
    return false;
  }
  return true;
}

// The first half of DropDatabase: running tasks are stopped and, when the
// workbook is the connected one, the person is told and the target side is
// closed. True when it was the connected one.
bool ReleaseIfConnected(Workspace& ws, const std::string& name, const std::string& resolved) {
  ws.StopRunningTasks();
  SideConnection& target = ws.target;
  // The tree shows the workbook's database name, or its path while the side
  // is being re-opened on it; either way it is the connected workbook.
  const std::string current = target.tree.CurrentDatabase();
  const bool connected = SameDatabase(name, current) || SameDatabase(resolved, current);
  if (connected) {
    ws.frontend().Tell("Connected Database Dropped, Please Connect Another!");
    target.session.Reset();
    target.dataSource.Reset();
    target.tree.SetSideMarker(static_cast<int>(DataSourceSide::Reconnecting));
    target.tree.Detach();
  }
  return connected;
}

// A workbook that may not be written (chmod a-w) is refused in the system's
// words, before anything happens to it.
bool Writable(Frontend& ui, const char* operation, const std::string& path) {
  if (auto writable = CheckWritable(path); !writable) {
    WriteOutputText(ui, SystemErrorLine(operation, writable.error().code));
    return false;
  }
  return true;
}

// The sequence of the operations that change an existing workbook: no task
// runs meanwhile, a workbook that may not be written is refused, the target
// side is closed, the workbook opened (and so locked) in a fresh spreadsheet
// program (with exclusive access), copied aside when Auto Backup asks for it
// (`backup`), `work` runs on it, and after the closing sequence the target
// side is opened again. An automation failure is shown in its two message
// boxes and leaves the target side closed.
template <class Work>
bool ChangeWorkbook(Workspace& ws, const ExcelServices& services, const std::string& database,
                    const char* operation, bool backup, Work&& work) {
  Frontend& ui = ws.frontend();
  const std::string path = excel::WorkbookFileOf(ws, InProgramDir(ws, database));
  const auto tasks = excel::ExcludeTasks(ws, operation);
  if (!tasks || !Writable(ui, operation, path)) return false;
  excel::CloseTargetSide(ws);
  ExcelObjects x;
  x.app = excel::StartExcel(ui, services);
  if (!x.app) return false;
  try {
    x.OpenWorkbook(path, true);
    if (backup && !AutoBackupWorkbook(ws, path)) {
      x.Abandon();
      Connect(ws, DataSourceSide::Target, services.connect);
      return false;
    }
    work(x);
    x.SaveAndQuit();
  } catch (const automation::AutomationError& e) {
    excel::ShowAutomationError(ui, e);
    x.Abandon();
    return false;
  }
  Connect(ws, DataSourceSide::Target, services.connect);
  return true;
}

// The lock of a workbook that is about to be replaced or deleted as a whole;
// a red line when another writer keeps it.
std::optional<WorkbookLock> LockWorkbook(Frontend& ui, const std::string& path) {
  auto lock = WorkbookLock::Acquire(path);
  if (!lock) {
    WriteOutputText(ui, "E::" + lock.message());
    return std::nullopt;
  }
  return std::move(*lock);
}

}  // namespace

bool ExcelAdapter::CreateDatabase(Workspace& ws, const std::string& name, int nonInteractive) {
  return CreateDatabase(ws, name, nonInteractive, DefaultExcelServices());
}

bool ExcelAdapter::CreateDatabase(Workspace& ws, const std::string& name, int nonInteractive,
                                  const ExcelServices& services) {
  Frontend& ui = ws.frontend();

  // 1. The path.
  std::string path;
  if (nonInteractive) {
    path = ResolveName(ws, name);
  } else {
    auto chosen =
        ui.ChooseSaveFile("Create Excel Database As",
                          {FileFilter{"Excel Data File", "*.xls;*.XLS;*.xlsx;*.XLSX"}}, name);
    if (!chosen) return false;
    path = InProgramDir(ws, *chosen);
  }

  // 2. The extension, in any case, at the end ("Book.XLS" keeps its own).
  if (!HasWorkbookExtension(path)) path += ".xls";

  // 3 to 9.
  WriteOutput(ui, "Create Excel xls File [%s]", path.c_str());
  if (!CreateWorkbookFile(ui, path, services)) return false;

  // 10. A workbook the person chose becomes the target, once no task works
  // on the target side.
  if (!nonInteractive && IsJetProvider(ws.target.Settings().providerId)) {
    const auto tasks = excel::ExcludeTasks(ws, "New Database");
    if (!tasks) return false;
    ws.target.EditSettings([&](ConnectionSettings& s) {
      s.sourceName = path;
      s.catalogName.clear();
    });
    Connect(ws, DataSourceSide::Target, services.connect);
  }
  return true;
}

bool ExcelAdapter::DropDatabase(Workspace& ws, const std::string& name) {
  Frontend& ui = ws.frontend();
  const std::string resolved = ResolveName(ws, name);
  const std::string path = excel::WorkbookFileOf(ws, resolved);
  ws.StopRunningTasks();
  const auto tasks = excel::ExcludeTasks(ws, "Drop Database");
  if (!tasks || !Writable(ui, "Drop Database", path)) return false;
  const bool connected = ReleaseIfConnected(ws, name, resolved);
  const auto lock = LockWorkbook(ui, path);
  if (!lock || !AutoBackupWorkbook(ws, path)) return false;
  if (::unlink(path.c_str()) != 0) {
    WriteOutputText(ui, SystemErrorLine("Drop Database", errno));
    return false;
  }
  WriteOutputText(ui, "Drop Database SUCCESSFULLY!!!");
  if (connected) ui.PostCommand(kConfigCommand);
  return true;
}

bool ExcelAdapter::RecreateDatabase(Workspace& ws, const std::string& name) {
  return RecreateDatabase(ws, name, DefaultExcelServices());
}

bool ExcelAdapter::RecreateDatabase(Workspace& ws, const std::string& name,
                                    const ExcelServices& services) {
  Frontend& ui = ws.frontend();
  const std::string resolved = ResolveName(ws, name);
  const std::string path = excel::WorkbookFileOf(ws, resolved);
  ws.StopRunningTasks();
  const auto tasks = excel::ExcludeTasks(ws, "Clear all tables");
  if (!tasks || !Writable(ui, "Drop Database", path)) return false;
  // Beside the old one, so that the rename stays within one file system.
  const std::string fresh = FreshFileBeside(path);
  if (fresh.empty()) {
    WriteOutputText(ui, SystemErrorLine("Drop Database", errno));
    return false;
  }
  if (!SaveEmptyWorkbook(ui, fresh, services)) {
    ::unlink(fresh.c_str());
    return false;
  }
  const bool connected = ReleaseIfConnected(ws, name, resolved);
  const auto lock = LockWorkbook(ui, path);
  if (!lock || !AutoBackupWorkbook(ws, path)) {
    ::unlink(fresh.c_str());
    return false;
  }
  if (std::rename(fresh.c_str(), path.c_str()) != 0) {
    WriteOutputText(ui, SystemErrorLine("Drop Database", errno));
    ::unlink(fresh.c_str());
    return false;
  }
  WriteOutputText(ui, "Drop Database SUCCESSFULLY!!!");
  WriteOutput(ui, "Create Excel xls File [%s]", path.c_str());
  if (connected) ui.PostCommand(kConfigCommand);
  return true;
}

std::string ExcelAdapter::DatabaseFile(const Workspace& ws, const std::string& name) {
  std::string path = ResolveName(ws, name);
  if (!HasXlsExtension(path)) path += ".xls";
  return path;
}

bool ExcelAdapter::ReplaceDatabase(Workspace& ws, const std::string& name,
                                   const std::function<bool(const std::string& fresh)>& fill) {
  return ReplaceDatabase(ws, name, fill, DefaultExcelServices());
}

bool ExcelAdapter::ReplaceDatabase(Workspace& ws, const std::string& name,
                                   const std::function<bool(const std::string& fresh)>& fill,
                                   const ExcelServices& services) {
  Frontend& ui = ws.frontend();
  const std::string path = DatabaseFile(ws, name);
  // A link, a folder or a file whose name differs in case is not the
  // workbook of that name: it is left alone.
  struct stat st {};
  if (EntryNamedLike(path) != path || ::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
    WriteOutput(ui, "E::The workbook [%s] is not replaced: no workbook file of exactly that name",
                path.c_str());
    return false;
  }
  if (!Writable(ui, "Replace Database", path)) return false;
  const auto lock = LockWorkbook(ui, path);
  if (!lock || !AutoBackupWorkbook(ws, path)) return false;
  // Beside the old one, so that the rename stays within one file system.
  const std::string fresh = FreshFileBeside(path);
  if (fresh.empty()) {
    WriteOutputText(ui, SystemErrorLine("Replace Database", errno));
    return false;
  }
  if (!SaveEmptyWorkbook(ui, fresh, services) || !fill(fresh)) {
    ::unlink(fresh.c_str());
    WriteOutput(ui, "E::The workbook [%s] is not replaced: it stays as it was", path.c_str());
    return false;
  }
  if (std::rename(fresh.c_str(), path.c_str()) != 0) {
    WriteOutputText(ui, SystemErrorLine("Replace Database", errno));
    ::unlink(fresh.c_str());
    return false;
  }
  WriteOutput(ui, "T::The workbook [%s] is replaced by the new copy", path.c_str());
  return true;
}

bool ExcelAdapter::DropTable(Workspace& ws, const std::string& database, const std::string& table) {
  return DropTable(ws, database, table, DefaultExcelServices());
}

bool ExcelAdapter::DropTable(Workspace& ws, const std::string& database, const std::string& table,
                             const ExcelServices& services) {
  ws.StopRunningTasks();
  return ChangeWorkbook(ws, services, database, kDropTable, true, [&](ExcelObjects& x) {
    const auto found = excel::FindTableSheet(x, table);
    if (!found) {
      x.sheets->Item(excel::SheetNameOf(table));  // raises: there is no such sheet
      return;
    }
    excel::DeleteTableSheet(x, *found);
    WriteOutputText(ws.frontend(), "Drop Table SUCCESSFULLY!!!");
  });
}

bool ExcelAdapter::DropTables(Workspace& ws, const std::string& database,
                              const std::vector<std::string>& tables) {
  return DropTables(ws, database, tables, DefaultExcelServices());
}

bool ExcelAdapter::DropTables(Workspace& ws, const std::string& database,
                              const std::vector<std::string>& tables,
                              const ExcelServices& services) {
  ws.StopRunningTasks();
  std::vector<std::string> gone;  // the sheets dropped and their names
  std::size_t dropped = 0;
  std::vector<std::string> kept;  // a line for each table that stays
  const bool saved = ChangeWorkbook(ws, services, database, kDropTable, true, [&](ExcelObjects& x) {
    for (const std::string& table : tables) {
      const std::string name = excel::SheetNameOf(table);
      bool seen = false;
      for (const auto& g : gone)
        seen = seen || EqualNoCase(g, name);
      if (seen) continue;  // it went with an earlier entry of the same sheet
      const auto found = excel::FindTableSheet(x, table);
      if (!found) {
        kept.push_back("E::Drop Table [" + table + "] failed: the workbook has no sheet of it");
        continue;
      }
      excel::DeleteTableSheet(x, *found);  // a failure drops none of them
      ++dropped;
      gone.push_back(found->sheetName);
      gone.insert(gone.end(), found->names.begin(), found->names.end());
    }
  });
  if (!saved) return false;
  for (std::size_t i = 0; i < dropped; ++i)
    WriteOutputText(ws.frontend(), "Drop Table SUCCESSFULLY!!!");
  for (const std::string& line : kept)
    WriteOutputText(ws.frontend(), line);
  return kept.empty();
}

bool ExcelAdapter::DropView(Workspace&, const std::string&) {
  return true;
}

bool ExcelAdapter::RenameTable(Workspace& ws, const std::string& oldName,
                               const std::string& newName) {
  return RenameTable(ws, oldName, newName, DefaultExcelServices());
}

bool ExcelAdapter::RenameTable(Workspace& ws, const std::string& oldName,
                               const std::string& newName, const ExcelServices& services) {
  ws.StopRunningTasks();
  // The table node's folder's parent is the workbook's database node.
  std::string database;
  if (auto node = ws.target.tree.Ancestor(ws.target.tree.Selected(), 2)) database = node->text;
  return ChangeWorkbook(ws, services, database, "Rename Table", false, [&](ExcelObjects& x) {
    const std::string old = excel::SheetNameOf(oldName);
    auto names = x.book->Names();
    const auto table = excel::FindTableName(x, oldName);
    if (!table) {
      names->Item(old);  // raises: there is no such name
      return;
    }
    if (!table->ownSheet) {
      // A name the person defined, not a table's: the sheets stay as they are.
      if (ws.frontend().Ask("User Define Names, Not A Table Name, Clear?", Buttons::YesNo,
                            Icon::Exclamation) == Answer::Yes) {
        names->Item(table->name)->Delete();
      }
    } else {
      // A sheet name may hold blanks, a defined name may not: the new name
      // is defined as the workbook provider names the table.
      const std::string defined = providers::workbook::DefinedNameForTable(newName);
      auto sheet = x.sheets->Item(*table->sheet);
      sheet->SetName(newName);
      sheet->UsedRange()->SetName(defined);
      // Names are compared without regard to case: when only the case
      // changed, the name just defined is the old one and must stay.
      if (!EqualNoCase(table->name, defined)) names->Item(table->name)->Delete();
    }
  });
}

}  // namespace migrator
