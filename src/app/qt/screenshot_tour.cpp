#include "app/qt/screenshot_tour.h"

// The core's headers come before Qt's, whose "slots" keyword they use as a
// name.
#include "app/output.h"
#include "app/workspace.h"
#include "browser/db_tree.h"
#include "browser/tree_commands.h"
#include "config/config_file.h"
#include "config/connection_config.h"
#include "support/condition_file.h"
#include "tasks/task.h"
#include "workflows/main_commands.h"
#include "xls/workbook.h"

#include <QAbstractButton>
#include <QApplication>
#include <QContextMenuEvent>
#include <QDialog>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QPainter>
#include <QPainterPath>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>

#include "app/qt/main_window.h"
#include "browser/qt/db_tree_model.h"
#include "browser/qt/db_tree_view.h"
#include "version.h"

namespace migrator::gui {

namespace {

constexpr int kConnectWaitMs = 30'000;
constexpr int kMigrationWaitMs = 180'000;
constexpr int kSettleMs = 250;  // layout and paint after showing something

std::string Env(const char* name, const char* fallback = "") {
  const char* v = std::getenv(name);
  return v && *v ? v : fallback;
}

// Lets the event loop run for a while.
void Pump(int ms) {
  QEventLoop loop;
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  loop.exec();
}

// Lets the event loop run until done() holds; false on timeout.
bool WaitFor(const std::function<bool()>& done, int timeoutMs) {
  QElapsedTimer clock;
  clock.start();
  while (!done()) {
    if (clock.elapsed() > timeoutMs) return false;
    Pump(25);
  }
  return true;
}

// The pointer as the desktop draws it, tip at (0, 0).
void DrawArrowCursor(QPainter& p, QPoint tip) {
  QPainterPath arrow;
  arrow.moveTo(0, 0);
  arrow.lineTo(0, 17);
  arrow.lineTo(4, 13);
  arrow.lineTo(7, 20);
  arrow.lineTo(10, 19);
  arrow.lineTo(7, 12);
  arrow.lineTo(12, 12);
  arrow.closeSubpath();
  p.save();
  p.setRenderHint(QPainter::Antialiasing);
  p.translate(tip);
  p.setPen(QPen(Qt::black, 1));
  p.setBrush(Qt::white);
  p.drawPath(arrow);
  p.restore();
}

// A picture of `base` with `popup` drawn where it stands on the screen; the
// canvas grows when the popup reaches past the widget.
QPixmap Composite(QWidget* base, QWidget* popup) {
  const QPixmap under = base->grab();
  const QPixmap over = popup->grab();
  const QPoint at = popup->mapToGlobal(QPoint(0, 0)) - base->mapToGlobal(QPoint(0, 0));
  const QRect all = QRect(QPoint(0, 0), base->size()) | QRect(at, popup->size());
  QPixmap canvas(all.size());
  canvas.fill(QColor(0xd8, 0xd8, 0xd8));
  QPainter p(&canvas);
  p.drawPixmap(-all.topLeft(), under);
  // A soft shadow as a compositor would draw it.
  p.fillRect(QRect(at - all.topLeft() + QPoint(3, 3), popup->size()), QColor(0, 0, 0, 60));
  p.drawPixmap(at - all.topLeft(), over);
  return canvas;
}

// A window's picture inside a plain frame with its title, as a desktop
// would draw it (the off-screen platform draws no frames).
QPixmap Framed(const QPixmap& inside, const QString& title) {
  // In the picture's own pixels: a window grabbed at a scale factor of 2
  // gets a frame twice as large.
  const qreal scale = inside.devicePixelRatio();
  QPixmap body = inside;
  body.setDevicePixelRatio(1);
  const int kTitle = qRound(26 * scale), kBorder = qRound(scale);
  QPixmap canvas(body.width() + 2 * kBorder, body.height() + kTitle + kBorder);
  canvas.fill(QColor(0x5a, 0x5e, 0x63));
  QPainter p(&canvas);
  p.fillRect(QRect(0, 0, canvas.width(), kTitle), QColor(0x3b, 0x3f, 0x45));
  QFont f = QApplication::font();
  f.setBold(true);
  f.setPointSizeF(f.pointSizeF() * scale);
  p.setFont(f);
  p.setPen(Qt::white);
  p.drawText(QRect(qRound(10 * scale), 0, canvas.width() - qRound(40 * scale), kTitle),
             Qt::AlignVCenter | Qt::AlignLeft, title);
  // The close button's cross.
  p.setPen(QPen(QColor(0xdd, 0xdd, 0xdd), 1.5 * scale));
  p.setRenderHint(QPainter::Antialiasing);
  const QPointF c(canvas.width() - 16 * scale, kTitle / 2.0);
  const QPointF d(4 * scale, 4 * scale), e(4 * scale, -4 * scale);
  p.drawLine(c - d, c + d);
  p.drawLine(c - e, c + e);
  p.drawPixmap(kBorder, kTitle, body);
  return canvas;
}

class Tour {
 public:
  explicit Tour(const QString& outDir) : out_(outDir) {}
  int Run();
  // The main window alone, connected, at the scale factor and on the screen
  // the process was started with; photographed on that screen.
  int RunScaled();

 private:
  bool Prepare();
  bool ConnectBothSides();
  void ExpandTrees();
  void ExpandDatabase(DbTreeView* view, const std::string& database);
  NodeId FindNode(DataSourceSide side, NodeKind kind, const std::string& text) const;
  QModelIndex IndexOf(DataSourceSide side, NodeId id) const;
  void ShowTab(const QString& text);

