// The DDL rewriting rules over CREATE TABLE texts that the private MariaDB
// server writes itself, and over texts built here for the rarer shapes.

#include "adapters/mysql/ddl_rewrite.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "support/regexp_service.h"
#include "testlib/testlib.h"

namespace migrator {
namespace {

std::string ShellQuote(const std::string& s) {
  std::string q = "'";
  for (char c : s) {
    if (c == '\'') {
      q += "'\\''";
    } else {
      q += c;
    }
  }
  return q + "'";
}

class DdlFromServer : public ::testing::Test {
 protected:
  // Runs SQL with the mariadb client; returns its standard output.
  static testing::CommandResult Sql(const testing::MySqlServer& s, const std::string& sql) {
    const std::string cmd = "mariadb --no-defaults -h" + ShellQuote(s.host) + " -P" +
                            ShellQuote(s.port) + " -u" + ShellQuote(s.user) + " " +
                            ShellQuote("-p" + s.password) + " -N -B --raw -e " + ShellQuote(sql) +
                            " 2>&1";
    return testing::RunCommand(cmd);
  }
  // The CREATE TABLE text of db.table as "show create table" gives it.
  static std::string ShowCreate(const testing::MySqlServer& s, const std::string& table) {
    const auto r = Sql(s, "show create table migrator_ddl." + table);
    EXPECT_EQ(r.status, 0) << r.out;
    const std::size_t tab = r.out.find('\t');
    if (tab == std::string::npos) return {};
    std::string ddl = r.out.substr(tab + 1);
    if (!ddl.empty() && ddl.back() == '\n') ddl.pop_back();
    return ddl;
  }
};

TEST_F(DdlFromServer, RewritesRealDefinitions) {
  MIGRATOR_REQUIRE_MYSQL(server);
  const auto setup = Sql(server,
                         "drop database if exists migrator_ddl; create database migrator_ddl;"
                         "use migrator_ddl;"
                         "create table Orders (ID int(11) not null default 0,"
                         "  Name varchar(20) default null, primary key (ID), key Name (Name))"
                         "  engine=InnoDB default charset=latin1;"
                         "create table zoo (id int not null auto_increment, monkey varchar(10),"
                         "  keeper varchar(10), price decimal(10,2), primary key (id),"
                         "  unique key keeper (keeper)) engine=MyISAM;"
                         "create table priced (id int, amount decimal(10,2))"
                         "  comment='prices (in euro)';"
                         "create table noted (id int primary key, note varchar(5) comment 'a, b')"
                         "  comment='see (notes)';"
                         "create table plain (id int) comment='plain';");
  ASSERT_EQ(setup.status, 0) << setup.out;

  // Two key lines, upper-case names: names come out lower case, keys and
  // options go.
  const std::string orders = ShowCreate(server, "Orders");
  ASSERT_NE(orders.find("PRIMARY KEY (`ID`)"), std::string::npos) << orders;
  EXPECT_EQ(RewriteDdl(orders), "create table `orders` (\n`id` text,\n`name` text\n)");

  // A column named monkey stays a column; decimal(10,2) before the keys.
  const std::string zoo = ShowCreate(server, "zoo");
  ASSERT_NE(zoo.find("`monkey` varchar(10)"), std::string::npos) << zoo;
  EXPECT_EQ(RewriteDdl(zoo),
            "create table `zoo` (\n`id` text,\n`monkey` text,\n`keeper` text,\n`price` text\n)");

  // decimal(10,2) as the last column is cut at its comma by rule 1 and
  // completed by rule 2; the comment with parentheses goes with the options.
  const std::string priced = ShowCreate(server, "priced");
  ASSERT_NE(priced.find("COMMENT='prices (in euro)'"), std::string::npos) << priced;
  EXPECT_EQ(RewriteDdl(priced), "create table `priced` (\n`id` text,\n`amount` text\n)");

  // A removed key line leaves a comma before the closing line; with a ")" in
  // the table comment, the closing rule takes both away.
  EXPECT_EQ(RewriteDdl(ShowCreate(server, "noted")),
            "create table `noted` (\n`id` text,\n`note` text\n)");

  // A single column: rule 2 alone, the comment goes with rule 5.
  EXPECT_EQ(RewriteDdl(ShowCreate(server, "plain")), "create table `plain` (\n`id` text\n)");

  Sql(server, "drop database migrator_ddl");
}

TEST(RewriteDdl, RulesOneByOneOnATypicalDefinition) {
  // After each rule, as the rules say.
  std::string s =
      "create table `t` (\n  `id` int(11) not null default '0',\n  `name` varchar(20) default "
      "null,\n  primary key (`id`),\n  key `name` (`name`)\n) engine=innodb default "
      "charset=latin1";
  const char* after[] = {
      "create table `t` (\n`id` text,\n`name` text,\n  primary key (`id`),\n  key `name` "
      "(`name`)\n) engine=innodb default charset=latin1",
      "create table `t` (\n`id` text,\n`name` text,\n  primary key (`id`),\n  key `name` "
      "(`name`)\n) engine=innodb default charset=latin1",
      "create table `t` (\n`id` text,\n`name` text,\n) engine=innodb default charset=latin1",
      "create table `t` (\n`id` text,\n`name` text\n)",
      "create table `t` (\n`id` text,\n`name` text\n)",
      "create table `t` (\n`id` text,\n`name` text\n)",
  };
  for (std::size_t i = 0; i < kDdlRewriteRules.size(); ++i) {
    s = RegExpService::Replace(s, kDdlRewriteRules[i].pattern, kDdlRewriteRules[i].replacement);
    EXPECT_EQ(s, after[i]) << "rule " << i + 1;
  }
}

TEST(RewriteDdl, RareShapes) {
  // A last column line that ends in ")" itself (no closing line of its own).
  EXPECT_EQ(RewriteDdl("CREATE TABLE `t` (\n  `a` int,\n  `b` varchar(3))"),
            "create table `t` (\n`a` text,`b` text)");
  // Texts that are not definitions pass through, lowered.
  EXPECT_EQ(RewriteDdl("No Connection!"), "no connection!");
  EXPECT_EQ(RewriteDdl(""), "");
  // Non-ASCII names keep their bytes.
  EXPECT_EQ(RewriteDdl("CREATE TABLE `Ü表` (\n  `Ä` int\n) ENGINE=InnoDB"),
            "create table `Ü表` (\n`Ä` text\n)");
}

}  // namespace
}  // namespace migrator

namespace migrator {
namespace {

// The key-line rule is written for linear time; over texts made of the
// characters that matter to it, it replaces exactly what its plain form does.
TEST(RewriteDdl, KeyLineRuleMatchesItsPlainForm) {
  const std::string alphabet = "\n\n\n,,` \tkkeeyya)";
  std::mt19937 random(20261207);
  const std::string fast = kDdlRewriteRules[2].pattern;
  for (int round = 0; round < 4000; ++round) {
    std::string text;
    std::size_t length = random() % 60;
    for (std::size_t i = 0; i < length; ++i)
      text += alphabet[random() % alphabet.size()];
    if (round % 3 == 0) text.insert(random() % (text.size() + 1), "\nkey");
    ASSERT_EQ(RegExpService::Replace(text, fast, ""),
              RegExpService::Replace(text, kDdlKeyLineRulePlain, ""))
        << "text: " << ::testing::PrintToString(text);
  }
}

}  // namespace
}  // namespace migrator
