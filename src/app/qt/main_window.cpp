#include "app/qt/main_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QSplitter>
#include <QStatusBar>
#include <QStyle>
#include <QTextBlock>
#include <QTime>
#include <QVBoxLayout>
#include <cstdio>
#include <cstdlib>

#include "app/output.h"
#include "app/qt/output_pane.h"
#include "app/qt/qt_frontend.h"
#include "app/qt/task_pane.h"
#include "app/workspace.h"
#include "tasks/controller.h"
#include "version.h"

namespace migrator::gui {

namespace {
constexpr const char* kHelpStart =
    "F1 to Help:\nBefore you fill out connection properties, Please confirm that your ODBC/OLEDB "
    "config is true !";
constexpr int kHintLine = 12;          // the length of "F1 to Help:" plus one
constexpr int kCloseLimitMs = 60'000;  // a task that ignores the stop this long is abandoned
}  // namespace

MainWindow::MainWindow(const std::string& programDir, QWidget* parent)
    : MainWindow(programDir, ControllerTiming{}, parent) {}

MainWindow::MainWindow(const std::string& programDir, const ControllerTiming& timing,
                       QWidget* parent)
    : QMainWindow(parent), frontend_(std::make_unique<QtFrontend>(this)) {
  frontend_->setParent(nullptr);  // owned here, destroyed after the workspace
  // The timer runs from the start; its ticks drive the clock and the task list.
  timer_.setInterval(1000);
  connect(&timer_, &QTimer::timeout, this, &MainWindow::Tick);
  timer_.start();
  ws_ = std::make_unique<Workspace>(*frontend_, programDir, timing);
  Build();
}

MainWindow::~MainWindow() {
  timer_.stop();
  frontend_->SetClosing();
  ws_.reset();  // stops and joins the controller
}

Frontend& MainWindow::frontend() {
  return *frontend_;
}

void MainWindow::Build() {
  setWindowTitle(QStringLiteral("%1 %2").arg(MIGRATOR_PRODUCT, MIGRATOR_VERSION));
  setWindowIcon(style()->standardIcon(QStyle::SP_DriveNetIcon));

  auto* central = new QWidget(this);
  auto* layout = new QVBoxLayout(central);
  auto* split = new QSplitter(Qt::Vertical, central);

  auto* folders = new QSplitter(Qt::Horizontal, split);
  const char* titles[2] = {"MySQL", "Excel"};
  for (int i = 0; i < 2; ++i) {
    folders_[i] = new QGroupBox(titles[i], folders);
    auto* box = new QVBoxLayout(folders_[i]);
    trees_[i] = new QTreeWidget(folders_[i]);
    trees_[i]->setHeaderHidden(true);
    trees_[i]->setRootIsDecorated(true);
    box->addWidget(trees_[i]);
  }
  folders->setSizes({1, 1});

  tabs_ = new QTabWidget(split);
  output_ = new OutputPane(tabs_);
  tasks_ = new TaskPane(tabs_);
  help_ = new QTextEdit(tabs_);
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
  tabs_->setCurrentIndex(kTipsTab);
  tabs_->setCurrentIndex(kTaskListTab);
  connect(tasks_, &TaskPane::Command, this, &MainWindow::OnTaskCommand);

  split->setStretchFactor(0, 3);
  split->setStretchFactor(1, 2);
  layout->addWidget(split);
  setCentralWidget(central);

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
  resize(1000, 720);
}

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
  int i = side == DataSourceSide::Source ? 0 : 1;
  trees_[i]->clear();
}

void MainWindow::SetFolderTitle(DataSourceSide side, const QString& title) {
  folders_[side == DataSourceSide::Source ? 0 : 1]->setTitle(title);
}

void MainWindow::RunCommand(int id) {
  switch (id) {
    case kCmdItemUp:
    case kCmdItemDown:
    case kCmdDeleteTask:
    case kCmdClearTasks:
    case kCmdStopTasks:
      OnTaskCommand(id);
      break;
    default:
      break;
  }
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
      ws_->controller().ButtonPressed();
      break;
  }
}

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
  // From here on nothing waits for the person: the window goes away at once,
  // the controller is told to stop, and the program ends when it has.
  closing_ = true;
  timer_.stop();
  frontend_->SetClosing();
  ws_->controller().BeginShutdown();
  if (ws_->controller().Stopped()) {
    event->accept();
    return;
  }
  event->ignore();
  hide();
  closeTimer_.setInterval(50);
  connect(&closeTimer_, &QTimer::timeout, this, &MainWindow::FinishClosing);
  closeTimer_.start();
}

void MainWindow::FinishClosing() {
  closeWaitedMs_ += closeTimer_.interval();
  if (ws_->controller().Stopped()) {
    closeTimer_.stop();
    QApplication::quit();
    return;
  }
  if (closeWaitedMs_ >= kCloseLimitMs) {
    // A task stuck in a call that never returns: end the process without
    // unwinding anything that thread may still be using.
    std::fprintf(stderr, "migrator: a task did not stop in time; exiting\n");
    std::_Exit(0);
  }
}

}  // namespace migrator::gui
