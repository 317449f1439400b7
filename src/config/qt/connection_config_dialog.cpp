#include "config/qt/connection_config_dialog.h"

#include <QEvent>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QMouseEvent>
#include <QStyle>
#include <QVBoxLayout>
#include <QWindow>
#include <algorithm>

#include "app/qt/fit_screen.h"
#include "app/qt/off_window_thread.h"

namespace migrator::gui {

namespace {

QString Q(const std::string& s) {
  return QString::fromStdString(s);
}
std::string S(const QString& s) {
  return s.toStdString();
}

// Selects the entry equal to `text` (without regard to case), or shows the
// text in the edit field when there is none.
void SelectOrShow(QComboBox* box, const std::string& text) {
  const int i = box->findText(Q(text), Qt::MatchFixedString);
  if (i >= 0) {
    box->setCurrentIndex(i);
  } else {
    box->setCurrentIndex(-1);
    box->setEditText(Q(text));
  }
}

void Fill(QComboBox* box, const std::vector<std::string>& entries) {
  box->clear();
  int widest = 0;
  for (const auto& e : entries) {
    box->addItem(Q(e));
    widest = std::max(widest, box->fontMetrics().horizontalAdvance(Q(e)));
  }
  // A long path fits into the drop-down list even when the box is narrower.
  const int frame = 4 * box->style()->pixelMetric(QStyle::PM_DefaultFrameWidth);
  box->view()->setMinimumWidth(widest + frame +
                               box->style()->pixelMetric(QStyle::PM_ScrollBarExtent) + 1);
}

}  // namespace

void SourceNameCombo::showPopup() {
  if (beforePopup && beforePopup()) return;
  QComboBox::showPopup();
}

ConnectionConfigDialog::ConnectionConfigDialog(Workspace& ws, QWidget* parent)
    : ConnectionConfigDialog(ws, DefaultConnectionConfigServices(), parent) {}

ConnectionConfigDialog::ConnectionConfigDialog(Workspace& ws, ConnectionConfigServices services,
                                               QWidget* parent)
    : QDialog(parent), model_(ws, std::move(services)) {
  Build();
  model_.Open();
  ShowState();
  FitToScreen(this);
}

QGroupBox* ConnectionConfigDialog::BuildSide(DataSourceSide side, const char* name) {
  Side& s = SideOf(side);
  const QString prefix = QString::fromLatin1(name);
  s.group = new QGroupBox(this);
  auto* form = new QFormLayout(s.group);
  form->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);

  s.kind = new QComboBox(s.group);
  s.kind->setObjectName(prefix + "Kind");
  for (const char* kind : kDbmsKindNames)
    s.kind->addItem(QString::fromLatin1(kind));
  s.kind->setCurrentIndex(ConnectionConfig::KindIndex(side));
  s.kind->setEnabled(false);
  form->addRow(side == DataSourceSide::Source ? tr("Source DB:") : tr("Target DB:"), s.kind);

  s.provider = new QComboBox(s.group);
  s.provider->setObjectName(prefix + "Provider");
  s.provider->setEditable(true);
  s.provider->setInsertPolicy(QComboBox::NoInsert);
  s.provider->setMinimumContentsLength(28);
  form->addRow(tr("DB Provider:"), s.provider);
  connect(s.provider, &QComboBox::textActivated, this, [this, side](const QString& text) {
    ReadControls();
    model_.ChangeProvider(side, S(text));
    ShowSide(side);
  });

  s.sourceNameLabel = new QLabel(s.group);
  s.sourceNameLabel->setObjectName(prefix + "SourceNameLabel");
  s.sourceName = new SourceNameCombo(s.group);
  s.sourceName->setObjectName(prefix + "SourceName");
  s.sourceName->setEditable(true);
  s.sourceName->setInsertPolicy(QComboBox::NoInsert);
  s.sourceName->setMinimumContentsLength(24);
  s.sourceName->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  s.sourceName->beforePopup = [this, side] {
    ReadControls();
    if (!model_.OpenSourceNameList(side)) return false;
    ShowSide(side);
    return true;
  };
  s.sourceNameLabel->setBuddy(s.sourceName);
  s.browse = new QToolButton(s.group);
  s.browse->setObjectName(prefix + "Browse");
  s.browse->setIcon(style()->standardIcon(QStyle::SP_DirOpenIcon));
  s.browse->setToolTip(tr("Choose a workbook, or name a new one"));
  connect(s.browse, &QToolButton::clicked, this, [this, side] {
    ReadControls();
    if (model_.ChooseWorkbook(side)) ShowSide(side);
  });
  auto* nameRow = new QHBoxLayout;
  nameRow->setContentsMargins(0, 0, 0, 0);
  nameRow->addWidget(s.sourceName, 1);
  nameRow->addWidget(s.browse);
  form->addRow(s.sourceNameLabel, nameRow);
  // Only a file kind has workbooks to choose.
  s.browse->setVisible(side == DataSourceSide::Target);

