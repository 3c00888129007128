#pragma once

namespace mirv {

// Ends the event loop cleanly on SIGINT, SIGTERM or SIGHUP (Ctrl-C, a service stop, the
// session ending), so the unload step runs and the port is released.
void quitOnTerminationSignals();

} // namespace mirv
