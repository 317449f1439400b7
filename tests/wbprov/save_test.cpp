// Saving a workbook: a save that fails, or stops between writing the
// temporary file and renaming it over the workbook, leaves the previous
// workbook whole, and a change whose save failed is undone.

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

#include "app/output.h"
#include "app/scripted_frontend.h"
#include "oledb/operations.h"
#include "testlib/testlib.h"
#include "wbprov/wb_fixture.h"

namespace {

// What rename() does in this test program: the engine's Save ends with it.
enum class RenameMode { Normal, Fail, Crash };
std::atomic<RenameMode> g_renameMode{RenameMode::Normal};

struct RenameModeScope {
  explicit RenameModeScope(RenameMode m) { g_renameMode = m; }
  ~RenameModeScope() { g_renameMode = RenameMode::Normal; }
};

}  // namespace

// Replaces the C library's rename() for this program: fails with EIO or ends
// the process on the spot (as a power cut would) when a test asks for it.
extern "C" int rename(const char* from, const char* to) noexcept {
  switch (g_renameMode.load()) {
    case RenameMode::Fail:
      errno = EIO;
      return -1;
    case RenameMode::Crash:
      _exit(42);
    case RenameMode::Normal:
      break;
  }
  return ::renameat(AT_FDCWD, from, AT_FDCWD, to);
}

