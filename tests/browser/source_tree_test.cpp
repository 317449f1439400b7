// The source tree against the private MariaDB server: databases, the current
// database's tables and views, indexes and fields read on opening, the
// database switch, Change Charset and the condition tooltip.

#include <gtest/gtest.h>

#include "app/scripted_frontend.h"
#include "app/workspace.h"
#include "browser/refresh_tree.h"
#include "browser_fixture.h"
#include "oledb/operations.h"
#include "support/condition_file.h"
#include "testlib/testlib.h"
#include "workflows/connect.h"

namespace migrator::testing {
namespace {

void RootSql(const MySqlServer& server, const std::string& sql) {
  const std::string cmd = "mariadb --no-defaults -u" + server.rootUser + " --socket='" +
                          server.socket + "' -e \"" + sql + "\" 2>&1";
  const auto r = RunCommand(cmd);
  ASSERT_EQ(r.status, 0) << cmd << "\n" << r.out;
}

class SourceTree : public ::testing::Test {
 protected:
  SourceTree() : ws(ui, dir.str()) {}

  void Open(const MySqlServer& server, const std::string& catalog) {
    RootSql(server,
            "DROP DATABASE IF EXISTS brw_shop; DROP DATABASE IF EXISTS brw_other;"
            "CREATE DATABASE brw_shop; CREATE DATABASE brw_other;"
            "CREATE TABLE brw_shop.orders (id INT PRIMARY KEY, name VARCHAR(20), "
            "  KEY both_cols (id, name));"
            "CREATE TABLE brw_shop.\\`a b\\` (x INT); CREATE TABLE brw_shop.\\`a\\$b\\` (x INT);"
            "CREATE VIEW brw_shop.v_orders AS SELECT id FROM brw_shop.orders;"
            "CREATE TABLE brw_other.t2 (y INT);");
    ConnectionSettings s;
    s.providerText = "TCP/IP:Port";
    s.providerId = "MSDASQL";
    s.sourceName = server.host + ":" + server.port;
    s.userId = server.user;
    s.password = server.password;
    s.catalogName = catalog;
    ws.source.SetSettings(s);
    Connect(ws, DataSourceSide::Source);
    ASSERT_TRUE(ws.source.Connected()) << ::testing::PrintToString(ui.Calls());
  }

  std::vector<std::string> Entries(NodeKind tableKind, const std::string& table,
                                   NodeKind folderKind) {
    DbTree& tree = ws.source.tree;
    const NodeId t = FindNode(tree, tableKind, table);
    std::vector<std::string> out;
    const TreeNode owner = *tree.Node(t);
    for (NodeId f : owner.children) {
      if (tree.Node(f)->kind != folderKind) continue;
      ListFolder(ws, DataSourceSide::Source, f, tree.Generation());
      const TreeNode folder = *tree.Node(f);
      for (NodeId c : folder.children)
        out.push_back(tree.Node(c)->text);
    }
    return out;
  }

