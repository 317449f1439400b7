#pragma once
// The main window: the two folder panes with the database trees, the bottom tab
// window (Log, Task List, Tips) and the three-pane status bar. It owns the
// Workspace and drives the task list from its one-second timer.

#include <QGroupBox>
#include <QLabel>
#include <QMainWindow>
#include <QTabWidget>
#include <QTextEdit>
#include <QTimer>
#include <QTreeWidget>
#include <memory>

#include "app/frontend.h"

namespace migrator {
class Workspace;
struct ControllerTiming;
}  // namespace migrator

namespace migrator::gui {

class OutputPane;
class TaskPane;
class QtFrontend;

class MainWindow : public QMainWindow {
  Q_OBJECT
 public:
  explicit MainWindow(const std::string& programDir, QWidget* parent = nullptr);
  MainWindow(const std::string& programDir, const ControllerTiming& timing,
             QWidget* parent = nullptr);
  ~MainWindow() override;

  Workspace& workspace() { return *ws_; }
  Frontend& frontend();
  OutputPane* outputPane() const { return output_; }
  TaskPane* taskPane() const { return tasks_; }
  QTabWidget* tabs() const { return tabs_; }
  QLabel* statusPane(int i) const { return status_[i]; }

  // What the frontend delivers, on the window thread.
  void AppendOutput(const OutputLine& line);
  void SetControllerStatus(const QString& text);
  void ShowHint(const QString& hint);
  void RedrawTree(DataSourceSide side);
  void SetFolderTitle(DataSourceSide side, const QString& title);
  void RunCommand(int id);
  void Tick();
  int CurrentTab() const;
  void SetCurrentTab(int tab);
  void SetTipsTabVisible(bool visible);
  void SetControllerImage(int image);
  void SetControllerToolTip(const QString& tip);

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void Build();
  void OnTaskCommand(int id);
  void FinishClosing();

  std::unique_ptr<QtFrontend> frontend_;
  std::unique_ptr<Workspace> ws_;
  QGroupBox* folders_[2] = {nullptr, nullptr};
  QTreeWidget* trees_[2] = {nullptr, nullptr};
  QTabWidget* tabs_ = nullptr;
  OutputPane* output_ = nullptr;
  TaskPane* tasks_ = nullptr;
  QTextEdit* help_ = nullptr;
  QLabel* status_[3] = {nullptr, nullptr, nullptr};
  QTimer timer_;
  QTimer closeTimer_;
  bool closing_ = false;
  int closeWaitedMs_ = 0;
};

}  // namespace migrator::gui
