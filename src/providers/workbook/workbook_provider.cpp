#include "providers/workbook/workbook_provider.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "oledb/data_source.h"
#include "oledb/memory_rowset.h"
#include "oledb/text.h"
#include "platform/workbook_guard.h"
#include "providers/workbook/sql.h"
#include "providers/workbook/tables.h"
#include "xls/big_alloc.h"
#include "xls/workbook.h"

namespace migrator::providers::workbook {
namespace {

using namespace oledb;  // NOLINT: the provider speaks the layer's language throughout

HRESULT Failure(ErrorRecords& errors, HRESULT h, std::string description) {
  errors.push_back(ErrorRecord{h, std::move(description), kProviderName, 0, ""});
  return h;
}

// The HRESULT a statement's failure carries (tables.cpp puts it in the error's
// code), E_FAIL when it has none.
HRESULT CodeOf(const Error& e) {
  return e.code < 0 ? static_cast<HRESULT>(e.code) : hr::E_FAIL;
}

// A file's bytes, in memory that is mapped in large pages: a workbook is
// read in one piece, and fresh memory costs a fault per page.
using FileBytes = std::vector<std::uint8_t, xls::BigUninitAlloc<std::uint8_t>>;

// Reads a whole file and the stamp of what was read; an errno text on failure.
Status ReadWholeFile(const std::string& path, FileBytes& out, FileStamp& stamp) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return Fail(std::strerror(errno));
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    const int e = errno;
    ::close(fd);
    return Fail(std::strerror(e));
  }
  if (S_ISDIR(st.st_mode)) {
    ::close(fd);
    return Fail("it is a folder");
  }
  out.clear();
  // Read straight into the buffer; a file that grew since fstat is read on
  // to its end.
  out.resize(st.st_size > 0 ? static_cast<std::size_t>(st.st_size) : 0);
  std::size_t got = 0;
  for (;;) {
    std::uint8_t more[1 << 12];
    const bool full = got == out.size();
    const ssize_t n =
        full ? ::read(fd, more, sizeof more) : ::read(fd, out.data() + got, out.size() - got);
    if (n < 0) {
      if (errno == EINTR) continue;
      const int e = errno;
      ::close(fd);
      return Fail(std::strerror(e));
    }
    if (n == 0) break;
    if (full) out.insert(out.end(), more, more + n);
    got += static_cast<std::size_t>(n);
  }
  out.resize(got);
  // A file written while it was read may be torn: its stamp then matches
  // nothing, and it is never taken for the file as it is.
  struct stat after {};
  stamp = ::fstat(fd, &after) == 0 && FileStamp::Of(after) == FileStamp::Of(st) ? FileStamp::Of(st)
                                                                                : FileStamp{};
  ::close(fd);
  return {};
}

// The workbook that a data source holds, with everything its sessions and
// rowsets share. Touched only under the data source's lock (the layer holds
// it for every call, and while provider objects are destroyed).
struct WorkbookFile {
  std::string displayPath;  // as given
  std::string filePath;     // absolute
  bool readOnly = false;
  std::unique_ptr<xls::Workbook> book;
  std::unique_ptr<WorkbookTables> tables;
  bool dirty = false;  // rows were inserted since the last save
  // A session's open transaction: nothing is saved until it commits.
  const void* transaction = nullptr;
  bool transactionLost = false;  // a failed statement read the file again under it
  std::uint64_t generation = 0;  // counts replacements of `book`; rowsets check it
  std::string broken;            // why the workbook cannot be used any more
  FileStamp stamp;               // the file as `book` was last read from or saved to
  // Held from the first change until the workbook is saved again: no other
  // writer (process or data source) changes the file meanwhile.
  WorkbookLock lock;
  std::chrono::milliseconds lockWait = kWorkbookLockWait;
  // A wait for the lock ran out: the changes that follow (the other rows of
  // a table) try once each, without waiting again, until one gets it.
  bool waitedInVain = false;

