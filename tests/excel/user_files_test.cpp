// The person's own workbooks in the hands of the workbook operations: a new
// workbook never replaces a file, header formatting keeps to the sheets it is
// given, a read-only workbook stays as it is, an operation of the window does
// not run while a task works on the workbooks, and with Auto Backup on a
// workbook is copied aside before it is cleared or dropped from.

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <thread>

#include "excel_fixture.h"

namespace migrator::testing {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

using UserFilesTest = ExcelTest;

// The files of a directory whose names begin with `stem`.
std::vector<fs::path> FilesStartingWith(const fs::path& dir, const std::string& stem) {
  std::vector<fs::path> found;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(dir, ec))
    if (e.path().filename().string().rfind(stem, 0) == 0) found.push_back(e.path());
  std::sort(found.begin(), found.end());
  return found;
}

TEST_F(UserFilesTest, ANewWorkbookNeverReplacesAFileOfTheNameItResolvesTo) {
  MakeWorkbook(Path("shop.xls"), {{"mine", {{"kept"}}}});
  MakeWorkbook(Path("Report.xls"), {{"mine", {{"kept"}}}});
  const std::string shop = ReadFile(Path("shop.xls"));
  const std::string report = ReadFile(Path("Report.xls"));
  ws.target.tree.SetCurrentDatabase(Path("old"));

  EXPECT_FALSE(ExcelAdapter::CreateDatabase(ws, "shop", 1));
  EXPECT_TRUE(ui.HasText("The workbook [" + Path("shop.xls") + "] is not made: [" +
                         Path("shop.xls") + "] is there already."))
      << ::testing::PrintToString(ui.Texts());
  EXPECT_TRUE(ReadFile(Path("shop.xls")) == shop);

  // A name that differs only in case is the same workbook to the person.
  EXPECT_FALSE(ExcelAdapter::CreateDatabase(ws, Path("Report.XLS"), 1));
  EXPECT_TRUE(ui.HasText("The workbook [" + Path("Report.XLS") + "] is not made: [" +
                         Path("Report.xls") + "] is there already."))
      << ::testing::PrintToString(ui.Texts());
  EXPECT_FALSE(fs::exists(Path("Report.XLS")));
  EXPECT_TRUE(ReadFile(Path("Report.xls")) == report);

  // Nor a link, even one that leads nowhere.
  fs::create_symlink(Path("elsewhere.xls"), Path("linked.xls"));
  EXPECT_FALSE(ExcelAdapter::CreateDatabase(ws, Path("linked"), 1));
  EXPECT_FALSE(fs::exists(Path("elsewhere.xls")));
  // Nothing of the attempts is left beside them.
  EXPECT_EQ(FilesStartingWith(dir.path(), "."), std::vector<fs::path>{});
}

// "Book.XLS" is found; only the sheets named are formatted, and the others
// (a sheet of the person's, with its own header fill, widths and no panes, and
// a hidden one) stay as they were. A failure is the result, not a success.
TEST_F(UserFilesTest, HeaderFormattingFindsBookXlsAndKeepsToTheSheetsItIsGiven) {
  const std::string path = Path("Book.XLS");
  MakeWorkbook(path, {{"mine", {{"own", "header"}, {"1", "2"}}},
                      {"secret", {{"hidden", "one"}}},
                      {"new", {{"customer_name", "n"}}}});
  {
    auto wb = LoadWorkbook(path);
    xls::RowFormat red;
    red.fillColor = 10;
    ASSERT_TRUE(wb.sheet(0).FormatRow(0, red).ok());
    ASSERT_TRUE(wb.sheet(0).SetColumnWidth(0, 40).ok());
    ASSERT_TRUE(wb.sheet(1).SetVisibility(xls::Visibility::kHidden).ok());
    ASSERT_TRUE(wb.Save(path).ok());
  }
  const auto mineFormat = LoadWorkbook(path).sheet(0).RowFormatIndex(0);
  ConnectTarget(path);

  EXPECT_TRUE(ExcelAdapter::FormatTableHeads(ws, "Book", std::vector<std::string>{"new"}));
  EXPECT_TRUE(ui.CallsStartingWith("ask").empty()) << ::testing::PrintToString(ui.Calls());
  {
    auto wb = LoadWorkbook(path);
    const xls::Sheet& mine = wb.sheet(0);
    EXPECT_EQ(mine.frozenRows(), 0u);
    EXPECT_DOUBLE_EQ(mine.ColumnWidth(0), 40);
    EXPECT_FALSE(mine.HasColumnWidth(1));
    EXPECT_EQ(mine.RowFormatIndex(0), mineFormat);
    EXPECT_EQ(wb.sheet(1).visibility(), xls::Visibility::kHidden);
    EXPECT_EQ(wb.sheet(1).frozenRows(), 0u);
    EXPECT_EQ(wb.sheet(2).frozenRows(), 1u);
    EXPECT_DOUBLE_EQ(wb.sheet(2).ColumnWidth(0), 15);
  }
  ASSERT_TRUE(ws.target.Connected());

  // Every sheet, as before: the hidden one is passed over, not a failure.
  EXPECT_TRUE(ExcelAdapter::FormatTableHeads(ws, "Book"));
  EXPECT_TRUE(ui.CallsStartingWith("ask").empty()) << ::testing::PrintToString(ui.Calls());
  EXPECT_EQ(LoadWorkbook(path).sheet(0).frozenRows(), 1u);
  EXPECT_EQ(LoadWorkbook(path).sheet(1).frozenRows(), 0u);

  fs::rename(path, Path("moved.XLS"));
  EXPECT_FALSE(ExcelAdapter::FormatTableHeads(ws, "Book", std::vector<std::string>{"new"}));
}

