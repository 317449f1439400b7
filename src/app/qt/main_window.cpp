// The core's headers come before Qt's, whose keywords they may use as names.
#include "app/output.h"
#include "app/workspace.h"
#include "browser/tree_commands.h"
#include "config/config_file.h"
#include "config/connection_config.h"
#include "platform/program_dir.h"
#include "support/condition_file.h"
#include "tasks/controller.h"
#include "workflows/backup.h"
#include "workflows/main_commands.h"
#include "workflows/migration.h"

#include "app/qt/main_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QMenuBar>
#include <QShortcut>
#include <QSplitter>
#include <QStatusBar>
#include <QStyle>
#include <QTextBlock>
#include <QThread>
#include <QTime>
#include <QVBoxLayout>
#include <cstdio>
#include <cstdlib>

#include "app/qt/fit_screen.h"
#include "app/qt/output_pane.h"
#include "app/qt/qt_frontend.h"
#include "app/qt/task_pane.h"
#include "browser/qt/db_tree_model.h"
#include "browser/qt/db_tree_view.h"
#include "config/qt/connection_config_dialog.h"
#include "config/qt/driver_check_dialog.h"
#include "support/qt/condition_dialog.h"
#include "version.h"

// Qt's resource initialiser must be called from the global namespace.
static void InitWindowResources() {
  Q_INIT_RESOURCE(window);
}

