#include "app/qt/qt_frontend.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFileDialog>
#include <QMessageBox>
#include <QThread>
#include <QUrl>

#include "app/qt/main_window.h"
#include "app/qt/output_pane.h"
#include "version.h"

namespace migrator::gui {

namespace {
QString Q(const std::string& s) {
  return QString::fromUtf8(s.data(), static_cast<int>(s.size()));
}
std::string S(const QString& s) {
  return s.toUtf8().toStdString();
}

// A chooser's answer: an empty path means the person cancelled.
std::optional<std::string> Chosen(std::string path) {
  if (path.empty()) return std::nullopt;
  return path;
}

QString FilterText(const std::vector<FileFilter>& filters) {
  QStringList parts;
  for (const auto& f : filters) {
    QString patterns = Q(f.patterns);
    patterns.replace(';', ' ');
    parts << QStringLiteral("%1 (%2)").arg(Q(f.label).trimmed(), patterns);
  }
  return parts.join(";;");
}
}  // namespace

QtFrontend::QtFrontend(MainWindow* window) : QObject(window), window_(window) {}

bool QtFrontend::OnWindowThread() const {
  return QThread::currentThread() == thread();
}

template <class F>
void QtFrontend::Post(F&& f) {
  if (OnWindowThread())
    f();
  else
    QMetaObject::invokeMethod(this, std::forward<F>(f), Qt::QueuedConnection);
}

template <class R, class F>
R QtFrontend::Call(F&& f, R whenClosing) {
  if (closing_.load()) return whenClosing;
  if (OnWindowThread()) return f();
  // The answer replaces the closing answer unless the window began to close
  // while the call waited.
  QMetaObject::invokeMethod(
      this,
      [&] {
        if (!closing_.load()) whenClosing = f();
      },
      Qt::BlockingQueuedConnection);
  return whenClosing;
}

void QtFrontend::AppendOutput(const OutputLine& line) {
  // The pane queues lines from other threads itself and inserts them in
  // batches; one queued call per line would flood the window.
  if (OutputPane* pane = window_->outputPane())
    pane->PostLine(line);
  else
    Post([this, line] { window_->AppendOutput(line); });
}

void QtFrontend::SetStatusText(const std::string& text) {
  Post([this, text] { window_->SetControllerStatus(Q(text)); });
}

void QtFrontend::ShowHint(const std::string& hint) {
  Post([this, hint] { window_->ShowHint(Q(hint)); });
}

Answer QtFrontend::Ask(const std::string& text, Buttons buttons, Icon icon,
                       const std::string& caption) {
  Answer negative = buttons == Buttons::Ok         ? Answer::Ok
                    : buttons == Buttons::OkCancel ? Answer::Cancel
                                                   : Answer::No;
  return Call<Answer>([&]() -> Answer { return Show(text, buttons, icon, caption); }, negative);
}

void QtFrontend::TellWhileClosing(const std::string& text) {
  Show(text, Buttons::Ok, Icon::Exclamation, {});
}

Answer QtFrontend::Show(const std::string& text, Buttons buttons, Icon icon,
                        const std::string& caption) {
  if (answerer_)
    if (auto a = answerer_(text, buttons, caption)) return *a;
  QMessageBox box(window_);
  box.setWindowTitle(caption.empty() ? QString(MIGRATOR_PRODUCT) : Q(caption));
  box.setText(Q(text));
  box.setIcon(icon == Icon::Exclamation   ? QMessageBox::Warning
              : icon == Icon::Information ? QMessageBox::Information
              : icon == Icon::Error       ? QMessageBox::Critical
                                          : QMessageBox::NoIcon);
  switch (buttons) {
    case Buttons::Ok:
      box.setStandardButtons(QMessageBox::Ok);
      break;
    case Buttons::OkCancel:
      box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
      break;
    case Buttons::YesNo:
      box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
      break;
  }
  switch (box.exec()) {
    case QMessageBox::Ok:
      return Answer::Ok;
    case QMessageBox::Yes:
      return Answer::Yes;
    case QMessageBox::No:
      return Answer::No;
    default:
      return buttons == Buttons::Ok ? Answer::Ok : Answer::Cancel;
  }
}

std::optional<std::string> QtFrontend::ChooseSaveFile(const std::string& title,
                                                      const std::vector<FileFilter>& filters,
                                                      const std::string& initialDir) {
  return Chosen(Call<std::string>(
      [&] {
        return S(
            QFileDialog::getSaveFileName(window_, Q(title), Q(initialDir), FilterText(filters)));
      },
      {}));
}

std::optional<std::string> QtFrontend::ChooseOpenFile(const std::string& title,
                                                      const std::vector<FileFilter>& filters,
                                                      const std::string& initialDir) {
  return Chosen(Call<std::string>(
      [&] {
        return S(
            QFileDialog::getOpenFileName(window_, Q(title), Q(initialDir), FilterText(filters)));
      },
      {}));
}

std::optional<std::string> QtFrontend::ChooseFolder(const std::string& title,
                                                    const std::string& initialDir) {
  return Chosen(Call<std::string>(
      [&] { return S(QFileDialog::getExistingDirectory(window_, Q(title), Q(initialDir))); }, {}));
}

void QtFrontend::TreeChanged(DataSourceSide side) {
  Post([this, side] { window_->RedrawTree(side); });
}

void QtFrontend::SetFolderTitle(DataSourceSide side, const std::string& title) {
  Post([this, side, title] { window_->SetFolderTitle(side, Q(title)); });
}

void QtFrontend::SetSideState(DataSourceSide side, SideState state, const std::string& reason) {
  Post([this, side, state, reason] { window_->SetSideState(side, state, Q(reason)); });
}

void QtFrontend::PostCommand(int commandId) {
  QMetaObject::invokeMethod(
      this, [this, commandId] { window_->RunCommand(commandId); }, Qt::QueuedConnection);
}

void QtFrontend::RequestTick() {
  QMetaObject::invokeMethod(
      this, [this] { window_->Tick(); }, Qt::QueuedConnection);
}

int QtFrontend::CurrentTab() {
  return Call<int>([&] { return window_->CurrentTab(); }, kLogTab);
}

void QtFrontend::SetCurrentTab(int tab) {
  Post([this, tab] { window_->SetCurrentTab(tab); });
}

void QtFrontend::SetTipsTabVisible(bool visible) {
  Post([this, visible] { window_->SetTipsTabVisible(visible); });
}

void QtFrontend::SetControllerButtonImage(int image) {
  Post([this, image] { window_->SetControllerImage(image); });
}

void QtFrontend::SetControllerToolTip(const std::string& text) {
  Post([this, text] { window_->SetControllerToolTip(Q(text)); });
}

void QtFrontend::OpenUrl(const std::string& url) {
  Post([url] { QDesktopServices::openUrl(QUrl::fromUserInput(Q(url))); });
}

void QtFrontend::SetBusy(bool busy) {
  Post([busy] {
    if (busy)
      QApplication::setOverrideCursor(Qt::WaitCursor);
    else
      QApplication::restoreOverrideCursor();
  });
}

}  // namespace migrator::gui
