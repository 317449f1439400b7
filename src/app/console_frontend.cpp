#include "app/console_frontend.h"

#include <unistd.h>

#include <cctype>
#include <string>

#include "app/output.h"
#include "platform/text.h"

namespace migrator {

ConsoleFrontend::ConsoleFrontend(std::FILE* out, std::FILE* err, std::FILE* in)
    : out_(out), err_(err), in_(in), colour_(isatty(fileno(out)) != 0) {}

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
  const std::string shownText = caption.empty() ? text : caption + ": " + text;
  if (buttons == Buttons::Ok) {
    std::fprintf(err_, "%s\n", shownText.c_str());
    return Answer::Ok;
  }
  const bool okCancel = buttons == Buttons::OkCancel;
  const Answer yes = okCancel ? Answer::Ok : Answer::Yes;
  const Answer no = okCancel ? Answer::Cancel : Answer::No;
  const char* yesWord = okCancel ? "OK" : "Yes";
  const char* noWord = okCancel ? "Cancel" : "No";
  switch (policy_) {
    case QuestionPolicy::AssumeYes:
      std::fprintf(err_, "%s -> %s\n", shownText.c_str(), yesWord);
      return yes;
    case QuestionPolicy::Decline:
      std::fprintf(err_, "%s -> %s\n", shownText.c_str(), noWord);
      return no;
    case QuestionPolicy::Refuse:
      std::fprintf(err_,
                   "%s -> %s: the question needs an answer and there is no terminal to ask on; "
                   "run with --yes to answer %s\n",
                   shownText.c_str(), noWord, yesWord);
      declined_ = true;
      return no;
    case QuestionPolicy::AskTerminal:
      break;
  }
  std::fprintf(err_, "%s [%s/%s] ", shownText.c_str(), okCancel ? "ok" : "yes", noWord);
  std::fflush(err_);
  char line[256];
  std::string answer;
  if (std::fgets(line, sizeof line, in_)) answer = ToLowerAscii(line);
  while (!answer.empty() && std::isspace(static_cast<unsigned char>(answer.back())))
    answer.pop_back();
  if (answer == "y" || answer == "yes" || answer == "ok") return yes;
  declined_ = true;
  return no;
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
std::optional<std::string> ConsoleFrontend::ChooseFolder(const std::string&, const std::string&) {
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
