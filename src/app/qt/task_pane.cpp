#include "app/qt/task_pane.h"

#include <QHeaderView>
#include <QProgressBar>
#include <QScrollBar>
#include <QStyle>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

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

QString Count(std::int64_t n) {
  return QString::number(n);
}
}  // namespace

QString RowProgressText(const RowProgress& rows) {
  if (rows.table.empty()) return {};
  QString text = QStringLiteral("[%1] %2").arg(QString::fromUtf8(rows.table), Count(rows.done));
  if (rows.expected >= 0) text += QStringLiteral(" of %1").arg(Count(rows.expected));
  text += QStringLiteral(" rows");
  if (rows.rowsPerSecond > 0)
    text += QStringLiteral(", %1 rows/s").arg(Count(std::llround(rows.rowsPerSecond)));
  return text;
}

TaskProgressBar::TaskProgressBar(QWidget* parent) : QProgressBar(parent) {
  setRange(0, 100);
  setTextVisible(false);
  setAlignment(Qt::AlignCenter);
  setStyleSheet("QProgressBar::chunk { background-color: rgb(27,156,213); }");
}

void TaskProgressBar::Show(const TaskRow& row) {
  const RowProgress& rows = row.rows;
  int value = row.progress;
  texts_.clear();
  if (rows.active) {
    if (rows.expected > 0)
      value = static_cast<int>(std::min<std::int64_t>(100, rows.done * 100 / rows.expected));
    else if (rows.expected == 0)
      value = 100;
    const QString counts = rows.expected >= 0
                               ? QStringLiteral("%1/%2").arg(Count(rows.done), Count(rows.expected))
                               : Count(rows.done);
    if (rows.rowsPerSecond > 0) {
      texts_ << QStringLiteral("%1 rows, %2 rows/s")
                    .arg(counts, Count(std::llround(rows.rowsPerSecond)));
    }
    texts_ << counts;
  }
  setValue(std::clamp(value, 0, 100));
  setTextVisible(rows.active);
  const QString tip = RowProgressText(rows);
  if (toolTip() != tip) setToolTip(tip);
  update();
}

QString TaskProgressBar::text() const {
  const int room = width() - 6;
  for (const QString& t : texts_)
    if (fontMetrics().horizontalAdvance(t) <= room) return t;
  // The percent, or the bare count when the rows expected are not known.
  if (!texts_.isEmpty() && !texts_.back().contains('/')) return texts_.back();
  return QProgressBar::text();
}

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
  // One line a task: a long path is cut at its start, so its file name shows
  // (the cell's tool tip has it whole).
  table_->setWordWrap(false);
  table_->setTextElideMode(Qt::ElideLeft);
  table_->horizontalHeader()->setStretchLastSection(true);
  QFontMetrics fm(table_->horizontalHeader()->font());
  for (int c = 0; c < 10; ++c)
    table_->setColumnWidth(c, fm.horizontalAdvance(titles[c]) + 15);
  // The widest words of the type and state columns fit whole.
  const QFontMetrics cells(table_->font());
  const int type = cells.horizontalAdvance(QStringLiteral("MIGRATION")) + 16;
  const int state = cells.horizontalAdvance(QStringLiteral("SUCCESS")) + 16;
  const std::pair<int, int> widths[] = {
      {0, 32},  {1, 72}, {2, std::max(62, type)}, {3, std::max(60, state)}, {4, 160},
      {7, 160}, {8, 220}};
  for (auto [c, w] : widths)
    table_->setColumnWidth(c, w);
  layout->addWidget(table_);
}

void TaskPane::ShowRows(const std::vector<TaskRow>& rows) {
  int h = table_->horizontalScrollBar()->value();
  int v = table_->verticalScrollBar()->value();
  int selected = SelectedRow();
  // Rows, their cells and bars are kept and filled again: a rebuild during a
  // copy (several a second) neither flickers nor makes widgets.
  const int n = static_cast<int>(rows.size());
  table_->setRowCount(n);
  for (int r = 0; r < n; ++r) {
    const QString tip = RowProgressText(rows[r].rows);
    for (int c = 0; c < 10; ++c) {
      const QString text = QString::fromUtf8(rows[r].cells[c]);
      QTableWidgetItem* item = table_->item(r, c);
      if (!item) {
        item = new QTableWidgetItem(text);
        table_->setItem(r, c, item);
      } else if (item->text() != text) {
        item->setText(text);
      }
      // The row's copy figures, or else the cell's own text (a path cut short).
      const QString cellTip = tip.isEmpty() ? text : tip;
      if (item->toolTip() != cellTip) item->setToolTip(cellTip);
    }
    TaskProgressBar* b = bar(r);
    if (!b) {
      b = new TaskProgressBar(table_);
      table_->setCellWidget(r, 1, b);
    }
    b->Show(rows[r]);
  }
  if (selected >= 0 && selected < table_->rowCount()) SelectRow(selected);
  table_->horizontalScrollBar()->setValue(h);
  table_->verticalScrollBar()->setValue(v);
}

TaskProgressBar* TaskPane::bar(int row) const {
  return qobject_cast<TaskProgressBar*>(table_->cellWidget(row, 1));
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
