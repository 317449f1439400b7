#include "app/workspace.h"

#include "tasks/controller.h"

namespace migrator {

Workspace::Workspace(Frontend& frontend, std::string programDir, ControllerTiming timing)
    : Workspace(frontend, std::move(programDir), timing, DefaultTaskFunctions()) {}

Workspace::Workspace(Frontend& frontend, std::string programDir, ControllerTiming timing,
                     const TaskFunctionTable& table)
    : frontend_(frontend),
      programDir_(std::move(programDir)),
      timing_(timing),
      currentDirectory_(programDir_),
      controller_(std::make_unique<MainController>(*this, table)) {}

// The controller goes first, while everything it may touch still exists.
Workspace::~Workspace() {
  controller_.reset();
}

void Workspace::StopRunningTasks() {
  // A task function that calls this is the only task running: stopping the
  // controller would only cut the rest of its pass short.
  if (controller_->OnControllerThread()) return;
  if (TryStop()) controller_->Sleep(timing_.stopWait);
}

BackupSettings Workspace::Backup() const {
  std::lock_guard lock(m_);
  return backup_;
}
void Workspace::SetBackup(BackupSettings b) {
  std::lock_guard lock(m_);
  backup_ = std::move(b);
}
std::string Workspace::Charset() const {
  std::lock_guard lock(m_);
  return charset_;
}
void Workspace::SetCharset(std::string name) {
  std::lock_guard lock(m_);
  charset_ = std::move(name);
}
MigrationOptions Workspace::Migration() const {
  std::lock_guard lock(m_);
  return migration_;
}
void Workspace::SetMigration(MigrationOptions options) {
  std::lock_guard lock(m_);
  migration_ = options;
}
WorkingDirectory Workspace::CurrentDirectory() const {
  std::lock_guard lock(m_);
  return currentDirectory_;
}
void Workspace::SetCurrentDirectory(WorkingDirectory dir) {
  std::lock_guard lock(m_);
  currentDirectory_ = std::move(dir);
}

std::string Workspace::ConditionFilePath() const {
  std::string dir = programDir_;
  if (!dir.empty() && dir.back() != '/') dir += '/';
  return dir + "Condition.cfg";
}

}  // namespace migrator
