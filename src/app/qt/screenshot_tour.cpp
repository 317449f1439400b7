#include "app/qt/screenshot_tour.h"

// The core's headers come before Qt's, whose "slots" keyword they use as a
// name.
#include "adapters/excel/excel_adapter.h"
#include "app/workspace.h"
#include "browser/db_tree.h"
#include "config/config_file.h"
#include "config/connection_config.h"
#include "tasks/task.h"
#include "workflows/connect.h"
#include "workflows/migration.h"
#include "xls/workbook.h"

#include <QAbstractButton>
#include <QApplication>
#include <QContextMenuEvent>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QHBoxLayout>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QPainter>
#include <QPainterPath>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>

#include "app/qt/main_window.h"
#include "browser/qt/charset_dialog.h"
#include "browser/qt/db_tree_model.h"
#include "browser/qt/db_tree_view.h"
#include "config/qt/connection_config_dialog.h"
#include "config/qt/driver_check_dialog.h"
#include "support/qt/condition_dialog.h"
#include "version.h"

namespace migrator::gui {

namespace {

constexpr int kConnectWaitMs = 30'000;
constexpr int kMigrationWaitMs = 180'000;
constexpr int kSettleMs = 250;  // layout and paint after showing something
constexpr const char* kOwnProperty = "screenshotTourOwns";  // dialogs the tour opened

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
  constexpr int kTitle = 26, kBorder = 1;
  QPixmap canvas(inside.width() + 2 * kBorder, inside.height() + kTitle + kBorder);
  canvas.fill(QColor(0x5a, 0x5e, 0x63));
  QPainter p(&canvas);
  p.fillRect(QRect(0, 0, canvas.width(), kTitle), QColor(0x3b, 0x3f, 0x45));
  QFont f = QApplication::font();
  f.setBold(true);
  p.setFont(f);
  p.setPen(Qt::white);
  p.drawText(QRect(10, 0, canvas.width() - 40, kTitle), Qt::AlignVCenter | Qt::AlignLeft, title);
  // The close button's cross.
  p.setPen(QPen(QColor(0xdd, 0xdd, 0xdd), 1.5));
  p.setRenderHint(QPainter::Antialiasing);
  const QPoint c(canvas.width() - 16, kTitle / 2);
  p.drawLine(c + QPoint(-4, -4), c + QPoint(4, 4));
  p.drawLine(c + QPoint(-4, 4), c + QPoint(4, -4));
  p.drawPixmap(kBorder, kTitle, inside);
  return canvas;
}

class Tour {
 public:
  explicit Tour(const QString& outDir) : out_(outDir) {}
  int Run();

 private:
  bool Prepare();
  bool ConnectBothSides();
  void FindTrees();
  void ExpandTrees();
  void ExpandDatabase(DbTreeView* view, const std::string& database);
  NodeId FindNode(DataSourceSide side, NodeKind kind, const std::string& text) const;
  QModelIndex IndexOf(DataSourceSide side, NodeId id) const;
  void ShowTab(const QString& text);

  void ShootMainWindow();
  void ShootContextMenu(DataSourceSide side, NodeId node, const QString& name);
  void ShootDragAndDrop();
  void ShootDialog(QDialog* dialog, const QString& name);
  void ShootDialogs();
  void ShootMigration();

  void Save(const QPixmap& picture, const QString& name);
  void AnswerModals();
  QWidget* TreeHost() const { return standIn_ ? standIn_.get() : window_.get(); }
  Workspace& ws() { return window_->workspace(); }
  DbTreeView* View(DataSourceSide side) const {
    return views_[side == DataSourceSide::Source ? 0 : 1];
  }

