#include "app/qt/output_pane.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QFileDialog>
#include <QFontDatabase>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QSaveFile>
#include <QScrollBar>
#include <QThread>
#include <QToolTip>
#include <algorithm>

#include "app/output.h"

namespace migrator::gui {

namespace {

QColor ToQ(Rgb c) {
  return QColor(c.r, c.g, c.b);
}

constexpr int kIndent = 5;          // pixels before the text
constexpr int kToolTipWidth = 500;  // widest line of a tool tip

// Breaks a text into lines no wider than `width`, at blanks where it can.
QString Wrapped(const QString& text, const QFontMetrics& fm, int width) {
  if (fm.horizontalAdvance(text) <= width) return text;
  QString out;
  QString line;
  int lastBlank = -1;  // in `line`
  for (QChar c : text) {
    line += c;
    if (c == ' ') lastBlank = static_cast<int>(line.size()) - 1;
    if (fm.horizontalAdvance(line) <= width) continue;
    if (lastBlank > 0) {
      out += line.left(lastBlank) + '\n';
      line = line.mid(lastBlank + 1);
    } else {
      out += line.left(line.size() - 1) + '\n';
      line = line.right(1);
    }
    lastBlank = static_cast<int>(line.lastIndexOf(' '));
  }
  return out + line;
}

}  // namespace

// ---------------------------------------------------------------------------

int OutputModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(lines_.size());
}

QVariant OutputModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rowCount()) return {};
  const Line& l = line(index.row());
  switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole:
      return l.text;
    case OutputPane::kColouredRole:
      return l.coloured;
    case OutputPane::kTextColourRole:
      return l.textColour;
    case OutputPane::kBackColourRole:
      return l.backColour;
    default:
      return {};
  }
}

int OutputModel::Append(std::deque<OutputLine> lines, std::size_t cap) {
  if (lines.empty()) return 0;
  // One at a time, a line is dropped whenever more than `cap` are held, so at
  // most cap + 1 remain: the newest of those held and those coming.
  const std::size_t keep = cap + 1;
  const std::size_t held = lines_.size();
  const std::size_t total = held + lines.size();
  const std::size_t excess = total > keep ? total - keep : 0;
  const std::size_t removeHeld = std::min(excess, held);
  const std::size_t skipComing = excess - removeHeld;

  if (removeHeld > 0) {
    beginRemoveRows({}, 0, static_cast<int>(removeHeld) - 1);
    lines_.erase(lines_.begin(), lines_.begin() + static_cast<std::ptrdiff_t>(removeHeld));
    endRemoveRows();
  }
  const int first = static_cast<int>(lines_.size());
  const int n = static_cast<int>(lines.size() - skipComing);
  beginInsertRows({}, first, first + n - 1);
  for (std::size_t i = skipComing; i < lines.size(); ++i) {
    const OutputLine& in = lines[i];
    Line l;
    l.text = QString::fromUtf8(in.text.data(), static_cast<qsizetype>(in.text.size()));
    l.coloured = in.coloured;
    l.textColour = ToQ(in.coloured ? in.textColour : kBlack);
    l.backColour = ToQ(in.coloured ? in.backColour : kWhite);
    lines_.push_back(std::move(l));
  }
  endInsertRows();
  return static_cast<int>(removeHeld);
}

QString OutputItem::text() const {
  return model_->line(row_).text;
}

QVariant OutputItem::data(int role) const {
  return model_->data(model_->index(row_), role);
}

// ---------------------------------------------------------------------------

OutputPane::OutputPane(QWidget* parent) : QListView(parent), model_(new OutputModel(this)) {
  setModel(model_);
  setItemDelegate(new OutputLineDelegate(this));
  setFont(QFontDatabase::systemFont(QFontDatabase::GeneralFont));
  // Long lines are cut with an ellipsis, so there is nothing to scroll to.
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  setUniformItemSizes(true);
  setSelectionMode(QAbstractItemView::ExtendedSelection);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  flushTimer_.setSingleShot(true);
  flushTimer_.setInterval(kFlushDelayMs);
  connect(&flushTimer_, &QTimer::timeout, this, &OutputPane::Flush);
}

