// The main window's own commands through the scripted frontend: the
// controller check, Delete Selected for each node kind with its two
// questions answered both ways, and the description of working tasks.

#include <gtest/gtest.h>

#include "app/output.h"
#include "browser/refresh_tree.h"
#include "tasks/controller.h"
#include "workflow_fixture.h"
#include "workflows/main_commands.h"

namespace migrator::testing {
namespace {

namespace fs = std::filesystem;

class DeleteCommandTest : public ::testing::Test {
 protected:
  DeleteCommandTest() : ws(ui, dir.str(), QuickTiming(), TaskFunctionTable{}) {}

  std::string Path(const std::string& name) const { return (dir / name).string(); }

  void ConnectTo(const std::string& book) {
    ConnectionSettings s;
    s.providerId = kJetProvider;
    s.sourceName = book;
    ws.target.SetSettings(s);
    Connect(ws, DataSourceSide::Target);
    ASSERT_TRUE(ws.target.Connected());
  }

  NodeId Find(NodeKind kind, const std::string& text = {}) const {
    for (const auto& n : ws.target.tree.Nodes())
      if (n.id != kNoNode && n.kind == kind && (text.empty() || n.text == text)) return n.id;
    return kNoNode;
  }
  void Select(NodeKind kind, const std::string& text = {}) {
    const NodeId id = Find(kind, text);
    ASSERT_NE(id, kNoNode) << "no node " << text;
    ASSERT_TRUE(ws.target.tree.Select(id));
  }

