// Long reads: rows come off the network while they are read, on a connection
// of their own that follows the session.

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "odbc/server_fixture.h"

namespace migrator::testing {
namespace {

using namespace oledb;

// The statements of this test's login that the server is running now and
// whose text starts with `prefix`.
std::string Running(SessionSlot& slot, const std::string& prefix) {
  std::string count;
  ReadTextRows(
      &slot,
      "select count(*) from information_schema.processlist where info like '" + prefix + "%'",
      [&](const TextRow& row) {
        count = row.Value(0);
        return true;
      });
  return count;
}

TEST_F(ServerTest, LongReadsStreamOnAConnectionThatFollowsTheSession) {
  Exec("create table big (id int primary key, pad varchar(200))");
  Exec("insert into big select seq, repeat('x', 200) from seq_1_to_100000");

  // One row read of 100,000: the query is still being sent, and the session
  // meanwhile runs other statements.
  auto session = slot_.Get();
  CommandRun run =
      RunCommand(*session, "select * from big order by id", StandardRowsetProperties());
  ASSERT_TRUE(hr::Succeeded(run.hr) && run.rowset) << run.ErrorText();
  Rowset& rows = *run.rowset;
  ASSERT_EQ(rows.CreateAccessor(2), hr::S_OK);
  TextRow row;
  ASSERT_EQ(rows.GetNextRow(), hr::S_OK);
  ASSERT_EQ(rows.GetData(row), hr::S_OK);
  EXPECT_EQ(row.Value(0), "1");
  EXPECT_EQ(Running(slot_, "select * from big"), "1");
  Exec("set @x = 1");
  EXPECT_EQ(Single("select @x + 1"), "2");
  std::size_t n = 1;
  while (rows.GetNextRow() == hr::S_OK && rows.GetData(row) == hr::S_OK)
    ++n;
  EXPECT_EQ(n, 100000u);
  EXPECT_EQ(row.Value(0), "100000");
  // The server ends the statement just after its last row is on the way: a
  // fast reader may look before it has.
  std::string running = Running(slot_, "select * from big");
  for (int wait = 0; running != "0" && wait < 100; ++wait) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    running = Running(slot_, "select * from big");
  }
  EXPECT_EQ(running, "0");

  // Left after one row: closing it does not read the rest, and the next
  // read works.
  run = RunCommand(*session, "select * from big", StandardRowsetProperties());
  ASSERT_TRUE(run.rowset);
  ASSERT_EQ(run.rowset->CreateAccessor(2), hr::S_OK);
  ASSERT_EQ(run.rowset->GetNextRow(), hr::S_OK);
  run = CommandRun();
  EXPECT_EQ(Single("select count(*) from big"), "100000");

  // The session's database and result character set are followed.
  const std::string other = db_ + "_b";
  Exec("create database `" + other + "`");
  Exec("use `" + other + "`");
  Exec("set character_set_results = latin1");
  auto got = Rows("select database(), _utf8mb4 0xC3A9");
  Exec("drop database `" + other + "`");
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0], (std::vector<std::string>{other, "\xC3\xA9"}));

  // A session holding a transaction reads on its own connection: its
  // uncommitted rows are seen.
  Exec("use `" + db_ + "`");
  Exec("start transaction");
  Exec("delete from big where id > 10");
  EXPECT_EQ(Single("select count(*) from big"), "10");
  Exec("rollback");
}

}  // namespace
}  // namespace migrator::testing
