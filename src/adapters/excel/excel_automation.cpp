#include "adapters/excel/excel_automation.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <filesystem>
#include <thread>

#include "app/output.h"
#include "app/workspace.h"
#include "xls/workbook.h"

namespace migrator {

const ExcelServices& DefaultExcelServices() {
  static const ExcelServices services{automation::DefaultApplicationFactory(),
                                      DefaultConnectServices()};
  return services;
}

namespace excel {

std::string SheetNameOf(std::string_view table) {
  std::string name;
  name.reserve(table.size());
  for (char c : table) {
    if (c != '$' && c != '\'') name += c;
  }
  return name;
}

std::shared_ptr<automation::Application> StartExcel(Frontend& out, const ExcelServices& services) {
  std::shared_ptr<automation::Application> app;
  if (services.startExcel) app = services.startExcel(automation::kExcelProgId);
  if (!app) WriteOutputText(out, kExcelMissing);
  return app;
}

void ShowAutomationError(Frontend& out, const automation::AutomationError& error) {
  out.Tell(automation::ErrorMessage(error.code()));
  out.Tell(error.description());
}

namespace {

// Hidden, without alerts, its workbook collection at hand.
void Prepare(ExcelObjects& x) {
  x.app->SetVisible(false);
  x.app->SetDisplayAlerts(false);
  x.books = x.app->Workbooks();
}

}  // namespace

void ExcelObjects::OpenWorkbook(const std::string& path, bool exclusive) {
  Prepare(*this);
  book = books->Open(path);
  if (exclusive && book->MultiUserEditing()) book->ExclusiveAccess();
  sheets = book->Sheets();
}

void ExcelObjects::AdoptWorkbook(xls::Workbook&& held, const std::string& path) {
  Prepare(*this);
  book = books->Adopt(std::move(held), path);
  sheets = book->Sheets();
}

void ExcelObjects::SaveAndQuit() {
  book->Save();
  app->Save();
  book->Close(false);
  sheets.reset();
  book.reset();
  books->Close();
  books.reset();
  app->Quit();
  app.reset();
}

void ExcelObjects::Abandon() noexcept {
  auto quietly = [](auto&& f) {
    try {
      f();
    } catch (...) {
      // Cleaning up after a failure: a second failure changes nothing.
    }
  };
  sheets.reset();
  if (book) quietly([&] { book->Close(false); });
  book.reset();
  if (books) quietly([&] { books->Close(); });
  books.reset();
  if (app) quietly([&] { app->Quit(); });
  app.reset();
}

std::unique_lock<std::recursive_mutex> ExcludeTasks(Workspace& ws, const char* operation) {
  std::unique_lock lock(ws.taskLock(), std::defer_lock);
  const auto deadline = std::chrono::steady_clock::now() + ws.timing().workbookWait;
  while (!lock.try_lock()) {
    if (std::chrono::steady_clock::now() >= deadline) {
      WriteOutput(ws.frontend(),
                  "E::%s: a task is still running on the workbooks and was asked to stop; "
                  "nothing was changed. Try again when the Task List shows it has ended.",
                  operation);
      return lock;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return lock;
}

void CloseTargetSide(Workspace& ws) {
  SideConnection& target = ws.target;
  target.session.Reset();
  target.dataSource.Reset();
  target.EditSettings([](ConnectionSettings& s) { s.catalogName.clear(); });
  target.tree.SetSideMarker(static_cast<int>(DataSourceSide::Reconnecting));
  target.tree.Detach();
}

std::string FolderOf(std::string_view path) {
  const auto cut = path.find_last_of("/\\");
  return cut == std::string_view::npos ? std::string() : std::string(path.substr(0, cut + 1));
}

std::string WorkbookFileOf(const Workspace& ws, const std::string& database) {
  namespace fs = std::filesystem;
  const ConnectionSettings target = ws.target.Settings();
  const std::string& connected = target.sourceName;
  if (IsJetProvider(target.providerId) && HasXlsExtension(connected) &&
      connected.size() == database.size() + 4 &&
      connected.compare(0, database.size(), database) == 0)
    return connected;
  // An .xlsx workbook's database is its path, extension and all.
  if (xls::FormatForPath(database) == xls::FileFormat::kXlsx) return database;
  const std::string path = database + ".xls";
  std::error_code ec;
  if (fs::exists(path, ec)) return path;
  const std::string folder = FolderOf(database);
  const std::string base = database.substr(folder.size());
  for (const auto& entry : fs::directory_iterator(folder.empty() ? "." : folder, ec)) {
    const std::string file = entry.path().filename().string();
    if (file.size() == base.size() + 4 && file.compare(0, base.size(), base) == 0 &&
        HasXlsExtension(file))
      return folder + file;
  }
  return path;
}

}  // namespace excel
}  // namespace migrator
