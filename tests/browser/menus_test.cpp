// Node menus, context menus, the storage-engine toggle and the character-set
// table: what each tree offers for each kind of node.

#include <gtest/gtest.h>

#include "app/scripted_frontend.h"
#include "app/workspace.h"
#include "browser/charsets.h"
#include "browser_fixture.h"
#include "testlib/testlib.h"

namespace migrator::testing {
namespace {

std::string Items(const NodeMenuStates& s) {
  std::string out =
      std::string(s.databases ? "A" : "-") + (s.database ? "D" : "-") + (s.table ? "T" : "-") + ":";
  for (const auto& i : s.items)
    out += " " + std::to_string(i.id) + (i.enabled ? "+" : "-");
  return out;
}

std::string Menu(DataSourceSide side, int kind, NodeKind node, const std::string& text = "x") {
  TreeNode n;
  n.kind = node;
  n.text = text;
  std::string out;
  for (const auto& item : ContextMenuFor(side, kind, n))
    out += "[" + std::to_string(item.id) + " " + item.text + "]";
  return out;
}

TEST(TreeMenus, EachKindEnablesItsMenuAndTheItemsOfItsTree) {
  const auto S = DataSourceSide::Source;
  const auto T = DataSourceSide::Target;
  EXPECT_EQ(Items(MenuStatesFor(S, kMySql, NodeKind::Root)), "A--: 32775- 32774+ 32794+");
  EXPECT_EQ(Items(MenuStatesFor(T, kExcel, NodeKind::Root)), "A--: 32775+ 32774- 32794-");
  EXPECT_EQ(Items(MenuStatesFor(S, kMySql, NodeKind::Database)), "-D-: 32772- 32773- 32790-");
  EXPECT_EQ(Items(MenuStatesFor(T, kExcel, NodeKind::Database)), "-D-: 32772+ 32773+ 32790+");
  EXPECT_EQ(Items(MenuStatesFor(S, kMySql, NodeKind::Table)), "--T: 32776+ 32787- 32788- 32789-");
  EXPECT_EQ(Items(MenuStatesFor(S, kMySql, NodeKind::View)), "--T: 32776+ 32787- 32788- 32789-");
  EXPECT_EQ(Items(MenuStatesFor(T, kExcel, NodeKind::Table)), "--T: 32776- 32787+ 32788- 32789+");
  EXPECT_EQ(Items(MenuStatesFor(T, kExcel, NodeKind::View)), "--T: 32776- 32787- 32788+ 32789-");
  for (NodeKind k : {NodeKind::TablesFolder, NodeKind::Column, NodeKind::FieldsFolder,
                     NodeKind::Index, NodeKind::IndexesFolder, NodeKind::ViewsFolder})
    EXPECT_EQ(Items(MenuStatesFor(T, kExcel, k)), "---:");

  EXPECT_EQ(Menu(S, kMySql, NodeKind::Root), "[32774 Change Charset][32794 Storage Engines]");
  EXPECT_EQ(Menu(T, kExcel, NodeKind::Root), "[32775 New Database]");
  EXPECT_EQ(Menu(S, kMySql, NodeKind::Database), "");
  EXPECT_EQ(Menu(T, kExcel, NodeKind::Database),
            "[32772 Delete Database][32773 Clear all tables][32790 Clear all Data]");
  EXPECT_EQ(Menu(S, kMySql, NodeKind::Table), "[32776 Migration Condition]");
  EXPECT_EQ(Menu(S, kMySql, NodeKind::View), "[32776 Migration Condition]");
  EXPECT_EQ(Menu(T, kExcel, NodeKind::Table, "orders"),
            "[32787 Drop Table orders][32789 Rename Table orders]");
  EXPECT_EQ(Menu(T, kExcel, NodeKind::View, "v"), "[32788 Drop View v]");
  EXPECT_EQ(Menu(T, kExcel, NodeKind::Column), "");
  EXPECT_EQ(Menu(T, kExcel, NodeKind::Root, "   "), "");  // a blank label gets none
}

TEST(TreeCommands, StorageEngineTogglesAndTheCharsetDialogSeesTheCurrentName) {
  TempDir dir;
  ScriptedFrontend ui;
  Workspace ws(ui, dir.str());
  RecordingHost host;
  RunTreeCommand(ws, DataSourceSide::Source, kCmdStorageEngine, host);
  EXPECT_EQ(host.storageItem, "Change Storage Engine(InnoDB)");
  EXPECT_EQ(ws.source.tree.StorageEngine(), "InnoDB");
  RunTreeCommand(ws, DataSourceSide::Source, kCmdStorageEngine, host);
  EXPECT_EQ(host.storageItem, "Change Storage Engine(MyISAM)");
  EXPECT_EQ(ws.source.tree.StorageEngine(), "MyISAM");
  EXPECT_EQ(ui.CallsStartingWith("ask"),
            (std::vector<std::string>{"ask Ok: Now Storage Engine of MySQL is InnoDB!",
                                      "ask Ok: Now Storage Engine of MySQL is MyISAM!"}));

  // Cancel changes nothing; the target tree (not MySQL) opens no dialog.
  ws.SetCharset("LATIN1");
  RunTreeCommand(ws, DataSourceSide::Source, kCmdChangeCharset, host);
  RunTreeCommand(ws, DataSourceSide::Target, kCmdChangeCharset, host);
  EXPECT_EQ(host.offered, std::vector<std::string>{"LATIN1"});
  EXPECT_EQ(ws.Charset(), "LATIN1");

  EXPECT_EQ(Charsets().size(), 37u);
  EXPECT_EQ(CharsetIndex("LATIN1"), 5);
  EXPECT_EQ(CharsetIndex("latin1"), -1);  // names compare exactly
  EXPECT_EQ(CharsetName(35), "EUCJPMS");
  EXPECT_EQ(CharsetName(36), "UTF8MB4");
  EXPECT_EQ(CharsetName(37), "UNKOWNEN");
  EXPECT_EQ(CharsetName(-1), "UNKOWNEN");
}

}  // namespace
}  // namespace migrator::testing