  void ShootMainWindow();
  void ShootContextMenu(DataSourceSide side, NodeId node, const QString& name);
  void ShootDragAndDrop();
  void Select(DataSourceSide side, NodeId node);
  // Runs a window command and photographs the dialog it opens, after
  // `prepare` has filled it in; the dialog is then cancelled.
  void ShootCommandDialog(int command, const QString& name,
                          std::function<void(QDialog*)> prepare = {});
  void ShootDialogOf(const std::function<void()>& open, const QString& name,
                     std::function<void(QDialog*)> prepare = {});
  void ShootDialogs();
  void ShootMigration();
  void ShootBackup();
  void ShootTips();
  void ShootFailedTask();
  void ShootXlsxTarget();
  bool ConnectTargetTo(const std::string& workbook);
  void ShootScaled();
  void ShootClosingWhileRunning();
  void ShootConnectionLost();
  bool WaitForTasks();
  void MakeWindow();
  void SelectAndMigrate(NodeId from, NodeId to);

  void ShootMenus();

  // Something the tour expected of the program did not happen: named on
  // standard error, and the tour fails.
  void Problem(const QString& text);
  void Save(const QPixmap& picture, const QString& name);
  void SaveWindow(const QString& name);
  void AnswerModals();
  Workspace& ws() { return window_->workspace(); }
  DbTreeView* View(DataSourceSide side) const { return window_->tree(side); }

