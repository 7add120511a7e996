// What the command-line tool needs to know about its terminal.
// Thread safety: safe to call from any thread.
#pragma once

namespace vantelkit::platform {

bool standardErrorIsTerminal();
// Columns of the terminal on stderr, or 80 when unknown.
int terminalColumns();

}  // namespace vantelkit::platform
