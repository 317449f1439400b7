#pragma once
// The migration condition dialog's logic: one source table's condition (an
// SQL WHERE clause without "where"), read from the condition file, tested
// against the source by counting the rows it selects, and stored. The window's
// dialog only shows the texts and passes the edit field's text in.
//
// A condition is tested and stored as one line (the condition file keeps one
// line per table, so a line break would otherwise be stored as a blank and the
// stored condition could differ from the tested one). A condition that the
// source rejects is stored only when the person insists.

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

#include "app/frontend.h"
#include "support/condition_file.h"

namespace migrator {

class ConditionEditor {
 public:
  // Runs a statement on the source and answers the single-value query's text:
  // the value read, or the failure's text.
  using Query = std::function<std::string(const std::string& statement)>;

  // The longest condition the condition file reads back whole.
  static constexpr std::size_t kMaxConditionBytes = ConditionFile::kReadBuffer - 1;

  // Opening: the condition file is created when it is missing, and the
  // table's stored condition read.
  ConditionEditor(const std::string& programDir, std::string database, std::string table,
                  Frontend& ui, Query query);

  const std::string& database() const { return database_; }
  const std::string& table() const { return table_; }
  // "select * from <table> where", shown before the condition.
  std::string StatementLabel() const;
  // The stored condition.
  const std::string& condition() const { return condition_; }
  // The last test's result text; empty before the first test.
  const std::string& result() const { return result_; }
  // Save is offered once a condition has been tested, until it is stored.
  bool saveEnabled() const { return saveEnabled_; }

  // "select count(*) from `database`.`table`", plus " where " and the
  // condition when there is one. The names are quoted (a back-quote inside
  // doubled), and the database is named so that the count never runs on a
  // table of the same name in the session's current database.
  static std::string CountStatement(std::string_view database, std::string_view table,
                                    std::string_view condition);
  // The condition as it is tested and stored: line breaks become blanks.
  static std::string OneLine(std::string_view condition);

  // The Test button: counts the rows; true when the source answered a count.
  // Test is TestStatement, the query, then TakeAnswer, which a window may run
  // apart, the query on another thread.
  bool Test(const std::string& condition);
  // The count statement for a condition as it is tested.
  std::string TestStatement(const std::string& condition) const;
  // The query's answer to TestStatement(condition): the result text and Save
  // as Test sets them; true for a count.
  bool TakeAnswer(const std::string& condition, const std::string& answer);
  // Save would count the rows first: the condition is not blank and has not
  // been tested as it stands.
  bool SaveNeedsTest(const std::string& condition) const;
  // The Save button: stores the condition. One that has not been tested as it
  // stands is tested first; when the source rejected it, the person is asked
  // whether to store it all the same. An empty condition (no restriction) is
  // stored without a test. True when it was stored.
  bool Save(const std::string& condition);

 private:
  ConditionFile file_;
  std::string database_, table_;
  Frontend& ui_;
  Query query_;
  std::string condition_;
  std::string result_;
  std::string lastTested_;
  std::string lastAnswer_;
  bool lastPassed_ = false;
  bool saveEnabled_ = false;
};

}  // namespace migrator
