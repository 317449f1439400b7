// Backup of target tables: the structure as a CREATE TABLE text, the rows as
// INSERT statements in a ".data" file, and views (which workbooks lack).

#include <cerrno>
#include <cstdio>
#include <vector>

#include "adapters/excel/excel_adapter.h"
#include "app/output.h"
#include "app/workspace.h"
#include "oledb/data_source.h"
#include "oledb/operations.h"
#include "oledb/properties.h"
#include "oledb/schema_reader.h"
#include "oledb/text_rows.h"
#include "support/error_text.h"

namespace migrator {
namespace {

constexpr const char* kUserDefinedName = "User Defined Name!";
constexpr int kProgressEvery = 1000;

// Values of these types are written between quotes; a NULL of them is ''.
bool IsTextType(oledb::DBTYPE type) {
  switch (type) {
    case oledb::DBTYPE_BSTR:
    case oledb::DBTYPE_GUID:
    case oledb::DBTYPE_BYTES:
    case oledb::DBTYPE_STR:
    case oledb::DBTYPE_WSTR:
      return true;
    default:
      return false;
  }
}

// Date and time values are quoted too: written bare, 2024-01-31 reads back
// as a subtraction. A NULL of them stays 0, as for every non-text type.
bool IsDateType(oledb::DBTYPE type) {
  return type == oledb::DBTYPE_DATE || type == oledb::DBTYPE_DBDATE ||
         type == oledb::DBTYPE_DBTIME || type == oledb::DBTYPE_DBTIMESTAMP;
}

// 'text' with a quote inside doubled, so the statement can be run again.
void AppendQuoted(std::string& out, const std::string& value) {
  out += '\'';
  for (char c : value) {
    out += c;
    if (c == '\'') out += '\'';
  }
  out += '\'';
}

void NoConnection(Frontend& out) {
  WriteOutput(out, "E::%s", oledb::kNoConnection);
}

}  // namespace

std::string ExcelAdapter::BackupTableStructure(Workspace& ws, oledb::SessionRef session,
                                               const std::string& table) {
  auto s = oledb::Resolve(session);
  if (!s) {
    NoConnection(ws.frontend());
    return oledb::kNoConnection;
  }
  // The sheet entry of the provider's list ("name$"); its defined name
  // (without the dollar) is the table.
  const auto dollar = table.find('$');
  if (dollar != std::string::npos && dollar + 1 == table.size()) return kUserDefinedName;

  std::string text = "CREATE TABLE " + table + "(\n";
  oledb::ColumnsReader columns;
  if (hr::Failed(
          columns.Open(s, oledb::Restrictions().Set(oledb::restriction::kTableName, table)))) {
    return {};
  }
  const bool jet = IsJetProvider(ws.target.Settings().providerId);
  bool first = true;
  while (columns.MoveNext() == hr::S_OK) {
    const oledb::ColumnRecord& c = columns.record();
    if (!first) text += ",\n";
    first = false;
    text += c.columnName + " ";
    text += jet ? JetColumnTypeName(c.columnFlags, c.dataType, c.characterMaximumLength)
                : OtherColumnTypeName(c.columnFlags, c.dataType);
    text += " ";
    if (c.columnHasDefault) text += "default '" + c.columnDefault + "' ";
  }
  text += ")";
  return text;
}

std::string ExcelAdapter::BackupTableData(Workspace& ws, oledb::SessionRef session,
                                          const std::string& /*database*/, const std::string& table,
                                          const std::string& directory) {
  Frontend& ui = ws.frontend();
  auto s = oledb::Resolve(session);
  if (!s) {
    NoConnection(ui);
    return oledb::kNoConnection;
  }

  // 2. The rows.
  oledb::CommandRun run =
      oledb::RunCommand(*s, "select * from " + table, oledb::StandardRowsetProperties());
  if (hr::Failed(run.hr) || !run.rowset) {
    const std::string error = hr::Failed(run.hr) ? run.ErrorText() : oledb::kUnknownError;
    WriteOutputText(ui, "T::" + error);
    return error;
  }
  oledb::Rowset& rowset = *run.rowset;

  // 3. Columns 1..n; the workbook provider reports a bookmark column besides.
  std::vector<oledb::ColumnInfo> columns;
  HRESULT h = rowset.GetColumnInfo(columns);
  if (hr::Failed(h)) {
    const std::string error = oledb::ErrorDescription(&rowset, oledb::Iid::IColumnsInfo);
    WriteOutputText(ui, "T::" + error);
    return error;
  }
  std::size_t count = columns.size();
  if (IsJetProvider(ws.target.Settings().providerId) && count > 0) --count;
  h = rowset.CreateAccessor(count);
  if (hr::Failed(h)) {
    const std::string line = HResultLine(h, "Create Accessor");
    WriteOutputText(ui, line);
    return line;
  }
  // The type of the column each bound value comes from.
  std::vector<oledb::DBTYPE> types(count, oledb::DBTYPE_EMPTY);
  for (const auto& c : columns) {
    if (c.ordinal >= 1 && c.ordinal <= count) types[c.ordinal - 1] = c.type;
  }

  // 4. The data file. A name that would leave the directory is refused.
  const std::string fileName = table + ".data";
  if (fileName.find('/') != std::string::npos) {
    const std::string line = SystemErrorLine(fileName, EINVAL);
    WriteOutputText(ui, line);
    return line;
  }
  std::string path = directory;
  if (!path.empty() && path.back() != '/') path += '/';
  path += fileName;
  std::FILE* file = std::fopen(path.c_str(), "w+");
  if (!file) {
    const std::string line = SystemErrorLine(fileName, errno);
    WriteOutputText(ui, line);
    return line;
  }

  // 5. One statement a line.
  oledb::TextRow row;
  int counter = 0;
  std::string statement;
  for (;;) {
    if (rowset.GetNextRow() != hr::S_OK) break;  // the end, or a row that cannot be fetched
    if (rowset.GetData(row) != hr::S_OK) break;  // a row that cannot be read in full
    statement = "insert into " + table + " values (";
    for (std::size_t j = 0; j < count; ++j) {
      if (j > 0) statement += ',';
      const bool text = IsTextType(types[j]);
      if (row.IsNull(j)) {
        statement += text ? "''" : "0";
      } else if (text || IsDateType(types[j])) {
        AppendQuoted(statement, row.Value(j));
      } else {
        statement += row.Value(j);
      }
    }
    statement += ")\n";
    ++counter;
    if (counter % kProgressEvery == 0) {
      WriteOutput(ui, "[%s] %d records backuped!", table.c_str(), counter);
    }
    std::fwrite(statement.data(), 1, statement.size(), file);
    if (ws.State() == ControllerState::Stopping) {
      WriteOutputText(ui, "Data Backup Terminaled!");
      break;
    }
  }

  // 6.
  WriteOutput(ui, "[%s]%8d records backuped!", table.c_str(), counter);
  const bool written = !std::ferror(file);
  const int closeError = std::fclose(file) == 0 ? 0 : errno;
  if (!written || closeError != 0) {
    // A backup that did not reach the disk must not pass for one that did.
    const std::string line = SystemErrorLine(fileName, closeError != 0 ? closeError : EIO);
    WriteOutputText(ui, "E::" + line);
    return line;
  }
  return "true";
}

std::string ExcelAdapter::BackupView(Frontend&, oledb::SessionRef, const std::string&,
                                     const std::string&) {
  return {};
}

}  // namespace migrator
