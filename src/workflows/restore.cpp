#include "workflows/restore.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string_view>
#include <system_error>
#include <vector>

#include "adapters/excel/excel_adapter.h"
#include "app/output.h"
#include "oledb/data_source.h"
#include "oledb/errors.h"
#include "oledb/operations.h"
#include "oledb/properties.h"
#include "oledb/text.h"
#include "oledb/text_rows.h"
#include "platform/text.h"
#include "support/error_text.h"

namespace migrator {
namespace {

namespace fs = std::filesystem;

constexpr int kProgressEvery = 1000;
// A structure file is one statement; nothing a backup writes comes near this.
constexpr std::uintmax_t kMaxStructureBytes = 64u << 20;

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v';
}

void SkipBlanks(std::string_view s, std::size_t& i) {
  while (i < s.size() && IsBlank(s[i]))
    ++i;
}

// Reads a keyword (any case) at s[i] followed by a blank; moves past both.
bool TakeKeyword(std::string_view s, std::size_t& i, std::string_view word) {
  SkipBlanks(s, i);
  if (s.size() - i <= word.size() || !EqualNoCase(s.substr(i, word.size()), word) ||
      !IsBlank(s[i + word.size()])) {
    return false;
  }
  i += word.size();
  return true;
}

// Reads a name at s[i]: `quoted` (`` for a back-quote), [bracketed] or plain
// (up to a blank or "("). Moves past it.
bool TakeName(std::string_view s, std::size_t& i, std::string& name) {
  SkipBlanks(s, i);
  name.clear();
  if (i >= s.size()) return false;
  if (s[i] == '`') {
    for (++i; i < s.size(); ++i) {
      if (s[i] == '`') {
        if (i + 1 < s.size() && s[i + 1] == '`') {
          name += '`';
          ++i;
          continue;
        }
        ++i;
        return true;
      }
      name += s[i];
    }
    return false;
  }
  if (s[i] == '[') {
    const auto close = s.find(']', i + 1);
    if (close == std::string_view::npos) return false;
    name.assign(s.substr(i + 1, close - i - 1));
    i = close + 1;
    return true;
  }
  while (i < s.size() && !IsBlank(s[i]) && s[i] != '(')
    name += s[i++];
  return !name.empty();
}

// Whether a statement is an INSERT into `table` (its values are the
// provider's to check).
bool IsInsertInto(std::string_view statement, const std::string& table) {
  std::size_t i = 0;
  std::string name;
  return TakeKeyword(statement, i, "insert") && TakeKeyword(statement, i, "into") &&
         TakeName(statement, i, name) && name == table && TakeKeyword(statement, i, "values");
}

Result<std::string> ReadWholeFile(const fs::path& path) {
  std::error_code ec;
  const auto size = fs::file_size(path, ec);
  if (ec) return Fail(ec.message(), ec.value());
  if (size > kMaxStructureBytes) return Fail("the file is too large for a table definition");
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return Fail(SystemErrorMessage(errno), errno);
  std::string text(static_cast<std::size_t>(size), '\0');
  const std::size_t got = std::fread(text.data(), 1, text.size(), f);
  const bool failed = std::ferror(f) != 0;
  std::fclose(f);
  if (failed) return Fail(SystemErrorMessage(EIO), EIO);
  text.resize(got);
  return text;
}

// Runs one statement; empty on success, else the provider's text.
std::string Run(oledb::Session& session, std::string_view statement,
                const oledb::PropertySet& properties) {
  oledb::CommandRun run = oledb::RunCommand(session, statement, properties);
  return hr::Failed(run.hr) ? run.ErrorText() : std::string();
}

// One table of the backup.
struct Entry {
  std::string stem;         // file name without extension
  std::string table;        // from the CREATE TABLE text
  std::string create;       // the CREATE TABLE text
  bool sheetEntry = false;  // "User Defined Name!"
  bool exists = false;      // the target has a table of that name
};

// What the target holds under a table's name: nothing, or the table and
// whether it has rows.
struct Found {
  bool exists = false;
  bool hasRows = false;
};

Found LookUp(oledb::SessionRef session, const std::string& table) {
  Found f;
  oledb::TextReadResult read = oledb::ReadTextRows(
      session, "select * from " + oledb::QuoteIdentifier(table), [&](const oledb::TextRow&) {
        f.hasRows = true;
        return false;
      });
  f.exists = read.outcome == oledb::TextReadOutcome::Rows;
  return f;
}

// The subdirectories that hold a backup, for the message when the directory
// given is their parent.
std::string BackupsBelow(const fs::path& dir) {
  std::vector<std::string> names;
  std::error_code ec;
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code e;
    if (it->is_directory(e) && fs::is_directory(it->path() / "TABLES", e)) {
      names.push_back(it->path().filename().string());
    }
  }
  std::sort(names.begin(), names.end());
  std::string out;
  for (const auto& n : names)
    out += (out.empty() ? "" : ", ") + n;
  return out;
}

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// The row count of a data file's last line ("-- end: 12 rows"), if it is one.
std::optional<long long> EndLineCount(std::string_view line) {
  const std::string_view prefix = kDataFileEndPrefix, suffix = kDataFileEndSuffix;
  while (!line.empty() && IsBlank(line.back()))
    line.remove_suffix(1);
  if (line.size() <= prefix.size() + suffix.size() || line.substr(0, prefix.size()) != prefix ||
      line.substr(line.size() - suffix.size()) != suffix) {
    return std::nullopt;
  }
  const std::string_view digits =
      line.substr(prefix.size(), line.size() - prefix.size() - suffix.size());
  long long n = 0;
  const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), n);
  if (ec != std::errc() || end != digits.data() + digits.size() || n < 0) return std::nullopt;
  return n;
}

