#pragma once
// The connection configuration dialog ("Config"): the source and target
// sides' fields, the options and the Test Connections, Save Config,
// Connect and Close buttons. Its logic is ConnectionConfig's; the dialog
// shows that state and reads its controls back before every action.
//
// Controls carry object names for tests and scripts: for each side ("source",
// "target") <side>Kind, <side>Provider, <side>SourceName, <side>SourceNameLabel,
// <side>Browse, <side>UserId, <side>Password, <side>Catalog; and configOption,
// autoBackupOption, tipsOption, the migration options replaceWorkbookOption,
// replaceTablesOption, typedOption, splitSheetsOption and filtersOption,
// testButton, saveButton, connectButton, closeButton.

#include <QAbstractItemView>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QToolButton>
#include <functional>

#include "config/connection_config.h"

namespace migrator::gui {

// A combo box that asks before it drops its list down: the workbook provider
// shows a file chooser in its place.
class SourceNameCombo : public QComboBox {
  Q_OBJECT
 public:
  using QComboBox::QComboBox;
  std::function<bool()> beforePopup;  // true: handled, no list
  void showPopup() override;
};

class ConnectionConfigDialog : public QDialog {
  Q_OBJECT
 public:
  ConnectionConfigDialog(Workspace& ws, QWidget* parent = nullptr);
  ConnectionConfigDialog(Workspace& ws, ConnectionConfigServices services,
                         QWidget* parent = nullptr);

  ConnectionConfig& model() { return model_; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;

 private:
  struct Side {
    QGroupBox* group = nullptr;
    QComboBox* kind = nullptr;
    QComboBox* provider = nullptr;
    QLabel* sourceNameLabel = nullptr;
    SourceNameCombo* sourceName = nullptr;
    QToolButton* browse = nullptr;
    QLineEdit* userId = nullptr;
    QLineEdit* password = nullptr;
    QLineEdit* catalog = nullptr;
  };

  void Build();
  QGroupBox* BuildSide(DataSourceSide side, const char* name);
  Side& SideOf(DataSourceSide side) { return sides_[side == DataSourceSide::Source ? 0 : 1]; }
  // The model's state into the controls, and the controls' texts back.
  void ShowState();
  void ShowSide(DataSourceSide side);
  void ReadControls();
  // The migration options' boxes into the model.
  void ReadMigrationOptions();

  ConnectionConfig model_;
  Side sides_[2];
  QCheckBox* configOption_ = nullptr;
  QCheckBox* autoBackupOption_ = nullptr;
  QCheckBox* tipsOption_ = nullptr;
  QCheckBox* replaceWorkbookOption_ = nullptr;
  QCheckBox* replaceTablesOption_ = nullptr;
  QCheckBox* typedOption_ = nullptr;
  QCheckBox* splitSheetsOption_ = nullptr;
  QCheckBox* filtersOption_ = nullptr;
};

}  // namespace migrator::gui
