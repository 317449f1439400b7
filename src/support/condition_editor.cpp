#include "support/condition_editor.h"

#include <algorithm>

namespace migrator {
namespace {

std::string Quoted(std::string_view name) {
  std::string out = "`";
  for (char c : name) {
    out += c;
    if (c == '`') out += '`';
  }
  out += '`';
  return out;
}

bool Blank(std::string_view s) {
  return s.find_first_not_of(" \t\v\f") == std::string_view::npos;
}

bool DigitsOnly(std::string_view s) {
  return std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace

ConditionEditor::ConditionEditor(const std::string& programDir, std::string database,
                                 std::string table, Frontend& ui, Query query)
    : file_(programDir),
      database_(std::move(database)),
      table_(std::move(table)),
      ui_(ui),
      query_(std::move(query)) {
  // A file that cannot be created shows when the condition is stored.
  (void)file_.EnsureExists();
  condition_ = file_.Read(database_, table_);
}

std::string ConditionEditor::StatementLabel() const {
  return "select * from " + table_ + " where";
}

std::string ConditionEditor::CountStatement(std::string_view database, std::string_view table,
                                            std::string_view condition) {
  std::string s = "select count(*) from ";
  if (!database.empty()) s += Quoted(database) + ".";
  s += Quoted(table);
  if (!condition.empty()) {
    s += " where ";
    s += condition;
  }
  return s;
}

std::string ConditionEditor::OneLine(std::string_view condition) {
  std::string s(condition);
  for (char& c : s) {
    if (c == '\r' || c == '\n' || c == '\0') c = ' ';
  }
  return s;
}

std::string ConditionEditor::TestStatement(const std::string& text) const {
  const std::string condition = OneLine(text);
  return CountStatement(database_, table_, Blank(condition) ? "" : condition);
}

bool ConditionEditor::Test(const std::string& text) {
  return TakeAnswer(text, query_ ? query_(TestStatement(text)) : std::string("No Connection!"));
}

bool ConditionEditor::SaveNeedsTest(const std::string& text) const {
  const std::string condition = OneLine(text);
  return !Blank(condition) && condition != lastTested_;
}

bool ConditionEditor::TakeAnswer(const std::string& text, const std::string& answer) {
  const std::string condition = OneLine(text);
  lastTested_ = condition;
  lastAnswer_ = answer;
  lastPassed_ = DigitsOnly(answer);
  result_ = lastPassed_ ? "Test successfully!\r\n  " + answer + " Records can be converted."
                        : "Test failed!\r\n  Because:  " + answer;
  saveEnabled_ = true;
  return lastPassed_;
}

bool ConditionEditor::Save(const std::string& text) {
  std::string condition = OneLine(text);
  if (Blank(condition)) condition.clear();
  if (condition.size() > kMaxConditionBytes) {
    ui_.Ask("The condition is " + std::to_string(condition.size()) +
                " bytes long; a condition can hold at most " + std::to_string(kMaxConditionBytes) +
                ". It was not stored.",
            Buttons::Ok, Icon::Exclamation);
    return false;
  }
  // A condition tested as it stands is not counted again.
  if (!condition.empty() && !(lastTested_ == condition ? lastPassed_ : Test(condition))) {
    const Answer insist = ui_.Ask(
        "The source database does not accept this condition for [" + table_ + "]:\n\n" +
            lastAnswer_ + "\n\nA migration of the table would fail with it. Store it anyway?",
        Buttons::YesNo, Icon::Exclamation);
    if (insist != Answer::Yes) return false;
  }
  if (Status stored = file_.Write(database_, table_, condition); !stored) {
    ui_.Ask("The condition could not be stored:\n" + stored.message(), Buttons::Ok, Icon::Error);
    return false;
  }
  condition_ = condition;
  saveEnabled_ = false;
  return true;
}

}  // namespace migrator
