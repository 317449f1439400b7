#pragma once
// The "Task List" tab: a tool bar (up, down, delete, clear, start/stop) over a
// ten-column list of the tasks with a progress bar in each row.
//
// While a task copies the rows of a table its bar shows the rows copied of
// the rows expected and how many a second go; otherwise the task's percent.

#include <QProgressBar>
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

// The bar of one row. Its text is the longest of its texts that fits. A
// finished task's bar says how it ended, in words and in its colour (green
// for success, red for failure); a waiting or working one is blue.
class TaskProgressBar : public QProgressBar {
  Q_OBJECT
 public:
  explicit TaskProgressBar(QWidget* parent = nullptr);
  // Shows a row: the rows copied while a copy runs, the outcome once the
  // task has ended, the percent otherwise.
  void Show(const TaskRow& row);
  QString text() const override;
  // The colour of the bar's filled part.
  QColor chunkColour() const { return chunk_; }

 private:
  QStringList texts_;  // longest first; the percent when none fits
  QColor chunk_;
};

// "[t] 1200 of 5000 rows, 850 rows/s": the figures of a task's row copy
// (empty when it copied none).
QString RowProgressText(const RowProgress& rows);

class TaskPane : public QWidget {
  Q_OBJECT
 public:
  explicit TaskPane(QWidget* parent = nullptr);

  // Replaces the rows, keeping the selection and the scroll position; a
  // task that was added or has just started is scrolled into view.
  void ShowRows(const std::vector<TaskRow>& rows);
  int SelectedRow() const;
  void SelectRow(int row);
  QTableWidget* table() const { return table_; }
  TaskProgressBar* bar(int row) const;
  void SetControllerImage(int image);
  void SetControllerToolTip(const QString& tip);
  // The tool bar's commands on or off (off while the window closes).
  void SetToolsEnabled(bool enabled) { tools_->setEnabled(enabled); }

 signals:
  void Command(int id);

 private:
  QToolBar* tools_;
  QTableWidget* table_;
  QAction* controllerAction_ = nullptr;
  TaskId shownWorking_ = 0;  // the working task last scrolled into view
};

}  // namespace migrator::gui
