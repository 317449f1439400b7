#pragma once
// Interrupts while a command of migrator-cli works. Inside a StopOnSignals
// scope the first SIGINT or SIGTERM asks for a confirmed stop: the work ends
// after the current row, keeps what arrived whole and says so, and the
// command exits with kExitStopped. A second one ends the program at once, as
// the signal does by default. Outside the scope both keep their default
// action.
//
// Signals reach a process, not an object: the handler can only set a flag
// of the process (a lock-free atomic), which the scope owns while it exists.

#include <csignal>

namespace migrator::cli {

class StopOnSignals {
 public:
  StopOnSignals();   // installs the handlers, clears the flag
  ~StopOnSignals();  // puts the previous actions back
  StopOnSignals(const StopOnSignals&) = delete;
  StopOnSignals& operator=(const StopOnSignals&) = delete;

  // True once the first signal came.
  bool Requested() const;
  // Its name ("SIGINT", "SIGTERM"), or "" before it.
  const char* SignalName() const;

 private:
  struct sigaction oldInt_ {};
  struct sigaction oldTerm_ {};
};

}  // namespace migrator::cli
