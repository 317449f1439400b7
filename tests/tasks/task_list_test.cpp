#include <gtest/gtest.h>

#include "tasks/task.h"

namespace migrator {
namespace {

Task Migration(int type, std::string db, std::string object = {}) {
  Task t;
  t.kind = kMigrationTask;
  t.typeCode = type;
  t.sourceDbms = "MariaDB[10.11.000019]";
  t.targetDbms = "Excel Workbook[BIFF8]";
  t.sourceDatabase = db;
  t.sourceObject = std::move(object);
  t.targetDatabase = "/data/book";
  return t;
}

Task Backup(std::string mode) {
  Task t;
  t.kind = kBackupTask;
  t.typeCode = kBackupDatabase;
  t.mode = std::move(mode);
  t.targetDatabase = "/data/book";
  return t;
}

std::vector<std::string> Column(TaskList& list, int column) {
  std::vector<std::string> out;
  for (const auto& r : list.Rebuild())
    out.push_back(r.cells[column]);
  return out;
}

TEST(TaskList, RowsShowTheRecordInColumnOrder) {
  TaskList list;
  list.Append(Migration(kMigrateTable, "shop", "orders"));
  list.Append(Backup("A"));
  auto rows = list.Rebuild();
  ASSERT_EQ(rows.size(), 2u);
  const std::string first[10] = {"01",
                                 "",
                                 "MIGRATION",
                                 "Waiting",
                                 "MariaDB[10.11.000019]",
                                 "shop",
                                 "orders",
                                 "Excel Workbook[BIFF8]",
                                 "/data/book",
                                 ""};
  for (int c = 0; c < 10; ++c) {
    if (c == 1) continue;
    EXPECT_EQ(rows[0].cells[c], first[c]) << kTaskColumns[c];
  }
  EXPECT_EQ(rows[0].cells[1], " ");
  EXPECT_EQ(rows[1].cells[0], "02");
  EXPECT_EQ(rows[1].cells[2], "BACKUP");
  EXPECT_EQ(rows[1].cells[4], "");
  EXPECT_STREQ(kTaskColumns[7], "Targert DBMS");
}

TEST(TaskList, IdsAreUniqueEvenForTasksCreatedTogether) {
  TaskList list;
  auto a = list.Append(Migration(kMigrateTable, "shop", "a"));
  auto b = list.Append(Migration(kMigrateTable, "shop", "b"));
  EXPECT_NE(a, b);
  list.MarkStarted(a, 1000);
  list.MarkStarted(b, 1000);  // the same second
  EXPECT_TRUE(list.Finish(a, false));
  EXPECT_EQ(list.Find(a)->stateText, "FAILURE");
  EXPECT_EQ(list.Find(b)->state, kTaskWaiting);
  EXPECT_EQ(list.Find(b)->stateText, "Working");
}

TEST(TaskList, MovesDeletesAndClearRenumberAndStayInBounds) {
  TaskList list;
  for (const char* t : {"a", "b", "c"})
    list.Append(Migration(kMigrateTable, "shop", t));
  EXPECT_EQ(list.MoveUp(0), 0);    // first row cannot go up
  EXPECT_EQ(list.MoveDown(2), 2);  // last row cannot go down
  EXPECT_EQ(list.MoveUp(-1), -1);  // nothing selected
  EXPECT_EQ(Column(list, 6), (std::vector<std::string>{"a", "b", "c"}));
  EXPECT_EQ(list.MoveDown(0), 1);
  EXPECT_EQ(Column(list, 6), (std::vector<std::string>{"b", "a", "c"}));
  EXPECT_EQ(list.MoveUp(2), 1);
  EXPECT_EQ(Column(list, 6), (std::vector<std::string>{"b", "c", "a"}));
  EXPECT_FALSE(list.Delete(3));
  EXPECT_FALSE(list.Delete(-1));
  EXPECT_TRUE(list.Delete(0));
  EXPECT_EQ(Column(list, 0), (std::vector<std::string>{"01", "02"}));
  EXPECT_EQ(Column(list, 6), (std::vector<std::string>{"c", "a"}));
  list.Clear();
  EXPECT_TRUE(list.Rebuild().empty());
}

TEST(TaskList, MovedTaskKeepsEveryField) {
  TaskList list;
  auto a = list.Append(Migration(kMigrateTable, "shop", "a"));
  list.Append(Migration(kMigrateTable, "shop", "b"));
  list.Rebuild();  // gives a its bar
  list.MarkStarted(a, 42);
  list.SetProgress(a, 50);
  list.MoveDown(0);
  auto moved = list.Snapshot()[1];
  EXPECT_EQ(moved.id, a);
  EXPECT_EQ(moved.startStamp, 42);
  EXPECT_EQ(moved.progress, 50);
  EXPECT_TRUE(moved.hasBar);
  EXPECT_EQ(moved.stateText, "Working");
}

TEST(TaskList, WaitingBarShowsFivePercentThenFollowsProgress) {
  TaskList list;
  auto id = list.Append(Migration(kMigrateTable, "shop", "a"));
  EXPECT_FALSE(list.Find(id)->hasBar);
  EXPECT_EQ(list.Rebuild()[0].progress, 5);
  EXPECT_EQ(list.Find(id)->progress, 5);
  EXPECT_EQ(list.Rebuild()[0].progress, 5);  // the bar exists now: no second bump
  list.MarkStarted(id, 7);
  EXPECT_EQ(list.Rebuild()[0].progress, 0);
  list.SetProgress(id, 90);
  EXPECT_EQ(list.Rebuild()[0].progress, 90);
  list.SetProgress(id, 250);
  EXPECT_EQ(list.Rebuild()[0].progress, 100);
}

TEST(TaskList, PaneIsRebuiltEveryFifthTickOnlyWhileItsTabIsCurrent) {
  TaskList list;
  for (int i = 0; i < 20; ++i)
    EXPECT_FALSE(list.Tick(false));
  int rebuilds = 0;
  for (int i = 0; i < 20; ++i)
    rebuilds += list.Tick(true);
  EXPECT_EQ(rebuilds, 4);
  list.ForceRefresh();
  EXPECT_FALSE(list.Tick(false));  // forced, but the tab is not current
  EXPECT_TRUE(list.Tick(true));
  EXPECT_FALSE(list.Tick(true));
}

TEST(TaskList, ControllerSideSkipsFinishedAndVisitedTasks) {
  TaskList list;
  auto a = list.Append(Migration(kMigrateTable, "shop", "a"));
  auto b = list.Append(Migration(kMigrateTable, "shop", "b"));
  EXPECT_EQ(list.NextWaiting({})->id, a);
  EXPECT_EQ(list.NextWaiting({a})->id, b);
  list.Finish(a, true);
  EXPECT_EQ(list.NextWaiting({})->id, b);
  list.Finish(b, true);
  EXPECT_FALSE(list.NextWaiting({}));
  EXPECT_FALSE(list.AnyWaiting());
  list.Delete(0);
  EXPECT_FALSE(list.Finish(a, true));  // gone: nothing to mark
}

}  // namespace
}  // namespace migrator
