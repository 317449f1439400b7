#pragma once
// Windows that fit their screen. On a small screen, or one whose scale
// factor makes it small, no window opens larger than the screen's available
// area; a dialog's body scrolls then while its buttons stay in view below it.

#include <QScrollArea>
#include <QSize>
#include <QWidget>

namespace migrator::gui {

// The room a window may take on the screen it shows on (or would show on):
// the available area less what a desktop's window frame takes around it.
QSize ScreenRoom(const QWidget* window);

// When a top-level window is first shown: sizes it to `size` (a width or
// height of 0: its size hint's) within ScreenRoom, keeps it from growing
// past that, and moves it wholly onto the screen.
void FitToScreen(QWidget* window, QSize size = {});

// A dialog's body in a frameless scroll area. The area asks for the body's
// whole size, so that on a screen with room the dialog looks as it would
// without it; it may shrink to a few lines, the rest then scrolls.
class FittingScrollArea : public QScrollArea {
  Q_OBJECT
 public:
  explicit FittingScrollArea(QWidget* body, QWidget* parent = nullptr);
  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
};

}  // namespace migrator::gui
