#include "config/qt/driver_check_dialog.h"

#include <QCommandLinkButton>
#include <QDialogButtonBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>

#include "app/frontend.h"
#include "app/qt/fit_screen.h"
#include "config/connection_config.h"

namespace migrator::gui {

namespace {

constexpr const char* kSourceNote =
    "Note: If there is no 'Usable' Driver, your computer can not connect to remote/local "
    "database. \tSo, your must install/repair at least one of them. ('Installed' but "
    "'Unusable' need repair.) \tYou can link to the authoritative site to get one. Or Press "
    "Button 'Install Mysql ODBC 3.51 Driver' to install from local.";
constexpr const char* kTargetNote =
    "Note: If there is no 'Usable' Driver, your computer can not connect to remote/local "
    "database. \tSo, your must install/repair at least one of them. ('Installed' but "
    "'Unusable' need repair.)\r\n\tIf have not a Setup Software, \tyou can link to the "
    "authoritative site to download.";
constexpr const char* kLinkTip = "Get Setup Program from Authoritative site";

QString NoteText(const char* note) {
  QString text = QString::fromLatin1(note);
  text.remove('\t');
  text.replace("\r\n", "\n");
  return text;
}

QColor UsabilityColour(const std::string& usability) {
  if (usability.rfind("Unusable", 0) == 0) return QColor(255, 0, 0);
  if (usability.rfind("Usable", 0) == 0) return QColor(0, 255, 0);
  return {};
}

}  // namespace

DriverCheckDialog::DriverCheckDialog(Frontend& ui, std::string programDir, QWidget* parent)
    : DriverCheckDialog(ui, std::move(programDir), DriverCheckEnvironment::FromProcess(), parent) {}

DriverCheckDialog::DriverCheckDialog(Frontend& ui, std::string programDir,
                                     DriverCheckEnvironment env, QWidget* parent)
    : QDialog(parent), ui_(ui), programDir_(std::move(programDir)), env_(std::move(env)) {
  setWindowTitle(tr("ODBC Driver/OLEDB Provider Check"));
  auto* layout = new QVBoxLayout(this);
  // The sections scroll on a screen too small for them; the buttons stay
  // below, in view.
  auto* body = new QWidget(this);
  auto* sections = new QVBoxLayout(body);
  sections->setContentsMargins(0, 0, 0, 0);
  sections->addWidget(BuildSection(QStringLiteral("MySQL"),
                                   CheckDialogSourceRows(SourceProbe(env_)), "sourceRows", true));
  sections->addWidget(BuildSection(QStringLiteral("Excel"), ParseProbeRows(TargetProbe(env_)),
                                   "targetRows", false));
  layout->addWidget(new FittingScrollArea(body, this), 1);

  auto* buttons = new QDialogButtonBox(this);
  auto* open = buttons->addButton(tr("Open Config"), QDialogButtonBox::AcceptRole);
  auto* cancel = buttons->addButton(QDialogButtonBox::Cancel);
  open->setObjectName("openConfigButton");
  cancel->setObjectName("cancelButton");
  open->setDefault(true);
  layout->addWidget(buttons);
  connect(open, &QPushButton::clicked, this, [this] {
    accept();
    ui_.PostCommand(ConnectionConfig::kOpenCommand);
  });
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
  FitToScreen(this, QSize(std::max(620, sizeHint().width()), 0));
}

QWidget* DriverCheckDialog::BuildSection(const QString& title, const std::vector<ProbeRow>& rows,
                                         const char* listName, bool source) {
  auto* group = new QGroupBox(title, this);
  auto* layout = new QVBoxLayout(group);

  auto* list = new QTreeWidget(group);
  list->setObjectName(listName);
  list->setColumnCount(3);
  list->setHeaderLabels({tr("Provider or driver"), tr("Installation"), tr("Usability")});
  list->setRootIsDecorated(false);
  list->setSelectionMode(QAbstractItemView::NoSelection);
  list->setFocusPolicy(Qt::NoFocus);
  QFont bold = list->font();
  bold.setBold(true);
  for (const ProbeRow& row : rows) {
    auto* item = new QTreeWidgetItem(
        list, {QString::fromStdString(row.name), QString::fromStdString(row.state),
               QString::fromStdString(row.usability)});
    const QColor colour = UsabilityColour(row.usability);
    if (colour.isValid()) {
      item->setForeground(2, colour);
      item->setFont(2, bold);
    }
  }
  list->header()->setStretchLastSection(false);
  list->header()->setSectionResizeMode(0, QHeaderView::Stretch);
  list->header()->setSectionResizeMode(1, QHeaderView::ResizeToContents);
  list->header()->setSectionResizeMode(2, QHeaderView::ResizeToContents);
  // As tall as its rows: the section encloses them.
  const int rowHeight = list->sizeHintForRow(0) > 0 ? list->sizeHintForRow(0) : 20;
  list->setFixedHeight(list->header()->sizeHint().height() +
                       rowHeight * std::max<int>(1, static_cast<int>(rows.size())) +
                       2 * list->frameWidth() + 2);
  list->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  layout->addWidget(list);

  auto* actions = new QHBoxLayout;
  auto* link = new QCommandLinkButton(
      source ? tr("Go MySQL to get Setup") : tr("Go Microsoft to get Setup"), group);
  link->setObjectName(source ? "mysqlLink" : "microsoftLink");
  link->setToolTip(tr(kLinkTip));
  const std::string url = source ? kMySqlSetupUrl : kMicrosoftSetupUrl;
  connect(link, &QCommandLinkButton::clicked, this, [this, url] { ui_.OpenUrl(url); });
  actions->addWidget(link);
  actions->addStretch(1);
  if (source) {
    auto* install = new QPushButton(tr("Install Mysql ODBC 3.51 Driver"), group);
    install->setObjectName("installButton");
    connect(install, &QPushButton::clicked, this, &DriverCheckDialog::Install);
    actions->addWidget(install);
  }
  layout->addLayout(actions);

  auto* note = new QLabel(NoteText(source ? kSourceNote : kTargetNote), group);
  note->setWordWrap(true);
  note->setForegroundRole(QPalette::PlaceholderText);
  layout->addWidget(note);
  return group;
}

void DriverCheckDialog::Install() {
  const InstallOutcome outcome = InstallMySqlOdbcDriver(ui_, programDir_ + "/MyODBC3.51", env_);
  if (outcome.closeDialog) reject();
}

}  // namespace migrator::gui