  TempDir dir;
  ScriptedFrontend ui;
  Workspace ws;
};

TEST_F(DeleteCommandTest, RefusesWithoutAConnectionOrASelectionAndWhileTasksRun) {
  EXPECT_EQ(DeleteSelectedCommand(ws), 0);
  EXPECT_EQ(ui.Calls(), (std::vector<std::string>{
                            "hint: Press Config button, and get a successful target Connection!",
                            "ask Ok [Delete]: No Target DataSource Connection!"}));

  MakeTableBook(Path("shop.xls"), {{"orders", {"id"}, {{"1"}}}, {"items", {"sku"}, {{"a"}}}});
  ConnectTo(Path("shop.xls"));

  // Running: only the offer to stop; Cancel keeps it running, OK stops it.
  Select(NodeKind::Table, "orders");
  ws.SetState(ControllerState::Running);
  ui.ClearCalls();
  ui.QueueAnswer(Answer::Cancel);
  EXPECT_EQ(DeleteSelectedCommand(ws), 0);
  EXPECT_EQ(ws.State(), ControllerState::Running);
  ui.QueueAnswer(Answer::Ok);
  EXPECT_EQ(DeleteSelectedCommand(ws), 0);
  EXPECT_EQ(ws.State(), ControllerState::Stopping);
  EXPECT_EQ(DeleteSelectedCommand(ws), 0);
  EXPECT_EQ(ui.Calls(), (std::vector<std::string>{
                            "ask OkCancel: Some Tasks is Processing, STOP ALL?",
                            "ask OkCancel: Some Tasks is Processing, STOP ALL?",
                            "ask Ok: Some Tasks is Stopping, Please try again later!!!"}));
  EXPECT_EQ(SheetNames(Path("shop.xls")), (std::vector<std::string>{"orders", "items"}));

  // The root is nothing to delete.
  ws.SetState(ControllerState::Idle);
  Select(NodeKind::Root);
  ui.ClearCalls();
  EXPECT_EQ(DeleteSelectedCommand(ws), 0);
  EXPECT_EQ(ui.Calls(),
            (std::vector<std::string>{
                "hint: Please select a table, tables, views or database on target Database Tree!",
                "ask Ok: No selected Object to delete!"}));
}

TEST_F(DeleteCommandTest, ATableGoesOnlyAfterOkAndYes) {
  MakeTableBook(Path("shop.xls"), {{"orders", {"id"}, {{"1"}}}, {"items", {"sku"}, {{"a"}}}});
  ConnectTo(Path("shop.xls"));
  const std::string db = Path("shop");

  for (Answer first : {Answer::Cancel, Answer::Ok}) {
    Select(NodeKind::Table, "orders");
    ui.ClearCalls();
    ui.QueueAnswer(first);
    if (first == Answer::Ok) ui.QueueAnswer(Answer::No);
    EXPECT_EQ(DeleteSelectedCommand(ws), 0);
    EXPECT_EQ(SheetNames(Path("shop.xls")), (std::vector<std::string>{"orders", "items"}));
    EXPECT_FALSE(ui.HasText("Delete the table [" + db + ".orders]?"));
  }
  const auto asks = ui.CallsStartingWith("ask");
  ASSERT_EQ(asks.size(), 2u);
  EXPECT_EQ(asks[0], "ask OkCancel: Delete the table [" + db + ".orders]?");
  EXPECT_EQ(asks[1], "ask YesNo: After remove, you can not restore the table [" + db +
                         ".orders]! Continue?\nPress YES to Continue Removing!");

  Select(NodeKind::Table, "orders");
  ui.QueueAnswer(Answer::Ok);
  ui.QueueAnswer(Answer::Yes);
  EXPECT_EQ(DeleteSelectedCommand(ws), 1);
  EXPECT_TRUE(ui.HasText("Delete the table [" + db + ".orders]?"));
  EXPECT_EQ(SheetNames(Path("shop.xls")), (std::vector<std::string>{"items"}));
  EXPECT_EQ(Find(NodeKind::Table, "orders"), kNoNode);
  EXPECT_NE(Find(NodeKind::Table, "items"), kNoNode);
}

TEST_F(DeleteCommandTest, FoldersCountWhatWentAndADatabaseAsksForANewConnection) {
  MakeTableBook(
      Path("shop.xls"),
      {{"orders", {"id"}, {{"1"}}}, {"items", {"sku"}, {{"a"}}}, {"notes", {"n"}, {{"x"}}}});
  ConnectTo(Path("shop.xls"));
  const std::string db = Path("shop");

  // A Tables folder whose tables are no sheets of the workbook: none goes,
  // and the count says so.
  const NodeId root = Find(NodeKind::Root);
  const std::string rootText = ws.target.tree.Node(root)->text;
  ws.target.tree.Replace({{0, NodeKind::Root, rootText, kNoNode, {1}, true},
                          {1, NodeKind::Database, db, 0, {2, 5}, true},
                          {2, NodeKind::TablesFolder, "Tables", 1, {3, 4}, true},
                          {3, NodeKind::Table, "ghost1", 2, {}},
                          {4, NodeKind::Table, "ghost2", 2, {}},
                          {5, NodeKind::ViewsFolder, "Views", 1, {6, 7}, true},
                          {6, NodeKind::View, "v1", 5, {}},
                          {7, NodeKind::View, "v2", 5, {}}});
  ASSERT_TRUE(ws.target.tree.Select(2));
  ui.SetDefaultAnswer(Answer::Ok);  // OK and, fitted to Yes/No, Yes
  EXPECT_EQ(DeleteSelectedCommand(ws), 0);
  EXPECT_TRUE(ui.HasText("Delete all the tables of [" + db + "]?"));
  EXPECT_TRUE(ui.HasText("[0] tables removed!"));
  EXPECT_EQ(SheetNames(Path("shop.xls")).size(), 3u);
  // A failed drop leaves the workbook closed; the command opens it again.
  EXPECT_TRUE(ws.target.Connected());
  EXPECT_NE(Find(NodeKind::Table, "orders"), kNoNode);

  // Views (a workbook holds none: each drop is a success with nothing to do).
  ws.target.tree.Replace({{0, NodeKind::Root, rootText, kNoNode, {1}, true},
                          {1, NodeKind::Database, db, 0, {2}, true},
                          {2, NodeKind::ViewsFolder, "Views", 1, {3, 4}, true},
                          {3, NodeKind::View, "v1", 2, {}},
                          {4, NodeKind::View, "v2", 2, {}}});
  ASSERT_TRUE(ws.target.tree.Select(2));
  ui.ClearCalls();
  EXPECT_EQ(DeleteSelectedCommand(ws), 2);
  EXPECT_TRUE(ui.HasCall("ask YesNo: After remove, you can not restore the views of [" + db +
                         "] again! Continue?\nPress YES to Continue Removing!"));
  EXPECT_TRUE(ui.HasText("[2] views removed!"));

  // The real Tables folder: every sheet but the last one goes (a workbook
  // keeps one sheet), each counted.
  Select(NodeKind::TablesFolder);
  EXPECT_EQ(DeleteSelectedCommand(ws), 2);
  EXPECT_TRUE(ui.HasText("[2] tables removed!"));
  EXPECT_EQ(SheetNames(Path("shop.xls")).size(), 1u);

  // The connected database: the file goes, the node goes, the current
  // database is cleared and the configuration is asked for.
  Select(NodeKind::Database, db);
  ui.ClearCalls();
  ui.ClearLines();
  EXPECT_EQ(DeleteSelectedCommand(ws), 1);
  EXPECT_TRUE(ui.HasCall("ask OkCancel: Delete database [" + db + "]?"));
  EXPECT_TRUE(ui.HasText("Remove Database [" + db + "]!"));
  EXPECT_FALSE(ui.HasText("Delete database [" + db + "]?"));
  EXPECT_FALSE(fs::exists(Path("shop.xls")));
  EXPECT_EQ(Find(NodeKind::Database, db), kNoNode);
  EXPECT_EQ(ws.target.tree.CurrentDatabase(), "");
  EXPECT_EQ(ui.PostedCommands(), std::vector<int>{kCmdConfigButton});
}

TEST(WorkingTasksTextTest, NamesOnlyTheTasksAtWork) {
  TaskList list;
  Task waiting;
  waiting.sourceDatabase = "shop";
  list.Append(waiting);
  Task working;
  working.sourceDatabase = "shop";
  working.sourceObject = "orders";
  working.targetDatabase = "/data/book";
  const TaskId id = list.Append(working);
  EXPECT_EQ(WorkingTasksText(list), "");
  list.MarkStarted(id, 1);
  EXPECT_EQ(WorkingTasksText(list), "02 MIGRATION [shop].[orders] -> [/data/book]\n");
  list.Finish(id, true);
  EXPECT_EQ(WorkingTasksText(list), "");
}

}  // namespace
}  // namespace migrator::testing
