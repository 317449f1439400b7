#pragma once
// The migration condition dialog of one source table: the condition (an SQL
// WHERE clause), the table's columns for reference (a double click puts a
// name into the condition), the test result, and the Test, Save and Close
// buttons. Its logic is ConditionEditor's; the count runs on the source
// tree's session. The source tree's "Migration Condition" command opens it
// for the selected table (browser/tree_commands.h, TreeHost::OpenCondition).
//
// The count runs on a thread of its own: meanwhile the dialog says that it
// is testing, with a busy bar, and only Close can be used. Close then ends
// the wait: the dialog goes away at once and the count's answer, when it
// comes, is dropped. The dialog object itself stays until the count has
// ended (TestRunning); the window deletes it then.
//
// Object names for tests and scripts: statementLabel, conditionEdit,
// columnList, resultEdit, testBusy, testButton, saveButton, closeButton.

#include <QDialog>
#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <functional>
#include <string>
#include <thread>

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
  // Waits for a count that is still running.
  ~ConditionDialog() override;

  ConditionEditor& editor() { return editor_; }
  // A count is running (also after the dialog was closed).
  bool TestRunning() const { return worker_.joinable() && !testEnded_; }

 signals:
  // The count ended, its answer taken or, after Close, dropped.
  void TestEnded();

 protected:
  void done(int result) override;

 private:
  void SetBusyCursor(bool busy);
  void ShowResult();
  // Counts on the worker thread; `then` runs on the window thread with the
  // result taken, unless the dialog was closed meanwhile.
  void StartTest(const QString& condition, std::function<void()> then);
  void SetTesting(bool testing);

  ConditionEditor editor_;
  ConditionEditor::Query query_;
  QPlainTextEdit* condition_ = nullptr;
  QPlainTextEdit* result_ = nullptr;
  QProgressBar* busy_ = nullptr;
  QListWidget* columns_ = nullptr;
  QPushButton* test_ = nullptr;
  QPushButton* save_ = nullptr;
  std::thread worker_;
  bool testEnded_ = false;
  bool busyCursor_ = false;
};

}  // namespace migrator::gui
