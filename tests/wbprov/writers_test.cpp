// Writers of one workbook: two connections (in this process or another one),
// a lock another program holds, LibreOffice's lock file, a file changed
// behind the provider's back and a workbook the user made read-only. No
// change is ever lost without a word, and no file is overwritten that the
// provider did not read.

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "app/scripted_frontend.h"
#include "oledb/operations.h"
#include "providers/workbook/workbook_provider.h"
#include "testlib/testlib.h"
#include "wbprov/wb_fixture.h"

namespace migrator::wbtest {
namespace {

using testing::TempDir;

std::vector<std::string> Sheets(const std::filesystem::path& path) {
  auto book = xls::Workbook::Load(path.string());
  EXPECT_TRUE(book.ok()) << book.message();
  std::vector<std::string> names;
  if (book.ok())
    for (std::size_t i = 0; i < book->sheetCount(); ++i)
      names.push_back(book->sheet(i).name());
  return names;
}

// A workbook w.xls of one sheet in a directory of its own; connections to it
// wait a second for another writer.
class WorkbookWriters : public ::testing::Test {
 protected:
  WorkbookWriters() { MakeWorkbook(path); }
  HRESULT Open(Connection& c) {
    return c.Open(path.string(), "Excel 8.0;HDR=Yes;", oledb::DB_MODE_SHARE_DENY_NONE, 1);
  }
  TempDir dir;
  const std::filesystem::path path = dir / "w.xls";
  Exec x;
};

TEST_F(WorkbookWriters, TwoConnectionsTakeTurnsAndKeepEachOthersChanges) {
  Connection a, b;
  ASSERT_EQ(Open(a), hr::S_OK);
  ASSERT_EQ(Open(b), hr::S_OK);
  ASSERT_TRUE(x.Run(a.ref(), "create table ta (v text)"));
  ASSERT_TRUE(x.Run(a.ref(), "insert into ta values ('a1')"));  // held, not saved yet

  // While a holds rows the file has not got, b waits and is then refused,
  // told by whom; the file keeps what a saved.
  EXPECT_FALSE(x.Run(b.ref(), "create table tb (v text)"));
  EXPECT_NE(x.Line().find("is being changed by"), std::string::npos) << x.Line();
  EXPECT_NE(x.Line().find("process " + std::to_string(::getpid())), std::string::npos) << x.Line();
  EXPECT_FALSE(x.Run(b.ref(), "insert into ta values ('b0')"));

  // Once a has saved, b works on the file as a left it, and a on b's.
  ASSERT_TRUE(x.Flush(a.ref()));
  ASSERT_TRUE(x.Run(b.ref(), "create table tb (v text)"));
  ASSERT_TRUE(x.Run(b.ref(), "insert into tb values ('b1')"));
  ASSERT_TRUE(x.Flush(b.ref()));
  ASSERT_TRUE(x.Run(a.ref(), "insert into ta values ('a2')"));
  a.Close();
  b.Close();

  Connection r;
  ASSERT_EQ(r.Open(path.string()), hr::S_OK);
  EXPECT_EQ(Select(r.ref(), "select * from ta"), (Rows{{"a1"}, {"a2"}}));
  EXPECT_EQ(Select(r.ref(), "select * from tb"), (Rows{{"b1"}}));
  r.Close();
  EXPECT_EQ(DirectoryEntries(dir.path()), (std::vector<std::string>{"w.xls"}));
}

// A lock of another process on the workbook's lock file (any fcntl lock), and
// LibreOffice's ".~lock.NAME#" file, refuse a write and name who holds them.
TEST_F(WorkbookWriters, ALockOfAnotherProgramRefusesTheWriteAndSaysWho) {
  const std::string before = testing::ReadFile(path);

  int ready[2], done[2];
  ASSERT_EQ(::pipe(ready), 0);
  ASSERT_EQ(::pipe(done), 0);
  std::fflush(nullptr);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::close(ready[0]);
    ::close(done[1]);
    const int fd = ::open((dir / ".w.xls.~lock").c_str(), O_RDWR | O_CREAT, 0644);
    struct flock fl {};
    fl.l_type = F_WRLCK;
    fl.l_whence = SEEK_SET;
    if (fd < 0 || ::fcntl(fd, F_SETLK, &fl) != 0) _exit(1);
    const char text[] = "a helper of the test";
    if (::write(fd, text, sizeof text - 1) < 0) _exit(1);
    char c = 'x';
    if (::write(ready[1], &c, 1) != 1) _exit(1);
    (void)::read(done[0], &c, 1);  // until the parent closes its end
    _exit(0);
  }
  ::close(ready[1]);
  ::close(done[0]);
  char c = 0;
  ASSERT_EQ(::read(ready[0], &c, 1), 1);

  Connection w;
  ASSERT_EQ(Open(w), hr::S_OK);
  EXPECT_FALSE(x.Run(w.ref(), "create table t (v text)"));
  EXPECT_NE(x.Line().find("a helper of the test"), std::string::npos) << x.Line();
  EXPECT_TRUE(testing::ReadFile(path) == before);

  ::close(done[1]);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ::close(ready[0]);

