#pragma once
#include <functional>

class MainOPC;
class TerminationSignals;

// Between a termination signal and the close: clients see the server state Shutdown
// and the seconds counting down in a publishing cycle or two, well within the stop
// time-out of a service manager. A second signal closes at once.
constexpr int ShutdownNoticeSeconds = 2;

// Closes `server` on SIGTERM/SIGINT after the shutdown notice; `onFirst` runs as
// the first signal arrives (a service tells systemd it is stopping).
void closeOnSignals(TerminationSignals &terminations, MainOPC &server, std::function<void()> onFirst = {});
