#pragma once
// The character-set dialog: one radio button per character set offered, in
// their order, each with its description; the button of the current name
// starts selected (none for a name not offered). Clicking a button makes its
// name the choice; "Select" accepts, "Cancel" rejects. The dialog can be
// dragged by any point of its client area.

#include <QButtonGroup>
#include <QDialog>
#include <QPoint>
#include <string>
#include <vector>

#include "browser/charsets.h"

namespace migrator::gui {

class CharsetDialog : public QDialog {
  Q_OBJECT
 public:
  // Offers the table's character sets.
  explicit CharsetDialog(const std::string& current, QWidget* parent = nullptr);
  CharsetDialog(const std::string& current, std::vector<CharsetChoice> choices,
                QWidget* parent = nullptr);

  // The chosen name ("LATIN1"); the current one until a button is clicked.
  const std::string& choice() const { return choice_; }
  QButtonGroup* buttons() const { return group_; }

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;

 private:
  std::vector<CharsetChoice> choices_;
  QButtonGroup* group_;
  std::string choice_;
  QPoint grab_;
};

}  // namespace migrator::gui
