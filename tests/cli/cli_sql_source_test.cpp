// migrator-cli sql against the private server, as a hostile or unlucky user
// meets it: odd credentials, silent servers, statements the driver cannot read,
// character sets, and output that has to survive tabs, line breaks and a full
// disk.

#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "adapters/mysql/mysql_adapter.h"
#include "cli/source_url.h"
#include "testlib/testlib.h"

namespace migrator {
namespace {

std::string Quote(const std::string& s) {
  std::string out = "'";
  for (char c : s)
    out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

class CliSource : public ::testing::Test {
 protected:
  void SetUp() override {
    auto s = testing::TestMySqlServer();
    if (!s) GTEST_SKIP() << "no private MariaDB server (run scripts/test.sh)";
    server_ = *s;
  }
  std::string Url(const std::string& userInfo, const std::string& rest = "") const {
    return "mysql://" + userInfo + "@" + server_.host + ":" + server_.port + rest;
  }
  // Runs migrator-cli sql with `args`; standard error goes to Err().
  testing::CommandResult Sql(const std::string& args, const std::string& env = "") {
    return testing::RunCommand("MIGRATOR_HOME=" + Quote(home_.str()) + " " + env + " " +
                               MIGRATOR_BINARY_DIR "/migrator-cli sql -q " + args + " 2>" +
                               Quote((home_ / "err").string()) + " </dev/null");
  }
  std::string Err() { return testing::ReadFile(home_ / "err"); }
  bool ErrHas(const std::string& text) { return Err().find(text) != std::string::npos; }

  testing::MySqlServer server_;
  testing::TempDir home_;
};

TEST(SourceUrl, RefusesControlCharactersAndReadsBracketedIPv6) {
  for (const char* bad : {"mysql://root:pw%00@h", "mysql://ro%01ot@h", "mysql://u@h/db%0A",
                          "mysql://u@[::1", "mysql://u@[zz]", "mysql://u@[::1]x", "mysql://u@[]"}) {
    EXPECT_FALSE(cli::ParseMySqlUrl(bad)) << bad;
  }
  EXPECT_NE(cli::ParseMySqlUrl("mysql://root:pw%00@h").message().find("control character"),
            std::string::npos);
  auto s = cli::ParseMySqlUrl("mysql://u@[::1]:3307/db");
  ASSERT_TRUE(s) << s.message();
  EXPECT_EQ(s->sourceName, "[::1]:3307");
  const ServerAddress a = SplitServerAddress(s->sourceName);
  EXPECT_EQ(a.host, "::1");
  EXPECT_EQ(a.port, "3307");
  EXPECT_EQ(SplitServerAddress("[fe80::1]").port, "3306");
  EXPECT_EQ(SplitServerAddress("db:3308").host, "db");
}

TEST_F(CliSource, CredentialsAreRefusedOrTakenWithoutTheCommandLine) {
  // A NUL in the password would cut the connection string and log in as
  // whoever the driver picks: refused, nothing printed.
  auto r = Sql("--source " + Quote(Url("root:x%00y")) + " 'select current_user()'");
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out, "");
  EXPECT_TRUE(ErrHas("control character")) << Err();

  // The same through migrator.cfg, which no URL parser sees.
  testing::WriteFile(home_ / "migrator.cfg",
                     "[Public]\nConfig=true\n[SourceDB]\nProvider=TCP/IP:Port\nSourceName=" +
                         server_.host + ":" + server_.port + "\nUserID=root\nPassWord=x\x01y\n");
  r = Sql("'select current_user()'");
  EXPECT_NE(r.status, 0);
  EXPECT_EQ(r.out, "");
  EXPECT_TRUE(ErrHas("control character")) << Err();

  // A password with a blank at an end is refused with the reason.
  r = Sql("--source " + Quote(Url(server_.user + ":%20pw")) + " 'select 1'");
  EXPECT_NE(r.status, 0);
  EXPECT_TRUE(ErrHas("blank")) << Err();

  // The password from the environment when the URL has none.
  r = Sql("--source " + Quote(Url(server_.user)) + " 'select current_user()'",
          "MIGRATOR_SOURCE_PASSWORD=" + Quote(server_.password));
  EXPECT_EQ(r.status, 0) << Err();
  EXPECT_EQ(r.out, server_.user + "@" + server_.host + "\n");

  // A failed login says why.
  r = Sql("--source " + Quote(Url(server_.user + ":wrong")) + " 'select 1'");
  EXPECT_NE(r.status, 0);
  EXPECT_TRUE(ErrHas("Source Connection error!")) << Err();
  EXPECT_TRUE(ErrHas("Access denied for user")) << Err();
  r = Sql("--source " + Quote(Url("root", "/no_such_db")) + " 'select 1'");
  EXPECT_TRUE(ErrHas("Unknown database")) << Err();
}

TEST_F(CliSource, ASilentServerTimesOutAndRowsThatKeepComingDoNot) {
  // A listener that accepts and never answers.
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  ASSERT_EQ(::listen(fd, 4), 0);
  socklen_t len = sizeof a;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  const std::string silent =
      "mysql://root@127.0.0.1:" + std::to_string(ntohs(a.sin_port)) + "/mysql";
  auto r = Sql("--login-timeout 1 --source " + Quote(silent) + " 'select 1'");
  ::close(fd);
  EXPECT_NE(r.status, 0);
  EXPECT_TRUE(ErrHas("handshake")) << Err();

  // A statement that keeps the server quiet longer than the read timeout
  // fails; one whose rows keep arriving runs to its end.
  r = Sql("--read-timeout 1 --source " + Quote(Url("root", "/mysql")) + " 'select sleep(3)'");
  EXPECT_NE(r.status, 0);
  EXPECT_TRUE(ErrHas("read timeout")) << Err();
  r = Sql("--read-timeout 2 --source " + Quote(Url("root", "/mysql")) +
          " \"select seq, repeat('x', 30000), sleep(1) from seq_1_to_4\"");
  EXPECT_EQ(r.status, 0) << Err();
  std::string expected;
  for (int i = 1; i <= 4; ++i)
    expected += std::to_string(i) + "\t" + std::string(30000, 'x') + "\t0\n";
  EXPECT_EQ(r.out, expected);
}

TEST_F(CliSource, StatementsWhoseRowsTheDriverLosesAreRefusedAndEveryResultIsPrinted) {
  const std::string url = Url("root", "/mysql");
  for (const char* statement :
       {"VALUES (6),(7)", "SET STATEMENT max_statement_time=10 FOR SELECT 5",
        "/*!40101 select 14 */", "HELP 'select'"}) {
    auto r = Sql("--source " + Quote(url) + " " + Quote(statement));
    EXPECT_EQ(r.status, 1) << statement;
    EXPECT_EQ(r.out, "") << statement;
    EXPECT_TRUE(ErrHas("was not run")) << statement << ": " << Err();
  }
  // Every result of a procedure, an empty line between two.
  const std::string db = "mg_cli_" + std::to_string(::getpid());
  ASSERT_EQ(Sql("--source " + Quote(url) + " 'create database " + db + "'").status, 0) << Err();
  ASSERT_EQ(Sql("--source " + Quote(url) + " 'create procedure " + db +
                ".p() begin select 1; select 2, 3; end'")
                .status,
            0)
      << Err();
  auto r = Sql("--source " + Quote(url) + " 'call " + db + ".p()'");
  EXPECT_EQ(r.status, 0) << Err();
  EXPECT_EQ(r.out, "1\n\n2\t3\n");

  // Values that need escaping, and BIT columns of both widths.
  Sql("--source " + Quote(url) + " 'create table " + db + ".b (one bit(1), ten bit(10))'");
  Sql("--source " + Quote(url) + " 'insert into " + db + ".b values (1, 5), (0, 1023)'");
  r = Sql("--source " + Quote(url) + " 'select * from " + db + ".b'");
  EXPECT_EQ(r.out, "1\t0005\n0\t03FF\n") << Err();
  r = Sql("--source " + Quote(url) +
          " \"select 'a\\tb', 'x\\ny\\r', '(NULL)', NULL, 'back\\\\\\\\slash'\"");
  EXPECT_EQ(r.status, 0) << Err();
  EXPECT_EQ(r.out, "a\\tb\tx\\ny\\r\t\\(NULL)\t(NULL)\tback\\\\slash\n");
  Sql("--source " + Quote(url) + " 'drop database " + db + "'");
}

TEST_F(CliSource, StatementsFromFilesTheSessionCharacterSetAndFailedWrites) {
  const std::string url = Url("root", "/mysql");
  testing::WriteFile(home_ / "q.sql", "select 'from a file'");
  auto r = Sql("--source " + Quote(url) + " -f " + Quote((home_ / "q.sql").string()));
  EXPECT_EQ(r.status, 0) << Err();
  EXPECT_EQ(r.out, "from a file\n");
  r = testing::RunCommand("echo 'select 40 + 2' | " MIGRATOR_BINARY_DIR
                          "/migrator-cli sql -q --source " +
                          Quote(url) + " -");
  EXPECT_EQ(r.out, "42\n");
  r = Sql("--source " + Quote(url) + " ' '");
  EXPECT_EQ(r.status, 2);
  EXPECT_TRUE(ErrHas("empty statement")) << Err();

  // Statements go in the session's character set: latin1 and a multi-byte one.
  testing::WriteFile(
      home_ / ".odbc.ini",
      "[cs]\nDriver=MariaDB Unicode\nSERVER=" + server_.host + "\nPORT=" + server_.port +
          "\nDATABASE=mysql\nCHARSET=latin1\n[sj]\nDriver=MariaDB "
          "Unicode\nSERVER=" +
          server_.host + "\nPORT=" + server_.port + "\nDATABASE=mysql\nCHARSET=sjis\n");
  const std::string env =
      "HOME=" + Quote(home_.str()) + " ODBCINI=" + Quote((home_ / ".odbc.ini").string());
  r =
      Sql("--source-dsn cs --user root \"select 'é', 'café' = convert(0x636166C3A9 using utf8mb4), "
          "hex('é')\"",
          env);
  EXPECT_EQ(r.status, 0) << Err();
  EXPECT_EQ(r.out, "é\t1\tE9\n");
  r =
      Sql("--source-dsn sj --user root \"select 'ソ表', hex('ソ'), 'ソ' = convert(0xE382BD using "
          "utf8mb4)\"",
          env);
  EXPECT_EQ(r.status, 0) << Err();
  EXPECT_EQ(r.out, "ソ表\t835C\t1\n");
  r = Sql("--source-dsn cs --user root \"select '表'\"", env);
  EXPECT_NE(r.status, 0);
  EXPECT_TRUE(ErrHas("cannot represent")) << Err();

  // A full disk stops the run with an error.
  r = testing::RunCommand(MIGRATOR_BINARY_DIR "/migrator-cli sql -q --source " + Quote(url) +
                          " 'select repeat(\"x\", 1000) from mysql.help_topic' >/dev/full 2>" +
                          Quote((home_ / "err").string()));
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(ErrHas("writing the rows failed")) << Err();
}

}  // namespace
}  // namespace migrator
