#include "browser/refresh_tree.h"

#include "app/workspace.h"

namespace migrator {

// The tree listing (databases, tables, columns, indexes, views) is not built
// yet: the tree is emptied and the window told to redraw it.
void RefreshTree(Workspace& ws, DataSourceSide side, int /*mode*/) {
  auto& tree = ws.Side(side).tree;
  tree.SetFilling(true);
  tree.Replace({});
  tree.SetFilling(false);
  ws.frontend().TreeChanged(side);
}

}  // namespace migrator
