#include "quit_on_signal.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace mirv {

namespace {

int signalPipe[2] = {-1, -1};
bool terminating = false;
std::function<void()> beforeQuitting;

void onSignal(int) {
    const char c = 1;
    [[maybe_unused]] auto n = ::write(signalPipe[1], &c, 1);
}

void terminate() {
    terminating = true;
    if (beforeQuitting)
        beforeQuitting();
    QCoreApplication::exit(0);
}

} // namespace

void quitOnTerminationSignals(std::function<void()> beforeQuit) {
    beforeQuitting = std::move(beforeQuit);
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) != 0)
        return;
    auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, qApp);
    QObject::connect(notifier, &QSocketNotifier::activated, qApp, [] {
        char c;
        [[maybe_unused]] auto n = ::read(signalPipe[0], &c, 1);
        terminate();
    });
    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sa.sa_flags = SA_RESTART;
    for (int s : {SIGINT, SIGTERM, SIGHUP})
        ::sigaction(s, &sa, nullptr);
}

bool terminationRequested() {
    return terminating;
}

} // namespace mirv
