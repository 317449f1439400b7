// Workbook engine figures for .xlsx: writing and reading a sheet of
// 1,000,000 rows by 10 columns (texts, integers, decimals, dates, empty
// cells), against XlsxWriter in its constant-memory mode writing the same
// workbook and openpyxl in its read-only mode reading it, in the same run.
//
// Each measurement runs in a child process so that its peak memory is its own.
//
// Usage: xlsx_bench [DIR [ROWS]]   (DIR for the files, default /tmp)

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "bench_clock.h"
#include "xls/workbook.h"
#include "xls/xlsx/zip.h"

namespace {

using namespace migrator::bench;
using migrator::xls::Workbook;

uint32_t gRows = 1000000;
constexpr uint32_t kCols = 10;

const char* const kCategories[] = {"alpha",   "beta", "gamma", "delta",  "epsilon", "zeta",   "eta",
                                   "theta",   "iota", "kappa", "lambda", "mu",      "nu",     "xi",
                                   "omicron", "pi",   "rho",   "sigma",  "tau",     "upsilon"};

struct Figures {
  double seconds = 0, build = 0, save = 0, peakMb = 0, fileMb = 0, xmlMb = 0, cpu = 0;
  size_t cells = 0;
  int ok = 0;
};

// What the package's parts inflate to.
double InflatedMb(const std::string& path) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return 0;
  std::vector<uint8_t> bytes(std::filesystem::file_size(path));
  const size_t got = std::fread(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
  bytes.resize(got);
  auto zip = migrator::xls::xlsx::ZipReader::Open(bytes, {});
  if (!zip) return 0;
  uint64_t total = 0;
  for (const auto& e : (*zip)->entries())
    total += e.size;
  return total / 1048576.0;
}

// The rows of the workbook (xlsx_peers.py writes the same).
bool Fill(Workbook& wb) {
  if (!wb.AddSheet("Data")) return false;
  migrator::xls::Sheet& s = wb.sheet(0);
  if (!s.SetNumber(0, 3, 0)) return false;
  auto date = wb.CellFormatWithNumberFormat(s.GetCell(0, 3).xf, "yyyy-mm-dd");
  auto stamp = wb.CellFormatWithNumberFormat(s.GetCell(0, 3).xf, "yyyy-mm-dd hh:mm:ss");
  if (!date || !stamp) return false;
  char buf[64];
  for (uint32_t r = 0; r < gRows; ++r) {
    std::snprintf(buf, sizeof buf, "row %07u name", r);
    bool ok = static_cast<bool>(s.SetText(r, 0, buf)) && s.SetNumber(r, 1, r) &&
              s.SetNumber(r, 2, r * 1.37) && s.SetNumber(r, 3, 40000 + r % 9000) &&
              s.SetCellFormat(r, 3, *date) && s.SetText(r, 4, kCategories[r % 20]) &&
              s.SetNumber(r, 5, (r * 7919ull) % 1000003);
    if (r % 2) {
      std::snprintf(buf, sizeof buf, "note %u", r % 1000);
      ok = ok && s.SetText(r, 6, buf);
    }
    std::snprintf(buf, sizeof buf, "a longer description of row %u", r);
    ok = ok && s.SetNumber(r, 7, r / 3.0) &&
         s.SetNumber(r, 8, 40000 + r % 9000 + (r % 86400) / 86400.0) &&
         s.SetCellFormat(r, 8, *stamp) && s.SetText(r, 9, buf);
    if (!ok) return false;
  }
  return true;
}

Figures Write(const std::string& path) {
  Figures f;
  auto t0 = Clock::now();
  Workbook wb = Workbook::New(migrator::xls::FileFormat::kXlsx);
  if (!Fill(wb)) return f;
  TimedSave(wb, path, t0, Clock::now(), f);
  return f;
}

Figures Read(const std::string& path) {
  Figures f;
  auto t0 = Clock::now();
  auto wb = Workbook::Load(path);
  auto t1 = Clock::now();
  if (!wb) {
    std::fprintf(stderr, "load failed: %s\n", wb.message().c_str());
    return f;
  }
  // Then every value, as the provider's SELECT would.
  const migrator::xls::Sheet& s = wb->sheet(0);
  auto used = s.UsedRange();
  if (!used) return f;
  for (uint32_t r = 0; r <= used->lastRow; ++r)
    for (uint32_t c = 0; c < kCols; ++c)
      if (s.GetValue(r, c).kind != migrator::xls::Value::Kind::kEmpty) ++f.cells;
  auto t2 = Clock::now();
  f.build = Seconds(t0, t1);  // load
  f.save = Seconds(t1, t2);   // value walk
  f.seconds = Seconds(t0, t2);
  f.ok = 1;
  return f;
}

// A peer in Python: its wall and processor seconds, and its peak memory.
Figures Peer(const std::string& args) {
  Figures f;
  const std::string script = std::string(MIGRATOR_SOURCE_DIR) + "/bench/xlsx_peers.py";
  int fds[2];
  if (pipe(fds) != 0) return f;
  pid_t pid = fork();
  if (pid == 0) {
    dup2(fds[1], 1);
    close(fds[0]);
    close(fds[1]);
    execl("/bin/sh", "sh", "-c", ("exec /usr/bin/python3 " + script + " " + args).c_str(),
          static_cast<char*>(nullptr));
    _exit(127);
  }
  close(fds[1]);
  // Everything the peer prints, up to its end: the pipe is read until the
  // peer closes it, so that nothing it prints first (nor a signal) ends the
  // read before its figures come and it dies writing them.
  std::string said;
  char buf[512];
  for (;;) {
    const ssize_t n = read(fds[0], buf, sizeof buf);
    if (n > 0) {
      said.append(buf, static_cast<size_t>(n));
    } else if (n == 0 || errno != EINTR) {
      break;
    }
  }
  close(fds[0]);
  int st = 0;
  rusage u{};
  while (wait4(pid, &st, 0, &u) < 0 && errno == EINTR) {
  }
  if (!WIFEXITED(st) || WEXITSTATUS(st) != 0) return f;
  // The figures are the last line.
  while (!said.empty() && said.back() == '\n')
    said.pop_back();
  const size_t line = said.find_last_of('\n');
  if (std::sscanf(said.c_str() + (line == std::string::npos ? 0 : line + 1), "%lf %lf", &f.seconds,
                  &f.cpu) != 2) {
    std::fprintf(stderr, "xlsx_peers.py %s printed: %s\n", args.c_str(), said.c_str());
    return f;
  }
  f.peakMb = u.ru_maxrss / 1024.0;
  f.ok = 1;
  return f;
}

}  // namespace

