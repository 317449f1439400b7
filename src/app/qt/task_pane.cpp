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

namespace {
const QColor kWorkingColour(27, 156, 213);
const QColor kSucceededColour(46, 160, 67);
const QColor kFailedColour(214, 48, 49);
}  // namespace

TaskProgressBar::TaskProgressBar(QWidget* parent) : QProgressBar(parent) {
  setRange(0, 100);
  setTextVisible(false);
  setAlignment(Qt::AlignCenter);
}

void TaskProgressBar::Show(const TaskRow& row) {
  const RowProgress& rows = row.rows;
  int value = row.progress;
  texts_.clear();
  const bool ended = row.state == kTaskSucceeded || row.state == kTaskFailed;
  const QColor chunk = row.state == kTaskSucceeded ? kSucceededColour
                       : row.state == kTaskFailed  ? kFailedColour
                                                   : kWorkingColour;
  if (chunk != chunk_) {
    chunk_ = chunk;
    // Dark text on the bar whatever its fill: the words stay readable.
    setStyleSheet(QStringLiteral("QProgressBar { color: black; text-align: center; } "
                                 "QProgressBar::chunk { background-color: %1; }")
                      .arg(chunk.name()));
  }
  if (ended) {
    // The outcome; the tooltip keeps the figures of the last table copied.
    texts_ << QString::fromUtf8(row.cells[3]);
    value = 100;  // the whole bar in the outcome's colour
  } else if (rows.active) {
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
  setTextVisible(ended || rows.active);
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
  // The bar's whole text of a large table fits: counts and rate.
  const int progress =
      cells.horizontalAdvance(QStringLiteral("65535/65535 rows, 99999 rows/s")) + 16;
  const std::pair<int, int> widths[] = {{0, 32},
                                        {1, std::max(72, progress)},
                                        {2, std::max(62, type)},
                                        {3, std::max(60, state)},
                                        {4, 160},
                                        {7, 160},
                                        {8, 220}};
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
  const int before = table_->rowCount();
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
    if (QTableWidgetItem* state = table_->item(r, 3)) {
      const QBrush colour = rows[r].state == kTaskFailed ? QBrush(kFailedColour) : QBrush();
      if (state->foreground() != colour) state->setForeground(colour);
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
  // A task just added, or just started, is brought into view (whole, not
  // half hidden below the last visible row); otherwise the view stays where
  // the person left it.
  int show = n > before ? n - 1 : -1;
  for (int r = 0; r < n; ++r) {
    if (!rows[r].working) continue;
    if (rows[r].id != shownWorking_) {
      shownWorking_ = rows[r].id;
      show = r;
    }
    break;
  }
  if (show >= 0) {
    table_->scrollTo(table_->model()->index(show, 0), QAbstractItemView::EnsureVisible);
    table_->horizontalScrollBar()->setValue(h);
  }
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