// Replays the .data file of one created table, inside the table's
// transaction. True when every row arrived and the file was whole; it stops
// at the first statement that fails, and between statements when asked to.
bool RestoreRows(Frontend& ui, oledb::Session& session, const Entry& e, std::FILE* f,
                 const std::string& dataPath, const RestoreOptions& options,
                 const oledb::PropertySet& properties, bool& stopped) {
  long long restored = 0, statements = 0;
  bool counted = false;               // the file starts with the header line
  std::optional<long long> endCount;  // its last line's count
  std::string error;
  auto onStatement = [&](const std::string& statement) {
    if (!error.empty() || stopped) return;
    ++statements;
    if (statement.rfind("--", 0) == 0) {
      std::string_view line = statement;
      while (!line.empty() && IsBlank(line.back()))
        line.remove_suffix(1);
      if (statements == 1 && line == kDataFileHeader) {
        counted = true;
        return;
      }
      if (auto n = EndLineCount(line); n && !endCount) {
        endCount = n;
        return;
      }
    }
    if (endCount) {
      error = "it comes after the file's last line";
    } else if (!IsInsertInto(statement, e.table)) {
      error = "not a row of this table";
    } else {
      error = Run(session, statement, properties);
    }
    if (!error.empty()) {
      WriteOutput(ui, "E::[%s] statement %lld of [%s] was not restored: %s", e.table.c_str(),
                  statements, dataPath.c_str(), error.c_str());
      return;
    }
    ++restored;
    if (restored % kProgressEvery == 0) {
      WriteOutput(ui, "[%s] %lld records restored!", e.table.c_str(), restored);
    }
    if (options.stopRequested && options.stopRequested()) stopped = true;
  };
  StatementSplitter splitter;
  std::vector<char> buffer(1 << 16);
  bool readError = false;
  while (error.empty() && !stopped) {
    const std::size_t got = std::fread(buffer.data(), 1, buffer.size(), f);
    splitter.Feed(std::string_view(buffer.data(), got), onStatement);
    if (got < buffer.size()) {
      readError = std::ferror(f) != 0;
      break;
    }
  }
  if (!readError && !stopped) splitter.Finish(onStatement);
  WriteOutput(ui, "[%s]%8lld records restored!", e.table.c_str(), restored);
  if (stopped || !error.empty()) return false;
  if (readError) {
    WriteOutput(ui, "E::Reading [%s] failed after %lld rows", dataPath.c_str(), restored);
    return false;
  }
  if (counted && !endCount) {
    WriteOutput(ui, "E::[%s] ends after %lld rows without its last line: the file was cut short",
                dataPath.c_str(), restored);
    return false;
  }
  if (endCount && *endCount != restored) {
    WriteOutput(ui, "E::[%s] counts %lld rows on its last line but holds %lld", dataPath.c_str(),
                *endCount, restored);
    return false;
  }
  if (!counted) {
    WriteOutput(ui,
                "T::[%s] has no row count (a backup of an earlier version): whether it is whole "
                "cannot be told",
                dataPath.c_str());
  }
  return true;
}

