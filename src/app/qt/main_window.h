#pragma once
// The main window: the tool bar and menus, the two folder panes with the
// database trees, the bottom tab window (Log, Task List, Tips) and the
// three-pane status bar. It owns the Workspace, dispatches every command
// through RunCommand and drives the task list from its one-second timer.
//
// Work that may take long (connecting, deleting, the tree commands, queuing
// a migration or a backup) runs on the window's command thread, one command
// at a time in the order given, with a busy cursor; the window keeps drawing
// and its questions are asked on the window thread meanwhile.

#include <QAction>
#include <QGroupBox>
#include <QLabel>
#include <QMainWindow>
#include <QMenu>
#include <QTabWidget>
#include <QTextEdit>
#include <QTimer>
#include <QToolBar>
#include <QUrl>
#include <chrono>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

#include "app/frontend.h"
#include "app/workspace.h"
#include "browser/db_tree.h"
#include "tasks/controller.h"

namespace migrator::gui {

class DbTreeView;
class OutputPane;
class TaskPane;
class QtFrontend;

// The project's page, opened by the "Orvane website" item.
inline constexpr const char* kProjectPageUrl = "https://orvane.com/migrator/";
// Exit status of a program that ended while a task was still at work.
inline constexpr int kExitTaskAbandoned = 3;

class MainWindow : public QMainWindow {
  Q_OBJECT
 public:
  struct Options {
    ControllerTiming timing;
    // The task functions; the program's own when unset (tests pass theirs).
    std::optional<TaskFunctionTable> taskFunctions;
    // How long a closing window waits for the controller and the command
    // thread before the program ends without them.
    std::chrono::milliseconds closeLimit{60'000};
  };

  explicit MainWindow(const std::string& programDir, QWidget* parent = nullptr);
  MainWindow(const std::string& programDir, const ControllerTiming& timing,
             QWidget* parent = nullptr);
  MainWindow(const std::string& programDir, Options options, QWidget* parent = nullptr);
  ~MainWindow() override;

  // Parts of the window (stable: the tests and the screenshot tour use them).
  Workspace& workspace() { return *ws_; }
  Frontend& frontend();
  QtFrontend& qtFrontend() { return *frontend_; }
  const std::string& programDir() const { return programDir_; }
  OutputPane* outputPane() const { return output_; }
  TaskPane* taskPane() const { return tasks_; }
  QTabWidget* tabs() const { return tabs_; }
  QTextEdit* helpPane() const { return help_; }
  QLabel* statusPane(int i) const { return status_[i]; }
  QToolBar* toolBar() const { return toolBar_; }
  DbTreeView* tree(DataSourceSide side) const { return trees_[Index(side)]; }
  QGroupBox* folder(DataSourceSide side) const { return folders_[Index(side)]; }
  // The note above a side's tree that says why the side is not usable
  // (hidden while it is).
  QLabel* sideNote(DataSourceSide side) const { return sideNotes_[Index(side)]; }
  // A menu item or tool button by its command id (nullptr for none).
  QAction* action(int commandId) const;
  // The top-level menus in order: "&Connect", "&Operation", "D&atabases",
  // "&Database", "&Table", "&Help", "&About".
  QList<QMenu*> menus() const { return menus_; }

  // Start-up: the driver check opens as soon as the window shows.
  void PostDriverCheck();
  // Connects both sides with the fields migrator.cfg keeps, as the
  // configuration dialog's Connect would, once the window shows (migrator
  // --connect). A file that keeps no fields is said in the log.
  void PostConnectFromConfig();

