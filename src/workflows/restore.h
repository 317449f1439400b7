#pragma once
// Restore: replays a backup directory into the target session. The
// directory is one that the table backup wrote into (a database directory,
// or the directory of single-table backups): TABLES/<name>.tbl holds a
// table's CREATE TABLE text and DATA/<name>.data its rows, one INSERT
// statement each (a statement ends at a line break outside quotes).
//
// Each table is created from its .tbl file and filled from its .data file
// in one transaction: it is saved only when every row of a whole file
// arrived, so a table is restored whole or left as it was (its old rows
// stay when it is replaced). A data file that starts with the header line
// must end with its row count (see excel_adapter.h); a file without the
// header (an earlier version's) is taken as it is, with an orange line. A .tbl file of a sheet
// entry ("User Defined Name!") is skipped: it has no columns to create. The files are taken as
// untrusted text: only a CREATE TABLE and INSERT statements into that same table are run.
//
// Before anything changes, every table to restore is looked up in the
// target: one that already holds rows is refused unless `replace` is set;
// with it (and for a table without rows) the table is dropped and made anew,
// in the same transaction.

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "app/frontend.h"
#include "oledb/slot.h"

namespace migrator {

struct RestoreOptions {
  std::optional<std::string> table;  // only this table (its name, without regard to case)
  bool replace = false;              // tables that hold rows are overwritten
  // Asked between rows: true ends the restore, the table under way left as
  // it was before.
  std::function<bool()> stopRequested = nullptr;
};

enum class RestoreOutcome {
  Restored,  // every table arrived whole
  Refused,   // tables that hold rows would be overwritten: nothing was changed
  Failed,    // a table or some of its rows did not arrive (reported in red)
};

// A directory without TABLES is reported (naming the directories below it
// that are backups) before the session is looked at.
RestoreOutcome RestoreBackup(Frontend& ui, oledb::SessionRef session, const std::string& directory,
                             const RestoreOptions& options = {});
// Whether a directory holds a backup of tables (its TABLES directory).
bool IsBackupDirectory(const std::string& directory);
// The table a CREATE TABLE text makes (its name unquoted), or nothing when
// the text is another statement.
std::optional<std::string> CreatedTableName(std::string_view text);

// Splits the text of a .data file into statements: a statement ends at a
// line break that is outside quotes ('...', `...`, [...]). Calls `onStatement`
// for each non-blank one; feeding the text in pieces gives the same
// statements as feeding it whole.
class StatementSplitter {
 public:
  template <class F>
  void Feed(std::string_view text, F&& onStatement) {
    for (char c : text) {
      if (Take(c)) {
        onStatement(current_);
        current_.clear();
      }
    }
  }
  // The last statement, when the text does not end with a line break.
  template <class F>
  void Finish(F&& onStatement) {
    if (!Blank()) onStatement(current_);
    current_.clear();
    quote_ = 0;
  }

 private:
  bool Take(char c);  // true when `current_` holds a whole statement
  bool Blank() const;
  std::string current_;
  char quote_ = 0;  // the closing character while inside quotes
};

}  // namespace migrator