namespace migrator::gui {

namespace {
constexpr const char* kHelpStart =
    "F1 to Help:\nBefore you fill out connection properties, Please confirm that your ODBC/OLEDB "
    "config is true !";
constexpr int kHintLine = 12;  // the length of "F1 to Help:" plus one

// A theme icon, or the drawing bundled with the program.
QIcon ThemeIcon(const char* themeName, const char* fallback) {
  return QIcon::fromTheme(QString::fromLatin1(themeName),
                          QIcon(QStringLiteral(":/icons/%1.png").arg(fallback)));
}

struct ButtonSpec {
  int id;
  const char* label;
  const char* tip;
  const char* theme;
  const char* fallback;
};
constexpr ButtonSpec kButtons[] = {
    {kCmdConfigButton, " Configure ", "Database Connections Config", "preferences-system",
     "configure"},
    {kCmdConnectButton, " Connect ", "Connect the DataSources", "network-connect", "connect"},
    {kCmdMigrateButton, " Migrate ", "Convert from source into target", "go-next", "migrate"},
    {kCmdDeleteButton, " Delete ", "Delete the selected object", "edit-delete", "delete"},
    {kCmdBackupButton, " Backup ", "Backup the selected object", "document-save", "backup"},
};

struct ItemSpec {
  int menu;  // index into the top-level titles
  const char* text;
  int id;
  int icon;  // index into kButtons, or -1
};
constexpr const char* kMenuTitles[] = {"&Connect", "&Operation", "D&atabases", "&Database",
                                       "&Table",   "&Help",      "&About"};
constexpr ItemSpec kItems[] = {
    {0, "&Config", kCmdConfig, 0},
    {0, "Co&nnect", kCmdConnect, 1},
    {0, "Driver Check", kCmdDriverCheck, -1},
    {0, "E&xit", kCmdExit, -1},
    {1, "Migrate", kCmdMigrate, -1},
    {1, "Delete Selected", kCmdDeleteSelected, 3},
    {1, "&Backup", kCmdBackup, -1},
    {2, "New Database", kCmdNewDatabase, -1},
    {2, "Change Charset", kCmdChangeCharset, -1},
    {2, kStorageItemMyIsam, kCmdStorageEngine, -1},
    {3, "Delete Database", kCmdDeleteDatabase, -1},
    {3, "Clear all tables", kCmdClearAllTables, -1},
    {3, "Clear all Data", kCmdClearAllData, -1},
    {4, "Migration Condition", kCmdMigrationCondition, -1},
    {4, "Drop Table", kCmdDropTable, -1},
    {4, "Drop View", kCmdDropView, -1},
    {4, "Rename Table", kCmdRenameTable, -1},
    {5, "&Manual", kCmdManual, -1},
    {6, "Orvane website", kCmdWebsite, -1},
};
constexpr int kFirstNodeMenu = 2;

}  // namespace

MainWindow::MainWindow(const std::string& programDir, QWidget* parent)
    : MainWindow(programDir, Options{}, parent) {}

MainWindow::MainWindow(const std::string& programDir, const ControllerTiming& timing,
                       QWidget* parent)
    : MainWindow(programDir, Options{timing, std::nullopt}, parent) {}

MainWindow::MainWindow(const std::string& programDir, Options options, QWidget* parent)
    : QMainWindow(parent),
      programDir_(programDir),
      options_(std::move(options)),
      frontend_(std::make_unique<QtFrontend>(this)) {
  InitWindowResources();
  frontend_->setParent(nullptr);  // owned here, destroyed after the workspace
  openUrl_ = [](const QUrl& url) { return QDesktopServices::openUrl(url); };
  abandon_ = [](int status) { std::_Exit(status); };
  closed_ = [] { QApplication::quit(); };
  // The timer runs from the start; its ticks drive the clock and the task list.
  timer_.setInterval(1000);
  connect(&timer_, &QTimer::timeout, this, &MainWindow::Tick);
  timer_.start();
  if (options_.taskFunctions)
    ws_ = std::make_unique<Workspace>(*frontend_, programDir, options_.timing,
                                      *options_.taskFunctions);
  else
    ws_ = std::make_unique<Workspace>(*frontend_, programDir, options_.timing);
  Build();

  // The condition file beside the program, empty when it was missing.
  const Status made = ConditionFile(programDir).EnsureExists();
  if (!made.ok()) WriteOutputText(*frontend_, "E::" + made.message());
  // The Tips tab follows the configuration; without one the tips show.
  ConfigForm form;
  ConfigFile(programDir).LoadOptions(form, *frontend_);
  // Auto Backup is in force from the start, not only after the Config dialog.
  ws_->SetAutoBackup(form.autoBackup);
  SetCurrentTab(kTipsTab);
  SetCurrentTab(kTaskListTab);
}

MainWindow::~MainWindow() {
  timer_.stop();
  closing_ = true;
  frontend_->SetClosing();
  queue_.clear();
  // The command thread may be waiting for the window thread: keep serving it.
  while (working_) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    QThread::msleep(2);
  }
  if (worker_.joinable()) worker_.join();
  // A condition dialog still counting uses the workspace: it goes first.
  qDeleteAll(findChildren<ConditionDialog*>());
  ws_.reset();  // stops and joins the controller
}

Frontend& MainWindow::frontend() {
  return *frontend_;
}

void MainWindow::Build() {
  setWindowTitle(QStringLiteral("%1 %2").arg(MIGRATOR_PRODUCT, MIGRATOR_VERSION));
  setWindowIcon(QIcon(QStringLiteral(":/icons/migrator.png")));
  BuildActions();
  BuildPanes();

  // Status bar: title and version (5/8), controller state (2/8), clock.
  for (int i = 0; i < 3; ++i)
    status_[i] = new QLabel(this);
  status_[0]->setText(QStringLiteral("%1 %2").arg(MIGRATOR_PRODUCT, MIGRATOR_VERSION));
  status_[1]->setText(kStatusIdle);
  status_[2]->setText(QTime::currentTime().toString("HH:mm:ss"));
  status_[2]->setMinimumWidth(status_[2]->fontMetrics().horizontalAdvance("00:00:00") + 8);
  statusBar()->addWidget(status_[0], 5);
  statusBar()->addWidget(status_[1], 2);
  statusBar()->addPermanentWidget(status_[2]);

  auto* help = new QShortcut(QKeySequence::HelpContents, this);
  connect(help, &QShortcut::activated, this, [this] { RunCommand(kCmdManual); });
  // No larger than the screen (a small one, or one at a large scale factor).
  resize(QSize(1000, 720).boundedTo(ScreenRoom(this)));
}

