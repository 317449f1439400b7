#pragma once
// The state behind the automation objects: one running instance with its open
// workbooks. Internal to automation/.

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "automation/automation_error.h"
#include "platform/workbook_guard.h"
#include "xls/workbook.h"

namespace migrator::automation::detail {

// An open workbook.
struct Document {
  explicit Document(xls::Workbook b) : book(std::move(b)) {}
  xls::Workbook book;
  std::string path;  // the file it was opened from or saved to; empty for a new one
  std::string name;  // "Book1", or the file name
  bool open = true;
  // The file as it was read or last saved: a save refuses to replace a file
  // that another program wrote since.
  FileStamp stamp;
  // The workbook's lock, from Open until the workbook is closed (a workbook
  // lent by a program that holds its lock has none of its own).
  WorkbookLock lock;
  // The window's split of a sheet that is not frozen yet: rows, columns.
  std::map<const xls::Sheet*, std::pair<uint32_t, uint32_t>> split;
};

struct AppState {
  bool running = true;
  bool visible = false;  // an instance started through automation is hidden
  bool displayAlerts = true;
  int booksAdded = 0;
  std::vector<std::shared_ptr<Document>> documents;  // open, in opening order
  std::shared_ptr<Document> active;
};

[[noreturn]] void Raise(HRESULT code, std::string description);
[[noreturn]] void Disconnected();

// Raise RPC_E_DISCONNECTED unless the instance runs (and the workbook is open).
void Check(const AppState& app);
void Check(const AppState& app, const Document& doc);
// The sheet's position, or RPC_E_DISCONNECTED when it was deleted.
size_t SheetIndex(const AppState& app, const Document& doc, const xls::Sheet* sheet);

// Removes a document from the instance's list and marks it closed.
void CloseDocument(AppState& app, const std::shared_ptr<Document>& doc);

// "Sheet1!$A$1:$C$1" with the sheet name quoted when it needs it.
std::string Reference(const xls::Workbook& book, size_t sheet, const xls::Range& area);

// Parses an A1-style reference ("B2", "$A$1:$C$4"); false when it is not one
// or lies outside a sheet of the format whose `limits` are given.
bool ParseAddress(std::string_view text, const xls::Limits& limits, xls::Range& area);

}  // namespace migrator::automation::detail
