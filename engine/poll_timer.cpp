#include "poll_timer.h"

namespace mirv {

PollTimer::PollTimer(QObject* parent) : QObject(parent) {
    timer_.setSingleShot(true);
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, &PollTimer::onFired);
}

void PollTimer::setInterval(int ms) {
    intervalMs_ = ms;
    if (active_)
        start();
}

void PollTimer::start() {
    active_ = true;
    pace.start(intervalMs_);
    timer_.start(pace.untilDueMs());
}

void PollTimer::stop() {
    active_ = false;
    timer_.stop();
}

void PollTimer::onFired() {
    timer_.start(pace.tick());
    emit timeout();
}

} // namespace mirv
