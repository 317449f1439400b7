// Connect, the adapters' initialisation properties, UseDatabase and
// ReopenDatabase over a scripted provider.

#include "workflows/connect.h"

#include <gtest/gtest.h>

#include "adapters/excel/excel_adapter.h"
#include "adapters/mysql/mysql_adapter.h"
#include "app/scripted_frontend.h"
#include "app/workspace.h"
#include "fake_provider.h"
#include "oledb/operations.h"
#include "testlib/testlib.h"

namespace migrator {
namespace {

using oledb::PropertySet;

ConnectionSettings TcpSettings(std::string source, std::string catalog = "") {
  ConnectionSettings s;
  s.providerText = "TCP/IP:Port";
  s.providerId = "MSDASQL";
  s.sourceName = std::move(source);
  s.userId = "alice";
  s.password = "pw;}";
  s.catalogName = std::move(catalog);
  return s;
}

ConnectionSettings JetSettings(std::string path) {
  ConnectionSettings s;
  s.providerText = "Microsoft Jet 4.0 OLE DB Provider";
  s.providerId = "Microsoft.Jet.OLEDB.4.0";
  s.sourceName = std::move(path);
  return s;
}

std::vector<oledb::DBPROPID> Ids(const PropertySet& set) {
  std::vector<oledb::DBPROPID> ids;
  for (const auto& p : set.properties())
    ids.push_back(p.id);
  return ids;
}

// Records the wait cursor as well.
class BusyFrontend : public ScriptedFrontend {
 public:
  void SetBusy(bool busy) override { busy_.push_back(busy); }
  std::vector<bool> busy_;
};

class ConnectTest : public ::testing::Test {
 protected:
  ConnectTest() : ws_(ui_, dir_.str()) {}
  void Open(DataSourceSide side) { Connect(ws_, side, fake_.Services()); }

