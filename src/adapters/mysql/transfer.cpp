// The row transfer: the rows of one source table, read as text, become one
// INSERT each on the target session.

#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>

#include "adapters/mysql/mysql_adapter.h"
#include "app/output.h"
#include "app/workspace.h"
#include "oledb/data_source.h"
#include "oledb/operations.h"
#include "oledb/properties.h"
#include "oledb/text.h"
#include "oledb/text_rows.h"
#include "platform/text.h"
#include "platform/working_directory.h"
#include "support/condition_file.h"
#include "support/error_text.h"

namespace migrator {
namespace {

constexpr std::int64_t kProgressEvery = 2000;
// How often the row progress is handed on while rows flow.
constexpr auto kRowProgressEvery = std::chrono::milliseconds(250);

// Hands the copy's figures on: at the start, at most every
// kRowProgressEvery while rows flow, and once more at the end.
class ProgressReporter {
 public:
  using Clock = std::chrono::steady_clock;

  ProgressReporter(const std::function<void(const RowProgress&)>& sink, const std::string& table)
      : sink_(sink) {
    progress_.table = table;
  }
  ~ProgressReporter() { End(); }

  void Start(std::int64_t expected) {
    if (!sink_) return;
    start_ = last_ = Clock::now();
    progress_.expected = expected;
    progress_.active = true;
    sink_(progress_);
  }

  // After every row read; the clock is read every 64 rows.
  void Row(std::int64_t done) {
    if (!progress_.active || (done & 63) != 0) return;
    const auto now = Clock::now();
    if (now - last_ < kRowProgressEvery) return;
    const double rate =
        static_cast<double>(done - lastDone_) / std::chrono::duration<double>(now - last_).count();
    // Smoothed, so the figure does not jump with every interval.
    progress_.rowsPerSecond =
        progress_.rowsPerSecond > 0 ? (progress_.rowsPerSecond + rate) / 2 : rate;
    progress_.done = done;
    last_ = now;
    lastDone_ = done;
    sink_(progress_);
  }

  // The rows read. When the rows ran out (rather than the copy being stopped
  // or failing) they are all there were, whatever the count said: a
  // condition with a LIMIT, or rows added or deleted since it was taken.
  void Done(std::int64_t done, bool allRead) {
    progress_.done = done;
    if (allRead) progress_.expected = done;
  }

  // The last report: the rows read and the mean rate of the whole copy.
  void End() {
    if (!progress_.active) return;
    progress_.active = false;
    const double seconds = std::chrono::duration<double>(Clock::now() - start_).count();
    if (seconds > 0 && progress_.done > 0) {
      progress_.rowsPerSecond = static_cast<double>(progress_.done) / seconds;
    }
    sink_(progress_);
  }

 private:
  const std::function<void(const RowProgress&)>& sink_;
  RowProgress progress_;
  Clock::time_point start_, last_;
  std::int64_t lastDone_ = 0;
};

// The rows a statement's SELECT will return, counted by the server (which
// reads them without sending them); -1 when the count fails.
std::int64_t CountRows(const std::shared_ptr<oledb::Session>& session, const std::string& from) {
  std::int64_t count = -1;
  oledb::ReadTextRows(session, "select count(*) from " + from, [&](const oledb::TextRow& row) {
    if (row.size() > 0 && !row.IsNull(0)) {
      const std::string_view v = row.Value(0);
      std::int64_t n = 0;
      if (std::from_chars(v.data(), v.data() + v.size(), n).ec == std::errc()) count = n;
    }
    return false;
  });
  return count;
}

// The scratch file of INSERT statements. A file that cannot be made or
// written costs the record of the statements, never the rows themselves:
// the first failure is shown once and the file is given up.
class ScratchFile {
 public:
  ScratchFile(Frontend& ui, const std::string& table, const std::string& path)
      : ui_(ui), table_(table), path_(path) {
    if (path.empty()) return;
    file_.reset(OpenOwnerOnly(path));
    if (!file_) {
      GiveUp();
      return;
    }
    // A statement a row: fewer, larger writes.
    std::setvbuf(file_.get(), nullptr, _IOFBF, std::size_t{1} << 18);
  }

  void WriteLine(const std::string& statement) {
    if (!file_) return;
    if (std::fwrite(statement.data(), 1, statement.size(), file_.get()) != statement.size() ||
        std::fputc('\n', file_.get()) == EOF) {
      GiveUp();
    }
  }

  void Close() {
    if (file_ && std::fclose(file_.release()) != 0) GiveUp();
  }

 private:
  struct Closer {
    void operator()(std::FILE* f) const { std::fclose(f); }
  };

  void GiveUp() {
    const int error = errno;
    file_.reset();
    WriteOutput(ui_,
                "T::[%s] the statements are not kept in %s (%s); the rows are sent all the same",
                table_.c_str(), path_.c_str(), std::strerror(error));
  }

