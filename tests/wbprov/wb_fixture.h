#pragma once
// Helpers for the workbook provider's tests: workbooks made with the engine,
// a data source and session opened through the registry, and readers that
// give rows and schema records as plain text.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/scripted_frontend.h"
#include "oledb/data_source.h"
#include "oledb/operations.h"
#include "oledb/schema_reader.h"
#include "oledb/slot.h"
#include "oledb/text_rows.h"
#include "providers/registry.h"
#include "providers/workbook/workbook_provider.h"
#include "xls/workbook.h"

namespace migrator::wbtest {

using Rows = std::vector<std::vector<std::string>>;

// Writes a workbook with the given sheets; cells of the first sheet from
// `cells` (row by row, "" for an empty cell, numbers as numbers when
// `numbers` is set).
inline void MakeWorkbook(const std::filesystem::path& path,
                         std::initializer_list<std::string> sheets = {"Sheet1"},
                         const Rows& cells = {}, bool numbers = false) {
  auto book = xls::Workbook::New();
  for (const auto& s : sheets)
    ASSERT_TRUE(book.AddSheet(s).ok());
  for (std::uint32_t r = 0; r < cells.size(); ++r) {
    for (std::uint32_t c = 0; c < cells[r].size(); ++c) {
      const std::string& v = cells[r][c];
      if (v.empty()) continue;
      char* end = nullptr;
      const double d = std::strtod(v.c_str(), &end);
      if (numbers && r > 0 && end && *end == '\0') {
        ASSERT_TRUE(book.sheet(0).SetNumber(r, c, d).ok());
      } else {
        ASSERT_TRUE(book.sheet(0).SetText(r, c, v).ok());
      }
    }
  }
  ASSERT_TRUE(book.Save(path.string()).ok());
}

// A data source of the workbook provider and one session in a slot, as a
// side holds them.
struct Connection {
  std::shared_ptr<oledb::DataSource> dataSource;
  oledb::SessionSlot session;

  HRESULT Open(const std::string& path, const std::string& providerString = "Excel 8.0;HDR=Yes;",
               int mode = oledb::DB_MODE_SHARE_DENY_NONE, std::optional<int> waitSeconds = {}) {
    HRESULT h = providers::CreateDataSource(providers::workbook::kProviderId, dataSource);
    if (hr::Failed(h)) return h;
    oledb::PropertySet init;
    init.Add(oledb::DBPROP_INIT_DATASOURCE, oledb::Variant::Bstr(path));
    init.Add(oledb::DBPROP_INIT_MODE, oledb::Variant::I4(mode));
    init.Add(oledb::DBPROP_INIT_PROVIDERSTRING, oledb::Variant::Bstr(providerString));
    if (waitSeconds) init.Add(oledb::DBPROP_INIT_GENERALTIMEOUT, oledb::Variant::I4(*waitSeconds));
    h = dataSource->SetProperties(init);
    if (hr::Failed(h)) return h;
    h = dataSource->Initialize();
    if (hr::Failed(h)) return h;
    std::shared_ptr<oledb::Session> s;
    h = dataSource->CreateSession(s);
    session.Set(s);
    return h;
  }
  std::string InitError() const {
    return oledb::ErrorDescription(dataSource.get(), oledb::Iid::IDBInitialize);
  }
  // Releases the session, then the data source (each saves pending rows).
  void Close() {
    session.Reset();
    dataSource.reset();
  }
  oledb::SessionRef ref() const { return &session; }
};

// Runs statements and flushes with the report flag 1, and gives the line the
// last one wrote, if any.
struct Exec {
  ScriptedFrontend ui;
  bool Run(oledb::SessionRef s, const std::string& statement) {
    ui.ClearLines();
    return oledb::ExecuteStatement(ui, s, statement, 1);
  }
  bool Flush(oledb::SessionRef s) {
    ui.ClearLines();
    return oledb::FlushSession(ui, s, 1);
  }
  std::string Line() const {
    auto texts = ui.Texts();
    return texts.empty() ? std::string() : texts.back();
  }
};

// The names in a directory, sorted, but `leaveOut`.
inline std::vector<std::string> DirectoryEntries(const std::filesystem::path& dir,
                                                 const std::string& leaveOut = {}) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir))
    if (e.path().filename() != leaveOut) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// The rows of a statement as text ("(NULL)" for NULL); the error text, when
// it fails, in `error`.
inline Rows Select(oledb::SessionRef session, const std::string& statement,
                   std::string* error = nullptr,
                   std::vector<oledb::ColumnInfo>* columns = nullptr) {
  Rows rows;
  auto result = oledb::ReadTextRows(session, statement, [&](const oledb::TextRow& row) {
    std::vector<std::string> r;
    for (std::size_t i = 0; i < row.size(); ++i)
      r.push_back(row.IsNull(i) ? "(NULL)" : row.Value(i));
    rows.push_back(std::move(r));
    return true;
  });
  if (error) *error = result.outcome == oledb::TextReadOutcome::Failed ? result.errorText : "";
  if (columns) *columns = result.columns;
  return rows;
}

inline std::vector<std::string> TableNames(oledb::SessionRef session,
                                           const std::string& type = "TABLE") {
  std::vector<std::string> names;
  oledb::TablesReader tables;
  oledb::Restrictions r;
  if (!type.empty()) r.Set(oledb::restriction::kTableType, type);
  EXPECT_EQ(tables.Open(session, r), hr::S_OK);
  while (tables.MoveNext() == hr::S_OK) {
    EXPECT_EQ(tables.record().tableType, "TABLE");
    names.push_back(tables.record().tableName);
  }
  return names;
}

inline std::vector<oledb::ColumnRecord> ColumnRecords(oledb::SessionRef session,
                                                      const std::string& table) {
  std::vector<oledb::ColumnRecord> out;
  oledb::ColumnsReader columns;
  oledb::Restrictions r;
  if (!table.empty()) r.Set(oledb::restriction::kTableName, table);
  EXPECT_EQ(columns.Open(session, r), hr::S_OK);
  while (columns.MoveNext() == hr::S_OK)
    out.push_back(columns.record());
  return out;
}

}  // namespace migrator::wbtest