void MainWindow::BuildActions() {
  toolBar_ = new QToolBar(QStringLiteral("    "), this);
  toolBar_->setObjectName("mainToolBar");
  toolBar_->setIconSize(QSize(24, 24));
  toolBar_->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
  toolBar_->setMovable(false);
  for (const ButtonSpec& b : kButtons) {
    QAction* a = toolBar_->addAction(ThemeIcon(b.theme, b.fallback), QString::fromLatin1(b.label));
    a->setToolTip(QString::fromLatin1(b.tip));
    a->setData(b.id);
    connect(a, &QAction::triggered, this, [this, id = b.id] { RunCommand(id); });
    actions_[b.id] = a;
  }
  addToolBar(Qt::TopToolBarArea, toolBar_);

  for (const char* title : kMenuTitles)
    menus_ << menuBar()->addMenu(QString::fromLatin1(title));
  for (const ItemSpec& item : kItems) {
    QAction* a = menus_[item.menu]->addAction(QString::fromLatin1(item.text));
    if (item.icon >= 0)
      a->setIcon(ThemeIcon(kButtons[item.icon].theme, kButtons[item.icon].fallback));
    a->setData(item.id);
    connect(a, &QAction::triggered, this, [this, id = item.id] { RunCommand(id); });
    actions_[item.id] = a;
  }
  // The node menus wait for a selection in a tree.
  for (int i = 0; i < 3; ++i) {
    nodeMenus_[i] = menus_[kFirstNodeMenu + i];
    nodeMenus_[i]->menuAction()->setEnabled(false);
    for (QAction* a : nodeMenus_[i]->actions())
      a->setEnabled(false);
  }
}

void MainWindow::BuildPanes() {
  auto* central = new QWidget(this);
  auto* layout = new QVBoxLayout(central);
  closingBanner_ = new QLabel(central);
  closingBanner_->setObjectName("closingBanner");
  closingBanner_->setWordWrap(true);
  closingBanner_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  closingBanner_->setStyleSheet(
      "QLabel { background: rgb(255,243,205); color: rgb(102,77,3); border: 1px solid "
      "rgb(230,200,120); padding: 6px; font-weight: bold; }");
  closingBanner_->hide();
  layout->addWidget(closingBanner_);
  auto* split = new QSplitter(Qt::Vertical, central);

  auto* folders = new QSplitter(Qt::Horizontal, split);
  folders->setObjectName("folders");
  const char* titles[2] = {"MySQL", "Excel"};
  const char* names[2] = {"sourceTree", "targetTree"};
  for (int i = 0; i < 2; ++i) {
    const auto side = i == 0 ? DataSourceSide::Source : DataSourceSide::Target;
    folders_[i] = new QGroupBox(titles[i], folders);
    folderTitles_[i] = titles[i];
    auto* box = new QVBoxLayout(folders_[i]);
    sideNotes_[i] = new QLabel(folders_[i]);
    sideNotes_[i]->setObjectName(i == 0 ? "sourceState" : "targetState");
    sideNotes_[i]->setWordWrap(true);
    sideNotes_[i]->setTextInteractionFlags(Qt::TextSelectableByMouse);
    sideNotes_[i]->setStyleSheet("QLabel { color: rgb(200,0,0); font-weight: bold; }");
    sideNotes_[i]->hide();
    box->addWidget(sideNotes_[i]);
    trees_[i] = new DbTreeView(*ws_, side, folders_[i]);
    trees_[i]->setObjectName(names[i]);
    trees_[i]->SetRunner([this](const QString& label, std::function<void()> work) {
      RunWork(label, std::move(work));
    });
    trees_[i]->SetStorageAction(actions_[kCmdStorageEngine]);
    connect(trees_[i], &DbTreeView::NodeSelected, this, &MainWindow::EnableNodeMenus);
    trees_[i]->Reload();
    box->addWidget(trees_[i]);
  }
  trees_[0]->SetConditionOpener([this](const std::string& database, const std::string& table) {
    auto* dialog = new ConditionDialog(*ws_, database, table, this);
    dialog->exec();
    // Closed while its count runs, the dialog waits for the count out of
    // sight and goes when it ends.
    if (dialog->TestRunning())
      connect(dialog, &ConditionDialog::TestEnded, dialog, &QObject::deleteLater);
    else
      delete dialog;
    trees_[0]->viewport()->update();  // the condition is the table's tooltip
  });
  folders->setSizes({1, 1});

  tabs_ = new QTabWidget(split);
  output_ = new OutputPane(tabs_);
  tasks_ = new TaskPane(tabs_);
  help_ = new QTextEdit(tabs_);
  help_->setObjectName("helpPane");
  help_->setReadOnly(true);
  QFont f = help_->font();
  f.setBold(true);
  f.setPointSize(12);
  help_->setFont(f);
  help_->setTextColor(Qt::red);
  help_->setPlainText(kHelpStart);
  tabs_->addTab(output_, style()->standardIcon(QStyle::SP_FileDialogDetailedView), "Log");
  tabs_->addTab(tasks_, style()->standardIcon(QStyle::SP_FileDialogListView), "Task List");
  tabs_->addTab(help_, style()->standardIcon(QStyle::SP_MessageBoxInformation), "Tips");
  connect(tasks_, &TaskPane::Command, this, &MainWindow::OnTaskCommand);

  split->setStretchFactor(0, 3);
  split->setStretchFactor(1, 2);
  layout->addWidget(split);
  setCentralWidget(central);
}

