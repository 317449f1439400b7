#pragma once
// Shared by the backup and restore tests: workbooks of tables made with the
// engine, a workspace whose target side is such a workbook, and waiting for
// the controller.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "excel/excel_fixture.h"
#include "xls/workbook.h"

namespace migrator::testing {

// A table for MakeTableBook: a sheet of that name holding the header and the
// rows (text cells; "" leaves a cell empty) and a defined name over them
// (none for a sheet filled by hand).
struct TableSpec {
  std::string name;
  std::vector<std::string> header;
  std::vector<std::vector<std::string>> rows;
  bool named = true;
};

inline void MakeTableBook(const std::string& path, const std::vector<TableSpec>& tables) {
  auto wb = xls::Workbook::New();
  for (const auto& t : tables) {
    auto index = wb.AddSheet(t.name);
    ASSERT_TRUE(index.ok()) << index.message();
    auto& sheet = wb.sheet(*index);
    for (std::uint32_t c = 0; c < t.header.size(); ++c)
      ASSERT_TRUE(sheet.SetText(0, c, t.header[c]).ok());
    for (std::uint32_t r = 0; r < t.rows.size(); ++r) {
      for (std::uint32_t c = 0; c < t.rows[r].size(); ++c) {
        if (t.rows[r][c].empty()) continue;
        ASSERT_TRUE(sheet.SetText(r + 1, c, t.rows[r][c]).ok());
      }
    }
    if (!t.named) continue;
    const auto lastCol = static_cast<std::uint32_t>(t.header.size() - 1);
    const auto lastRow = static_cast<std::uint32_t>(t.rows.size());
    ASSERT_TRUE(wb.DefineName(t.name, *index, xls::Range{0, 0, lastRow, lastCol}).ok());
  }
  auto saved = wb.Save(path);
  ASSERT_TRUE(saved.ok()) << saved.message();
}

// Waits until the task has an outcome; its state text, or "" on time-out.
inline std::string WaitForTask(Workspace& ws, TaskId id) {
  std::string state;
  WaitUntil([&] {
    auto t = ws.tasks.Find(id);
    if (t && t->state != kTaskWaiting) state = t->stateText;
    return !state.empty();
  });
  return state;
}

// Every regular file below a directory, as paths relative to it, sorted.
inline std::vector<std::string> FilesBelow(const std::filesystem::path& dir) {
  std::vector<std::string> out;
  for (const auto& e : std::filesystem::recursive_directory_iterator(dir)) {
    if (e.is_regular_file()) out.push_back(std::filesystem::relative(e.path(), dir).string());
  }
  std::sort(out.begin(), out.end());
  return out;
}

}  // namespace migrator::testing
