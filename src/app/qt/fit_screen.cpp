#include "app/qt/fit_screen.h"

#include <QApplication>
#include <QEvent>
#include <QLayout>
#include <QScreen>
#include <QScrollBar>
#include <QStyle>
#include <algorithm>

namespace migrator::gui {

namespace {

// What a desktop's window frame takes: borders and a title bar.
constexpr QSize kFrame(16, 40);

QRect Available(const QWidget* window) {
  const QScreen* screen = window->screen();
  if (!screen) screen = QGuiApplication::primaryScreen();
  return screen ? screen->availableGeometry() : QRect();
}

// Sizes a window when it is first shown: then its widgets have the sizes
// they take on the screen (a combo box measures its entries only then), and
// it is placed where it will show.
class FitOnShow : public QObject {
 public:
  FitOnShow(QWidget* window, QSize size) : QObject(window), size_(size) {
    window->installEventFilter(this);
  }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched == parent() && event->type() == QEvent::Show) {
      auto* window = static_cast<QWidget*>(watched);
      window->removeEventFilter(this);
      // The layouts take the sizes the shown widgets ask for now.
      QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
      if (window->layout()) window->layout()->activate();
      const QSize room = ScreenRoom(window);
      window->setMaximumSize(room);
      // A width or height of 0 asks for the size hint's.
      const QSize hint = window->sizeHint();
      const QSize wanted(size_.width() > 0 ? size_.width() : hint.width(),
                         size_.height() > 0 ? size_.height() : hint.height());
      window->resize(wanted.expandedTo(window->minimumSizeHint()).boundedTo(room));
      // Wholly on the screen, its frame included.
      const QRect available = Available(window);
      if (available.isValid()) {
        QPoint at = window->pos();
        at.setX(std::clamp(
            at.x(), available.left(),
            std::max(available.left(), available.right() + 1 - window->width() - kFrame.width())));
        at.setY(std::clamp(at.y(), available.top(),
                           std::max(available.top(),
                                    available.bottom() + 1 - window->height() - kFrame.height())));
        window->move(at);
      }
      deleteLater();
    }
    return false;
  }

 private:
  QSize size_;
};

}  // namespace

QSize ScreenRoom(const QWidget* window) {
  const QRect available = Available(window);
  if (!available.isValid()) return QSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
  return (available.size() - kFrame).expandedTo(QSize(200, 150));
}

void FitToScreen(QWidget* window, QSize size) {
  new FitOnShow(window, size);
}

FittingScrollArea::FittingScrollArea(QWidget* body, QWidget* parent) : QScrollArea(parent) {
  setFrameShape(QFrame::NoFrame);
  setWidgetResizable(true);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  setWidget(body);
  body->setAutoFillBackground(false);
  viewport()->setAutoFillBackground(false);
  body->installEventFilter(this);
}

bool FittingScrollArea::eventFilter(QObject* watched, QEvent* event) {
  // The body asks for another size: so does the area, to the dialog's layout.
  if (watched == widget() && event->type() == QEvent::LayoutRequest) updateGeometry();
  return QScrollArea::eventFilter(watched, event);
}

QSize FittingScrollArea::sizeHint() const {
  if (!widget()) return QScrollArea::sizeHint();
  const int frame = 2 * frameWidth();
  return widget()->sizeHint() + QSize(frame, frame);
}

QSize FittingScrollArea::minimumSizeHint() const {
  const int bar = style()->pixelMetric(QStyle::PM_ScrollBarExtent);
  const int line = fontMetrics().height();
  return QSize(12 * line + bar, 4 * line + bar);
}

}  // namespace migrator::gui
