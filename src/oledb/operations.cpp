#include "oledb/operations.h"

#include <chrono>
#include <thread>

#include "app/output.h"
#include "oledb/data_source.h"
#include "oledb/properties.h"
#include "oledb/text_rows.h"
#include "support/error_text.h"

namespace migrator::oledb {
namespace {

// Shows the wait cursor for its lifetime.
class BusyCursor {
 public:
  explicit BusyCursor(Frontend& out) : out_(out) { out_.SetBusy(true); }
  ~BusyCursor() { out_.SetBusy(false); }
  BusyCursor(const BusyCursor&) = delete;
  BusyCursor& operator=(const BusyCursor&) = delete;

 private:
  Frontend& out_;
};

}  // namespace

bool ExecuteStatement(Frontend& out, SessionRef session, std::string_view statement, int report) {
  auto s = Resolve(session);
  if (!s) {
    WriteOutputText(out, "E::No Connection!");
    return false;
  }
  CommandRun run = RunCommand(*s, statement, StandardRowsetProperties());
  if (hr::Failed(run.hr)) {
    if (report == 1) WriteOutputText(out, "T::" + run.ErrorText());
    return false;
  }
  if (!run.rowset) {
    if (report == 1) WriteOutputText(out, kResultSuccess);
    return true;
  }
  // A rowset is released unread.
  return true;
}

bool RunStatementAndList(Frontend& out, SessionRef session, std::string_view statement,
                         int report) {
  auto s = Resolve(session);
  if (!s) {
    WriteOutputText(out, SystemErrorLine(kNoConnection));
    return false;
  }
  BusyCursor busy(out);
  CommandRun run = RunCommand(*s, statement, StandardRowsetProperties());
  if (hr::Failed(run.hr)) {
    WriteOutputText(out, run.ErrorText());
    return false;
  }
  if (!run.rowset) {
    if (report == 1) WriteOutputText(out, kResultSuccess);
    return true;
  }
  Rowset& rowset = *run.rowset;
  std::vector<ColumnInfo> columns;
  HRESULT h = rowset.GetColumnInfo(columns);
  if (hr::Failed(h)) {
    WriteOutputText(out, ErrorDescription(&rowset, Iid::IColumnsInfo));
    return false;
  }
  std::size_t count = 0;
  for (const auto& c : columns)
    count += c.IsBookmark() || c.ordinal == 0 ? 0 : 1;
  h = rowset.CreateAccessor(count);
  if (hr::Failed(h)) {
    WriteOutputText(out, ErrorDescription(&rowset, Iid::IAccessor));
    return false;
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(10));
  TextRow row;
  int listed = 0;
  while (rowset.GetNextRow() == hr::S_OK) {
    if (listed >= kListedRows) continue;  // fetched, not listed
    ++listed;
    // A row that cannot be read lists nothing; the move decides the loop.
    if (hr::Failed(rowset.GetData(row))) continue;
    for (std::size_t i = 0; i < row.size(); ++i) {
      WriteOutputText(out,
                      row.IsNull(i) ? std::string_view("(NULL)") : std::string_view(row.Value(i)));
    }
  }
  return true;
}

bool FlushSession(Frontend& out, SessionRef session, int report) {
  auto s = Resolve(session);
  if (!s) {
    WriteOutputText(out, "E::No Connection!");
    return false;
  }
  if (hr::Succeeded(s->Flush())) return true;
  if (report == 1) WriteOutputText(out, "E::" + ErrorDescription(s.get(), Iid::ITransaction));
  return false;
}

bool CloseConnection(Frontend& out, SessionSlot& session, DataSourceSlot& dataSource) {
  const bool saved = session.Empty() || FlushSession(out, &session, 1);
  session.Reset();
  dataSource.Reset();
  return saved;
}

std::string QuerySingleValue(Frontend& out, SessionRef session, std::string_view statement) {
  auto s = Resolve(session);
  if (!s) {
    WriteOutputText(out, SystemErrorLine(kNoConnection));
    return kNoConnection;
  }
  std::string value;
  TextReadOptions options;
  options.withRowsetChange = true;
  TextReadResult r = ReadTextRows(
      s, statement,
      [&value](const TextRow& row) {
        value = row.size() > 0 ? row.Value(0) : std::string();
        return true;
      },
      options);
  switch (r.outcome) {
    case TextReadOutcome::MissingSession:
      return kNoConnection;
    case TextReadOutcome::Failed:
      return r.errorText;
    case TextReadOutcome::NoRowset:
      return kResultSuccess;
    case TextReadOutcome::Rows:
      break;
  }
  return value;
}

}  // namespace migrator::oledb