// One table, whole or not at all: dropped (when it exists), created and
// filled inside one transaction, which is committed only when every row of a
// whole file arrived. Otherwise the workbook stays as it was.
bool RestoreTable(Frontend& ui, oledb::Session& s, const Entry& e, const fs::path& dir,
                  const RestoreOptions& options, const oledb::PropertySet& properties,
                  bool& stopped) {
  WriteOutput(ui, "Restore table [%s]", e.table.c_str());
  const char* kept = e.exists ? "; the table keeps its rows" : "";
  const std::string dataPath = (dir / "DATA" / (e.stem + ".data")).string();
  File data(std::fopen(dataPath.c_str(), "rb"));
  if (!data) {
    WriteOutput(ui, "E::Cannot read [%s]: %s; [%s] is not restored%s", dataPath.c_str(),
                SystemErrorMessage(errno).c_str(), e.table.c_str(), kept);
    return false;
  }
  if (hr::Failed(s.StartTransaction())) {
    WriteOutput(ui, "E::Table [%s] is not restored: %s", e.table.c_str(),
                oledb::ErrorDescription(&s, oledb::Iid::ITransaction).c_str());
    return false;
  }
  bool whole = true;
  if (e.exists) {
    if (const std::string error =
            Run(s, "DROP TABLE " + oledb::QuoteIdentifier(e.table), properties);
        !error.empty()) {
      WriteOutput(ui, "E::Drop table [%s] failed: %s", e.table.c_str(), error.c_str());
      whole = false;
    }
  }
  if (whole) {
    if (const std::string error = Run(s, e.create, properties); !error.empty()) {
      WriteOutput(ui, "E::Create table [%s] failed: %s", e.table.c_str(), error.c_str());
      whole = false;
    }
  }
  whole = whole && RestoreRows(ui, s, e, data.get(), dataPath, options, properties, stopped);
  if (whole) {
    if (hr::Succeeded(s.Commit())) return true;
    WriteOutput(ui, "E::Table [%s] could not be saved: %s%s", e.table.c_str(),
                oledb::ErrorDescription(&s, oledb::Iid::ITransaction).c_str(), kept);
    return false;
  }
  s.Abort();
  WriteOutput(ui, "E::Table [%s] is not restored%s", e.table.c_str(),
              e.exists ? ": the workbook keeps it as it was" : "");
  return false;
}

}  // namespace

std::optional<std::string> CreatedTableName(std::string_view text) {
  std::size_t i = 0;
  std::string name;
  if (!TakeKeyword(text, i, "create") || !TakeKeyword(text, i, "table") ||
      !TakeName(text, i, name)) {
    return std::nullopt;
  }
  return name;
}

bool StatementSplitter::Take(char c) {
  if (quote_ != 0) {
    current_ += c;
    if (c == quote_) quote_ = 0;
    return false;
  }
  if (c == '\n') {
    if (!Blank()) return true;
    current_.clear();
    return false;
  }
  current_ += c;
  if (c == '\'' || c == '`') {
    quote_ = c;
  } else if (c == '[') {
    quote_ = ']';
  }
  return false;
}

bool StatementSplitter::Blank() const {
  return std::all_of(current_.begin(), current_.end(), IsBlank);
}

