#pragma once
// What every benchmark measures with: wall and processor time (the machine
// may be shared, so both are shown) and the process's peak memory.

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <string>

namespace migrator::bench {

using Clock = std::chrono::steady_clock;

inline double Seconds(Clock::time_point a, Clock::time_point b) {
  return std::chrono::duration<double>(b - a).count();
}

// Processor time of this process.
inline double CpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// Saves a workbook built from `t0` to `t1` at `path`: F's build, save and
// total seconds, the file's size in fileMb, and ok. False (said on standard
// error) when the save failed.
template <class F, class Book>
bool TimedSave(const Book& wb, const std::string& path, Clock::time_point t0, Clock::time_point t1,
               F& f) {
  auto st = wb.Save(path);
  auto t2 = Clock::now();
  if (!st) {
    std::fprintf(stderr, "save failed: %s\n", st.message().c_str());
    return false;
  }
  f.build = Seconds(t0, t1);
  f.save = Seconds(t1, t2);
  f.seconds = Seconds(t0, t2);
  f.fileMb = static_cast<double>(std::filesystem::file_size(path)) / 1048576.0;
  f.ok = 1;
  return true;
}

// A stopwatch over wall and processor time.
struct Watch {
  Clock::time_point wall = Clock::now();
  double cpu = CpuSeconds();
  double Wall() const { return Seconds(wall, Clock::now()); }
  double Cpu() const { return CpuSeconds() - cpu; }
};

// Peak resident memory of this process in MiB.
inline double PeakMiB() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_maxrss) / 1024.0;  // kilobytes on Linux
}

// Runs `fn` in a child process, so that the peak memory is its own, and
// gives its figures (an F with `cpu` and `peakMb`, filled in here) back
// through a pipe.
template <class F, class Fn>
F InChild(Fn fn) {
  int fds[2];
  if (pipe(fds) != 0) return {};
  const pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    const double c0 = CpuSeconds();
    F f = fn();
    f.cpu = CpuSeconds() - c0;
    f.peakMb = PeakMiB();
    if (write(fds[1], &f, sizeof f) != sizeof f) _exit(1);
    _exit(0);
  }
  close(fds[1]);
  F f;
  if (read(fds[0], &f, sizeof f) != sizeof f) f = F{};
  close(fds[0]);
  int st = 0;
  waitpid(pid, &st, 0);
  return f;
}

}  // namespace migrator::bench