QAction* MainWindow::action(int commandId) const {
  auto it = actions_.find(commandId);
  return it == actions_.end() ? nullptr : it->second;
}

void MainWindow::EnableNodeMenus(DataSourceSide side, int kind) {
  NodeMenuStates states;
  if (kind >= 0)
    states = MenuStatesFor(side, ws_->Side(side).tree.DbmsKindCode(), static_cast<NodeKind>(kind));
  const bool on[3] = {states.databases, states.database, states.table};
  for (int i = 0; i < 3; ++i) {
    nodeMenus_[i]->menuAction()->setEnabled(on[i]);
    for (QAction* a : nodeMenus_[i]->actions()) {
      bool enabled = false;
      if (on[i])
        for (const MenuItemState& s : states.items)
          if (s.id == a->data().toInt()) enabled = s.enabled;
      a->setEnabled(enabled);
    }
  }
}

void MainWindow::PostDriverCheck() {
  QTimer::singleShot(0, this, [this] { RunCommand(kCmdDriverCheck); });
}

void MainWindow::PostConnectFromConfig() {
  QTimer::singleShot(0, this, [this] {
    ConnectionConfig config(*ws_);
    config.Open();
    if (!config.form().config) {
      WriteOutputText(*frontend_,
                      "T::migrator.cfg keeps no connection fields: connect from the Config dialog");
      return;
    }
    config.Connect();
  });
}

