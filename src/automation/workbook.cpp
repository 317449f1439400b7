// Workbook, Sheets, Names and Name.

#include <filesystem>
#include <system_error>

#include "automation/excel.h"
#include "automation/excel_state.h"

namespace migrator::automation {

using detail::Check;
using detail::Raise;

// ---- Workbook ----

Workbook::Workbook(std::shared_ptr<detail::AppState> app, std::shared_ptr<detail::Document> doc)
    : app_(std::move(app)), doc_(std::move(doc)) {}

std::shared_ptr<Sheets> Workbook::Sheets() {
  Check(*app_, *doc_);
  return std::make_shared<automation::Sheets>(app_, doc_);
}

std::shared_ptr<Names> Workbook::Names() {
  Check(*app_, *doc_);
  return std::make_shared<automation::Names>(app_, doc_);
}

void Workbook::SaveAs(const SaveAsArgs& args) {
  Check(*app_, *doc_);
  if (args.fileFormat && *args.fileFormat != xlNormal && *args.fileFormat != xlExcel8 &&
      *args.fileFormat != xlOpenXMLWorkbook) {
    Raise(hr::E_NOTIMPL, "Only the Excel 97-2003 (" + std::to_string(xlExcel8) +
                             ") and Excel workbook (" + std::to_string(xlOpenXMLWorkbook) +
                             ") formats can be written.");
  }
  if ((args.password && !args.password->empty()) ||
      (args.writeResPassword && !args.writeResPassword->empty())) {
    Raise(hr::E_NOTIMPL, "Workbooks cannot be saved with a password.");
  }
  if (args.accessMode && *args.accessMode != xlNoChange && *args.accessMode != xlShared &&
      *args.accessMode != xlExclusive) {
    Raise(kExcelError, "SaveAs method of Workbook class failed");
  }
  if (args.fileName.empty()) Raise(kExcelError, "SaveAs method of Workbook class failed");
  std::error_code ec;
  if (app_->displayAlerts && args.fileName != doc_->path &&
      std::filesystem::exists(args.fileName, ec)) {
    // The program would ask whether to replace the file; nobody can answer.
    Raise(kExcelError, "A file named '" + args.fileName +
                           "' already exists in this location. SaveAs method of Workbook class "
                           "failed");
  }
  // The format asked for; without one (or with xlNormal), a workbook never
  // saved takes the one its name says and a saved one keeps its own.
  const xls::FileFormat format = args.fileFormat == xlOpenXMLWorkbook ? xls::FileFormat::kXlsx
                                 : args.fileFormat == xlExcel8        ? xls::FileFormat::kXls
                                 : doc_->path.empty() ? xls::FormatForPath(args.fileName)
                                                      : doc_->book.format();
  if (format != doc_->book.format()) {
    auto converted = doc_->book.ConvertedTo(format);
    if (!converted)
      Raise(kExcelError, "Cannot access '" + args.fileName + "': " + converted.message());
    doc_->book = std::move(*converted);
  }
  // A shared workbook (AccessMode xlShared) is written as an ordinary one.
  auto saved = doc_->book.Save(args.fileName);
  if (!saved) Raise(kExcelError, "Cannot access '" + args.fileName + "': " + saved.message());
  if (args.fileName != doc_->path) doc_->lock.Release();  // another file now
  doc_->path = args.fileName;
  doc_->stamp = StampOf(args.fileName);
  doc_->name = std::filesystem::path(args.fileName).filename().string();
}

void Workbook::Save() {
  Check(*app_, *doc_);
  if (doc_->path.empty()) {
    Raise(kExcelError, "'" + doc_->name + "' has not been saved to a file yet; use SaveAs.");
  }
  if (!(StampOf(doc_->path) == doc_->stamp)) {
    Raise(kExcelError, "'" + doc_->path +
                           "' was changed by another program since it was opened; it is not "
                           "overwritten.");
  }
  auto saved = doc_->book.Save(doc_->path);
  if (!saved) Raise(kExcelError, "Cannot access '" + doc_->path + "': " + saved.message());
  doc_->stamp = StampOf(doc_->path);
}

void Workbook::Close(std::optional<bool> saveChanges) {
  Check(*app_, *doc_);
  if (saveChanges.value_or(false)) Save();
  detail::CloseDocument(*app_, doc_);
}

xls::Workbook Workbook::Release() {
  if (doc_->open) detail::CloseDocument(*app_, doc_);
  return std::move(doc_->book);
}

bool Workbook::MultiUserEditing() const {
  Check(*app_, *doc_);
  return false;
}

bool Workbook::ExclusiveAccess() {
  Check(*app_, *doc_);
  return true;
}

std::string Workbook::Name() const {
  Check(*app_, *doc_);
  return doc_->name;
}

std::string Workbook::FullName() const {
  Check(*app_, *doc_);
  return doc_->path.empty() ? doc_->name : doc_->path;
}

// ---- Sheets ----

Sheets::Sheets(std::shared_ptr<detail::AppState> app, std::shared_ptr<detail::Document> doc)
    : app_(std::move(app)), doc_(std::move(doc)) {}

int Sheets::Count() const {
  Check(*app_, *doc_);
  return static_cast<int>(doc_->book.sheetCount());
}

std::shared_ptr<Worksheet> Sheets::Item(int index) {
  Check(*app_, *doc_);
  if (index < 1 || static_cast<size_t>(index) > doc_->book.sheetCount()) {
    Raise(DISP_E_BADINDEX,
          "There is no sheet " + std::to_string(index) + " in '" + doc_->name + "'.");
  }
  return std::make_shared<Worksheet>(app_, doc_, &doc_->book.sheet(static_cast<size_t>(index - 1)));
}

std::shared_ptr<Worksheet> Sheets::Item(const std::string& name) {
  Check(*app_, *doc_);
  auto index = doc_->book.FindSheet(name);
  if (!index) Raise(DISP_E_BADINDEX, "There is no sheet '" + name + "' in '" + doc_->name + "'.");
  return std::make_shared<Worksheet>(app_, doc_, &doc_->book.sheet(*index));
}

// ---- Names ----

Names::Names(std::shared_ptr<detail::AppState> app, std::shared_ptr<detail::Document> doc)
    : app_(std::move(app)), doc_(std::move(doc)) {}

int Names::Count() const {
  Check(*app_, *doc_);
  return static_cast<int>(doc_->book.nameCount());
}

std::shared_ptr<Name> Names::Item(const std::string& name) {
  Check(*app_, *doc_);
  auto index = doc_->book.FindName(name);
  if (!index) Raise(kExcelError, "There is no name '" + name + "' in '" + doc_->name + "'.");
  return std::make_shared<automation::Name>(app_, doc_, doc_->book.name(*index).name);
}

// ---- Name ----

Name::Name(std::shared_ptr<detail::AppState> app, std::shared_ptr<detail::Document> doc,
           std::string name)
    : app_(std::move(app)), doc_(std::move(doc)), name_(std::move(name)) {}

size_t Name::Index() const {
  Check(*app_, *doc_);
  auto index = doc_->book.FindName(name_);
  if (!index) detail::Disconnected();  // the name was deleted
  return *index;
}

std::string Name::NameText() const {
  Index();
  return name_;
}

std::string Name::Value() const {
  const xls::DefinedName n = doc_->book.name(Index());
  if (n.kind == xls::DefinedName::Kind::kArea && n.sheet < doc_->book.sheetCount()) {
    return "=" + detail::Reference(doc_->book, n.sheet, n.range);
  }
  return "=" + n.reference;
}

void Name::Delete() {
  auto deleted = doc_->book.DeleteName(Index());
  if (!deleted) Raise(kExcelError, "Delete method of Name class failed: " + deleted.message());
}

}  // namespace migrator::automation
