#include "app/qt/fit_screen.h"

#include <QApplication>
#include <QScreen>
#include <QScrollBar>
#include <QStyle>

namespace migrator::gui {

namespace {
// What a desktop's window frame takes: borders and a title bar.
constexpr QSize kFrame(16, 40);
}  // namespace

QSize ScreenRoom(const QWidget* window) {
  const QScreen* screen = window->screen();
  if (!screen) screen = QGuiApplication::primaryScreen();
  if (!screen) return QSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
  return (screen->availableGeometry().size() - kFrame).expandedTo(QSize(200, 150));
}

void FitToScreen(QWidget* window, QSize wanted) {
  const QSize room = ScreenRoom(window);
  if (wanted.isEmpty()) wanted = window->sizeHint();
  window->setMaximumSize(room);
  window->resize(wanted.expandedTo(window->minimumSizeHint()).boundedTo(room));
}

FittingScrollArea::FittingScrollArea(QWidget* body, QWidget* parent) : QScrollArea(parent) {
  setFrameShape(QFrame::NoFrame);
  setWidgetResizable(true);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  setWidget(body);
  body->setAutoFillBackground(false);
  viewport()->setAutoFillBackground(false);
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
