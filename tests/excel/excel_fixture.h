#pragma once
// Shared by the Excel adapter tests: a workspace over a scripted frontend
// whose target side is the workbook provider, workbooks made with the engine,
// and services whose spreadsheet program is missing.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "adapters/excel/excel_adapter.h"
#include "app/scripted_frontend.h"
#include "app/workspace.h"
#include "oledb/operations.h"
#include "testlib/testlib.h"
#include "workflows/connect.h"
#include "xls/workbook.h"

namespace migrator::testing {

inline ControllerTiming QuickTiming() {
  ControllerTiming t;
  t.period = std::chrono::milliseconds(20);
  t.taskStart = std::chrono::milliseconds(0);
  t.afterStart = std::chrono::milliseconds(0);
  t.stopWait = std::chrono::milliseconds(1);
  t.exitWait = std::chrono::milliseconds(1);
  return t;
}

// A sheet for MakeWorkbook: its name and its rows of text cells ("" leaves a
// cell empty).
struct SheetSpec {
  std::string name;
  std::vector<std::vector<std::string>> rows;
};

inline void MakeWorkbook(const std::string& path, const std::vector<SheetSpec>& sheets) {
  auto wb = xls::Workbook::New();
  for (const auto& spec : sheets) {
    auto index = wb.AddSheet(spec.name);
    ASSERT_TRUE(index.ok()) << index.message();
    auto& sheet = wb.sheet(*index);
    for (uint32_t r = 0; r < spec.rows.size(); ++r) {
      for (uint32_t c = 0; c < spec.rows[r].size(); ++c) {
        if (!spec.rows[r][c].empty()) {
          ASSERT_TRUE(sheet.SetText(r, c, spec.rows[r][c]).ok());
        }
      }
    }
  }
  auto saved = wb.Save(path);
  ASSERT_TRUE(saved.ok()) << saved.message();
}

inline xls::Workbook LoadWorkbook(const std::string& path) {
  auto wb = xls::Workbook::Load(path);
  EXPECT_TRUE(wb.ok()) << (wb.ok() ? "" : wb.message());
  if (!wb.ok()) return xls::Workbook::New();
  return std::move(wb.value());
}

inline std::vector<std::string> SheetNames(const std::string& path) {
  std::vector<std::string> names;
  auto wb = LoadWorkbook(path);
  for (size_t i = 0; i < wb.sheetCount(); ++i)
    names.push_back(wb.sheet(i).name());
  return names;
}

// Services whose spreadsheet program cannot be started.
inline ExcelServices WithoutExcel() {
  ExcelServices s = DefaultExcelServices();
  s.startExcel = [](std::string_view) { return std::shared_ptr<automation::Application>(); };
  return s;
}

class ExcelTest : public ::testing::Test {
 protected:
  ExcelTest() : ws(ui, dir.str(), QuickTiming()) {}

  std::string Path(const std::string& name) const { return (dir / name).string(); }

  // Connects the target side to a workbook through the workbook provider.
  void ConnectTarget(const std::string& workbook) {
    ConnectionSettings s;
    s.providerText = "Microsoft Jet 4.0 OLE DB Provider";
    s.providerId = kJetProvider;
    s.sourceName = workbook;
    ws.target.SetSettings(s);
    Connect(ws, DataSourceSide::Target);
    ASSERT_TRUE(ws.target.Connected()) << "the workbook provider did not open " << workbook;
  }

  bool Run(const std::string& statement) {
    return oledb::ExecuteStatement(ui, &ws.target.session, statement, 1);
  }

  TempDir dir;
  ScriptedFrontend ui;
  Workspace ws;
};

}  // namespace migrator::testing