TEST_F(UserFilesTest, AReadOnlyWorkbookIsNeitherChangedNorReplacedNorDeleted) {
  const std::string db = Path("shop");
  MakeWorkbook(db + ".xls", {{"a", {{"x"}}}, {"b", {{"y"}}}});
  ASSERT_EQ(::chmod((db + ".xls").c_str(), 0444), 0);
  const std::string before = ReadFile(db + ".xls");
  ConnectTarget(db + ".xls");
  ws.target.tree.SetCurrentDatabase(db);

  EXPECT_FALSE(ExcelAdapter::DropTable(ws, db, "a$"));
  EXPECT_FALSE(ExcelAdapter::DropTables(ws, db, {"a$", "b$"}));
  EXPECT_FALSE(ExcelAdapter::RecreateDatabase(ws, db));
  EXPECT_FALSE(ExcelAdapter::DropDatabase(ws, db));
  std::size_t told = 0;
  for (const auto& line : ui.Texts())
    if (line.find(std::strerror(EACCES)) != std::string::npos) ++told;
  for (const auto& call : ui.CallsStartingWith("ask Ok: "))
    if (call.find(std::strerror(EACCES)) != std::string::npos) ++told;
  EXPECT_GE(told, 4u) << ::testing::PrintToString(ui.Texts());
  ASSERT_TRUE(fs::exists(db + ".xls"));
  EXPECT_TRUE(ReadFile(db + ".xls") == before);
  EXPECT_TRUE(FilesStartingWith(dir.path(), ".").empty());
}

// A task's pass holds the task lock; an operation of the window waits for it
// to end, and refuses when it does not end in time.
TEST(WindowOperations, WaitForARunningTaskOrRefuse) {
  TempDir dir;
  ScriptedFrontend ui;
  ControllerTiming timing = QuickTiming();
  timing.workbookWait = 1s;
  Workspace ws(ui, dir.str(), timing);
  const std::string db = (dir / "shop").string();
  MakeWorkbook(db + ".xls", {{"a", {{"x"}}}, {"b", {{"y"}}}, {"c", {{"z"}}}});
  const std::string before = ReadFile(db + ".xls");

  // A pass that holds the task lock until `release` is set (or for `length`).
  std::atomic<bool> held{false}, release{false};
  auto pass = [&](std::chrono::milliseconds length) {
    held = false;
    std::thread t([&ws, &held, &release, length] {
      std::lock_guard lock(ws.taskLock());
      held = true;
      const auto end = std::chrono::steady_clock::now() + length;
      while (!release && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(1ms);
    });
    while (!held)
      std::this_thread::sleep_for(1ms);
    return t;
  };
  std::thread longPass = pass(60s);
  EXPECT_FALSE(ExcelAdapter::DropTable(ws, db, "a$"));
  EXPECT_FALSE(ExcelAdapter::RecreateDatabase(ws, db));
  EXPECT_FALSE(ExcelAdapter::DropDatabase(ws, db));
  release = true;
  longPass.join();
  EXPECT_TRUE(ReadFile(db + ".xls") == before);
  EXPECT_GE(ui.Texts().size(), 3u);
  EXPECT_NE(ui.Texts().back().find("a task is still running"), std::string::npos)
      << ui.Texts().back();

  release = false;
  std::thread shortPass = pass(100ms);
  EXPECT_TRUE(ExcelAdapter::DropTable(ws, db, "a$"));
  shortPass.join();
  EXPECT_EQ(SheetNames(db + ".xls"), (std::vector<std::string>{"b", "c"}));
}

TEST_F(UserFilesTest, AutoBackupCopiesTheWorkbookAsideBeforeItIsClearedOrDroppedFrom) {
  const std::string db = Path("shop");
  MakeWorkbook(db + ".xls", {{"a", {{"x"}}}, {"b", {{"y"}}}, {"c", {{"z"}}}});
  ConnectTarget(db + ".xls");
  ws.target.tree.SetCurrentDatabase(db);

  // Off: nothing is copied.
  ASSERT_TRUE(ExcelAdapter::DropTable(ws, db, "c$"));
  EXPECT_FALSE(fs::exists(dir / "backup"));

  ws.SetAutoBackup(true);
  const std::string first = ReadFile(db + ".xls");
  ASSERT_TRUE(ExcelAdapter::DropTable(ws, db, "b$"));
  auto copies = FilesStartingWith(dir / "backup", "shop-");
  ASSERT_EQ(copies.size(), 1u);
  EXPECT_EQ(copies[0].extension(), ".xls");
  EXPECT_TRUE(ReadFile(copies[0]) == first);
  EXPECT_TRUE(ui.HasText("Auto Backup: [" + db + ".xls] copied to [" + copies[0].string() + "]"))
      << ::testing::PrintToString(ui.Texts());

  // Into the chosen backup directory, never over an earlier copy.
  ws.SetBackup({true, Path("chosen")});
  const std::string second = ReadFile(db + ".xls");
  ASSERT_TRUE(ExcelAdapter::RecreateDatabase(ws, db));
  ASSERT_TRUE(ExcelAdapter::DropDatabase(ws, db));
  copies = FilesStartingWith(dir / "chosen", "shop-");
  ASSERT_EQ(copies.size(), 2u);
  EXPECT_TRUE(ReadFile(copies[0]) == second || ReadFile(copies[1]) == second);
  EXPECT_FALSE(fs::exists(db + ".xls"));
}

}  // namespace
}  // namespace migrator::testing
