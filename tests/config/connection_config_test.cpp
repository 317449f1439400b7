// The configuration dialog's logic over temporary ODBC files, real workbooks
// and, when it runs, the private MariaDB server.

#include "config/connection_config.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "app/scripted_frontend.h"
#include "app/workspace.h"
#include "testlib/testlib.h"

namespace migrator {
namespace {

namespace fs = std::filesystem;
using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;
constexpr DataSourceSide kSource = DataSourceSide::Source;
constexpr DataSourceSide kTarget = DataSourceSide::Target;

bool IsWorkbook(const fs::path& p) {
  return ReadFile(p).rfind("\xD0\xCF\x11\xE0", 0) == 0;  // the compound-file signature
}

class ConfigDialog : public ::testing::Test {
 protected:
  ConfigDialog() : ws_(ui_, (dir_ / "prog").string()) {
    fs::create_directories(dir_ / "prog");
    fs::create_directories(dir_ / "etc");
    services_ = DefaultConnectionConfigServices();
    services_.drivers.systemDriverFile = (dir_ / "etc/odbcinst.ini").string();
    services_.drivers.userDriverFile = (dir_ / "home/.odbcinst.ini").string();
    services_.drivers.systemDataSourceFile = (dir_ / "etc/odbc.ini").string();
    services_.drivers.userDataSourceFile = (dir_ / "home/.odbc.ini").string();
    WriteFile(dir_ / "etc/odbcinst.ini",
              "[MariaDB Unicode]\nDriver=/usr/lib/libmaodbc.so\n[PostgreSQL]\nDriver=psql.so\n");
    WriteFile(dir_ / "etc/odbc.ini",
              "[shop]\nDriver=MariaDB Unicode\nServer=db\n"
              "[Legacy]\nDriver = MySQL ODBC 3.51 Driver\n"
              "[byPath]\nDriver=/usr/lib/libmaodbc.so\n"
              "[pg]\nDriver=PostgreSQL\n"
              "[ODBC Data Sources]\nlisted=MySQL ODBC 5.1 Driver\n[listed]\nServer=x\n");
  }
  std::string Prog(const std::string& name) const { return (dir_ / "prog" / name).string(); }