void MainWindow::RunCommand(int id) {
  if (closing_) return;
  switch (id) {
    case kCmdConfigButton:
    case kCmdConfig:
      return OpenConfig();
    case kCmdConnectButton:
    case kCmdConnect:
      return RunWork("Connect", [this] { ConnectCommand(*ws_); });
    case kCmdDriverCheck:
      return OpenDriverCheck();
    case kCmdExit:
      close();
      return;
    case kCmdMigrateButton:
    case kCmdMigrate:
      return RunWork("Migrate", [this] { MigrateCommand(*ws_); });
    case kCmdDeleteButton:
    case kCmdDeleteSelected:
      return RunWork("Delete", [this] { DeleteSelectedCommand(*ws_); });
    case kCmdBackupButton:
    case kCmdBackup:
      return RunWork("Backup", [this] { BackupCommand(*ws_); });
    case kCmdNewDatabase: {
      const auto node = ws_->target.tree.SelectedNode();
      if (node && node->kind == NodeKind::Root)
        ForwardToTree(DataSourceSide::Target, id);
      else
        frontend_->Tell(
            "Can only create database in TARGET!!!\nPlease Select Target ROOT to create new "
            "database!");
      return;
    }
    case kCmdChangeCharset:
      if (QApplication::focusWidget() == trees_[0]) ForwardToTree(DataSourceSide::Source, id);
      return;
    case kCmdMigrationCondition:
      // The condition belongs to a source table: the source tree opens it.
      return ForwardToTree(DataSourceSide::Source, id);
    case kCmdStorageEngine:
    case kCmdDeleteDatabase:
    case kCmdClearAllTables:
    case kCmdClearAllData:
    case kCmdDropTable:
    case kCmdDropView:
    case kCmdRenameTable:
      return ForwardToTree(DataSourceSide::Target, id);
    case kCmdManual:
      return OpenManual();
    case kCmdWebsite:
      return OpenUrl(QUrl(QString::fromLatin1(kProjectPageUrl)));
    case kCmdItemUp:
    case kCmdItemDown:
    case kCmdDeleteTask:
    case kCmdClearTasks:
    case kCmdStopTasks:
      return OnTaskCommand(id);
    default:
      // Nothing posted to the window goes unnoticed.
      WriteOutput(*frontend_, "E::Command %d is not known to the window; ignored.", id);
      return;
  }
}

void MainWindow::ForwardToTree(DataSourceSide side, int id) {
  trees_[Index(side)]->RunCommand(id);
}

void MainWindow::OpenConfig() {
  ConnectionConfigDialog dialog(*ws_, this);
  dialog.exec();
}

void MainWindow::OpenDriverCheck() {
  DriverCheckDialog dialog(*frontend_, programDir_, this);
  dialog.exec();
}

QString MainWindow::ManualPath() const {
  // Beside the executable in a build, in the documentation directory when
  // installed, in the program directory for a copied program.
  return QString::fromStdString(ManualIndex(programDir_));
}

void MainWindow::OpenManual() {
  const QString path = ManualPath();
  if (!QFileInfo(path).isFile()) {
    frontend_->Tell("The manual is not installed: " + path.toStdString() +
                        " is missing.\nInstall the program with its manual (cmake --install) "
                        "or build the target \"manual\".",
                    "Manual");
    return;
  }
  if (openUrl_(QUrl::fromLocalFile(path))) return;
  // Without a browser nothing would show at all: say where the manual is.
  WriteOutput(*frontend_, "E::No web browser could be started for the manual %s",
              path.toUtf8().constData());
  frontend_->Tell("No web browser could be started to show the manual.\nIt is the file " +
                      path.toStdString() + "; open it with any web browser.",
                  "Manual");
}

void MainWindow::OpenUrl(const QUrl& url) {
  if (openUrl_(url)) return;
  const std::string address = url.toString().toStdString();
  WriteOutput(*frontend_, "E::No web browser could be started for %s", address.c_str());
  frontend_->Tell("No web browser could be started to show " + address + ".");
}

// --- The command thread ---------------------------------------------------

void MainWindow::RunWork(const QString& label, std::function<void()> work) {
  if (closing_) {
    WriteOutput(*frontend_, "T::%s: not started, the window is closing.",
                label.toUtf8().constData());
    return;
  }
  queue_.push_back({label, std::move(work)});
  if (!working_) StartNextWork();
}

