// Application, Workbooks and Window, and the state they share.

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "automation/excel.h"
#include "automation/excel_state.h"

namespace migrator::automation {
namespace detail {

void Raise(HRESULT code, std::string description) {
  throw AutomationError(code, std::move(description));
}

void Disconnected() {
  Raise(RPC_E_DISCONNECTED, {});
}

void Check(const AppState& app) {
  if (!app.running) Disconnected();
}

void Check(const AppState& app, const Document& doc) {
  if (!app.running || !doc.open) Disconnected();
}

size_t SheetIndex(const AppState& app, const Document& doc, const xls::Sheet* sheet) {
  Check(app, doc);
  for (size_t i = 0; i < doc.book.sheetCount(); ++i) {
    if (&doc.book.sheet(i) == sheet) return i;
  }
  Disconnected();
}

void CloseDocument(AppState& app, const std::shared_ptr<Document>& doc) {
  doc->open = false;
  doc->lock.Release();
  std::erase(app.documents, doc);
  if (app.active == doc) app.active = app.documents.empty() ? nullptr : app.documents.back();
}

std::string Reference(const xls::Workbook& book, size_t sheet, const xls::Range& area) {
  return xls::QuoteSheetName(book.sheet(sheet).name()) + "!" + xls::RangeName(area, true);
}

namespace {

// "$AB$12" at `pos`, within `limits`; advances past it.
bool ParseCell(std::string_view text, const xls::Limits& limits, size_t& pos, uint32_t& row,
               uint32_t& col) {
  if (pos < text.size() && text[pos] == '$') ++pos;
  uint32_t c = 0;
  size_t letters = 0;
  while (pos < text.size() && std::isalpha(static_cast<unsigned char>(text[pos]))) {
    if (++letters > 3) return false;
    c = c * 26 +
        static_cast<uint32_t>(std::toupper(static_cast<unsigned char>(text[pos])) - 'A' + 1);
    ++pos;
  }
  if (letters == 0 || c > limits.columns) return false;
  if (pos < text.size() && text[pos] == '$') ++pos;
  uint64_t r = 0;
  size_t digits = 0;
  while (pos < text.size() && std::isdigit(static_cast<unsigned char>(text[pos]))) {
    if (++digits > 7) return false;
    r = r * 10 + static_cast<uint64_t>(text[pos] - '0');
    ++pos;
  }
  if (digits == 0 || r == 0 || r > limits.rows) return false;
  row = static_cast<uint32_t>(r - 1);
  col = c - 1;
  return true;
}

}  // namespace

bool ParseAddress(std::string_view text, const xls::Limits& limits, xls::Range& area) {
  size_t pos = 0;
  uint32_t r1 = 0, c1 = 0, r2 = 0, c2 = 0;
  if (!ParseCell(text, limits, pos, r1, c1)) return false;
  r2 = r1;
  c2 = c1;
  if (pos < text.size() && text[pos] == ':') {
    ++pos;
    if (!ParseCell(text, limits, pos, r2, c2)) return false;
  }
  if (pos != text.size()) return false;
  area = {std::min(r1, r2), std::min(c1, c2), std::max(r1, r2), std::max(c1, c2)};
  return true;
}

}  // namespace detail

using detail::Check;
using detail::Raise;

std::string ValueText(const Value& value) {
  switch (value.kind) {
    case Value::Kind::kEmpty:
      return {};
    case Value::Kind::kText:
      return value.text;
    case Value::Kind::kBoolean:
      return value.boolean ? "-1" : "0";
    case Value::Kind::kError:
      return xls::ErrorText(value.error);
    case Value::Kind::kNumber: {
      if (!std::isfinite(value.number)) return "#NUM!";
      char buffer[40];
      std::snprintf(buffer, sizeof buffer, "%.15G", value.number);
      return buffer;
    }
  }
  return {};
}

std::shared_ptr<Application> CreateObject(std::string_view progIdOrClsid) {
  auto equalNoCase = [](std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
             return std::tolower(static_cast<unsigned char>(x)) ==
                    std::tolower(static_cast<unsigned char>(y));
           });
  };
  // A text in braces is a class identifier, anything else a ProgID.
  const bool known = !progIdOrClsid.empty() && progIdOrClsid.front() == '{'
                         ? equalNoCase(progIdOrClsid, kExcelClsid)
                         : equalNoCase(progIdOrClsid, kExcelProgId);
  if (!known) return nullptr;
  return std::make_shared<Application>(std::make_shared<detail::AppState>());
}

