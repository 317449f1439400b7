#pragma once
// The screenshot tour: `migrator --screenshots OUTDIR` opens the real window
// off screen in a temporary program folder, points it at a MySQL server and a
// new workbook, connects, and goes through the window as a person would
// (menus, context menus, a drag, each dialog through its command, a
// migration, a backup), writing one PNG picture of each step into OUTDIR (the
// pictures of the manual). Questions on the way are answered with OK or Yes
// unless the tour means to cancel; dialogs are photographed and cancelled.
// The tour fails when the program does not do what a step expects of it.
//
// The server comes from the environment that scripts/with-mariadb.sh sets:
// MIGRATOR_TEST_MYSQL_HOST, _PORT, _USER and _PASSWORD; the database shown
// and migrated is MIGRATOR_SCREENSHOT_DATABASE, "shop" when unset (the sample
// database of scripts/sample_shop.py).

#include <QString>
#include <QStringList>

namespace migrator::gui {

// The pictures every tour writes (file names in OUTDIR).
QStringList ScreenshotNames();

// Runs the tour with the application that exists; 0 when every picture of
// ScreenshotNames() was written, 1 otherwise (the missing ones are named on
// standard error).
int RunScreenshotTour(const QString& outDir);

// The whole program in tour mode: draws off screen unless QT_QPA_PLATFORM
// says otherwise, makes the application and runs the tour.
int ScreenshotTourMain(int argc, char** argv, const char* outDir);

// The tour's picture of the main window on a 1400 x 900 screen at the scale
// factor QT_SCALE_FACTOR gives (the tour starts it as a program of its own
// with 2): scaled-2x.png in OUTDIR. 0 when it was written.
int ScaledScreenshotMain(int argc, char** argv, const char* outDir);

}  // namespace migrator::gui
