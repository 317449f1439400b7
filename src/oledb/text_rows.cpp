#include "oledb/text_rows.h"

#include "oledb/properties.h"

namespace migrator::oledb {

std::string CommandRun::ErrorText() const {
  return ErrorDescription(failed, failedIid);
}

CommandRun RunCommand(Session& session, std::string_view statement, const PropertySet& properties) {
  CommandRun run;
  run.hr = session.CreateCommand(run.command);
  if (hr::Failed(run.hr) || !run.command) {
    if (hr::Succeeded(run.hr)) run.hr = hr::E_FAIL;
    run.failed = &session;
    run.failedIid = Iid::IDBCreateCommand;
    return run;
  }
  run.hr = run.command->SetCommandText(statement);
  if (hr::Failed(run.hr)) {
    run.failed = run.command.get();
    run.failedIid = Iid::ICommandText;
    return run;
  }
  run.hr = run.command->Execute(properties, run.rowset);
  if (hr::Failed(run.hr)) {
    run.failed = run.command.get();
    run.failedIid = Iid::ICommand;
  }
  return run;
}

TextReadResult ReadTextRows(SessionRef session, std::string_view statement,
                            const TextRowHandler& onRow, const TextReadOptions& options) {
  return ReadTextRows(Resolve(session), statement, onRow, options);
}

TextReadResult ReadTextRows(const std::shared_ptr<Session>& session, std::string_view statement,
                            const TextRowHandler& onRow, const TextReadOptions& options) {
  TextReadResult result;
  if (!session) {
    result.outcome = TextReadOutcome::MissingSession;
    return result;
  }

  CommandRun run =
      RunCommand(*session, statement, StandardRowsetProperties(options.withRowsetChange));
  if (hr::Failed(run.hr)) {
    result.outcome = TextReadOutcome::Failed;
    result.hr = run.hr;
    result.errorText = run.ErrorText();
    return result;
  }
  if (!run.rowset) {
    result.outcome = TextReadOutcome::NoRowset;
    result.hr = run.hr;
    return result;
  }
  Rowset& rowset = *run.rowset;

  HRESULT h = rowset.GetColumnInfo(result.columns);
  if (hr::Failed(h)) {
    result.outcome = TextReadOutcome::Failed;
    result.hr = h;
    result.errorText = ErrorDescription(&rowset, Iid::IColumnsInfo);
    return result;
  }

  std::size_t count = 0;
  if (options.columnCount) {
    count = *options.columnCount;
  } else if (options.countAdjust != 0) {
    const long adjusted = static_cast<long>(result.columns.size()) + options.countAdjust;
    count = adjusted > 0 ? static_cast<std::size_t>(adjusted) : 0;
  } else {
    for (const auto& c : result.columns)
      count += c.IsBookmark() || c.ordinal == 0 ? 0 : 1;
  }
  h = rowset.CreateAccessor(count);
  if (hr::Failed(h)) {
    result.outcome = TextReadOutcome::Failed;
    result.hr = h;
    result.errorText = ErrorDescription(&rowset, Iid::IAccessor);
    return result;
  }

  result.outcome = TextReadOutcome::Rows;
  if (options.onColumns && !options.onColumns(result.columns)) {
    result.stopped = true;
    result.hr = hr::S_OK;
    return result;
  }

  TextRow row;
  for (;;) {
    ++result.results;
    for (;;) {
      h = rowset.GetNextRow();
      if (h != hr::S_OK) break;  // the end of the rowset or a failed fetch
      h = rowset.GetData(row);
      if (h != hr::S_OK) break;  // a row that was not read in full ends the loop
      ++result.rows;
      if (onRow && !onRow(row)) {
        result.stopped = true;
        result.hr = hr::S_OK;
        return result;
      }
    }
    if (hr::Failed(h)) result.errorText = ErrorDescription(&rowset, Iid::IRowset);
    if (h != hr::DB_S_ENDOFROWSET || !options.allResults) break;
    // The next result with rows, bound whole.
    bool more = false;
    HRESULT next = rowset.NextResult(more);
    if (hr::Succeeded(next) && more) next = rowset.GetColumnInfo(result.columns);
    if (hr::Failed(next)) {
      result.outcome = TextReadOutcome::Failed;
      result.hr = next;
      result.errorText = ErrorDescription(&rowset, Iid::IRowset);
      return result;
    }
    if (!more) break;
    count = 0;
    for (const auto& c : result.columns)
      count += c.IsBookmark() || c.ordinal == 0 ? 0 : 1;
    next = rowset.CreateAccessor(count);
    if (hr::Failed(next)) {
      result.outcome = TextReadOutcome::Failed;
      result.hr = next;
      result.errorText = ErrorDescription(&rowset, Iid::IAccessor);
      return result;
    }
    if (options.onColumns && !options.onColumns(result.columns)) {
      result.stopped = true;
      result.hr = hr::S_OK;
      return result;
    }
  }
  result.hr = h;
  return result;
}

}  // namespace migrator::oledb
