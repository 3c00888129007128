#pragma once

#include "poll_pace.h"

#include <QObject>
#include <QTimer>

namespace mirv {

// The poll tick: a precise single-shot timer armed anew after each tick for the time the pace
// says the next is due, so the ticks keep to the interval set however late one wakes.
class PollTimer : public QObject {
    Q_OBJECT
  public:
    explicit PollTimer(QObject* parent = nullptr);

    // Takes effect at once on a running timer, as the next tick is planned from now.
    void setInterval(int ms);
    int interval() const { return intervalMs_; }
    void start();
    void stop();
    bool isActive() const { return active_; }

    PollPace pace;

  signals:
    void timeout();

  private:
    void onFired();

    QTimer timer_;
    int intervalMs_ = 0;
    bool active_ = false;
};

} // namespace mirv
