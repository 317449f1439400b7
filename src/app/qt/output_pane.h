#pragma once
// The "Log" tab: the output lines, coloured, newest selected, at most 1001.

#include <QListWidget>
#include <QStyledItemDelegate>

#include "app/frontend.h"

namespace migrator::gui {

class OutputPane : public QListWidget {
  Q_OBJECT
 public:
  explicit OutputPane(QWidget* parent = nullptr);
  void AppendLine(const OutputLine& line);

  // Item data roles.
  static constexpr int kColouredRole = Qt::UserRole;
  static constexpr int kTextColourRole = Qt::UserRole + 1;
  static constexpr int kBackColourRole = Qt::UserRole + 2;
};

// Draws a line 5 pixels in; a selected coloured line swaps its colours, a
// selected plain line is white on blue.
class OutputLineDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;
  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override;
};

}  // namespace migrator::gui
