// Workbook and sheet maintenance of the target side: CreateDatabase,
// DropDatabase, DropTable, DropView and RenameTable.

#include <unistd.h>

#include <cerrno>

#include "adapters/excel/excel_adapter.h"
#include "adapters/excel/excel_automation.h"
#include "app/output.h"
#include "app/workspace.h"
#include "support/error_text.h"

namespace migrator {

using excel::ExcelObjects;

namespace {

constexpr int kConfigCommand = 1026;  // the main window's configuration button

// A relative path is taken from the program's directory: that is where the
// program keeps its files, and the process never changes its directory.
std::string InProgramDir(const Workspace& ws, const std::string& path) {
  if (path.empty() || path.front() == '/' || ws.programDir().empty()) return path;
  std::string dir = ws.programDir();
  if (dir.back() != '/') dir += '/';
  return dir + path;
}

// The sequence of the operations that change an existing workbook: the
// target side is closed, the workbook opened in a fresh spreadsheet program
// (with exclusive access), `work` runs on it, and after the closing sequence
// the target side is opened again. An automation failure is shown in its two
// message boxes and leaves the target side closed.
template <class Work>
bool ChangeWorkbook(Workspace& ws, const ExcelServices& services, const std::string& database,
                    Work&& work) {
  Frontend& ui = ws.frontend();
  excel::CloseTargetSide(ws);
  ExcelObjects x;
  x.app = excel::StartExcel(ui, services);
  if (!x.app) return false;
  try {
    x.OpenWorkbook(database + ".xls", true);
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
    // The folder of the workbook the target tree shows. A name with a folder
    // of its own (an absolute path, or one whose first separator is not its
    // first character) is taken as it is.
    const std::string folder = excel::FolderOf(ws.target.tree.CurrentDatabase());
    const auto firstSeparator = name.find_first_of("/\\");
    if (!name.empty() && name.front() == '/') {
      path = name;
    } else if (firstSeparator == std::string::npos || firstSeparator == 0) {
      path = folder + name;
    } else {
      path = name;
    }
  } else {
    auto chosen = ui.ChooseSaveFile("Create Excel Database As",
                                    {FileFilter{"Excel Data File", "*.xls;*.XLS"}}, name);
    if (!chosen) return false;
    path = *chosen;
  }

  // 2.
  if (path.find(".xls") == std::string::npos) path += ".xls";
  path = InProgramDir(ws, path);

  // 3, 4.
  WriteOutput(ui, "Create Excel xls File [%s]", path.c_str());
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
    args.fileFormat = automation::xlNormal;
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

  // 10. A workbook the person chose becomes the target.
  if (!nonInteractive && IsJetProvider(ws.target.Settings().providerId)) {
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
  ws.StopRunningTasks();

  SideConnection& target = ws.target;
  // The tree shows the workbook's database name, or its path while the side
  // is being re-opened on it; either way it is the connected workbook.
  const std::string current = target.tree.CurrentDatabase();
  const bool connected = EqualNoCase(name, current) || EqualNoCase(name + ".xls", current);
  if (connected) {
    ui.Tell("Connected Database Dropped, Please Connect Another!");
    target.session.Reset();
    target.dataSource.Reset();
    target.tree.SetSideMarker(static_cast<int>(DataSourceSide::Reconnecting));
    target.tree.Detach();
  }

  const std::string path = name + ".xls";
  if (::unlink(path.c_str()) != 0) {
    WriteOutputText(ui, SystemErrorLine("Drop Database", errno));
    return false;
  }
  WriteOutputText(ui, "Drop Database SUCCESSFULLY!!!");
  if (connected) ui.PostCommand(kConfigCommand);
  return true;
}

bool ExcelAdapter::DropTable(Workspace& ws, const std::string& database, const std::string& table) {
  return DropTable(ws, database, table, DefaultExcelServices());
}

bool ExcelAdapter::DropTable(Workspace& ws, const std::string& database, const std::string& table,
                             const ExcelServices& services) {
  ws.StopRunningTasks();
  return ChangeWorkbook(ws, services, database, [&](ExcelObjects& x) {
    x.sheets->Item(excel::SheetNameOf(table))->Delete();
    WriteOutputText(ws.frontend(), "Drop Table SUCCESSFULLY!!!");
  });
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
  return ChangeWorkbook(ws, services, database, [&](ExcelObjects& x) {
    const std::string old = excel::SheetNameOf(oldName);
    auto names = x.book->Names();
    const std::string refersTo = names->Item(old)->Value();
    if (refersTo.rfind("=" + old + "!", 0) != 0) {
      // A name the person defined, not a table's: the sheets stay as they are.
      if (ws.frontend().Ask("User Define Names, Not A Table Name, Clear?", Buttons::YesNo,
                            Icon::Exclamation) == Answer::Yes) {
        names->Item(old)->Delete();
      }
    } else {
      auto sheet = x.sheets->Item(old);
      sheet->SetName(newName);
      sheet->UsedRange()->SetName(newName);
      // Names are compared without regard to case: when only the case
      // changed, the name just defined is the old one and must stay.
      if (!EqualNoCase(old, newName)) names->Item(old)->Delete();
    }
  });
}

}  // namespace migrator
