// Workbook maintenance of the target side: CreateDatabase, DropDatabase,
// DropTable, DropView and RenameTable against real workbook files, with the
// target side connected through the workbook provider.

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "excel_fixture.h"
#include "oledb/text_rows.h"

namespace migrator::testing {
namespace {

namespace fs = std::filesystem;

using CreateDatabaseTest = ExcelTest;
using DropTest = ExcelTest;
using RenameTest = ExcelTest;

TEST_F(CreateDatabaseTest, NonInteractiveNamesGoBesideTheTargetWorkbook) {
  ws.target.tree.SetCurrentDatabase(Path("old"));

  ASSERT_TRUE(ExcelAdapter::CreateDatabase(ws, "shop", 1));
  EXPECT_TRUE(ui.HasText("Create Excel xls File [" + Path("shop.xls") + "]"));
  // Two of the three new sheets are deleted; the file is an ordinary workbook.
  EXPECT_EQ(SheetNames(Path("shop.xls")), std::vector<std::string>{"Sheet3"});

  // ".xls" is not appended twice; an absolute path is taken as it is.
  ASSERT_TRUE(ExcelAdapter::CreateDatabase(ws, "books.xls", 1));
  EXPECT_TRUE(fs::exists(Path("books.xls")));
  EXPECT_FALSE(fs::exists(Path("books.xls.xls")));
  fs::create_directory(dir / "sub");
  ASSERT_TRUE(ExcelAdapter::CreateDatabase(ws, Path("sub/deep"), 1));
  EXPECT_TRUE(fs::exists(dir / "sub" / "deep.xls"));

  // Without a target workbook the name lands in the program's directory.
  ws.target.tree.SetCurrentDatabase("");
  ASSERT_TRUE(ExcelAdapter::CreateDatabase(ws, "Excel_New", 1));
  EXPECT_TRUE(fs::exists(Path("Excel_New.xls")));
  // A non-interactive create leaves the target side alone.
  EXPECT_FALSE(ws.target.Connected());
  EXPECT_TRUE(ui.Calls().empty());
}

TEST_F(CreateDatabaseTest, InteractiveAsksForTheFileAndConnectsTheTargetToIt) {
  ConnectionSettings s;
  s.providerId = kJetProvider;
  ws.target.SetSettings(s);

  // Cancelled: nothing happens and nothing is said.
  EXPECT_FALSE(ExcelAdapter::CreateDatabase(ws, dir.str() + "/", 0));
  EXPECT_TRUE(ui.HasCall("save-file: Create Excel Database As @" + dir.str() + "/"));
  EXPECT_EQ(ui.LineCount(), 0u);

  ui.QueueFile(Path("chosen"));
  ASSERT_TRUE(ExcelAdapter::CreateDatabase(ws, dir.str() + "/", 0));
  EXPECT_TRUE(fs::exists(Path("chosen.xls")));
  ASSERT_TRUE(ws.target.Connected());
  EXPECT_EQ(ws.target.Settings().sourceName, Path("chosen.xls"));
  EXPECT_EQ(ws.target.Settings().catalogName, Path("chosen"));
}

TEST_F(CreateDatabaseTest, WithoutTheSpreadsheetProgramNothingIsCreated) {
  EXPECT_FALSE(ExcelAdapter::CreateDatabase(ws, Path("none"), 1, WithoutExcel()));
  EXPECT_TRUE(ui.HasText("Excel not installed, some functions not supported!!!"));
  EXPECT_FALSE(fs::exists(Path("none.xls")));
}

TEST_F(CreateDatabaseTest, AFileThatCannotBeWrittenIsShownInTwoMessageBoxes) {
  EXPECT_FALSE(ExcelAdapter::CreateDatabase(ws, Path("missing-dir/x"), 1));
  const auto asks = ui.CallsStartingWith("ask Ok: ");
  ASSERT_EQ(asks.size(), 2u);
  EXPECT_EQ(asks[0], "ask Ok: Unknown error 0x800A03EC");
  EXPECT_NE(asks[1].find("missing-dir/x.xls"), std::string::npos) << asks[1];
}

TEST_F(DropTest, DecoratedTableNamesDeleteTheSheetOfTheBareName) {
  const std::string db = Path("shop");
  MakeWorkbook(db + ".xls", {{"a", {{"x"}}}, {"b", {{"y"}}}, {"c", {{"z"}}}});
  ConnectTarget(db + ".xls");
  ws.SetState(ControllerState::Running);

  ASSERT_TRUE(ExcelAdapter::DropTable(ws, db, "'b$'"));
  EXPECT_EQ(ws.State(), ControllerState::Stopping);  // running tasks were asked to stop
  EXPECT_EQ(SheetNames(db + ".xls"), (std::vector<std::string>{"a", "c"}));
  EXPECT_TRUE(ui.HasText("Drop Table SUCCESSFULLY!!!"));
  // The target side is open again, on the same workbook.
  EXPECT_TRUE(ws.target.Connected());
  EXPECT_EQ(ws.target.tree.SideMarker(), 1);
  EXPECT_EQ(ws.target.Settings().catalogName, db);

  ASSERT_TRUE(ExcelAdapter::DropTable(ws, db, "a$"));
  EXPECT_EQ(SheetNames(db + ".xls"), std::vector<std::string>{"c"});
}

TEST_F(DropTest, AFailureLeavesTheTargetClosedAndTheWorkbookUnchanged) {
  const std::string db = Path("shop");
  MakeWorkbook(db + ".xls", {{"a", {{"x"}}}, {"b", {{"y"}}}});
  ConnectTarget(db + ".xls");

  EXPECT_FALSE(ExcelAdapter::DropTable(ws, db, "nosuch"));
  const auto asks = ui.CallsStartingWith("ask Ok: ");
  ASSERT_EQ(asks.size(), 2u);
  EXPECT_EQ(asks[0], "ask Ok: Invalid index.");
  EXPECT_NE(asks[1].find("nosuch"), std::string::npos);
  EXPECT_FALSE(ui.HasText("Drop Table SUCCESSFULLY!!!"));
  EXPECT_FALSE(ws.target.Connected());
  EXPECT_EQ(ws.target.tree.SideMarker(), -1);
  EXPECT_EQ(ws.target.tree.SessionRef(), nullptr);
  EXPECT_EQ(SheetNames(db + ".xls"), (std::vector<std::string>{"a", "b"}));

  // The last sheet cannot go either.
  MakeWorkbook(Path("one.xls"), {{"only", {{"x"}}}});
  EXPECT_FALSE(ExcelAdapter::DropTable(ws, Path("one"), "only$"));
  EXPECT_EQ(SheetNames(Path("one.xls")), std::vector<std::string>{"only"});

  // Without the program the side is closed all the same and not re-opened.
  ConnectTarget(db + ".xls");
  EXPECT_FALSE(ExcelAdapter::DropTable(ws, db, "a", WithoutExcel()));
  EXPECT_TRUE(ui.HasText("Excel not installed, some functions not supported!!!"));
  EXPECT_FALSE(ws.target.Connected());
}

TEST_F(DropTest, ATableMadeThroughTheProviderCanBeDroppedAfterTheRowsAreSaved) {
  const std::string db = Path("made");
  ASSERT_TRUE(ExcelAdapter::CreateDatabase(ws, db, 1));
  ConnectTarget(db + ".xls");
  ASSERT_TRUE(Run("CREATE TABLE t (id NUMERIC, name TEXT)"));
  ASSERT_TRUE(Run("INSERT INTO t VALUES (1, 'one')"));
  ASSERT_TRUE(Run("CREATE TABLE u (v TEXT)"));
  // The rows still held by the provider reach the file before it is opened.
  ASSERT_TRUE(ExcelAdapter::DropTable(ws, db, "u$"));
  EXPECT_EQ(SheetNames(db + ".xls"), (std::vector<std::string>{"Sheet3", "t"}));
  auto wb = LoadWorkbook(db + ".xls");
  EXPECT_EQ(wb.sheet(1).GetValue(1, 1).text, "one");
}

// Dropping a table takes its defined name with its sheet, on every path, so
// the table can be made again; dropping several finds the sheet of a table
// by either of its names (the sheet "order details", the name
// "order_details") and names each table that stays.
TEST_F(DropTest, ADroppedTableLeavesNoNameBehindAndCanBeMadeAgain) {
  const std::string db = Path("shop");
  ASSERT_TRUE(ExcelAdapter::CreateDatabase(ws, db, 1));
  ConnectTarget(db + ".xls");
  for (const char* table : {"orders", "`order details`", "items", "extra"})
    ASSERT_TRUE(Run(std::string("CREATE TABLE ") + table + " (id NUMERIC)"));

  ASSERT_TRUE(ExcelAdapter::DropTable(ws, db, "orders"));
  EXPECT_FALSE(LoadWorkbook(db + ".xls").FindName("orders").has_value());
  ASSERT_TRUE(Run("CREATE TABLE orders (id NUMERIC)"));

  ui.ClearLines();
  ASSERT_TRUE(ExcelAdapter::DropTables(ws, db, {"orders", "order_details", "items"}));
  EXPECT_EQ(SheetNames(db + ".xls"), (std::vector<std::string>{"Sheet3", "extra"}));
  auto wb = LoadWorkbook(db + ".xls");
  ASSERT_EQ(wb.nameCount(), 1u);
  EXPECT_EQ(wb.name(0).name, "extra");
  int lines = 0;
  for (const std::string& text : ui.Texts())
    lines += text == "Drop Table SUCCESSFULLY!!!";
  EXPECT_EQ(lines, 3);

  EXPECT_FALSE(ExcelAdapter::DropTables(ws, db, {"extra", "nosuch"}));
  EXPECT_TRUE(ui.HasText("Drop Table [nosuch] failed: the workbook has no sheet of it"));
  EXPECT_EQ(SheetNames(db + ".xls"), std::vector<std::string>{"Sheet3"});
  EXPECT_EQ(LoadWorkbook(db + ".xls").nameCount(), 0u);

  // By the sheet's name, as the tree shows such a table.
  ASSERT_TRUE(Run("CREATE TABLE `order details` (id NUMERIC)"));
  ASSERT_TRUE(ExcelAdapter::DropTable(ws, db, "order details"));
  EXPECT_EQ(LoadWorkbook(db + ".xls").nameCount(), 0u);
  ASSERT_TRUE(Run("CREATE TABLE `order details` (id NUMERIC)"));
}

// Records whether the workbook still existed when a message box came up.
class WatchingFrontend : public ScriptedFrontend {
 public:
  std::string watched;
  std::vector<bool> existedAtAsk;
  Answer Ask(const std::string& text, Buttons b, Icon i, const std::string& c) override {
    existedAtAsk.push_back(fs::exists(watched));
    return ScriptedFrontend::Ask(text, b, i, c);
  }
};

TEST(DropDatabase, TheConnectedWorkbookClosesTheTargetAndAsksForAnotherConnection) {
  TempDir dir;
  WatchingFrontend ui;
  Workspace ws(ui, dir.str(), QuickTiming());
  const std::string db = (dir / "shop").string();
  MakeWorkbook(db + ".xls", {{"a", {{"x"}}}});
  ui.watched = db + ".xls";
  ConnectionSettings s;
  s.providerId = kJetProvider;
  s.sourceName = db + ".xls";
  ws.target.SetSettings(s);
  Connect(ws, DataSourceSide::Target);
  ASSERT_TRUE(ws.target.Connected());
  ws.target.tree.SetCurrentDatabase(db);

  ASSERT_TRUE(ExcelAdapter::DropDatabase(ws, db));
  EXPECT_TRUE(ui.HasCall("ask Ok: Connected Database Dropped, Please Connect Another!"));
  ASSERT_EQ(ui.existedAtAsk, std::vector<bool>{true});  // told before the file went
  EXPECT_FALSE(fs::exists(db + ".xls"));
  EXPECT_TRUE(ui.HasText("Drop Database SUCCESSFULLY!!!"));
  EXPECT_EQ(ui.PostedCommands(), std::vector<int>{1026});
  EXPECT_FALSE(ws.target.Connected());
  EXPECT_EQ(ws.target.tree.SideMarker(), -1);
  EXPECT_EQ(ws.target.tree.SessionRef(), nullptr);
  EXPECT_EQ(ws.target.tree.DataSourceRef(), nullptr);

  // While the side is re-opened the tree shows the workbook's path instead.
  MakeWorkbook(db + "2.xls", {{"a", {{"x"}}}});
  ui.watched = db + "2.xls";
  ws.target.tree.SetCurrentDatabase(db + "2.xls");
  ASSERT_TRUE(ExcelAdapter::DropDatabase(ws, db + "2"));
  EXPECT_EQ(ui.existedAtAsk, (std::vector<bool>{true, true}));
  EXPECT_EQ(ui.PostedCommands(), (std::vector<int>{1026, 1026}));
}

TEST_F(DropTest, DropDatabaseOfAnotherWorkbookAndOfAMissingFile) {
  const std::string db = Path("shop");
  MakeWorkbook(db + ".xls", {{"a", {{"x"}}}});
  MakeWorkbook(Path("other.xls"), {{"a", {{"x"}}}});
  ConnectTarget(db + ".xls");
  ws.target.tree.SetCurrentDatabase(db);

  ASSERT_TRUE(ExcelAdapter::DropDatabase(ws, Path("other")));
  EXPECT_FALSE(fs::exists(Path("other.xls")));
  EXPECT_TRUE(ws.target.Connected());
  EXPECT_TRUE(ui.CallsStartingWith("ask").empty());
  EXPECT_TRUE(ui.PostedCommands().empty());

  EXPECT_FALSE(ExcelAdapter::DropDatabase(ws, Path("other")));
  const auto texts = ui.Texts();
  ASSERT_FALSE(texts.empty());
  EXPECT_EQ(texts.back().rfind("Drop Database \r\n failed with error code:[0x00000002]", 0), 0u)
      << texts.back();
  EXPECT_NE(texts.back().find(std::strerror(ENOENT)), std::string::npos);

  EXPECT_TRUE(ExcelAdapter::DropView(ws, "v"));
}

// The target tree as the browser builds it: root, database, "Tables", table.
void ShowTable(DbTree& tree, const std::string& database, const std::string& table) {
  std::vector<TreeNode> nodes(4);
  nodes[0] = {0, NodeKind::Root, "DATABASES", kNoNode, {1}, true};
  nodes[1] = {1, NodeKind::Database, database, 0, {2}, true};
  nodes[2] = {2, NodeKind::TablesFolder, "Tables", 1, {3}, true};
  nodes[3] = {3, NodeKind::Table, table, 2, {}, false};
  tree.Replace(nodes);
  tree.Select(3);
}

TEST_F(RenameTest, ATableGetsTheNewSheetNameAndDefinedName) {
  const std::string db = Path("shop");
  ASSERT_TRUE(ExcelAdapter::CreateDatabase(ws, db, 1));
  ConnectTarget(db + ".xls");
  ASSERT_TRUE(Run("CREATE TABLE t (id NUMERIC, name TEXT)"));
  ASSERT_TRUE(Run("INSERT INTO t VALUES (1, 'one')"));
  ASSERT_TRUE(Run("INSERT INTO t VALUES (2, 'two')"));
  ShowTable(ws.target.tree, db, "t");

  ASSERT_TRUE(ExcelAdapter::RenameTable(ws, "t", "orders"));
  ASSERT_TRUE(ws.target.Connected());
  auto wb = LoadWorkbook(db + ".xls");
  EXPECT_EQ(SheetNames(db + ".xls"), (std::vector<std::string>{"Sheet3", "orders"}));
  EXPECT_FALSE(wb.FindName("t").has_value());
  auto name = wb.FindName("orders");
  ASSERT_TRUE(name.has_value());
  EXPECT_EQ(wb.name(*name).reference, "orders!$A$1:$B$3");

  // The renamed table reads back through the provider.
  std::vector<std::string> names;
  auto read = oledb::ReadTextRows(&ws.target.session, "select * from orders",
                                  [&](const oledb::TextRow& row) {
                                    names.push_back(row.Value(1));
                                    return true;
                                  });
  ASSERT_TRUE(read.ok()) << read.errorText;
  EXPECT_EQ(names, (std::vector<std::string>{"one", "two"}));

  // Only the case changes: the defined name must survive.
  ShowTable(ws.target.tree, db, "orders");
  ASSERT_TRUE(ExcelAdapter::RenameTable(ws, "orders", "ORDERS"));
  wb = LoadWorkbook(db + ".xls");
  EXPECT_EQ(wb.sheet(1).name(), "ORDERS");
  EXPECT_TRUE(wb.FindName("ORDERS").has_value());
}

// A sheet name may hold a blank that a defined name may not: the sheet takes
// the name as typed, the table's name the provider's form of it, and the
// table is found again by the name the tree then shows.
TEST_F(RenameTest, ANameWithABlankRenamesTheSheetAndTheTable) {
  const std::string db = Path("shop");
  ASSERT_TRUE(ExcelAdapter::CreateDatabase(ws, db, 1));
  ConnectTarget(db + ".xls");
  ASSERT_TRUE(Run("CREATE TABLE t (id NUMERIC)"));
  ASSERT_TRUE(Run("INSERT INTO t VALUES (7)"));
  ShowTable(ws.target.tree, db, "t");

  ASSERT_TRUE(ExcelAdapter::RenameTable(ws, "t", "my items"));
  EXPECT_TRUE(ui.CallsStartingWith("ask").empty());
  EXPECT_EQ(SheetNames(db + ".xls"), (std::vector<std::string>{"Sheet3", "my items"}));
  auto wb = LoadWorkbook(db + ".xls");
  EXPECT_FALSE(wb.FindName("t").has_value());
  const auto name = wb.FindName("my_items");
  ASSERT_TRUE(name.has_value());
  EXPECT_EQ(wb.name(*name).reference, "'my items'!$A$1:$A$2");
  std::string id;
  auto read = oledb::ReadTextRows(&ws.target.session, "select * from `my items`",
                                  [&](const oledb::TextRow& row) {
                                    id = row.Value(0);
                                    return true;
                                  });
  ASSERT_TRUE(read.ok()) << read.errorText;
  EXPECT_EQ(id, "7");

  ShowTable(ws.target.tree, db, "my items");
  ASSERT_TRUE(ExcelAdapter::RenameTable(ws, "my items", "stock"));
  wb = LoadWorkbook(db + ".xls");
  EXPECT_EQ(wb.sheet(1).name(), "stock");
  EXPECT_TRUE(wb.FindName("stock").has_value());
  EXPECT_FALSE(wb.FindName("my_items").has_value());
}

TEST_F(RenameTest, ADefinedNameThatIsNotATableIsOfferedForDeletionOnly) {
  const std::string db = Path("shop");
  {
    auto wb = xls::Workbook::New();
    ASSERT_TRUE(wb.AddSheet("data").ok());
    ASSERT_TRUE(wb.sheet(0).SetText(0, 0, "h").ok());
    ASSERT_TRUE(wb.DefineName("extra", 0, xls::Range{0, 0, 0, 0}).ok());
    ASSERT_TRUE(wb.Save(db + ".xls").ok());
  }
  ConnectTarget(db + ".xls");
  ShowTable(ws.target.tree, db, "extra");

  ui.QueueAnswer(Answer::No);
  ASSERT_TRUE(ExcelAdapter::RenameTable(ws, "extra", "renamed"));
  EXPECT_TRUE(ui.HasCall("ask YesNo !: User Define Names, Not A Table Name, Clear?"));
  auto wb = LoadWorkbook(db + ".xls");
  EXPECT_TRUE(wb.FindName("extra").has_value());
  EXPECT_EQ(SheetNames(db + ".xls"), std::vector<std::string>{"data"});

  ShowTable(ws.target.tree, db, "extra");
  ui.QueueAnswer(Answer::Yes);
  ASSERT_TRUE(ExcelAdapter::RenameTable(ws, "extra", "renamed"));
  wb = LoadWorkbook(db + ".xls");
  EXPECT_FALSE(wb.FindName("extra").has_value());
  EXPECT_FALSE(wb.FindName("renamed").has_value());
  EXPECT_EQ(SheetNames(db + ".xls"), std::vector<std::string>{"data"});
  EXPECT_TRUE(ws.target.Connected());
}

TEST_F(RenameTest, AnInvalidNewNameIsReportedAndTheWorkbookKept) {
  const std::string db = Path("shop");
  ASSERT_TRUE(ExcelAdapter::CreateDatabase(ws, db, 1));
  ConnectTarget(db + ".xls");
  ASSERT_TRUE(Run("CREATE TABLE t (id NUMERIC)"));
  ShowTable(ws.target.tree, db, "t");

  EXPECT_FALSE(ExcelAdapter::RenameTable(ws, "t", "no/slash"));
  EXPECT_EQ(ui.CallsStartingWith("ask Ok: ").size(), 2u);
  EXPECT_FALSE(ws.target.Connected());
  EXPECT_EQ(SheetNames(db + ".xls"), (std::vector<std::string>{"Sheet3", "t"}));
}

}  // namespace
}  // namespace migrator::testing
