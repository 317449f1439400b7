// migrator: the window.

#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/qt/main_window.h"
#include "app/qt/screenshot_tour.h"
#include "install_dirs.h"
#include "platform/program_dir.h"
#include "version.h"

int main(int argc, char** argv) {
  bool driverCheck = true;
  bool connect = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--no-driver-check") == 0) {
      driverCheck = false;
      continue;
    }
    if (std::strcmp(argv[i], "--connect") == 0) {
      connect = true;
      continue;
    }
    if (std::strcmp(argv[i], "--version") == 0) {
      std::printf("%s %s\n", MIGRATOR_PRODUCT, MIGRATOR_VERSION);
      return 0;
    }
    if (std::strcmp(argv[i], "--help") == 0) {
      std::printf(
          "Usage: migrator [--version] [--connect] [--no-driver-check] [--screenshots DIR]\n"
          "The window of %s. migrator-cli runs headless.\n"
          "  --connect          connect both sides with the fields migrator.cfg keeps\n"
          "  --no-driver-check  do not open the driver check when the window starts\n"
          "  --screenshots DIR  photograph the window into DIR (scripts/screenshots.sh)\n"
          "  --screenshot-scaled DIR\n"
          "                     the tour's picture of the window on a 1400x900 screen at\n"
          "                     the scale factor QT_SCALE_FACTOR gives\n",
          MIGRATOR_PRODUCT);
      return 0;
    }
    if (std::strcmp(argv[i], "--screenshots") == 0 && i + 1 < argc)
      return migrator::gui::ScreenshotTourMain(argc, argv, argv[i + 1]);
    if (std::strcmp(argv[i], "--screenshot-scaled") == 0 && i + 1 < argc)
      return migrator::gui::ScaledScreenshotMain(argc, argv, argv[i + 1]);
  }
  const char* platform = std::getenv("QT_QPA_PLATFORM");
  if (!std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY") && !(platform && *platform)) {
    std::fprintf(
        stderr,
        "migrator: no display to show the window on.\n"
        "  Run it on a desktop, or draw it off screen: QT_QPA_PLATFORM=offscreen migrator\n"
        "  Without a window: migrator-cli --help\n");
    return 0;
  }
  QApplication app(argc, argv);
  QApplication::setApplicationName(MIGRATOR_PRODUCT);
  QApplication::setApplicationVersion(MIGRATOR_VERSION);
  // The desktop matches the window to its menu entry and icon by this name.
  QApplication::setDesktopFileName(QStringLiteral(MIGRATOR_APP_ID));
  migrator::gui::MainWindow window(migrator::ProgramDirectory());
  window.show();
  if (connect) window.PostConnectFromConfig();
  if (driverCheck) window.PostDriverCheck();
  return QApplication::exec();
}
