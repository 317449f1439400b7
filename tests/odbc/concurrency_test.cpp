// One MariaDB session shared by two threads, statements and row reads
// interleaved. Run it under ThreadSanitizer as well (a build directory
// configured with -DMIGRATOR_SANITIZE=thread).

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "app/scripted_frontend.h"
#include "odbc/server_fixture.h"
#include "oledb/schema_reader.h"

namespace migrator::testing {
namespace {

using namespace oledb;

TEST_F(ServerTest, OneSessionFromTwoThreads) {
  Exec("create table src (id int primary key, v varchar(20))");
  Exec("create table dst (id int, v varchar(20))");
  Exec("insert into src select seq, concat('value ', seq) from seq_1_to_500");

  ScriptedFrontend out;
  std::atomic<int> inserted{0};
  std::size_t rowsRead = 0;
  std::size_t expectedRead = 0;

  // The controller's side: read rows and write each one back as a statement.
  std::thread controller([&] {
    for (int round = 0; round < 3; ++round) {
      auto r = ReadTextRows(&slot_, "select id, v from src", [&](const TextRow& row) {
        ++rowsRead;
        if (std::stoi(row.Value(0)) % 10 == 0) {
          const bool ok = ExecuteStatement(
              out, &slot_, "insert into dst values (" + row.Value(0) + ", '" + row.Value(1) + "')",
              0);
          if (ok) ++inserted;
        }
        return true;
      });
      EXPECT_EQ(r.outcome, TextReadOutcome::Rows) << r.errorText;
      expectedRead += 500;
    }
  });
  // The window's side: refresh-like schema reads and single values meanwhile.
  std::thread window([&] {
    for (int i = 0; i < 30; ++i) {
      TablesReader t;
      ASSERT_EQ(t.Open(&slot_, Restrictions().Set(restriction::kTableType, "TABLE")), hr::S_OK);
      int tables = 0;
      while (t.MoveNext() == hr::S_OK)
        ++tables;
      EXPECT_EQ(tables, 2);
      ColumnsReader cols;
      ASSERT_EQ(cols.Open(&slot_, Restrictions().Set(restriction::kTableName, "src")), hr::S_OK);
      while (cols.MoveNext() == hr::S_OK) {
      }
      const std::string n = QuerySingleValue(out, &slot_, "select count(*) from src");
      EXPECT_EQ(n, "500");
    }
  });
  controller.join();
  window.join();
  EXPECT_EQ(rowsRead, expectedRead);
  EXPECT_EQ(inserted.load(), 150);
  EXPECT_EQ(Single("select count(*) from dst"), "150");
  EXPECT_TRUE(out.Texts().empty());
}

}  // namespace
}  // namespace migrator::testing
