// One session used from two threads: the layer serialises the calls, and it
// never holds its lock while the caller's code runs.

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <thread>

#include "app/scripted_frontend.h"
#include "oledb/fake_provider.h"
#include "oledb/operations.h"
#include "oledb/schema_reader.h"
#include "oledb/text_rows.h"

namespace migrator::oledb {
namespace {

using testing::FakeConnection;
using testing::FakeResult;
using testing::RowsOf;

TEST(SharedSession, CallsFromTwoThreadsNeverOverlapInTheProvider) {
  FakeConnection c;
  std::vector<std::vector<std::optional<std::string>>> rows;
  for (int i = 0; i < 50; ++i)
    rows.push_back({std::to_string(i), "x"});
  c.world.Set("select * from t", RowsOf(2, rows));
  c.world.Set("select count(*) from t", RowsOf(1, {{"50"}}));
  FakeResult tables;
  tables.kind = FakeResult::Rows;
  tables.columns = SchemaColumnInfo(Schema::Tables);
  tables.rows = {{"db", std::nullopt, "t", "TABLE"}};
  c.world.schemas[Schema::Tables] = tables;
  c.world.callDelay = std::chrono::microseconds(20);  // widens any window for an overlap

  ScriptedFrontend out;
  std::size_t readRows = 0;
  std::thread reader([&] {
    for (int i = 0; i < 20; ++i) {
      auto r = ReadTextRows(c.ref(), "select * from t", [&](const TextRow&) { return true; });
      readRows += r.rows;
    }
  });
  int statements = 0;
  std::thread writer([&] {
    for (int i = 0; i < 100; ++i) {
      statements += ExecuteStatement(out, c.ref(), "insert into t values (1)", 0) ? 1 : 0;
      EXPECT_EQ(QuerySingleValue(out, c.ref(), "select count(*) from t"), "50");
      TablesReader t;
      EXPECT_EQ(t.Open(c.ref(), Restrictions().Set(restriction::kTableType, "TABLE")), hr::S_OK);
      while (t.MoveNext() == hr::S_OK) {
      }
    }
  });
  reader.join();
  writer.join();
  EXPECT_EQ(readRows, 1000u);
  EXPECT_EQ(statements, 100);
  EXPECT_FALSE(c.world.overlapped);
}

TEST(SharedSession, TheLockIsNotHeldWhileARowHandlerRuns) {
  FakeConnection c;
  c.world.Set("select * from t", RowsOf(1, {{"a"}, {"b"}}));
  ScriptedFrontend out;
  bool otherThreadRan = false;
  bool sameThreadRan = false;
  auto r = ReadTextRows(c.ref(), "select * from t", [&](const TextRow& row) {
    if (row.Value(0) != "a") return true;
    // The same thread may use the session from inside the loop...
    sameThreadRan = ExecuteStatement(out, c.ref(), "update t set x = 1", 0);
    // ...and so may the other thread while this one waits for it.
    auto other = std::async(std::launch::async, [&] {
      return ExecuteStatement(out, c.ref(), "update t set x = 2", 0);
    });
    otherThreadRan =
        other.wait_for(std::chrono::seconds(10)) == std::future_status::ready && other.get();
    return true;
  });
  EXPECT_TRUE(sameThreadRan);
  EXPECT_TRUE(otherThreadRan);
  EXPECT_EQ(r.rows, 2u);
}

}  // namespace
}  // namespace migrator::oledb
