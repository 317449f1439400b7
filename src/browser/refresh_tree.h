#pragma once
// RefreshTree: rebuilds a side's tree from its connection; ListFolder reads
// the entries of a table's "Fields" or "Indexes" folder when it is opened.

#include <cstdint>

#include "app/frontend.h"
#include "browser/db_tree.h"

namespace migrator {

class Workspace;

// The root, the databases, and for the current database its tables and
// views, each with its folders; the folders' entries are read by ListFolder.
// The mode flag (0 or 1) does not change what it does. Tells the frontend
// that the tree changed.
void RefreshTree(Workspace& ws, DataSourceSide side, int mode);

// Lists the columns of a table's or view's "Fields" folder, or the indexes of
// a table's "Indexes" folder (an index over several columns once per
// column), from the side's session. False when the folder is not one of
// those, is already listed, or the tree was rebuilt since `generation`.
bool ListFolder(Workspace& ws, DataSourceSide side, NodeId folder, std::uint64_t generation);

}  // namespace migrator
