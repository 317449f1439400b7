// The profile layer: private-profile reading rules, in-place writes that keep
// everything else, values that read back as written, atomic and locked writes.

#include "support/profile_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <filesystem>
#include <thread>

#include "support/condition_file.h"
#include "testlib/testlib.h"

namespace migrator {
namespace {

namespace fs = std::filesystem;
using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

TEST(ProfileText, ReadsWithThePlatformRules) {
  const ProfileText t = ProfileText::Parse(
      "orphan=before any section\n"
      "[Public]\n"
      "  Config =  true  \n"
      "Quoted=\" padded \"\n"
      "Single='x'\n"
      "Mixed=\"x'\n"
      "Inner=\"\"two\"\"\n"
      "  ; Hidden=comment\n"
      "semi;colon=a ;not a comment\n"
      "bare line\n"
      "Dup=first\n"
      "dup=second\n"
      "[ Other ] trailing text\r\n"
      "k=v\r\n"
      "[public]\n"
      "Late=ignored\n");
  EXPECT_EQ(t.Get("public", "CONFIG"), "true");
  EXPECT_EQ(t.Get("  Public ", " config "), "true");  // spaces around names asked for
  EXPECT_EQ(t.Get("Public", "Quoted"), " padded ");
  EXPECT_EQ(t.Get("Public", "Single"), "x");
  EXPECT_EQ(t.Get("Public", "Mixed"), "\"x'");
  EXPECT_EQ(t.Get("Public", "Inner"), "\"two\"");
  EXPECT_EQ(t.Get("Public", "; Hidden"), std::nullopt);
  EXPECT_EQ(t.Get("Public", "Hidden"), std::nullopt);
  EXPECT_EQ(t.Get("Public", "semi;colon"), "a ;not a comment");
  EXPECT_EQ(t.Get("Public", "bare line"), std::nullopt);
  EXPECT_EQ(t.Get("Public", "dup"), "first");
  EXPECT_EQ(t.Get("Public", "Late"), std::nullopt);  // only the first [Public] counts
  EXPECT_EQ(t.Get("other", "K"), "v");
  EXPECT_EQ(t.Get("", "orphan"), std::nullopt);
  EXPECT_EQ(t.Get("Missing", "k"), std::nullopt);
  EXPECT_EQ(t.SectionNames(), (std::vector<std::string>{"Public", "Other", "public"}));
  EXPECT_EQ(t.KeyNames("PUBLIC"),
            (std::vector<std::string>{"Config", "Quoted", "Single", "Mixed", "Inner", "semi;colon",
                                      "bare line", "Dup", "dup"}));
}

TEST(ProfileText, WritesInPlaceAndKeepsEveryOtherByte) {
  const std::string original =
      "; settings\r\n"
      "[Public]\r\n"
      "Config = false\r\n"
      "flag\r\n"
      "\r\n"
      "; end of public\r\n"
      "[SourceDB]\r\n"
      "PassWord=secret\r\n";
  ProfileText t = ProfileText::Parse(original);
  ASSERT_TRUE(t.Set("public", "CONFIG", "true"));
  ASSERT_TRUE(t.Set("Public", "flag", "on"));
  ASSERT_TRUE(t.Set("Public", "Tips", "false"));
  ASSERT_TRUE(t.Set("TargetDB", "UserID", "bob"));
  ASSERT_TRUE(t.Set("TargetDB", "PassWord", ""));
  EXPECT_EQ(t.ToString(),
            "; settings\r\n"
            "[Public]\r\n"
            "Config = true\r\n"
            "flag=on\r\n"
            "Tips=false\r\n"
            "\r\n"
            "; end of public\r\n"
            "[SourceDB]\r\n"
            "PassWord=secret\r\n"
            "[TargetDB]\r\n"
            "UserID=bob\r\n"
            "PassWord=\r\n");
}

TEST(ProfileText, NewFilesAndFilesWithoutFinalLineEnd) {
  ProfileText t;
  ASSERT_TRUE(t.Set("A", "x", "1"));
  ASSERT_TRUE(t.Set("B", "y", "2"));
  ASSERT_TRUE(t.Set("A", "z", "3"));
  EXPECT_EQ(t.ToString(), "[A]\nx=1\nz=3\n[B]\ny=2\n");

  ProfileText u = ProfileText::Parse("\xEF\xBB\xBF[A]\nx=1");
  EXPECT_EQ(u.Get("A", "x"), "1");
  ASSERT_TRUE(u.Set("A", "y", "2"));
  EXPECT_EQ(u.ToString(), "\xEF\xBB\xBF[A]\nx=1\ny=2\n");
}

TEST(ProfileText, ValuesReadBackAsWritten) {
  for (const std::string v :
       {"  lead", "trail\t", "\"quoted\"", "'single'", "\"", "a=b;c#d", "", "中文密码", "x\"y"}) {
    ProfileText t;
    ASSERT_TRUE(t.Set("S", "k", v));
    EXPECT_EQ(ProfileText::Parse(t.ToString()).Get("S", "k"), v) << v;
  }
  // A value is one line: breaks become spaces and inject nothing.
  ProfileText t;
  ASSERT_TRUE(t.Set("S", "k", "id > 1\r\nand x = 2\n[Evil]\nk=v"));
  const ProfileText back = ProfileText::Parse(t.ToString());
  EXPECT_EQ(back.Get("S", "k"), "id > 1  and x = 2 [Evil] k=v");
  EXPECT_EQ(back.SectionNames(), std::vector<std::string>{"S"});
}

TEST(ProfileText, RefusesNamesThatCannotBeReadBack) {
  ProfileText t = ProfileText::Parse("[S]\nk=1\n");
  const std::string before = t.ToString();
  for (const auto& [section, key] :
       std::vector<std::pair<std::string, std::string>>{{"a]b", "k"},
                                                        {"a\nb", "k"},
                                                        {std::string("a\0b", 3), "k"},
                                                        {"\tS", "k"},
                                                        {"S", ""},
                                                        {"S", "a=b"},
                                                        {"S", ";k"},
                                                        {"S", "[k"},
                                                        {"S", "k\n"},
                                                        {"S", std::string("k\0", 2)}}) {
    EXPECT_FALSE(t.Set(section, key, "v")) << section << "/" << key;
  }
  EXPECT_EQ(t.ToString(), before);
}

TEST(ProfileText, BufferSizesCutValues) {
  EXPECT_EQ(CutToBuffer(std::string(100, 'p'), 80), std::string(79, 'p'));
  EXPECT_EQ(CutToBuffer(std::string(2000, 'c'), 1024), std::string(1023, 'c'));
  EXPECT_EQ(CutToBuffer("short", 80), "short");
  EXPECT_EQ(CutToBuffer("abc", 0), "");
  // Never half a UTF-8 character: "中" is three bytes.
  EXPECT_EQ(CutToBuffer("ab中", 4), "ab");
  EXPECT_EQ(CutToBuffer("ab中", 6), "ab中");
}

TEST(ProfileFile, MissingFilesReadAsDefaultsAndWritesCreateThem) {
  TempDir dir;
  const ProfileFile f((dir / "x.cfg").string(), 0600);
  EXPECT_FALSE(f.Readable());
  EXPECT_EQ(f.Read("S", "k", "dflt  ", 80), "dflt");
  EXPECT_EQ(f.Find("S", "k"), std::nullopt);
  ASSERT_TRUE(f.Write("S", "k", std::string(100, 'v')));
  EXPECT_EQ(f.Read("S", "k", "", 80), std::string(79, 'v'));
  EXPECT_EQ(f.Find("S", "k"), std::string(100, 'v'));
  struct stat st {};
  ASSERT_EQ(stat(f.path().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  // Nothing but the file is left in the directory.
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);
}

TEST(ProfileFile, ExistingModesLinksAndFailures) {
  TempDir dir;
  const auto path = dir / "p.ini";
  WriteFile(path, "[S]\nk=old\n");
  ASSERT_EQ(chmod(path.c_str(), 0640), 0);
  const ProfileFile f(path.string(), 0600);
  ASSERT_TRUE(f.Write("S", "k", "new"));
  struct stat st {};
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  EXPECT_EQ(ReadFile(path), "[S]\nk=new\n");

  // A link stays a link; the file it names changes.
  const auto link = dir / "link.ini";
  fs::create_symlink(path, link);
  ASSERT_TRUE(ProfileFile(link.string()).Write("S", "k", "via link"));
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(ReadFile(path), "[S]\nk=via link\n");

  // A directory where the file should be, or a missing directory: an error,
  // never a crash, and nothing written.
  fs::create_directory(dir / "d.ini");
  EXPECT_FALSE(ProfileFile((dir / "d.ini").string()).Write("S", "k", "v"));
  EXPECT_FALSE(ProfileFile((dir / "no/such/x.ini").string()).Write("S", "k", "v"));
  EXPECT_EQ(ProfileFile((dir / "d.ini").string()).Read("S", "k", "", 80), "");
}

TEST(ProfileFile, HugeFilesAreNeitherReadNorRewritten) {
  TempDir dir;
  const auto path = dir / "big.ini";
  WriteFile(path, "[S]\nk=v\n" + std::string(ProfileFile::kMaxFileBytes, ';'));
  const ProfileFile f(path.string());
  EXPECT_EQ(f.Read("S", "k", "", 80), "");
  EXPECT_FALSE(f.Write("S", "k", "w"));
}

TEST(ProfileFile, WritersOnTwoThreadsLoseNothingAndReadersSeeWholeFiles) {
  TempDir dir;
  const ProfileFile f((dir / "c.cfg").string());
  ASSERT_TRUE(f.Write("Fixed", "sentinel", "here"));
  std::atomic<bool> done{false};
  std::atomic<int> torn{0};
  std::thread reader([&] {
    while (!done) {
      if (f.Read("Fixed", "sentinel", "", 80) != "here") ++torn;
    }
  });
  std::vector<std::thread> writers;
  for (int t = 0; t < 2; ++t) {
    writers.emplace_back([&, t] {
      for (int i = 0; i < 40; ++i) {
        ASSERT_TRUE(f.Write("T" + std::to_string(t), "k" + std::to_string(i), std::to_string(i)));
      }
    });
  }
  for (auto& w : writers)
    w.join();
  done = true;
  reader.join();
  EXPECT_EQ(torn, 0);
  for (int t = 0; t < 2; ++t) {
    EXPECT_EQ(f.KeyNames("T" + std::to_string(t)).size(), 40u);
    EXPECT_EQ(f.Read("T" + std::to_string(t), "k39", "", 80), "39");
  }
}

TEST(ConditionFile, CreatedEmptyAndKeptPerDatabaseAndTable) {
  TempDir dir;
  const ConditionFile c(dir.str());
  EXPECT_EQ(c.path(), (dir / "Condition.cfg").string());
  ASSERT_TRUE(c.EnsureExists());
  EXPECT_EQ(ReadFile(c.path()), "");
  EXPECT_EQ(c.Read("shop", "orders"), "");
  EXPECT_EQ(c.WhereClause("shop", "orders"), "");

  ASSERT_TRUE(c.Write("shop", "orders", "id > 10"));
  ASSERT_TRUE(c.Write("archive", "orders", "year < 2000"));
  ASSERT_TRUE(c.EnsureExists());  // an existing file is kept
  EXPECT_EQ(c.Read("shop", "orders"), "id > 10");
  EXPECT_EQ(c.Read("archive", "orders"), "year < 2000");
  EXPECT_EQ(c.WhereClause("shop", "orders"), " where id > 10");
  EXPECT_EQ(ReadFile(c.path()), "[shop]\norders=id > 10\n[archive]\norders=year < 2000\n");

  // Saving an empty condition removes the restriction; blanks alone do too.
  ASSERT_TRUE(c.Write("shop", "orders", ""));
  EXPECT_EQ(c.WhereClause("shop", "orders"), "");
  ASSERT_TRUE(c.Write("shop", "orders", "   "));
  EXPECT_EQ(c.WhereClause("shop", "orders"), "");

  // Read with a 1024-byte buffer; a multi-line condition is kept as one line.
  ASSERT_TRUE(c.Write("shop", "big", "x = '" + std::string(2000, 'a') + "'"));
  EXPECT_EQ(c.Read("shop", "big").size(), 1023u);
  ASSERT_TRUE(c.Write("shop", "multi", "a = 1\nand b = 2"));
  EXPECT_EQ(c.WhereClause("shop", "multi"), " where a = 1 and b = 2");
}

}  // namespace
}  // namespace migrator