OutputPane::~OutputPane() {
  std::lock_guard lock(pendingMutex_);
  pending_.clear();
  flushPosted_ = true;  // nothing is posted to a pane that is going
}

void OutputPane::AppendLine(const OutputLine& line) {
  Flush();
  std::deque<OutputLine> one;
  one.push_back(line);
  Insert(std::move(one));
}

void OutputPane::PostLine(const OutputLine& line) {
  if (QThread::currentThread() == thread()) {
    AppendLine(line);
    return;
  }
  std::lock_guard lock(pendingMutex_);
  pending_.push_back(line);
  // A line that cap + 1 newer lines will push out never becomes a row.
  if (pending_.size() > kOutputLineCap + 1) pending_.pop_front();
  if (flushPosted_) return;
  flushPosted_ = true;
  QMetaObject::invokeMethod(this, &OutputPane::ScheduleFlush, Qt::QueuedConnection);
}

void OutputPane::ScheduleFlush() {
  if (!flushTimer_.isActive()) flushTimer_.start();
}

void OutputPane::Flush() {
  std::deque<OutputLine> lines;
  {
    std::lock_guard lock(pendingMutex_);
    if (pending_.empty()) return;
    lines.swap(pending_);
    flushPosted_ = false;
  }
  flushTimer_.stop();
  Insert(std::move(lines));
}

bool OutputPane::Following() const {
  const QScrollBar* bar = verticalScrollBar();
  return bar->value() >= bar->maximum();
}

void OutputPane::Insert(std::deque<OutputLine> lines) {
  executeDelayedItemsLayout();  // the scroll range of the rows held so far
  const bool follow = Following();
  // The newest line is selected as it comes, unless the person chose lines.
  const int last = model_->rowCount() - 1;
  const QItemSelectionModel* sel = selectionModel();
  const bool ownSelection =
      !sel->hasSelection() ||
      (currentIndex().row() == last && sel->selection().size() == 1 &&
       sel->selection().front().height() == 1 && sel->isRowSelected(last, {}));

  const int removed = model_->Append(std::move(lines), kOutputLineCap);

  if (follow) {
    if (ownSelection) {
      selectionModel()->setCurrentIndex(model_->index(model_->rowCount() - 1),
                                        QItemSelectionModel::ClearAndSelect);
    }
    scrollToBottom();
  } else if (removed > 0) {
    // The rows in view moved up by the rows dropped: keep them in view.
    QScrollBar* bar = verticalScrollBar();
    const int step = verticalScrollMode() == ScrollPerItem ? 1 : std::max(1, sizeHintForRow(0));
    bar->setValue(std::max(0, bar->value() - removed * step));
  }
}

int OutputPane::count() {
  Flush();
  return model_->rowCount();
}

OutputItem OutputPane::item(int row) {
  Flush();
  return OutputItem(model_, row);
}

QString OutputPane::ShownText(int row) const {
  if (row < 0 || row >= model_->rowCount()) return {};
  return OutputLineDelegate::Elided(model_->line(row).text, fontMetrics(), viewport()->width());
}

QString OutputPane::ToolTipText(int row) const {
  if (row < 0 || row >= model_->rowCount()) return {};
  return Wrapped(model_->line(row).text, QFontMetrics(QToolTip::font()), kToolTipWidth);
}

bool OutputPane::viewportEvent(QEvent* event) {
  if (event->type() == QEvent::ToolTip) {
    auto* help = static_cast<QHelpEvent*>(event);
    const QModelIndex index = indexAt(help->pos());
    if (index.isValid()) {
      QToolTip::showText(help->globalPos(), ToolTipText(index.row()), viewport(),
                         visualRect(index));
    } else {
      QToolTip::hideText();  // below the last line
    }
    return true;
  }
  return QListView::viewportEvent(event);
}

