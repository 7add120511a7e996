// Ctrl-C and termination requests (SIGINT, SIGTERM) for a command-line program, turned into
// a call on an ordinary thread, where it may take locks and cancel work.
// Thread safety: install() once, from main() before any other thread starts (it blocks the
// signals for every thread started after it); the other members from any thread.
#pragma once

#include <functional>

namespace vantelkit::platform {

class InterruptSignals {
 public:
  // A second signal ends the process only when it comes at least this long after the first:
  // one key press or one `timeout -s INT` reaches a process group as several signals at once.
  static constexpr double secondSignalDelay = 0.5;

  // Starts the thread that waits for the signals. The first one calls the current handler
  // (on that thread). Without a handler, or at a later signal that comes secondSignalDelay
  // seconds or more after the first, the process ends at once with exit status 128 + that
  // signal's number (130 after SIGINT, 143 after SIGTERM), after writing clearLine (if any)
  // to stderr when stderr is a terminal. Signals sooner after the first are ignored.
  static void install(const char* clearLine);
  // The handler for the next signal; an empty function removes it.
  static void setHandler(std::function<void()> handler);
  // Whether a signal has arrived.
  static bool received();
  // 128 + the number of the first signal that arrived (130 for SIGINT, 143 for SIGTERM), or
  // 0 when none has: the exit status a shell expects after it.
  static int exitStatus();
};

}  // namespace vantelkit::platform