const ApplicationFactory& DefaultApplicationFactory() {
  static const ApplicationFactory factory = [](std::string_view id) { return CreateObject(id); };
  return factory;
}

// ---- Application ----

Application::Application(std::shared_ptr<detail::AppState> state) : app_(std::move(state)) {}

std::shared_ptr<Workbooks> Application::Workbooks() {
  Check(*app_);
  return std::make_shared<automation::Workbooks>(app_);
}

bool Application::Visible() const {
  Check(*app_);
  return app_->visible;
}

void Application::SetVisible(bool visible) {
  Check(*app_);
  app_->visible = visible;
}

bool Application::DisplayAlerts() const {
  Check(*app_);
  return app_->displayAlerts;
}

void Application::SetDisplayAlerts(bool display) {
  Check(*app_);
  app_->displayAlerts = display;
}

void Application::Save() {
  Check(*app_);
}

void Application::Quit() {
  Check(*app_);
  for (auto& doc : app_->documents) {
    doc->open = false;
    doc->lock.Release();
  }
  app_->documents.clear();
  app_->active.reset();
  app_->running = false;
}

std::shared_ptr<Window> Application::ActiveWindow() {
  Check(*app_);
  if (!app_->active) Raise(kExcelError, "There is no open workbook, so there is no active window.");
  return std::make_shared<Window>(app_, app_->active);
}

bool Application::Running() const {
  return app_->running;
}

// ---- Workbooks ----

Workbooks::Workbooks(std::shared_ptr<detail::AppState> state) : app_(std::move(state)) {}

std::shared_ptr<Workbook> Workbooks::Add() {
  Check(*app_);
  auto doc = std::make_shared<detail::Document>(xls::Workbook::New());
  for (const char* name : {"Sheet1", "Sheet2", "Sheet3"}) {
    auto added = doc->book.AddSheet(name);
    if (!added) Raise(kExcelError, "Add method of Workbooks class failed: " + added.message());
  }
  (void)doc->book.SetActiveSheet(0);
  doc->name = "Book" + std::to_string(++app_->booksAdded);
  app_->documents.push_back(doc);
  app_->active = doc;
  return std::make_shared<Workbook>(app_, doc);
}

std::shared_ptr<Workbook> Workbooks::Open(const std::string& fileName) {
  Check(*app_);
  std::error_code ec;
  if (fileName.empty() || !std::filesystem::exists(fileName, ec)) {
    Raise(kExcelError, "'" + fileName +
                           "' could not be found. Check the spelling of the file name, and verify "
                           "that the file location is correct.");
  }
  // Locked while it is open: the workbook is opened to be changed.
  auto lock = WorkbookLock::Acquire(fileName);
  if (!lock) Raise(kExcelError, "'" + fileName + "' is locked for editing: " + lock.message());
  const FileStamp before = StampOf(fileName);
  auto loaded = xls::Workbook::Load(fileName);
  if (!loaded) Raise(kExcelError, "'" + fileName + "' cannot be opened: " + loaded.message());
  if (!(StampOf(fileName) == before))
    Raise(kExcelError, "'" + fileName + "' was changed by another program while it was read.");
  auto book = Adopt(std::move(*loaded), fileName);
  app_->active->lock = std::move(*lock);
  return book;
}

std::shared_ptr<Workbook> Workbooks::Adopt(xls::Workbook&& book, const std::string& fileName) {
  Check(*app_);
  auto doc = std::make_shared<detail::Document>(std::move(book));
  doc->path = fileName;
  doc->stamp = StampOf(fileName);
  doc->name = std::filesystem::path(fileName).filename().string();
  app_->documents.push_back(doc);
  app_->active = doc;
  return std::make_shared<Workbook>(app_, doc);
}

