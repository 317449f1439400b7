#include "support/qt/condition_dialog.h"

#include <QFontDatabase>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QVBoxLayout>
#include <algorithm>

#include "app/qt/off_window_thread.h"
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
              SourceCount(ws)) {
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
  result_ = new QPlainTextEdit(this);
  result_->setObjectName("resultEdit");
  result_->setReadOnly(true);
  result_->setMaximumHeight(fontMetrics().lineSpacing() * 4 + 12);
  grid->addWidget(result_, 4, 0);

  auto* test = new QPushButton(tr("Test"), this);
  save_ = new QPushButton(tr("Save"), this);
  auto* close = new QPushButton(tr("Close"), this);
  test->setObjectName("testButton");
  save_->setObjectName("saveButton");
  close->setObjectName("closeButton");
  test->setDefault(true);
  save_->setEnabled(false);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(test);
  buttons->addWidget(save_);
  buttons->addWidget(close);
  grid->addLayout(buttons, 5, 0, 1, 2);
  grid->setRowStretch(2, 1);
  grid->setColumnStretch(0, 1);

  connect(test, &QPushButton::clicked, this, [this] {
    // Counting the rows of a large table can take a while.
    const std::string condition = condition_->toPlainText().toStdString();
    gui::RunOffWindowThread(this, [this, &condition] { editor_.Test(condition); });
    ShowResult();
  });
  connect(save_, &QPushButton::clicked, this, [this] {
    if (editor_.Save(condition_->toPlainText().toStdString())) {
      condition_->setPlainText(Q(editor_.condition()));
    }
    ShowResult();
  });
  connect(close, &QPushButton::clicked, this, &QDialog::reject);
  setTabOrder(condition_, test);
  setTabOrder(test, save_);
  setTabOrder(save_, close);
  setTabOrder(close, columns_);
  condition_->setFocus();
  resize(560, 340);
}

void ConditionDialog::ShowResult() {
  QString text = Q(editor_.result());
  text.replace("\r\n", "\n");
  result_->setPlainText(text);
  save_->setEnabled(editor_.saveEnabled());
}

}  // namespace migrator::gui