  testing::TempDir dir_;
  BusyFrontend ui_;
  Workspace ws_;
  testing::FakeServices fake_;
};

TEST_F(ConnectTest, SourceTitleIsNameAndVersionAndTheTreeGetsTheConnection) {
  fake_.script.dbmsName = "  MySQL \t";
  ws_.source.SetSettings(TcpSettings("db.example:3307", "shop"));
  Open(DataSourceSide::Source);

  ASSERT_TRUE(ws_.source.Connected());
  EXPECT_EQ(ws_.source.DbmsTitle(), "MySQL[5.0]");
  EXPECT_TRUE(ui_.HasCall("title Source: MySQL[5.0]"));
  EXPECT_EQ(ui_.Texts(),
            (std::vector<std::string>{"Connect Source Database!",
                                      "RESULT: The operation completed SUCCESSFULLY"}));
  EXPECT_TRUE(ui_.CallsStartingWith("hint").empty());
  EXPECT_TRUE(ui_.CallsStartingWith("ask").empty());
  EXPECT_EQ(ws_.source.tree.SessionRef(), &ws_.source.session);
  EXPECT_EQ(ws_.source.tree.DataSourceRef(), &ws_.source.dataSource);
  EXPECT_EQ(ws_.source.tree.SideMarker(), 0);
  EXPECT_EQ(ws_.source.tree.ProviderId(), "MSDASQL");
  EXPECT_EQ(ws_.source.tree.UserId(), "alice");
  EXPECT_EQ(ui_.busy_, (std::vector<bool>{true, false}));

  // The data source was initialised with the full set: auth, the string of
  // the accepted driver, mode and prompt.
  const PropertySet& init = fake_.log.initialized.back();
  EXPECT_EQ(Ids(init), (std::vector<oledb::DBPROPID>{
                           oledb::DBPROP_AUTH_ENCRYPT_PASSWORD, oledb::DBPROP_AUTH_MASK_PASSWORD,
                           oledb::DBPROP_AUTH_PASSWORD, oledb::DBPROP_AUTH_USERID,
                           oledb::DBPROP_INIT_PROVIDERSTRING, oledb::DBPROP_INIT_MODE,
                           oledb::DBPROP_INIT_PROMPT}));
  EXPECT_EQ(*init.FindText(oledb::DBPROP_INIT_PROVIDERSTRING),
            ";Driver={MySQL ODBC 5.1 Driver};SERVER=db.example;PORT=3307;UID=root;Database=shop");
  EXPECT_EQ(*init.FindText(oledb::DBPROP_AUTH_PASSWORD), "pw;}");
  EXPECT_EQ(*init.FindI4(oledb::DBPROP_INIT_MODE), 16);
  EXPECT_EQ(*init.FindI2(oledb::DBPROP_INIT_PROMPT), 4);
}

TEST_F(ConnectTest, TitleFallsBackToTheServerVersion) {
  fake_.script.dbmsName = "   ";
  fake_.script.values["select @@Version"] = "10.11.6-MariaDB";
  ws_.source.SetSettings(TcpSettings("localhost"));
  Open(DataSourceSide::Source);
  EXPECT_EQ(ws_.source.DbmsTitle(), "10.11.6-MariaDB");

  // An unreadable name is reported and the version query still answers.
  ScriptedFrontend ui2;
  Workspace ws2(ui2, dir_.str());
  fake_.script.dbmsName.reset();
  ws2.source.SetSettings(TcpSettings("localhost"));
  Connect(ws2, DataSourceSide::Source, fake_.Services());
  EXPECT_TRUE(ui2.HasText("Get Source DBMS Name Error!"));
  EXPECT_EQ(ws2.source.DbmsTitle(), "10.11.6-MariaDB");
}

TEST_F(ConnectTest, UnreadableVersionKeepsTheNameAlone) {
  fake_.script.dbmsName = "Excel Workbook";
  fake_.script.dbmsVersion.reset();
  ws_.target.SetSettings(JetSettings("/data/shop.xls"));
  Open(DataSourceSide::Target);
  EXPECT_TRUE(ws_.target.Connected());
  EXPECT_EQ(ws_.target.DbmsTitle(), "Excel Workbook");
  EXPECT_EQ(ui_.Texts(),
            (std::vector<std::string>{"Connect Target Database!", "Get Target DBMS Version Error!",
                                      "RESULT: The operation completed SUCCESSFULLY"}));
  // The workbook path gave the database name.
  EXPECT_EQ(ws_.target.Settings().catalogName, "/data/shop");
  EXPECT_EQ(ws_.target.tree.SideMarker(), 1);
}

TEST_F(ConnectTest, SessionFailureShowsOnlyTheMessageBox) {
  fake_.script.createSession = hr::E_FAIL;
  ws_.source.SetSettings(TcpSettings("localhost"));
  Open(DataSourceSide::Source);
  EXPECT_FALSE(ws_.source.Connected());
  EXPECT_FALSE(ws_.source.dataSource.Empty());  // the data source stays held
  EXPECT_EQ(ui_.CallsStartingWith("ask"),
            (std::vector<std::string>{"ask Ok: Couldn't create session on data source"}));
  EXPECT_TRUE(ui_.CallsStartingWith("hint").empty());
  EXPECT_TRUE(ui_.CallsStartingWith("title").empty());
  EXPECT_TRUE(ui_.CallsStartingWith("tree").empty());
  // Only the progress line written before the session was asked for.
  EXPECT_EQ(ui_.Texts(), (std::vector<std::string>{"Connect Source Database!"}));
  EXPECT_EQ(ws_.source.tree.SideMarker(), -1);
  EXPECT_EQ(ui_.busy_.back(), false);
}

TEST_F(ConnectTest, FailuresTakeTheFailurePathWithTheSidesOwnTexts) {
  // Target: the provider cannot initialise.
  fake_.script.initialize = [](const PropertySet&) { return hr::DB_SEC_E_AUTH_FAILED; };
  ws_.target.SetSettings(JetSettings("/data/missing.xls"));
  Open(DataSourceSide::Target);
  EXPECT_FALSE(ws_.target.Connected());
  EXPECT_TRUE(ws_.target.dataSource.Empty());
  EXPECT_EQ(ui_.CallsStartingWith("hint"),
            (std::vector<std::string>{"hint: Target Connection error! Please comfirm target "
                                      "database connection properties !"}));
  // The provider's reason, as an error line and in the message box; the
  // side is marked failed.
  ASSERT_EQ(ui_.Texts().size(), 1u);
  EXPECT_EQ(ui_.Texts()[0].rfind("Target Connection error: ", 0), 0u) << ui_.Texts()[0];
  const std::string reason = ui_.Texts()[0].substr(std::string("Target Connection error: ").size());
  EXPECT_EQ(ui_.CallsStartingWith("ask"),
            (std::vector<std::string>{"ask Ok: Target Connection error!\n\n" + reason}));
  EXPECT_TRUE(ui_.HasCall("side Target: failed: " + reason));

  // Source: an unknown provider identifier.
  ui_.ClearCalls();
  auto s = TcpSettings("localhost");
  s.providerText = "Microsoft OLE DB Provider for ODBC Divers";
  s.providerId = "NoSuch.Provider";
  s.sourceName = "mydsn";
  ws_.source.SetSettings(s);
  Open(DataSourceSide::Source);
  EXPECT_EQ(ui_.CallsStartingWith("hint"),
            (std::vector<std::string>{"hint: Source Connection error! Please comfirm source "
                                      "database connection properties !"}));
  EXPECT_EQ(ui_.CallsStartingWith("ask"),
            (std::vector<std::string>{
                "ask Ok: Source Connection error!\n\nthe provider NoSuch.Provider is not "
                "registered"}));
  EXPECT_EQ(ui_.busy_.back(), false);
}

TEST_F(ConnectTest, AnOpenSideIsReleasedEvenWhenTheNewAttemptFails) {
  ws_.source.SetSettings(TcpSettings("localhost"));
  Open(DataSourceSide::Source);
  ASSERT_TRUE(ws_.source.Connected());
  std::weak_ptr<oledb::Session> oldSession = ws_.source.session.Get();
  std::weak_ptr<oledb::DataSource> oldSource = ws_.source.dataSource.Get();
  ASSERT_EQ(fake_.log.alive, 1);

  fake_.drivers.clear();  // no MySQL driver any more: the adapter declines
  ui_.ClearCalls();
  Open(DataSourceSide::Source);
  EXPECT_TRUE(oldSession.expired());
  EXPECT_TRUE(oldSource.expired());
  EXPECT_EQ(fake_.log.alive, 0);
  EXPECT_FALSE(ws_.source.Connected());
  EXPECT_EQ(ws_.source.tree.SideMarker(), -1);
  EXPECT_EQ(ui_.CallsStartingWith("ask Ok: Source Connection error!").size(), 1u);
  EXPECT_FALSE(oledb::ExecuteStatement(ui_, ws_.source.tree.SessionRef(), "select 1", 0));
}

// The trial loop over the MySQL drivers.
TEST(MySqlInitProperties, TrialLoopTriesEachDriverWithItsOwnString) {
  testing::FakeServices fake;
  fake.drivers = {"Broken Driver", "MariaDB Unicode"};
  fake.script.initialize = [](const PropertySet& p) {
    return p.FindText(oledb::DBPROP_INIT_PROVIDERSTRING)->find("{Broken Driver}") !=
                   std::string::npos
               ? hr::E_FAIL
               : hr::S_OK;
  };
  PropertySet set;
  ASSERT_TRUE(MySqlAdapter::BuildInitProperties(TcpSettings("h"), set, fake.Services()));
  ASSERT_EQ(fake.log.initialized.size(), 2u);
  // Trials get the set without mode and prompt, and one provider string.
  EXPECT_EQ(
      Ids(fake.log.initialized[0]),
      (std::vector<oledb::DBPROPID>{oledb::DBPROP_AUTH_ENCRYPT_PASSWORD,
                                    oledb::DBPROP_AUTH_MASK_PASSWORD, oledb::DBPROP_AUTH_PASSWORD,
                                    oledb::DBPROP_AUTH_USERID, oledb::DBPROP_INIT_PROVIDERSTRING}));
  EXPECT_EQ(*fake.log.initialized[1].FindText(oledb::DBPROP_INIT_PROVIDERSTRING),
            ";Driver={MariaDB Unicode};SERVER=h;PORT=3306;UID=root;");
  EXPECT_EQ(*set.FindText(oledb::DBPROP_INIT_PROVIDERSTRING),
            ";Driver={MariaDB Unicode};SERVER=h;PORT=3306;UID=root;");
  EXPECT_EQ(set.size(), 7u);
  EXPECT_EQ(fake.log.alive, 0);  // the trial data sources are released

  // The first fails and there is no second: false.
  testing::FakeServices one;
  one.drivers = {"Broken Driver"};
  one.script.initialize = fake.script.initialize;
  PropertySet set2;
  EXPECT_FALSE(MySqlAdapter::BuildInitProperties(TcpSettings("h"), set2, one.Services()));

  // No driver at all: false at once, no data source made.
  testing::FakeServices none;
  none.drivers.clear();
  PropertySet set3;
  EXPECT_FALSE(MySqlAdapter::BuildInitProperties(TcpSettings("h"), set3, none.Services()));
  EXPECT_TRUE(none.log.providerIds.empty());

  // Three failures still give a complete set; Connect then fails on its own.
  testing::FakeServices three;
  three.drivers = {"A", "B", "C", "D"};
  three.script.initialize = [](const PropertySet&) { return hr::E_FAIL; };
  PropertySet set4;
  EXPECT_TRUE(MySqlAdapter::BuildInitProperties(TcpSettings("h"), set4, three.Services()));
  EXPECT_EQ(three.log.initialized.size(), 3u);
  EXPECT_EQ(*set4.FindText(oledb::DBPROP_INIT_PROVIDERSTRING),
            ";Driver={C};SERVER=h;PORT=3306;UID=root;");
}

TEST(MySqlInitProperties, TestVariantTellsWhatWentWrong) {
  testing::FakeServices fake;
  fake.drivers = {"A", "B"};
  fake.script.initialize = [](const PropertySet&) { return hr::DB_SEC_E_AUTH_FAILED; };
  fake.script.initializeError = "Access denied for user 'alice'";
  ScriptedFrontend ui;
  PropertySet set;
  EXPECT_FALSE(MySqlAdapter::BuildTestInitProperties(ui, TcpSettings("h"), set, fake.Services()));
  EXPECT_EQ(ui.CallsStartingWith("ask"),
            (std::vector<std::string>{"ask Ok: Access denied for user 'alice'",
                                      "ask Ok: Access denied for user 'alice'",
                                      "ask Ok: No appropriate Config, Please correct!!!"}));

  // A provider that cannot be made gives "Unknown Error!".
  testing::FakeServices unknown;
  unknown.known.clear();
  ScriptedFrontend ui2;
  PropertySet set2;
  MySqlAdapter::BuildTestInitProperties(ui2, TcpSettings("h"), set2, unknown.Services());
  EXPECT_EQ(ui2.CallsStartingWith("ask").front(), "ask Ok: Unknown Error!");
}

TEST(MySqlInitProperties, ConnectionStringsAndTheDataSourceBranch) {
  EXPECT_EQ(SplitServerAddress("db:3307").host, "db");
  EXPECT_EQ(SplitServerAddress("db:3307").port, "3307");
  EXPECT_EQ(SplitServerAddress("db").port, "3306");
  EXPECT_EQ(SplitServerAddress("db:").port, "");
  EXPECT_EQ(SplitServerAddress("a:b:c").port, "b:c");
  EXPECT_EQ(MySqlConnectionString("MariaDB", {"127.0.0.1", "3306"}, ""),
            ";Driver={MariaDB};SERVER=127.0.0.1;PORT=3306;UID=root;");
  EXPECT_EQ(MySqlConnectionString("MariaDB", {"h", "1"}, "shop"),
            ";Driver={MariaDB};SERVER=h;PORT=1;UID=root;Database=shop");
  // Values cannot add keywords of their own.
  EXPECT_EQ(MySqlConnectionString("Odd}Name", {"h;UID=x", "1"}, "db;PWD={y}"),
            ";Driver={Odd}}Name};SERVER={h;UID=x};PORT=1;UID=root;Database={db;PWD={y}}}");

  // An ODBC data source: the name is the data source, the catalog the database.
  testing::FakeServices fake;
  ConnectionSettings s = TcpSettings("MyDsn", "shop");
  s.providerText = "Microsoft OLE DB Provider for ODBC Divers";
  PropertySet set;
  ASSERT_TRUE(MySqlAdapter::BuildInitProperties(s, set, fake.Services()));
  EXPECT_EQ(*set.FindText(oledb::DBPROP_INIT_DATASOURCE), "MyDsn");
  EXPECT_EQ(*set.FindText(oledb::DBPROP_INIT_CATALOG), "shop");
  EXPECT_FALSE(set.Has(oledb::DBPROP_INIT_PROVIDERSTRING));
  EXPECT_TRUE(fake.log.providerIds.empty());  // no trial in this branch
  s.sourceName.clear();
  PropertySet set2;
  ASSERT_TRUE(MySqlAdapter::BuildInitProperties(s, set2, fake.Services()));
  EXPECT_EQ(set2.size(), 6u);
  // "tcp/ip:port" in any case selects the string form.
  s.providerText = "tcp/ip:PORT";
  s.sourceName = "h";
  PropertySet set3;
  ASSERT_TRUE(MySqlAdapter::BuildInitProperties(s, set3, fake.Services()));
  EXPECT_TRUE(set3.Has(oledb::DBPROP_INIT_PROVIDERSTRING));
}

TEST(ExcelInitProperties, WorkbookPathGivesTheDatabase) {
  auto s = JetSettings("C:\\data\\shop.xls");
  s.catalogName = "C:\\data\\shop";
  PropertySet set;
  ASSERT_TRUE(ExcelAdapter::BuildInitProperties(s, set));
  EXPECT_FALSE(set.Has(oledb::DBPROP_INIT_CATALOG));
  EXPECT_EQ(*set.FindText(oledb::DBPROP_INIT_DATASOURCE), "C:\\data\\shop.xls");
  EXPECT_EQ(*set.FindText(oledb::DBPROP_INIT_PROVIDERSTRING), "Excel 8.0;HDR=Yes;");
  EXPECT_EQ(s.catalogName, "C:\\data\\shop");
  EXPECT_EQ(set.properties().back().id, oledb::DBPROP_INIT_PROVIDERSTRING);

  auto upper = JetSettings("/data/SHOP.XLS");
  upper.catalogName = "/data/other";
  PropertySet set2;
  ExcelAdapter::BuildInitProperties(upper, set2);
  EXPECT_EQ(*set2.FindText(oledb::DBPROP_INIT_CATALOG), "/data/other");
  EXPECT_EQ(upper.catalogName, "/data/SHOP");  // the extension in any case, only at the end
  auto inside = JetSettings("/data/a.xls.d/bookxls");
  ExcelAdapter::BuildInitProperties(inside, set2);
  EXPECT_EQ(inside.catalogName, "/data/a.xls.d/bookxls");

  ConnectionSettings odbc;
  odbc.providerId = "MSDASQL";
  odbc.sourceName = "ExcelDsn";
  odbc.catalogName = "book";
  PropertySet set3, set4;
  ExcelAdapter::BuildInitProperties(odbc, set3);
  EXPECT_EQ(*set3.FindText(oledb::DBPROP_INIT_PROVIDERSTRING),
            "Driver={Microsoft Excel Driver (*.xls)};DriverId=790;ReadOnly=0;");
  EXPECT_EQ(odbc.catalogName, "book");
  ExcelAdapter::BuildTestInitProperties(odbc, set4);
  EXPECT_EQ(*set4.FindText(oledb::DBPROP_INIT_PROVIDERSTRING),
            "Driver={Microsoft Excel Driver (*.xls)};DriverId=790;");

  // The dialog's test sends the catalog even when it matches the path.
  auto t = JetSettings("/d/a.xls");
  t.catalogName = "/d/a";
  PropertySet set5;
  ExcelAdapter::BuildTestInitProperties(t, set5);
  EXPECT_EQ(*set5.FindText(oledb::DBPROP_INIT_CATALOG), "/d/a");
}

TEST_F(ConnectTest, UseDatabaseStripsThePathAndQuotesTheName) {
  ws_.source.SetSettings(TcpSettings("localhost"));
  Open(DataSourceSide::Source);
  ui_.ClearLines();
  fake_.script.failing = {"use `gone`;"};

  EXPECT_TRUE(UseDatabase(ws_, "C:\\data/x\\shop", 0));
  EXPECT_EQ(ws_.source.tree.CurrentDatabase(), "shop");
  EXPECT_TRUE(UseDatabase(ws_, "a`b`; drop database x; --", 0));
  EXPECT_EQ(ws_.source.tree.CurrentDatabase(), "a`b`; drop database x; --");
  EXPECT_FALSE(UseDatabase(ws_, "gone", 0));
  EXPECT_EQ(ws_.source.tree.CurrentDatabase(), "gone");  // recorded before it ran
  EXPECT_TRUE(UseDatabase(ws_, "ignored", 2));

  const auto statements = fake_.log.Statements();
  EXPECT_EQ(std::vector<std::string>(statements.end() - 3, statements.end()),
            (std::vector<std::string>{"use `shop`;", "use `a``b``; drop database x; --`;",
                                      "use `gone`;"}));
  EXPECT_TRUE(ui_.Texts().empty());  // reports nothing

  // No target session: false, and ExecuteStatement's own line.
  EXPECT_FALSE(UseDatabase(ws_, "shop", 1));
  EXPECT_TRUE(ui_.HasText("No Connection!"));
}

TEST_F(ConnectTest, ReopenDatabaseMovesTheTargetToAnotherWorkbook) {
  ws_.target.SetSettings(JetSettings("/data/old.xls"));
  Open(DataSourceSide::Target);
  ws_.target.tree.SetCurrentDatabase("/data/old");

  EXPECT_TRUE(ReopenDatabase(ws_, "shop", 1, fake_.Services()));
  EXPECT_TRUE(ws_.target.Connected());
  EXPECT_EQ(ws_.target.Settings().sourceName, "/data/shop.xls");
  EXPECT_EQ(ws_.target.Settings().catalogName, "/data/shop");
  EXPECT_EQ(ws_.target.tree.CurrentDatabase(), "/data/shop.xls");
  const PropertySet& init = fake_.log.initialized.back();
  EXPECT_EQ(*init.FindText(oledb::DBPROP_INIT_DATASOURCE), "/data/shop.xls");
  EXPECT_FALSE(init.Has(oledb::DBPROP_INIT_CATALOG));

  // A name that already holds ".xls" and a folder is taken as it is.
  EXPECT_TRUE(ReopenDatabase(ws_, "/other/book.xls", 1, fake_.Services()));
  EXPECT_EQ(ws_.target.Settings().sourceName, "/other/book.xls");

  // Another provider: the name becomes the catalog.
  ws_.source.SetSettings(TcpSettings("localhost"));
  ws_.target.tree.SetCurrentDatabase("");
  EXPECT_TRUE(ReopenDatabase(ws_, "sales", 0, fake_.Services()));
  EXPECT_EQ(ws_.source.Settings().catalogName, "sales");
  EXPECT_NE(fake_.log.initialized.back()
                .FindText(oledb::DBPROP_INIT_PROVIDERSTRING)
                ->find("Database=sales"),
            std::string::npos);

  // A failed reconnect is reported by Connect and the result is still true.
  fake_.script.initialize = [](const PropertySet&) { return hr::E_FAIL; };
  EXPECT_TRUE(ReopenDatabase(ws_, "x", 1, fake_.Services()));
  EXPECT_FALSE(ws_.target.Connected());
  EXPECT_EQ(ui_.CallsStartingWith("ask Ok: Target Connection error!").size(), 1u);
}

TEST(AdapterStubs, LaterOperationsSayTheyAreMissing) {
  testing::TempDir dir;
  ScriptedFrontend ui;
  Workspace ws(ui, dir.str());
  EXPECT_EQ(MySqlAdapter::GetViewDdl(ui, &ws.source.session, "d", "v"),
            "NO SUPPORT! No Views Supported in Excel!");
  EXPECT_TRUE(ExcelAdapter::DropView(ws, "v"));
  EXPECT_EQ(ExcelAdapter::BackupView(ui, nullptr, "d", "v"), "");
  EXPECT_EQ(ExcelAdapter::QueryServerVersion(ui, nullptr), "No Connection!");
}

}  // namespace
}  // namespace migrator
