#pragma once
// RefreshTree: rebuilds a side's tree from its connection.

#include "app/frontend.h"

namespace migrator {

class Workspace;

// The mode flag (0 or 1) does not change what it does.
void RefreshTree(Workspace& ws, DataSourceSide side, int mode);

}  // namespace migrator
