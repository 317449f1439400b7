#pragma once
// The "Task List" tab: a tool bar (up, down, delete, clear, start/stop) over a
// ten-column list of the tasks with a progress bar in each row.

#include <QTableWidget>
#include <QToolBar>
#include <QWidget>

#include "tasks/task.h"

namespace migrator::gui {

// Command ids of the task list's tool bar.
enum TaskCommand : int {
  kCmdItemUp = 5579,
  kCmdItemDown = 5580,
  kCmdDeleteTask = 5550,
  kCmdClearTasks = 5561,
  kCmdStopTasks = 5560,
};

class TaskPane : public QWidget {
  Q_OBJECT
 public:
  explicit TaskPane(QWidget* parent = nullptr);

  // Replaces the rows, keeping the selection and the scroll position.
  void ShowRows(const std::vector<TaskRow>& rows);
  int SelectedRow() const;
  void SelectRow(int row);
  QTableWidget* table() const { return table_; }
  void SetControllerImage(int image);
  void SetControllerToolTip(const QString& tip);

 signals:
  void Command(int id);

 private:
  QToolBar* tools_;
  QTableWidget* table_;
  QAction* controllerAction_ = nullptr;
};

}  // namespace migrator::gui
