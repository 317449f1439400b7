// Backup of target tables: the structure as a CREATE TABLE text, the rows as
// INSERT statements in a ".data" file, and views (which workbooks lack).

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <memory>
#include <vector>

#include "adapters/excel/excel_adapter.h"
#include "app/output.h"
#include "app/workspace.h"
#include "oledb/data_source.h"
#include "oledb/operations.h"
#include "oledb/properties.h"
#include "oledb/schema_reader.h"
#include "oledb/text.h"
#include "oledb/text_rows.h"
#include "platform/text.h"
#include "support/error_text.h"

namespace migrator {
namespace {

constexpr int kProgressEvery = 1000;

// Values of these types are written between quotes.
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
// as a subtraction.
bool IsDateType(oledb::DBTYPE type) {
  return type == oledb::DBTYPE_DATE || type == oledb::DBTYPE_DBDATE ||
         type == oledb::DBTYPE_DBTIME || type == oledb::DBTYPE_DBTIMESTAMP;
}

// A value of another type is written bare only when it reads back as what it
// is: a plain number ("-12", "0.5", "1e+20") or a truth value. Anything else
// (a text cell in a column of numbers) goes between quotes, so a value can
// never end the statement or become part of its syntax.
bool IsBareNumber(std::string_view v) {
  std::size_t i = 0;
  if (i < v.size() && (v[i] == '+' || v[i] == '-')) ++i;
  std::size_t digits = 0;
  while (i < v.size() && v[i] >= '0' && v[i] <= '9')
    ++i, ++digits;
  if (i < v.size() && v[i] == '.') {
    ++i;
    while (i < v.size() && v[i] >= '0' && v[i] <= '9')
      ++i, ++digits;
  }
  if (digits == 0) return false;
  if (i < v.size() && (v[i] == 'e' || v[i] == 'E')) {
    ++i;
    if (i < v.size() && (v[i] == '+' || v[i] == '-')) ++i;
    std::size_t exponent = 0;
    while (i < v.size() && v[i] >= '0' && v[i] <= '9')
      ++i, ++exponent;
    if (exponent == 0) return false;
  }
  return i == v.size();
}

bool IsBareValue(std::string_view v) {
  return IsBareNumber(v) || EqualNoCase(v, "TRUE") || EqualNoCase(v, "FALSE");
}

// The provider lists a sheet as "name$", or as 'name$' when the name holds a
// blank or punctuation: such an entry is the sheet, not a table.
bool IsSheetEntry(std::string_view table) {
  if (table.size() >= 2 && table.front() == '\'' && table.back() == '\'')
    table = table.substr(1, table.size() - 2);
  const auto dollar = table.find('$');
  return dollar != std::string_view::npos && dollar + 1 == table.size();
}

void NoConnection(Frontend& out) {
  WriteOutput(out, "E::%s", oledb::kNoConnection);
}

}  // namespace

namespace {

// CREATE TABLE `name`( with the columns of `source` as the schema lists them.
std::string StructureOf(Workspace& ws, const std::shared_ptr<oledb::Session>& s,
                        const std::string& source, const std::string& name) {
  std::string text = "CREATE TABLE " + oledb::QuoteIdentifier(name) + "(\n";
  oledb::ColumnsReader columns;
  if (hr::Failed(
          columns.Open(s, oledb::Restrictions().Set(oledb::restriction::kTableName, source)))) {
    return {};
  }
  const bool jet = IsJetProvider(ws.target.Settings().providerId);
  bool first = true;
  while (columns.MoveNext() == hr::S_OK) {
    const oledb::ColumnRecord& c = columns.record();
    if (!first) text += ",\n";
    first = false;
    text += oledb::QuoteIdentifier(c.columnName) + " ";
    text +=
        jet ? ExcelAdapter::JetColumnTypeName(c.columnFlags, c.dataType, c.characterMaximumLength)
            : ExcelAdapter::OtherColumnTypeName(c.columnFlags, c.dataType);
    text += " ";
    if (c.columnHasDefault) {
      text += "default ";
      oledb::AppendQuotedLiteral(text, c.columnDefault);
      text += " ";
    }
  }
  text += ")";
  return text;
}

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

// Opens a data file for writing, made when missing and emptied when there;
// a symbolic link in its place is refused (ELOOP), never followed.
std::FILE* OpenDataFile(const std::string& path) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (fd < 0) return nullptr;
  std::FILE* f = ::fdopen(fd, "w");
  if (!f) ::close(fd);
  return f;
}

}  // namespace

std::string ExcelAdapter::BackupTableStructure(Workspace& ws, oledb::SessionRef session,
                                               const std::string& table) {
  auto s = oledb::Resolve(session);
  if (!s) {
    NoConnection(ws.frontend());
    return oledb::kNoConnection;
  }
  // The sheet entry of the provider's list; its defined name (without the
  // dollar) is the table.
  if (IsSheetEntry(table)) return kUserDefinedName;
  return StructureOf(ws, s, table, table);
}

