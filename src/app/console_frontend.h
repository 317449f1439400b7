#pragma once
// ConsoleFrontend: the Frontend of the command line. Output lines go to
// standard output (coloured when it is a terminal), hints and message boxes
// to standard error. OK/Cancel and Yes/No questions are answered by policy
// (QuestionPolicy); choosers answer from preset paths or cancel.

#include <atomic>
#include <cstdio>
#include <mutex>
#include <optional>
#include <string>

#include "app/frontend.h"

namespace migrator {

// How OK/Cancel and Yes/No questions are answered.
enum class QuestionPolicy {
  Decline,      // Cancel/No, shown on the error stream
  AssumeYes,    // OK/Yes, shown on the error stream
  AskTerminal,  // the question is put on the error stream and the answer read from the input
  Refuse,       // Cancel/No, with a line that says the question needed an answer
};

class ConsoleFrontend : public Frontend {
 public:
  explicit ConsoleFrontend(std::FILE* out = stdout, std::FILE* err = stderr, std::FILE* in = stdin);

  void SetAssumeYes(bool yes) {
    policy_ = yes ? QuestionPolicy::AssumeYes : QuestionPolicy::Decline;
  }
  void SetQuestionPolicy(QuestionPolicy policy) { policy_ = policy; }
  // True once a question was refused (QuestionPolicy::Refuse) or declined at
  // the terminal.
  bool Declined() const { return declined_; }
  void SetQuiet(bool quiet) { quiet_ = quiet; }
  void SetSaveFile(std::optional<std::string> path) { saveFile_ = std::move(path); }
  void SetFolder(std::optional<std::string> path) { folder_ = std::move(path); }

  void AppendOutput(const OutputLine& line) override;
  void SetStatusText(const std::string& text) override;
  void ShowHint(const std::string& hint) override;
  Answer Ask(const std::string& text, Buttons buttons, Icon icon = Icon::None,
             const std::string& caption = {}) override;
  std::optional<std::string> ChooseSaveFile(const std::string& title,
                                            const std::vector<FileFilter>& filters,
                                            const std::string& initialDir) override;
  std::optional<std::string> ChooseOpenFile(const std::string& title,
                                            const std::vector<FileFilter>& filters,
                                            const std::string& initialDir) override;
  std::optional<std::string> ChooseFolder(const std::string& title,
                                          const std::string& initialDir = {}) override;
  void TreeChanged(DataSourceSide) override {}
  void SetFolderTitle(DataSourceSide side, const std::string& title) override;
  void PostCommand(int) override {}
  void RequestTick() override {}
  int CurrentTab() override { return tab_; }
  void SetCurrentTab(int tab) override { tab_ = tab; }
  void SetTipsTabVisible(bool) override {}
  void SetControllerButtonImage(int) override {}
  void SetControllerToolTip(const std::string&) override {}
  void OpenUrl(const std::string& url) override;
  void SetBusy(bool) override {}
  bool ShowsRowProgress() const override { return false; }  // progress goes out as lines

 private:
  std::mutex m_;
  std::FILE* out_;
  std::FILE* err_;
  std::FILE* in_;
  bool colour_;
  QuestionPolicy policy_ = QuestionPolicy::Decline;
  std::atomic<bool> declined_{false};
  bool quiet_ = false;
  int tab_ = kTaskListTab;
  std::optional<std::string> saveFile_, folder_;
};

}  // namespace migrator