void MainWindow::StartNextWork() {
  if (queue_.empty() || working_) return;
  Work next = std::move(queue_.front());
  queue_.pop_front();
  if (worker_.joinable()) worker_.join();
  working_ = true;
  workingLabel_ = next.label;
  QApplication::setOverrideCursor(Qt::BusyCursor);
  status_[0]->setText(QStringLiteral("%1 %2 - %3...")
                          .arg(MIGRATOR_PRODUCT, MIGRATOR_VERSION, next.label.trimmed()));
  worker_ = std::thread([this, run = std::move(next.run)] {
    run();
    QMetaObject::invokeMethod(
        this, [this] { WorkDone(); }, Qt::QueuedConnection);
  });
}

void MainWindow::WorkDone() {
  if (worker_.joinable()) worker_.join();
  working_ = false;
  workingLabel_.clear();
  QApplication::restoreOverrideCursor();
  status_[0]->setText(QStringLiteral("%1 %2").arg(MIGRATOR_PRODUCT, MIGRATOR_VERSION));
  if (!closing_) StartNextWork();
}

bool MainWindow::WaitForCommands(int timeoutMs) {
  QElapsedTimer t;
  t.start();
  while (CommandsPending()) {
    if (t.elapsed() > timeoutMs) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    QThread::msleep(2);
  }
  QCoreApplication::processEvents();  // the trees' reloads
  return true;
}

bool MainWindow::SelectNode(DataSourceSide side, const NodePath& path) {
  DbTreeView* view = trees_[Index(side)];
  view->Reload();
  const NodeId id = ws_->Side(side).tree.Find(path);
  const QModelIndex index = view->treeModel()->IndexOf(id);
  if (!index.isValid()) return false;
  view->setFocus();
  view->scrollTo(index);
  view->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
  return ws_->Side(side).tree.Selected() == id;
}

// --- What the frontend delivers -------------------------------------------

void MainWindow::AppendOutput(const OutputLine& line) {
  output_->AppendLine(line);
}

void MainWindow::SetControllerStatus(const QString& text) {
  status_[1]->setText(text);
}

void MainWindow::ShowHint(const QString& hint) {
  // The hint goes to the start of line 12; while the pane is shorter it follows
  // the text inserted last.
  QTextCursor c = help_->textCursor();
  QTextBlock block = help_->document()->findBlockByNumber(kHintLine);
  if (block.isValid()) c.setPosition(block.position());
  c.insertText(hint);
  help_->setTextCursor(c);
  SetCurrentTab(kTipsTab);
}

void MainWindow::RedrawTree(DataSourceSide side) {
  trees_[Index(side)]->ScheduleReload();
}

void MainWindow::SetFolderTitle(DataSourceSide side, const QString& title) {
  const int i = Index(side);
  folderTitles_[i] = title.isEmpty() ? QString(i == 0 ? "MySQL" : "Excel") : title;
  ShowFolderTitle(i);
}

void MainWindow::ShowFolderTitle(int i) {
  QString title = folderTitles_[i];
  if (sideStates_[i] == SideState::Failed) title += QStringLiteral(" - not connected");
  if (sideStates_[i] == SideState::Lost) title += QStringLiteral(" - connection lost");
  folders_[i]->setTitle(title);
}

void MainWindow::SetSideState(DataSourceSide side, SideState state, const QString& reason) {
  const int i = Index(side);
  sideStates_[i] = state;
  // A failed Connect leaves nothing of the earlier connection: the folder
  // takes its name again.
  if (state == SideState::Failed) folderTitles_[i] = i == 0 ? "MySQL" : "Excel";
  QString note;
  if (state == SideState::Failed)
    note = reason.isEmpty() ? tr("Not connected.") : tr("Not connected: %1").arg(reason);
  if (state == SideState::Lost)
    note = tr("Connection lost: %1\nConnect again once the server is back.").arg(reason);
  sideNotes_[i]->setText(note);
  sideNotes_[i]->setToolTip(note);
  sideNotes_[i]->setVisible(!note.isEmpty());
  trees_[i]->setEnabled(state == SideState::Connected);
  ShowFolderTitle(i);
}

