#include "cli/interrupts.h"

#include <unistd.h>

#include <atomic>

namespace migrator::cli {
namespace {

// Lock-free, so the handler may touch it, and read by the command's thread
// while the handler may run on another.
std::atomic<int> stopSignal{0};
static_assert(std::atomic<int>::is_always_lock_free);

extern "C" void OnStopSignal(int signal) {
  int none = 0;
  if (!stopSignal.compare_exchange_strong(none, signal)) {
    // The second one: the default action, now.
    std::signal(signal, SIG_DFL);
    std::raise(signal);
    return;
  }
  static const char kSaid[] =
      "\nmigrator-cli: stopping after the current row and keeping what arrived whole; "
      "interrupt again to end at once\n";
  (void)!::write(STDERR_FILENO, kSaid, sizeof kSaid - 1);
}

}  // namespace

StopOnSignals::StopOnSignals() {
  stopSignal.store(0);
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  ::sigaction(SIGINT, &action, &oldInt_);
  ::sigaction(SIGTERM, &action, &oldTerm_);
}

StopOnSignals::~StopOnSignals() {
  ::sigaction(SIGINT, &oldInt_, nullptr);
  ::sigaction(SIGTERM, &oldTerm_, nullptr);
}

bool StopOnSignals::Requested() const {
  return stopSignal.load() != 0;
}

const char* StopOnSignals::SignalName() const {
  switch (stopSignal.load()) {
    case SIGINT:
      return "SIGINT";
    case SIGTERM:
      return "SIGTERM";
    default:
      return "";
  }
}

}  // namespace migrator::cli