std::string ExcelAdapter::BackupSheetStructure(Workspace& ws, oledb::SessionRef session,
                                               const std::string& sheetEntry,
                                               const std::string& tableName) {
  auto s = oledb::Resolve(session);
  if (!s) {
    NoConnection(ws.frontend());
    return oledb::kNoConnection;
  }
  return StructureOf(ws, s, sheetEntry, tableName);
}

std::string ExcelAdapter::BackupTableData(Workspace& ws, oledb::SessionRef session,
                                          const std::string& /*database*/, const std::string& table,
                                          const std::string& directory,
                                          const std::string& fileStem) {
  // A name that would leave the directory is refused.
  const std::string fileName = (fileStem.empty() ? table : fileStem) + ".data";
  if (fileName.find('/') != std::string::npos) {
    if (!oledb::Resolve(session)) {
      NoConnection(ws.frontend());
      return oledb::kNoConnection;
    }
    const std::string line = SystemErrorLine(fileName, EINVAL);
    WriteOutputText(ws.frontend(), "E::" + line);
    return line;
  }
  std::string path = directory;
  if (!path.empty() && path.back() != '/') path += '/';
  return BackupTableDataTo(ws, session, table, table, path + fileName);
}

std::string ExcelAdapter::BackupTableDataTo(Workspace& ws, oledb::SessionRef session,
                                            const std::string& table, const std::string& insertName,
                                            const std::string& path) {
  Frontend& ui = ws.frontend();
  auto s = oledb::Resolve(session);
  if (!s) {
    NoConnection(ui);
    return oledb::kNoConnection;
  }

  // 2. The rows.
  const std::string quoted = oledb::QuoteIdentifier(table);
  oledb::CommandRun run =
      oledb::RunCommand(*s, "select * from " + quoted, oledb::StandardRowsetProperties());
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

  // 4. The data file.
  std::unique_ptr<std::FILE, FileCloser> file(OpenDataFile(path));
  if (!file) {
    const std::string line = SystemErrorLine(path, errno);
    WriteOutputText(ui, "E::" + line);
    return line;
  }
  std::fputs(kDataFileHeader, file.get());
  std::fputc('\n', file.get());

  // 5. One statement a line. An empty cell is NULL, whatever its column.
  const std::string head = "insert into " + oledb::QuoteIdentifier(insertName) + " values (";
  oledb::TextRow row;
  long long counter = 0;
  bool stopped = false;
  HRESULT failed = hr::S_OK;
  std::string statement;
  for (;;) {
    const HRESULT next = rowset.GetNextRow();
    if (next != hr::S_OK) {
      if (next != hr::DB_S_ENDOFROWSET) failed = next;
      break;
    }
    if (const HRESULT got = rowset.GetData(row); got != hr::S_OK) {
      failed = got;
      break;
    }
    statement = head;
    for (std::size_t j = 0; j < count; ++j) {
      if (j > 0) statement += ',';
      if (row.IsNull(j)) {
        statement += "NULL";
      } else if (IsTextType(types[j]) || IsDateType(types[j]) || !IsBareValue(row.Value(j))) {
        oledb::AppendQuotedLiteral(statement, row.Value(j));
      } else {
        statement += row.Value(j);
      }
    }
    statement += ")\n";
    ++counter;
    if (counter % kProgressEvery == 0) {
      WriteOutput(ui, "[%s] %lld records backuped!", table.c_str(), counter);
    }
    std::fwrite(statement.data(), 1, statement.size(), file.get());
    if (ws.State() == ControllerState::Stopping) {
      WriteOutputText(ui, "Data Backup Terminaled!");
      stopped = true;
      break;
    }
  }
  // The count goes last, and only under every row: a file that ends
  // anywhere else was cut short.
  if (!stopped && !hr::Failed(failed)) {
    std::fprintf(file.get(), "%s%lld%s\n", kDataFileEndPrefix, counter, kDataFileEndSuffix);
  }

  // 6.
  WriteOutput(ui, "[%s]%8lld records backuped!", table.c_str(), counter);
  const bool written = !std::ferror(file.get());
  const int closeError = std::fclose(file.release()) == 0 ? 0 : errno;
  if (!written || closeError != 0) {
    // A backup that did not reach the disk must not pass for one that did.
    const std::string line = SystemErrorLine(path, closeError != 0 ? closeError : EIO);
    WriteOutputText(ui, "E::" + line);
    return line;
  }
  if (hr::Failed(failed)) {
    // The rows after this one are missing from the file.
    const std::string error = oledb::ErrorDescription(&rowset, oledb::Iid::IRowset);
    WriteOutput(ui, "E::[%s] the rows after row %lld could not be read: %s", table.c_str(), counter,
                error.c_str());
    return error;
  }
  return stopped ? kDataBackupStopped : kDataBackupDone;
}

std::string ExcelAdapter::BackupView(Frontend&, oledb::SessionRef, const std::string&,
                                     const std::string&) {
  return {};
}

}  // namespace migrator
