#pragma once
// The text-row reader: runs a statement on a session with the standard rowset
// properties and hands every row to the caller as text, one row at a time.
//
// The loop ends at the end of the rowset, when a row cannot be fetched or read
// in full, or when the caller's handler returns false. Values are read whole,
// whatever their length. The session's lock is held only while a row is
// fetched, never while the handler runs.

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "oledb/data_source.h"
#include "oledb/slot.h"
#include "oledb/types.h"

namespace migrator::oledb {

enum class TextReadOutcome {
  MissingSession,  // nothing was asked of a provider; the caller reports its own text
  Failed,          // the command, its column information or its accessor failed
  NoRowset,        // the statement ran and gave no rowset
  Rows,            // the row loop ran (possibly over no rows)
};

struct TextReadResult {
  TextReadOutcome outcome = TextReadOutcome::MissingSession;
  // Failed: the provider's error text (error-record reader) for the object
  // and interface that failed. Rows: the error text of a fetch that failed.
  std::string errorText;
  // Failed: the failing result. Rows: the result that ended the loop
  // (hr::DB_S_ENDOFROWSET at the normal end, S_OK when the handler stopped).
  HRESULT hr = hr::S_OK;
  std::vector<ColumnInfo> columns;  // as the rowset reported them
  std::size_t rows = 0;             // rows handed to the handler
  std::size_t results = 0;          // results whose rows were read
  bool stopped = false;             // the handler returned false

  bool ok() const {
    return outcome == TextReadOutcome::Rows || outcome == TextReadOutcome::NoRowset;
  }
};

// Gets each row: slot i holds ordinal i + 1. Returns false to stop the loop.
using TextRowHandler = std::function<bool(const TextRow& row)>;

struct TextReadOptions {
  // Adds DBPROP_IRowsetChange = true to the rowset properties (the
  // single-value query does).
  bool withRowsetChange = false;
  // Which ordinals to bind: 1..columnCount when given; otherwise 1..(reported
  // count + countAdjust) when countAdjust is not 0 (the workbook backup binds
  // one column less than reported); otherwise every data column (the reported
  // columns less a bookmark column). A count that names a column the rowset
  // does not have fails at the accessor.
  std::optional<std::size_t> columnCount;
  int countAdjust = 0;
  // Called once with the column information before the first row; returning
  // false ends the read before any row is fetched (outcome Rows, 0 rows).
  std::function<bool(const std::vector<ColumnInfo>&)> onColumns;
  // Reads every result of the statement (a procedure may return several),
  // not only the first: each further result binds all its data columns and
  // is announced to onColumns before its rows. `columns` then holds the last
  // result's columns.
  bool allResults = false;
};

TextReadResult ReadTextRows(SessionRef session, std::string_view statement,
                            const TextRowHandler& onRow, const TextReadOptions& options = {});
TextReadResult ReadTextRows(const std::shared_ptr<Session>& session, std::string_view statement,
                            const TextRowHandler& onRow, const TextReadOptions& options = {});

// Runs a statement as a command with the given rowset properties: creates the
// command, sets its text and executes it. On failure `failed` is the object
// that holds the error records (the session when the command could not be
// made, otherwise the command) and `failedIid` its interface.
struct CommandRun {
  HRESULT hr = hr::S_OK;
  std::unique_ptr<Command> command;
  std::unique_ptr<Rowset> rowset;  // null when the statement gave none
  const ErrorInfoSource* failed = nullptr;
  Iid failedIid = Iid::ICommand;
  std::string ErrorText() const;  // the error-record reader on the failing object
};
CommandRun RunCommand(Session& session, std::string_view statement, const PropertySet& properties);

}  // namespace migrator::oledb
