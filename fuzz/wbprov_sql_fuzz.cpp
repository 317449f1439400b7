// libFuzzer target: the workbook provider's SQL parser, and the statements it
// accepts run on a small workbook in memory.
//
// The input is one or more statements separated by NUL bytes. Each is parsed;
// what parses is run on a workbook that starts with an empty sheet and a
// table t (a text, n numeric, b bit). With WBPROV_FUZZ_PARSE_ONLY set in the
// environment only the parser runs, many times faster. Every table is then read back through
// the same calls the provider's rowsets use. (Writing the workbook out is the
// engine's own fuzz target's business; here it would only slow the runs.)

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "providers/workbook/sql.h"
#include "providers/workbook/tables.h"
#include "xls/workbook.h"

using namespace migrator;
using namespace migrator::providers::workbook;

namespace {

void ReadEverything(const WorkbookTables& tables) {
  std::string text;
  for (const TableRef& t : tables.List()) {
    const auto columns = tables.Columns(t);
    if (!t.range) continue;
    const auto [first, last] = WorkbookTables::DataRows(t);
    for (std::uint32_t row = first; row <= last && row < first + 64; ++row) {
      for (std::uint32_t c = 0; c < columns.size(); ++c)
        (void)tables.CellText(t.sheet, row, t.range->firstCol + c, text);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  static const bool parseOnly = std::getenv("WBPROV_FUZZ_PARSE_ONLY") != nullptr;
  if (parseOnly) {
    Statement st;
    std::size_t from = 0;
    while (from <= input.size()) {
      std::size_t end = input.find('\0', from);
      if (end == std::string_view::npos) end = input.size();
      (void)ParseStatement(input.substr(from, end - from), st);
      from = end + 1;
    }
    return 0;
  }

  auto book = xls::Workbook::New();
  if (!book.AddSheet("Sheet1")) return 0;
  WorkbookTables tables(book);
  Statement st;
  if (!ParseStatement("create table t (a text, n numeric, b bit)", st) || !tables.CreateTable(st))
    __builtin_trap();

  std::size_t from = 0;
  for (int count = 0; count < 16 && from <= input.size(); ++count) {
    std::size_t end = input.find('\0', from);
    if (end == std::string_view::npos) end = input.size();
    const std::string_view text = input.substr(from, end - from);
    from = end + 1;
    if (!ParseStatement(text, st)) continue;
    switch (st.kind) {
      case Statement::Kind::CreateTable:
        (void)tables.CreateTable(st);
        break;
      case Statement::Kind::Insert:
        (void)tables.Insert(st);
        break;
      case Statement::Kind::DropTable:
        (void)tables.DropTable(st);
        break;
      case Statement::Kind::Select:
        if (auto t = tables.Resolve(st.table)) (void)tables.Columns(*t);
        break;
    }
  }
  ReadEverything(tables);
  return 0;
}
