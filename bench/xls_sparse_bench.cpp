// Workbook engine figures for small files that touch many rows: each sheet
// holds one blank cell every 256 rows (A1, A257, ..., A65281), written as bare
// BLANK records, the cheapest form a file can take. Loading (as `workbook
// info` does) and copying (load and save, as `workbook copy` does) are timed,
// and the peak memory is set against the file's size: memory should follow
// what a file holds, not the rows it touches.
//
// Each measurement runs in a child process so that its peak memory is its own.
//
// Usage: xls_sparse_bench [DIR]   (DIR for the files, default /tmp)

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench_clock.h"
#include "xls/biff/cfb.h"
#include "xls/workbook.h"

namespace {

using namespace migrator::bench;
using migrator::xls::Bytes;

void Put16(Bytes& b, uint16_t v) {
  b.push_back(static_cast<uint8_t>(v));
  b.push_back(static_cast<uint8_t>(v >> 8));
}
void Put32(Bytes& b, uint32_t v) {
  Put16(b, static_cast<uint16_t>(v));
  Put16(b, static_cast<uint16_t>(v >> 16));
}
void Record(Bytes& out, uint16_t type, const Bytes& data) {
  Put16(out, type);
  Put16(out, static_cast<uint16_t>(data.size()));
  out.insert(out.end(), data.begin(), data.end());
}
Bytes Bof(uint16_t kind) {
  Bytes d;
  Put16(d, 0x0600);
  Put16(d, kind);
  Put32(d, 0);
  Put32(d, 0);
  Put32(d, 0);
  return d;
}

// The workbook file: `sheets` sheets of `cellsPerSheet` blank cells in column
// A, `step` rows apart.
Bytes SparseWorkbook(int sheets, int cellsPerSheet, int step) {
  auto sheetName = [](int i) { return "S" + std::to_string(i); };
  // The globals come first; their size fixes where each sheet starts.
  size_t globals = 4 + 16 + 4;  // BOF, EOF
  for (int i = 0; i < sheets; ++i)
    globals += 4 + 8 + sheetName(i).size();
  Bytes stream;
  Record(stream, 0x0809, Bof(0x0005));
  size_t sheetSize = 4 + 16 + cellsPerSheet * (4 + 6) + 4;
  for (int i = 0; i < sheets; ++i) {
    Bytes d;
    Put32(d, static_cast<uint32_t>(globals + i * sheetSize));
    d.push_back(0);  // visible
    d.push_back(0);  // worksheet
    const std::string name = sheetName(i);
    d.push_back(static_cast<uint8_t>(name.size()));
    d.push_back(0);  // 8-bit characters
    d.insert(d.end(), name.begin(), name.end());
    Record(stream, 0x0085, d);
  }
  Record(stream, 0x000A, {});
  for (int i = 0; i < sheets; ++i) {
    Record(stream, 0x0809, Bof(0x0010));
    for (int c = 0; c < cellsPerSheet; ++c) {
      Bytes d;
      Put16(d, static_cast<uint16_t>(c * step));
      Put16(d, 0);
      Put16(d, 15);
      Record(stream, 0x0201, d);
    }
    Record(stream, 0x000A, {});
  }
  std::vector<migrator::xls::cfb::OutEntry> e(2);
  e[0].name = u"Root Entry";
  e[0].type = migrator::xls::cfb::EntryType::kRoot;
  e[0].children = {1};
  e[1].name = u"Workbook";
  e[1].data = stream;
  auto image = migrator::xls::cfb::WriteToBytes(e);
  return image ? std::move(*image) : Bytes();
}

struct Figures {
  double load = 0, copy = 0, cpu = 0, baseMb = 0, peakMb = 0;
  int ok = 0;
  char error[200] = {};
};

// Runs `fn` in a child process; the child writes its figures back through a pipe.
template <class Fn>
Figures InChild(Fn fn) {
  int fds[2];
  if (pipe(fds) != 0) return {};
  std::fflush(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    Figures f;
    f.baseMb = PeakMiB();
    const double c0 = CpuSeconds();
    fn(f);
    f.cpu = CpuSeconds() - c0;
    f.peakMb = PeakMiB();
    if (write(fds[1], &f, sizeof f) != sizeof f) _exit(1);
    _exit(0);
  }
  close(fds[1]);
  Figures f;
  if (read(fds[0], &f, sizeof f) != sizeof f) f.ok = 0;
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  return f;
}

void Note(Figures& f, const std::string& message) {
  std::snprintf(f.error, sizeof f.error, "%s", message.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  const std::filesystem::path dir = argc > 1 ? argv[1] : "/tmp";
  struct Case {
    const char* what;
    int sheets, cells, step;
  };
  const Case cases[] = {
      {"1 blank cell every 256 rows", 200, 256, 256},
      {"1 blank cell every 256 rows", 1500, 256, 256},
      {"1 blank cell in each of 65,536 rows", 30, 65536, 1},
  };
  std::printf("%-36s %6s %9s %8s %8s %9s %10s\n", "sheets of", "sheets", "file KiB", "load s",
              "copy s", "peak MiB", "peak/file");
  for (const Case& c : cases) {
    const auto path = dir / ("xls_sparse_bench_" + std::to_string(c.sheets) + "_" +
                             std::to_string(c.cells) + ".xls");
    const auto copy = dir / "xls_sparse_bench_copy.xls";
    {
      // Built in a child as well, so that no page of it counts for the others.
      Figures made = InChild([&](Figures& f) {
        const Bytes image = SparseWorkbook(c.sheets, c.cells, c.step);
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(image.data()),
                   static_cast<std::streamsize>(image.size()));
        f.ok = !image.empty();
      });
      if (!made.ok) {
        std::printf("could not write %s\n", path.c_str());
        return 1;
      }
    }
    const double fileMb = static_cast<double>(std::filesystem::file_size(path)) / (1 << 20);
    Figures f = InChild([&](Figures& f) {
      Watch w;
      auto book = migrator::xls::Workbook::Load(path.string());
      f.load = w.Wall();
      if (!book) return Note(f, book.message());
      Watch s;
      if (auto st = book->Save(copy.string()); !st) return Note(f, st.message());
      f.copy = f.load + s.Wall();
      f.ok = 1;
    });
    if (!f.ok) {
      std::printf("%-36s %6d %9.0f refused: %s (peak %.1f MiB)\n", c.what, c.sheets, fileMb * 1024,
                  f.error, f.peakMb);
    } else {
      std::printf("%-36s %6d %9.0f %8.3f %8.3f %9.1f %9.1fx\n", c.what, c.sheets, fileMb * 1024,
                  f.load, f.copy, f.peakMb, (f.peakMb - f.baseMb) / fileMb);
    }
    if (!getenv("KEEP")) std::filesystem::remove(path);
    std::filesystem::remove(copy);
  }
  std::printf("(peak/file: the peak memory above the child's start, over the file's size)\n");
  return 0;
}