  Status Load() {
    FileBytes bytes;
    FileStamp read;
    if (auto st = ReadWholeFile(filePath, bytes, read); !st)
      return Fail("The workbook \"" + displayPath + "\" cannot be read: " + st.message() + ".");
    auto parsed = xls::Workbook::Parse(bytes);
    if (!parsed)
      return Fail("\"" + displayPath +
                  "\" is not a workbook that can be opened: " + parsed.message() + ".");
    ++generation;
    tables.reset();
    book = std::make_unique<xls::Workbook>(std::move(*parsed));
    tables = std::make_unique<WorkbookTables>(*book);
    stamp = read;
    dirty = false;
    return {};
  }

  // Before a change: takes the lock (waiting for another writer, within
  // bounds) and, when the file is no longer the one read and nothing is
  // held for it, reads it again, so that the change goes into the file as
  // it is now. A workbook that may not be written is refused here, before
  // anything changes.
  Status BeginWrite() {
    if (!book) return Fail(broken);
    if (lock.held()) return {};
    if (auto writable = CheckWritable(filePath); !writable)
      return Fail("The workbook \"" + displayPath + "\" cannot be changed: " + writable.message() +
                  ".");
    auto taken =
        WorkbookLock::Acquire(filePath, waitedInVain ? std::chrono::milliseconds(0) : lockWait);
    waitedInVain = !taken;
    if (!taken) return Fail(taken.message());
    lock = std::move(*taken);
    if (!dirty && !(StampOf(filePath) == stamp)) {
      if (auto st = Load(); !st) {
        lock.Release();
        return st;
      }
    }
    return {};
  }

  // After a change: with nothing held for the file any more, others may
  // write. An open transaction keeps the lock until it ends.
  void EndWrite() {
    if (!dirty && !transaction) lock.Release();
  }
  // Calls EndWrite when it goes out of scope.
  struct WriteEnd {
    WorkbookFile& file;
    ~WriteEnd() { file.EndWrite(); }
  };

  // Replaces the file by the workbook, unless the file is no longer the one
  // the workbook was read from or saved to (another program wrote it): that
  // is never overwritten.
  Status Save() {
    if (!book) return Fail(broken);
    if (!(StampOf(filePath) == stamp))
      return Fail("the workbook \"" + displayPath +
                  "\" was changed by another program since it was read, and is not "
                  "overwritten");
    if (auto st = book->Save(filePath); !st) return st;
    stamp = StampOf(filePath);
    dirty = false;
    return {};
  }

  // After a statement failed half-way or could not be saved: the file holds
  // the state before the statement, so read it again.
  void Restore() {
    if (auto st = Load(); !st) {
      ++generation;
      tables.reset();
      book.reset();
      broken = "The workbook \"" + displayPath +
               "\" could not be read again after a failed change and cannot be used any more: " +
               st.message();
    }
  }
};

// ---------------------------------------------------------------------------
// The rowset of SELECT: cells read from the workbook as the rows are fetched.

class TableRowset : public ProviderRowset {
 public:
  TableRowset(WorkbookFile& file, TableRef table, std::vector<TableColumn> columns)
      : file_(file),
        generation_(file.generation),
        table_(std::move(table)),
        columns_(std::move(columns)) {
    const auto [first, last] = WorkbookTables::DataRows(table_);
    firstRow_ = first;
    lastRow_ = last;
    firstCol_ = table_.range ? table_.range->firstCol : 0;
  }