  // Every command of the tool bar, the menus, the task list's tool bar and
  // the core's posted commands.
  void RunCommand(int id);
  // Runs work on the command thread after the commands before it.
  void RunWork(const QString& label, std::function<void()> work);
  // A command is at work or waiting on the command thread.
  bool CommandsPending() const { return working_ || !queue_.empty(); }
  // Lets the window work until no command is pending; false on time-out.
  bool WaitForCommands(int timeoutMs = 60'000);
  // Selects the node at this path (kinds and texts from the root down) in a
  // side's tree, as a click would; false when the tree has no such node.
  bool SelectNode(DataSourceSide side, const NodePath& path);
  // The manual's start page beside the program.
  QString ManualPath() const;

  // Where addresses go; the desktop's handler unless a test sets its own.
  void SetUrlOpener(std::function<bool(const QUrl&)> open) { openUrl_ = std::move(open); }
  // What ends the program when a closing window gives up waiting; std::_Exit
  // unless a test sets its own.
  void SetAbandonHandler(std::function<void(int status)> h) { abandon_ = std::move(h); }
  // What ends the program once a closing window has waited for everything
  // (the window is hidden first); QApplication::quit unless a test sets its
  // own.
  void SetClosedHandler(std::function<void()> h) { closed_ = std::move(h); }
  // The banner over the panes that says, while the window closes, what it
  // waits for (hidden otherwise).
  QLabel* closingBanner() const { return closingBanner_; }

  // What the frontend delivers, on the window thread.
  void AppendOutput(const OutputLine& line);
  void SetControllerStatus(const QString& text);
  void ShowHint(const QString& hint);
  void RedrawTree(DataSourceSide side);
  void SetFolderTitle(DataSourceSide side, const QString& title);
  // A side whose Connect failed or whose connection was lost is marked: its
  // folder's title says so, the note above its tree gives the reason, and
  // the tree is greyed and takes no commands until the side is connected.
  void SetSideState(DataSourceSide side, SideState state, const QString& reason);
  void Tick();
  int CurrentTab() const;
  void SetCurrentTab(int tab);
  void SetTipsTabVisible(bool visible);
  void SetControllerImage(int image);
  void SetControllerToolTip(const QString& tip);

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  static int Index(DataSourceSide side) { return side == DataSourceSide::Source ? 0 : 1; }
  void Build();
  void BuildActions();
  void BuildPanes();
  void EnableNodeMenus(DataSourceSide side, int kind);
  void ForwardToTree(DataSourceSide side, int id);
  void OpenConfig();
  void OpenDriverCheck();
  void OpenManual();
  void OpenUrl(const QUrl& url);
  void OnTaskCommand(int id);
  void StartNextWork();
  void WorkDone();
  void FinishClosing();
  void ShowClosing();
  void UpdateClosingBanner();
  // What the closing cut short: the tasks at work when it began that did not
  // succeed, and how far their row copy got; empty when nothing was.
  std::string CutShortText() const;
  void ShowFolderTitle(int i);

  const std::string programDir_;
  Options options_;
  std::unique_ptr<QtFrontend> frontend_;
  std::unique_ptr<Workspace> ws_;
  QToolBar* toolBar_ = nullptr;
  QList<QMenu*> menus_;
  std::map<int, QAction*> actions_;
  QMenu* nodeMenus_[3] = {nullptr, nullptr, nullptr};  // D&atabases, &Database, &Table
  QGroupBox* folders_[2] = {nullptr, nullptr};
  QString folderTitles_[2];  // the DBMS title, or the folder's name
  SideState sideStates_[2] = {SideState::Connected, SideState::Connected};
  QLabel* sideNotes_[2] = {nullptr, nullptr};
  DbTreeView* trees_[2] = {nullptr, nullptr};
  QTabWidget* tabs_ = nullptr;
  OutputPane* output_ = nullptr;
  TaskPane* tasks_ = nullptr;
  QTextEdit* help_ = nullptr;
  QLabel* status_[3] = {nullptr, nullptr, nullptr};
  QTimer timer_;
  QTimer closeTimer_;
  bool closing_ = false;
  QLabel* closingBanner_ = nullptr;
  std::vector<TaskId> closingTasks_;  // at work when the closing began
  std::function<void()> closed_;
  std::chrono::steady_clock::time_point closeStarted_;
  std::function<bool(const QUrl&)> openUrl_;
  std::function<void(int)> abandon_;

  // The command thread: one piece of work at a time.
  struct Work {
    QString label;
    std::function<void()> run;
  };
  std::deque<Work> queue_;
  std::thread worker_;
  bool working_ = false;
  QString workingLabel_;
};

}  // namespace migrator::gui
