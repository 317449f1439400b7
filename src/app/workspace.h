#pragma once
// Workspace: the state the main window owns. Both sides' connections (settings,
// data source, session, tree), the task list, the controller and its state
// byte, the task lock, the backup settings, the character-set name and the
// condition file's path. The Qt window owns one; the command line and the
// tests make their own.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "app/frontend.h"
#include "browser/db_tree.h"
#include "oledb/slot.h"
#include "platform/working_directory.h"
#include "tasks/task.h"

namespace migrator {

class MainController;
struct TaskFunctionTable;

// One side's connection profile as the configuration dialog hands it over.
struct ConnectionSettings {
  std::string providerText;  // display name, e.g. "TCP/IP:Port"
  std::string providerId;    // e.g. "MSDASQL", "Microsoft.Jet.OLEDB.4.0"
  std::string sourceName;    // server address or workbook path
  std::string userId;
  std::string password;
  std::string catalogName;  // database
  // Seconds a login may take, and a read or write may wait on the server (a
  // long query runs on while its rows keep arriving); 0: no limit. Unset:
  // the provider's defaults (providers/odbc/odbc_provider.h).
  std::optional<int> loginTimeout, readTimeout;
};

// One side's connection state.
class SideConnection {
 public:
  SideConnection(DataSourceSide side, int dbmsKind) : side(side), tree(side, dbmsKind) {}

  ConnectionSettings Settings() const {
    std::lock_guard lock(m_);
    return settings_;
  }
  void SetSettings(ConnectionSettings s) {
    std::lock_guard lock(m_);
    settings_ = std::move(s);
  }
  // Changes some settings under the lock: EditSettings([](ConnectionSettings& s) {...}).
  template <class F>
  void EditSettings(F&& f) {
    std::lock_guard lock(m_);
    f(settings_);
  }
  std::string DbmsTitle() const {
    std::lock_guard lock(m_);
    return dbmsTitle_;
  }
  void SetDbmsTitle(std::string t) {
    std::lock_guard lock(m_);
    dbmsTitle_ = std::move(t);
  }
  bool Connected() const { return !session.Empty(); }

  const DataSourceSide side;
  oledb::DataSourceSlot dataSource;
  oledb::SessionSlot session;
  DbTree tree;

 private:
  mutable std::mutex m_;
  ConnectionSettings settings_;
  std::string dbmsTitle_;
};

// The controller state byte.
enum class ControllerState : std::uint8_t { Idle = 0, Running = 2, Stopping = 99 };

// Waits of the controller and of the operations that stop it. Tests shorten
// them; the program uses the defaults.
struct ControllerTiming {
  std::chrono::milliseconds period{3000};     // between passes
  std::chrono::milliseconds taskStart{50};    // first wait of the thread and of each task
  std::chrono::milliseconds afterStart{100};  // the window's wait after starting the thread
  std::chrono::milliseconds stopWait{1000};   // operations that switch Running to Stopping
  std::chrono::milliseconds exitWait{3000};   // a confirmed exit
  // How long an operation of the window on a workbook waits for a task that
  // is still running (asked to stop) before it refuses.
  std::chrono::milliseconds workbookWait{10000};
};

struct BackupSettings {
  bool chosen = false;  // a backup directory was chosen
  std::string path;     // the chosen backup directory
};

class Workspace {
 public:
  // programDir: where migrator.cfg, Condition.cfg, data_cache and backup live.
  Workspace(Frontend& frontend, std::string programDir, ControllerTiming timing = {});
  // As above with a task-function table of the caller's (tests).
  Workspace(Frontend& frontend, std::string programDir, ControllerTiming timing,
            const TaskFunctionTable& table);
  ~Workspace();
  Workspace(const Workspace&) = delete;
  Workspace& operator=(const Workspace&) = delete;

  Frontend& frontend() const { return frontend_; }
  const std::string& programDir() const { return programDir_; }
  const ControllerTiming& timing() const { return timing_; }

  SideConnection& Side(DataSourceSide side) {
    return side == DataSourceSide::Source ? source : target;
  }

  SideConnection source{DataSourceSide::Source, kMySql};
  SideConnection target{DataSourceSide::Target, kExcel};
  TaskList tasks;

  ControllerState State() const { return static_cast<ControllerState>(state_.load()); }
  void SetState(ControllerState s) { state_.store(static_cast<std::uint8_t>(s)); }
  // Running -> Stopping as one step; false when the state was not Running.
  bool TryStop() {
    auto expected = static_cast<std::uint8_t>(ControllerState::Running);
    return state_.compare_exchange_strong(expected,
                                          static_cast<std::uint8_t>(ControllerState::Stopping));
  }
  // Running -> Stopping, then the stop wait (the operations that touch a
  // workbook the controller may be writing do this before they start).
  // Nothing on the controller thread, where no other task can be writing.
  void StopRunningTasks();
  MainController& controller() { return *controller_; }
  // The task lock: held by the controller for a whole pass and entered again
  // by the task functions on the same thread. The window thread never takes it.
  std::recursive_mutex& taskLock() { return taskLock_; }

  BackupSettings Backup() const;
  void SetBackup(BackupSettings b);
  std::string Charset() const;
  void SetCharset(std::string name);
  bool AutoBackup() const { return autoBackup_.load(); }
  void SetAutoBackup(bool on) { autoBackup_.store(on); }
  // Full path of Condition.cfg.
  std::string ConditionFilePath() const;
  // "The current directory" of the commands that write files by relative
  // names (data cache, backup tree). It starts as the program's directory;
  // tasks take a copy when they start.
  WorkingDirectory CurrentDirectory() const;
  void SetCurrentDirectory(WorkingDirectory dir);

 private:
  Frontend& frontend_;
  const std::string programDir_;
  const ControllerTiming timing_;
  std::atomic<std::uint8_t> state_{0};
  std::recursive_mutex taskLock_;
  mutable std::mutex m_;
  BackupSettings backup_;
  std::string charset_;
  WorkingDirectory currentDirectory_;
  std::atomic<bool> autoBackup_{false};
  std::unique_ptr<MainController> controller_;  // last: it is stopped first
};

}  // namespace migrator
