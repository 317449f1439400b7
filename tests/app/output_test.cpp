#include <gtest/gtest.h>

#include <regex>

#include "app/output.h"
#include "app/scripted_frontend.h"

namespace migrator {
namespace {

constexpr const char* kStamp = "2024/05/06 13:04:05:123 ";

TEST(OutputLine, PrefixChoosesColourAndIsNotShown) {
  struct Case {
    const char* message;
    bool coloured;
    Rgb colour;
    const char* shown;
  } cases[] = {
      {"E::No Connection!", true, kRed, "No Connection!"},
      {"S::done", true, kGreen, "done"},
      {"T::provider text", true, kOrange, "provider text"},
      {"plain", false, kBlack, "plain"},
      {"e::lower case is plain", false, kBlack, "e::lower case is plain"},
      {"X::unknown prefix", false, kBlack, "X::unknown prefix"},
      {"E:", false, kBlack, "E:"},
  };
  for (const auto& c : cases) {
    OutputLine line = MakeOutputLine(c.message, kStamp);
    EXPECT_EQ(line.coloured, c.coloured) << c.message;
    EXPECT_EQ(line.text, std::string(kStamp) + c.shown) << c.message;
    if (c.coloured) {
      EXPECT_EQ(line.textColour, c.colour) << c.message;
      EXPECT_EQ(line.backColour, kWhite) << c.message;
    }
  }
}

TEST(OutputLine, BarePrefixGivesColouredTimestampOnly) {
  OutputLine line = MakeOutputLine("E::", kStamp);
  EXPECT_TRUE(line.coloured);
  EXPECT_EQ(line.textColour, kRed);
  EXPECT_EQ(line.text, kStamp);
}

TEST(OutputLine, MessageIsCutAt1024CharactersBeforeThePrefixIsRemoved) {
  std::string longText(2000, 'x');
  EXPECT_EQ(MakeOutputLine(longText, kStamp).text.size(), 24u + 1024u);
  EXPECT_EQ(MakeOutputLine("T::" + longText, kStamp).text.size(), 24u + 1021u);
  std::string exact(1024, 'y');
  EXPECT_EQ(MakeOutputLine(exact, kStamp).text, kStamp + exact);
  // Characters, not bytes: a UTF-8 character is never split.
  std::string chinese;
  for (int i = 0; i < 1100; ++i)
    chinese += "\xe4\xb8\xad";  // U+4E2D
  EXPECT_EQ(MakeOutputLine(chinese, kStamp).text, kStamp + chinese.substr(0, 3 * 1024));
}

TEST(WriteOutput, FormatsOnceAndKeepsPercentSignsOfArguments) {
  ScriptedFrontend fe;
  WriteOutput(fe, "TABLE: [%s].[%s] Migrating..... ", "shop", "100%_sure%s");
  WriteOutput(fe, "[%s] %d records converted!", "t", 2000);
  WriteOutputText(fe, "E::literal %d %s");
  auto texts = fe.Texts();
  ASSERT_EQ(texts.size(), 3u);
  EXPECT_EQ(texts[0], "TABLE: [shop].[100%_sure%s] Migrating..... ");
  EXPECT_EQ(texts[1], "[t] 2000 records converted!");
  EXPECT_EQ(texts[2], "literal %d %s");
  EXPECT_TRUE(fe.Lines()[2].coloured);
}

TEST(WriteOutput, TimestampHasTheFixedFormat) {
  ScriptedFrontend fe;
  WriteOutputText(fe, "hello");
  std::regex stamp(R"(^\d{4}/\d{2}/\d{2} \d{2}:\d{2}:\d{2}:\d{3} hello$)");
  EXPECT_TRUE(std::regex_match(fe.Lines().at(0).text, stamp)) << fe.Lines().at(0).text;
}

TEST(OutputLog, KeepsAtMost1001LinesDroppingTheOldest) {
  OutputLog log;
  for (int i = 0; i < 1001; ++i)
    EXPECT_FALSE(log.Append({std::to_string(i)}));
  EXPECT_EQ(log.size(), 1001u);
  EXPECT_TRUE(log.Append({"1001"}));
  EXPECT_EQ(log.size(), 1001u);
  EXPECT_EQ(log.lines().front().text, "1");
  EXPECT_EQ(log.lines().back().text, "1001");
  for (int i = 0; i < 500; ++i)
    log.Append({"more"});
  EXPECT_EQ(log.size(), 1001u);
  EXPECT_EQ(log.lines().front().text, "501");
}

TEST(ScriptedFrontend, AnswersFromTheQueueThenByDefault) {
  ScriptedFrontend fe;
  fe.QueueAnswer(Answer::Ok);
  fe.QueueAnswer(Answer::Yes);
  EXPECT_EQ(fe.Ask("first?", Buttons::OkCancel), Answer::Ok);
  EXPECT_EQ(fe.Ask("second?", Buttons::YesNo, Icon::Exclamation), Answer::Yes);
  EXPECT_EQ(fe.Ask("third?", Buttons::OkCancel), Answer::Cancel);
  EXPECT_EQ(fe.Ask("fourth?", Buttons::YesNo), Answer::No);
  fe.SetDefaultAnswer(Answer::Ok);
  EXPECT_EQ(fe.Ask("fifth?", Buttons::YesNo), Answer::Yes);
  EXPECT_EQ(fe.Calls()[1], "ask YesNo !: second?");
}

}  // namespace
}  // namespace migrator
