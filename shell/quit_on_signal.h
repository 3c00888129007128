#pragma once

namespace mirv {

// Ends the program cleanly on SIGINT, SIGTERM or SIGHUP (Ctrl-C, a service stop, the session
// ending): every event loop ends, a message box that is open included, so the unload step runs
// and the port is released.
void quitOnTerminationSignals();

// Whether a termination signal came; start-up's own message box may have been closed by it
// before the main event loop ever ran.
bool terminationRequested();

} // namespace mirv
