// The program directory and the working-directory steps, and names from a
// server that must not lead out of the directory meant for them.

#include "platform/working_directory.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "platform/program_dir.h"
#include "testlib/testlib.h"

namespace migrator {
namespace {

namespace fs = std::filesystem;
using testing::ScopedEnv;
using testing::TempDir;

TEST(ProgramDirectory, IsTheExecutablesDirectoryUnlessMigratorHomeIsSet) {
  {
    ScopedEnv home("MIGRATOR_HOME", std::nullopt);
    EXPECT_EQ(ProgramDirectory(), fs::read_symlink("/proc/self/exe").parent_path().string());
  }
  {
    ScopedEnv home("MIGRATOR_HOME", "/tmp/some/where/");
    EXPECT_EQ(ProgramDirectory(), "/tmp/some/where");
  }
  {
    ScopedEnv home("MIGRATOR_HOME", "");
    EXPECT_EQ(ProgramDirectory(), fs::read_symlink("/proc/self/exe").parent_path().string());
  }
}

mode_t Mode(const fs::path& p) {
  struct stat st {};
  return ::stat(p.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

// An installed executable never gets files beside it: its directory is the
// user's, made private when missing; a build tree keeps today's behaviour.
TEST(ProgramDirectory, InstalledCopyUsesThePrivateUserDirectoryAndABuildItsOwn) {
  TempDir t;
  fs::create_directories(t / "usr/bin");
  const fs::path installed = t / "usr/bin/migrator";
  ScopedEnv migratorHome("MIGRATOR_HOME", std::nullopt);
  ScopedEnv home("HOME", (t / "home").string());
  {
    ScopedEnv xdg("XDG_DATA_HOME", (t / "xdg").string());
    EXPECT_EQ(ProgramDirectoryFor(installed), (t / "xdg/migrator").string());
    EXPECT_EQ(Mode(t / "xdg"), 0700u);
    EXPECT_EQ(Mode(t / "xdg/migrator"), 0700u);
  }
  {
    // A relative XDG_DATA_HOME is not a base directory: the default applies,
    // every directory made on the way is private.
    ScopedEnv xdg("XDG_DATA_HOME", "relative/data");
    EXPECT_EQ(ProgramDirectoryFor(installed), (t / "home/.local/share/migrator").string());
    EXPECT_EQ(Mode(t / "home"), 0700u);
    EXPECT_EQ(Mode(t / "home/.local/share/migrator"), 0700u);
  }
  {
    // A directory the user made already keeps its permissions.
    ScopedEnv xdg("XDG_DATA_HOME", (t / "open").string());
    fs::create_directories(t / "open/migrator");
    ::chmod((t / "open/migrator").c_str(), 0750);
    EXPECT_EQ(ProgramDirectoryFor(installed), (t / "open/migrator").string());
    EXPECT_EQ(Mode(t / "open/migrator"), 0750u);
  }
  {
    ScopedEnv set("MIGRATOR_HOME", (t / "elsewhere").string());
    EXPECT_EQ(ProgramDirectoryFor(installed), (t / "elsewhere").string());
    EXPECT_FALSE(fs::exists(t / "elsewhere"));
  }
  EXPECT_TRUE(fs::is_empty(t / "usr/bin"));

  // The marker at the top of a build tree covers the directories below it.
  fs::create_directories(t / "build/tests");
  testing::WriteFile(t / "build" / kBuildTreeMarker, "");
  EXPECT_TRUE(RunsFromBuildTree(t / "build/tests/test_x"));
  EXPECT_FALSE(RunsFromBuildTree(installed));
  EXPECT_EQ(ProgramDirectoryFor(t / "build/tests/test_x"), (t / "build/tests").string());
  EXPECT_TRUE(RunsFromBuildTree(fs::read_symlink("/proc/self/exe")));

  // The guide: beside a built program, in the documentation directory of an
  // installed one (named there when it is missing, not in the program
  // directory), in the program directory of a copied one.
  const std::string programDir = (t / "elsewhere").string();
  const fs::path doc = t / "usr/share/doc/migrator/manual/index.html";
  EXPECT_EQ(ManualIndexFor(installed, programDir), doc.string());
  fs::create_directories(t / "elsewhere/manual");
  testing::WriteFile(t / "elsewhere/manual/index.html", "");
  EXPECT_EQ(ManualIndexFor(installed, programDir), programDir + "/manual/index.html");
  fs::create_directories(doc.parent_path());
  testing::WriteFile(doc, "");
  EXPECT_EQ(ManualIndexFor(installed, programDir), doc.string());
  EXPECT_EQ(ManualIndexFor(t / "build/migrator", programDir), programDir + "/manual/index.html");
  fs::create_directories(t / "build/manual");
  testing::WriteFile(t / "build/manual/index.html", "");
  EXPECT_EQ(ManualIndexFor(t / "build/migrator", programDir),
            (t / "build/manual/index.html").string());
}

TEST(SafeFileName, ChangesOnlyNamesThatCouldLeaveTheDirectory) {
  struct Case {
    std::string in, out;
    bool changed;
  };
  const Case cases[] = {
      {"orders", "orders", false},
      {"orders.data", "orders.data", false},
      {"a.b.c", "a.b.c", false},
      {"中文表", "中文表", false},
      {".hidden", ".hidden", false},
      {"../../x", "______x", true},
      {"..", "__", true},
      {".", "_", true},
      {"...", "___", true},
      {"a..b", "a__b", true},
      {"a/b", "a_b", true},
      {"a\\b", "a_b", true},
      {std::string("a\0b", 3), "a_b", true},
      {"", "_", true},
  };
  for (const Case& c : cases) {
    const SafeName s = MakeSafeFileName(c.in);
    EXPECT_EQ(s.name, c.out) << c.in;
    EXPECT_EQ(s.changed, c.changed) << c.in;
  }
  const SafeName longName = MakeSafeFileName(std::string(254, 'a') + "中");
  EXPECT_EQ(longName.name, std::string(254, 'a'));
  EXPECT_TRUE(longName.changed);
}

TEST(WorkingDirectory, StepsCreateEnterReplaceFilesAndReturn) {
  TempDir root;
  WorkingDirectory wd(root.str() + "/./");
  EXPECT_EQ(wd.path(), root.str());

  // A file named like the directory is deleted and the directory made.
  testing::WriteFile(root / "data_cache", "in the way");
  auto step = wd.Step("data_cache");
  ASSERT_TRUE(step.ok()) << step.message();
  EXPECT_FALSE(step->changed);
  EXPECT_EQ(wd.path(), (root / "data_cache").string());
  EXPECT_TRUE(fs::is_directory(root / "data_cache"));

  // An existing directory is entered and its files kept.
  testing::WriteFile(root / "data_cache" / "TABLES", "");
  fs::remove(root / "data_cache" / "TABLES");
  fs::create_directory(root / "data_cache" / "TABLES");
  testing::WriteFile(root / "data_cache" / "TABLES" / "keep.tbl", "x");
  ASSERT_TRUE(wd.Step("TABLES").ok());
  EXPECT_TRUE(fs::exists(root / "data_cache" / "TABLES" / "keep.tbl"));
  wd.Up();
  wd.Up();
  EXPECT_EQ(wd.path(), root.str());

  // A link to a directory is followed; a dangling link is replaced.
  fs::create_directory(root / "elsewhere");
  fs::create_directory_symlink(root / "elsewhere", root / "backup");
  ASSERT_TRUE(wd.Step("backup").ok());
  EXPECT_TRUE(fs::is_symlink(root / "backup"));
  wd.Up();
  fs::create_symlink(root / "missing", root / "dangling");
  ASSERT_TRUE(wd.Step("dangling").ok());
  EXPECT_TRUE(fs::is_directory(fs::symlink_status(root / "dangling")));
  wd.Up();

  // Up at the root stays there.
  WorkingDirectory top("/");
  top.Up();
  EXPECT_EQ(top.path(), "/");

  // A step that cannot be taken changes nothing.
  ASSERT_EQ(chmod(root.path().c_str(), 0500), 0);
  if (geteuid() != 0) {
    EXPECT_FALSE(wd.Step("new_dir").ok());
    EXPECT_EQ(wd.path(), root.str());
  }
  ASSERT_EQ(chmod(root.path().c_str(), 0700), 0);
}

TEST(WorkingDirectory, NamesFromTheServerStayInsideTheDataDirectory) {
  TempDir root;
  WorkingDirectory wd(root.str());
  ASSERT_TRUE(wd.Step("data_cache").ok());
  for (const std::string table :
       {"../../x", "..", "../x", "/etc/passwd", "..\\..\\x", "a/../../b"}) {
    for (const std::string suffix : {"", ".data", ".vw"}) {
      const SafePath p = wd.File(table + suffix);
      EXPECT_TRUE(p.changed) << table;
      std::ofstream(p.path) << "rows";
      const fs::path made = fs::canonical(p.path);
      EXPECT_EQ(made.parent_path(), fs::canonical(root / "data_cache")) << table << suffix;
    }
    // A directory step with such a name stays inside too.
    WorkingDirectory copy = wd;
    auto step = copy.Step(table);
    ASSERT_TRUE(step.ok()) << table;
    EXPECT_TRUE(step->changed);
    EXPECT_EQ(fs::path(copy.path()).parent_path(), fs::path(wd.path()));
  }
  // Nothing was created beside the data directory.
  std::size_t entries = 0;
  for ([[maybe_unused]] const auto& e : fs::directory_iterator(root.path()))
    ++entries;
  EXPECT_EQ(entries, 1u);
}

}  // namespace
}  // namespace migrator
