// The driver check over temporary driver files and library directories.

#include "config/driver_check.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "app/scripted_frontend.h"
#include "testlib/testlib.h"

namespace migrator {
namespace {

namespace fs = std::filesystem;
using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

class DriverCheck : public ::testing::Test {
 protected:
  DriverCheck() {
    fs::create_directories(dir_ / "etc");
    fs::create_directories(dir_ / "home");
    fs::create_directories(dir_ / "lib");
    fs::create_directories(dir_ / "lib/odbc");
    env_.systemDriverFile = (dir_ / "etc/odbcinst.ini").string();
    env_.userDriverFile = (dir_ / "home/.odbcinst.ini").string();
    env_.libraryDirs = {(dir_ / "lib").string(), (dir_ / "lib/odbc").string()};
    env_.odbcProviderLibrary = "libodbc.so.2";
    env_.variables = std::map<std::string, std::string>{};
    Lib("lib/libodbc.so.2");
  }
  std::string Lib(const std::string& rel) {
    WriteFile(dir_ / rel, "ELF");
    return (dir_ / rel).string();
  }
  void System(const std::string& text) { WriteFile(env_.systemDriverFile, text); }

  TempDir dir_;
  DriverCheckEnvironment env_;
};

TEST_F(DriverCheck, OnlyTheSecondOfTwoMySqlDriversIsUsable) {
  const std::string lib = Lib("lib/odbc/libmyodbc5w.so");
  System(
      "[ODBC]\nTrace=No\n\n"
      "[MySQL ODBC 5.1 Driver]\nDriver=/nowhere/libmyodbc5.so\nSetup=/nowhere/libmyodbc5S.so\n\n"
      "[PostgreSQL]\nDriver=libpsqlodbcw.so\n\n"
      "[MySQL ODBC 8.0 Unicode Driver]\nDriver = " +
      lib + "\nSetup=libmyodbc5w.so\n");
  const std::string probe = SourceProbe(env_);
  EXPECT_EQ(probe,
            "Microsoft OLE DB Provider for ODBC Drivers|Installed|Usable|"
            "MySQL ODBC 5.1 Driver|Installed|Unusable|"
            "MySQL ODBC 8.0 Unicode Driver|Installed|Usable|");
  const auto rows = CheckDialogSourceRows(probe);
  ASSERT_EQ(rows.size(), 4u);
  EXPECT_EQ(rows.back(), (ProbeRow{"TCP/IP:Port", "N/A", "Usable"}));
  EXPECT_EQ(MySqlDriverProbe(1, env_), "");
  EXPECT_EQ(MySqlDriverProbe(2, env_), "MySQL ODBC 8.0 Unicode Driver");
  EXPECT_EQ(MySqlDriverProbe(3, env_), "");
  EXPECT_EQ(MySqlDriverProbe(0, env_), "");
}

TEST_F(DriverCheck, MissingDriverManagerShowsOnlyTheProviderRow) {
  fs::remove(dir_ / "lib/libodbc.so.2");
  System("[MariaDB Unicode]\nDriver=libmaodbc.so\n");
  Lib("lib/odbc/libmaodbc.so");
  const std::string probe = SourceProbe(env_);
  EXPECT_EQ(probe, "Microsoft OLE DB Provider for ODBC Drivers|Installed|Unusable|");
  const auto rows = CheckDialogSourceRows(probe);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[1], (ProbeRow{"TCP/IP:Port", "N/A", "Unusable"}));
  // The target side stops after the ODBC provider as well.
  EXPECT_EQ(TargetProbe(env_),
            "Microsoft Jet 4.0 OLE DB Provider|Installed|Usable|"
            "Microsoft OLE DB Provider for ODBC Drivers|Installed|Unusable|");
}

TEST_F(DriverCheck, NoMySqlDriverGivesTheFallbackRowAndAnUnusableTcpRow) {
  System("[PostgreSQL Unicode]\nDriver=psqlodbcw.so\n");
  const std::string probe = SourceProbe(env_);
  EXPECT_EQ(probe,
            "Microsoft OLE DB Provider for ODBC Drivers|Installed|Usable|"
            "MySQL ODBC Driver|Not installed|Unusable|");
  // The provider row alone does not make TCP/IP:Port usable.
  EXPECT_EQ(CheckDialogSourceRows(probe).back().usability, "Unusable");
  EXPECT_EQ(MySqlDriverProbe(1, env_), "");
  EXPECT_EQ(TargetProbe(env_),
            "Microsoft Jet 4.0 OLE DB Provider|Installed|Usable|"
            "Microsoft OLE DB Provider for ODBC Drivers|Installed|Usable|"
            "Microsoft Access Driver|Not installed|Unusable|");
}

TEST_F(DriverCheck, MissingDriverFilesGiveNoDrivers) {
  EXPECT_TRUE(InstalledOdbcDrivers(env_).empty());
  EXPECT_EQ(MySqlDriverProbe(1, env_), "");
  env_.odbcProviderInstalled = false;
  EXPECT_EQ(SourceProbe(env_),
            "Microsoft OLE DB Provider for ODBC Drivers|Not Installed|Unusable|");
}

TEST_F(DriverCheck, BareNamesResolveInTheLibraryDirectoriesAndSetupIsOptional) {
  Lib("lib/odbc/libmaodbc.so");
  System(
      "[MariaDB Unicode]\nDriver=libmaodbc.so\nDescription=MariaDB Connector/ODBC\n"
      "[MariaDB Setup Missing]\nDriver=libmaodbc.so\nsetup=libmaodbcS.so\n"
      "[MariaDB Directory]\nDriver=" +
      (dir_ / "lib").string() +
      "\n"
      "[mysql odbc lower case]\nDriver=libmaodbc.so\n"
      "[MariaDB Empty]\n");
  EXPECT_EQ(SourceProbe(env_),
            "Microsoft OLE DB Provider for ODBC Drivers|Installed|Usable|"
            "MariaDB Unicode|Installed|Usable|"
            "MariaDB Setup Missing|Installed|Unusable|"
            "MariaDB Directory|Installed|Unusable|"
            "MariaDB Empty|Installed|Unusable|");
  EXPECT_EQ(MySqlDriverProbe(1, env_), "MariaDB Unicode");
  EXPECT_EQ(MySqlDriverProbe(2, env_), "");
  EXPECT_EQ(ResolveLibrary("libmaodbc.so", env_), (dir_ / "lib/odbc/libmaodbc.so").string());
  EXPECT_EQ(ResolveLibrary("libnothere.so", env_), "");
}

TEST_F(DriverCheck, UserDriverFileIsReadAfterTheSystemFile) {
  const std::string lib = Lib("lib/libmaodbc.so");
  System("[ODBC]\nTrace=Yes\n[MariaDB]\nDriver=/missing.so\n");
  WriteFile(env_.userDriverFile, "; my drivers\n[mariadb]\nDriver=" + lib +
                                     "\n[MySQL ODBC 3.51 Driver]\nDriver=" + lib + "\n");
  const auto drivers = InstalledOdbcDrivers(env_);
  ASSERT_EQ(drivers.size(), 2u);
  EXPECT_EQ(drivers[0].name, "MariaDB");  // the system file's entry wins
  EXPECT_EQ(drivers[1].name, "MySQL ODBC 3.51 Driver");
  EXPECT_EQ(MySqlDriverProbe(1, env_), "");
  EXPECT_EQ(MySqlDriverProbe(2, env_), "MySQL ODBC 3.51 Driver");
}

TEST_F(DriverCheck, PercentReferencesAreExpandedOnce) {
  env_.variables = std::map<std::string, std::string>{
      {"SystemRoot", (dir_ / "lib").string()}, {"LOOP", "%LOOP%"}, {"A", "x"}};
  EXPECT_EQ(ExpandEnvironmentRefs("%SystemRoot%/odbc/a.so", env_),
            (dir_ / "lib").string() + "/odbc/a.so");
  EXPECT_EQ(ExpandEnvironmentRefs("%A%-%A%-%UNSET%.", env_), "x-x-.");
  EXPECT_EQ(ExpandEnvironmentRefs("%LOOP%", env_), "%LOOP%");
  EXPECT_EQ(ExpandEnvironmentRefs("50% of %A%", env_), "50A%");
  EXPECT_EQ(ExpandEnvironmentRefs("lone %", env_), "lone %");

  const std::string lib = Lib("lib/odbc/myodbc.so");
  System("[MySQL ODBC 5.3 Driver]\nDriver=%SystemRoot%/odbc/myodbc.so\n");
  EXPECT_EQ(MySqlDriverProbe(1, env_), "MySQL ODBC 5.3 Driver");
}

TEST_F(DriverCheck, ProcessEnvironmentFollowsUnixOdbcRules) {
  testing::ScopedEnv sys("ODBCSYSINI", (dir_ / "etc").string());
  testing::ScopedEnv name("ODBCINSTINI", "drivers.ini");
  testing::ScopedEnv home("HOME", (dir_ / "home").string());
  auto env = DriverCheckEnvironment::FromProcess();
  EXPECT_EQ(env.systemDriverFile, (dir_ / "etc/drivers.ini").string());
  EXPECT_EQ(env.userDriverFile, (dir_ / "home/.odbcinst.ini").string());
  ASSERT_FALSE(env.libraryDirs.empty());
  testing::ScopedEnv ldPath("LD_LIBRARY_PATH", (dir_ / "lib").string() + ":/opt/x");
  env = DriverCheckEnvironment::FromProcess();
  EXPECT_EQ(env.libraryDirs[0], (dir_ / "lib").string());
  EXPECT_EQ(env.libraryDirs[1], "/opt/x");

  testing::ScopedEnv unset("ODBCSYSINI", std::nullopt);
  testing::ScopedEnv unset2("ODBCINSTINI", std::nullopt);
  EXPECT_EQ(DriverCheckEnvironment::FromProcess().systemDriverFile, "/etc/odbcinst.ini");
}

TEST(DriverRows, ParseAndNameRules) {
  EXPECT_EQ(ParseProbeRows("a|b|c|d|e|f|g|"),
            (std::vector<ProbeRow>{{"a", "b", "c"}, {"d", "e", "f"}}));
  EXPECT_TRUE(ParseProbeRows("").empty());
  EXPECT_TRUE(IsMySqlDriverName("MySQL ODBC 8.0 ANSI Driver"));
  EXPECT_TRUE(IsMySqlDriverName("MariaDB Unicode"));
  EXPECT_FALSE(IsMySqlDriverName("mysql odbc"));
  EXPECT_FALSE(IsMySqlDriverName("MySQL"));
}

// Installing from the package folder.
class DriverInstall : public DriverCheck {
 protected:
  DriverInstall() {
    fs::create_directories(dir_ / "pkg");
    fs::create_directories(dir_ / "dest");
    WriteFile(dir_ / "pkg/libmyodbc3.so", "driver");
    WriteFile(dir_ / "pkg/libmyodbc3S.so", "setup");
  }
  std::string Pkg() const { return (dir_ / "pkg").string(); }
  std::string Dest() const { return (dir_ / "dest").string(); }
  ScriptedFrontend ui_;
};

TEST_F(DriverInstall, CancellingTheFolderChangesNothingAndReopensTheCheck) {
  ui_.QueueFolder(std::nullopt);
  const auto out = InstallMySqlOdbcDriver(ui_, Pkg(), env_);
  EXPECT_FALSE(out.installed);
  EXPECT_FALSE(out.closeDialog);
  EXPECT_TRUE(out.reopened);
  EXPECT_FALSE(fs::exists(env_.userDriverFile));
  EXPECT_TRUE(fs::is_empty(dir_ / "dest"));
  EXPECT_EQ(ui_.Calls(),
            (std::vector<std::string>{"folder: Please choise install directory:", "post: 32793"}));
}

TEST_F(DriverInstall, MissingPackageClosesWithoutMessage) {
  fs::remove(dir_ / "pkg/libmyodbc3S.so");
  ui_.QueueFolder(Dest());
  const auto out = InstallMySqlOdbcDriver(ui_, Pkg(), env_);
  EXPECT_FALSE(out.installed);
  EXPECT_TRUE(out.closeDialog);
  EXPECT_TRUE(ui_.CallsStartingWith("ask").empty());
  EXPECT_TRUE(ui_.HasCall("post: 32793"));
  EXPECT_FALSE(fs::exists(env_.userDriverFile));
}

TEST_F(DriverInstall, RegistersInTheUserFileKeepingWhatIsThere) {
  WriteFile(env_.userDriverFile,
            "# mine\n[MariaDB Unicode]\nDriver=libmaodbc.so\n\n[MySQL ODBC 3.51 driver]\n"
            "Description=old\nDRIVER=/old/path.so\n\n[Other]\nDriver=x.so\n");
  fs::permissions(env_.userDriverFile, fs::perms(0600));
  WriteFile(dir_ / "dest/libmyodbc3S.so", "kept");
  ui_.QueueFolder(Dest());
  const auto out = InstallMySqlOdbcDriver(ui_, Pkg(), env_);
  EXPECT_TRUE(out.installed);
  EXPECT_TRUE(out.closeDialog);
  EXPECT_TRUE(ui_.HasCall("ask Ok: MySQL ODBC 3.51 Driver installed successfully!"));
  EXPECT_EQ(ReadFile(dir_ / "dest/libmyodbc3.so"), "driver");
  EXPECT_EQ(ReadFile(dir_ / "dest/libmyodbc3S.so"), "kept");  // not overwritten
  EXPECT_EQ(ReadFile(env_.userDriverFile),
            "# mine\n[MariaDB Unicode]\nDriver=libmaodbc.so\n\n[MySQL ODBC 3.51 driver]\n"
            "Description=old\nDRIVER=" +
                Dest() + "/libmyodbc3.so\nSetup=" + Dest() +
                "/libmyodbc3S.so\nUsageCount=2\n\n[Other]\nDriver=x.so\n");
  EXPECT_EQ(fs::status(env_.userDriverFile).permissions() & fs::perms::all, fs::perms(0600));
  EXPECT_EQ(MySqlDriverProbe(1, env_), "");  // MariaDB Unicode: no such library here
  EXPECT_EQ(MySqlDriverProbe(2, env_), "MySQL ODBC 3.51 driver");
}

TEST_F(DriverInstall, NewUserFileAndWriteFailure) {
  ui_.QueueFolder(Dest());
  ASSERT_TRUE(InstallMySqlOdbcDriver(ui_, Pkg(), env_).installed);
  EXPECT_EQ(ReadFile(env_.userDriverFile), "[MySQL ODBC 3.51 Driver]\nDriver=" + Dest() +
                                               "/libmyodbc3.so\nSetup=" + Dest() +
                                               "/libmyodbc3S.so\nUsageCount=2\n");

  // The user file's directory is a file: nothing can be written.
  WriteFile(dir_ / "blocker", "");
  env_.userDriverFile = (dir_ / "blocker/.odbcinst.ini").string();
  ScriptedFrontend ui2;
  ui2.QueueFolder(Dest());
  const auto out = InstallMySqlOdbcDriver(ui2, Pkg(), env_);
  EXPECT_FALSE(out.installed);
  EXPECT_FALSE(out.closeDialog);
  EXPECT_FALSE(out.reopened);
  EXPECT_TRUE(ui2.HasCall("ask Ok: Write Register Error!"));
  EXPECT_TRUE(ui2.CallsStartingWith("post").empty());

  // A line break in the folder cannot add lines to the driver file.
  ScriptedFrontend ui3;
  fs::create_directories(dir_ / "bad\n[x]");
  ui3.QueueFolder((dir_ / "bad\n[x]").string());
  env_.userDriverFile = (dir_ / "home/.odbcinst.ini").string();
  EXPECT_FALSE(InstallMySqlOdbcDriver(ui3, Pkg(), env_).installed);
  EXPECT_TRUE(ui3.HasCall("ask Ok: Registering, Driver Error!"));
  EXPECT_EQ(ReadFile(env_.userDriverFile).find("[x]"), std::string::npos);
  // The folder is refused before anything is copied into it; so are a
  // relative folder and one that does not exist.
  EXPECT_TRUE(fs::is_empty(dir_ / "bad\n[x]"));
  for (const std::string& bad : {std::string("dest"), (dir_ / "missing").string()}) {
    ScriptedFrontend ui4;
    ui4.QueueFolder(bad);
    EXPECT_FALSE(InstallMySqlOdbcDriver(ui4, Pkg(), env_).installed);
    EXPECT_TRUE(ui4.HasCall("ask Ok: Registering, Driver Error!"));
  }
  EXPECT_FALSE(fs::exists(dir_ / "missing"));
}

}  // namespace
}  // namespace migrator