  HRESULT GetColumnInfo(std::vector<ColumnInfo>& columns, ErrorRecords&) override {
    columns.clear();
    columns.reserve(columns_.size() + 1);
    ColumnInfo bookmark;
    bookmark.ordinal = 0;
    bookmark.type = DBTYPE_I4;
    bookmark.flags = DBCOLUMNFLAGS_ISBOOKMARK | DBCOLUMNFLAGS_ISFIXEDLENGTH;
    bookmark.size = 4;
    columns.push_back(std::move(bookmark));
    for (std::size_t i = 0; i < columns_.size(); ++i) {
      ColumnInfo c;
      c.name = columns_[i].name;
      c.ordinal = i + 1;
      c.type = DbTypeOf(columns_[i].kind);
      c.flags = FlagsOf(columns_[i].kind);
      c.size = SizeOf(columns_[i].kind);
      c.precision = columns_[i].kind == DataKind::Number ? 15 : 0;
      columns.push_back(std::move(c));
    }
    return hr::S_OK;
  }

  HRESULT CreateAccessor(std::span<const DBORDINAL> ordinals, ErrorRecords& errors) override {
    for (DBORDINAL o : ordinals) {
      if (o > columns_.size())
        return Failure(errors, hr::DB_E_BADORDINAL,
                       "The rowset has no column " + std::to_string(o) + ".");
    }
    bound_.assign(ordinals.begin(), ordinals.end());
    return hr::S_OK;
  }

  HRESULT GetNextRow(ErrorRecords& errors) override {
    if (HRESULT h = CheckWorkbook(errors); hr::Failed(h)) return h;
    if (!started_) {
      started_ = true;
      next_ = firstRow_;
    }
    if (next_ < firstRow_ || next_ > lastRow_) {
      onRow_ = false;
      return hr::DB_S_ENDOFROWSET;
    }
    current_ = next_++;
    onRow_ = true;
    return hr::S_OK;
  }

  HRESULT GetData(TextRow& row, ErrorRecords& errors) override {
    if (HRESULT h = CheckWorkbook(errors); hr::Failed(h)) return h;
    if (!onRow_) return Failure(errors, hr::DB_E_BADROWHANDLE, "There is no current row.");
    row.Resize(bound_.size());
    row.valueTypes.resize(bound_.size());
    for (std::size_t slot = 0; slot < bound_.size(); ++slot) {
      const DBORDINAL o = bound_[slot];
      if (o == 0) {
        row.SetText(slot, std::to_string(current_ - firstRow_ + 1));
        row.valueTypes[slot] = DBTYPE_I4;
        continue;
      }
      const std::uint32_t col = firstCol_ + static_cast<std::uint32_t>(o - 1);
      DataKind kind = DataKind::Text;
      if (file_.tables->CellText(table_.sheet, current_, col, row.values[slot], &kind)) {
        row.status[slot] = DBSTATUS_S_OK;
        row.valueTypes[slot] = DbTypeOf(kind);
      } else {
        row.SetNull(slot);
        row.valueTypes[slot] = DBTYPE_EMPTY;
      }
    }
    return hr::S_OK;
  }

 private:
  HRESULT CheckWorkbook(ErrorRecords& errors) const {
    if (file_.generation != generation_ || !file_.tables)
      return Failure(errors, hr::E_UNEXPECTED,
                     "The workbook was read again after a failed change; this rowset has ended.");
    return hr::S_OK;
  }
  WorkbookFile& file_;
  std::uint64_t generation_;
  TableRef table_;
  std::vector<TableColumn> columns_;
  std::vector<DBORDINAL> bound_;
  std::uint32_t firstRow_ = 1, lastRow_ = 0, firstCol_ = 0;
  std::uint32_t next_ = 0, current_ = 0;
  bool started_ = false;
  bool onRow_ = false;
};

// ---------------------------------------------------------------------------
// Session

class WorkbookSession : public ProviderSession {
 public:
  explicit WorkbookSession(WorkbookFile& file) : file_(file) {}

  // Inserted rows are saved when the session goes at the latest. A failure
  // here has no one to tell (callers that must know flush first); the data
  // source tries again when it goes. A transaction left open is undone.
  ~WorkbookSession() override {
    if (file_.transaction == this) {
      EndTransaction();
      file_.Restore();
    }
    if (file_.dirty && !file_.transaction) (void)file_.Save();
    file_.EndWrite();
  }

