#pragma once
// The "Log" tab: one line per message, coloured by its kind, at most 1001.
//
// Lines written on the window thread appear at once. Lines from other threads
// are collected under a lock and inserted together, one model update per
// flush, so a worker writing thousands of lines a second costs the window a
// few short updates a second rather than one event per line. Of a burst
// larger than the cap only the newest lines are kept waiting (the writer
// drops the older ones), so neither the queue nor a flush grows with it.
//
// The view follows the newest line while it is scrolled to the bottom; a
// person who scrolled up keeps the lines they are reading in view. A line
// wider than the pane is cut with an ellipsis; its tool tip shows it whole.

#include <QAbstractListModel>
#include <QColor>
#include <QListView>
#include <QStyledItemDelegate>
#include <QTimer>
#include <deque>
#include <mutex>
#include <vector>

#include "app/frontend.h"

namespace migrator::gui {

// The lines the pane holds, oldest first.
class OutputModel : public QAbstractListModel {
  Q_OBJECT
 public:
  struct Line {
    QString text;
    bool coloured = false;
    QColor textColour;
    QColor backColour;
  };

  using QAbstractListModel::QAbstractListModel;
  int rowCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;

  // Appends the lines in order, as if one at a time with the cap's rule (more
  // than `cap` lines held: the oldest goes first), in one removal and one
  // insertion. Returns the number of rows removed from the front.
  int Append(std::deque<OutputLine> lines, std::size_t cap);
  const Line& line(int row) const { return lines_[static_cast<std::size_t>(row)]; }

 private:
  std::deque<Line> lines_;
};

// One line as the tests and callers read it back.
class OutputItem {
 public:
  OutputItem(const OutputModel* model, int row) : model_(model), row_(row) {}
  QString text() const;
  QVariant data(int role) const;
  const OutputItem* operator->() const { return this; }

 private:
  const OutputModel* model_;
  int row_;
};

class OutputPane : public QListView {
  Q_OBJECT
 public:
  explicit OutputPane(QWidget* parent = nullptr);
  ~OutputPane() override;

  // Window thread: the line appears now (after any lines still queued).
  void AppendLine(const OutputLine& line);
  // Any thread: the line is queued and appears at the next flush, in order.
  // From the window thread it is the same as AppendLine.
  void PostLine(const OutputLine& line);
  // Inserts every queued line now.
  void Flush();

  // The lines held, with queued lines flushed first.
  int count();
  OutputItem item(int row);
  int currentRow() const { return currentIndex().row(); }
  OutputModel* lines() const { return model_; }

  // The text as drawn in the current width (elided when too wide).
  QString ShownText(int row) const;
  // The tool tip of a line: its full text, broken into lines of at most 500
  // pixels.
  QString ToolTipText(int row) const;
  // True while new lines scroll the pane (it is scrolled to the bottom).
  bool Following() const;

  // The selected lines' texts, one a line, in order.
  QString SelectedText() const;
  void CopySelection();
  // Writes every line held to `path` (UTF-8, one a line); on failure shows a
  // message box naming the file and the reason and returns false.
  bool SaveLog(const QString& path);
  // Asks for a file name, then SaveLog.
  void SaveLogAs();

  // Item data roles.
  static constexpr int kColouredRole = Qt::UserRole;
  static constexpr int kTextColourRole = Qt::UserRole + 1;
  static constexpr int kBackColourRole = Qt::UserRole + 2;

  // How long queued lines may wait for the next flush.
  static constexpr int kFlushDelayMs = 15;

 protected:
  bool viewportEvent(QEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void Insert(std::deque<OutputLine> lines);
  void ScheduleFlush();

  OutputModel* model_;
  QTimer flushTimer_;
  std::mutex pendingMutex_;
  std::deque<OutputLine> pending_;  // guarded by pendingMutex_; the newest cap + 1
  bool flushPosted_ = false;        // guarded by pendingMutex_
};

// Draws a line 5 pixels in, cut with an ellipsis when too wide; a selected
// coloured line swaps its colours, a selected plain line is white on blue.
class OutputLineDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;
  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override;
  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

  // The text that fits `width` pixels after the 5-pixel indent.
  static QString Elided(const QString& text, const QFontMetrics& fm, int width);
};

}  // namespace migrator::gui