  Frontend& ui_;
  const std::string& table_;
  const std::string& path_;
  std::unique_ptr<std::FILE, Closer> file_;
};

// The first error record a session's last failing call left.
std::string SessionErrorText(const oledb::Session& session) {
  const auto records = session.ErrorObject();
  return records && !records->empty() ? records->front().description : oledb::kUnknownError;
}

}  // namespace

TransferResult MySqlAdapter::TransferTableRows(Workspace& ws, oledb::SessionRef source,
                                               oledb::SessionRef target,
                                               const std::string& database,
                                               const std::string& table,
                                               const TransferOptions& options) {
  Frontend& ui = ws.frontend();
  const char* name = table.c_str();
  TransferResult result;

  // 1.
  const auto src = oledb::Resolve(source);
  const auto dst = oledb::Resolve(target);
  if (!src || !dst) {
    result.status = !src ? "No Source Connection!" : "No Target Connection!";
    WriteOutputText(ui, SystemErrorLine(result.status));
    return result;
  }

  // 2, 3. Names are quoted on both sides, so any table name stays one name.
  const ConditionFile conditions(ws.programDir());
  const std::string from = oledb::QuoteIdentifier(table) + conditions.WhereClause(database, table);
  if (const std::string condition = conditions.Read(database, table); !condition.empty()) {
    WriteOutput(ui, "T::[%s] only the rows that meet its migration condition in %s are copied: %s",
                name, conditions.path().c_str(), condition.c_str());
  }
  const std::string select = "select * from " + from;
  std::string insertHead = "insert into " + oledb::QuoteIdentifier(table) + " values (";
  // The table the rows go into now: the table itself, then each table the
  // rows went on in.
  std::string into = table;
  std::int64_t intoRows = 0;  // rows sent into it
  const oledb::PropertySet properties = oledb::StandardRowsetProperties();

  std::vector<std::string> columns;
  std::unique_ptr<ScratchFile> scratch;
  std::int64_t counter = 0;     // rows read and sent
  std::int64_t rejected = 0;    // sent rows the target refused
  std::int64_t leftBehind = 0;  // rows past the target's limit, counted and not sent
  bool stopped = false;
  // Typed cells: each column's form, and the values of each that went as text.
  const std::vector<TypedColumn>* typed = options.typed;
  std::vector<std::int64_t> asText(typed ? typed->size() : 0, 0);
  std::string statement;
  ProgressReporter progress(options.onProgress, table);
  const std::int64_t expected = options.onProgress ? CountRows(src, from) : -1;

  oledb::TextReadOptions readOptions;
  readOptions.onColumns = [&](const std::vector<oledb::ColumnInfo>& info) {
    for (const auto& c : info) {
      if (!c.IsBookmark() && c.ordinal != 0) columns.push_back(c.name);
    }
    // 7.
    scratch = std::make_unique<ScratchFile>(ui, table, options.scratchFile);
    progress.Start(expected);
    return true;
  };

  auto stopRequested = [&] { return ws.State() == ControllerState::Stopping; };

  auto onRow = [&](const oledb::TextRow& row) {
    // A full target table: the rest is only counted, so the red line can say
    // how many rows stay behind.
    progress.Row(counter + leftBehind + 1);
    if (options.maxRows >= 0 && intoRows >= options.maxRows && leftBehind == 0 &&
        options.nextTable) {
      // The rows go on in the next table, when it can be made.
      if (auto next = options.nextTable()) {
        WriteOutput(
            ui,
            "T::[%s] a sheet holds %lld rows under its header: the rows from record %lld on "
            "go on in [%s]",
            name, static_cast<long long>(options.maxRows), static_cast<long long>(counter + 1),
            next->c_str());
        into = *next;
        insertHead = "insert into " + oledb::QuoteIdentifier(into) + " values (";
        intoRows = 0;
        result.continued.push_back(into);
      }
    }
    if (options.maxRows >= 0 && intoRows >= options.maxRows) {
      ++leftBehind;
      if (stopRequested()) {
        stopped = true;
        return false;
      }
      return true;
    }

    // 4. Every value as a quoted text, a quote in it doubled; NULL as NULL,
    // so that it stays apart from the empty text.
    statement.assign(insertHead);
    for (std::size_t j = 0; j < row.size(); ++j) {
      if (j > 0) statement += ',';
      if (row.IsNull(j)) {
        statement += "NULL";
        continue;
      }
      std::string_view value = row.Value(j);
      if (options.maxValueUnits > 0 && value.size() > options.maxValueUnits &&
          Utf16Length(value) > options.maxValueUnits) {
        const std::size_t units = Utf16Length(value);
        value = CutUtf16(value, options.maxValueUnits);
        ++result.cutValues;
        WriteOutput(ui, "T::[%s] row %lld, column [%s]: a value of %zu characters is cut to %zu",
                    name, static_cast<long long>(counter + 1),
                    j < columns.size() ? columns[j].c_str() : "?", units, options.maxValueUnits);
      }
      if (typed && j < typed->size()) {
        if (!AppendTypedValue(statement, (*typed)[j].form, value)) ++asText[j];
      } else {
        oledb::AppendQuotedLiteral(statement, value);
      }
    }
    statement += ");";

    // 5. The row counts as sent whether or not the target takes it.
    ++counter;
    ++intoRows;
    scratch->WriteLine(statement);
    const oledb::CommandRun run = oledb::RunCommand(*dst, statement, properties);
    if (hr::Failed(run.hr) && ++rejected == 1) {
      WriteOutput(ui, "E::[%s] row %lld was not accepted by the target: %s", name,
                  static_cast<long long>(counter), run.ErrorText().c_str());
    }

    // 6.
    if (counter % kProgressEvery == 0) {
      WriteOutput(ui, "[%s] %lld records converted!", name, static_cast<long long>(counter));
    }
    // 7.
    if (stopRequested()) {
      WriteOutputText(ui, "Data Converting Terminaled!");
      stopped = true;
      return false;
    }
    return true;
  };

  // 4 to 8.
  const oledb::TextReadResult read = oledb::ReadTextRows(src, select, onRow, readOptions);
  switch (read.outcome) {
    case oledb::TextReadOutcome::MissingSession:
    case oledb::TextReadOutcome::Failed:
      result.status = read.errorText;
      WriteOutput(ui, "E::[%s] the rows cannot be read: %s", name, read.errorText.c_str());
      return result;
    case oledb::TextReadOutcome::NoRowset:
      WriteOutputText(ui, oledb::kResultSuccess);
      result.status = oledb::kResultSuccess;
      result.whole = true;
      return result;
    case oledb::TextReadOutcome::Rows:
      break;
  }
  if (scratch) scratch->Close();
  progress.Done(counter + leftBehind, !read.stopped && read.hr == hr::DB_S_ENDOFROWSET);
  progress.End();

  // 9. Whatever ended the loop is said in red, before the count line.
  const bool readError = !read.stopped && read.hr != hr::DB_S_ENDOFROWSET;
  if (readError) {
    WriteOutput(
        ui, "E::[%s] reading the rows failed after %lld records: %s", name,
        static_cast<long long>(counter),
        read.errorText.empty() ? "a row could not be read in full" : read.errorText.c_str());
  }
  for (std::size_t j = 0; j < asText.size(); ++j) {
    if (asText[j] == 0) continue;
    WriteOutput(ui, "T::[%s] column [%s]: %lld values arrive as text: %s", name,
                (*typed)[j].name.c_str(), static_cast<long long>(asText[j]),
                AsTextReason((*typed)[j].form));
  }
  if (!result.continued.empty()) {
    std::vector<std::string> all{table};
    all.insert(all.end(), result.continued.begin(), result.continued.end());
    WriteOutput(ui, "T::[%s] the records are on %zu sheets, one table each: %s", name, all.size(),
                NameList(all).c_str());
  }
  if (leftBehind > 0) {
    WriteOutput(ui,
                "E::[%s] %s holds %lld rows under its header: %lld%s records of the table "
                "were left behind%s%s",
                name, options.rowsHolder.c_str(), static_cast<long long>(options.maxRows),
                static_cast<long long>(leftBehind), stopped ? " or more" : "",
                options.cutHint.c_str(), options.whenFull.c_str());
  }
  // The rows a provider holds back are made durable now, so a failed save is
  // this table's failure and not a silent loss later.
  bool durable = true;
  if (options.flush && hr::Failed(dst->Flush())) {
    durable = false;
    WriteOutput(ui, "E::[%s] the rows cannot be saved on the target: %s", name,
                SessionErrorText(*dst).c_str());
  }

  result.status = "true";
  result.arrived = counter - rejected;
  result.stopped = stopped;
  const bool complete = !readError && rejected == 0 && leftBehind == 0 && durable;
  result.allRows = complete && !stopped;
  result.whole = result.allRows && result.cutValues == 0;
  if (complete && stopped) {
    // Stopped between two rows: what arrived is a part of the table.
    WriteOutput(ui,
                "E::[%s] %lld records converted, the copy was stopped: the rest of the table "
                "was not converted!",
                name, static_cast<long long>(result.arrived));
  } else if (complete && result.cutValues > 0) {
    WriteOutput(ui, "E::[%s] %lld records converted, %lld values cut to %zu characters!", name,
                static_cast<long long>(counter), static_cast<long long>(result.cutValues),
                options.maxValueUnits);
  } else if (complete) {
    WriteOutput(ui, "[%s] %lld records converted, convertion completed SUCCESSFULLY!", name,
                static_cast<long long>(counter));
  } else if (readError) {
    WriteOutput(ui, "E::[%s] %lld records converted, the rest could not be read!", name,
                static_cast<long long>(result.arrived));
  } else {
    WriteOutput(ui, "E::[%s] %lld records converted, %lld records not converted!", name,
                static_cast<long long>(durable ? result.arrived : 0),
                static_cast<long long>(durable ? rejected + leftBehind : counter + leftBehind));
  }
  return result;
}

}  // namespace migrator
