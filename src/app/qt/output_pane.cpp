#include "app/qt/output_pane.h"

#include <QFontDatabase>
#include <QPainter>

#include "app/output.h"

namespace migrator::gui {

namespace {
QColor ToQ(Rgb c) {
  return QColor(c.r, c.g, c.b);
}
}  // namespace

OutputPane::OutputPane(QWidget* parent) : QListWidget(parent) {
  setItemDelegate(new OutputLineDelegate(this));
  setFont(QFontDatabase::systemFont(QFontDatabase::GeneralFont));
  setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  setUniformItemSizes(true);
  setSelectionMode(QAbstractItemView::SingleSelection);
}

void OutputPane::AppendLine(const OutputLine& line) {
  if (count() > static_cast<int>(kOutputLineCap)) delete takeItem(0);
  auto* item = new QListWidgetItem(QString::fromUtf8(line.text));
  item->setToolTip(item->text());
  item->setData(kColouredRole, line.coloured);
  item->setData(kTextColourRole, ToQ(line.coloured ? line.textColour : kBlack));
  item->setData(kBackColourRole, ToQ(line.coloured ? line.backColour : kWhite));
  addItem(item);
  setCurrentItem(item);
  scrollToItem(item);
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
  QRect r = option.rect.adjusted(5, 0, 0, 0);
  painter->drawText(r, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                    index.data(Qt::DisplayRole).toString());
  painter->restore();
}

}  // namespace migrator::gui
