#include "cli/print_rows.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "oledb/operations.h"

namespace migrator::cli {

std::string EscapeValue(std::string_view value, bool isNull) {
  if (isNull) return "(NULL)";
  std::string out;
  out.reserve(value.size() + 1);
  if (value == "(NULL)") out += '\\';
  for (char c : value) {
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      default:
        out += c;
    }
  }
  return out;
}

PrintedRows PrintRows(const std::shared_ptr<oledb::Session>& session, std::string_view statement) {
  PrintedRows printed;
  std::string line;
  auto write = [&](const std::string& text) {
    if (std::fwrite(text.data(), 1, text.size(), stdout) == text.size()) return true;
    printed.writeError = errno ? errno : EIO;
    return false;
  };
  oledb::TextReadOptions options;
  options.allResults = true;
  bool first = true;
  options.onColumns = [&](const std::vector<oledb::ColumnInfo>&) {
    if (first) {
      first = false;
      return true;
    }
    return write("\n");  // between two results
  };
  static_cast<oledb::TextReadResult&>(printed) = oledb::ReadTextRows(
      session, statement,
      [&](const oledb::TextRow& row) {
        line.clear();
        for (std::size_t i = 0; i < row.size(); ++i) {
          if (i) line += '\t';
          line += EscapeValue(row.Value(i), row.IsNull(i));
        }
        line += '\n';
        return write(line);
      },
      options);
  if (std::fflush(stdout) != 0 && printed.writeError == 0) printed.writeError = errno ? errno : EIO;
  return printed;
}

int RowsExitCode(const PrintedRows& result, bool quiet) {
  if (result.writeError != 0) {
    std::fprintf(stderr, "migrator-cli sql: writing the rows failed: %s\n",
                 std::strerror(result.writeError));
    return 1;
  }
  switch (result.outcome) {
    case oledb::TextReadOutcome::MissingSession:
      std::fprintf(stderr, "%s\n", oledb::kNoConnection);
      return 1;
    case oledb::TextReadOutcome::Failed:
      std::fprintf(stderr, "%s\n", result.errorText.c_str());
      return 1;
    case oledb::TextReadOutcome::NoRowset:
      if (!quiet) std::fprintf(stderr, "%s\n", oledb::kResultSuccess);
      return 0;
    case oledb::TextReadOutcome::Rows:
      break;
  }
  // A row that could not be read in full ended the loop early.
  if (result.hr != hr::DB_S_ENDOFROWSET && result.hr != hr::S_OK) {
    std::fprintf(stderr, "migrator-cli sql: reading the rows failed (0x%08x): %s\n",
                 static_cast<unsigned>(result.hr), result.errorText.c_str());
    return 1;
  }
  return 0;
}

}  // namespace migrator::cli
