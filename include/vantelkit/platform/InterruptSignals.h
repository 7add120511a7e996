// Ctrl-C and termination requests (SIGINT, SIGTERM) for a command-line program, turned into
// a call on an ordinary thread, where it may take locks and cancel work.
// Thread safety: install() once, from main() before any other thread starts (it blocks the
// signals for every thread started after it); setHandler() from any thread.
#pragma once

#include <functional>

namespace vantelkit::platform {

class InterruptSignals {
 public:
  // Starts the thread that waits for the signals. The first one calls the current handler
  // (on that thread); without a handler, or at the second signal, the process ends at once
  // with exit status exitStatus after writing clearLine (if any) to stderr.
  static void install(int exitStatus, const char* clearLine);
  // The handler for the next signal; an empty function removes it.
  static void setHandler(std::function<void()> handler);
  // Whether a signal has arrived.
  static bool received();
};

}  // namespace vantelkit::platform
