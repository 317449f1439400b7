#pragma once
// What the workbook operations of the Excel adapter share: starting the
// spreadsheet program, showing its failures, cleaning up after them, closing
// the target side and the text helpers for names and paths.

#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "adapters/excel/excel_adapter.h"
#include "automation/excel.h"
#include "platform/text.h"

namespace migrator::excel {

inline constexpr const char* kExcelMissing = "Excel not installed, some functions not supported!!!";

// A table name with every "$" and "'" removed (the decorations of the
// workbook provider's table list), ready to be a sheet name.
std::string SheetNameOf(std::string_view table);

// Starts the spreadsheet program; without it, writes "Excel not installed,
// some functions not supported!!!" and returns null.
std::shared_ptr<automation::Application> StartExcel(Frontend& out, const ExcelServices& services);

// The two message boxes of a failed automation call: the text for its code,
// then its description.
void ShowAutomationError(Frontend& out, const automation::AutomationError& error);

// The objects one operation holds. After a failure, Abandon closes what
// exists without saving (the workbook, the collection) and quits the program,
// ignoring further failures; the objects are released with the holder.
struct ExcelObjects {
  std::shared_ptr<automation::Application> app;
  std::shared_ptr<automation::Workbooks> books;
  std::shared_ptr<automation::Workbook> book;
  std::shared_ptr<automation::Sheets> sheets;

  // Visible and DisplayAlerts off, Workbooks.Open(path), then Sheets; with
  // `exclusive`, a workbook in shared use is first taken for exclusive access.
  void OpenWorkbook(const std::string& path, bool exclusive);
  // The same for a workbook already held in memory as the file `path`
  // (Workbooks::Adopt): it is not read again.
  void AdoptWorkbook(xls::Workbook&& held, const std::string& path);
  // Workbook.Save, Application.Save, Workbook.Close(false), Workbooks.Close,
  // Application.Quit.
  void SaveAndQuit();
  void Abandon() noexcept;
};

// Keeps tasks from running while an operation of the window changes a
// workbook: the task lock, which a running task's pass holds, waited for up
// to the workspace's workbook wait (after the operation asked running tasks
// to stop). Empty, with a red line naming the operation, when a task still
// runs then. On the controller thread (a task's own operation) it is had at
// once.
std::unique_lock<std::recursive_mutex> ExcludeTasks(Workspace& ws, const char* operation);

// Closes the target side for an operation on its workbook: session and data
// source released, the database name cleared, the tree's side marker -1 and
// its references cleared.
void CloseTargetSide(Workspace& ws);

// The folder of a path: the text up to and including its last "/" or "\";
// empty when it has none.
std::string FolderOf(std::string_view path);

// The workbook file of a database (a path without the extension): the file
// the target side is connected to when the database is that file's
// ("Book.XLS" even while "Book.xls" lies beside it); otherwise database +
// ".xls", or, when that file is missing, a file beside it whose extension
// differs only in case ("Book.XLS" is the workbook of the database "Book").
std::string WorkbookFileOf(const Workspace& ws, const std::string& database);

}  // namespace migrator::excel