  // Saves the rows inserted since the last save. When that fails they stay
  // held (a later flush or release tries again) and the file on disk is the
  // one before, whole.
  HRESULT Flush(ErrorRecords& errors) override {
    if (file_.transaction)
      return Failure(errors, hr::E_UNEXPECTED,
                     "A transaction is open on the workbook \"" + file_.displayPath +
                         "\": its changes are saved when it commits.");
    if (!file_.dirty) return hr::S_OK;
    if (auto st = file_.Save(); !st)
      return Failure(errors, hr::E_FAIL,
                     "The rows added to the workbook \"" + file_.displayPath +
                         "\" since it was last saved are not in the file: " + st.message());
    file_.EndWrite();
    return hr::S_OK;
  }

  // A transaction: statements change the workbook in memory only, and Commit
  // saves them all at once (the file is replaced whole, so it holds either
  // every change or none). Abort reads the file again.
  HRESULT StartTransaction(ErrorRecords& errors) override {
    if (!file_.tables) return Failure(errors, hr::E_UNEXPECTED, file_.broken);
    if (file_.readOnly) return ReadOnly(errors);
    if (file_.transaction)
      return Failure(errors, hr::E_UNEXPECTED, "A transaction is already open on the workbook.");
    // Held until the transaction ends: nobody else writes the file meanwhile.
    if (auto st = file_.BeginWrite(); !st)
      return Failure(errors, hr::E_FAIL, "The transaction was not started: " + st.message());
    // The rows inserted before it are not part of it.
    if (file_.dirty) {
      if (auto st = file_.Save(); !st)
        return Failure(errors, hr::E_FAIL,
                       "The transaction was not started: the rows added before it cannot be "
                       "saved: " +
                           st.message());
    }
    file_.transaction = this;
    file_.transactionLost = false;
    return hr::S_OK;
  }

  HRESULT Commit(ErrorRecords& errors) override {
    if (file_.transaction != this)
      return Failure(errors, hr::E_UNEXPECTED, "No transaction is open on this session.");
    const bool lost = file_.transactionLost;
    EndTransaction();
    WorkbookFile::WriteEnd end{file_};
    if (lost)
      return Failure(errors, hr::E_FAIL,
                     "The transaction was undone: a statement in it failed and the workbook "
                     "was read again.");
    if (!file_.dirty) return hr::S_OK;
    if (auto st = file_.Save(); !st) {
      file_.Restore();
      return Failure(errors, hr::E_FAIL,
                     "The changes were undone because the workbook \"" + file_.displayPath +
                         "\" cannot be saved: " + st.message());
    }
    return hr::S_OK;
  }

  HRESULT Abort(ErrorRecords& errors) override {
    if (file_.transaction != this)
      return Failure(errors, hr::E_UNEXPECTED, "No transaction is open on this session.");
    const bool changed = file_.dirty || file_.transactionLost;
    EndTransaction();
    if (changed) file_.Restore();
    file_.EndWrite();
    return hr::S_OK;
  }

  HRESULT Execute(std::string_view text, const PropertySet&,
                  std::unique_ptr<ProviderRowset>& rowset, ErrorRecords& errors) override {
    rowset.reset();
    if (!file_.tables) return Failure(errors, hr::E_UNEXPECTED, file_.broken);
    if (auto st = ParseStatement(text, statement_); !st)
      return Failure(errors, hr::DB_E_ERRORSINCOMMAND, st.message());

    WorkbookTables& tables = *file_.tables;
    switch (statement_.kind) {
      case Statement::Kind::Select: {
        auto table = tables.Resolve(statement_.table);
        if (!table) return Failure(errors, CodeOf(table.error()), table.message());
        auto columns = tables.Columns(*table);
        rowset = std::make_unique<TableRowset>(file_, std::move(*table), std::move(columns));
        return hr::S_OK;
      }
      case Statement::Kind::Insert: {
        if (file_.readOnly) return ReadOnly(errors);
        if (auto st = file_.BeginWrite(); !st) return Failure(errors, hr::E_FAIL, st.message());
        // The workbook may have been read again: its tables are new.
        if (auto st = file_.tables->Insert(statement_); !st) {
          file_.EndWrite();
          return Failure(errors, CodeOf(st.error()), st.message());
        }
        file_.dirty = true;
        return hr::S_OK;
      }
      case Statement::Kind::CreateTable:
      case Statement::Kind::DropTable:
        return RunDdl(errors);
    }
    return Failure(errors, hr::E_UNEXPECTED, "The statement was not run.");
  }

