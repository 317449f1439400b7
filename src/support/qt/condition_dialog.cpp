#include "support/qt/condition_dialog.h"

#include <QFontDatabase>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QVBoxLayout>
#include <algorithm>

#include <QApplication>

#include "app/qt/fit_screen.h"
#include "app/workspace.h"
#include "oledb/operations.h"
#include "oledb/schema_reader.h"

namespace migrator::gui {

namespace {

QString Q(const std::string& s) {
  return QString::fromStdString(s);
}

ConditionEditor::Query SourceCount(Workspace& ws) {
  return [&ws](const std::string& statement) {
    return oledb::QuerySingleValue(ws.frontend(), ws.source.tree.SessionRef(), statement);
  };
}

// The table's columns in their order, from the source's column schema.
std::vector<std::string> SourceColumns(Workspace& ws, const std::string& database,
                                       const std::string& table) {
  oledb::ColumnsReader reader;
  std::vector<std::pair<std::uint32_t, std::string>> columns;
  if (hr::Failed(reader.Open(ws.source.tree.SessionRef(),
                             oledb::Restrictions()
                                 .Set(oledb::restriction::kTableCatalog, database)
                                 .Set(oledb::restriction::kTableName, table)))) {
    return {};
  }
  while (reader.MoveNext() == hr::S_OK)
    columns.emplace_back(reader.record().ordinalPosition, reader.record().columnName);
  std::stable_sort(columns.begin(), columns.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<std::string> names;
  for (auto& c : columns)
    names.push_back(std::move(c.second));
  return names;
}

}  // namespace

ConditionDialog::ConditionDialog(Workspace& ws, std::string database, std::string table,
                                 QWidget* parent)
    : QDialog(parent),
      editor_(ws.programDir(), std::move(database), std::move(table), ws.frontend(),
              SourceCount(ws)),
      query_(SourceCount(ws)) {
  setWindowTitle(tr("Migration Condition - %1.%2").arg(Q(editor_.database()), Q(editor_.table())));
  auto* grid = new QGridLayout(this);

  grid->addWidget(new QLabel(tr("Condition(SQL WHERE clause):"), this), 0, 0);
  auto* statement = new QLabel(Q(editor_.StatementLabel()), this);
  statement->setObjectName("statementLabel");
  statement->setTextInteractionFlags(Qt::TextSelectableByMouse);
  grid->addWidget(statement, 1, 0);
  const QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  statement->setFont(fixed);
  condition_ = new QPlainTextEdit(this);
  condition_->setObjectName("conditionEdit");
  condition_->setFont(fixed);
  condition_->setTabChangesFocus(true);
  condition_->setPlainText(Q(editor_.condition()));
  condition_->setPlaceholderText(tr("e.g. id > 10 (empty: every row is copied)"));
  grid->addWidget(condition_, 2, 0);

  auto* columnsLabel = new QLabel(tr("Columns:"), this);
  grid->addWidget(columnsLabel, 0, 1, 2, 1, Qt::AlignBottom);
  columns_ = new QListWidget(this);
  columns_->setObjectName("columnList");
  columns_->setToolTip(tr("Double-click a column to put its name into the condition"));
  for (const auto& name : SourceColumns(ws, editor_.database(), editor_.table()))
    columns_->addItem(Q(name));
  columns_->setMaximumWidth(200);
  grid->addWidget(columns_, 2, 1, 3, 1);
  columnsLabel->setBuddy(columns_);
  connect(columns_, &QListWidget::itemDoubleClicked, this, [this](QListWidgetItem* item) {
    condition_->insertPlainText(item->text());
    condition_->setFocus();
  });

  grid->addWidget(new QLabel(tr("Result:"), this), 3, 0);
  // Room for a server's error message: it wraps and the box grows with the
  // dialog.
  result_ = new QPlainTextEdit(this);
  result_->setObjectName("resultEdit");
  result_->setReadOnly(true);
  result_->setMinimumHeight(fontMetrics().lineSpacing() * 5 + 12);
  grid->addWidget(result_, 4, 0);
  busy_ = new QProgressBar(this);
  busy_->setObjectName("testBusy");
  busy_->setRange(0, 0);  // moving: no end is known
  busy_->setTextVisible(false);
  busy_->setMaximumHeight(fontMetrics().height());
  busy_->hide();
  grid->addWidget(busy_, 5, 0);

  test_ = new QPushButton(tr("Test"), this);
  save_ = new QPushButton(tr("Save"), this);
  auto* close = new QPushButton(tr("Close"), this);
  test_->setObjectName("testButton");
  save_->setObjectName("saveButton");
  close->setObjectName("closeButton");
  test_->setDefault(true);
  save_->setEnabled(false);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(test_);
  buttons->addWidget(save_);
  buttons->addWidget(close);
  grid->addLayout(buttons, 6, 0, 1, 2);
  grid->setRowStretch(2, 3);
  grid->setRowStretch(4, 2);
  grid->setColumnStretch(0, 1);

  connect(test_, &QPushButton::clicked, this,
          [this] { StartTest(condition_->toPlainText(), [this] { ShowResult(); }); });
  connect(save_, &QPushButton::clicked, this, [this] {
    const std::string text = condition_->toPlainText().toStdString();
    auto save = [this, text] {
      if (editor_.Save(text)) condition_->setPlainText(Q(editor_.condition()));
      ShowResult();
    };
    // A condition edited since its test is counted first, here as by Test.
    if (editor_.SaveNeedsTest(text))
      StartTest(condition_->toPlainText(), save);
    else
      save();
  });
  connect(close, &QPushButton::clicked, this, &QDialog::reject);
  setTabOrder(condition_, test_);
  setTabOrder(test_, save_);
  setTabOrder(save_, close);
  setTabOrder(close, columns_);
  condition_->setFocus();
  FitToScreen(this, QSize(600, 420));
}

ConditionDialog::~ConditionDialog() {
  SetBusyCursor(false);
  if (worker_.joinable()) worker_.join();
}

void ConditionDialog::done(int result) {
  // Closed while counting: the wait ends here, the answer is dropped.
  SetBusyCursor(false);
  QDialog::done(result);
}

void ConditionDialog::SetBusyCursor(bool busy) {
  if (busy == busyCursor_) return;
  busyCursor_ = busy;
  if (busy)
    QApplication::setOverrideCursor(Qt::BusyCursor);
  else
    QApplication::restoreOverrideCursor();
}

void ConditionDialog::SetTesting(bool testing) {
  condition_->setReadOnly(testing);
  columns_->setEnabled(!testing);
  test_->setEnabled(!testing);
  if (testing) save_->setEnabled(false);
  busy_->setVisible(testing);
  SetBusyCursor(testing && isVisible());
}

void ConditionDialog::StartTest(const QString& condition, std::function<void()> then) {
  if (TestRunning()) return;
  if (worker_.joinable()) worker_.join();  // an earlier count, ended
  const std::string text = condition.toStdString();
  const std::string statement = editor_.TestStatement(text);
  result_->setPlainText(tr("Testing: counting the rows of %1.%2 that the condition selects...\n"
                           "Close stops waiting for the answer.")
                            .arg(Q(editor_.database()), Q(editor_.table())));
  SetTesting(true);
  testEnded_ = false;
  // The count may take long on a large table or a slow condition; the
  // window goes on meanwhile.
  worker_ = std::thread([this, statement, text, then = std::move(then)] {
    std::string answer = query_ ? query_(statement) : std::string("No Connection!");
    QMetaObject::invokeMethod(
        this,
        [this, answer = std::move(answer), text, then] {
          testEnded_ = true;
          SetTesting(false);
          if (isVisible()) {
            editor_.TakeAnswer(text, answer);
            then();
          }
          emit TestEnded();
        },
        Qt::QueuedConnection);
  });
}

void ConditionDialog::ShowResult() {
  QString text = Q(editor_.result());
  text.replace("\r\n", "\n");
  result_->setPlainText(text);
  save_->setEnabled(editor_.saveEnabled());
}

}  // namespace migrator::gui
