#include "cli/print_rows.h"

#include <cstdio>
#include <string>

#include "oledb/operations.h"

namespace migrator::cli {

oledb::TextReadResult PrintRows(const std::shared_ptr<oledb::Session>& session,
                                std::string_view statement) {
  std::string line;
  auto result = oledb::ReadTextRows(session, statement, [&](const oledb::TextRow& row) {
    line.clear();
    for (std::size_t i = 0; i < row.size(); ++i) {
      if (i) line += '\t';
      line += row.IsNull(i) ? "(NULL)" : row.Value(i);
    }
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), stdout);
    return true;
  });
  std::fflush(stdout);
  return result;
}

int RowsExitCode(const oledb::TextReadResult& result, bool quiet) {
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
    std::fprintf(stderr, "migrator-cli sql: reading the rows failed (0x%08x)\n",
                 static_cast<unsigned>(result.hr));
    return 1;
  }
  return 0;
}

}  // namespace migrator::cli