void MainWindow::Tick() {
  status_[2]->setText(QTime::currentTime().toString("HH:mm:ss"));
  if (ws_ && ws_->tasks.Tick(tabs_->currentIndex() == kTaskListTab))
    tasks_->ShowRows(ws_->tasks.Rebuild());
}

int MainWindow::CurrentTab() const {
  return tabs_->currentIndex();
}

void MainWindow::SetCurrentTab(int tab) {
  if (tab >= 0 && tab < tabs_->count()) tabs_->setCurrentIndex(tab);
}

void MainWindow::SetTipsTabVisible(bool visible) {
  if (visible && tabs_->count() < 3) {
    tabs_->addTab(help_, style()->standardIcon(QStyle::SP_MessageBoxInformation), "Tips");
  } else if (!visible && tabs_->count() > 2) {
    tabs_->removeTab(kTipsTab);
    help_->hide();
  }
}

void MainWindow::SetControllerImage(int image) {
  tasks_->SetControllerImage(image);
}

void MainWindow::SetControllerToolTip(const QString& tip) {
  tasks_->SetControllerToolTip(tip);
}

void MainWindow::OnTaskCommand(int id) {
  TaskList& list = ws_->tasks;
  int row = tasks_->SelectedRow();
  switch (id) {
    case kCmdItemUp:
    case kCmdItemDown: {
      if (row < 0) return;
      int moved = id == kCmdItemUp ? list.MoveUp(row) : list.MoveDown(row);
      tasks_->ShowRows(list.Rebuild());
      tasks_->SelectRow(moved);
      break;
    }
    case kCmdDeleteTask:
      if (row < 0) return;
      list.Delete(row);
      list.ForceRefresh();
      tasks_->ShowRows(list.Rebuild());
      break;
    case kCmdClearTasks:
      list.Clear();
      tasks_->ShowRows(list.Rebuild());
      break;
    case kCmdStopTasks:
      // The question may wait for the person: not on the command thread's
      // queue, which could be busy, but it blocks nothing else.
      ws_->controller().ButtonPressed();
      break;
  }
}

// --- Exit -----------------------------------------------------------------

void MainWindow::closeEvent(QCloseEvent* event) {
  if (closing_) {
    event->ignore();
    return;
  }
  if (ws_->State() == ControllerState::Running) {
    if (frontend_->Ask("Some Tasks is Processing, STOP ALL and EXIT?", Buttons::OkCancel) !=
        Answer::Ok) {
      event->ignore();
      return;
    }
  }
  // From here on nothing waits for the person: the controller is told to
  // stop, and the program ends when it and the command thread have. Until
  // then the window stays, saying what it waits for.
  closing_ = true;
  frontend_->SetClosing();
  queue_.clear();
  closingTasks_.clear();
  for (const Task& t : ws_->tasks.Snapshot())
    if (t.state == kTaskWaiting && t.stateText == "Working") closingTasks_.push_back(t.id);
  ws_->controller().BeginShutdown();
  if (ws_->controller().Stopped() && !working_) {
    timer_.stop();
    event->accept();
    return;
  }
  event->ignore();
  closeStarted_ = std::chrono::steady_clock::now();
  ShowClosing();
  closeTimer_.setInterval(50);
  connect(&closeTimer_, &QTimer::timeout, this, &MainWindow::FinishClosing);
  closeTimer_.start();
}

void MainWindow::ShowClosing() {
  // Nothing new can start; the log and the task list go on showing what
  // happens.
  toolBar_->setEnabled(false);
  menuBar()->setEnabled(false);
  for (QGroupBox* f : folders_)
    f->setEnabled(false);
  tasks_->SetToolsEnabled(false);
  SetCurrentTab(kLogTab);
  status_[1]->setText(QStringLiteral("Closing: stopping the tasks..."));
  UpdateClosingBanner();
  closingBanner_->show();
}

