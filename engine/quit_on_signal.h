#pragma once

#include <functional>

namespace mirv {

// Ends the program cleanly on SIGINT, SIGTERM or SIGHUP (Ctrl-C, a service stop, the session
// ending): every event loop ends, so the unload step runs and the port is released.
// `beforeQuit` runs first: a window closes its open boxes there, whose loops would go on.
void quitOnTerminationSignals(std::function<void()> beforeQuit = {});

// Whether a termination signal came; start-up's own message box may have been closed by it
// before the main event loop ever ran.
bool terminationRequested();

} // namespace mirv