  TempDir dir_;
  ScriptedFrontend ui_;
  Workspace ws_;
  ConnectionConfigServices services_;
};

TEST_F(ConfigDialog, OpensWithEachSidesListsAndKeepsTheSourceNameOfTheFile) {
  ConnectionConfig dlg(ws_, services_);
  dlg.Open();
  // No file: the first provider of each sorted list, nothing else touched.
  EXPECT_EQ(dlg.lists(kSource).providers,
            (std::vector<std::string>{"Microsoft OLE DB Provider for ODBC Divers", "TCP/IP:Port"}));
  EXPECT_EQ(dlg.form().source.provider, "Microsoft OLE DB Provider for ODBC Divers");
  EXPECT_EQ(dlg.lists(kSource).sourceNames,
            (std::vector<std::string>{"byPath", "Legacy", "listed", "shop"}));
  EXPECT_EQ(dlg.form().source.sourceName, "byPath");
  EXPECT_EQ(dlg.lists(kTarget).providers.front(), "Driver do Microsoft Excel");
  EXPECT_EQ(dlg.form().target.provider, "Driver do Microsoft Excel");
  EXPECT_TRUE(dlg.lists(kTarget).sourceNames.empty());  // no Excel driver here
  EXPECT_FALSE(dlg.form().config || dlg.form().tips || dlg.form().autoBackup);
  EXPECT_TRUE(ui_.Calls().empty()) << ::testing::PrintToString(ui_.Calls());

  dlg.ChangeProvider(kSource, "TCP/IP:Port");
  EXPECT_EQ(dlg.lists(kSource).sourceNameLabel, "Server:Port");
  EXPECT_EQ(dlg.form().source.sourceName, "127.0.0.1");
  EXPECT_TRUE(dlg.lists(kSource).sourceNames.empty());
  dlg.SetTips(true);
  EXPECT_TRUE(ui_.HasCall("tips-tab: on"));

  // A file: its provider is found without regard to case, its source name
  // wins over the proposed one, and the Tips tab follows its option.
  WriteFile(Prog("migrator.cfg"),
            "[Public]\nConfig=true\nTips=false\n[SourceDB]\nProvider=tcp/ip:port\n"
            "SourceName=DB.example:3307\nUserID=Me\nPassWord=p\nCatalogName=Shop\n"
            "[TargetDB]\nProvider=nothing we know\n");
  ConnectionConfig again(ws_, services_);
  again.Open();
  EXPECT_TRUE(ui_.HasCall("tips-tab: off"));
  EXPECT_EQ(again.form().source,
            (ConnectionFields{"TCP/IP:Port", "DB.example:3307", "Me", "p", "Shop"}));
  EXPECT_EQ(again.lists(kSource).sourceNameLabel, "Server:Port");
  EXPECT_EQ(again.form().target.provider, "Driver do Microsoft Excel");
  // Opening never proposes a workbook.
  EXPECT_FALSE(fs::exists(Prog("Excel_New.xls")));
}

TEST_F(ConfigDialog, TheProposedWorkbookNeverReplacesWhatIsThereAndChoosersTakeNewNames) {
  ConnectionConfig dlg(ws_, services_);
  dlg.Open();
  dlg.ChangeProvider(kTarget, "Microsoft Jet 4.0 OLE DB Provider");
  EXPECT_EQ(dlg.form().target.sourceName, Prog("Excel_New.xls"));
  EXPECT_EQ(dlg.lists(kTarget).sourceNames, std::vector<std::string>{Prog("Excel_New.xls")});
  EXPECT_TRUE(IsWorkbook(Prog("Excel_New.xls")));

  // A folder of that name, and then a file of the next name, are the person's.
  fs::remove(Prog("Excel_New.xls"));
  fs::create_directories(Prog("Excel_New.xls"));
  WriteFile(Prog("Excel_New.xls/keep.txt"), "mine");
  dlg.ChangeProvider(kTarget, "Microsoft Jet 3.51 OLE DB Provider");
  EXPECT_EQ(ReadFile(Prog("Excel_New.xls/keep.txt")), "mine");
  EXPECT_EQ(dlg.form().target.sourceName, Prog("Excel_New_2.xls"));
  EXPECT_TRUE(IsWorkbook(Prog("Excel_New_2.xls")));
  WriteFile(Prog("Excel_New_2.xls"), "not a workbook");
  dlg.ChangeProvider(kTarget, "Microsoft Jet 4.0 OLE DB Provider");
  EXPECT_EQ(dlg.form().target.sourceName, Prog("Excel_New_2.xls"));
  EXPECT_EQ(ReadFile(Prog("Excel_New_2.xls")), "not a workbook");

  // The chooser takes a new name (created as an empty workbook) or an
  // existing file, and selects it; cancelling changes nothing.
  dlg.form().target.catalogName = "old";
  ui_.QueueFile((dir_ / "Fresh").string());
  EXPECT_TRUE(dlg.OpenSourceNameList(kTarget));
  EXPECT_TRUE(IsWorkbook(dir_ / "Fresh.xls"));
  EXPECT_EQ(dlg.form().target.sourceName, (dir_ / "Fresh.xls").string());
  EXPECT_EQ(dlg.form().target.catalogName, "");
  EXPECT_TRUE(ui_.HasCall("open-file: Open the database file @" + Prog("")));
  EXPECT_TRUE(dlg.OpenSourceNameList(kTarget));  // cancelled
  EXPECT_EQ(dlg.form().target.sourceName, (dir_ / "Fresh.xls").string());
  EXPECT_TRUE(ui_.HasCall("open-file: Open the database file @" + dir_.str() + "/"));
  // An existing workbook is taken as it is, whatever the case of its
  // extension: no "Book.XLS.xls" is made beside it.
  WriteFile(dir_ / "Book.XLS", "the person's workbook");
  ui_.QueueFile((dir_ / "Book.XLS").string());
  EXPECT_TRUE(dlg.OpenSourceNameList(kTarget));
  EXPECT_EQ(dlg.form().target.sourceName, (dir_ / "Book.XLS").string());
  EXPECT_FALSE(fs::exists(dir_ / "Book.XLS.xls"));
  EXPECT_EQ(ReadFile(dir_ / "Book.XLS"), "the person's workbook");

  // Catalog Name's chooser: only for a file kind and a provider other than
  // the workbook provider; it clears the source name.
  EXPECT_FALSE(dlg.ChooseCatalogFile(kTarget));
  EXPECT_FALSE(dlg.ChooseCatalogFile(kSource));
  dlg.ChangeProvider(kTarget, "Microsoft Excel Driver");
  EXPECT_FALSE(dlg.OpenSourceNameList(kTarget));
  dlg.form().target.sourceName = "some dsn";
  ui_.QueueFile("/data/b.xls");
  EXPECT_TRUE(dlg.ChooseCatalogFile(kTarget));
  EXPECT_EQ(dlg.form().target.catalogName, "/data/b.xls");
  EXPECT_EQ(dlg.form().target.sourceName, "");
}

TEST_F(ConfigDialog, TestUsesTheEditedFieldsAndConnectHandsThemOverAsTyped) {
  ConnectionConfig dlg(ws_, services_);
  dlg.Open();
  dlg.ChangeProvider(kTarget, "Microsoft Jet 4.0 OLE DB Provider");
  dlg.form().config = true;
  dlg.form().autoBackup = true;
  dlg.form().source = {"TCP/IP:Port", "Db.Example:3307", "Me", "Se;cr}et-4711", "Shop"};
  dlg.SaveConfig();
  EXPECT_TRUE(ui_.HasCall("ask Ok: The Config Infomation saved successfully!"));

  // The edited (unsaved) fields: a data source that is not there, and a
  // workbook that is not there.
  dlg.form().target.sourceName = (dir_ / "missing.xls").string();
  dlg.form().source.provider = "Microsoft OLE DB Provider for ODBC Divers";
  dlg.form().source.sourceName = "nowhere";
  ui_.ClearCalls();
  dlg.TestConnections();
  auto asks = ui_.CallsStartingWith("ask");
  ASSERT_EQ(asks.size(), 2u) << ::testing::PrintToString(ui_.Calls());
  EXPECT_EQ(asks[0].rfind("ask Ok: Source DB Connect ERROR!\n", 0), 0u) << asks[0];
  EXPECT_NE(asks[0].find("Data source name not found"), std::string::npos) << asks[0];
  EXPECT_EQ(asks[1].rfind("ask Ok: Target DB Connect ERROR!\n", 0), 0u) << asks[1];
  EXPECT_NE(asks[1].find("missing.xls"), std::string::npos) << asks[1];
  dlg.form().source.sourceName = "";
  dlg.form().target.sourceName = Prog("Excel_New.xls");
  ui_.ClearCalls();
  dlg.TestConnections();
  asks = ui_.CallsStartingWith("ask");
  ASSERT_EQ(asks.size(), 2u);
  EXPECT_EQ(asks[1], "ask Ok: Target Connection Successful!");
  EXPECT_FALSE(ws_.target.Connected());

  // Connect: saved as typed, handed over as typed, Connect posted.
  dlg.form().source = {"TCP/IP:Port", "Db.Example:3307", "Me", "Se;cr}et-4711", "Shop"};
  ui_.SetCurrentTab(kLogTab);
  dlg.Connect();
  const ConnectionSettings s = ws_.source.Settings();
  EXPECT_EQ(s.providerText, "TCP/IP:Port");
  EXPECT_EQ(s.providerId, "MSDASQL");
  EXPECT_EQ(s.sourceName, "Db.Example:3307");
  EXPECT_EQ(s.catalogName, "Shop");
  EXPECT_EQ(s.password, "Se;cr}et-4711");
  EXPECT_EQ(ws_.target.Settings().providerId, "Microsoft.Jet.OLEDB.4.0");
  EXPECT_EQ(ws_.target.Settings().sourceName, Prog("Excel_New.xls"));
  EXPECT_TRUE(ws_.AutoBackup());
  EXPECT_EQ(ui_.PostedCommands(), std::vector<int>{ConnectionConfig::kConnectCommand});
  EXPECT_EQ(ui_.CurrentTab(), int(kTaskListTab));
  ConfigForm saved;
  ConfigFile(Prog("")).LoadOptions(saved, ui_);
  EXPECT_EQ(saved.source, dlg.form().source);
  struct stat st {};
  ASSERT_EQ(stat(Prog("migrator.cfg").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  for (const auto& text : ui_.Texts())
    EXPECT_EQ(text.find("Se;cr}et"), std::string::npos) << text;
}

TEST_F(ConfigDialog, SourceTestAgainstTheServerReportsTheProvidersText) {
  MIGRATOR_REQUIRE_MYSQL(server);
  ConnectionConfig dlg(ws_, services_);
  dlg.Open();
  dlg.ChangeProvider(kSource, "TCP/IP:Port");
  dlg.form().source.sourceName = server.host + ":" + server.port;
  dlg.form().source.userId = server.user;
  dlg.form().source.password = server.password;
  dlg.form().target.sourceName = "";
  dlg.TestConnections();
  EXPECT_TRUE(ui_.HasCall("ask Ok: Source Connection Successful!"))
      << ::testing::PrintToString(ui_.Calls());

  // A wrong password: the provider's own words, never the password.
  dlg.form().source.password = server.password + "-wrong";
  ui_.ClearCalls();
  dlg.TestConnections();
  bool denied = false;
  for (const auto& ask : ui_.CallsStartingWith("ask")) {
    denied = denied || ask.find("Access denied") != std::string::npos;
    EXPECT_EQ(ask.find(server.password), std::string::npos) << ask;
  }
  EXPECT_TRUE(denied) << ::testing::PrintToString(ui_.Calls());
  EXPECT_FALSE(ui_.HasCall("ask Ok: Source Connection Successful!"));
  EXPECT_EQ(ui_.LineCount(), 0u);  // the test writes nothing to the output pane
}

}  // namespace
}  // namespace migrator