bool IsBackupDirectory(const std::string& directory) {
  std::error_code ec;
  return fs::is_directory(fs::path(directory) / "TABLES", ec);
}

RestoreOutcome RestoreBackup(Frontend& ui, oledb::SessionRef session, const std::string& directory,
                             const RestoreOptions& options) {
  const fs::path dir(directory);
  const fs::path tablesDir = dir / "TABLES";
  std::error_code ec;
  if (!IsBackupDirectory(directory)) {
    const std::string below = BackupsBelow(dir);
    WriteOutput(ui, "E::[%s] is not a backup of tables: it holds no TABLES directory%s%s",
                directory.c_str(),
                below.empty() ? "" : "; these directories below it do: ", below.c_str());
    return RestoreOutcome::Failed;
  }

  const auto s = oledb::Resolve(session);
  if (!s) {
    WriteOutput(ui, "E::%s", oledb::kNoConnection);
    return RestoreOutcome::Failed;
  }

  // The structure files, in name order.
  std::vector<fs::path> files;
  for (fs::directory_iterator it(tablesDir, ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code e;
    if (it->path().extension() == ".tbl" && it->is_regular_file(e)) files.push_back(it->path());
  }
  if (ec) {
    WriteOutput(ui, "E::Cannot read [%s]: %s", tablesDir.c_str(), ec.message().c_str());
    return RestoreOutcome::Failed;
  }
  std::sort(files.begin(), files.end());

  bool all = true;
  std::vector<Entry> entries;
  for (const auto& path : files) {
    Entry e;
    e.stem = path.stem().string();
    auto text = ReadWholeFile(path);
    if (!text) {
      WriteOutput(ui, "E::Cannot read [%s]: %s", path.c_str(), text.message().c_str());
      all = false;
      continue;
    }
    if (*text == kUserDefinedName) {
      e.sheetEntry = true;
    } else if (auto table = CreatedTableName(*text)) {
      e.table = std::move(*table);
      e.create = std::move(*text);
    } else {
      WriteOutput(ui, "E::[%s] holds no table definition", path.c_str());
      all = false;
      continue;
    }
    if (options.table && (e.sheetEntry || !EqualNoCase(e.table, *options.table))) continue;
    entries.push_back(std::move(e));
  }
  if (options.table && entries.empty()) {
    WriteOutput(ui, "E::The backup in [%s] holds no table [%s]", directory.c_str(),
                options.table->c_str());
    return RestoreOutcome::Failed;
  }

  // Nothing changes while a table would be overwritten without leave.
  bool refused = false;
  for (auto& e : entries) {
    if (e.sheetEntry) continue;
    const Found found = LookUp(session, e.table);
    e.exists = found.exists;
    if (found.hasRows && !options.replace) {
      WriteOutput(ui, "E::Table [%s] already holds rows: it is not overwritten", e.table.c_str());
      refused = true;
    }
  }
  if (refused) return RestoreOutcome::Refused;

  const oledb::PropertySet properties = oledb::StandardRowsetProperties();
  std::vector<std::string> restored;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const Entry& e = entries[i];
    if (e.sheetEntry) {
      WriteOutput(ui, "T::[%s] is a sheet entry, not a table: its rows are not restored from it",
                  e.stem.c_str());
      continue;
    }
    bool stopped = options.stopRequested && options.stopRequested();
    if (!stopped) {
      const bool whole = RestoreTable(ui, *s, e, dir, options, properties, stopped);
      if (whole) restored.push_back(e.table);
      all = whole && all;
    }
    if (stopped) {
      std::vector<std::string> left;
      for (std::size_t j = i; j < entries.size(); ++j)
        if (!entries[j].sheetEntry) left.push_back(entries[j].table);
      WriteOutput(ui,
                  "E::The restore was stopped. Restored whole: %s. Not restored (each left as it "
                  "was): %s",
                  NameList(restored).c_str(), NameList(left).c_str());
      return RestoreOutcome::Failed;
    }
  }
  return all ? RestoreOutcome::Restored : RestoreOutcome::Failed;
}

}  // namespace migrator