  QDir out_;
  QTemporaryDir home_{QDir::tempPath() + "/migrator-XXXXXX"};
  std::string programDir_;
  std::string database_;
  std::string workbook_;  // the target workbook, without ".xls"
  std::unique_ptr<MainWindow> window_;
  // The trees in a window of their own, while the main window shows none.
  std::unique_ptr<QWidget> standIn_;
  DbTreeView* views_[2] = {nullptr, nullptr};
  QTimer watcher_;
  QPointer<QWidget> seenModal_;
  QString questionShot_;  // the picture the next question is saved as
  QStringList written_;
};

void Tour::Save(const QPixmap& picture, const QString& name) {
  const QString path = out_.filePath(name);
  if (picture.isNull() || !picture.save(path, "PNG")) {
    std::fprintf(stderr, "screenshots: could not write %s\n", qPrintable(path));
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
  if (!modal) return;
  if (modal != seenModal_) {
    seenModal_ = modal;
    return;
  }
  seenModal_ = nullptr;
  if (modal->property(kOwnProperty).toBool()) return;
  if (auto* box = qobject_cast<QMessageBox*>(modal)) {
    if (!questionShot_.isEmpty()) {
      Save(Framed(box->grab(), box->windowTitle()), questionShot_);
      questionShot_.clear();
    }
    QAbstractButton* yes = box->button(QMessageBox::Ok);
    if (!yes) yes = box->button(QMessageBox::Yes);
    if (!yes) yes = box->defaultButton();
    std::printf("screenshots: answered \"%s\" with %s\n",
                qPrintable(box->text().simplified().left(120)),
                yes ? qPrintable(yes->text().remove('&')) : "close");
    if (yes)
      yes->click();
    else
      box->reject();
  } else if (auto* dialog = qobject_cast<QDialog*>(modal)) {
    std::printf("screenshots: closed the dialog \"%s\"\n", qPrintable(dialog->windowTitle()));
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
  // The configuration dialog's Connect: settings handed over, the Connect
  // command posted to the window.
  {
    ConnectionConfig config(ws());
    config.Open();
    config.Connect();
  }
  // A window that does not carry out the posted command (or is not busy
  // with it after a while) is connected here.
  auto connected = [this] { return ws().source.Connected() && ws().target.Connected(); };
  if (!WaitFor(connected, 3000)) {
    const bool busy = QApplication::overrideCursor() != nullptr;
    if (!busy || !WaitFor(connected, kConnectWaitMs)) {
      if (!ws().target.Connected()) Connect(ws(), DataSourceSide::Target);
      if (!ws().source.Connected()) Connect(ws(), DataSourceSide::Source);
    }
  }
  if (!connected()) {
    std::fprintf(stderr, "screenshots: could not connect (source %s, target %s)\n",
                 ws().source.Connected() ? "open" : "closed",
                 ws().target.Connected() ? "open" : "closed");
    return false;
  }
  UseDatabase(ws(), database_, 0);
  return true;
}

void Tour::FindTrees() {
  for (DbTreeView* v : window_->findChildren<DbTreeView*>())
    views_[v->side() == DataSourceSide::Source ? 0 : 1] = v;
  if (views_[0] && views_[1]) return;
  std::printf("screenshots: the window shows no database trees; they get a window of their own\n");
  standIn_ = std::make_unique<QWidget>();
  standIn_->setWindowTitle("Database trees");
  auto* row = new QHBoxLayout(standIn_.get());
  for (DataSourceSide side : {DataSourceSide::Source, DataSourceSide::Target}) {
    auto* v = new DbTreeView(ws(), side, standIn_.get());
    row->addWidget(v);
    views_[side == DataSourceSide::Source ? 0 : 1] = v;
  }
  standIn_->resize(900, 560);
  standIn_->show();
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
  for (DbTreeView* v : views_)
    v->Reload();
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
  if (orders != kNoNode)
    View(DataSourceSide::Source)->setCurrentIndex(IndexOf(DataSourceSide::Source, orders));
  ShowTab("Log");
  Pump(kSettleMs);
  Save(Framed(window_->grab(), window_->windowTitle()), "main-window.png");
}

// Right-clicks the node as the person would; the menu is photographed over
// the window while it is open, then closed without choosing anything.
void Tour::ShootContextMenu(DataSourceSide side, NodeId node, const QString& name) {
  DbTreeView* view = View(side);
  const QModelIndex index = IndexOf(side, node);
  if (!index.isValid()) {
    std::fprintf(stderr, "screenshots: no node for %s\n", qPrintable(name));
    return;
  }
  view->scrollTo(index);
  const QRect rect = view->visualRect(index);
  const QPoint at(rect.left() + std::min(rect.width() / 2, 40), rect.center().y());
  bool shot = false;
  QTimer::singleShot(300, [&] {
    QWidget* popup = QApplication::activePopupWidget();
    if (!popup) return;
    Save(Framed(Composite(TreeHost(), popup), TreeHost()->windowTitle()), name);
    shot = true;
    popup->close();
  });
  QContextMenuEvent click(QContextMenuEvent::Mouse, at, view->viewport()->mapToGlobal(at));
  QApplication::sendEvent(view->viewport(), &click);
  Pump(400);
  if (shot) return;
  // No popup came up (the menu may have no items for the node): the menu as
  // built is shown instead.
  std::unique_ptr<QMenu> menu(view->BuildContextMenu(node, TreeHost()));
  if (!menu) {
    std::fprintf(stderr, "screenshots: no context menu for %s\n", qPrintable(name));
    return;
  }
  menu->popup(view->viewport()->mapToGlobal(at));
  Pump(kSettleMs);
  Save(Framed(Composite(TreeHost(), menu.get()), TreeHost()->windowTitle()), name);
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
    std::fprintf(stderr, "screenshots: nothing to drag for drag-and-drop.png\n");
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

  QPixmap shot = TreeHost()->grab();
  const QPoint pointer = target->viewport()->mapTo(TreeHost(), over);
  {
    QPainter p(&shot);
    p.setOpacity(0.75);
    p.drawPixmap(pointer + QPoint(12, 14), source->DragImage(table));
    p.setOpacity(1);
    DrawArrowCursor(p, pointer);
  }
  Save(Framed(shot, TreeHost()->windowTitle()), "drag-and-drop.png");
  QDragLeaveEvent leave;
  QApplication::sendEvent(target->viewport(), &leave);
  Pump(50);
}

void Tour::ShootDialog(QDialog* dialog, const QString& name) {
  std::unique_ptr<QDialog> owned(dialog);
  dialog->setProperty(kOwnProperty, true);
  dialog->show();
  Pump(kSettleMs);
  dialog->adjustSize();
  Pump(100);
  Save(Framed(dialog->grab(), dialog->windowTitle()), name);
  dialog->reject();
  Pump(50);
}

void Tour::ShootDialogs() {
  ShootDialog(new CharsetDialog(ws().Charset().empty() ? "UTF8" : ws().Charset(), window_.get()),
              "charset-dialog.png");
  ShootDialog(new ConnectionConfigDialog(ws(), window_.get()), "config-dialog.png");
  ShootDialog(new DriverCheckDialog(window_->frontend(), programDir_, window_.get()),
              "driver-check.png");

  // A condition typed and tested against the server, not stored.
  auto* condition = new ConditionDialog(ws(), database_, "orders", window_.get());
  condition->setProperty(kOwnProperty, true);
  if (auto* edit = condition->findChild<QPlainTextEdit*>("conditionEdit"))
    edit->setPlainText("status = 'paid' and total > 100");
  condition->show();
  Pump(kSettleMs);
  if (auto* test = condition->findChild<QPushButton*>("testButton")) test->click();
  ShootDialog(condition, "condition-dialog.png");
}

// The sample database migrated into the workbook: the source database and
// the target workbook selected, Migrate, OK, then the finished task.
void Tour::ShootMigration() {
  const NodeId from = FindNode(DataSourceSide::Source, NodeKind::Database, database_);
  const NodeId to = FindNode(DataSourceSide::Target, NodeKind::Database, database_);
  if (from == kNoNode || to == kNoNode) {
    std::fprintf(stderr, "screenshots: no database to migrate\n");
    return;
  }
  View(DataSourceSide::Source)->setCurrentIndex(IndexOf(DataSourceSide::Source, from));
  View(DataSourceSide::Target)->setCurrentIndex(IndexOf(DataSourceSide::Target, to));
  Pump(50);
  questionShot_ = "migrate-question.png";
  const std::optional<TaskId> task = MigrateCommand(ws());
  questionShot_.clear();
  if (!task) {
    std::fprintf(stderr, "screenshots: the migration was not queued\n");
    return;
  }
  auto finished = [&] {
    const auto t = ws().tasks.Find(*task);
    return t && t->state != kTaskWaiting && ws().State() == ControllerState::Idle;
  };
  if (!WaitFor(finished, kMigrationWaitMs)) {
    std::fprintf(stderr, "screenshots: the migration did not finish in time\n");
    return;
  }
  const auto t = ws().tasks.Find(*task);
  std::printf("screenshots: the migration %s\n",
              t && t->state == kTaskSucceeded ? "succeeded" : "failed");
  ShowTab("Task List");
  window_->Tick();
  Pump(1200);  // the task list redraws on the window's timer
  ExpandTrees();
  const NodeId table = FindNode(DataSourceSide::Target, NodeKind::Table, "orders");
  if (table != kNoNode)
    View(DataSourceSide::Target)->setCurrentIndex(IndexOf(DataSourceSide::Target, table));
  Pump(kSettleMs);
  Save(Framed(window_->grab(), window_->windowTitle()), "after-migration-tasks.png");
  ShowTab("Log");
  Pump(kSettleMs);
  Save(Framed(window_->grab(), window_->windowTitle()), "after-migration.png");
}

int Tour::Run() {
  if (!Prepare()) return 1;
  QObject::connect(&watcher_, &QTimer::timeout, [this] { AnswerModals(); });
  watcher_.start(50);

  window_ = std::make_unique<MainWindow>(programDir_);
  window_->resize(1100, 760);
  window_->show();
  Pump(500);  // start-up: what the window posts after it shows
  if (ConnectBothSides()) {
    FindTrees();
    ExpandTrees();
    ShootMainWindow();
    const NodeId sourceRoot = View(DataSourceSide::Source)->treeModel()->RootNode();
    ShootContextMenu(DataSourceSide::Source, sourceRoot, "source-context-menu.png");
    ShootContextMenu(DataSourceSide::Target,
                     FindNode(DataSourceSide::Target, NodeKind::Database, database_),
                     "target-context-menu.png");
    ShootDragAndDrop();
    ShootDialogs();
    ShootMigration();
  }
  watcher_.stop();
  standIn_.reset();
  window_.reset();

  QStringList missing;
  for (const QString& name : ScreenshotNames())
    if (!written_.contains(name)) missing << name;
  if (!missing.isEmpty()) {
    std::fprintf(stderr, "screenshots: missing %s\n", qPrintable(missing.join(", ")));
    return 1;
  }
  return 0;
}

}  // namespace

QStringList ScreenshotNames() {
  return {"main-window.png",         "after-migration.png", "source-context-menu.png",
          "target-context-menu.png", "drag-and-drop.png",   "charset-dialog.png",
          "config-dialog.png",       "driver-check.png",    "condition-dialog.png"};
}

int RunScreenshotTour(const QString& outDir) {
  Tour tour(outDir);
  return tour.Run();
}

int ScreenshotTourMain(int argc, char** argv, const char* outDir) {
  // The off-screen platform's notes about what it cannot do (raise a window,
  // grab the keyboard) say nothing about the pictures.
  qInstallMessageHandler(
      [](QtMsgType type, const QMessageLogContext& context, const QString& text) {
        if (text.startsWith("This plugin does not support")) return;
        std::fprintf(stderr, "%s\n", qPrintable(qFormatLogMessage(type, context, text)));
      });
  // Off screen on a screen large enough for the window and its menus.
  QTemporaryDir scratch;
  const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
  if ((platform.isEmpty() || platform == "offscreen") && scratch.isValid()) {
    QFile screen(scratch.filePath("screen.json"));
    if (screen.open(QIODevice::WriteOnly)) {
      screen.write(R"({"screens": [{"name": "tour", "x": 0, "y": 0, "width": 1400,)"
                   R"( "height": 1000, "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1}]})");
      screen.close();
      qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" + screen.fileName().toLocal8Bit());
    }
  }
  QApplication app(argc, argv);
  QApplication::setApplicationName(MIGRATOR_PRODUCT);
  QApplication::setApplicationVersion(MIGRATOR_VERSION);
  return RunScreenshotTour(QString::fromLocal8Bit(outDir));
}

}  // namespace migrator::gui
