// The target tree over real workbooks: the listing, node identity across
// rebuilds, and the context commands with their questions.

#include <gtest/gtest.h>

#include <filesystem>

#include "browser/refresh_tree.h"
#include "browser_fixture.h"
#include "excel/excel_fixture.h"
#include "workflows/migration.h"

namespace migrator::testing {
namespace {

namespace fs = std::filesystem;

class TargetTree : public ExcelTest {
 protected:
  // shop.xls: Sheet3 (from the create) and the tables orders and items.
  std::string MakeShop() {
    const std::string db = Path("shop");
    EXPECT_TRUE(ExcelAdapter::CreateDatabase(ws, db, 1));
    ConnectTarget(db + ".xls");
    EXPECT_TRUE(Run("CREATE TABLE orders (id NUMERIC, name TEXT)"));
    EXPECT_TRUE(Run("CREATE TABLE items (sku TEXT)"));
    RefreshTree(ws, DataSourceSide::Target, 0);
    ui.ClearCalls();
    ui.ClearLines();
    return db;
  }
  void SelectNode(NodeKind kind, const std::string& text) {
    ASSERT_TRUE(ws.target.tree.Select(FindNode(ws.target.tree, kind, text))) << text;
  }
  void Command(int id) { RunTreeCommand(ws, DataSourceSide::Target, id, host); }

