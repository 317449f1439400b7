// The database trees on a large server: 1,000 databases, one of them with
// 5,000 tables. Prints the time to list the server (Connect's rebuild of the
// source tree), to switch to the big database (its tables and views), to hand
// the tree to the window's view, to open the "Tables" folder with its 5,000
// entries and draw it, and to scroll to its end; and the peak memory.
//
// Needs the private server and no display:
//   scripts/with-mariadb.sh env QT_QPA_PLATFORM=offscreen build/bench/tree_bench

// The core's headers come before Qt's, whose "slots" keyword they use as a
// name.
#include "app/scripted_frontend.h"
#include "app/workspace.h"
#include "bench_clock.h"
#include "browser/refresh_tree.h"
#include "browser/tree_commands.h"
#include "workflows/connect.h"

#include <QApplication>
#include <QScrollBar>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "browser/qt/db_tree_model.h"
#include "browser/qt/db_tree_view.h"

namespace {

using namespace migrator;

constexpr int kDatabases = 1000;
constexpr int kTables = 5000;

std::string Env(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "";
}

NodeId Find(const DbTree& tree, NodeKind kind, const std::string& text) {
  for (const TreeNode& n : tree.Nodes())
    if (n.id != kNoNode && n.kind == kind && n.text == text) return n.id;
  return kNoNode;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  const std::string socket = Env("MIGRATOR_TEST_MYSQL_SOCKET");
  if (socket.empty()) {
    std::fprintf(stderr, "tree_bench: run it under scripts/with-mariadb.sh\n");
    return 2;
  }

  // The server: 1,000 databases, one of them with 5,000 tables.
  bench::Watch setup;
  const auto dir = std::filesystem::temp_directory_path() / "migrator-tree-bench";
  std::filesystem::create_directories(dir);
  {
    std::ofstream sql(dir / "setup.sql");
    for (int i = 0; i < kDatabases - 1; ++i)
      sql << "CREATE DATABASE IF NOT EXISTS bench_db_" << i << ";\n";
    sql << "CREATE DATABASE IF NOT EXISTS bench_big;\nUSE bench_big;\n";
    for (int i = 0; i < kTables; ++i)
      sql << "CREATE TABLE IF NOT EXISTS t_" << i << " (id INT, name VARCHAR(20)) ENGINE=MyISAM;\n";
  }
  const std::string load = "mariadb --no-defaults -u" + Env("MIGRATOR_TEST_MYSQL_ROOT_USER") +
                           " --socket='" + socket + "' < '" + (dir / "setup.sql").string() + "'";
  if (std::system(load.c_str()) != 0) {
    std::fprintf(stderr, "tree_bench: setting up the server failed\n");
    return 1;
  }
  std::printf("setup: %d databases, %d tables in one: %.1f s\n", kDatabases, kTables, setup.Wall());

  ScriptedFrontend ui;
  Workspace ws(ui, dir.string());
  ConnectionSettings s;
  s.providerText = "TCP/IP:Port";
  s.providerId = "MSDASQL";
  s.sourceName = Env("MIGRATOR_TEST_MYSQL_HOST") + ":" + Env("MIGRATOR_TEST_MYSQL_PORT");
  s.userId = Env("MIGRATOR_TEST_MYSQL_USER");
  s.password = Env("MIGRATOR_TEST_MYSQL_PASSWORD");
  ws.source.SetSettings(s);

  bench::Watch list;
  Connect(ws, DataSourceSide::Source);
  const double listWall = list.Wall(), listCpu = list.Cpu();
  DbTree& tree = ws.source.tree;
  std::size_t databases = 0;
  for (const TreeNode& n : tree.Nodes())
    databases += n.kind == NodeKind::Database;
  std::printf("list the server (connect and rebuild): %zu databases in %.3f s (cpu %.3f s)\n",
              databases, listWall, listCpu);

  gui::DbTreeView view(ws, DataSourceSide::Source);
  view.resize(400, 600);
  view.show();

  bench::Watch show;
  view.Reload();
  view.viewport()->repaint();
  std::printf("hand %zu nodes to the view and draw: %.3f s\n", tree.Nodes().size(), show.Wall());

  bench::Watch change;
  SwitchDatabase(ws, DataSourceSide::Source, Find(tree, NodeKind::Database, "bench_big"));
  const double switchWall = change.Wall(), switchCpu = change.Cpu();
  const NodeId tables = tree.TablesFolder();
  const std::size_t tableCount = tables == kNoNode ? 0 : tree.Node(tables)->children.size();
  std::printf(
      "switch to the big database (tables and views listed): %zu tables in %.3f s (cpu %.3f s)\n",
      tableCount, switchWall, switchCpu);

  bench::Watch reload;
  view.setExpanded(view.treeModel()->IndexOf(tables), false);
  view.Reload();
  view.collapseAll();
  view.expand(view.treeModel()->IndexOf(tree.Node(tables)->parent));
  view.viewport()->repaint();
  const double reloadWall = reload.Wall();

  bench::Watch expand;
  view.expand(view.treeModel()->IndexOf(tables));
  view.viewport()->repaint();
  QCoreApplication::processEvents();
  const double expandWall = expand.Wall(), expandCpu = expand.Cpu();

  bench::Watch scroll;
  view.scrollToBottom();
  view.viewport()->repaint();
  QCoreApplication::processEvents();
  const double scrollWall = scroll.Wall();

  std::printf("hand the big tree to the view: %.3f s\n", reloadWall);
  std::printf("open \"Tables\" with %zu entries and draw: %.3f s (cpu %.3f s)\n", tableCount,
              expandWall, expandCpu);
  std::printf("scroll to its last entry and draw: %.3f s\n", scrollWall);
  std::printf("peak memory: %.1f MiB\n", bench::PeakMiB());

  std::filesystem::remove_all(dir);
  return 0;
}