  s.userId = new QLineEdit(s.group);
  s.userId->setObjectName(prefix + "UserId");
  form->addRow(tr("User ID:"), s.userId);
  s.password = new QLineEdit(s.group);
  s.password->setObjectName(prefix + "Password");
  s.password->setEchoMode(QLineEdit::Password);
  s.password->setInputMethodHints(Qt::ImhHiddenText | Qt::ImhNoPredictiveText |
                                  Qt::ImhNoAutoUppercase);
  form->addRow(tr("Password:"), s.password);
  s.catalog = new QLineEdit(s.group);
  s.catalog->setObjectName(prefix + "Catalog");
  s.catalog->installEventFilter(this);
  form->addRow(tr("Catalog Name:"), s.catalog);
  return s.group;
}

void ConnectionConfigDialog::Build() {
  setWindowTitle(QStringLiteral("Config"));
  auto* layout = new QVBoxLayout(this);
  // The fields and options scroll on a screen too small for them; the
  // buttons stay below, in view.
  auto* body = new QWidget(this);
  auto* fields = new QVBoxLayout(body);
  fields->setContentsMargins(0, 0, 0, 0);
  auto* sidesRow = new QHBoxLayout;
  sidesRow->addWidget(BuildSide(DataSourceSide::Source, "source"), 1);
  sidesRow->addWidget(BuildSide(DataSourceSide::Target, "target"), 1);
  fields->addLayout(sidesRow);

  auto* options = new QGroupBox(tr("Options"), this);
  auto* grid = new QGridLayout(options);
  replaceWorkbookOption_ = new QCheckBox(tr("Overwrite the same-name database"), options);
  replaceWorkbookOption_->setObjectName("replaceWorkbookOption");
  replaceWorkbookOption_->setToolTip(
      tr("Cloning a database onto a workbook that exists replaces it, after its Auto Backup "
         "copy; the old workbook stays until the clone is whole"));
  replaceTablesOption_ = new QCheckBox(tr("Overwrite the same-name table"), options);
  replaceTablesOption_->setObjectName("replaceTablesOption");
  replaceTablesOption_->setToolTip(
      tr("A table the workbook already has is replaced; its old rows stay until the new "
         "table is whole and saved"));
  typedOption_ = new QCheckBox(tr("Keep column types"), options);
  typedOption_->setObjectName("typedOption");
  typedOption_->setToolTip(
      tr("Numbers, dates, times and booleans arrive as such instead of as text"));
  splitSheetsOption_ = new QCheckBox(tr("Continue long tables on new sheets"), options);
  splitSheetsOption_->setObjectName("splitSheetsOption");
  splitSheetsOption_->setToolTip(
      tr("Rows beyond what a sheet holds go on in further tables, T (2), T (3), ..."));
  filtersOption_ = new QCheckBox(tr("Filter buttons on headers"), options);
  filtersOption_->setObjectName("filtersOption");
  filtersOption_->setToolTip(
      tr("Each table the migration makes gets filter buttons on its header row"));
  configOption_ = new QCheckBox(tr("Properties from and to config file"), options);
  configOption_->setObjectName("configOption");
  autoBackupOption_ = new QCheckBox(tr("Auto Backup (need more time and disk space)"), options);
  autoBackupOption_->setObjectName("autoBackupOption");
  tipsOption_ = new QCheckBox(tr("Display Tips"), options);
  tipsOption_->setObjectName("tipsOption");
  grid->addWidget(configOption_, 0, 0);
  grid->addWidget(autoBackupOption_, 1, 0);
  grid->addWidget(tipsOption_, 2, 0);
  grid->addWidget(replaceWorkbookOption_, 0, 1);
  grid->addWidget(replaceTablesOption_, 1, 1);
  grid->addWidget(typedOption_, 0, 2);
  grid->addWidget(splitSheetsOption_, 1, 2);
  grid->addWidget(filtersOption_, 2, 2);
  fields->addWidget(options);
  // Side by side when the screen has the room, one above the other when not.
  if (body->sizeHint().width() > ScreenRoom(this).width() - 2 * layout->contentsMargins().left())
    sidesRow->setDirection(QBoxLayout::TopToBottom);
  layout->addWidget(new FittingScrollArea(body, this), 1);
  for (QCheckBox* box : {replaceWorkbookOption_, replaceTablesOption_, typedOption_,
                         splitSheetsOption_, filtersOption_}) {
    connect(box, &QCheckBox::clicked, this, [this] { ReadMigrationOptions(); });
  }
  connect(configOption_, &QCheckBox::clicked, this,
          [this](bool on) { model_.SetConfigOption(on); });
  connect(autoBackupOption_, &QCheckBox::clicked, this,
          [this](bool on) { model_.SetAutoBackup(on); });
  connect(tipsOption_, &QCheckBox::clicked, this, [this](bool on) { model_.SetTips(on); });

  // The actions on the left, Connect and Close on the right, in that order
  // whatever the desktop's button order.
  auto* test = new QPushButton(tr("&Test Connections"), this);
  auto* save = new QPushButton(tr("Save Config"), this);
  auto* connectButton = new QPushButton(tr("Connect"), this);
  auto* close = new QPushButton(tr("Close"), this);
  test->setObjectName("testButton");
  save->setObjectName("saveButton");
  connectButton->setObjectName("connectButton");
  close->setObjectName("closeButton");
  connectButton->setDefault(true);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(test);
  buttons->addWidget(save);
  buttons->addStretch(1);
  buttons->addWidget(connectButton);
  buttons->addWidget(close);
  layout->addLayout(buttons);
  connect(test, &QPushButton::clicked, this, [this] {
    ReadControls();
    // A server that does not answer holds the test up to the login timeout.
    gui::RunOffWindowThread(this, [this] { model_.TestConnections(); });
  });
  connect(save, &QPushButton::clicked, this, [this] {
    ReadControls();
    model_.SaveConfig();
  });
  connect(connectButton, &QPushButton::clicked, this, [this] {
    ReadControls();
    model_.Connect();
    accept();
  });
  connect(close, &QPushButton::clicked, this, &QDialog::reject);

  // Tab order: each side top to bottom, the options, the buttons.
  QList<QWidget*> order;
  for (const Side& s : sides_) {
    order << s.provider << s.sourceName << s.browse << s.userId << s.password << s.catalog;
  }
  order << configOption_ << autoBackupOption_ << tipsOption_ << replaceWorkbookOption_
        << replaceTablesOption_ << typedOption_ << splitSheetsOption_ << filtersOption_ << test
        << save << connectButton << close;
  for (int i = 1; i < order.size(); ++i)
    setTabOrder(order[i - 1], order[i]);
  sides_[0].provider->setFocus();
}