  QDir out_;
  QTemporaryDir home_{QDir::tempPath() + "/migrator-XXXXXX"};
  std::string programDir_;
  std::string database_;
  std::string workbook_;  // the target workbook, without ".xls"
  std::unique_ptr<MainWindow> window_;
  QTimer watcher_;
  QPointer<QWidget> seenModal_;
  QString questionShot_;  // the picture the next question is saved as
  struct DialogShot {
    QString name;  // the picture the next dialog is saved as
    std::function<void(QDialog*)> prepare;
  };
  DialogShot dialogShot_;
  QString folderAnswer_;             // what the next folder chooser is answered with
  bool cancelNextQuestion_ = false;  // Cancel or No instead of OK or Yes
  QString lastQuestion_;
  bool shooting_ = false;
  bool closed_ = false;  // the window finished closing
  QStringList leftOut_;  // pictures this environment cannot take
  QStringList written_;
  int problems_ = 0;
};

void Tour::Problem(const QString& text) {
  std::fprintf(stderr, "screenshots: %s\n", qPrintable(text));
  ++problems_;
}

void Tour::SaveWindow(const QString& name) {
  Save(Framed(window_->grab(), window_->windowTitle()), name);
}

void Tour::Save(const QPixmap& picture, const QString& name) {
  const QString path = out_.filePath(name);
  if (picture.isNull() || !picture.save(path, "PNG")) {
    Problem("could not write " + path);
    return;
  }
  written_ << name;
  std::printf("screenshots: wrote %s (%dx%d)\n", qPrintable(path), picture.width(),
              picture.height());
  std::fflush(stdout);
}

// Questions get OK or Yes (a picture first when one is wanted); dialogs the
// tour did not open are closed. A modal widget is handled the second time it
// is seen, so that it has been laid out and drawn.
void Tour::AnswerModals() {
  QWidget* modal = QApplication::activeModalWidget();
  if (!modal || shooting_) return;
  if (modal != seenModal_) {
    seenModal_ = modal;
    return;
  }
  seenModal_ = nullptr;
  if (auto* box = qobject_cast<QMessageBox*>(modal)) {
    if (!questionShot_.isEmpty()) {
      Save(Framed(box->grab(), box->windowTitle()), questionShot_);
      questionShot_.clear();
    }
    lastQuestion_ = box->text();
    QAbstractButton* answer = nullptr;
    constexpr QMessageBox::StandardButton kAnswers[2][2] = {{QMessageBox::Ok, QMessageBox::Yes},
                                                            {QMessageBox::Cancel, QMessageBox::No}};
    for (QMessageBox::StandardButton b : kAnswers[cancelNextQuestion_ ? 1 : 0])
      if (!answer) answer = box->button(b);
    cancelNextQuestion_ = false;
    if (!answer) answer = box->defaultButton();
    std::printf("screenshots: answered \"%s\" with %s\n",
                qPrintable(box->text().simplified().left(120)),
                answer ? qPrintable(answer->text().remove('&')) : "close");
    if (answer)
      answer->click();
    else
      box->reject();
  } else if (auto* chooser = qobject_cast<QFileDialog*>(modal);
             chooser && !folderAnswer_.isEmpty()) {
    std::printf("screenshots: chose %s in \"%s\"\n", qPrintable(folderAnswer_),
                qPrintable(chooser->windowTitle()));
    chooser->setDirectory(folderAnswer_);
    folderAnswer_.clear();
    static_cast<QDialog*>(chooser)->accept();  // the chooser's own checks run
  } else if (auto* dialog = qobject_cast<QDialog*>(modal)) {
    if (dialogShot_.name.isEmpty()) {
      std::printf("screenshots: closed the dialog \"%s\"\n", qPrintable(dialog->windowTitle()));
    } else {
      const DialogShot shot = std::exchange(dialogShot_, {});
      shooting_ = true;
      if (shot.prepare) shot.prepare(dialog);
      Pump(kSettleMs);
      Save(Framed(dialog->grab(), dialog->windowTitle()), shot.name);
      shooting_ = false;
    }
    dialog->reject();
  }
}

bool Tour::Prepare() {
  if (!home_.isValid() || !QDir().mkpath(out_.absolutePath())) {
    std::fprintf(stderr, "screenshots: cannot make the folders\n");
    return false;
  }
  programDir_ = home_.path().toStdString();
  database_ = Env("MIGRATOR_SCREENSHOT_DATABASE", "shop");
  workbook_ = programDir_ + "/" + database_;

  const std::string host = Env("MIGRATOR_TEST_MYSQL_HOST", "127.0.0.1");
  const std::string port = Env("MIGRATOR_TEST_MYSQL_PORT");
  if (port.empty()) {
    std::fprintf(stderr,
                 "screenshots: no server; run under scripts/with-mariadb.sh "
                 "(MIGRATOR_TEST_MYSQL_PORT is unset)\n");
    return false;
  }
  // An empty workbook to migrate into.
  auto book = xls::Workbook::New();
  (void)book.AddSheet("Sheet1");
  if (!book.Save(workbook_ + ".xls").ok()) {
    std::fprintf(stderr, "screenshots: cannot write the workbook %s.xls\n", workbook_.c_str());
    return false;
  }
  // The configuration the window finds at start: the server as the source,
  // a new empty workbook as the target, tips on.
  ConfigForm form;
  form.config = true;
  form.tips = true;
  form.source = {"TCP/IP:Port", host + ":" + port, Env("MIGRATOR_TEST_MYSQL_USER", "root"),
                 Env("MIGRATOR_TEST_MYSQL_PASSWORD"), database_};
  form.target = {kJet40ProviderText, workbook_ + ".xls", "", "", ""};
  if (!ConfigFile(programDir_).SaveOnConnect(form).ok()) {
    std::fprintf(stderr, "screenshots: cannot write the configuration\n");
    return false;
  }
  return true;
}

bool Tour::ConnectBothSides() {
  // The configuration dialog's Connect: the settings handed over, the
  // window's Connect command posted.
  {
    ConnectionConfig config(ws());
    config.Open();
    config.Connect();
  }
  Pump(100);
  window_->WaitForCommands(kConnectWaitMs);
  auto connected = [this] { return ws().source.Connected() && ws().target.Connected(); };
  if (!connected()) {
    Problem(QString("could not connect (source %1, target %2)")
                .arg(ws().source.Connected() ? "open" : "closed",
                     ws().target.Connected() ? "open" : "closed"));
    return false;
  }
  return true;
}

NodeId Tour::FindNode(DataSourceSide side, NodeKind kind, const std::string& text) const {
  const DbTree& tree = window_->workspace().Side(side).tree;
  for (const TreeNode& n : tree.Nodes()) {
    if (n.id == kNoNode || n.kind != kind) continue;
    if (n.text == text) return n.id;
    // A workbook shows as its path without the ".xls".
    if (kind == NodeKind::Database && n.text.size() > text.size() &&
        n.text.compare(n.text.size() - text.size() - 1, std::string::npos, "/" + text) == 0)
      return n.id;
  }
  return kNoNode;
}

QModelIndex Tour::IndexOf(DataSourceSide side, NodeId id) const {
  return View(side)->treeModel()->IndexOf(id);
}

// Opens the root, the database and its folders.
void Tour::ExpandDatabase(DbTreeView* view, const std::string& database) {
  DbTreeModel* m = view->treeModel();
  const DataSourceSide side = view->side();
  auto open = [&](const QModelIndex& i) {
    if (!i.isValid()) return;
    if (m->canFetchMore(i)) m->fetchMore(i);
    view->expand(i);
  };
  open(m->index(0, 0));
  const NodeId db = FindNode(side, NodeKind::Database, database);
  const QModelIndex dbIndex = IndexOf(side, db);
  open(dbIndex.parent());
  open(dbIndex);
  Pump(50);
  for (int r = 0; r < m->rowCount(dbIndex); ++r)
    open(m->index(r, 0, dbIndex));
}

void Tour::ExpandTrees() {
  for (DataSourceSide side : {DataSourceSide::Source, DataSourceSide::Target})
    View(side)->Reload();
  Pump(100);
  ExpandDatabase(View(DataSourceSide::Source), database_);
  ExpandDatabase(View(DataSourceSide::Target), database_);
  Pump(kSettleMs);
}

void Tour::ShowTab(const QString& text) {
  QTabWidget* tabs = window_->tabs();
  for (int i = 0; tabs && i < tabs->count(); ++i)
    if (tabs->tabText(i).remove('&') == text) tabs->setCurrentIndex(i);
  Pump(100);
}

void Tour::ShootMainWindow() {
  // A source table selected, the log in view.
  const NodeId orders = FindNode(DataSourceSide::Source, NodeKind::Table, "orders");
  if (orders == kNoNode ||
      !View(DataSourceSide::Source)->isExpanded(IndexOf(DataSourceSide::Source, orders).parent()))
    Problem("the source tree shows no open table orders");
  else
    View(DataSourceSide::Source)->setCurrentIndex(IndexOf(DataSourceSide::Source, orders));
  if (FindNode(DataSourceSide::Target, NodeKind::Database, database_) == kNoNode)
    Problem("the target tree shows no workbook");
  ShowTab("Log");
  Pump(kSettleMs);
  SaveWindow("main-window.png");
}

// Right-clicks the node as the person would; the menu is photographed over
// the window while it is open, then closed without choosing anything.
void Tour::ShootContextMenu(DataSourceSide side, NodeId node, const QString& name) {
  DbTreeView* view = View(side);
  const QModelIndex index = IndexOf(side, node);
  if (!index.isValid()) {
    Problem("no node for " + name);
    return;
  }
  view->scrollTo(index);
  const QRect rect = view->visualRect(index);
  const QPoint at(rect.left() + std::min(rect.width() / 2, 40), rect.center().y());
  bool shot = false;
  QTimer::singleShot(300, [&] {
    QWidget* popup = QApplication::activePopupWidget();
    if (!popup) return;
    Save(Framed(Composite(window_.get(), popup), window_->windowTitle()), name);
    shot = true;
    popup->close();
  });
  QContextMenuEvent click(QContextMenuEvent::Mouse, at, view->viewport()->mapToGlobal(at));
  QApplication::sendEvent(view->viewport(), &click);
  Pump(400);
  if (shot) return;
  // No popup came up (the menu may have no items for the node): the menu as
  // built is shown instead.
  std::unique_ptr<QMenu> menu(view->BuildContextMenu(node, window_.get()));
  if (!menu) {
    Problem("no context menu for " + name);
    return;
  }
  menu->popup(view->viewport()->mapToGlobal(at));
  Pump(kSettleMs);
  Save(Framed(Composite(window_.get(), menu.get()), window_->windowTitle()), name);
  menu->close();
}

// A source table dragged over the target's workbook: the target highlighted
// under the pointer, the drag image beside it. Left without dropping.
void Tour::ShootDragAndDrop() {
  DbTreeView* source = View(DataSourceSide::Source);
  DbTreeView* target = View(DataSourceSide::Target);
  const NodeId table = FindNode(DataSourceSide::Source, NodeKind::Table, "products");
  const NodeId onto = FindNode(DataSourceSide::Target, NodeKind::Database, database_);
  if (table == kNoNode || onto == kNoNode) {
    Problem("nothing to drag for drag-and-drop.png");
    return;
  }
  const QModelIndex from = IndexOf(DataSourceSide::Source, table);
  source->setCurrentIndex(from);
  std::unique_ptr<QMimeData> data(source->treeModel()->mimeData({from}));
  const QRect rect = target->visualRect(IndexOf(DataSourceSide::Target, onto));
  const QPoint over(rect.left() + std::min(rect.width() / 2, 60), rect.center().y());
  QDragEnterEvent enter(over, Qt::CopyAction | Qt::MoveAction, data.get(), Qt::LeftButton,
                        Qt::NoModifier);
  QApplication::sendEvent(target->viewport(), &enter);
  QDragMoveEvent move(over, Qt::CopyAction | Qt::MoveAction, data.get(), Qt::LeftButton,
                      Qt::NoModifier);
  QApplication::sendEvent(target->viewport(), &move);
  Pump(kSettleMs);

  QPixmap shot = window_.get()->grab();
  const QPoint pointer = target->viewport()->mapTo(window_.get(), over);
  {
    QPainter p(&shot);
    // The drag image on a pale label, so that it reads over the nodes.
    const QPixmap image = source->DragImage(table);
    const QRect label(pointer + QPoint(14, 14), image.size() + QSize(8, 4));
    p.setOpacity(0.85);
    p.setPen(QColor(0x9a, 0xa4, 0xae));
    p.setBrush(QColor(0xf4, 0xf7, 0xfa));
    p.drawRoundedRect(label, 3, 3);
    p.drawPixmap(label.topLeft() + QPoint(4, 2), image);
    p.setOpacity(1);
    DrawArrowCursor(p, pointer);
  }
  Save(Framed(shot, window_->windowTitle()), "drag-and-drop.png");

  // The drop asks to migrate the table into the workbook; Cancel leaves
  // everything as it was.
  const size_t tasks = ws().tasks.Size();
  lastQuestion_.clear();
  cancelNextQuestion_ = true;
  QDropEvent drop(over, Qt::CopyAction | Qt::MoveAction, data.get(), Qt::LeftButton,
                  Qt::NoModifier);
  QApplication::sendEvent(target->viewport(), &drop);
  Pump(100);
  window_->WaitForCommands(kConnectWaitMs);
  WaitFor([&] { return !lastQuestion_.isEmpty(); }, 3000);
  cancelNextQuestion_ = false;
  if (!lastQuestion_.startsWith("Convert table [products] into Target database"))
    Problem("the drop did not ask to migrate the table (asked: \"" + lastQuestion_ + "\")");
  if (ws().tasks.Size() != tasks) Problem("a cancelled drop queued a task");
}

// The Connect and Operation menus dropped down from the menu bar.
void Tour::ShootMenus() {
  const QList<QMenu*> menus = window_->menus();
  const char* names[] = {"menu-connect.png", "menu-operation.png"};
  for (int i = 0; i < 2 && i < menus.size(); ++i) {
    QMenuBar* bar = window_->menuBar();
    bar->setActiveAction(menus[i]->menuAction());
    Pump(kSettleMs);
    QWidget* popup = QApplication::activePopupWidget();
    if (!popup) {
      menus[i]->popup(bar->mapToGlobal(bar->actionGeometry(menus[i]->menuAction()).bottomLeft()));
      Pump(kSettleMs);
      popup = menus[i];
    }
    Save(Framed(Composite(window_.get(), popup), window_->windowTitle()), names[i]);
    popup->close();
    bar->setActiveAction(nullptr);
    Pump(50);
  }
}

void Tour::Select(DataSourceSide side, NodeId node) {
  DbTreeView* view = View(side);
  // Selected anew, so that the window hears of it even when it was selected.
  view->clearSelection();
  window_->activateWindow();
  view->setFocus();
  view->setCurrentIndex(IndexOf(side, node));
  Pump(50);
}

void Tour::ShootCommandDialog(int command, const QString& name,
                              std::function<void(QDialog*)> prepare) {
  ShootDialogOf([&] { window_->RunCommand(command); }, name, std::move(prepare));
}

void Tour::ShootDialogOf(const std::function<void()>& open, const QString& name,
                         std::function<void(QDialog*)> prepare) {
  dialogShot_ = {name, std::move(prepare)};
  open();
  Pump(100);
  window_->WaitForCommands(kConnectWaitMs);
  if (!dialogShot_.name.isEmpty()) {
    Problem("no dialog came up for " + name);
    dialogShot_ = {};
  }
}

// Each dialog as its command opens it; then cancelled.
void Tour::ShootDialogs() {
  ShootCommandDialog(kCmdConfig, "config-dialog.png");
  ShootCommandDialog(kCmdDriverCheck, "driver-check.png");
  Select(DataSourceSide::Source, View(DataSourceSide::Source)->treeModel()->RootNode());
  // The menu item works on the source tree while it has the focus, which an
  // off-screen window may not give; the tree's own command is what it runs.
  ShootDialogOf(
      [&] {
        if (QApplication::focusWidget() == View(DataSourceSide::Source))
          window_->RunCommand(kCmdChangeCharset);
        else
          View(DataSourceSide::Source)->RunCommand(kCmdChangeCharset);
      },
      "charset-dialog.png");
  // A condition typed and tested against the server, not stored.
  const NodeId orders = FindNode(DataSourceSide::Source, NodeKind::Table, "orders");
  if (orders != kNoNode) Select(DataSourceSide::Source, orders);
  ShootCommandDialog(kCmdMigrationCondition, "condition-dialog.png", [this](QDialog* dialog) {
    if (auto* edit = dialog->findChild<QPlainTextEdit*>("conditionEdit"))
      edit->setPlainText("status = 'paid' and total > 100");
    auto* test = dialog->findChild<QPushButton*>("testButton");
    if (test) test->click();
    // The count runs off the window thread; its result fills the result box.
    auto* result = dialog->findChild<QPlainTextEdit*>("resultEdit");
    WaitFor(
        [&] {
          return test && test->isEnabled() && result && result->toPlainText().startsWith("Test ");
        },
        kConnectWaitMs);
    if (!result || !result->toPlainText().startsWith("Test successfully"))
      Problem("the condition's test did not count the rows");
  });
}

// Lets the controller work until no task waits, and the status bar says so.
bool Tour::WaitForTasks() {
  auto finished = [&] {
    for (const Task& t : ws().tasks.Snapshot())
      if (t.state == kTaskWaiting) return false;
    return ws().State() != ControllerState::Running;
  };
  if (!WaitFor(finished, kMigrationWaitMs)) return false;
  // The controller tells the status bar on its next pass.
  WaitFor([&] { return window_->statusPane(1)->text() == kStatusStopped; }, 8000);
  return true;
}

// The workbook backed up from the window: the target database selected, the
// tool bar's Backup, a folder chosen.
void Tour::ShootBackup() {
  const NodeId book = FindNode(DataSourceSide::Target, NodeKind::Database, database_);
  if (book == kNoNode) return;
  Select(DataSourceSide::Target, book);
  const QString folder = home_.filePath("backups");
  QDir().mkpath(folder);
  const size_t before = ws().tasks.Size();
  folderAnswer_ = folder;
  if (QAction* backup = window_->action(kCmdBackupButton)) backup->trigger();
  Pump(100);
  window_->WaitForCommands(kConnectWaitMs);
  folderAnswer_.clear();
  if (ws().tasks.Size() == before || !WaitForTasks()) {
    Problem("the backup did not run");
    return;
  }
  QStringList tables;
  for (QDirIterator it(home_.path(), {"*.tbl"}, QDir::Files, QDirIterator::Subdirectories);
       it.hasNext();)
    tables << QDir(home_.path()).relativeFilePath(it.next());
  std::printf("screenshots: the backup into %s: %d table files (%s)\n", ws().Backup().path.c_str(),
              int(tables.size()), qPrintable(tables.join(", ").left(100)));
  if (ws().tasks.Snapshot().back().state != kTaskSucceeded) Problem("the backup failed");
  if (tables.isEmpty() || !tables.front().startsWith("backups/"))
    Problem("the backup wrote no table files into the folder chosen");
  ShowTab("Log");
  Pump(kSettleMs);
  SaveWindow("after-backup.png");
}

// A command refused for want of a selection: its hint in the Tips tab.
void Tour::ShootTips() {
  View(DataSourceSide::Target)->clearSelection();
  Pump(50);
  const size_t before = ws().tasks.Size();
  if (QAction* backup = window_->action(kCmdBackupButton)) backup->trigger();
  Pump(100);
  window_->WaitForCommands(kConnectWaitMs);
  Pump(kSettleMs);
  if (ws().tasks.Size() != before) Problem("a backup without a selection queued a task");
  SaveWindow("tips.png");
}

// The sample database migrated into the workbook: the source database and
// the target workbook selected, Migrate, OK, then the finished task.
void Tour::ShootMigration() {
  const NodeId from = FindNode(DataSourceSide::Source, NodeKind::Database, database_);
  const NodeId to = FindNode(DataSourceSide::Target, NodeKind::Database, database_);
  if (from == kNoNode || to == kNoNode) {
    Problem("no database to migrate");
    return;
  }
  View(DataSourceSide::Source)->setCurrentIndex(IndexOf(DataSourceSide::Source, from));
  View(DataSourceSide::Target)->setCurrentIndex(IndexOf(DataSourceSide::Target, to));
  Pump(50);
  // The tool bar's Migrate, then OK.
  questionShot_ = "migrate-question.png";
  if (QAction* migrate = window_->action(kCmdMigrateButton))
    migrate->trigger();
  else
    window_->RunCommand(kCmdMigrate);
  Pump(100);
  window_->WaitForCommands(kConnectWaitMs);
  questionShot_.clear();
  if (ws().tasks.Empty()) {
    Problem("the migration was not queued");
    return;
  }
  if (!WaitForTasks()) {
    Problem("the migration did not finish in time");
    return;
  }
  if (ws().tasks.Snapshot().back().state != kTaskSucceeded) Problem("the migration failed");
  ShowTab("Task List");
  window_->Tick();
  Pump(1200);  // the task list redraws on the window's timer
  ExpandTrees();
  for (const char* name : {"customers", "orders", "order_items", "products"})
    if (FindNode(DataSourceSide::Target, NodeKind::Table, name) == kNoNode)
      Problem(QString("the target tree shows no table %1 after the migration").arg(name));
  const NodeId table = FindNode(DataSourceSide::Target, NodeKind::Table, "orders");
  if (table != kNoNode)
    View(DataSourceSide::Target)->setCurrentIndex(IndexOf(DataSourceSide::Target, table));
  Pump(kSettleMs);
  SaveWindow("after-migration-tasks.png");
  ShowTab("Log");
  Pump(kSettleMs);
  SaveWindow("after-migration.png");
}

// Selects a source node and a target node, then the tool bar's Migrate and
// OK.
void Tour::SelectAndMigrate(NodeId from, NodeId to) {
  View(DataSourceSide::Source)->setCurrentIndex(IndexOf(DataSourceSide::Source, from));
  View(DataSourceSide::Target)->setCurrentIndex(IndexOf(DataSourceSide::Target, to));
  Pump(50);
  if (QAction* migrate = window_->action(kCmdMigrateButton)) migrate->trigger();
  Pump(100);
  window_->WaitForCommands(kConnectWaitMs);
}

// A task that fails beside those that succeeded: the views of the source
// database, which a workbook cannot take.
void Tour::ShootFailedTask() {
  const NodeId views = FindNode(DataSourceSide::Source, NodeKind::ViewsFolder, "Views");
  const NodeId to = FindNode(DataSourceSide::Target, NodeKind::Database, database_);
  if (views == kNoNode || to == kNoNode) {
    Problem("no views folder or workbook for failed-task.png");
    return;
  }
  const size_t before = ws().tasks.Size();
  SelectAndMigrate(views, to);
  if (ws().tasks.Size() == before || !WaitForTasks()) {
    Problem("the views' migration did not run");
    return;
  }
  if (ws().tasks.Snapshot().back().state != kTaskFailed)
    Problem("the views' migration did not fail");
  ShowTab("Task List");
  window_->Tick();
  Pump(1200);  // the task list redraws on the window's timer
  SaveWindow("failed-task.png");
}

// The configuration dialog's Connect with another target workbook.
bool Tour::ConnectTargetTo(const std::string& workbook) {
  {
    ConnectionConfig config(ws());
    config.Open();
    config.fields(DataSourceSide::Target).sourceName = workbook;
    config.Connect();
  }
  Pump(100);
  window_->WaitForCommands(kConnectWaitMs);
  return ws().target.Connected();
}

// The sample database migrated into an .xlsx workbook: the target tree shows
// the workbook with its own extension and the tables that arrived. The
// target is the .xls workbook again afterwards.
void Tour::ShootXlsxTarget() {
  const std::string name = database_ + "_2007.xlsx";
  auto book = xls::Workbook::New(xls::FileFormat::kXlsx);
  (void)book.AddSheet("Sheet1");
  if (!book.Save(programDir_ + "/" + name).ok() || !ConnectTargetTo(programDir_ + "/" + name)) {
    Problem("the .xlsx workbook could not be made or opened");
    return;
  }
  View(DataSourceSide::Target)->Reload();
  Pump(100);
  ExpandDatabase(View(DataSourceSide::Target), name);
  const NodeId from = FindNode(DataSourceSide::Source, NodeKind::Database, database_);
  const NodeId to = FindNode(DataSourceSide::Target, NodeKind::Database, name);
  if (from == kNoNode || to == kNoNode) {
    Problem("the target tree shows no " + QString::fromStdString(name));
  } else {
    const size_t before = ws().tasks.Size();
    SelectAndMigrate(from, to);
    if (ws().tasks.Size() == before || !WaitForTasks() ||
        ws().tasks.Snapshot().back().state != kTaskSucceeded)
      Problem("the migration into the .xlsx workbook failed");
    View(DataSourceSide::Target)->Reload();
    Pump(100);
    ExpandDatabase(View(DataSourceSide::Target), name);
    const NodeId table = FindNode(DataSourceSide::Target, NodeKind::Table, "orders");
    if (table == kNoNode)
      Problem("the .xlsx workbook shows no table orders after the migration");
    else
      View(DataSourceSide::Target)->setCurrentIndex(IndexOf(DataSourceSide::Target, table));
    ShowTab("Log");
    Pump(kSettleMs);
    SaveWindow("xlsx-target.png");
  }
  if (!ConnectTargetTo(workbook_ + ".xls")) Problem("the .xls workbook did not open again");
  ExpandTrees();
}

// The window at a scale factor of 2 on a 1400 x 900 screen, in a program of
// its own (the factor is the process's).
void Tour::ShootScaled() {
  QProcess child;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("QT_SCALE_FACTOR", "2");
  child.setProcessEnvironment(env);
  child.setProcessChannelMode(QProcess::ForwardedChannels);
  child.start(QCoreApplication::applicationFilePath(),
              {"--screenshot-scaled", out_.absolutePath()});
  if (!child.waitForFinished(kMigrationWaitMs) || child.exitStatus() != QProcess::NormalExit ||
      child.exitCode() != 0) {
    Problem("the scaled window's picture was not taken");
    return;
  }
  written_ << "scaled-2x.png";
}

// A migration that runs when the window is closed: the window stays,
// saying what it waits for. The table's rows come slowly (a condition that
// waits a little for each row); the table is dropped from the workbook first
// so that it can be made again.
void Tour::ShootClosingWhileRunning() {
  const std::string table = "products";
  const NodeId from = FindNode(DataSourceSide::Source, NodeKind::Table, table);
  const NodeId to = FindNode(DataSourceSide::Target, NodeKind::Database, database_);
  const NodeId old = FindNode(DataSourceSide::Target, NodeKind::Table, table);
  if (from == kNoNode || to == kNoNode || old == kNoNode) {
    Problem("no table to migrate for closing-while-running.png");
    return;
  }
  Select(DataSourceSide::Target, old);
  View(DataSourceSide::Target)->RunCommand(kCmdDropTable);
  window_->WaitForCommands(kConnectWaitMs);
  Pump(200);
  ExpandTrees();
  if (!ConditionFile(programDir_).Write(database_, table, "sleep(0.003) = 0").ok())
    Problem("cannot store the slow condition");
  const size_t before = ws().tasks.Size();
  SelectAndMigrate(FindNode(DataSourceSide::Source, NodeKind::Table, table),
                   FindNode(DataSourceSide::Target, NodeKind::Database, database_));
  if (ws().tasks.Size() == before) {
    Problem("the slow migration was not queued");
    return;
  }
  // Closed while its rows flow.
  const bool flowing = WaitFor(
      [&] {
        const Task last = ws().tasks.Snapshot().back();
        return last.rows.active && last.rows.done >= 200;
      },
      kMigrationWaitMs);
  if (!flowing) Problem("the slow migration did not copy rows");
  window_->SetClosedHandler([this] { closed_ = true; });
  window_->close();
  Pump(30);  // laid out and drawn; the closing checks every 50 ms
  if (!window_->isVisible() || !window_->closingBanner()->isVisible())
    Problem("the closing window did not stay to say what it waits for");
  SaveWindow("closing-while-running.png");
  if (!WaitFor([&] { return closed_; }, 90'000)) Problem("the closing window did not close");
  (void)ConditionFile(programDir_).Write(database_, table, "");
  window_.reset();
}

// The server stops while both sides are connected; the next migration finds
// the source lost and the window marks it.
void Tour::ShootConnectionLost() {
  // Only a server the tour was given the socket of is its own to stop; a
  // shared one (the package check's) keeps running and the picture is left out.
  const std::string socket = Env("MIGRATOR_TEST_MYSQL_SOCKET");
  if (socket.empty()) {
    std::fprintf(stderr,
                 "screenshots: connection-lost.png left out: no server socket to stop "
                 "(MIGRATOR_TEST_MYSQL_SOCKET)\n");
    leftOut_ << "connection-lost.png";
    return;
  }
  MakeWindow();
  if (!ConnectBothSides()) return;
  ExpandTrees();
  int stopped = -1;
  for (const char* client : {"mariadb", "mysql"}) {
    stopped =
        QProcess::execute(client, {"--no-defaults", "-uroot",
                                   QString::fromStdString("--socket=" + socket), "-e", "shutdown"});
    if (stopped == 0) break;
  }
  if (stopped != 0) {
    Problem("the server could not be stopped for connection-lost.png");
    return;
  }
  Pump(1000);  // the server goes
  const NodeId from = FindNode(DataSourceSide::Source, NodeKind::Table, "orders");
  const NodeId to = FindNode(DataSourceSide::Target, NodeKind::Database, database_);
  SelectAndMigrate(from, to);
  WaitForTasks();
  WaitFor([&] { return window_->sideNote(DataSourceSide::Source)->isVisible(); }, 10'000);
  if (!window_->folder(DataSourceSide::Source)->title().endsWith("connection lost"))
    Problem("the window did not mark the source lost");
  ShowTab("Log");
  Pump(kSettleMs);
  SaveWindow("connection-lost.png");
}

void Tour::MakeWindow() {
  window_ = std::make_unique<MainWindow>(programDir_);
  window_->resize(1100, 760);
  window_->show();
  Pump(500);  // start-up: what the window posts after it shows
}

int Tour::RunScaled() {
  if (!Prepare()) return 1;
  QObject::connect(&watcher_, &QTimer::timeout, [this] { AnswerModals(); });
  watcher_.start(50);
  // At the size the window takes by itself on this screen.
  window_ = std::make_unique<MainWindow>(programDir_);
  window_->show();
  Pump(500);
  if (ConnectBothSides()) {
    ExpandTrees();
    ShowTab("Log");
    Pump(kSettleMs);
    // The whole screen, with the window where it stands on it.
    const QScreen* screen = window_->screen();
    const qreal scale = window_->devicePixelRatioF();
    QPixmap shot(screen->geometry().size() * scale);
    shot.fill(QColor(0x2e, 0x34, 0x40));
    QPainter p(&shot);
    const QPixmap framed = Framed(window_->grab(), window_->windowTitle());
    const QPoint at = window_->geometry().topLeft() * scale;
    p.drawPixmap(at.x(), std::max(0, at.y() - qRound(26 * scale)), framed);
    p.end();
    const QRect inside(window_->frameGeometry());
    if (!screen->availableGeometry().contains(inside))
      Problem("the scaled window is larger than the screen");
    Save(shot, "scaled-2x.png");
  }
  watcher_.stop();
  window_.reset();
  return written_.contains("scaled-2x.png") && problems_ == 0 ? 0 : 1;
}

int Tour::Run() {
  if (!Prepare()) return 1;
  QObject::connect(&watcher_, &QTimer::timeout, [this] { AnswerModals(); });
  watcher_.start(50);

  MakeWindow();
  if (ConnectBothSides()) {
    ExpandTrees();
    ShootMainWindow();
    ShootMenus();
    const NodeId sourceRoot = View(DataSourceSide::Source)->treeModel()->RootNode();
    ShootContextMenu(DataSourceSide::Source, sourceRoot, "source-context-menu.png");
    ShootContextMenu(DataSourceSide::Target,
                     FindNode(DataSourceSide::Target, NodeKind::Database, database_),
                     "target-context-menu.png");
    ShootDragAndDrop();
    ShootDialogs();
    ShootMigration();
    ShootBackup();
    ShootTips();
    ShootFailedTask();
    ShootXlsxTarget();
    ShootScaled();
    ShootClosingWhileRunning();
    ShootConnectionLost();
  }
  watcher_.stop();
  window_.reset();

  QStringList missing;
  for (const QString& name : ScreenshotNames())
    if (!written_.contains(name) && !leftOut_.contains(name)) missing << name;
  if (!missing.isEmpty()) Problem("missing " + missing.join(", "));
  return problems_ == 0 ? 0 : 1;
}

}  // namespace

QStringList ScreenshotNames() {
  return {"main-window.png",         "after-migration.png", "source-context-menu.png",
          "target-context-menu.png", "drag-and-drop.png",   "charset-dialog.png",
          "config-dialog.png",       "driver-check.png",    "condition-dialog.png",
          "failed-task.png",         "scaled-2x.png",       "closing-while-running.png",
          "connection-lost.png",     "xlsx-target.png"};
}

int RunScreenshotTour(const QString& outDir) {
  Tour tour(outDir);
  return tour.Run();
}

namespace {

// The off-screen platform's notes about what it cannot do (raise a window,
// grab the keyboard) say nothing about the pictures.
void QuietPlatformNotes() {
  qInstallMessageHandler(
      [](QtMsgType type, const QMessageLogContext& context, const QString& text) {
        if (text.startsWith("This plugin does not support")) return;
        std::fprintf(stderr, "%s\n", qPrintable(qFormatLogMessage(type, context, text)));
      });
}

// Draws off screen on one screen of this size: the platform's configuration
// is written into `dir`. False when it cannot be.
bool UseOffscreenScreen(const QTemporaryDir& dir, int width, int height) {
  if (!dir.isValid()) return false;
  QFile screen(dir.filePath("screen.json"));
  if (!screen.open(QIODevice::WriteOnly)) return false;
  screen.write(QStringLiteral(R"({"screens": [{"name": "tour", "x": 0, "y": 0, "width": %1,)"
                              R"( "height": %2, "logicalDpi": 96, "logicalBaseDpi": 96,)"
                              R"( "dpr": 1}]})")
                   .arg(width)
                   .arg(height)
                   .toUtf8());
  screen.close();
  qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" + screen.fileName().toLocal8Bit());
  return true;
}

}  // namespace

int ScaledScreenshotMain(int argc, char** argv, const char* outDir) {
  QuietPlatformNotes();
  // A 1400 x 900 screen; the scale factor comes from QT_SCALE_FACTOR.
  QTemporaryDir scratch;
  if (!UseOffscreenScreen(scratch, 1400, 900)) return 1;
  QApplication app(argc, argv);
  QApplication::setApplicationName(MIGRATOR_PRODUCT);
  QApplication::setApplicationVersion(MIGRATOR_VERSION);
  Tour tour(QString::fromLocal8Bit(outDir));
  return tour.RunScaled();
}

int ScreenshotTourMain(int argc, char** argv, const char* outDir) {
  QuietPlatformNotes();
  // Off screen on a screen large enough for the window and its menus.
  QTemporaryDir scratch;
  const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
  if (platform.isEmpty() || platform == "offscreen") UseOffscreenScreen(scratch, 1400, 1000);
  QApplication app(argc, argv);
  QApplication::setApplicationName(MIGRATOR_PRODUCT);
  QApplication::setApplicationVersion(MIGRATOR_VERSION);
  return RunScreenshotTour(QString::fromLocal8Bit(outDir));
}

}  // namespace migrator::gui
