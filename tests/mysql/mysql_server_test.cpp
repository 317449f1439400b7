// Connect and UseDatabase against the private MariaDB server, through the
// registered ODBC provider and the installed MariaDB driver.

#include <gtest/gtest.h>

#include <regex>

#include "adapters/mysql/mysql_adapter.h"
#include "app/scripted_frontend.h"
#include "app/workspace.h"
#include "oledb/operations.h"
#include "testlib/server_source.h"
#include "testlib/testlib.h"
#include "workflows/connect.h"

namespace migrator {
namespace {

// Runs SQL as root through the mariadb client (setup and cleanup only).
void RootSql(const testing::MySqlServer& server, const std::string& sql) {
  const std::string cmd = "mariadb --no-defaults -u" + server.rootUser + " --socket='" +
                          server.socket + "' -e \"" + sql + "\" 2>&1";
  const auto r = testing::RunCommand(cmd);
  ASSERT_EQ(r.status, 0) << cmd << "\n" << r.out;
}

class ServerTest : public ::testing::Test {
 protected:
  ServerTest() : ws_(ui_, dir_.str()) {}
  testing::TempDir dir_;
  ScriptedFrontend ui_;
  Workspace ws_;
};

TEST_F(ServerTest, SourceConnectsAsTheConfiguredUserWithTheServerTitle) {
  MIGRATOR_REQUIRE_MYSQL(server);
  ASSERT_NE(server.password.find(';'), std::string::npos);
  ws_.source.SetSettings(testing::ServerSourceSettings(server));
  Connect(ws_, DataSourceSide::Source);
  ASSERT_TRUE(ws_.source.Connected()) << ::testing::PrintToString(ui_.Calls());

  // "MariaDB[10.11.000019]"
  EXPECT_TRUE(std::regex_match(ws_.source.DbmsTitle(), std::regex(R"(MariaDB\[\d+\.\d+\.\d+\])")))
      << ws_.source.DbmsTitle();
  EXPECT_TRUE(ui_.HasCall("title Source: " + ws_.source.DbmsTitle()));
  EXPECT_TRUE(ui_.HasText("Connect Source Database!"));
  EXPECT_TRUE(ui_.HasText("RESULT: The operation completed SUCCESSFULLY"));
  // The auth properties win over the string's UID=root.
  const std::string who =
      oledb::QuerySingleValue(ui_, &ws_.source.session, "select current_user()");
  EXPECT_EQ(who.substr(0, who.find('@')), server.user);
  EXPECT_NE(MySqlAdapter::QueryServerVersion(ui_, &ws_.source.session).find("MariaDB"),
            std::string::npos);
}

TEST_F(ServerTest, WrongPasswordAndStoppedServerTakeTheFailurePath) {
  MIGRATOR_REQUIRE_MYSQL(server);
  auto bad = testing::ServerSourceSettings(server);
  bad.password += "x";
  ws_.source.SetSettings(bad);
  Connect(ws_, DataSourceSide::Source);
  EXPECT_FALSE(ws_.source.Connected());
  EXPECT_EQ(ui_.CallsStartingWith("hint"),
            (std::vector<std::string>{"hint: Source Connection error! Please comfirm source "
                                      "database connection properties !"}));
  // The message box gives the server's reason.
  const auto told = ui_.CallsStartingWith("ask");
  ASSERT_EQ(told.size(), 1u);
  EXPECT_EQ(told[0].rfind("ask Ok: Source Connection error!\n\n", 0), 0u) << told[0];
  EXPECT_NE(told[0].find("Access denied"), std::string::npos) << told[0];

  // Nothing listens on this port.
  ui_.ClearCalls();
  auto stopped = testing::ServerSourceSettings(server);
  stopped.sourceName = server.host + ":1";
  ws_.source.SetSettings(stopped);
  Connect(ws_, DataSourceSide::Source);
  EXPECT_FALSE(ws_.source.Connected());
  const auto refused = ui_.CallsStartingWith("ask Ok: Source Connection error!");
  ASSERT_EQ(refused.size(), 1u);
  EXPECT_NE(refused[0].find("Can't connect"), std::string::npos) << refused[0];
  EXPECT_EQ(ui_.CallsStartingWith("side Source: failed: ").size(), 1u);

  // The configuration dialog's test shows the provider's own words.
  ScriptedFrontend dialog;
  oledb::PropertySet set;
  MySqlAdapter::BuildTestInitProperties(dialog, bad, set);
  const auto asks = dialog.CallsStartingWith("ask");
  ASSERT_FALSE(asks.empty());
  EXPECT_NE(asks.front().find("Access denied"), std::string::npos) << asks.front();
}

TEST_F(ServerTest, UseDatabaseWithABackQuoteCannotInject) {
  MIGRATOR_REQUIRE_MYSQL(server);
  const std::string db = "mig_use_" + std::to_string(::getpid());
  const std::string odd = db + "`x";
  RootSql(server, "create database " + db + "; create database \\`" + db + "\\`\\`x\\`;");
  ws_.source.SetSettings(testing::ServerSourceSettings(server, db));
  Connect(ws_, DataSourceSide::Source);
  ASSERT_TRUE(ws_.source.Connected());

  EXPECT_TRUE(UseDatabase(ws_, "/some/path/" + odd, 0));
  EXPECT_EQ(oledb::QuerySingleValue(ui_, &ws_.source.session, "select database()"), odd);

  // A name built to close the identifier and run a statement of its own only
  // names a database that does not exist.
  const std::string attack = db + "`; create database " + db + "_pwned; use `" + db;
  EXPECT_FALSE(UseDatabase(ws_, attack, 0));
  EXPECT_EQ(ws_.source.tree.CurrentDatabase(), attack);
  EXPECT_EQ(
      oledb::QuerySingleValue(
          ui_, &ws_.source.session,
          "select count(*) from information_schema.schemata where schema_name='" + db + "_pwned'"),
      "0");
  EXPECT_EQ(oledb::QuerySingleValue(ui_, &ws_.source.session, "select database()"), odd);

  RootSql(server, "drop database " + db + "; drop database \\`" + db + "\\`\\`x\\`;");
}

}  // namespace
}  // namespace migrator
