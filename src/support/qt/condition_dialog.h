#pragma once
// The migration condition dialog of one source table: the condition (an SQL
// WHERE clause), the table's columns for reference (a double click puts a
// name into the condition), the test result, and the Test, Save and Close
// buttons. Its logic is ConditionEditor's; the count runs on the source
// tree's session. The source tree's "Migration Condition" command opens it
// for the selected table (browser/tree_commands.h, TreeHost::OpenCondition).
//
// Object names for tests and scripts: statementLabel, conditionEdit,
// columnList, resultEdit, testButton, saveButton, closeButton.

#include <QDialog>
#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <string>

#include "support/condition_editor.h"

namespace migrator {
class Workspace;
}

namespace migrator::gui {

class ConditionDialog : public QDialog {
  Q_OBJECT
 public:
  ConditionDialog(Workspace& ws, std::string database, std::string table,
                  QWidget* parent = nullptr);

  ConditionEditor& editor() { return editor_; }

 private:
  void ShowResult();

  ConditionEditor editor_;
  QPlainTextEdit* condition_ = nullptr;
  QPlainTextEdit* result_ = nullptr;
  QListWidget* columns_ = nullptr;
  QPushButton* save_ = nullptr;
};

}  // namespace migrator::gui
