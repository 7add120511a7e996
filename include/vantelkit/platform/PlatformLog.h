// The platform log: where platform stand-ins (display links, notification delivery) report
// problems that have no caller to return them to. It writes to stderr unless a sink replaces it.
// Beside it, the standard-output channel: the few lines the library writes straight to
// standard output ("DiskScanner Stop" when a running file scan is cancelled), which a host
// that prints its own results there can send elsewhere.
// Thread safety: safe to call from any thread; a sink is called under a lock, one line at a time.
#pragma once

#include <functional>
#include <string_view>

namespace vantelkit::platform {

// Receives one message (without a trailing newline).
using PlatformLogSink = std::function<void(std::string_view message)>;

// Writes message as one line to the current sink.
void platformLog(std::string_view message);

// Replaces the sink and returns the previous one; an empty sink restores stderr. The sink must
// not write to the platform log itself.
PlatformLogSink setPlatformLogSink(PlatformLogSink sink);

// Writes message as one line to standard output, or to the sink that replaces it.
void standardOutputMessage(std::string_view message);
// Replaces the standard-output channel's sink and returns the previous one; an empty sink
// restores standard output.
PlatformLogSink setStandardOutputMessageSink(PlatformLogSink sink);

}  // namespace vantelkit::platform