namespace migrator::wbtest {
namespace {

using testing::TempDir;

// The files of a directory but the workbook's lock file, which is there
// while rows wait to be saved (writers_test.cpp looks at that one).
std::vector<std::string> FilesIn(const std::filesystem::path& dir) {
  return DirectoryEntries(dir, ".w.xls.~lock");
}

TEST(WorkbookSave, AFailedSaveUndoesTheTableStatement) {
  TempDir dir;
  const auto path = dir / "w.xls";
  MakeWorkbook(path, {"Sheet1"}, {{"a"}, {"1"}});
  const std::string before = testing::ReadFile(path);
  Connection c;
  ASSERT_EQ(c.Open(path.string()), hr::S_OK);
  ScriptedFrontend ui;
  {
    RenameModeScope fail(RenameMode::Fail);
    EXPECT_FALSE(oledb::ExecuteStatement(ui, c.ref(), "create table t (x text)", 1));
  }
  ASSERT_FALSE(ui.Texts().empty());
  EXPECT_EQ(ui.Texts().back().rfind("CREATE TABLE t was undone because the workbook cannot be "
                                    "saved: cannot save " +
                                        path.string(),
                                    0),
            0u)
      << ui.Texts().back();
  EXPECT_EQ(TableNames(c.ref()), (std::vector<std::string>{"Sheet1$"}));
  EXPECT_EQ(testing::ReadFile(path), before);
  EXPECT_EQ(FilesIn(dir.path()), (std::vector<std::string>{"w.xls"}));  // no temporary file left

  // Rows waiting to be saved stay, and a DROP whose save fails is undone.
  ASSERT_TRUE(oledb::ExecuteStatement(ui, c.ref(), "create table t (x text)", 1));
  ASSERT_TRUE(oledb::ExecuteStatement(ui, c.ref(), "insert into t values ('kept')", 1));
  {
    RenameModeScope fail(RenameMode::Fail);
    EXPECT_FALSE(oledb::ExecuteStatement(ui, c.ref(), "drop table t", 1));
    EXPECT_NE(ui.Texts().back().find("DROP TABLE was not run: the rows added before it cannot be "
                                     "saved"),
              std::string::npos)
        << ui.Texts().back();
  }
  EXPECT_EQ(Select(c.ref(), "select * from t"), (Rows{{"kept"}}));
  ASSERT_TRUE(oledb::ExecuteStatement(ui, c.ref(), "insert into t values ('more')", 1));
  c.session.Reset();  // saves
  std::shared_ptr<oledb::Session> s;
  ASSERT_EQ(c.dataSource->CreateSession(s), hr::S_OK);
  c.session.Set(s);
  {
    RenameModeScope fail(RenameMode::Fail);
    EXPECT_FALSE(oledb::ExecuteStatement(ui, c.ref(), "drop table t", 1));
  }
  EXPECT_EQ(Select(c.ref(), "select * from t"), (Rows{{"kept"}, {"more"}}));
  EXPECT_EQ(TableNames(c.ref()), (std::vector<std::string>{"Sheet1$", "t", "t$"}));
}

TEST(WorkbookSave, RowsThatCannotBeSavedAreReportedAndTheFileStaysWhole) {
  TempDir dir;
  const auto path = dir / "w.xls";
  MakeWorkbook(path);
  Connection c;
  ASSERT_EQ(c.Open(path.string()), hr::S_OK);
  ScriptedFrontend ui;
  ASSERT_TRUE(oledb::ExecuteStatement(ui, c.ref(), "create table t (x text)", 1));
  ASSERT_TRUE(oledb::ExecuteStatement(ui, c.ref(), "insert into t values ('first')", 1));
  const std::string before = testing::ReadFile(path);
  const std::string reason = "The rows added to the workbook \"" + path.string() +
                             "\" since it was last saved are not in the file: cannot save " +
                             path.string() + ": " + std::strerror(EFBIG);
  {
    testing::FileSizeLimit limit(1024);
    // An explicit flush says so, with the system's reason; the rows stay held.
    ui.ClearLines();
    EXPECT_FALSE(oledb::FlushSession(ui, c.ref(), 1));
    ASSERT_EQ(ui.Texts().size(), 1u);
    EXPECT_EQ(ui.Texts()[0], reason);
    EXPECT_EQ(ui.Lines()[0].textColour, kRed);
    EXPECT_EQ(testing::ReadFile(path), before);
    EXPECT_EQ(FilesIn(dir.path()), (std::vector<std::string>{"w.xls"}));
    EXPECT_EQ(Select(c.ref(), "select * from t"), (Rows{{"first"}}));

    // Closing the connection (as a reconnect does) reports the same loss.
    oledb::DataSourceSlot dataSource;
    dataSource.Set(std::move(c.dataSource));
    ui.ClearLines();
    EXPECT_FALSE(oledb::CloseConnection(ui, c.session, dataSource));
    ASSERT_EQ(ui.Texts().size(), 1u);
    EXPECT_EQ(ui.Texts()[0], reason);
    EXPECT_TRUE(c.session.Empty());
    EXPECT_TRUE(dataSource.Empty());
  }
  EXPECT_EQ(testing::ReadFile(path), before);
  EXPECT_EQ(FilesIn(dir.path()), (std::vector<std::string>{"w.xls"}));

  // Without the limit a flush saves, and says nothing.
  Connection again;
  ASSERT_EQ(again.Open(path.string()), hr::S_OK);
  ASSERT_TRUE(oledb::ExecuteStatement(ui, again.ref(), "insert into t values ('second')", 0));
  ui.ClearLines();
  EXPECT_TRUE(oledb::FlushSession(ui, again.ref(), 1));
  EXPECT_EQ(ui.LineCount(), 0u);
  Connection reader;
  ASSERT_EQ(reader.Open(path.string()), hr::S_OK);
  EXPECT_EQ(Select(reader.ref(), "select * from t"), (Rows{{"second"}}));
}

TEST(WorkbookSave, ASaveStoppedBeforeTheRenameLeavesThePreviousWorkbook) {
  TempDir dir;
  const auto path = dir / "w.xls";
  MakeWorkbook(path);
  {
    Connection c;
    ASSERT_EQ(c.Open(path.string()), hr::S_OK);
    ScriptedFrontend ui;
    ASSERT_TRUE(oledb::ExecuteStatement(ui, c.ref(), "create table t (id text, name text)", 1));
    ASSERT_TRUE(oledb::ExecuteStatement(ui, c.ref(), "insert into t values ('1', 'old')", 1));
  }
  const std::string before = testing::ReadFile(path);

  std::fflush(nullptr);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // Many rows, then the session goes and saves them; the process ends
    // between the temporary file and the rename.
    Connection c;
    if (hr::Failed(c.Open(path.string()))) _exit(1);
    ScriptedFrontend ui;
    for (int i = 0; i < 5000; ++i) {
      if (!oledb::ExecuteStatement(ui, c.ref(), "insert into t values ('n', 'new')", 0)) _exit(2);
    }
    g_renameMode = RenameMode::Crash;
    c.Close();
    _exit(3);  // the save never reached the rename
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  ASSERT_EQ(WEXITSTATUS(status), 42);

  // The workbook is the one before, byte for byte; the temporary file that
  // was about to replace it lies beside it.
  EXPECT_EQ(testing::ReadFile(path), before);
  const auto files = FilesIn(dir.path());
  ASSERT_EQ(files.size(), 2u);
  EXPECT_EQ(files[0].rfind(".w.xls.", 0), 0u) << files[0];
  EXPECT_GT(std::filesystem::file_size(dir / files[0]), std::filesystem::file_size(path));

  // Opening the workbook again removes what the dead save left, its lock
  // file too.
  EXPECT_TRUE(std::filesystem::exists(dir / ".w.xls.~lock"));
  Connection c;
  ASSERT_EQ(c.Open(path.string()), hr::S_OK);
  EXPECT_EQ(FilesIn(dir.path()), (std::vector<std::string>{"w.xls"}));
  EXPECT_FALSE(std::filesystem::exists(dir / ".w.xls.~lock"));
  EXPECT_EQ(Select(c.ref(), "select * from t"), (Rows{{"1", "old"}}));
  ScriptedFrontend ui;
  ASSERT_TRUE(oledb::ExecuteStatement(ui, c.ref(), "insert into t values ('2', 'after')", 1));
  c.Close();
  Connection again;
  ASSERT_EQ(again.Open(path.string()), hr::S_OK);
  EXPECT_EQ(Select(again.ref(), "select * from t"), (Rows{{"1", "old"}, {"2", "after"}}));
}

}  // namespace
}  // namespace migrator::wbtest
