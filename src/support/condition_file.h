#pragma once
// The condition file "Condition.cfg" beside the program: the SQL condition
// (a WHERE clause without the word "where") that restricts the rows copied
// from a source table. One section per source database, named as the
// database; one key per table, named as the table. A table without a key, or
// with an empty value, has no condition.
//
// The window reads it for the table tooltips, the condition dialog reads and
// writes it, and the data transfer reads it on the controller thread; the
// profile layer makes those safe together.

#include <string>
#include <string_view>

#include "platform/result.h"
#include "support/profile_file.h"

namespace migrator {

class ConditionFile {
 public:
  static constexpr const char* kFileName = "Condition.cfg";
  // Conditions are read into a buffer of this many bytes (at most 1023 kept).
  static constexpr std::size_t kReadBuffer = 1024;

  // programDir: the directory that holds the file.
  explicit ConditionFile(const std::string& programDir);

  const std::string& path() const { return file_.path(); }

  // Creates the file empty when it is missing; an existing file is kept.
  Status EnsureExists() const;

  // The stored condition of database.table, or empty.
  std::string Read(std::string_view database, std::string_view table) const;
  // Stores a condition; an empty one means "no condition". A table or
  // database name that the file cannot hold (see profile_file.h) fails.
  Status Write(std::string_view database, std::string_view table, std::string_view condition) const;

  // " where <condition>", or empty when the table has no condition: the tail
  // of the transfer's "select * from %s%s".
  std::string WhereClause(std::string_view database, std::string_view table) const;

 private:
  ProfileFile file_;
};

}  // namespace migrator
