#include "app/console_frontend.h"

#include <unistd.h>

#include "app/output.h"

namespace migrator {

ConsoleFrontend::ConsoleFrontend(std::FILE* out, std::FILE* err)
    : out_(out), err_(err), colour_(isatty(fileno(out)) != 0) {}

void ConsoleFrontend::AppendOutput(const OutputLine& line) {
  std::lock_guard lock(m_);
  // Quiet keeps the error lines: they say why a run failed.
  const bool error = line.coloured && line.textColour.r == kRed.r && line.textColour.g == kRed.g &&
                     line.textColour.b == kRed.b;
  if (quiet_ && !error) return;
  if (colour_ && line.coloured) {
    std::fprintf(out_, "\x1b[38;2;%d;%d;%dm%s\x1b[0m\n", line.textColour.r, line.textColour.g,
                 line.textColour.b, line.text.c_str());
  } else {
    std::fprintf(out_, "%s\n", line.text.c_str());
  }
  std::fflush(out_);
}

void ConsoleFrontend::SetStatusText(const std::string&) {}

void ConsoleFrontend::ShowHint(const std::string& hint) {
  std::lock_guard lock(m_);
  std::fprintf(err_, "F1 to Help: %s\n", hint.c_str());
}

Answer ConsoleFrontend::Ask(const std::string& text, Buttons buttons, Icon,
                            const std::string& caption) {
  std::lock_guard lock(m_);
  Answer a = Answer::Ok;
  if (buttons == Buttons::OkCancel) a = assumeYes_ ? Answer::Ok : Answer::Cancel;
  if (buttons == Buttons::YesNo) a = assumeYes_ ? Answer::Yes : Answer::No;
  const char* shown = a == Answer::Ok       ? (buttons == Buttons::Ok ? "" : " -> OK")
                      : a == Answer::Cancel ? " -> Cancel"
                      : a == Answer::Yes    ? " -> Yes"
                                            : " -> No";
  std::fprintf(err_, "%s%s%s%s\n", caption.empty() ? "" : caption.c_str(),
               caption.empty() ? "" : ": ", text.c_str(), shown);
  return a;
}

std::optional<std::string> ConsoleFrontend::ChooseSaveFile(const std::string&,
                                                           const std::vector<FileFilter>&,
                                                           const std::string&) {
  return saveFile_;
}
std::optional<std::string> ConsoleFrontend::ChooseOpenFile(const std::string&,
                                                           const std::vector<FileFilter>&,
                                                           const std::string&) {
  return saveFile_;
}
std::optional<std::string> ConsoleFrontend::ChooseFolder(const std::string&) {
  return folder_;
}

void ConsoleFrontend::SetFolderTitle(DataSourceSide side, const std::string& title) {
  std::lock_guard lock(m_);
  if (!quiet_) std::fprintf(err_, "%s: %s\n", SideWord(side), title.c_str());
}

void ConsoleFrontend::OpenUrl(const std::string& url) {
  std::lock_guard lock(m_);
  std::fprintf(err_, "Open %s\n", url.c_str());
}

}  // namespace migrator