  HRESULT OpenSchemaRowset(Schema schema, const Restrictions& restrictions,
                           std::unique_ptr<ProviderRowset>& rowset, ErrorRecords& errors) override {
    rowset.reset();
    if (!file_.tables) return Failure(errors, hr::E_UNEXPECTED, file_.broken);
    switch (schema) {
      case Schema::Tables:
        rowset = TablesRowset(restrictions);
        return hr::S_OK;
      case Schema::Columns:
        rowset = ColumnsRowset(restrictions);
        return hr::S_OK;
      case Schema::Indexes:
        // A workbook has no indexes.
        rowset = std::make_unique<MemoryRowset>(SchemaColumnInfo(Schema::Indexes));
        return hr::S_OK;
      case Schema::Catalogs:
        break;
    }
    return Failure(errors, hr::E_INVALIDARG,
                   std::string("The workbook provider does not support the schema rowset ") +
                       SchemaName(schema) + ".");
  }

 private:
  void EndTransaction() {
    file_.transaction = nullptr;
    file_.transactionLost = false;
  }

  HRESULT ReadOnly(ErrorRecords& errors) {
    return Failure(errors, hr::DB_SEC_E_PERMISSIONDENIED,
                   "The workbook \"" + file_.displayPath + "\" is open read-only.");
  }

  // CREATE TABLE and DROP TABLE: saved at once, or nothing changes. Inside
  // a transaction they wait for its commit.
  HRESULT RunDdl(ErrorRecords& errors) {
    if (file_.readOnly) return ReadOnly(errors);
    const char* what = StatementName(statement_.kind);
    if (auto st = file_.BeginWrite(); !st)
      return Failure(errors, hr::E_FAIL, std::string(what) + " was not run: " + st.message());
    HRESULT h = ApplyDdl(errors, what);
    file_.EndWrite();
    return h;
  }

  HRESULT ApplyDdl(ErrorRecords& errors, const char* what) {
    // The rows inserted so far go first, so that the file on disk is the
    // state to go back to.
    if (file_.dirty && !file_.transaction) {
      if (auto st = file_.Save(); !st)
        return Failure(
            errors, hr::E_FAIL,
            std::string(what) +
                " was not run: the rows added before it cannot be saved: " + st.message());
    }
    const bool create = statement_.kind == Statement::Kind::CreateTable;
    Status applied =
        create ? file_.tables->CreateTable(statement_) : file_.tables->DropTable(statement_);
    if (!applied) {
      // CREATE TABLE undoes its own changes; DROP TABLE may have cleared some
      // cells before it failed.
      if (!create) {
        file_.Restore();
        if (file_.transaction) file_.transactionLost = true;
      }
      return Failure(errors, CodeOf(applied.error()), applied.message());
    }
    if (file_.transaction) {
      file_.dirty = true;
      return hr::S_OK;
    }
    if (auto st = file_.Save(); !st) {
      file_.Restore();
      return Failure(errors, hr::E_FAIL,
                     std::string(what) + " " + statement_.table +
                         " was undone because the workbook cannot be saved: " + st.message());
    }
    return hr::S_OK;
  }

  static bool Matches(const Restrictions& r, std::size_t pos, std::string_view value) {
    const auto& want = r.At(pos);
    return !want || want->empty() || EqualsNoCase(*want, value);
  }

