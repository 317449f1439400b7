// Workbook engine figures: writing and reading a sheet of 65,535 rows by 10
// columns of distinct strings, the workbook provider's pattern (a row at a
// time with its defined name growing, then a save), and xlwt writing the
// same workbook for comparison.
//
// Each measurement runs in a child process so that its peak memory is its own.
//
// Usage: xls_bench [DIR]   (DIR for the files, default /tmp)

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>

#include "bench_clock.h"
#include "xls/workbook.h"

namespace {

using namespace migrator::bench;

constexpr uint32_t kRows = 65535;
constexpr uint32_t kCols = 10;

// Distinct text for every cell, about 20 characters.
std::string CellText(uint32_t r, uint32_t c) {
  char buf[48];
  std::snprintf(buf, sizeof buf, "row %05u column %u", r, c);
  return buf;
}

struct Figures {
  double seconds = 0, build = 0, save = 0, peakMb = 0, fileMb = 0, cpu = 0;
  int ok = 0;
};

Figures Write(const std::string& path) {
  Figures f;
  auto t0 = Clock::now();
  migrator::xls::Workbook wb = migrator::xls::Workbook::New();
  if (!wb.AddSheet("Data")) return f;
  migrator::xls::Sheet& s = wb.sheet(0);
  for (uint32_t r = 0; r < kRows; ++r)
    for (uint32_t c = 0; c < kCols; ++c)
      if (!s.SetText(r, c, CellText(r, c))) return f;
  TimedSave(wb, path, t0, Clock::now(), f);
  return f;
}

Figures Read(const std::string& path) {
  Figures f;
  auto t0 = Clock::now();
  auto wb = migrator::xls::Workbook::Load(path);
  auto t1 = Clock::now();
  if (!wb) {
    std::fprintf(stderr, "load failed: %s\n", wb.message().c_str());
    return f;
  }
  // Then every value, as the provider's SELECT would.
  size_t chars = 0;
  const migrator::xls::Sheet& s = wb->sheet(0);
  for (uint32_t r = 0; r < kRows; ++r)
    for (uint32_t c = 0; c < kCols; ++c)
      chars += s.GetValue(r, c).text.size();
  auto t2 = Clock::now();
  if (chars == 0) return f;
  f.build = Seconds(t0, t1);  // load
  f.save = Seconds(t1, t2);   // value walk
  f.seconds = Seconds(t0, t2);
  f.ok = 1;
  return f;
}

// The workbook provider's pattern: a header, then one row per INSERT with the
// table's defined name grown over it, then a save.
Figures Provider(const std::string& path) {
  Figures f;
  auto t0 = Clock::now();
  migrator::xls::Workbook wb = migrator::xls::Workbook::New();
  if (!wb.AddSheet("orders")) return f;
  migrator::xls::Sheet& s = wb.sheet(0);
  for (uint32_t c = 0; c < kCols; ++c)
    if (!s.SetText(0, c, "col" + std::to_string(c))) return f;
  if (!wb.DefineName("orders", 0, {0, 0, 0, kCols - 1})) return f;
  for (uint32_t r = 1; r < kRows; ++r) {
    for (uint32_t c = 0; c < kCols; ++c) {
      auto st = (c % 2) ? s.SetNumber(r, c, r * 10.0 + c) : s.SetText(r, c, CellText(r, c));
      if (!st) return f;
    }
    auto n = wb.FindName("orders");
    if (!n || !wb.DefineName("orders", 0, {0, 0, r, kCols - 1})) return f;
  }
  auto t1 = Clock::now();
  if (!wb.Save(path)) return f;
  auto t2 = Clock::now();
  f.build = Seconds(t0, t1);
  f.save = Seconds(t1, t2);
  f.seconds = Seconds(t0, t2);
  f.ok = 1;
  return f;
}

struct XlwtFigures {
  double wall = -1, cpu = -1;
};

XlwtFigures Xlwt(const std::string& path) {
  std::string script =
      "import time, xlwt\n"
      "t = time.time()\n"
      "cpu0 = time.process_time()\n"
      "wb = xlwt.Workbook()\n"
      "ws = wb.add_sheet('Data')\n"
      "for r in range(65535):\n"
      "    row = ws.row(r)\n"
      "    for c in range(10):\n"
      "        row.write(c, 'row %05u column %u' % (r, c))\n"
      "    if r % 1000 == 999: ws.flush_row_data()\n"
      "wb.save('" +
      path +
      "')\n"
      "print(time.time() - t, time.process_time() - cpu0)\n";
  std::string cmd = "/usr/bin/python3 -c \"$XLS_BENCH_SCRIPT\" 2>/dev/null";
  setenv("XLS_BENCH_SCRIPT", script.c_str(), 1);
  FILE* p = popen(cmd.c_str(), "r");
  XlwtFigures f;
  if (!p) return f;
  if (std::fscanf(p, "%lf %lf", &f.wall, &f.cpu) != 2) f = {};
  pclose(p);
  return f;
}

}  // namespace

int main(int argc, char** argv) {
  std::string dir = argc > 1 ? argv[1] : "/tmp";
  std::string engineFile = dir + "/xls_bench_engine.xls";
  std::string providerFile = dir + "/xls_bench_provider.xls";
  std::string xlwtFile = dir + "/xls_bench_xlwt.xls";

  std::printf("Workbook engine: %u rows x %u columns of distinct strings\n", kRows, kCols);
  Figures w = InChild<Figures>([&] { return Write(engineFile); });
  if (!w.ok) return 1;
  std::printf(
      "  write: %.3f s (%.0f rows/s; cells %.3f s, save %.3f s; processor time %.3f s), file %.1f "
      "MB, "
      "peak memory %.0f MB\n",
      w.seconds, kRows / w.seconds, w.build, w.save, w.cpu, w.fileMb, w.peakMb);
  Figures r = InChild<Figures>([&] { return Read(engineFile); });
  if (!r.ok) return 1;
  std::printf(
      "  read:  %.3f s (%.0f rows/s; then every value as text in %.3f s; processor time of both "
      "%.3f s), "
      "peak memory %.0f MB\n",
      r.build, kRows / r.build, r.save, r.cpu, r.peakMb);
  Figures p = InChild<Figures>([&] { return Provider(providerFile); });
  if (!p.ok) return 1;
  std::printf(
      "  provider pattern (row by row, name grown each row, then save): %.3f s (%.0f rows/s; save "
      "%.3f s; "
      "processor time %.3f s), peak memory %.0f MB\n",
      p.seconds, kRows / p.seconds, p.save, p.cpu, p.peakMb);
  XlwtFigures x = Xlwt(xlwtFile);
  if (x.wall > 0)
    std::printf(
        "  xlwt writing the same workbook: %.3f s (%.0f rows/s; processor time %.3f s); the engine "
        "is %.0fx "
        "faster (%.0fx in processor time)\n",
        x.wall, kRows / x.wall, x.cpu, x.wall / w.seconds, x.cpu / w.cpu);
  else
    std::printf("  xlwt: not available\n");
  std::remove(engineFile.c_str());
  std::remove(providerFile.c_str());
  std::remove(xlwtFile.c_str());
  return 0;
}