void Workbooks::Close() {
  Check(*app_);
  // Alerts or not, nobody is there to answer a question: changes are dropped.
  while (!app_->documents.empty())
    detail::CloseDocument(*app_, app_->documents.back());
}

int Workbooks::Count() const {
  Check(*app_);
  return static_cast<int>(app_->documents.size());
}

// ---- Window ----

Window::Window(std::shared_ptr<detail::AppState> app, std::shared_ptr<detail::Document> doc)
    : app_(std::move(app)), doc_(std::move(doc)) {}

xls::Sheet& Window::ActiveSheet() const {
  Check(*app_, *doc_);
  if (doc_->book.sheetCount() == 0) Raise(kExcelError, "The workbook has no sheets.");
  return doc_->book.sheet(std::min(doc_->book.activeSheet(), doc_->book.sheetCount() - 1));
}

int Window::SplitRow() const {
  const xls::Sheet& sheet = ActiveSheet();
  if (sheet.frozenRows() || sheet.frozenColumns()) return static_cast<int>(sheet.frozenRows());
  auto it = doc_->split.find(&sheet);
  return it == doc_->split.end() ? 0 : static_cast<int>(it->second.first);
}

int Window::SplitColumn() const {
  const xls::Sheet& sheet = ActiveSheet();
  if (sheet.frozenRows() || sheet.frozenColumns()) return static_cast<int>(sheet.frozenColumns());
  auto it = doc_->split.find(&sheet);
  return it == doc_->split.end() ? 0 : static_cast<int>(it->second.second);
}

void Window::SetSplitRow(int rows) {
  xls::Sheet& sheet = ActiveSheet();
  if (rows < 0 || static_cast<uint32_t>(rows) >= doc_->book.limits().rows) {
    Raise(kExcelError, "Unable to set the SplitRow property of the Window class");
  }
  if (sheet.frozenRows() || sheet.frozenColumns()) {
    if (!sheet.FreezePanes(static_cast<uint32_t>(rows), sheet.frozenColumns())) {
      Raise(kExcelError, "Unable to set the SplitRow property of the Window class");
    }
    return;
  }
  doc_->split[&sheet].first = static_cast<uint32_t>(rows);
}

void Window::SetSplitColumn(int columns) {
  xls::Sheet& sheet = ActiveSheet();
  if (columns < 0 || static_cast<uint32_t>(columns) >= doc_->book.limits().columns) {
    Raise(kExcelError, "Unable to set the SplitColumn property of the Window class");
  }
  if (sheet.frozenRows() || sheet.frozenColumns()) {
    if (!sheet.FreezePanes(sheet.frozenRows(), static_cast<uint32_t>(columns))) {
      Raise(kExcelError, "Unable to set the SplitColumn property of the Window class");
    }
    return;
  }
  doc_->split[&sheet].second = static_cast<uint32_t>(columns);
}

bool Window::FreezePanes() const {
  const xls::Sheet& sheet = ActiveSheet();
  return sheet.frozenRows() || sheet.frozenColumns();
}

void Window::SetFreezePanes(bool freeze) {
  xls::Sheet& sheet = ActiveSheet();
  const bool frozen = sheet.frozenRows() || sheet.frozenColumns();
  if (freeze == frozen) return;
  if (freeze) {
    auto it = doc_->split.find(&sheet);
    // Without a split there is nothing to freeze at.
    if (it == doc_->split.end() || (it->second.first == 0 && it->second.second == 0)) return;
    if (!sheet.FreezePanes(it->second.first, it->second.second)) {
      Raise(kExcelError, "Unable to set the FreezePanes property of the Window class");
    }
    doc_->split.erase(it);
  } else {
    // Unfreezing keeps the split where the frozen panes were.
    doc_->split[&sheet] = {sheet.frozenRows(), sheet.frozenColumns()};
    if (!sheet.FreezePanes(0, 0)) {
      Raise(kExcelError, "Unable to set the FreezePanes property of the Window class");
    }
  }
}

}  // namespace migrator::automation
