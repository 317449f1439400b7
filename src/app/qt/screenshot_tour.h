#pragma once
// The screenshot tour: `migrator --screenshots OUTDIR` opens the real window
// off screen in a temporary program folder, points it at a MySQL server and a
// new workbook, connects, and walks through the window's views, menus and
// dialogs, writing one PNG picture of each into OUTDIR (the pictures of the
// manual). Questions the program asks on the way are answered with OK or Yes,
// dialogs the tour did not open itself are closed.
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

}  // namespace migrator::gui
