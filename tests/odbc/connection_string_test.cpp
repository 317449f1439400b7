// Connection strings the ODBC provider builds, and the provider registry.

#include <gtest/gtest.h>

#include "oledb/properties.h"
#include "providers/odbc/connection_string.h"
#include "providers/registry.h"

namespace migrator::providers::odbc {
namespace {

using namespace oledb;

PropertySet Init(std::string providerString, std::optional<std::string> user,
                 std::optional<std::string> password) {
  PropertySet p(PropertySetId::DBInit);
  if (password) p.Add(DBPROP_AUTH_PASSWORD, Variant::Bstr(*password));
  if (user) p.Add(DBPROP_AUTH_USERID, Variant::Bstr(*user));
  p.Add(DBPROP_INIT_PROVIDERSTRING, Variant::Bstr(std::move(providerString)));
  return p;
}

TEST(ConnectionString, ParsesBracedValuesWithDoubledBraces) {
  auto a = ParseConnectionString(";Driver={MariaDB Unicode};SERVER=h ;PWD={a;b}}c};Database=x y");
  ASSERT_EQ(a.size(), 4u);
  EXPECT_EQ(a[0].keyword, "Driver");
  EXPECT_EQ(a[0].value, "MariaDB Unicode");
  EXPECT_EQ(a[1].value, "h");
  EXPECT_EQ(a[2].value, "a;b}c");
  EXPECT_EQ(a[3].value, "x y");  // the last value needs no closing ";"
  auto b = ParseConnectionString("PWD={never closed;UID=x");
  ASSERT_EQ(b.size(), 1u);
  EXPECT_EQ(b[0].value, "never closed;UID=x");
  EXPECT_EQ(EscapeValue("p}w;d"), "{p}}w;d}");
  EXPECT_EQ(ParseConnectionString("PWD=" + EscapeValue("}{;=}}"))[0].value, "}{;=}}");
}

TEST(ConnectionString, AuthPropertiesLogInOverTheStringsRootUser) {
  const std::string s = BuildConnectionString(
      Init(";Driver={MariaDB Unicode};SERVER=127.0.0.1;PORT=3306;UID=root;PWD=old;", "bob",
           "a;UID=root}"));
  EXPECT_EQ(s, "Driver={MariaDB Unicode};SERVER=127.0.0.1;PORT=3306;UID={bob};PWD={a;UID=root}}};");
  auto attrs = ParseConnectionString(s);
  int uids = 0;
  for (const auto& a : attrs)
    uids += a.keyword == "UID" ? 1 : 0;
  EXPECT_EQ(uids, 1);
  EXPECT_EQ(attrs.back().value, "a;UID=root}");
}

TEST(ConnectionString, EmptyUserKeepsTheStringsUserAndAnEmptyPasswordChangesNothing) {
  EXPECT_EQ(BuildConnectionString(Init("DRIVER=x;UID=root;PWD=p;", "", "")),
            "DRIVER=x;UID=root;PWD=p;");
  EXPECT_EQ(BuildConnectionString(Init("DRIVER=x;UID=root;PWD=p;", std::nullopt, "new")),
            "DRIVER=x;UID=root;PWD={new};");
  // A user without a password property logs in with an empty one, not the string's.
  EXPECT_EQ(BuildConnectionString(Init("DRIVER=x;PWD=p;", "u", std::nullopt)),
            "DRIVER=x;UID={u};PWD={};");
}

TEST(ConnectionString, DataSourceNamesADsnUnlessTheStringNamesADriver) {
  PropertySet p(PropertySetId::DBInit);
  p.Add(DBPROP_INIT_DATASOURCE, Variant::Bstr("My DSN;x"));
  EXPECT_EQ(BuildConnectionString(p), "DSN={My DSN;x};");
  p.Add(DBPROP_INIT_PROVIDERSTRING, Variant::Bstr("DSN=other;OPTION=3"));
  EXPECT_EQ(BuildConnectionString(p), "DSN={My DSN;x};OPTION=3;");
  p.Set(DBPROP_INIT_PROVIDERSTRING, Variant::Bstr("Driver={MariaDB Unicode};SERVER=h"));
  EXPECT_EQ(BuildConnectionString(p), "Driver={MariaDB Unicode};SERVER=h;");
  EXPECT_EQ(RedactConnectionString("UID=u;PWD={x;y};"), "UID=u;PWD=***;");
}

TEST(Registry, KnowsTheOdbcProviderAndRejectsOthersAsUnregistered) {
  ASSERT_NE(FindProvider("MSDASQL"), nullptr);
  ASSERT_NE(FindProvider("msdasql"), nullptr);
  EXPECT_EQ(FindProvider("MSDASQL")->name, "Microsoft OLE DB Provider for ODBC Drivers");
  std::shared_ptr<DataSource> ds;
  EXPECT_EQ(CreateDataSource("MSDASQL", ds), hr::S_OK);
  ASSERT_TRUE(ds);
  EXPECT_EQ(ds->ProviderId(), "MSDASQL");
  EXPECT_FALSE(ds->Initialized());
  EXPECT_EQ(CreateDataSource("SQLOLEDB", ds), hr::REGDB_E_CLASSNOTREG);
  EXPECT_FALSE(ds);
}

}  // namespace
}  // namespace migrator::providers::odbc
