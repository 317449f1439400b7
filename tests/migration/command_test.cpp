// The Migrate command's decision table, answered through the scripted
// frontend: what each pair of node kinds asks and queues, and what a missing
// connection, a missing selection or a Cancel does.

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "adapters/excel/excel_adapter.h"
#include "app/scripted_frontend.h"
#include "app/workspace.h"
#include "tasks/controller.h"
#include "testlib/testlib.h"
#include "workflows/connect.h"
#include "workflows/migration.h"
#include "xls/workbook.h"

namespace migrator {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

ControllerTiming Quick() {
  ControllerTiming t;
  t.period = 5ms;
  t.taskStart = 0ms;
  t.afterStart = 0ms;
  t.stopWait = 0ms;
  return t;
}

// Tasks are queued and run, but their functions only succeed.
TaskFunctionTable NoWork() {
  TaskFunctionTable t;
  for (int code : {257, 258, 259, 260, 261, 262})
    t.functions[code] = [](TaskContext&) { return true; };
  return t;
}

class MigrateCommandTest : public ::testing::Test {
 protected:
  MigrateCommandTest() : ws(ui, dir.str(), Quick(), NoWork()) {
    ws.source.SetDbmsTitle("MariaDB[10]");
  }

  void ConnectTarget() {
    auto wb = xls::Workbook::New();
    ASSERT_TRUE(wb.AddSheet("Sheet1").ok());
    ASSERT_TRUE(wb.Save(book + ".xls").ok());
    ConnectionSettings s;
    s.providerId = kJetProvider;
    s.sourceName = book + ".xls";
    ws.target.SetSettings(s);
    Connect(ws, DataSourceSide::Target);
    ASSERT_TRUE(ws.target.Connected());
  }

  // Runs the command and returns the task it queued, if any.
  std::optional<Task> Run(const std::optional<MigrateSelection>& source,
                          const std::optional<MigrateSelection>& target) {
    ui.ClearCalls();
    const auto before = ws.tasks.Size();
    const auto id = MigrateCommand(ws, source, target);
    EXPECT_EQ(ws.tasks.Size(), before + (id ? 1 : 0));
    return id ? ws.tasks.Find(*id) : std::nullopt;
  }

  // The hints and questions since the last Run (the controller thread adds
  // calls of its own meanwhile).
  std::vector<std::string> Said() const {
    std::vector<std::string> said;
    for (const auto& call : ui.Calls())
      if (call.rfind("hint:", 0) == 0 || call.rfind("ask ", 0) == 0) said.push_back(call);
    return said;
  }