  TempDir dir;
  ScriptedFrontend ui;
  Workspace ws;
  RecordingHost host;
};

TEST_F(SourceTree, WithoutACatalogOnlyTheDatabasesAreShown) {
  MIGRATOR_REQUIRE_MYSQL(server);
  Open(server, "");
  const std::string dump = Dump(ws.source.tree);
  EXPECT_EQ(dump.rfind("0 DATABASES\n", 0), 0u) << dump;
  EXPECT_NE(dump.find("\n  1 brw_shop\n"), std::string::npos) << dump;
  EXPECT_NE(dump.find("\n  1 brw_other\n"), std::string::npos) << dump;
  EXPECT_EQ(dump.find("Tables"), std::string::npos) << dump;
}

TEST_F(SourceTree, TheCurrentDatabaseShowsItsTablesViewsFieldsAndIndexes) {
  MIGRATOR_REQUIRE_MYSQL(server);
  Open(server, "brw_shop");
  const std::string dump = Dump(ws.source.tree);
  EXPECT_NE(dump.find("  1 brw_shop\n"
                      "    3 Tables\n"
                      "      2 a b\n"
                      "        5 Fields ...\n"
                      "        7 Indexes ...\n"
                      "      2 a$b\n"
                      "        5 Fields ...\n"
                      "        7 Indexes ...\n"
                      "      2 orders\n"
                      "        5 Fields ...\n"
                      "        7 Indexes ...\n"
                      "    9 Views\n"
                      "      8 v_orders\n"
                      "        5 Fields ...\n"),
            std::string::npos)
      << dump;  // names with a blank or "$" too: every name is quoted where it is used
  EXPECT_EQ(Entries(NodeKind::Table, "a b", NodeKind::FieldsFolder), std::vector<std::string>{"x"});
  EXPECT_EQ(Entries(NodeKind::Table, "orders", NodeKind::FieldsFolder),
            (std::vector<std::string>{"id", "name"}));
  // The two-column index comes once per column.
  auto indexes = Entries(NodeKind::Table, "orders", NodeKind::IndexesFolder);
  EXPECT_EQ(std::count(indexes.begin(), indexes.end(), "both_cols"), 2);
  EXPECT_EQ(Entries(NodeKind::View, "v_orders", NodeKind::FieldsFolder),
            std::vector<std::string>{"id"});

  // A condition shows over its table; another table converts all.
  ASSERT_TRUE(ConditionFile(dir.str()).Write("brw_shop", "orders", "id > 1").ok());
  DbTree& tree = ws.source.tree;
  EXPECT_EQ(ConditionTip(ws, FindNode(tree, NodeKind::Table, "orders")), "Condition : id > 1");
  EXPECT_EQ(ConditionTip(ws, FindNode(tree, NodeKind::View, "v_orders")), "");
  tree.Select(FindNode(tree, NodeKind::Table, "orders"));
  RunTreeCommand(ws, DataSourceSide::Source, kCmdMigrationCondition, host);
  RunTreeCommand(ws, DataSourceSide::Target, kCmdMigrationCondition, host);
  EXPECT_EQ(host.conditions, std::vector<std::string>{"brw_shop.orders"});

  // A double click on another database makes it current.
  SwitchDatabase(ws, DataSourceSide::Source, FindNode(tree, NodeKind::Database, "brw_other"));
  EXPECT_TRUE(ui.HasText("Select Database [brw_other]"));
  EXPECT_EQ(tree.CurrentDatabase(), "brw_other");
  EXPECT_NE(Dump(tree).find("  1 brw_other\n    3 Tables\n      2 t2\n"), std::string::npos)
      << Dump(tree);
  EXPECT_EQ(ConditionTip(ws, FindNode(tree, NodeKind::Table, "t2")), "Convert All");
}

TEST_F(SourceTree, ChangeCharsetSetsTheSessionsCharacterSets) {
  MIGRATOR_REQUIRE_MYSQL(server);
  Open(server, "brw_shop");
  host.charsetAnswer = "LATIN1";
  ws.SetCharset("UTF8");
  RunTreeCommand(ws, DataSourceSide::Source, kCmdChangeCharset, host);
  EXPECT_EQ(host.offered, std::vector<std::string>{"UTF8"});
  EXPECT_EQ(ws.Charset(), "LATIN1");
  EXPECT_EQ(oledb::QuerySingleValue(ui, &ws.source.session, "select @@character_set_connection"),
            "latin1");
  EXPECT_EQ(oledb::QuerySingleValue(ui, &ws.source.session, "select @@character_set_results"),
            "latin1");
  // The table's sets come first, utf8mb4 among them; then those of the
  // server's that the table lacks.
  ASSERT_GT(host.choices.size(), Charsets().size());
  EXPECT_EQ(host.choices[5].name, "LATIN1");
  EXPECT_GE(ChoiceIndex(host.choices, "UTF8MB4"), 0);
  const int utf16 = ChoiceIndex(host.choices, "UTF16");
  EXPECT_GE(utf16, static_cast<int>(Charsets().size()));
  host.charsetAnswer = "UTF8MB4";
  RunTreeCommand(ws, DataSourceSide::Source, kCmdChangeCharset, host);
  EXPECT_EQ(oledb::QuerySingleValue(ui, &ws.source.session, "select @@character_set_results"),
            "utf8mb4");
  // The tree was rebuilt and still shows the database.
  EXPECT_NE(FindNode(ws.source.tree, NodeKind::Table, "orders"), kNoNode);
}

// The server goes away (the connection is killed here): a folder that
// cannot be read says why in red instead of showing empty, and the side is
// found lost and closed.
TEST_F(SourceTree, AFolderThatCannotBeReadSaysWhyAndTheSideIsFoundLost) {
  MIGRATOR_REQUIRE_MYSQL(server);
  Open(server, "brw_shop");
  const std::string id = oledb::QuerySingleValue(ui, &ws.source.session, "select connection_id()");
  RootSql(server, "KILL " + id);
  ui.ClearLines();
  EXPECT_TRUE(Entries(NodeKind::Table, "orders", NodeKind::FieldsFolder).empty());
  bool said = false;
  for (const OutputLine& line : ui.Lines())
    said = said || (line.text.find("Fields of [orders]: ") != std::string::npos &&
                    line.textColour == Rgb{255, 0, 0});
  EXPECT_TRUE(said) << ::testing::PrintToString(ui.Texts());
  EXPECT_FALSE(ws.source.Connected());
  EXPECT_EQ(ui.CallsStartingWith("side Source: lost: ").size(), 1u);
}

}  // namespace
}  // namespace migrator::testing