void MainWindow::UpdateClosingBanner() {
  QStringList waiting;
  for (const Task& t : ws_->tasks.Snapshot()) {
    if (t.state != kTaskWaiting || t.stateText != "Working") continue;
    QString line =
        t.kind == kBackupTask
            ? QStringLiteral("the backup of [%1]").arg(QString::fromStdString(t.targetDatabase))
            : QStringLiteral("the migration of [%1]%2 into [%3]")
                  .arg(QString::fromStdString(t.sourceDatabase),
                       t.sourceObject.empty()
                           ? QString()
                           : QStringLiteral(".[%1]").arg(QString::fromStdString(t.sourceObject)),
                       QString::fromStdString(t.targetDatabase));
    if (t.rows.active) line += QStringLiteral(", now at ") + RowProgressText(t.rows);
    waiting << line;
  }
  if (working_) waiting << QStringLiteral("the command %1").arg(workingLabel_.trimmed());
  if (waiting.isEmpty()) waiting << QStringLiteral("the task thread to end");
  const auto left = std::chrono::duration_cast<std::chrono::seconds>(
      options_.closeLimit - (std::chrono::steady_clock::now() - closeStarted_));
  const QString text = QStringLiteral(
                           "Closing: the running tasks are told to stop. Waiting for %1.\n"
                           "The window closes when that has ended, at the latest in %2 s.")
                           .arg(waiting.join(QStringLiteral("; ")))
                           .arg(std::max<long long>(0, left.count()));
  if (closingBanner_->text() != text) closingBanner_->setText(text);
}

std::string MainWindow::CutShortText() const {
  std::string text;
  for (TaskId id : closingTasks_) {
    const auto t = ws_->tasks.Find(id);
    if (!t || t->state == kTaskSucceeded) continue;
    text += t->kind == kBackupTask
                ? "The backup of [" + t->targetDatabase + "]"
                : "The migration of [" + t->sourceDatabase + "]" +
                      (t->sourceObject.empty() ? "" : ".[" + t->sourceObject + "]") + " into [" +
                      t->targetDatabase + "]";
    text += " was stopped before its end.";
    if (!t->rows.table.empty()) {
      text += " Of the table [" + t->rows.table + "] " + std::to_string(t->rows.done) +
              (t->rows.expected >= 0 ? " of " + std::to_string(t->rows.expected) : "") +
              " rows arrived.";
    }
    text += "\n";
  }
  if (text.empty()) return text;
  return text +
         "\nThe tables that arrived whole stay in the workbook. A table the stop cut is "
         "removed again, so that the same migration can run again (the log says so, or names "
         "a table that could not be removed).";
}

void MainWindow::FinishClosing() {
  if (ws_->controller().Stopped() && !working_) {
    closeTimer_.stop();
    timer_.stop();
    const std::string cut = CutShortText();
    if (!cut.empty()) {
      std::fprintf(stderr, "migrator: %s\n", cut.c_str());
      std::fflush(stderr);
      frontend_->TellWhileClosing(cut);
    }
    hide();
    closed_();
    return;
  }
  if (std::chrono::steady_clock::now() - closeStarted_ < options_.closeLimit) {
    UpdateClosingBanner();
    return;
  }
  // A task or command stuck in a call that never returns: end the process
  // without unwinding anything that thread may still be using, and say what
  // was left unfinished.
  closeTimer_.stop();
  std::string what = WorkingTasksText(ws_->tasks);
  if (working_) what += "the command " + workingLabel_.trimmed().toStdString() + "\n";
  if (what.empty()) what = "the controller thread\n";
  std::fprintf(stderr, "migrator: exiting without waiting any longer for:\n%s", what.c_str());
  std::fflush(stderr);
  abandon_(kExitTaskAbandoned);
}

}  // namespace migrator::gui
