// Workbook provider: a migration's worth of INSERT statements into one sheet.
//
// Creates a table of ten text columns in a new workbook, sends 65,535 INSERT
// statements (one per row, as the data transfer sends them) through
// ExecuteStatement on a workbook session, releases the session (which saves
// the workbook) and prints rows per second with the save included, the time
// of each phase, the parser's own rate, the file size and the peak memory.
//
//   wbprov_insert_bench [ROWS] [DIRECTORY] [provider] [xlsx]
//
// With "provider" only the provider's run is made (for a profiler); with
// "xlsx" the workbook is an .xlsx file (up to 1,048,575 rows).

#include <sys/resource.h>
#include <time.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "app/scripted_frontend.h"
#include "bench_clock.h"
#include "oledb/operations.h"
#include "oledb/slot.h"
#include "providers/registry.h"
#include "providers/workbook/sql.h"
#include "providers/workbook/workbook_provider.h"
#include "xls/workbook.h"

namespace {

using namespace migrator;
using bench::Watch;

// The statement for row i: ten quoted values, some short, some long, one
// with a quote, as the transfer loop writes them.
std::string InsertFor(int i) {
  const std::string n = std::to_string(i);
  std::string s = "insert into bench values (";
  s += "'" + n + "',";
  s += "'customer " + n + "',";
  s += "'" + std::to_string(i % 97) + "',";
  s += "'2024-01-" + std::to_string(1 + i % 28) + " 10:00:00',";
  s += "'" + std::to_string(i * 3 % 1000) + ".50',";
  s += "'O''Brien street " + n + "',";
  s += "'a somewhat longer free-text note that a real table might hold for row " + n + "',";
  s += "'',";
  s += "'" + std::string(i % 2 ? "yes" : "no") + "',";
  s += "'x" + n + "');\n";
  return s;
}

}  // namespace

