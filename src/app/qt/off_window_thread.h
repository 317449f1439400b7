#pragma once
// Work that talks to a server from a dialog: it runs on a thread of its own
// while the window thread goes on drawing and answering the questions the work
// asks (the frontend's calls from another thread wait for the window thread).

#include <QApplication>
#include <QEventLoop>
#include <QWidget>
#include <functional>
#include <thread>

namespace migrator::gui {

// Runs work off the window thread and returns when it has ended. The widget is
// disabled meanwhile, so nothing in it can start a second piece of work or
// change what the first one reads.
inline void RunOffWindowThread(QWidget* widget, const std::function<void()>& work) {
  QEventLoop loop;
  widget->setEnabled(false);
  QApplication::setOverrideCursor(Qt::BusyCursor);
  std::thread worker([&] {
    work();
    QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
  });
  loop.exec();
  worker.join();
  QApplication::restoreOverrideCursor();
  widget->setEnabled(true);
}

}  // namespace migrator::gui
