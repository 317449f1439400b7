// The configuration file as the dialog uses it: the flag rule, loading,
// the two saves, long values, the file's mode, and what a save leaves untouched.

#include "config/config_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "app/scripted_frontend.h"
#include "testlib/testlib.h"

namespace migrator {
namespace {

using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

ConfigForm SampleForm() {
  ConfigForm f;
  f.config = true;
  f.tips = true;
  f.autoBackup = false;
  f.source = {"TCP/IP:Port", "127.0.0.1:3306", "Root", "pw;}x", "Shop"};
  f.target = {"Microsoft Jet 4.0 OLE DB Provider", "/data/Book.xls", "", "", ""};
  return f;
}

mode_t ModeOf(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 ? (st.st_mode & 0777) : 0;
}

TEST(ConfigFile, FlagIsASubstringTestForLowerCaseTrue) {
  EXPECT_TRUE(ConfigFlagIsOn("true"));
  EXPECT_TRUE(ConfigFlagIsOn("untrue!"));
  EXPECT_FALSE(ConfigFlagIsOn("false"));
  EXPECT_FALSE(ConfigFlagIsOn("TRUE"));
  EXPECT_FALSE(ConfigFlagIsOn("True"));
  EXPECT_FALSE(ConfigFlagIsOn(""));
}

TEST(ConfigFile, SaveConfigThenLoadGivesTheFormBack) {
  TempDir dir;
  ScriptedFrontend ui;
  const ConfigFile cfg(dir.str());
  EXPECT_EQ(cfg.path(), (dir / "migrator.cfg").string());
  ASSERT_TRUE(cfg.SaveConfig(SampleForm(), ui));
  EXPECT_TRUE(ui.HasCall("ask Ok: The Config Infomation saved successfully!"));
  EXPECT_EQ(ModeOf(cfg.path()), 0600u);
  EXPECT_EQ(ReadFile(cfg.path()),
            "[Public]\nConfig=true\nTips=true\nAutoBackup=false\n"
            "[SourceDB]\nProvider=TCP/IP:Port\nSourceName=127.0.0.1:3306\nUserID=Root\n"
            "PassWord=pw;}x\nCatalogName=Shop\n"
            "[TargetDB]\nProvider=Microsoft Jet 4.0 OLE DB Provider\nSourceName=/data/Book.xls\n"
            "UserID=\nPassWord=\nCatalogName=\n");

  ConfigForm loaded;
  ScriptedFrontend ui2;
  cfg.LoadOptions(loaded, ui2);
  EXPECT_EQ(loaded, SampleForm());
  EXPECT_EQ(ui2.Calls(), std::vector<std::string>{"tips-tab: on"});
}

TEST(ConfigFile, LongValuesComeBackWholeAndOldFilesReadTheSame) {
  TempDir dir;
  ScriptedFrontend ui;
  const ConfigFile cfg(dir.str());
  ConfigForm f = SampleForm();
  // A long password and a deep workbook path: 1,023 characters, some of them
  // wider than one byte, and more.
  f.source.password = std::string(60, 'a') + std::string(40, 'b');
  std::string path = "/data";
  while (path.size() < 1500)
    path += "/Übersicht-" + std::to_string(path.size());
  f.target.sourceName = path + "/Book.xls";
  f.target.catalogName = std::string(1023, 'c');
  ASSERT_TRUE(cfg.SaveConfig(f, ui));
  ConfigForm loaded;
  cfg.LoadOptions(loaded, ui);
  EXPECT_EQ(loaded, f);
  // A password with outer blanks or quotes reads back as typed.
  f.source.password = " 'quoted' ";
  ASSERT_TRUE(cfg.SaveOnConnect(f));
  ConfigForm again;
  cfg.LoadOptions(again, ui);
  EXPECT_EQ(again.source.password, " 'quoted' ");

  // A file written by hand (or by an older version) reads as it always did.
  WriteFile(cfg.path(),
            "[Public]\r\nConfig=true\r\n[SourceDB]\r\nProvider=TCP/IP:Port\r\n"
            "SourceName=127.0.0.1:3306\r\nUserID=root\r\nPassWord=secret\r\n");
  ConfigForm old;
  cfg.LoadOptions(old, ui);
  EXPECT_EQ(old.source, (ConnectionFields{"TCP/IP:Port", "127.0.0.1:3306", "root", "secret", ""}));
}

TEST(ConfigFile, AFileOthersCanReadIsNarrowedToItsOwnerWhenSaved) {
  TempDir dir;
  ScriptedFrontend ui;
  const ConfigFile cfg(dir.str());
  WriteFile(cfg.path(), "[Public]\nConfig=true\n");
  ASSERT_EQ(chmod(cfg.path().c_str(), 0664), 0);
  ASSERT_TRUE(cfg.SaveOnConnect(SampleForm()));
  EXPECT_EQ(ModeOf(cfg.path()), 0600u);
  // Also when the save changes nothing in the text.
  ASSERT_EQ(chmod(cfg.path().c_str(), 0644), 0);
  ASSERT_TRUE(cfg.SaveOnConnect(SampleForm()));
  EXPECT_EQ(ModeOf(cfg.path()), 0600u);
}

TEST(ConfigFile, ConfigOffSavesOnlyTheFlagAndKeepsTheSectionsByteForByte) {
  TempDir dir;
  ScriptedFrontend ui;
  const ConfigFile cfg(dir.str());
  const std::string sections =
      "[SourceDB]\r\nProvider = TCP/IP:Port\r\n; a note\r\nSourceName=db:3306\r\nPassWord=\"  "
      "x\"\r\n"
      "\r\n[TargetDB]\r\nSourceName=/w.xls\r\nstray line\r\n";
  WriteFile(cfg.path(), "[Public]\r\nConfig=true\r\nTips=true\r\nAutoBackup=true\r\n" + sections);
  ASSERT_EQ(chmod(cfg.path().c_str(), 0400), 0);

  ConfigForm off = SampleForm();
  off.config = false;
  off.tips = false;
  off.autoBackup = false;
  ASSERT_TRUE(cfg.SaveConfig(off, ui));
  // Tips and AutoBackup are not written by Save Config with Config off...
  EXPECT_EQ(ReadFile(cfg.path()),
            "[Public]\r\nConfig=false\r\nTips=true\r\nAutoBackup=true\r\n" + sections);
  EXPECT_EQ(ModeOf(cfg.path()), 0400u);  // a narrower mode is kept

  // ...and the connection properties are not loaded next time.
  ConfigForm loaded;
  ScriptedFrontend ui2;
  cfg.LoadOptions(loaded, ui2);
  EXPECT_FALSE(loaded.config);
  EXPECT_TRUE(loaded.autoBackup);
  EXPECT_TRUE(loaded.tips);
  EXPECT_EQ(loaded.source, ConnectionFields{});

  // Connect writes Tips and AutoBackup even with Config off.
  ASSERT_TRUE(cfg.SaveOnConnect(off));
  EXPECT_EQ(ReadFile(cfg.path()),
            "[Public]\r\nConfig=false\r\nTips=false\r\nAutoBackup=false\r\n" + sections);
  EXPECT_TRUE(ui.CallsStartingWith("ask").size() == 1u);  // Connect shows nothing
}

TEST(ConfigFile, ConnectSaveOrderInANewFile) {
  TempDir dir;
  const ConfigFile cfg(dir.str());
  ASSERT_TRUE(cfg.SaveOnConnect(SampleForm()));
  const std::string text = ReadFile(cfg.path());
  EXPECT_EQ(text.substr(0, text.find("[SourceDB]")),
            "[Public]\nTips=true\nAutoBackup=false\nConfig=true\n");
}

TEST(ConfigFile, MissingFileAndTheTipsTab) {
  TempDir dir;
  const ConfigFile cfg(dir.str());
  ScriptedFrontend ui;
  ConfigForm form;
  cfg.LoadOptions(form, ui);  // quietly nothing
  EXPECT_EQ(form, ConfigForm{});
  EXPECT_TRUE(ui.Calls().empty());

  // The properties asked for without a file: the Chinese message with the path.
  EXPECT_FALSE(cfg.LoadConnectionProperties(form, ui));
  EXPECT_TRUE(ui.HasCall("ask Ok: 找不到有效配置文件(" + cfg.path() + "),检查配置文件路径!"))
      << ::testing::PrintToString(ui.Calls());

  // Tips off in the file hides the tab; on shows it.
  WriteFile(cfg.path(), "[Public]\nTips=FALSE\n");
  ScriptedFrontend ui2;
  cfg.LoadOptions(form, ui2);
  EXPECT_FALSE(form.tips);
  EXPECT_TRUE(ui2.HasCall("tips-tab: off"));
  WriteFile(cfg.path(), "[Public]\nTips=true\n");
  ScriptedFrontend ui3;
  cfg.LoadOptions(form, ui3);
  EXPECT_TRUE(form.tips);
  EXPECT_TRUE(ui3.HasCall("tips-tab: on"));
}

TEST(ConfigFile, AFailedSaveIsNotReportedAsSuccess) {
  TempDir dir;
  ScriptedFrontend ui;
  const ConfigFile cfg((dir / "no-such-dir").string());
  EXPECT_FALSE(cfg.SaveConfig(SampleForm(), ui));
  const auto asks = ui.CallsStartingWith("ask");
  ASSERT_EQ(asks.size(), 1u);
  EXPECT_NE(asks[0].find("The Config Infomation can not be saved!"), std::string::npos);
  EXPECT_FALSE(cfg.SaveOnConnect(SampleForm()));
}

}  // namespace
}  // namespace migrator