  std::unique_ptr<ProviderRowset> TablesRowset(const Restrictions& r) {
    auto rows = std::make_unique<MemoryRowset>(SchemaColumnInfo(Schema::Tables));
    const auto& type = r.At(restriction::kTableType);
    if (type && !type->empty() && !EqualsNoCase(*type, "TABLE")) return rows;  // no views
    for (const TableRef& t : file_.tables->List()) {
      if (!Matches(r, restriction::kTableName, t.listedName)) continue;
      rows->AddRow({std::nullopt, std::nullopt, t.listedName, std::string("TABLE"), std::nullopt,
                    std::nullopt, std::nullopt, std::nullopt, std::nullopt});
    }
    return rows;
  }

  std::unique_ptr<ProviderRowset> ColumnsRowset(const Restrictions& r) {
    auto rows = std::make_unique<MemoryRowset>(SchemaColumnInfo(Schema::Columns));
    std::vector<TableRef> tables;
    const auto& name = r.At(restriction::kTableName);
    if (name && !name->empty()) {
      if (auto t = file_.tables->Resolve(*name)) tables.push_back(std::move(*t));
    } else {
      tables = file_.tables->List();
    }
    for (const TableRef& t : tables) {
      const auto columns = file_.tables->Columns(t);
      for (std::size_t i = 0; i < columns.size(); ++i) {
        const TableColumn& c = columns[i];
        if (!Matches(r, restriction::kColumnName, c.name)) continue;
        const DBCOLUMNFLAGS flags = FlagsOf(c.kind);
        const bool text = c.kind == DataKind::Text;
        using V = MemoryRowset::Value;
        rows->AddRow({
            V(), V(), t.listedName, c.name,  // catalog, schema, table, column
            V(),                             // COLUMN_GUID
            V(),                             // COLUMN_PROPID
            std::to_string(i + 1),           // ORDINAL_POSITION
            std::string("0"),                // COLUMN_HASDEFAULT
            V(),                             // COLUMN_DEFAULT
            std::to_string(flags),           // COLUMN_FLAGS
            std::string((flags & DBCOLUMNFLAGS_ISNULLABLE) ? "1" : "0"),  // IS_NULLABLE
            std::to_string(DbTypeOf(c.kind)),                             // DATA_TYPE
            V(),                                                          // TYPE_GUID
            text ? V(std::to_string(SizeOf(c.kind))) : V(),           // CHARACTER_MAXIMUM_LENGTH
            text ? V(std::to_string(SizeOf(c.kind) * 2)) : V(),       // CHARACTER_OCTET_LENGTH
            c.kind == DataKind::Number ? V(std::string("15")) : V(),  // NUMERIC_PRECISION
            V(),                                                      // NUMERIC_SCALE
            V(),                                                      // DATETIME_PRECISION
        });
      }
    }
    return rows;
  }

  WorkbookFile& file_;
  Statement statement_;  // reused from statement to statement
};

// ---------------------------------------------------------------------------
// Data source

// Checks the provider string: "Excel 8.0;HDR=Yes;" and the settings around
// it that change nothing here.
Status CheckProviderString(std::string_view s) {
  bool excel = false;
  while (!s.empty()) {
    const std::size_t semi = s.find(';');
    std::string_view part = s.substr(0, semi);
    s = semi == std::string_view::npos ? std::string_view() : s.substr(semi + 1);
    while (!part.empty() && part.front() == ' ')
      part.remove_prefix(1);
    while (!part.empty() && part.back() == ' ')
      part.remove_suffix(1);
    if (part.empty()) continue;
    const std::size_t eq = part.find('=');
    if (eq == std::string_view::npos) {
      if (EqualsNoCase(part, "Excel 8.0")) {
        excel = true;
        continue;
      }
      return Fail("Could not find installable ISAM \"" + std::string(part) +
                  "\": only \"Excel 8.0\" workbooks are supported.");
    }
    std::string_view key = part.substr(0, eq);
    std::string_view value = part.substr(eq + 1);
    while (!key.empty() && key.back() == ' ')
      key.remove_suffix(1);
    while (!value.empty() && value.front() == ' ')
      value.remove_prefix(1);
    if (EqualsNoCase(key, "HDR")) {
      if (EqualsNoCase(value, "Yes")) continue;
      return Fail(
          "HDR=" + std::string(value) +
          " is not supported: the first row of every table holds its column names (HDR=Yes).");
    }
    if (EqualsNoCase(key, "IMEX") || EqualsNoCase(key, "MaxScanRows") ||
        EqualsNoCase(key, "ReadOnly"))
      continue;
    return Fail("The provider string setting \"" + std::string(part) + "\" is not understood.");
  }
  (void)excel;  // an empty provider string means the same
  return {};
}