  testing::TempDir dir;
  ScriptedFrontend ui;
  Workspace ws;
  const std::string book = (dir / "book").string();
};

TEST_F(MigrateCommandTest, EveryPairOfNodeKindsAsksAndQueuesItsTask) {
  const MigrateSelection db{NodeKind::Database, "shop", "shop"};
  const MigrateSelection table{NodeKind::Table, "order details", "shop"};
  const MigrateSelection tables{NodeKind::TablesFolder, "Tables", "shop"};
  const MigrateSelection view{NodeKind::View, "totals", "shop"};
  const MigrateSelection views{NodeKind::ViewsFolder, "Views", "shop"};
  const MigrateSelection column{NodeKind::Column, "id", ""};
  const MigrateSelection root{NodeKind::Root, "DATABASES", ""};

  // Without a target connection nothing else is looked at.
  EXPECT_FALSE(Run(db, root));
  EXPECT_EQ(Said(), (std::vector<std::string>{
                        "hint: Please confirm your Target Database Connection is valid!",
                        "ask Ok: No Target DataSource Connection!"}));
  EXPECT_FALSE(fs::exists(dir / "data_cache"));

  ConnectTarget();
  const MigrateSelection workbook{NodeKind::Database, book, book};
  EXPECT_FALSE(Run(std::nullopt, workbook));
  EXPECT_EQ(Said(), (std::vector<std::string>{
                        "hint: Please Select a Object to Convert in Source Databases Tree!",
                        "ask Ok: No Selected Source Database Object!"}));
  EXPECT_TRUE(fs::is_directory(dir / "data_cache"));
  EXPECT_EQ(ws.CurrentDirectory().path(), (dir / "data_cache").string());
  EXPECT_FALSE(Run(db, std::nullopt));
  EXPECT_EQ(Said(), (std::vector<std::string>{"hint: Please Select a object in Target Tree!",
                                              "ask Ok: No Selected Target Objects!"}));

  struct Row {
    MigrateSelection source, target;
    std::string question;
    int type;
    std::string sourceObject, sourceDatabase, targetDatabase;
  };
  const std::vector<Row> rows = {
      {db, root, "Clone database [shop] of source tree?", 257, "", "shop", "shop"},
      {db, workbook, "Convert database [shop] into Target database [" + book + "]?", 258, "",
       "shop", book},
      {table, workbook, "Convert table [order details] into Target database [" + book + "]?", 261,
       "order details", "shop", book},
      {tables, workbook, "Convert tables of [shop] into Target database [" + book + "]?", 259, "",
       "shop", book},
      {view, workbook, "Convert view [totals] into Target database [" + book + "]?", 262, "totals",
       "shop", book},
      {views, workbook, "Convert views of [shop] into Target database [" + book + "]?", 260, "",
       "shop", book},
  };
  for (const Row& row : rows) {
    // Cancel queues nothing.
    ui.QueueAnswer(Answer::Cancel);
    EXPECT_FALSE(Run(row.source, row.target)) << row.question;
    EXPECT_EQ(Said(), (std::vector<std::string>{"ask OkCancel: " + row.question}));

    ui.QueueAnswer(Answer::Ok);
    const auto task = Run(row.source, row.target);
    ASSERT_TRUE(task) << row.question;
    EXPECT_EQ(Said().front(), "ask OkCancel: " + row.question);
    EXPECT_EQ(task->kind, kMigrationTask);
    EXPECT_EQ(task->typeCode, row.type);
    EXPECT_EQ(task->sourceObject, row.sourceObject);
    EXPECT_EQ(task->sourceDatabase, row.sourceDatabase);
    EXPECT_EQ(task->targetDatabase, row.targetDatabase);
    EXPECT_EQ(task->sourceDbms, "MariaDB[10]");
    EXPECT_EQ(task->targetDbms, "Excel Workbook[BIFF8]");
  }

  // Pairs that make no task.
  for (const auto& [source, target] : std::vector<std::pair<MigrateSelection, MigrateSelection>>{
           {table, root},
           {db, table},
           {db, MigrateSelection{NodeKind::TablesFolder, "Tables", book}}}) {
    EXPECT_FALSE(Run(source, target));
    EXPECT_EQ(Said(),
              (std::vector<std::string>{"hint: Please select a database in Target Database Tree!",
                                        "ask Ok: Please select a target Database!"}));
  }
  // A database target and a source node of another kind: no question, no
  // task, but the controller is started.
  ASSERT_TRUE(testing::WaitUntil([&] { return ws.controller().Stopped(); }));
  EXPECT_FALSE(Run(column, workbook));
  EXPECT_TRUE(ui.CallsStartingWith("ask").empty());
  EXPECT_NE(ws.State(), ControllerState::Idle);
}

TEST_F(MigrateCommandTest, TheSelectionsComeFromTheTrees) {
  ConnectTarget();
  // The source tree: root, database, its Tables folder, a table.
  std::vector<TreeNode> nodes(4);
  nodes[0] = {0, NodeKind::Root, "DATABASES", kNoNode, {1}};
  nodes[1] = {1, NodeKind::Database, "shop", 0, {2}};
  nodes[2] = {2, NodeKind::TablesFolder, "Tables", 1, {3}};
  nodes[3] = {3, NodeKind::Table, "orders", 2, {}};
  ws.source.tree.Replace(nodes);
  ws.source.tree.Select(3);
  std::vector<TreeNode> target(2);
  target[0] = {0, NodeKind::Root, book + ".xls", kNoNode, {1}};
  target[1] = {1, NodeKind::Database, book, 0, {}};
  ws.target.tree.Replace(target);

  EXPECT_FALSE(MigrateCommand(ws));  // nothing selected in the target tree
  ws.target.tree.Select(1);
  ui.QueueAnswer(Answer::Ok);
  const auto id = MigrateCommand(ws);
  ASSERT_TRUE(id);
  const auto task = ws.tasks.Find(*id);
  EXPECT_EQ(task->typeCode, kMigrateTable);
  EXPECT_EQ(task->sourceObject, "orders");
  EXPECT_EQ(task->sourceDatabase, "shop");
  EXPECT_EQ(task->targetDatabase, book);
}

}  // namespace
}  // namespace migrator