int main(int argc, char** argv) {
  std::string dir = argc > 1 ? argv[1] : "/tmp";
  if (argc > 2) gRows = static_cast<uint32_t>(std::strtoul(argv[2], nullptr, 10));
  const std::string engineFile = dir + "/xlsx_bench_engine.xlsx";
  const std::string peerFile = dir + "/xlsx_bench_xlsxwriter.xlsx";

  std::printf(
      "Workbook engine, .xlsx: %u rows x %u columns (texts, integers, decimals, dates, "
      "empty cells)\n",
      gRows, kCols);
  Figures w = InChild<Figures>([&] { return Write(engineFile); });
  if (!w.ok) return 1;
  const double xml = InflatedMb(engineFile);
  std::printf(
      "  engine write: %.2f s (cells %.2f s, save %.2f s; processor time %.2f s), "
      "file %.1f MB (%.0f MB of XML, %.0f MB/s saved), peak memory %.0f MB\n",
      w.seconds, w.build, w.save, w.cpu, w.fileMb, xml, xml / w.save, w.peakMb);
  Figures r = InChild<Figures>([&] { return Read(engineFile); });
  if (!r.ok) return 1;
  std::printf(
      "  engine read:  %.2f s (load %.2f s, %.0f MB/s of XML; every value %.2f s; "
      "processor time %.2f s), %zu cells, peak memory %.0f MB\n",
      r.seconds, r.build, xml / r.build, r.save, r.cpu, r.cells, r.peakMb);

  Figures pw = Peer("write " + peerFile + " " + std::to_string(gRows));
  if (pw.ok) {
    std::printf(
        "  XlsxWriter (constant_memory) write: %.2f s (processor time %.2f s), "
        "file %.1f MB, peak memory %.0f MB; the engine is %.1fx faster\n",
        pw.seconds, pw.cpu, std::filesystem::file_size(peerFile) / 1048576.0, pw.peakMb,
        pw.seconds / w.seconds);
    Figures er = InChild<Figures>([&] { return Read(peerFile); });
    if (er.ok)
      std::printf("  engine reading XlsxWriter's file: %.2f s, %zu cells, peak memory %.0f MB\n",
                  er.seconds, er.cells, er.peakMb);
  } else {
    std::printf("  XlsxWriter: not available\n");
  }
  Figures pr = Peer("read " + engineFile);
  if (pr.ok)
    std::printf(
        "  openpyxl (read_only) read: %.2f s (processor time %.2f s), peak memory %.0f "
        "MB; the engine is %.1fx faster\n",
        pr.seconds, pr.cpu, pr.peakMb, pr.seconds / r.seconds);
  else
    std::printf("  openpyxl: not available\n");
  std::remove(engineFile.c_str());
  std::remove(peerFile.c_str());
  return 0;
}
