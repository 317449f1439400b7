// The condition dialog's logic with a scripted source: the count statement,
// the result texts, and when a condition is stored.

#include "support/condition_editor.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "app/scripted_frontend.h"
#include "testlib/testlib.h"

namespace migrator {
namespace {

using testing::TempDir;

// A source that answers every count with `answer` and records the statements.
struct FakeSource {
  std::string answer = "0";
  std::vector<std::string> statements;
  ConditionEditor::Query Query() {
    return [this](const std::string& s) {
      statements.push_back(s);
      return answer;
    };
  }
};

TEST(ConditionEditor, CountStatementNamesTheDatabaseAndQuotesTheNames) {
  EXPECT_EQ(ConditionEditor::CountStatement("shop", "t", ""), "select count(*) from `shop`.`t`");
  EXPECT_EQ(ConditionEditor::CountStatement("shop", "t", "id > 10"),
            "select count(*) from `shop`.`t` where id > 10");
  EXPECT_EQ(ConditionEditor::CountStatement("a`b", "order details", "x"),
            "select count(*) from `a``b`.`order details` where x");
}

TEST(ConditionEditor, TestedConditionIsStoredAndARejectedOneOnlyWhenTheUserInsists) {
  TempDir dir;
  ScriptedFrontend ui;
  FakeSource source;
  ConditionEditor ed(dir.str(), "shop", "t", ui, source.Query());
  EXPECT_TRUE(std::filesystem::exists(dir / "Condition.cfg"));  // created on opening
  EXPECT_EQ(ed.StatementLabel(), "select * from t where");
  EXPECT_EQ(ed.condition(), "");
  EXPECT_FALSE(ed.saveEnabled());

  // A count of 0 is a success; the condition is tested as one line.
  EXPECT_TRUE(ed.Test("id > 10\nand id < 20"));
  EXPECT_EQ(source.statements.back(), "select count(*) from `shop`.`t` where id > 10 and id < 20");
  EXPECT_EQ(ed.result(), "Test successfully!\r\n  0 Records can be converted.");
  EXPECT_TRUE(ed.saveEnabled());
  EXPECT_TRUE(ed.Save("id > 10\nand id < 20"));
  EXPECT_EQ(source.statements.size(), 1u);  // stored as tested, without a second count
  EXPECT_FALSE(ed.saveEnabled());
  EXPECT_EQ(ConditionFile(dir.str()).Read("shop", "t"), "id > 10 and id < 20");
  EXPECT_EQ(ConditionFile(dir.str()).Read("other", "t"), "");  // per database

  // Edited after its test: tested again on Save; the source's error is shown
  // and the person decides.
  source.answer = "Unknown column 'idd' in 'where clause'";
  ui.QueueAnswer(Answer::No);
  EXPECT_FALSE(ed.Save("idd > 3"));
  EXPECT_EQ(source.statements.back(), "select count(*) from `shop`.`t` where idd > 3");
  EXPECT_EQ(ed.result(), "Test failed!\r\n  Because:  Unknown column 'idd' in 'where clause'");
  const auto asks = ui.CallsStartingWith("ask YesNo !");
  ASSERT_EQ(asks.size(), 1u);
  EXPECT_NE(asks[0].find("Unknown column 'idd'"), std::string::npos);
  EXPECT_EQ(ConditionFile(dir.str()).Read("shop", "t"), "id > 10 and id < 20");
  ui.QueueAnswer(Answer::Yes);
  EXPECT_TRUE(ed.Save("idd > 3"));
  EXPECT_EQ(ConditionFile(dir.str()).Read("shop", "t"), "idd > 3");

  // Clearing the condition needs no source; a condition longer than the file
  // reads back is refused.
  const std::size_t counts = source.statements.size();
  EXPECT_TRUE(ed.Save("  "));
  EXPECT_EQ(source.statements.size(), counts);
  EXPECT_EQ(ConditionFile(dir.str()).WhereClause("shop", "t"), "");
  source.answer = "5";
  const std::string longer = "id in (" + std::string(1100, '1') + ")";
  EXPECT_TRUE(ed.Test(longer));
  EXPECT_FALSE(ed.Save(longer));
  EXPECT_TRUE(ui.CallsStartingWith("ask Ok !: The condition is 1108 bytes long").size() == 1u)
      << ::testing::PrintToString(ui.Calls());
  EXPECT_EQ(ConditionFile(dir.str()).Read("shop", "t"), "");

  // Opening again shows what is stored.
  ASSERT_TRUE(ed.Save("id = 1"));
  EXPECT_EQ(ConditionEditor(dir.str(), "shop", "t", ui, nullptr).condition(), "id = 1");
}

}  // namespace
}  // namespace migrator
