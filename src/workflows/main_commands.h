#pragma once
// The main window's own commands, without the window: the controller check
// that guards Connect and Delete Selected, Connect, Delete Selected, and the
// description of the tasks a closing program leaves behind. Every question
// and message goes through the workspace's Frontend, so the commands run the
// same under the window, the command line and the tests.

#include <string>

#include "app/workspace.h"

namespace migrator {

struct ConnectServices;

// Command identifiers of the main window's tool bar and menus.
enum MainCommandId : int {
  kCmdConfigButton = 1026,
  kCmdConnectButton = 1028,
  kCmdDeleteButton = 1030,
  kCmdBackupButton = 1034,
  kCmdMigrateButton = 1035,
  kCmdExit = 2,
  kCmdConfig = 32777,
  kCmdMigrate = 32778,
  kCmdDeleteSelected = 32779,
  kCmdConnect = 32780,
  kCmdBackup = 32782,
  kCmdManual = 32783,
  kCmdWebsite = 32785,
  kCmdDriverCheck = 32793,
};

// While tasks run, Connect and Delete Selected only offer to stop them:
// Running asks "STOP ALL?" (OK switches to Stopping), Stopping says to try
// again later. True when the command may go on (the controller is idle).
bool ControllerAllowsCommand(Workspace& ws);

// Connect: the controller check, then the source side and the target side
// are (re)opened and the character set becomes "LATIN1".
void ConnectCommand(Workspace& ws);
void ConnectCommand(Workspace& ws, const ConnectServices& services);

// Delete Selected, on the target tree's selected node: a database, a table,
// the Tables folder, a view or the Views folder. Each asks OK/Cancel and then
// Yes/No; only OK and Yes delete. Nodes are removed as their objects go and
// the tree is rebuilt afterwards while the side is still open. Returns how
// many objects were deleted.
int DeleteSelectedCommand(Workspace& ws);

// One line per task that a task function is still working on ("01 MIGRATE
// [shop].[orders] -> [/data/book]"), for the message of a program that ends
// without it; empty when none is.
std::string WorkingTasksText(const TaskList& tasks);

}  // namespace migrator
