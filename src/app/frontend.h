#pragma once
// Frontend: everything the core needs of a screen or a person. The Qt window,
// the command line and the tests each implement it. Calls may come from the
// window thread and from the controller thread; implementations deliver them
// to their own thread in call order.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace migrator {

enum class DataSourceSide : int { Reconnecting = -1, Source = 0, Target = 1 };

inline const char* SideWord(DataSourceSide side) {
  return side == DataSourceSide::Source ? "Source" : "Target";
}

struct Rgb {
  std::uint8_t r = 0, g = 0, b = 0;
  friend bool operator==(const Rgb&, const Rgb&) = default;
};

// One finished output-pane line: the timestamp and the text, and its colours.
struct OutputLine {
  std::string text;
  bool coloured = false;
  Rgb textColour{0, 0, 0};
  Rgb backColour{255, 255, 255};
};

enum class Buttons { Ok, OkCancel, YesNo };
enum class Icon { None, Exclamation, Information, Error };
enum class Answer { Ok, Cancel, Yes, No };

// A file-type filter of a file chooser: label and patterns ("*.xls;*.XLS").
struct FileFilter {
  std::string label;
  std::string patterns;
};

// How a side's connection stands, for the window to mark the side: open
// after a successful Connect, failed when a Connect did not get through, lost
// when an open connection stopped working (the server went away).
enum class SideState { Connected, Failed, Lost };

// Tabs of the bottom tab window.
enum Tab : int { kLogTab = 0, kTaskListTab = 1, kTipsTab = 2 };

class Frontend {
 public:
  virtual ~Frontend() = default;

  // Output pane and status bar.
  virtual void AppendOutput(const OutputLine& line) = 0;
  virtual void SetStatusText(const std::string& text) = 0;

  // Help pane: insert a hint after "F1 to Help:" and make the Tips tab current.
  virtual void ShowHint(const std::string& hint) = 0;

  // Message boxes and questions. An empty caption means the product title.
  virtual Answer Ask(const std::string& text, Buttons buttons, Icon icon = Icon::None,
                     const std::string& caption = {}) = 0;
  void Tell(const std::string& text, const std::string& caption = {}) {
    Ask(text, Buttons::Ok, Icon::None, caption);
  }

  // Choosers; std::nullopt when the person cancels.
  virtual std::optional<std::string> ChooseSaveFile(const std::string& title,
                                                    const std::vector<FileFilter>& filters,
                                                    const std::string& initialDir) = 0;
  virtual std::optional<std::string> ChooseOpenFile(const std::string& title,
                                                    const std::vector<FileFilter>& filters,
                                                    const std::string& initialDir) = 0;
  // A folder, the chooser opening in `initialDir` (the process's current
  // directory when empty).
  virtual std::optional<std::string> ChooseFolder(const std::string& title,
                                                  const std::string& initialDir = {}) = 0;
  // A file to open, or a new name that the caller then creates (no question
  // about replacing an existing file). A frontend without such a chooser
  // offers its open chooser.
  virtual std::optional<std::string> ChooseFileToOpenOrCreate(
      const std::string& title, const std::vector<FileFilter>& filters,
      const std::string& initialDir) {
    return ChooseOpenFile(title, filters, initialDir);
  }

  // A side's tree model changed and must be drawn again.
  virtual void TreeChanged(DataSourceSide side) = 0;
  // The title of a side's folder pane (DBMS name and version).
  virtual void SetFolderTitle(DataSourceSide side, const std::string& title) = 0;
  // A side's connection got through, failed or was lost; `reason` is the
  // provider's words for a failure. A frontend without sides ignores it.
  virtual void SetSideState(DataSourceSide /*side*/, SideState /*state*/,
                            const std::string& /*reason*/) {}
  // Queue a command id to the main window, as a posted message would.
  virtual void PostCommand(int commandId) = 0;
  // Ask for a timer tick at once (the forced task-list refresh).
  virtual void RequestTick() = 0;

  virtual int CurrentTab() = 0;
  virtual void SetCurrentTab(int tab) = 0;
  virtual void SetTipsTabVisible(bool visible) = 0;

  // The start/stop button (5560) of the task list's tool bar.
  virtual void SetControllerButtonImage(int image) = 0;
  virtual void SetControllerToolTip(const std::string& text) = 0;

  virtual void OpenUrl(const std::string& url) = 0;
  virtual void SetBusy(bool busy) = 0;  // wait cursor
  // Whether a task's row progress (rows done of rows expected) is shown
  // anywhere; when not, a table's rows are not counted before they are copied.
  virtual bool ShowsRowProgress() const { return true; }
};

}  // namespace migrator