class WorkbookDataSource : public ProviderDataSource {
 public:
  ~WorkbookDataSource() override {
    if (file_.dirty && !file_.transaction) (void)file_.Save();
  }

  HRESULT Initialize(const PropertySet& init, ErrorRecords& errors) override {
    const auto path = init.FindText(DBPROP_INIT_DATASOURCE);
    if (!path || path->empty())
      return Failure(errors, hr::E_FAIL,
                     "No workbook was named: the data source (DBPROP_INIT_DATASOURCE) is empty.");
    if (const auto ps = init.FindText(DBPROP_INIT_PROVIDERSTRING)) {
      if (auto st = CheckProviderString(*ps); !st)
        return Failure(errors, hr::DB_E_BADINITSTRING, st.message());
    }
    if (const auto mode = init.FindI4(DBPROP_INIT_MODE)) file_.readOnly = (*mode & 3) == 1;
    // How long a change waits for another writer of the workbook.
    if (const auto wait = init.FindI4(DBPROP_INIT_GENERALTIMEOUT); wait && *wait >= 0)
      file_.lockWait = std::chrono::seconds(*wait);

    file_.displayPath = *path;
    std::error_code ec;
    const auto absolute = std::filesystem::absolute(*path, ec);
    file_.filePath = ec ? *path : absolute.string();

    struct stat st {};
    if (::stat(file_.filePath.c_str(), &st) != 0) {
      const int e = errno;
      if (e == ENOENT || e == ENOTDIR)
        return Failure(errors, hr::E_FAIL, "The workbook \"" + *path + "\" does not exist.");
      return Failure(errors, hr::E_FAIL,
                     "The workbook \"" + *path + "\" cannot be read: " + std::strerror(e) + ".");
    }
    if (S_ISDIR(st.st_mode))
      return Failure(errors, hr::E_FAIL, "\"" + *path + "\" is a folder, not a workbook.");
    // What saves that never finished left beside it goes now.
    if (!file_.readOnly) {
      xls::RemoveStaleSaveFiles(file_.filePath);
      RemoveStaleWorkbookLock(file_.filePath);
    }
    if (auto loaded = file_.Load(); !loaded) return Failure(errors, hr::E_FAIL, loaded.message());
    return hr::S_OK;
  }

  HRESULT GetInfo(DBPROPID id, std::string& value, ErrorRecords& errors) override {
    switch (id) {
      case DBPROP_DBMSNAME:
        value = kDbmsName;
        return hr::S_OK;
      case DBPROP_DBMSVER:
        // The format of the workbook open: "BIFF8" (.xls) or "OOXML" (.xlsx).
        value = file_.tables && file_.tables->book().format() == xls::FileFormat::kXlsx
                    ? kDbmsVersionXlsx
                    : kDbmsVersion;
        return hr::S_OK;
      case DBPROP_DATASOURCENAME:
        value = file_.displayPath;
        return hr::S_OK;
      case DBPROP_CURRENTCATALOG: {
        value = file_.displayPath;
        constexpr std::string_view kExtension = ".xls";
        if (value.size() >= kExtension.size() &&
            value.compare(value.size() - kExtension.size(), kExtension.size(), kExtension) == 0)
          value.resize(value.size() - kExtension.size());
        return hr::S_OK;
      }
      default:
        break;
    }
    return Failure(errors, hr::DB_E_ERRORSOCCURRED,
                   "The workbook provider has no information property " + std::to_string(id) + ".");
  }

