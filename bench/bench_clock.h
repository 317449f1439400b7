#pragma once
// What every benchmark measures with: wall and processor time (the machine
// may be shared, so both are shown) and the process's peak memory.

#include <sys/resource.h>

#include <chrono>
#include <ctime>

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

}  // namespace migrator::bench
