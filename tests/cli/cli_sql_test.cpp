// migrator-cli sql and drivers, run as programs, and the source URL parser.

#include <gtest/gtest.h>

#include <filesystem>

#include "cli/source_url.h"
#include "providers/registry.h"
#include "testlib/testlib.h"

namespace migrator {
namespace {

namespace fs = std::filesystem;

std::string Cli() {
  return std::string(MIGRATOR_BINARY_DIR) + "/migrator-cli";
}

const auto Quote = testing::ShellQuote;
using testing::PercentEncode;

TEST(SourceUrl, ParsesEveryPart) {
  auto s = cli::ParseMySqlUrl("mysql://bob:p;w}d:x@db.example:3307/shop");
  ASSERT_TRUE(s) << s.message();
  EXPECT_EQ(s->providerText, "TCP/IP:Port");
  EXPECT_EQ(s->providerId, "MSDASQL");
  EXPECT_EQ(s->userId, "bob");
  EXPECT_EQ(s->password, "p;w}d:x");  // split at the first ":"
  EXPECT_EQ(s->sourceName, "db.example:3307");
  EXPECT_EQ(s->catalogName, "shop");

  s = cli::ParseMySqlUrl("MySQL://bob@localhost");
  ASSERT_TRUE(s);
  EXPECT_EQ(s->password, "");
  EXPECT_EQ(s->sourceName, "localhost");
  EXPECT_EQ(s->catalogName, "");

  s = cli::ParseMySqlUrl("mysql://b%40b:a%40b%2Fc%25@h/my%20db");
  ASSERT_TRUE(s);
  EXPECT_EQ(s->userId, "b@b");
  EXPECT_EQ(s->password, "a@b/c%");
  EXPECT_EQ(s->catalogName, "my db");

  s = cli::ParseMySqlUrl("mysql://u:pass/with/slashes@h:1/");
  ASSERT_TRUE(s);
  EXPECT_EQ(s->password, "pass/with/slashes");
  EXPECT_EQ(s->sourceName, "h:1");

  for (const char* bad :
       {"http://u@h", "mysql://h", "mysql://:pw@h", "mysql://u@", "mysql://u@h:", "mysql://u@h:0",
        "mysql://u@h:65536", "mysql://u@h:33a", "mysql://u:a@b@h", "mysql://u:%4@h",
        "mysql://u@h;DRIVER=x", "mysql://u@h%zz"}) {
    EXPECT_FALSE(cli::ParseMySqlUrl(bad)) << bad;
  }
}

TEST(CliDrivers, ListsSourceRowsTheTcpRowThenTargetRows) {
  ASSERT_TRUE(fs::exists(Cli())) << "build migrator-cli first";
  testing::TempDir dir;
  testing::WriteFile(dir / "odbcinst.ini",
                     "[ODBC]\nTrace=No\n[MariaDB Unicode]\nDriver=libmaodbc.so\n");
  const auto r = testing::RunCommand("ODBCSYSINI=" + Quote(dir.str()) +
                                     " HOME=" + Quote(dir.str()) + " " + Cli() + " drivers");
  ASSERT_EQ(r.status, 0);
  // libmaodbc.so resolves wherever the driver manager would find it.
  const bool driverInstalled = fs::exists("/usr/lib/x86_64-linux-gnu/odbc/libmaodbc.so");
  // The workbook provider is built in once the registry holds it.
  const std::string jet = providers::FindProvider("Microsoft.Jet.OLEDB.4.0")
                              ? "Installed|Usable|"
                              : "Not Installed|Unusable|";
  EXPECT_EQ(r.out, std::string("Microsoft OLE DB Provider for ODBC Drivers|Installed|Usable|\n") +
                       "MariaDB Unicode|Installed|" + (driverInstalled ? "Usable" : "Unusable") +
                       "|\nTCP/IP:Port|N/A|" + (driverInstalled ? "Usable" : "Unusable") +
                       "|\nMicrosoft Jet 4.0 OLE DB Provider|" + jet +
                       "\n"
                       "Microsoft OLE DB Provider for ODBC Drivers|Installed|Usable|\n"
                       "Microsoft Access Driver|Not installed|Unusable|\n");
}

class CliSql : public ::testing::Test {
 protected:
  testing::CommandResult Sql(const std::string& url, const std::string& statement,
                             const std::string& extra = "") {
    return testing::RunCommand("MIGRATOR_HOME=" + Quote(home_.str()) + " " + Cli() +
                               " sql --quiet " + extra + "--source " + Quote(url) + " " +
                               Quote(statement) + " 2>" + Quote((home_ / "err").string()));
  }
  std::string Err() { return testing::ReadFile(home_ / "err"); }
  testing::TempDir home_;
};

TEST_F(CliSql, RunsAStatementAndPrintsTheRows) {
  MIGRATOR_REQUIRE_MYSQL(server);
  ASSERT_TRUE(fs::exists(Cli()));
  // The password as it is (it holds ';', '}' and a blank) and percent-escaped.
  for (const std::string& pw : {server.password, PercentEncode(server.password)}) {
    const std::string url =
        "mysql://" + server.user + ":" + pw + "@" + server.host + ":" + server.port + "/mysql";
    const auto r = Sql(url,
                       "select 1, NULL, 'a b', database(), current_user() union all "
                       "select 2, 'x', '', 'y', 'z'");
    EXPECT_EQ(r.status, 0) << Err();
    EXPECT_EQ(r.out,
              "1\t(NULL)\ta b\tmysql\t" + server.user + "@" + server.host + "\n2\tx\t\ty\tz\n");
  }
}

TEST_F(CliSql, BadStatementPrintsTheErrorAndFails) {
  MIGRATOR_REQUIRE_MYSQL(server);
  const std::string url = "mysql://" + server.user + ":" + PercentEncode(server.password) + "@" +
                          server.host + ":" + server.port;
  auto r = Sql(url, "selec nonsense");
  EXPECT_NE(r.status, 0);
  EXPECT_EQ(r.out, "");
  EXPECT_NE(Err().find("SQL syntax"), std::string::npos) << Err();

  // A statement without rows succeeds quietly.
  r = Sql(url, "set @x = 1");
  EXPECT_EQ(r.status, 0) << Err();
  EXPECT_EQ(r.out, "");

  // A wrong password: the connection's failure texts and a non-zero code.
  r = Sql("mysql://" + server.user + ":wrong@" + server.host + ":" + server.port, "select 1");
  EXPECT_NE(r.status, 0);
  EXPECT_NE(Err().find("Source Connection error!"), std::string::npos) << Err();

  // Bad usage.
  r = testing::RunCommand(Cli() + " sql --source 'mysql://u@h:99999' 'select 1' 2>/dev/null");
  EXPECT_EQ(r.status, 2);
}

TEST_F(CliSql, WithoutASourceTheConfigurationFileIsUsed) {
  MIGRATOR_REQUIRE_MYSQL(server);
  const std::string run = "MIGRATOR_HOME=" + Quote(home_.str()) + " " + Cli() +
                          " sql --quiet 'select database()' 2>" + Quote((home_ / "err").string());
  auto r = testing::RunCommand(run);
  EXPECT_EQ(r.status, 2);  // no migrator.cfg
  EXPECT_NE(Err().find("migrator.cfg"), std::string::npos) << Err();

  testing::WriteFile(home_ / "migrator.cfg",
                     "[Public]\nConfig=true\n[SourceDB]\nProvider=TCP/IP:Port\nSourceName=" +
                         server.host + ":" + server.port + "\nUserID=" + server.user +
                         "\nPassWord=" + server.password + "\nCatalogName=MySQL\n");
  r = testing::RunCommand(run);
  EXPECT_EQ(r.status, 0) << Err();
  EXPECT_EQ(r.out, "mysql\n");  // the catalog is handed over lower-cased
}

TEST_F(CliSql, OdbcDataSourceBranch) {
  MIGRATOR_REQUIRE_MYSQL(server);
  testing::WriteFile(home_ / ".odbc.ini", "[migtest]\nDriver=MariaDB Unicode\nSERVER=" +
                                              server.host + "\nPORT=" + server.port + "\n");
  const std::string env = "HOME=" + Quote(home_.str()) +
                          " ODBCINI=" + Quote((home_ / ".odbc.ini").string()) +
                          " MIGRATOR_HOME=" + Quote(home_.str()) + " ";
  auto r = testing::RunCommand(env + Cli() + " sql --quiet --source-dsn migtest --user " +
                               Quote(server.user) + " --password " + Quote(server.password) +
                               " 'select current_user()' 2>" + Quote((home_ / "err").string()));
  EXPECT_EQ(r.status, 0) << Err();
  EXPECT_EQ(r.out, server.user + "@" + server.host + "\n");

  r = testing::RunCommand(env + Cli() + " sql --quiet --source-dsn nosuchdsn 'select 1' 2>" +
                          Quote((home_ / "err").string()));
  EXPECT_NE(r.status, 0);
  EXPECT_NE(Err().find("Source Connection error!"), std::string::npos) << Err();
}

}  // namespace
}  // namespace migrator
