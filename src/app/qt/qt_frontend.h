#pragma once
// QtFrontend: the Frontend of the window. Calls from the controller thread are
// queued to the window thread in call order; questions and choosers wait for
// the person's answer. Once the window is closing, questions get their
// negative answer at once so that a task can never wait for a window that is
// gone.

#include <QObject>
#include <atomic>
#include <functional>

#include "app/frontend.h"

namespace migrator::gui {

class MainWindow;

class QtFrontend : public QObject, public Frontend {
  Q_OBJECT
 public:
  explicit QtFrontend(MainWindow* window);
  void SetClosing() { closing_.store(true); }

  // Answers questions and messages without showing them (tests, the
  // screenshot tour). The hook runs on the window thread with the text, the
  // buttons and the caption; nothing from it shows the message box after all.
  using Answerer = std::function<std::optional<Answer>(const std::string& text, Buttons buttons,
                                                       const std::string& caption)>;
  void SetAnswerer(Answerer answerer) { answerer_ = std::move(answerer); }
  // A message box shown on the window thread even while the window closes:
  // the window's last word on what its closing cut short.
  void TellWhileClosing(const std::string& text);

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
  void TreeChanged(DataSourceSide side) override;
  void SetFolderTitle(DataSourceSide side, const std::string& title) override;
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
  // The message box (or the answerer's answer), on the window thread.
  Answer Show(const std::string& text, Buttons buttons, Icon icon, const std::string& caption);
  bool OnWindowThread() const;
  // Runs f on the window thread: now when called there, queued otherwise.
  template <class F>
  void Post(F&& f);
  // Runs f on the window thread and waits for its result.
  template <class R, class F>
  R Call(F&& f, R whenClosing);

  MainWindow* window_;
  std::atomic<bool> closing_{false};
  Answerer answerer_;
};

}  // namespace migrator::gui