  RecordingHost host;
};

std::string ShopDump(const std::string& db) {
  return "0 " + db + ".xls\n" + "  1 " + db +
         "\n"
         "    3 Tables\n"
         "      2 items\n"
         "        5 Fields ...\n"
         "        7 Indexes ...\n"
         "      2 orders\n"
         "        5 Fields ...\n"
         "        7 Indexes ...\n"
         "    9 Views\n";
}

TEST_F(TargetTree, TablesSitUnderTheirWorkbookAlsoAfterReopeningWithTheExtension) {
  const std::string db = MakeShop();
  // Sheets ("Sheet3$", "orders$") are not listed; the tables' names are.
  EXPECT_EQ(Dump(ws.target.tree), ShopDump(db));

  // Fields are read when the folder opens, once, and only for the tree
  // generation the caller saw.
  const std::uint64_t generation = ws.target.tree.Generation();
  const NodeId orders = FindNode(ws.target.tree, NodeKind::Table, "orders");
  const NodeId fields = ws.target.tree.Node(orders)->children[0];
  ASSERT_TRUE(ListFolder(ws, DataSourceSide::Target, fields, generation));
  EXPECT_FALSE(ListFolder(ws, DataSourceSide::Target, fields, generation));
  std::vector<std::string> columns;
  const TreeNode folder = *ws.target.tree.Node(fields);
  for (NodeId c : folder.children)
    columns.push_back(ws.target.tree.Node(c)->text);
  EXPECT_EQ(columns, (std::vector<std::string>{"id", "name"}));
  RefreshTree(ws, DataSourceSide::Target, 0);
  const NodeId freshFields =
      ws.target.tree.Node(FindNode(ws.target.tree, NodeKind::Table, "orders"))->children[0];
  EXPECT_FALSE(ListFolder(ws, DataSourceSide::Target, freshFields, generation));

  // Reopening puts the path with ".xls" into the current database.
  ASSERT_TRUE(ReopenDatabase(ws, "shop", 1));
  EXPECT_EQ(ws.target.tree.CurrentDatabase(), db + ".xls");
  EXPECT_EQ(Dump(ws.target.tree), ShopDump(db));

  // An upper-case extension names the same database.
  fs::rename(db + ".xls", Path("Book.XLS"));
  ConnectTarget(Path("Book.XLS"));
  EXPECT_EQ(ws.target.Settings().catalogName, Path("Book"));
  EXPECT_EQ(ws.target.tree.Node(FindNode(ws.target.tree, NodeKind::TablesFolder, "Tables"))->parent,
            FindNode(ws.target.tree, NodeKind::Database, Path("Book")));
}

TEST(DbTreeIdentity, ASelectionIsFoundAgainByItsPathOrCleared) {
  DbTree tree(DataSourceSide::Target, kExcel);
  auto make = [](std::vector<std::string> tables) {
    std::vector<TreeNode> nodes(3);
    nodes[0] = {0, NodeKind::Root, "DATABASES", kNoNode, {1}};
    nodes[1] = {1, NodeKind::Database, "shop", 0, {2}};
    nodes[2] = {2, NodeKind::TablesFolder, "Tables", 1, {}};
    for (auto& t : tables) {
      const NodeId id = static_cast<NodeId>(nodes.size());
      nodes.push_back({id, NodeKind::Table, t, 2, {}});
      nodes[2].children.push_back(id);
    }
    return nodes;
  };
  tree.Replace(make({"a", "b", "c"}));
  ASSERT_TRUE(tree.Select(4));  // b
  const std::uint64_t seen = tree.Generation();

  // "a" went away: b moved to id 3, and the selection went with it.
  tree.Replace(make({"b", "c"}));
  EXPECT_EQ(tree.Selected(), 3);
  EXPECT_EQ(tree.SelectedNode()->text, "b");
  // An id of the older generation is refused, even where it is in range.
  EXPECT_FALSE(tree.Select(4, seen));
  EXPECT_EQ(tree.Selected(), kNoNode);

  ASSERT_TRUE(tree.Select(3, tree.Generation()));
  tree.Replace(make({"c"}));  // b is gone: nothing is selected
  EXPECT_EQ(tree.Selected(), kNoNode);
  EXPECT_FALSE(tree.Select(99));
  EXPECT_FALSE(tree.Select(-7));
  EXPECT_FALSE(tree.SelectedNode().has_value());
  EXPECT_EQ(tree.Find(tree.PathOf(3)), 3);
}

TEST_F(TargetTree, DatabaseCommandsActOnlyAfterOkAndYes) {
  const std::string db = MakeShop();

  // Not a database: the message, nothing else.
  SelectNode(NodeKind::Table, "orders");
  Command(kCmdDeleteDatabase);
  EXPECT_EQ(ui.Calls(),
            std::vector<std::string>{"ask Ok: No Database in TARGET Side be Selected!"});
  // The source tree's handlers ignore the target's commands.
  ui.ClearCalls();
  RunTreeCommand(ws, DataSourceSide::Source, kCmdDeleteDatabase, host);
  EXPECT_TRUE(ui.Calls().empty());

  SelectNode(NodeKind::Database, db);
  const std::string first = "ask OkCancel: Remove database [" + db + "]?";
  const std::string second = "ask YesNo !: After remove, you can not restore [" + db +
                             "] again! Continue?\nPress YES to Continue Removing!";
  ui.QueueAnswer(Answer::Cancel);
  Command(kCmdDeleteDatabase);
  EXPECT_EQ(ui.Calls(), std::vector<std::string>{first});
  ui.ClearCalls();
  ui.QueueAnswer(Answer::Ok);
  ui.QueueAnswer(Answer::No);
  Command(kCmdDeleteDatabase);
  EXPECT_EQ(ui.Calls(), (std::vector<std::string>{first, second}));
  EXPECT_TRUE(fs::exists(db + ".xls"));
  EXPECT_TRUE(ws.target.Connected());

  ui.ClearCalls();
  ui.QueueAnswer(Answer::Ok);
  ui.QueueAnswer(Answer::Yes);
  Command(kCmdDeleteDatabase);
  EXPECT_FALSE(fs::exists(db + ".xls"));
  EXPECT_TRUE(ui.HasText("Drop Database SUCCESSFULLY!!!"));
  EXPECT_EQ(ui.PostedCommands(), std::vector<int>{1026});
  EXPECT_EQ(Dump(ws.target.tree), "");  // refreshed without a connection
}

TEST_F(TargetTree, ClearAllTablesReplacesTheWorkbookOnlyOnceTheEmptyOneIsSaved) {
  const std::string db = MakeShop();
  const std::string before = ReadFile(db + ".xls");

  // Without the spreadsheet program nothing is dropped.
  EXPECT_FALSE(ExcelAdapter::RecreateDatabase(ws, db, WithoutExcel()));
  EXPECT_EQ(ReadFile(db + ".xls"), before);
  EXPECT_TRUE(ws.target.Connected());
  EXPECT_FALSE(ui.HasText("Drop Database SUCCESSFULLY!!!"));

  SelectNode(NodeKind::Database, db);
  ui.QueueAnswer(Answer::Ok);
  ui.QueueAnswer(Answer::Yes);
  Command(kCmdClearAllTables);
  EXPECT_TRUE(ui.HasCall("ask OkCancel: Remove all the tables of [" + db + "]?"));
  EXPECT_EQ(SheetNames(db + ".xls"), std::vector<std::string>{"Sheet3"});
  EXPECT_FALSE(LoadWorkbook(db + ".xls").FindName("orders").has_value());
  EXPECT_TRUE(ui.HasCall("ask Ok: Connected Database Dropped, Please Connect Another!"));
  EXPECT_EQ(ui.PostedCommands(), std::vector<int>{1026});
  // Nothing is left beside it.
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);
}

TEST_F(TargetTree, ClearAllDataDropsEveryTableWithOneSaveOrNone) {
  const std::string db = MakeShop();
  SelectNode(NodeKind::Database, db);
  ui.QueueAnswer(Answer::Ok);
  ui.QueueAnswer(Answer::Yes);
  Command(kCmdClearAllData);
  EXPECT_TRUE(ui.HasCall("ask OkCancel: Delete all the data of [" + db + "]?"));
  EXPECT_EQ(SheetNames(db + ".xls"), std::vector<std::string>{"Sheet3"});
  EXPECT_EQ(ui.Texts(),
            (std::vector<std::string>{"Connect Target Database!",
                                      "RESULT: The operation completed SUCCESSFULLY",
                                      "Drop Table SUCCESSFULLY!!!", "Drop Table SUCCESSFULLY!!!"}));
  EXPECT_TRUE(ws.target.Connected());

  // The tables' sheets are all the workbook has: the last one cannot go, so
  // none goes.
  ASSERT_TRUE(Run("CREATE TABLE a (x TEXT)"));
  ASSERT_TRUE(Run("CREATE TABLE b (y TEXT)"));
  ASSERT_TRUE(ExcelAdapter::DropTable(ws, db, "Sheet3$"));
  RefreshTree(ws, DataSourceSide::Target, 0);
  ASSERT_EQ(SheetNames(db + ".xls"), (std::vector<std::string>{"a", "b"}));
  const std::string before = ReadFile(db + ".xls");
  SelectNode(NodeKind::Database, db);
  ui.ClearCalls();
  ui.QueueAnswer(Answer::Ok);
  ui.QueueAnswer(Answer::Yes);
  Command(kCmdClearAllData);
  EXPECT_EQ(ui.CallsStartingWith("ask Ok: ").size(), 2u);  // the failure's two boxes
  EXPECT_EQ(ReadFile(db + ".xls"), before);
}

TEST_F(TargetTree, DropTableActsOnTablesOnlyAndTheReopenedTreeLosesTheSelection) {
  const std::string db = MakeShop();
  // The root is selected: the command has no table to act on.
  ASSERT_TRUE(ws.target.tree.Select(0));
  Command(kCmdDropTable);
  EXPECT_EQ(SheetNames(db + ".xls"), (std::vector<std::string>{"Sheet3", "orders", "items"}));

  SelectNode(NodeKind::Table, "items");
  Command(kCmdDropTable);
  EXPECT_TRUE(ui.CallsStartingWith("ask").empty());  // no confirmation
  EXPECT_EQ(SheetNames(db + ".xls"), (std::vector<std::string>{"Sheet3", "orders"}));
  // Re-opening the target rebuilt the tree without the table, and the
  // selection went with it rather than onto another node.
  EXPECT_EQ(FindNode(ws.target.tree, NodeKind::Table, "items"), kNoNode);
  EXPECT_EQ(ws.target.tree.Selected(), kNoNode);
}

TEST_F(TargetTree, RenameCommitsWithEnterAndIsAbandonedOrRefusedOtherwise) {
  const std::string db = MakeShop();
  SelectNode(NodeKind::Table, "orders");
  const NodeId orders = ws.target.tree.Selected();
  Command(kCmdRenameTable);
  EXPECT_EQ(host.renamed, std::vector<NodeId>{orders});

  // Escape: the mark is not set.
  EXPECT_FALSE(FinishRename(ws, "sales"));
  const std::vector<std::string> sheets{"Sheet3", "orders", "items"};
  EXPECT_EQ(SheetNames(db + ".xls"), sheets);

  // Refused, each with its message; the label and the workbook stay.
  for (const std::string& name :
       {std::string("  "), std::string("sales$"), std::string("ITEMS"), std::string("Sheet3"),
        std::string("in/out"), std::string("'quoted'"), std::string(32, 'x')}) {
    ws.target.tree.SetRenameCommitted(true);
    ui.ClearCalls();
    EXPECT_FALSE(FinishRename(ws, name)) << name;
    EXPECT_EQ(ui.CallsStartingWith("ask Ok [Rename Table]: ").size(), 1u) << name;
    EXPECT_FALSE(ws.target.tree.RenameCommitted());
    EXPECT_EQ(ws.target.tree.Node(orders)->text, "orders");
  }
  EXPECT_EQ(SheetNames(db + ".xls"), sheets);

  ws.target.tree.SetRenameCommitted(true);
  EXPECT_TRUE(FinishRename(ws, "sales"));
  EXPECT_EQ(ws.target.tree.Node(orders)->text, "sales");
  EXPECT_EQ(SheetNames(db + ".xls"), (std::vector<std::string>{"Sheet3", "sales", "items"}));

  // A blank is fine in a sheet's name: the tree then shows the sheet's name
  // and says in the tooltip what the table is called in SQL.
  SelectNode(NodeKind::Table, "sales");
  ws.target.tree.SetRenameCommitted(true);
  ui.ClearCalls();
  EXPECT_TRUE(FinishRename(ws, "my sales"));
  EXPECT_TRUE(ui.CallsStartingWith("ask").empty());
  EXPECT_EQ(SheetNames(db + ".xls"), (std::vector<std::string>{"Sheet3", "my sales", "items"}));
  RefreshTree(ws, DataSourceSide::Target, 0);
  EXPECT_NE(FindNode(ws.target.tree, NodeKind::Table, "my sales"), kNoNode) << Dump(ws.target.tree);
  EXPECT_EQ(WorkbookTableTip("my sales"), "Sheet \"my sales\": the table named my_sales in SQL");
  EXPECT_EQ(WorkbookTableTip("items"), "Table items");
}

TEST_F(TargetTree, ADropSelectsTheTargetNodeAndTheMigrateCommandChoosesByBothKinds) {
  const std::string db = MakeShop();
  std::vector<TreeNode> nodes(4);
  nodes[0] = {0, NodeKind::Root, "DATABASES", kNoNode, {1}, true};
  nodes[1] = {1, NodeKind::Database, "sales", 0, {2}, true};
  nodes[2] = {2, NodeKind::TablesFolder, "Tables", 1, {3}, true};
  nodes[3] = {3, NodeKind::Table, "customers", 2, {}};
  ws.source.tree.Replace(nodes);
  const NodeId database = FindNode(ws.target.tree, NodeKind::Database, db);
  const std::uint64_t shown = ws.target.tree.Generation();

  struct Case {
    NodeId dragged;
    int type;
  };
  for (const Case& c : {Case{3, kMigrateTable}, Case{1, kMigrateDatabase}}) {
    ASSERT_TRUE(ws.source.tree.Select(c.dragged));  // the drag selects the dragged node
    ASSERT_TRUE(DropOnNode(ws, DataSourceSide::Target, database, shown));
    EXPECT_EQ(ui.PostedCommands().back(), kCmdMigrateDrop);
    EXPECT_EQ(ws.target.tree.Selected(), database);
    // What the posted command then queues.
    ui.QueueAnswer(Answer::Ok);
    auto task = ChooseMigrationTask(ws, *SelectionOf(ws.source.tree), *SelectionOf(ws.target.tree));
    ASSERT_TRUE(task.has_value());
    EXPECT_EQ(task->typeCode, c.type);
  }
  EXPECT_TRUE(
      ui.HasCall("ask OkCancel: Convert table [customers] into Target database [" + db + "]?"));
  // A drop onto a tree shown before its last rebuild posts nothing.
  const std::size_t posted = ui.PostedCommands().size();
  RefreshTree(ws, DataSourceSide::Target, 0);
  EXPECT_FALSE(DropOnNode(ws, DataSourceSide::Target, database, shown));
  EXPECT_EQ(ui.PostedCommands().size(), posted);
}

TEST_F(TargetTree, CreateAndDropFindRelativeAndUpperCaseNamesAlike) {
  // No target workbook: a bare name lives in the program's directory, for
  // the create and for the drop.
  ASSERT_TRUE(ExcelAdapter::CreateDatabase(ws, "rel", 1));
  ASSERT_TRUE(fs::exists(Path("rel.xls")));
  ASSERT_TRUE(ExcelAdapter::DropDatabase(ws, "rel"));
  EXPECT_FALSE(fs::exists(Path("rel.xls")));

  ASSERT_TRUE(ExcelAdapter::CreateDatabase(ws, "Book.XLS", 1));
  EXPECT_TRUE(fs::exists(Path("Book.XLS")));
  EXPECT_FALSE(fs::exists(Path("Book.XLS.xls")));
  ASSERT_TRUE(ExcelAdapter::DropDatabase(ws, Path("Book")));
  EXPECT_FALSE(fs::exists(Path("Book.XLS")));
}

}  // namespace
}  // namespace migrator::testing
