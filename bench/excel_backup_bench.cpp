// The Excel adapter on a full sheet: backing up a table of ten text columns
// and ROWS rows to its .tbl and .data files through the workbook provider,
// restoring that backup into a new workbook (every INSERT statement through
// the provider, then the save), and formatting the header rows of the
// workbook through the automation layer. Prints rows per second and MB/s of
// the backup and of the restore, the time of the formatting (load, format,
// save), and the peak memory.
//
//   excel_backup_bench [ROWS] [DIRECTORY]

#include <sys/resource.h>
#include <time.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "adapters/excel/excel_adapter.h"
#include "app/scripted_frontend.h"
#include "app/workspace.h"
#include "bench_clock.h"
#include "oledb/operations.h"
#include "workflows/connect.h"
#include "workflows/restore.h"
#include "xls/workbook.h"

namespace {

using namespace migrator;
using bench::Watch;

// A table "bench" over a sheet of the same name: a header and `rows` rows of
// ten values, some with quotes, some empty.
bool MakeTable(const std::string& path, int rows) {
  auto wb = xls::Workbook::New();
  if (!wb.AddSheet("bench").ok()) return false;
  auto& s = wb.sheet(0);
  const char* heads[] = {"id",     "customer", "region", "ordered_at", "amount",
                         "street", "note",     "empty",  "flag",       "code"};
  for (uint32_t c = 0; c < 10; ++c)
    (void)s.SetText(0, c, heads[c]);
  for (int i = 1; i <= rows; ++i) {
    const auto r = static_cast<uint32_t>(i);
    const std::string n = std::to_string(i);
    (void)s.SetText(r, 0, n);
    (void)s.SetText(r, 1, "customer " + n);
    (void)s.SetText(r, 2, std::to_string(i % 97));
    (void)s.SetText(r, 3, "2024-01-" + std::to_string(1 + i % 28) + " 10:00:00");
    (void)s.SetText(r, 4, std::to_string(i * 3 % 1000) + ".50");
    (void)s.SetText(r, 5, "O'Brien street " + n);
    (void)s.SetText(r, 6,
                    "a somewhat longer free-text note that a real table might hold for row " + n);
    (void)s.SetText(r, 8, i % 2 ? "yes" : "no");
    (void)s.SetText(r, 9, "x" + n);
  }
  if (!wb.DefineName("bench", 0, xls::Range{0, 0, static_cast<uint32_t>(rows), 9}).ok())
    return false;
  return wb.Save(path).ok();
}

}  // namespace

int main(int argc, char** argv) {
  const int rows = argc > 1 ? std::atoi(argv[1]) : 65535;
  if (rows < 1 || rows > 65535) {
    std::fprintf(stderr, "ROWS must be from 1 to 65535\n");
    return 2;
  }
  namespace fs = std::filesystem;
  const fs::path dir =
      argc > 2 ? fs::path(argv[2]) : fs::temp_directory_path() / "excel_backup_bench";
  fs::create_directories(dir / "DATA");
  fs::create_directories(dir / "TABLES");
  const std::string db = (dir / "bench").string();

  Watch made;
  if (!MakeTable(db + ".xls", rows)) {
    std::fprintf(stderr, "cannot make %s.xls\n", db.c_str());
    return 1;
  }
  std::printf("workbook of %d rows x 10 columns written in %.2f s (%.1f MB)\n", rows, made.Wall(),
              static_cast<double>(fs::file_size(db + ".xls")) / 1e6);

  ScriptedFrontend ui;
  Workspace ws(ui, dir.string());
  ConnectionSettings s;
  s.providerId = kJetProvider;
  s.sourceName = db + ".xls";
  ws.target.SetSettings(s);
  Connect(ws, DataSourceSide::Target);
  if (!ws.target.Connected()) {
    std::fprintf(stderr, "the workbook provider did not open the workbook\n");
    return 1;
  }

  Watch backup;
  const std::string structure = ExcelAdapter::BackupTableStructure(ws, &ws.target.session, "bench");
  const std::string result =
      ExcelAdapter::BackupTableData(ws, &ws.target.session, db, "bench", (dir / "DATA").string());
  const double wall = backup.Wall(), cpu = backup.Cpu();
  const double bytes = static_cast<double>(fs::file_size(dir / "DATA" / "bench.data"));
  std::printf("backup: %s; %d rows in %.2f s wall, %.2f s CPU: %.0f rows/s, %.1f MB/s (%.1f MB)\n",
              result.c_str(), rows, wall, cpu, rows / wall, bytes / 1e6 / wall, bytes / 1e6);
  if (std::FILE* f = std::fopen((dir / "TABLES" / "bench.tbl").c_str(), "w")) {
    std::fputs(structure.c_str(), f);
    std::fclose(f);
  }

  // The restore: a new workbook, the table made from its .tbl file, every
  // statement of the .data file, the save.
  const std::string copy = (dir / "restored").string();
  fs::remove(copy + ".xls");
  Workspace restoreWs(ui, dir.string());
  restoreWs.target.SetSettings(s);
  if (!ExcelAdapter::CreateDatabase(restoreWs, copy, 1)) {
    std::fprintf(stderr, "cannot make %s.xls\n", copy.c_str());
    return 1;
  }
  restoreWs.target.EditSettings([&](ConnectionSettings& t) { t.sourceName = copy + ".xls"; });
  Connect(restoreWs, DataSourceSide::Target);
  Watch restore;
  const RestoreOutcome restored = RestoreBackup(ui, &restoreWs.target.session, dir.string());
  oledb::CloseConnection(ui, restoreWs.target.session, restoreWs.target.dataSource);
  const double restoreWall = restore.Wall(), restoreCpu = restore.Cpu();
  std::printf(
      "restore: %s; %d rows in %.2f s wall, %.2f s CPU: %.0f rows/s, %.1f MB/s of statements "
      "(save included, %.1f MB workbook)\n",
      restored == RestoreOutcome::Restored ? "restored" : "FAILED", rows, restoreWall, restoreCpu,
      rows / restoreWall, bytes / 1e6 / restoreWall,
      static_cast<double>(fs::file_size(copy + ".xls")) / 1e6);

  Watch format;
  ExcelAdapter::FormatTableHeads(ws, db);
  std::printf(
      "header formatting (open, format, save, reconnect): %.2f s wall, %.2f s CPU; "
      "target %s\n",
      format.Wall(), format.Cpu(), ws.target.Connected() ? "re-opened" : "CLOSED");

  std::printf("peak memory: %.1f MB\n", bench::PeakMiB());
  return result == kDataBackupDone && restored == RestoreOutcome::Restored && ws.target.Connected()
             ? 0
             : 1;
}
