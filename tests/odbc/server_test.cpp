// The ODBC provider against the private MariaDB server.

#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <regex>

#include "app/scripted_frontend.h"
#include "odbc/server_fixture.h"
#include "oledb/operations.h"
#include "oledb/schema_reader.h"

namespace migrator::testing {
namespace {

using namespace oledb;

// A loopback port that nothing listens on.
std::string ClosedPort() {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t len = sizeof a;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  ::close(fd);
  return std::to_string(ntohs(a.sin_port));
}

TEST_F(ServerTest, LogsInAsTheConfiguredUserNotTheStringsRoot) {
  const std::string user = Single("select current_user()");
  EXPECT_EQ(user.substr(0, user.find('@')), server_.user);
  std::string name, version;
  ASSERT_EQ(ds_->GetInfo(DBPROP_DBMSNAME, name), hr::S_OK);
  ASSERT_EQ(ds_->GetInfo(DBPROP_DBMSVER, version), hr::S_OK);
  EXPECT_EQ(name, "MariaDB");
  EXPECT_TRUE(std::regex_match(version, std::regex(R"(\d+\.\d+\.\d{6})"))) << version;
  std::string dsn = "unset";
  EXPECT_EQ(ds_->GetInfo(DBPROP_DATASOURCENAME, dsn), hr::S_OK);
  EXPECT_EQ(dsn, "");  // a connection without a DSN
  std::string catalog;
  ASSERT_EQ(ds_->GetInfo(DBPROP_CURRENTCATALOG, catalog), hr::S_OK);
  EXPECT_EQ(catalog, db_);  // follows "use"
  EXPECT_EQ(ds_->GetInfo(DBPROP_IRowset, catalog), hr::DB_E_ERRORSOCCURRED);
}

TEST_F(ServerTest, CatalogPropertySelectsTheDatabase) {
  HRESULT h;
  auto ds = OpenDataSource(InitProperties(server_, server_.password, db_), h);
  ASSERT_EQ(h, hr::S_OK) << ErrorDescription(ds.get(), Iid::IDBInitialize);
  std::string catalog;
  ASSERT_EQ(ds->GetInfo(DBPROP_CURRENTCATALOG, catalog), hr::S_OK);
  EXPECT_EQ(catalog, db_);

  auto missing = OpenDataSource(InitProperties(server_, server_.password, db_ + "_none"), h);
  EXPECT_TRUE(hr::Failed(h));
  EXPECT_NE(ErrorDescription(missing.get(), Iid::IDBInitialize).find("Unknown database"),
            std::string::npos);
}

TEST_F(ServerTest, WrongPasswordAndStoppedServerFailWithTheDriversText) {
  HRESULT h;
  auto ds = OpenDataSource(InitProperties(server_, server_.password + "x"), h);
  EXPECT_EQ(h, hr::DB_SEC_E_AUTH_FAILED);
  EXPECT_NE(ErrorDescription(ds.get(), Iid::IDBInitialize).find("Access denied for user"),
            std::string::npos);
  std::shared_ptr<Session> s;
  EXPECT_EQ(ds->CreateSession(s), hr::E_UNEXPECTED);

  auto down = OpenDataSource(InitProperties(server_, server_.password, {}, ClosedPort()), h);
  EXPECT_TRUE(hr::Failed(h));
  const std::string text = ErrorDescription(down.get(), Iid::IDBInitialize);
  EXPECT_NE(text.find("Can't connect"), std::string::npos) << text;
  ASSERT_TRUE(down->ErrorObject());
  EXPECT_FALSE(down->ErrorObject()->front().sqlState.empty());
}

TEST_F(ServerTest, FailingStatementLeavesTheDriversRecordOnTheCommand) {
  auto run = RunCommand(*slot_.Get(), "selec 1", StandardRowsetProperties());
  EXPECT_EQ(run.hr, hr::DB_E_ERRORSINCOMMAND);
  EXPECT_NE(run.ErrorText().find("You have an error in your SQL syntax"), std::string::npos);
  const auto records = run.command->ErrorObject();
  ASSERT_TRUE(records && !records->empty());
  const auto& rec = records->front();
  EXPECT_EQ(rec.sqlState, "42000");
  EXPECT_EQ(rec.nativeError, 1064);
  EXPECT_EQ(rec.source, "Microsoft OLE DB Provider for ODBC Drivers");
}

TEST_F(ServerTest, SchemaRowsetsListDatabasesTablesViewsColumnsAndIndexes) {
  Exec(
      "create table orders (id int not null primary key, cust varchar(20), day date,"
      " note text, key by_cust_day (cust, day)) comment '" +
      std::string(200, 'c') + "'");
  Exec("create table a_b (x int)");
  Exec("create table axb (x int)");
  Exec("create table `表格` (`名字` varchar(5))");
  Exec("create view big_orders as select id, cust from orders");

  CatalogsReader catalogs;
  ASSERT_EQ(catalogs.Open(&slot_), hr::S_OK);
  bool sawDb = false, sawMysql = false;
  while (catalogs.MoveNext() == hr::S_OK) {
    sawDb |= catalogs.record().catalogName == db_;
    sawMysql |= catalogs.record().catalogName == "mysql";
  }
  EXPECT_TRUE(sawDb);
  EXPECT_TRUE(sawMysql);

  // Without a catalog restriction: the current database only.
  auto names = [&](const char* type) {
    TablesReader t;
    EXPECT_EQ(t.Open(&slot_, Restrictions().Set(restriction::kTableType, type)), hr::S_OK);
    std::vector<std::string> out;
    while (t.MoveNext() == hr::S_OK) {
      EXPECT_EQ(t.record().tableCatalog, db_);
      EXPECT_EQ(t.record().tableType, type);
      out.push_back(t.record().tableName);
      if (t.record().tableName == "orders") {
        EXPECT_EQ(t.record().description, std::string(128, 'c'));
      }
    }
    std::sort(out.begin(), out.end());
    return out;
  };
  EXPECT_EQ(names("TABLE"), (std::vector<std::string>{"a_b", "axb", "orders", "表格"}));
  EXPECT_EQ(names("VIEW"), (std::vector<std::string>{"big_orders"}));

  // A name restriction is exact: "_" is not a wildcard.
  TablesReader exact;
  ASSERT_EQ(exact.Open(&slot_, Restrictions().Set(restriction::kTableName, "a_b")), hr::S_OK);
  std::vector<std::string> got;
  while (exact.MoveNext() == hr::S_OK)
    got.push_back(exact.record().tableName);
  EXPECT_EQ(got, (std::vector<std::string>{"a_b"}));

  ColumnsReader columns;
  ASSERT_EQ(columns.Open(&slot_, Restrictions().Set(restriction::kTableName, "orders")), hr::S_OK);
  std::vector<ColumnRecord> cols;
  while (columns.MoveNext() == hr::S_OK)
    cols.push_back(columns.record());
  ASSERT_EQ(cols.size(), 4u);
  EXPECT_EQ(cols[0].columnName, "id");
  EXPECT_EQ(cols[0].dataType, DBTYPE_I4);
  EXPECT_FALSE(cols[0].isNullable);
  EXPECT_EQ(cols[1].columnName, "cust");
  EXPECT_EQ(cols[1].dataType, DBTYPE_WSTR);
  EXPECT_EQ(cols[1].characterMaximumLength, 20u);
  EXPECT_TRUE(cols[1].isNullable);
  EXPECT_EQ(cols[2].dataType, DBTYPE_DBDATE);
  EXPECT_EQ(cols[3].columnName, "note");
  EXPECT_TRUE(cols[3].columnFlags & DBCOLUMNFLAGS_ISLONG);
  EXPECT_EQ(cols[3].ordinalPosition, 4u);

  ColumnsReader wide;
  ASSERT_EQ(wide.Open(&slot_, Restrictions().Set(restriction::kTableName, "表格")), hr::S_OK);
  ASSERT_EQ(wide.MoveNext(), hr::S_OK);
  EXPECT_EQ(wide.record().columnName, "名字");

  IndexesReader indexes;
  ASSERT_EQ(indexes.Open(&slot_, Restrictions().Set(restriction::kIndexTableName, "orders")),
            hr::S_OK);
  std::vector<std::string> listed;
  while (indexes.MoveNext() == hr::S_OK) {
    const auto& r = indexes.record();
    listed.push_back(r.indexName + "." + r.columnName);
    if (r.indexName == "PRIMARY") {
      EXPECT_TRUE(r.primaryKey && r.unique);
    } else {
      EXPECT_FALSE(r.primaryKey || r.unique);
    }
  }
  // The two-column index is listed once per column.
  EXPECT_EQ(listed,
            (std::vector<std::string>{"PRIMARY.id", "by_cust_day.cust", "by_cust_day.day"}));

  IndexesReader all;
  ASSERT_EQ(all.Open(&slot_), hr::S_OK);
  int n = 0;
  while (all.MoveNext() == hr::S_OK)
    ++n;
  EXPECT_EQ(n, 3);
}

TEST_F(ServerTest, LongAndUnicodeValuesReadBackByteIdentical) {
  Exec("create table t (id int, v longtext)");
  std::string twenty(20000, 'x');
  for (std::size_t i = 0; i < twenty.size(); i += 97)
    twenty[i] = static_cast<char>('a' + i % 26);
  const std::string chinese = "中文字符，测试 😀 emoji 🐉 end";
  // Emoji at every position so that UTF-16 pairs straddle the read buffer's edges.
  std::string emojis = "a";
  for (int i = 0; i < 30000; ++i)
    emojis += "😀";
  Exec("insert into t values (1, '" + twenty + "'), (2, '" + chinese + "'), (3, '" + emojis +
       "'), (4, NULL), (5, '')");
  auto rows = Rows("select id, v from t order by id");
  ASSERT_EQ(rows.size(), 5u);
  EXPECT_EQ(rows[0][1], twenty);
  EXPECT_EQ(rows[1][1], chinese);
  EXPECT_EQ(rows[2][1].size(), emojis.size());
  EXPECT_TRUE(rows[2][1] == emojis);
  EXPECT_EQ(rows[3][1], "NULL");
  EXPECT_EQ(rows[4][1], "");
  EXPECT_EQ(Single("select char_length(v) from t where id = 2"), "21");
}

TEST_F(ServerTest, ASessionWhoseResultsAreNotUtf8IsReadAsUtf8) {
  Exec("create table t (v varchar(10) character set utf8mb4)");
  Exec("insert into t values ('café ñ')");
  Exec("set character_set_results = latin1");
  EXPECT_EQ(Single("select v from t"), "café ñ");
  std::vector<ColumnInfo> columns;
  auto r = ReadTextRows(&slot_, "select v as `prénom` from t", {});
  ASSERT_EQ(r.outcome, TextReadOutcome::Rows) << r.errorText;
  ASSERT_EQ(r.columns.size(), 1u);
  EXPECT_EQ(r.columns[0].name, "prénom");
  EXPECT_EQ(Single("select @@character_set_results"), "latin1");
}

TEST_F(ServerTest, StatementOperationsAgainstTheServer) {
  Exec("create table t (a int, b varchar(5))");
  for (int i = 1; i <= 250; ++i) {
    Exec("insert into t values (" + std::to_string(i) + ", " +
         (i == 1 ? std::string("NULL") : "'r" + std::to_string(i) + "'") + ")");
  }
  ScriptedFrontend out;
  EXPECT_TRUE(RunStatementAndList(out, &slot_, "select a, b from t order by a", 1));
  auto texts = out.Texts();
  ASSERT_EQ(texts.size(), 200u);
  EXPECT_EQ(texts[0], "1");
  EXPECT_EQ(texts[1], "(NULL)");
  EXPECT_EQ(texts[199], "r100");

  out.ClearLines();
  EXPECT_TRUE(ExecuteStatement(out, &slot_, "select * from t", 1));  // no line, no rows read
  EXPECT_TRUE(ExecuteStatement(out, &slot_, "delete from t where a > 1000", 1));
  EXPECT_FALSE(ExecuteStatement(out, &slot_, "insert into nowhere values (1)", 0));
  EXPECT_FALSE(ExecuteStatement(out, &slot_, "insert into nowhere values (1)", 1));
  texts = out.Texts();
  ASSERT_EQ(texts.size(), 2u);
  EXPECT_EQ(texts[0], "RESULT: The operation completed SUCCESSFULLY");
  EXPECT_NE(texts[1].find("nowhere' doesn't exist"), std::string::npos) << texts[1];

  EXPECT_EQ(QuerySingleValue(out, &slot_, "select count(*) from t"), "250");
  EXPECT_NE(QuerySingleValue(out, &slot_, "select nope from t").find("Unknown column"),
            std::string::npos);
  EXPECT_EQ(QuerySingleValue(out, &slot_, "set @x = 1"),
            "RESULT: The operation completed SUCCESSFULLY");
}

}  // namespace
}  // namespace migrator::testing

