#pragma once
// ScriptedFrontend: a Frontend for tests and headless runs. It answers from
// queues set up in advance and records every call as a text line, so a test
// can assert on what a person would have seen. Safe to call from any thread.

#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "app/frontend.h"
#include "app/output.h"

namespace migrator {

class ScriptedFrontend : public Frontend {
 public:
  // Answers used in order; when the queue is empty, questions get the default.
  void QueueAnswer(Answer a);
  void SetDefaultAnswer(Answer a);
  // Chooser results used in order; empty queue means "cancelled".
  void QueueFile(std::optional<std::string> path);
  void QueueFolder(std::optional<std::string> path);

  // Recorded calls, one text per call, such as
  //   "ask OkCancel: Some Tasks is Processing, STOP ALL?"
  //   "hint: Press Config button, ..."     "status: NO PROCESSING!!!"
  std::vector<std::string> Calls() const;
  // Only the calls that start with prefix (the prefix is kept).
  std::vector<std::string> CallsStartingWith(const std::string& prefix) const;
  bool HasCall(const std::string& call) const;
  void ClearCalls();

  // Output lines as shown (timestamp included) and their texts without it.
  std::vector<OutputLine> Lines() const;
  std::vector<std::string> Texts() const;  // text after the 24-character timestamp
  bool HasText(const std::string& text) const;
  std::size_t LineCount() const;
  void ClearLines();

  std::string StatusText() const;
  std::vector<int> PostedCommands() const;
  int ControllerImage() const;
  std::string ControllerToolTip() const;

  // Frontend
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
  // Where the last folder chooser opened.
  std::string LastFolderStart() const;
  void TreeChanged(DataSourceSide side) override;
  void SetFolderTitle(DataSourceSide side, const std::string& title) override;
  // Recorded as "side Source: lost: <reason>" (connected, failed, lost).
  void SetSideState(DataSourceSide side, SideState state, const std::string& reason) override;
  void PostCommand(int commandId) override;
  void RequestTick() override;
  int CurrentTab() override;
  void SetCurrentTab(int tab) override;
  void SetTipsTabVisible(bool visible) override;
  void SetControllerButtonImage(int image) override;
  void SetControllerToolTip(const std::string& text) override;
  void OpenUrl(const std::string& url) override;
  void SetBusy(bool busy) override;

 private:
  void Record(std::string call);

  mutable std::mutex m_;
  std::deque<Answer> answers_;
  std::optional<Answer> defaultAnswer_;
  std::deque<std::optional<std::string>> files_, folders_;
  std::vector<std::string> calls_;
  OutputLog log_;
  std::string status_ = kStatusIdle;
  std::string folderStart_;
  std::vector<int> posted_;
  int tab_ = kTaskListTab;
  int controllerImage_ = 0;
  std::string controllerToolTip_;
};

const char* ButtonsName(Buttons b);

}  // namespace migrator
