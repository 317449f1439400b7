#include "app/scripted_frontend.h"

#include <algorithm>

namespace migrator {

namespace {
constexpr std::size_t kTimestampChars = 24;  // "YYYY/MM/DD hh:mm:ss:mmm "

Answer DefaultFor(Buttons b) {
  switch (b) {
    case Buttons::Ok:
      return Answer::Ok;
    case Buttons::OkCancel:
      return Answer::Cancel;
    case Buttons::YesNo:
      return Answer::No;
  }
  return Answer::Cancel;
}

// Maps a queued answer onto the buttons actually offered.
Answer Fit(Answer a, Buttons b) {
  switch (b) {
    case Buttons::Ok:
      return Answer::Ok;
    case Buttons::OkCancel:
      return (a == Answer::Ok || a == Answer::Yes) ? Answer::Ok : Answer::Cancel;
    case Buttons::YesNo:
      return (a == Answer::Ok || a == Answer::Yes) ? Answer::Yes : Answer::No;
  }
  return a;
}
}  // namespace

const char* ButtonsName(Buttons b) {
  switch (b) {
    case Buttons::Ok:
      return "Ok";
    case Buttons::OkCancel:
      return "OkCancel";
    case Buttons::YesNo:
      return "YesNo";
  }
  return "?";
}

void ScriptedFrontend::QueueAnswer(Answer a) {
  std::lock_guard lock(m_);
  answers_.push_back(a);
}
void ScriptedFrontend::SetDefaultAnswer(Answer a) {
  std::lock_guard lock(m_);
  defaultAnswer_ = a;
}
void ScriptedFrontend::QueueFile(std::optional<std::string> path) {
  std::lock_guard lock(m_);
  files_.push_back(std::move(path));
}
void ScriptedFrontend::QueueFolder(std::optional<std::string> path) {
  std::lock_guard lock(m_);
  folders_.push_back(std::move(path));
}

std::vector<std::string> ScriptedFrontend::Calls() const {
  std::lock_guard lock(m_);
  return calls_;
}
std::vector<std::string> ScriptedFrontend::CallsStartingWith(const std::string& prefix) const {
  std::lock_guard lock(m_);
  std::vector<std::string> out;
  for (const auto& c : calls_)
    if (c.rfind(prefix, 0) == 0) out.push_back(c);
  return out;
}
bool ScriptedFrontend::HasCall(const std::string& call) const {
  std::lock_guard lock(m_);
  return std::find(calls_.begin(), calls_.end(), call) != calls_.end();
}
void ScriptedFrontend::ClearCalls() {
  std::lock_guard lock(m_);
  calls_.clear();
}

std::vector<OutputLine> ScriptedFrontend::Lines() const {
  std::lock_guard lock(m_);
  return {log_.lines().begin(), log_.lines().end()};
}
std::vector<std::string> ScriptedFrontend::Texts() const {
  std::lock_guard lock(m_);
  std::vector<std::string> out;
  for (const auto& l : log_.lines())
    out.push_back(l.text.size() >= kTimestampChars ? l.text.substr(kTimestampChars) : l.text);
  return out;
}
bool ScriptedFrontend::HasText(const std::string& text) const {
  auto texts = Texts();
  return std::find(texts.begin(), texts.end(), text) != texts.end();
}
std::size_t ScriptedFrontend::LineCount() const {
  std::lock_guard lock(m_);
  return log_.size();
}
void ScriptedFrontend::ClearLines() {
  std::lock_guard lock(m_);
  log_.Clear();
}
std::string ScriptedFrontend::LastFolderStart() const {
  std::lock_guard lock(m_);
  return folderStart_;
}
std::string ScriptedFrontend::StatusText() const {
  std::lock_guard lock(m_);
  return status_;
}
std::vector<int> ScriptedFrontend::PostedCommands() const {
  std::lock_guard lock(m_);
  return posted_;
}
int ScriptedFrontend::ControllerImage() const {
  std::lock_guard lock(m_);
  return controllerImage_;
}
std::string ScriptedFrontend::ControllerToolTip() const {
  std::lock_guard lock(m_);
  return controllerToolTip_;
}

void ScriptedFrontend::Record(std::string call) {
  calls_.push_back(std::move(call));
}

void ScriptedFrontend::AppendOutput(const OutputLine& line) {
  std::lock_guard lock(m_);
  log_.Append(line);
}
void ScriptedFrontend::SetStatusText(const std::string& text) {
  std::lock_guard lock(m_);
  status_ = text;
  Record("status: " + text);
}
void ScriptedFrontend::ShowHint(const std::string& hint) {
  std::lock_guard lock(m_);
  tab_ = kTipsTab;
  Record("hint: " + hint);
}
Answer ScriptedFrontend::Ask(const std::string& text, Buttons buttons, Icon icon,
                             const std::string& caption) {
  std::lock_guard lock(m_);
  std::string call = std::string("ask ") + ButtonsName(buttons);
  if (icon == Icon::Exclamation) call += " !";
  if (!caption.empty()) call += " [" + caption + "]";
  Record(call + ": " + text);
  Answer a;
  if (!answers_.empty()) {
    a = answers_.front();
    answers_.pop_front();
  } else {
    a = defaultAnswer_ ? *defaultAnswer_ : DefaultFor(buttons);
  }
  return Fit(a, buttons);
}
std::optional<std::string> ScriptedFrontend::ChooseSaveFile(const std::string& title,
                                                            const std::vector<FileFilter>&,
                                                            const std::string& initialDir) {
  std::lock_guard lock(m_);
  Record("save-file: " + title + " @" + initialDir);
  if (files_.empty()) return std::nullopt;
  auto r = files_.front();
  files_.pop_front();
  return r;
}
std::optional<std::string> ScriptedFrontend::ChooseOpenFile(const std::string& title,
                                                            const std::vector<FileFilter>&,
                                                            const std::string& initialDir) {
  std::lock_guard lock(m_);
  Record("open-file: " + title + " @" + initialDir);
  if (files_.empty()) return std::nullopt;
  auto r = files_.front();
  files_.pop_front();
  return r;
}
std::optional<std::string> ScriptedFrontend::ChooseFolder(const std::string& title,
                                                          const std::string& initialDir) {
  std::lock_guard lock(m_);
  Record("folder: " + title);
  folderStart_ = initialDir;
  if (folders_.empty()) return std::nullopt;
  auto r = folders_.front();
  folders_.pop_front();
  return r;
}
void ScriptedFrontend::TreeChanged(DataSourceSide side) {
  std::lock_guard lock(m_);
  Record(std::string("tree: ") + (side == DataSourceSide::Source ? "Source" : "Target"));
}
void ScriptedFrontend::SetSideState(DataSourceSide side, SideState state,
                                    const std::string& reason) {
  std::lock_guard lock(m_);
  const char* word = state == SideState::Connected ? "connected"
                     : state == SideState::Failed  ? "failed"
                                                   : "lost";
  Record(std::string("side ") + SideWord(side) + ": " + word + (reason.empty() ? "" : ": ") +
         reason);
}
void ScriptedFrontend::SetFolderTitle(DataSourceSide side, const std::string& title) {
  std::lock_guard lock(m_);
  Record(std::string("title ") + SideWord(side) + ": " + title);
}
void ScriptedFrontend::PostCommand(int commandId) {
  std::lock_guard lock(m_);
  posted_.push_back(commandId);
  Record("post: " + std::to_string(commandId));
}
void ScriptedFrontend::RequestTick() {}
int ScriptedFrontend::CurrentTab() {
  std::lock_guard lock(m_);
  return tab_;
}
void ScriptedFrontend::SetCurrentTab(int tab) {
  std::lock_guard lock(m_);
  tab_ = tab;
}
void ScriptedFrontend::SetTipsTabVisible(bool visible) {
  std::lock_guard lock(m_);
  Record(std::string("tips-tab: ") + (visible ? "on" : "off"));
}
void ScriptedFrontend::SetControllerButtonImage(int image) {
  std::lock_guard lock(m_);
  controllerImage_ = image;
  Record("button-image: " + std::to_string(image));
}
void ScriptedFrontend::SetControllerToolTip(const std::string& text) {
  std::lock_guard lock(m_);
  controllerToolTip_ = text;
  Record("button-tip: " + text);
}
void ScriptedFrontend::OpenUrl(const std::string& url) {
  std::lock_guard lock(m_);
  Record("open-url: " + url);
}
void ScriptedFrontend::SetBusy(bool) {}

}  // namespace migrator