namespace migrator::testing {
namespace {

using namespace oledb;

TEST_F(ServerTest, DataSourcePropertyNamesAnOdbcDsn) {
  TempDir dir;
  WriteFile(dir / "odbc.ini",
            "[migrator test dsn]\nDriver=MariaDB Unicode\nSERVER=" + server_.host +
                "\nPORT=" + server_.port + "\nDATABASE=" + db_ + "\n");
  ScopedEnv ini("ODBCINI", (dir / "odbc.ini").string());
  PropertySet p(PropertySetId::DBInit);
  p.Add(DBPROP_AUTH_PASSWORD, Variant::Bstr(server_.password));
  p.Add(DBPROP_AUTH_USERID, Variant::Bstr(server_.user));
  p.Add(DBPROP_INIT_DATASOURCE, Variant::Bstr("migrator test dsn"));
  HRESULT h;
  auto ds = OpenDataSource(p, h);
  ASSERT_EQ(h, hr::S_OK) << ErrorDescription(ds.get(), Iid::IDBInitialize);
  std::string name, catalog;
  ASSERT_EQ(ds->GetInfo(DBPROP_DATASOURCENAME, name), hr::S_OK);
  ASSERT_EQ(ds->GetInfo(DBPROP_CURRENTCATALOG, catalog), hr::S_OK);
  EXPECT_EQ(name, "migrator test dsn");
  EXPECT_EQ(catalog, db_);

  // An optional catalog that cannot be selected is dropped; a required one fails.
  p.Add(DBPROP_INIT_CATALOG, Variant::Bstr("no_such_db_here"), PropertyOptions::Optional);
  ds = OpenDataSource(p, h);
  EXPECT_EQ(h, hr::S_OK) << ErrorDescription(ds.get(), Iid::IDBInitialize);
  p.Set(DBPROP_INIT_CATALOG, Variant::Bstr("no_such_db_here"), PropertyOptions::Required);
  ds = OpenDataSource(p, h);
  EXPECT_TRUE(hr::Failed(h));

  p.Set(DBPROP_INIT_DATASOURCE, Variant::Bstr("no such dsn"));
  p.Remove(DBPROP_INIT_CATALOG);
  ds = OpenDataSource(p, h);
  EXPECT_TRUE(hr::Failed(h));
  EXPECT_NE(ErrorDescription(ds.get(), Iid::IDBInitialize).find("Data source name not found"),
            std::string::npos);
}

}  // namespace
}  // namespace migrator::testing