  HRESULT CreateSession(std::unique_ptr<ProviderSession>& session, ErrorRecords&) override {
    session = std::make_unique<WorkbookSession>(file_);
    return hr::S_OK;
  }

  std::optional<std::vector<std::string>> SheetsOutsideTables() const {
    if (!file_.tables) return std::nullopt;
    const std::vector<TableRef> tables = file_.tables->List();
    std::vector<std::string> out;
    for (const TableRef& sheet : tables) {
      if (!sheet.isSheet || !sheet.range) continue;
      const xls::Range& used = *sheet.range;
      bool covered = false;
      for (const TableRef& t : tables) {
        if (t.isSheet || t.sheet != sheet.sheet || !t.range) continue;
        const xls::Range& r = *t.range;
        covered = covered || (r.firstRow <= used.firstRow && used.lastRow <= r.lastRow &&
                              r.firstCol <= used.firstCol && used.lastCol <= r.lastCol);
      }
      if (!covered) out.push_back(sheet.listedName);
    }
    return out;
  }

  bool Lend(const std::string& path,
            const std::function<bool(xls::Workbook&, const std::string&)>& use) {
    if (!file_.book || file_.readOnly || file_.transaction) return false;
    // Held for the length of the loan; a workbook read again here is lent
    // as the file holds it now.
    if (!file_.BeginWrite()) return false;
    WorkbookFile::WriteEnd end{file_};
    // The file must be the one the workbook was read from or saved to; an
    // empty stamp (nothing there, a torn read) matches nothing. Rows not
    // saved yet are not saved here: the save of `use` takes them with its
    // changes, so the file is written once.
    const FileStamp now = StampOf(path);
    if (now.empty() || !(now == file_.stamp)) {
      if (file_.dirty) (void)file_.Save();
      return false;
    }
    bool same = false;
    try {
      same = use(*file_.book, file_.filePath);
    } catch (...) {
      same = false;
    }
    if (same) {
      file_.stamp = StampOf(file_.filePath);
      file_.dirty = false;
      // What INSERT remembered of the tables is worked out afresh.
      file_.tables = std::make_unique<WorkbookTables>(*file_.book);
    } else if (file_.dirty) {
      // Reading the file again would lose the rows it does not hold yet:
      // they are saved with the workbook as `use` left it, or, when that
      // fails, stay held for the next flush (which reports the failure).
      file_.tables = std::make_unique<WorkbookTables>(*file_.book);
      (void)file_.Save();
    } else {
      file_.Restore();
    }
    return true;
  }

 private:
  WorkbookFile file_;
};

}  // namespace

std::optional<std::vector<std::string>> SheetsOutsideTables(oledb::DataSource& dataSource) {
  std::optional<std::vector<std::string>> sheets;
  dataSource.WithProvider([&](ProviderDataSource& provider) {
    if (auto* ours = dynamic_cast<WorkbookDataSource*>(&provider))
      sheets = ours->SheetsOutsideTables();
  });
  return sheets;
}

bool LendWorkbook(oledb::DataSource& dataSource, const std::string& path,
                  const std::function<bool(xls::Workbook& book, const std::string& file)>& use) {
  bool lent = false;
  dataSource.WithProvider([&](ProviderDataSource& provider) {
    if (auto* ours = dynamic_cast<WorkbookDataSource*>(&provider)) lent = ours->Lend(path, use);
  });
  return lent;
}

std::unique_ptr<ProviderDataSource> CreateDataSource() {
  return std::make_unique<WorkbookDataSource>();
}

}  // namespace migrator::providers::workbook
