#pragma once
// SIGTERM, SIGINT and SIGHUP (a service manager, Ctrl+C, a closed terminal
// or a session logging out) end the program through its own closing path
// instead of killing it: links are closed in order and temporary folders
// removed.
//
// The signal handler only writes one byte to a pipe (async-signal-safe); a
// QSocketNotifier on the UI thread reads it and runs the callback there.

#include <functional>

namespace platform {

// Installs the handlers for SIGTERM, SIGINT and SIGHUP; `onTerminate` runs once, on
// the UI thread, at the first of them. A second signal while the program is
// still closing ends it at once, as the signal would have without us. A later
// call replaces the callback; one given after the earlier callback ran runs at
// its own first signal. False when the pipe or a handler cannot be set up (the
// signals then keep their default action).
bool installTerminationHandler(std::function<void()> onTerminate);

}  // namespace platform