  // LibreOffice has it open: its lock file names the person and the time.
  testing::WriteFile(dir / ".~lock.w.xls#",
                     "Jane Doe,jane,pc7,19.05.2025 10:12,file:///home/jane/.config/libreoffice/4;");
  EXPECT_FALSE(x.Run(w.ref(), "insert into Sheet1 values ('x')"));
  EXPECT_NE(x.Line().find("Jane Doe"), std::string::npos) << x.Line();
  EXPECT_NE(x.Line().find(".~lock.w.xls#"), std::string::npos) << x.Line();
  EXPECT_TRUE(testing::ReadFile(path) == before);

  // Both gone (the helper's lock file stays behind it): the write goes through,
  // and what was left beside the workbook goes with the lock.
  std::filesystem::remove(dir / ".~lock.w.xls#");
  EXPECT_TRUE(x.Run(w.ref(), "create table t (v text)")) << x.Line();
  w.Close();
  EXPECT_EQ(Sheets(path), (std::vector<std::string>{"Sheet1", "t"}));
  EXPECT_EQ(DirectoryEntries(dir.path()), (std::vector<std::string>{"w.xls"}));
}

// Another program that writes the workbook without asking: rows held for it
// are not saved over its file, and a later change starts from that file.
// A workbook the user made read-only is not rewritten.
TEST_F(WorkbookWriters, AFileChangedBehindTheProviderOrReadOnlyIsNotOverwritten) {
  Connection c;
  ASSERT_EQ(Open(c), hr::S_OK);
  ASSERT_TRUE(x.Run(c.ref(), "create table t (v text)"));
  ASSERT_TRUE(x.Run(c.ref(), "insert into t values ('mine')"));
  MakeWorkbook(path, {"theirs"});
  EXPECT_FALSE(x.Flush(c.ref()));
  EXPECT_NE(x.Line().find("was changed by another program"), std::string::npos) << x.Line();
  EXPECT_EQ(Sheets(path), (std::vector<std::string>{"theirs"}));
  c.Close();
  EXPECT_EQ(Sheets(path), (std::vector<std::string>{"theirs"}));

  Connection d;
  ASSERT_EQ(Open(d), hr::S_OK);
  MakeWorkbook(path, {"theirs", "more"});
  ASSERT_TRUE(x.Run(d.ref(), "create table t2 (v text)")) << x.Line();
  EXPECT_EQ(Sheets(path), (std::vector<std::string>{"theirs", "more", "t2"}));

  // Read-only: refused at once, in the system's words, and left as it was.
  ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
  const std::string before = testing::ReadFile(path);
  EXPECT_EQ(Select(d.ref(), "select * from t2"), Rows{});
  EXPECT_FALSE(x.Run(d.ref(), "insert into t2 values ('x')"));
  EXPECT_NE(x.Line().find(std::strerror(EACCES)), std::string::npos) << x.Line();
  EXPECT_FALSE(x.Run(d.ref(), "drop table t2"));
  EXPECT_NE(x.Line().find(std::strerror(EACCES)), std::string::npos) << x.Line();
  d.Close();
  EXPECT_TRUE(testing::ReadFile(path) == before);
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0444u);
}

// A workbook lent (to the header formatting) while it holds rows the file has
// not got: the save of the borrower takes them, so the file is written once;
// a borrower that fails leaves them saved all the same, never read away.
TEST_F(WorkbookWriters, RowsHeldWhenTheWorkbookIsLentAreSavedOnceAndNeverLost) {
  Connection c;
  ASSERT_EQ(Open(c), hr::S_OK);
  ASSERT_TRUE(x.Run(c.ref(), "create table t (v text)"));
  ASSERT_TRUE(x.Run(c.ref(), "insert into t values ('a')"));  // held, not saved yet
  std::string before = testing::ReadFile(path);
  auto lend = [&](bool saves) {
    return providers::workbook::LendWorkbook(
        *c.dataSource, path.string(), [&](xls::Workbook& book, const std::string& file) {
          EXPECT_TRUE(testing::ReadFile(path) == before);  // not saved for the loan
          EXPECT_TRUE(book.AddSheet(saves ? "saved" : "failed").ok());
          return saves && book.Save(file).ok();
        });
  };
  auto rows = [&] {
    Connection r;
    EXPECT_EQ(Open(r), hr::S_OK);
    return Select(r.ref(), "select * from t");
  };
  ASSERT_TRUE(lend(true));
  EXPECT_EQ(Sheets(path), (std::vector<std::string>{"Sheet1", "t", "saved"}));
  EXPECT_EQ(rows(), (Rows{{"a"}}));

  ASSERT_TRUE(x.Run(c.ref(), "insert into t values ('b')"));
  before = testing::ReadFile(path);
  ASSERT_TRUE(lend(false));
  EXPECT_EQ(rows(), (Rows{{"a"}, {"b"}}));  // with the workbook as the borrower left it
  EXPECT_EQ(Sheets(path), (std::vector<std::string>{"Sheet1", "t", "saved", "failed"}));
  EXPECT_TRUE(x.Flush(c.ref()));  // nothing left held
}

}  // namespace
}  // namespace migrator::wbtest