void ConnectionConfigDialog::ShowSide(DataSourceSide side) {
  Side& s = SideOf(side);
  const ConfigSideLists& lists = model_.lists(side);
  const ConnectionFields& f = model_.fields(side);
  const QSignalBlocker block1(s.provider), block2(s.sourceName);
  s.group->setTitle(QString::fromLatin1(ConnectionConfig::KindName(side)));
  Fill(s.provider, lists.providers);
  SelectOrShow(s.provider, f.provider);
  s.sourceNameLabel->setText(Q(lists.sourceNameLabel));
  Fill(s.sourceName, lists.sourceNames);
  SelectOrShow(s.sourceName, f.sourceName);
  s.sourceName->setToolTip(Q(f.sourceName));
  s.browse->setEnabled(IsJetProviderText(f.provider));
  s.userId->setText(Q(f.userId));
  s.password->setText(Q(f.password));
  s.catalog->setText(Q(f.catalogName));
}

void ConnectionConfigDialog::ShowState() {
  ShowSide(DataSourceSide::Source);
  ShowSide(DataSourceSide::Target);
  const ConfigForm& form = model_.form();
  configOption_->setChecked(form.config);
  autoBackupOption_->setChecked(form.autoBackup);
  tipsOption_->setChecked(form.tips);
  replaceWorkbookOption_->setChecked(form.migration.replaceWorkbook);
  replaceTablesOption_->setChecked(form.migration.replaceTables);
  typedOption_->setChecked(form.migration.typed);
  splitSheetsOption_->setChecked(form.migration.splitSheets);
  filtersOption_->setChecked(form.migration.filters);
}

void ConnectionConfigDialog::ReadMigrationOptions() {
  MigrationOptions o = model_.form().migration;
  o.replaceWorkbook = replaceWorkbookOption_->isChecked();
  o.replaceTables = replaceTablesOption_->isChecked();
  o.typed = typedOption_->isChecked();
  o.splitSheets = splitSheetsOption_->isChecked();
  o.filters = filtersOption_->isChecked();
  model_.SetMigrationOptions(o);
}

void ConnectionConfigDialog::ReadControls() {
  for (DataSourceSide side : {DataSourceSide::Source, DataSourceSide::Target}) {
    const Side& s = SideOf(side);
    ConnectionFields& f = model_.fields(side);
    f.provider = S(s.provider->currentText());
    f.sourceName = S(s.sourceName->currentText());
    f.userId = S(s.userId->text());
    f.password = S(s.password->text());
    f.catalogName = S(s.catalog->text());
  }
}

bool ConnectionConfigDialog::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::MouseButtonDblClick) {
    for (DataSourceSide side : {DataSourceSide::Source, DataSourceSide::Target}) {
      if (watched != SideOf(side).catalog) continue;
      ReadControls();
      if (!model_.ChooseCatalogFile(side)) break;
      ShowSide(side);
      SideOf(side).catalog->setFocus();
      return true;
    }
  }
  return QDialog::eventFilter(watched, event);
}

void ConnectionConfigDialog::mousePressEvent(QMouseEvent* event) {
  // The dialog moves when dragged by any free point of it.
  if (event->button() == Qt::LeftButton && windowHandle()) {
    windowHandle()->startSystemMove();
    event->accept();
    return;
  }
  QDialog::mousePressEvent(event);
}

}  // namespace migrator::gui
