#include "vantelkit/platform/Terminal.h"

#include <sys/ioctl.h>
#include <unistd.h>

namespace vantelkit::platform {

bool standardErrorIsTerminal() { return ::isatty(STDERR_FILENO) == 1; }

int terminalColumns() {
  struct winsize size {};
  if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  return 80;
}

}  // namespace vantelkit::platform