int main(int argc, char** argv) {
  const int rows = argc > 1 ? std::atoi(argv[1]) : 65535;
  const std::filesystem::path dir =
      argc > 2 ? std::filesystem::path(argv[2]) : std::filesystem::temp_directory_path();
  bool providerOnly = false, xlsx = false;
  for (int a = 3; a < argc; ++a) {
    providerOnly = providerOnly || std::string(argv[a]) == "provider";
    xlsx = xlsx || std::string(argv[a]) == "xlsx";
  }
  const std::string ext = xlsx ? ".xlsx" : ".xls";
  const std::filesystem::path path = dir / ("wbprov_insert_bench" + ext);

  {
    auto book = xls::Workbook::New(xlsx ? xls::FileFormat::kXlsx : xls::FileFormat::kXls);
    if (!book.AddSheet("Sheet1") || !book.Save(path.string())) {
      std::fprintf(stderr, "cannot write %s\n", path.c_str());
      return 1;
    }
  }

  // The statements are made before the clock starts.
  std::vector<std::string> statements;
  statements.reserve(static_cast<std::size_t>(rows));
  std::size_t bytes = 0;
  for (int i = 1; i <= rows; ++i) {
    statements.push_back(InsertFor(i));
    bytes += statements.back().size();
  }

  // The parser alone.
  if (!providerOnly) {
    providers::workbook::Statement st;
    Watch w;
    for (const auto& s : statements) {
      if (!providers::workbook::ParseStatement(s, st)) return 1;
    }
    const double wall = w.Wall(), cpu = w.Cpu();
    std::printf("parser only:        %10.0f statements/s  (%.1f MB/s, %.3f s wall, %.3f s CPU)\n",
                rows / wall, bytes / 1e6 / wall, wall, cpu);
  }

  std::shared_ptr<oledb::DataSource> ds;
  if (hr::Failed(providers::CreateDataSource(providers::workbook::kProviderId, ds))) return 1;
  oledb::PropertySet init;
  init.Add(oledb::DBPROP_INIT_DATASOURCE, oledb::Variant::Bstr(path.string()));
  init.Add(oledb::DBPROP_INIT_PROVIDERSTRING, oledb::Variant::Bstr("Excel 8.0;HDR=Yes;"));
  if (hr::Failed(ds->SetProperties(init)) || hr::Failed(ds->Initialize())) {
    std::fprintf(stderr, "%s\n",
                 oledb::ErrorDescription(ds.get(), oledb::Iid::IDBInitialize).c_str());
    return 1;
  }
  std::shared_ptr<oledb::Session> session;
  if (hr::Failed(ds->CreateSession(session))) return 1;
  oledb::SessionSlot slot;
  slot.Set(std::move(session));
  ScriptedFrontend ui;

  const char* create =
      "create table `bench` (\n`id` text,\n`customer` text,\n`region` text,\n`created` text,\n"
      "`amount` text,\n`street` text,\n`note` text,\n`empty` text,\n`flag` text,\n`code` text\n)";
  if (!oledb::ExecuteStatement(ui, &slot, create, 1)) {
    std::fprintf(stderr, "CREATE TABLE failed\n");
    return 1;
  }

  Watch wi;
  for (const auto& s : statements) {
    if (!oledb::ExecuteStatement(ui, &slot, s, 0)) {
      std::fprintf(stderr, "INSERT failed: %s\n", s.c_str());
      return 1;
    }
  }
  const double insert = wi.Wall(), insertCpu = wi.Cpu();
  Watch wr;
  slot.Reset();  // the session goes: the rows are saved
  const double save = wr.Wall(), saveCpu = wr.Cpu();
  ds.reset();

  std::printf("rows:               %10d  (ten text columns, %.1f MB of statements)\n", rows,
              bytes / 1e6);
  std::printf("INSERT statements:  %10.0f rows/s      (%.3f s wall, %.3f s CPU)\n", rows / insert,
              insert, insertCpu);
  std::printf("save on release:    %10.3f s wall      (%.3f s CPU, %.1f MB file)\n", save, saveCpu,
              std::filesystem::file_size(path) / 1e6);
  std::printf("with the save:      %10.0f rows/s      (%.3f s wall)\n", rows / (insert + save),
              insert + save);
  std::printf("with the save, CPU: %10.0f rows/s      (%.3f s CPU)\n", rows / (insertCpu + saveCpu),
              insertCpu + saveCpu);
  std::printf("peak memory:        %10.1f MB\n", bench::PeakMiB());

  // The engine alone: the cells and the growing name that the provider makes
  // of the statements, then the save. This is the floor under the provider.
  if (!providerOnly) {
    providers::workbook::Statement st;
    std::vector<providers::workbook::Statement> parsed(statements.size());
    for (std::size_t i = 0; i < statements.size(); ++i)
      (void)providers::workbook::ParseStatement(statements[i], parsed[i]);
    auto book = xls::Workbook::New(xlsx ? xls::FileFormat::kXlsx : xls::FileFormat::kXls);
    (void)book.AddSheet("bench");
    Watch w;
    for (std::uint32_t c = 0; c < 10; ++c)
      (void)book.sheet(0).SetText(0, c, "column");
    for (std::uint32_t r = 0; r < parsed.size(); ++r) {
      for (std::uint32_t c = 0; c < 10; ++c)
        (void)book.sheet(0).SetText(r + 1, c, parsed[r].values[c].text);
      (void)book.DefineName("bench", 0, {0, 0, r + 1, 9});
    }
    const double cellsWall = w.Wall(), cellsCpu = w.Cpu();
    Watch ws;
    const auto engineFile = dir / ("wbprov_insert_bench_engine" + ext);
    if (!book.Save(engineFile.string())) return 1;
    const double saveWall = ws.Wall(), saveCpu = ws.Cpu();
    std::filesystem::remove(engineFile);
    std::printf("engine cells only:  %10.0f rows/s      (%.3f s wall, %.3f s CPU)\n",
                rows / cellsWall, cellsWall, cellsCpu);
    std::printf("engine save:        %10.3f s wall      (%.3f s CPU)\n", saveWall, saveCpu);
  }

  // The file reads back.
  auto back = xls::Workbook::Load(path.string());
  if (!back) {
    std::fprintf(stderr, "the saved workbook does not load: %s\n", back.message().c_str());
    return 1;
  }
  const auto used = back->sheet(*back->FindSheet("bench")).UsedRange();
  if (!used || used->lastRow != static_cast<std::uint32_t>(rows)) {
    std::fprintf(stderr, "the saved workbook lacks rows\n");
    return 1;
  }
  std::filesystem::remove(path);
  return 0;
}
