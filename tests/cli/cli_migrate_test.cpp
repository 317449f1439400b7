// migrator-cli migrate against the private server: a database of every
// column type family and every kind of awkward name and value is cloned into
// a new workbook, which the engine and xlrd then read back cell for cell.

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "app/scripted_frontend.h"
#include "app/workspace.h"
#include "oledb/text.h"
#include "oledb/text_rows.h"
#include "platform/text.h"
#include "testlib/server_source.h"
#include "testlib/testlib.h"
#include "workflows/connect.h"
#include "xls/workbook.h"

namespace migrator {
namespace {

namespace fs = std::filesystem;
using testing::AppendJsonString;
using testing::ShellQuote;

// One table as the server gives it: the column names, then the rows (a NULL
// as nothing).
struct Table {
  std::vector<std::string> header;
  std::vector<std::vector<std::optional<std::string>>> rows;
};

Table ReadSource(Workspace& ws, const std::string& table) {
  Table t;
  const auto r = oledb::ReadTextRows(
      &ws.source.session, "select * from " + oledb::QuoteIdentifier(table),
      [&t](const oledb::TextRow& row) {
        auto& out = t.rows.emplace_back();
        for (std::size_t i = 0; i < row.size(); ++i) {
          out.push_back(row.IsNull(i) ? std::nullopt : std::optional(row.Value(i)));
        }
        return true;
      });
  EXPECT_EQ(r.outcome, oledb::TextReadOutcome::Rows) << table << ": " << r.errorText;
  for (const auto& c : r.columns) {
    if (!c.IsBookmark() && c.ordinal != 0) t.header.push_back(ToLowerAscii(c.name));
  }
  return t;
}

TEST(MigrateCli, ClonesEveryTableCellForCellCutsWhatASheetCannotHoldAndSkipsTheView) {
  MIGRATOR_REQUIRE_MYSQL(server);
  testing::TempDir dir;
  const fs::path home = dir / "home";
  fs::create_directories(home);
  const std::string db = "mig_cli_" + std::to_string(::getpid());
  const std::string client = testing::RootClient(server);
  ASSERT_EQ(
      testing::RunCommand(client + " -e " +
                          ShellQuote("drop database if exists " + db + "; create database " + db))
          .status,
      0);
  const auto loaded = testing::RunCommand(
      client + " " + db + " < " +
      ShellQuote(std::string(MIGRATOR_SOURCE_DIR) + "/tests/cli/data/migrate_source.sql") +
      " 2>&1");
  ASSERT_EQ(loaded.status, 0) << loaded.out;

  const std::string url = "mysql://" + server.user + ":" + testing::PercentEncode(server.password) +
                          "@" + server.host + ":" + server.port + "/" + db;
  const fs::path book = dir / "clone.xls";
  const std::string err = (dir / "err").string();
  auto migrate = [&](const std::string& options) {
    return testing::RunCommand("MIGRATOR_HOME=" + ShellQuote(home.string()) + " " +
                               MIGRATOR_BINARY_DIR + "/migrator-cli migrate --source " +
                               ShellQuote(url) + " --target " + ShellQuote(book.string()) + " " +
                               options + " </dev/null 2>" + ShellQuote(err));
  };

  // Standard input is no terminal: without --yes the confirmation is refused.
  auto r = migrate("");
  EXPECT_EQ(r.status, 3);
  EXPECT_NE(testing::ReadFile(err).find("Clone database [" + db +
                                        "] of source tree? -> Cancel: the question needs an "
                                        "answer and there is no terminal to ask on; run with "
                                        "--yes to answer OK"),
            std::string::npos)
      << testing::ReadFile(err);
  EXPECT_FALSE(fs::exists(book));

  // The big table does not fit a sheet, so the task fails.
  r = migrate("--yes");
  const std::string log = testing::ReadFile(err);
  EXPECT_EQ(r.status, 1) << log;
  for (const char* line :
       {"[big] a sheet of an .xls workbook holds 65535 rows under its header: 4465 records of the "
        "table were left behind; an .xlsx workbook holds 1048575 rows a sheet",
        "[big] 65535 records converted, 4465 records not converted!",
        "[long_values] row 1, column [v]: a value of 40003 characters is cut to 32767",
        "[long_values] 2 records converted, 2 values cut to 32767 characters!",
        "values longer than a cell holds were cut to its 32767 characters (2 in [long_values])",
        "TABLE: [order details] is named [order_details] in the workbook, on the sheet [order "
        "details]",
        "[order details] 2 records converted, convertion completed SUCCESSFULLY!",
        "[types] 5 records converted, convertion completed SUCCESSFULLY!",
        "NO SUPPORT! No Views Supported in Excel!", "Operation FAILURE!"}) {
    EXPECT_NE(log.find(line), std::string::npos) << line << "\n" << log;
  }
  // Definitions the rewriting rules break are made from the column list.
  for (const char* table : {"types", "with_checks", "with_options"}) {
    EXPECT_NE(log.find("TABLE: [" + db + "].[" + table + "] is made from its column list instead"),
              std::string::npos)
        << table;
  }
  EXPECT_EQ(log.find("ERROR !"), std::string::npos) << log;

  // Scratch files stay inside the data cache, whatever the table's name, and
  // go once their table arrived whole.
  EXPECT_FALSE(fs::exists(home / "data_cache" / "___up.data"));
  EXPECT_TRUE(fs::exists(home / "data_cache" / "big.data"));
  EXPECT_FALSE(fs::exists(dir / "up.data"));
  EXPECT_FALSE(fs::exists(home / "up.data"));

  // What the server holds, table by table, and the sheet it must be on.
  ScriptedFrontend ui;
  Workspace ws(ui, home.string());
  ASSERT_TRUE(testing::ConnectServerSource(ws, server, db));
  const std::map<std::string, std::string> sheets = {{"types", "types"},
                                                     {"order details", "order details"},
                                                     {"odd`name", "odd`name"},
                                                     {"../up", ".._up"},
                                                     {"with_options", "with_options"},
                                                     {"with_checks", "with_checks"},
                                                     {"partitioned", "partitioned"},
                                                     {"long_values", "long_values"},
                                                     {"empty_table", "empty_table"},
                                                     {"big", "big"}};

  auto loadedBook = xls::Workbook::Load(book.string());
  ASSERT_TRUE(loadedBook.ok()) << loadedBook.message();
  const xls::Workbook& wb = *loadedBook;
  EXPECT_FALSE(wb.FindSheet("type_view"));
  std::string json = "{";
  for (const auto& [table, sheetName] : sheets) {
    Table t = ReadSource(ws, table);
    if (table == "big") t.rows.resize(65535);
    const auto index = wb.FindSheet(sheetName);
    ASSERT_TRUE(index) << sheetName;
    const xls::Sheet& sheet = wb.sheet(*index);
    if (json.size() > 1) json += ",";
    AppendJsonString(json, sheetName);
    json += ":[[";
    for (std::size_t c = 0; c < t.header.size(); ++c) {
      EXPECT_EQ(sheet.GetValue(0, static_cast<uint32_t>(c)).text, t.header[c]) << sheetName;
      if (c > 0) json += ",";
      AppendJsonString(json, t.header[c]);
    }
    json += "]";
    for (std::size_t r = 0; r < t.rows.size(); ++r) {
      json += ",[";
      for (std::size_t c = 0; c < t.rows[r].size(); ++c) {
        if (c > 0) json += ",";
        const xls::Value v = sheet.GetValue(static_cast<uint32_t>(r + 1), static_cast<uint32_t>(c));
        const auto& want = t.rows[r][c];
        if (!want) {
          EXPECT_EQ(v.text, "") << sheetName << " row " << r + 1 << " column " << c + 1;
          json += "null";
          continue;
        }
        const std::string cell(CutUtf16(*want, xls::kMaxTextLength));
        EXPECT_EQ(v.kind, xls::Value::Kind::kText) << sheetName << " row " << r + 1;
        EXPECT_EQ(v.text, cell) << sheetName << " row " << r + 1 << " column " << c + 1;
        AppendJsonString(json, cell);
      }
      json += "]";
    }
    json += "]";
    EXPECT_FALSE(sheet.GetCell(static_cast<uint32_t>(t.rows.size() + 1), 0).exists) << sheetName;
  }
  json += "}";

  // The 20,000-character value arrived whole, the 40,003-character one cut.
  EXPECT_EQ(ReadSource(ws, "types").rows[4][19]->size(), 20007u);

  // An independent reader sees the same cells, and a formatted header row on
  // every sheet.
  testing::WriteFile(dir / "expected.json", json);
  const std::string data = std::string(MIGRATOR_SOURCE_DIR) + "/tests/cli/data";
  r = testing::RunCommand("/usr/bin/python3 " + ShellQuote(data + "/compare_workbook.py") + " " +
                          ShellQuote(book.string()) + " " +
                          ShellQuote((dir / "expected.json").string()) + " 2>&1");
  EXPECT_EQ(r.status, 0) << r.out;
  r = testing::RunCommand(
      "/usr/bin/python3 " +
      ShellQuote(std::string(MIGRATOR_SOURCE_DIR) + "/tests/excel/data/check_heads.py") + " " +
      ShellQuote(book.string()) + " 2>&1");
  EXPECT_EQ(r.status, 0) << r.out;

  testing::RunCommand(client + " -e " + ShellQuote("drop database " + db));
}

}  // namespace
}  // namespace migrator
