#include "browser/qt/charset_dialog.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "app/qt/fit_screen.h"
#include "browser/charsets.h"

namespace migrator::gui {

namespace {
constexpr int kRowsPerColumn = 12;
}

CharsetDialog::CharsetDialog(const std::string& current, QWidget* parent)
    : CharsetDialog(current, OfferedCharsets({}), parent) {}

CharsetDialog::CharsetDialog(const std::string& current, std::vector<CharsetChoice> choices,
                             QWidget* parent)
    : QDialog(parent),
      choices_(std::move(choices)),
      group_(new QButtonGroup(this)),
      choice_(current) {
  setWindowTitle("Change Charset");
  setModal(true);
  auto* layout = new QVBoxLayout(this);
  // The sets scroll on a screen too small for them; the buttons stay below.
  auto* body = new QWidget(this);
  auto* grid = new QGridLayout(body);
  grid->setContentsMargins(0, 0, 0, 0);
  grid->setHorizontalSpacing(14);
  grid->setVerticalSpacing(2);
  for (int i = 0; i < static_cast<int>(choices_.size()); ++i) {
    auto* button = new QRadioButton(QString::fromStdString(choices_[i].button), this);
    auto* description = new QLabel(QString::fromStdString(choices_[i].description), this);
    description->setEnabled(false);
    const int row = i % kRowsPerColumn;
    const int column = (i / kRowsPerColumn) * 2;
    grid->addWidget(button, row, column);
    grid->addWidget(description, row, column + 1);
    group_->addButton(button, i);
  }
  if (QAbstractButton* preset = group_->button(ChoiceIndex(choices_, current)))
    preset->setChecked(true);
  connect(group_, &QButtonGroup::idClicked, this, [this](int id) {
    if (id >= 0 && id < static_cast<int>(choices_.size())) choice_ = choices_[id].name;
  });
  layout->addWidget(new FittingScrollArea(body, this), 1);

  auto* box = new QDialogButtonBox(this);
  box->addButton("Select", QDialogButtonBox::AcceptRole);
  box->addButton("Cancel", QDialogButtonBox::RejectRole);
  connect(box, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(box, &QDialogButtonBox::rejected, this, &QDialog::reject);
  layout->addWidget(box);
  FitToScreen(this);
}

void CharsetDialog::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) {
    grab_ = event->globalPosition().toPoint() - frameGeometry().topLeft();
    event->accept();
    return;
  }
  QDialog::mousePressEvent(event);
}

void CharsetDialog::mouseMoveEvent(QMouseEvent* event) {
  if (event->buttons() & Qt::LeftButton) {
    move(event->globalPosition().toPoint() - grab_);
    event->accept();
    return;
  }
  QDialog::mouseMoveEvent(event);
}

}  // namespace migrator::gui