QString OutputPane::SelectedText() const {
  QModelIndexList rows = selectionModel()->selectedRows();
  std::sort(rows.begin(), rows.end(),
            [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
  QStringList texts;
  for (const QModelIndex& i : rows)
    texts << model_->line(i.row()).text;
  return texts.join('\n');
}

void OutputPane::CopySelection() {
  const QString text = SelectedText();
  if (!text.isEmpty()) QApplication::clipboard()->setText(text);
}

bool OutputPane::SaveLog(const QString& path) {
  Flush();
  QSaveFile file(path);
  bool ok = file.open(QIODevice::WriteOnly | QIODevice::Text);
  for (int r = 0; ok && r < model_->rowCount(); ++r) {
    const QByteArray bytes = model_->line(r).text.toUtf8() + '\n';
    ok = file.write(bytes) == bytes.size();
  }
  if (ok) ok = file.commit();
  if (!ok) {
    QMessageBox::critical(
        this, tr("Save Log"),
        tr("The log could not be saved to %1:\n%2").arg(path, file.errorString()));
  }
  return ok;
}

void OutputPane::SaveLogAs() {
  const QString path =
      QFileDialog::getSaveFileName(this, tr("Save Log"), QStringLiteral("migrator.log"),
                                   tr("Log files (*.log *.txt);;All files (*)"));
  if (!path.isEmpty()) SaveLog(path);
}

void OutputPane::contextMenuEvent(QContextMenuEvent* event) {
  Flush();
  QMenu menu(this);
  QAction* copy = menu.addAction(tr("&Copy"), this, &OutputPane::CopySelection);
  copy->setShortcut(QKeySequence::Copy);
  copy->setEnabled(selectionModel()->hasSelection());
  QAction* all = menu.addAction(tr("Select &All"), this, &QAbstractItemView::selectAll);
  all->setShortcut(QKeySequence::SelectAll);
  all->setEnabled(model_->rowCount() > 0);
  menu.addSeparator();
  menu.addAction(tr("&Save Log..."), this, &OutputPane::SaveLogAs);
  menu.exec(event->globalPos());
}

void OutputPane::keyPressEvent(QKeyEvent* event) {
  if (event->matches(QKeySequence::Copy)) {
    CopySelection();
    return;
  }
  QListView::keyPressEvent(event);
}

// ---------------------------------------------------------------------------

QString OutputLineDelegate::Elided(const QString& text, const QFontMetrics& fm, int width) {
  return fm.elidedText(text, Qt::ElideRight, std::max(0, width - kIndent - 2));
}

QSize OutputLineDelegate::sizeHint(const QStyleOptionViewItem& option,
                                   const QModelIndex& /*index*/) const {
  // Every line is one text line high; the width is the pane's.
  return QSize(1, option.fontMetrics.height() + 2);
}

void OutputLineDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                               const QModelIndex& index) const {
  bool coloured = index.data(OutputPane::kColouredRole).toBool();
  QColor text = index.data(OutputPane::kTextColourRole).value<QColor>();
  QColor back = index.data(OutputPane::kBackColourRole).value<QColor>();
  if (option.state & QStyle::State_Selected) {
    if (coloured) {
      std::swap(text, back);
    } else {
      text = Qt::white;
      back = ToQ(kSelectionBlue);
    }
  }
  painter->save();
  painter->fillRect(option.rect, back);
  painter->setPen(text);
  painter->setFont(option.font);
  const QRect r = option.rect.adjusted(kIndent, 0, 0, 0);
  const QString shown =
      Elided(index.data(Qt::DisplayRole).toString(), option.fontMetrics, option.rect.width());
  painter->drawText(r, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, shown);
  painter->restore();
}

}  // namespace migrator::gui
