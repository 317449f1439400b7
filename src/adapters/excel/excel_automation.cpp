#include "adapters/excel/excel_automation.h"

#include <algorithm>
#include <cctype>

#include "app/output.h"
#include "app/workspace.h"

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

}  // namespace excel
}  // namespace migrator
