#pragma once
// ConsoleFrontend: the Frontend of the command line. Output lines go to
// standard output (coloured when it is a terminal), hints and message boxes
// to standard error. Questions are answered by policy: with assumeYes every
// question is answered OK/Yes, otherwise Cancel/No; choosers answer from
// preset paths or cancel.

#include <cstdio>
#include <mutex>
#include <optional>
#include <string>

#include "app/frontend.h"

namespace migrator {

class ConsoleFrontend : public Frontend {
 public:
  explicit ConsoleFrontend(std::FILE* out = stdout, std::FILE* err = stderr);

  void SetAssumeYes(bool yes) { assumeYes_ = yes; }
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
  std::optional<std::string> ChooseFolder(const std::string& title) override;
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

 private:
  std::mutex m_;
  std::FILE* out_;
  std::FILE* err_;
  bool colour_;
  bool assumeYes_ = false;
  bool quiet_ = false;
  int tab_ = kTaskListTab;
  std::optional<std::string> saveFile_, folder_;
};

}  // namespace migrator
