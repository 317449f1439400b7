// The window and its dialogs at a scale factor of 2 on a 1400 x 900 screen
// (700 x 450 once scaled): each opens within the screen's available area,
// its buttons in view.

#include <QApplication>
#include <QDialogButtonBox>
#include <QFile>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QtTest>

#include "app/qt/main_window.h"
#include "app/qt/task_pane.h"
#include "app/workspace.h"
#include "browser/qt/charset_dialog.h"
#include "browser/qt/db_tree_view.h"
#include "config/driver_check.h"
#include "config/qt/connection_config_dialog.h"
#include "config/qt/driver_check_dialog.h"
#include "support/qt/condition_dialog.h"
#include "testlib/testlib.h"

using namespace migrator;
using namespace migrator::gui;

namespace {

QRect Available() {
  return QGuiApplication::primaryScreen()->availableGeometry();
}

// Where a widget is on the screen.
QRect OnScreen(const QWidget* w) {
  return QRect(w->mapToGlobal(QPoint(0, 0)), w->size());
}

// Shows a dialog as exec would place it and checks that it and each of its
// push buttons lie within the screen.
void CheckFits(QDialog& dialog) {
  dialog.show();
  QVERIFY(QTest::qWaitForWindowExposed(&dialog));
  const QRect screen = Available();
  QVERIFY2(screen.contains(dialog.frameGeometry()),
           qPrintable(QStringLiteral("%1: %2x%3 at %4,%5 on %6x%7")
                          .arg(dialog.windowTitle())
                          .arg(dialog.width())
                          .arg(dialog.height())
                          .arg(dialog.x())
                          .arg(dialog.y())
                          .arg(screen.width())
                          .arg(screen.height())));
  for (const QPushButton* b : dialog.findChildren<QPushButton*>()) {
    if (!b->isVisible()) continue;
    QVERIFY2(screen.contains(OnScreen(b)) &&
                 dialog.rect().contains(QRect(b->mapTo(&dialog, QPoint()), b->size())),
             qPrintable(dialog.windowTitle() + ": " + b->text()));
  }
  dialog.hide();
}

}  // namespace

class ScaledTest : public QObject {
  Q_OBJECT
 private slots:
  void theScreenIsScaled() {
    QCOMPARE(QGuiApplication::primaryScreen()->geometry().size(), QSize(700, 450));
  }

  void theWindowAndItsDialogsFitTheScreen() {
    testing::TempDir dir;
    MainWindow w(dir.str());
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    const QRect screen = Available();
    QVERIFY2(screen.contains(w.frameGeometry()),
             qPrintable(QStringLiteral("%1x%2").arg(w.width()).arg(w.height())));
    // What was off the screen: the status bar, the task list, the target tree.
    for (const QWidget* part :
         {static_cast<const QWidget*>(w.statusBar()), static_cast<const QWidget*>(w.taskPane()),
          static_cast<const QWidget*>(w.tree(DataSourceSide::Target))}) {
      w.SetCurrentTab(kTaskListTab);
      QVERIFY2(screen.contains(OnScreen(part)), part->metaObject()->className());
    }

    ConnectionConfigDialog config(w.workspace(), &w);
    CheckFits(config);
    DriverCheckDialog drivers(w.frontend(), dir.str(), DriverCheckEnvironment::FromProcess(), &w);
    CheckFits(drivers);
    CharsetDialog charsets("LATIN1", &w);
    CheckFits(charsets);
    ConditionDialog condition(w.workspace(), "shop", "orders", &w);
    CheckFits(condition);
  }
};

int main(int argc, char** argv) {
  // A 1400 x 900 screen drawn off screen, at a scale factor of 2.
  QTemporaryDir scratch;
  QFile screen(scratch.filePath("screen.json"));
  if (!screen.open(QIODevice::WriteOnly)) return 1;
  screen.write(R"({"screens": [{"name": "small", "x": 0, "y": 0, "width": 1400,)"
               R"( "height": 900, "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1}]})");
  screen.close();
  qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" + screen.fileName().toLocal8Bit());
  qputenv("QT_SCALE_FACTOR", "2");
  QApplication app(argc, argv);
  ScaledTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "scaled_test.moc"
