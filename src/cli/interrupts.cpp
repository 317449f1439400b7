#include "cli/interrupts.h"

#include <unistd.h>

namespace migrator::cli {
namespace {

volatile std::sig_atomic_t stopSignal = 0;

extern "C" void OnStopSignal(int signal) {
  if (stopSignal != 0) {
    // The second one: the default action, now.
    std::signal(signal, SIG_DFL);
    std::raise(signal);
    return;
  }
  stopSignal = signal;
  static const char kSaid[] =
      "\nmigrator-cli: stopping after the current row and keeping what arrived whole; "
      "interrupt again to end at once\n";
  (void)!::write(STDERR_FILENO, kSaid, sizeof kSaid - 1);
}

}  // namespace

StopOnSignals::StopOnSignals() {
  stopSignal = 0;
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
  return stopSignal != 0;
}

const char* StopOnSignals::SignalName() const {
  switch (stopSignal) {
    case SIGINT:
      return "SIGINT";
    case SIGTERM:
      return "SIGTERM";
    default:
      return "";
  }
}

}  // namespace migrator::cli
