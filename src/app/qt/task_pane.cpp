#include "app/qt/task_pane.h"

#include <QHeaderView>
#include <QProgressBar>
#include <QScrollBar>
#include <QStyle>
#include <QVBoxLayout>

#include "tasks/controller.h"

namespace migrator::gui {

namespace {
QIcon ControllerIcon(QStyle* style, int image) {
  switch (image) {
    case kImageRunning:
      return style->standardIcon(QStyle::SP_BrowserReload);
    case kImageFinished:
      return style->standardIcon(QStyle::SP_DialogApplyButton);
    case kImageStopping:
      return style->standardIcon(QStyle::SP_MediaStop);
    default:
      return style->standardIcon(QStyle::SP_MediaPlay);
  }
}
}  // namespace

TaskPane::TaskPane(QWidget* parent) : QWidget(parent) {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  tools_ = new QToolBar(this);
  tools_->setIconSize(QSize(16, 16));
  struct Button {
    int id;
    const char* tip;
    QStyle::StandardPixmap icon;
  } buttons[] = {
      {kCmdItemUp, "Item Up", QStyle::SP_ArrowUp},
      {kCmdItemDown, "Item Down", QStyle::SP_ArrowDown},
      {kCmdDeleteTask, "Delete", QStyle::SP_TrashIcon},
      {kCmdClearTasks, "Clear All Tasks", QStyle::SP_DialogResetButton},
      {kCmdStopTasks, "Stop Tasks", QStyle::SP_MediaPlay},
  };
  for (const auto& b : buttons) {
    QAction* a = tools_->addAction(style()->standardIcon(b.icon), QString());
    a->setToolTip(b.tip);
    a->setObjectName(QStringLiteral("task-cmd-%1").arg(b.id));
    int id = b.id;
    connect(a, &QAction::triggered, this, [this, id] { emit Command(id); });
    if (b.id == kCmdStopTasks) controllerAction_ = a;
  }
  layout->addWidget(tools_);

  table_ = new QTableWidget(0, 10, this);
  QStringList titles;
  for (const char* c : kTaskColumns)
    titles << c;
  table_->setHorizontalHeaderLabels(titles);
  table_->setSelectionBehavior(QAbstractItemView::SelectRows);
  table_->setSelectionMode(QAbstractItemView::SingleSelection);
  table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table_->setShowGrid(true);
  table_->verticalHeader()->hide();
  QFontMetrics fm(table_->horizontalHeader()->font());
  for (int c = 0; c < 10; ++c)
    table_->setColumnWidth(c, fm.horizontalAdvance(titles[c]) + 15);
  const std::pair<int, int> widths[] = {{0, 32}, {1, 72}, {2, 62}, {3, 60}, {4, 200}, {7, 200}};
  for (auto [c, w] : widths)
    table_->setColumnWidth(c, w);
  layout->addWidget(table_);
}

void TaskPane::ShowRows(const std::vector<TaskRow>& rows) {
  int h = table_->horizontalScrollBar()->value();
  int v = table_->verticalScrollBar()->value();
  int selected = SelectedRow();
  table_->setRowCount(0);
  table_->setRowCount(static_cast<int>(rows.size()));
  for (int r = 0; r < static_cast<int>(rows.size()); ++r) {
    for (int c = 0; c < 10; ++c)
      table_->setItem(r, c, new QTableWidgetItem(QString::fromUtf8(rows[r].cells[c])));
    auto* bar = new QProgressBar(table_);
    bar->setRange(0, 100);
    bar->setValue(rows[r].progress);
    bar->setTextVisible(false);
    bar->setStyleSheet("QProgressBar::chunk { background-color: rgb(27,156,213); }");
    table_->setCellWidget(r, 1, bar);
  }
  if (selected >= 0 && selected < table_->rowCount()) SelectRow(selected);
  table_->horizontalScrollBar()->setValue(h);
  table_->verticalScrollBar()->setValue(v);
}

int TaskPane::SelectedRow() const {
  auto rows = table_->selectionModel()->selectedRows();
  if (!rows.isEmpty()) return rows.first().row();
  return table_->currentRow();
}

void TaskPane::SelectRow(int row) {
  if (row < 0 || row >= table_->rowCount()) {
    table_->clearSelection();
    return;
  }
  table_->selectRow(row);
  table_->setCurrentCell(row, 0);
}

void TaskPane::SetControllerImage(int image) {
  if (controllerAction_) controllerAction_->setIcon(ControllerIcon(style(), image));
}

void TaskPane::SetControllerToolTip(const QString& tip) {
  if (controllerAction_) controllerAction_->setToolTip(tip);
}

}  // namespace migrator::gui
