#pragma once

#include "back_off.h"
#include "event_journal.h"

#include <QObject>
#include <QProcess>
#include <QTimer>
#include <deque>
#include <functional>
#include <optional>
#include <string>

namespace mirv {

// Runs a plant's command once for each event, one at a time, with the event in its environment
// (MIRV_EVENT_TIME, _UTC, _METER, _KIND, _PHASE, _TEXT, _DETAIL, _USER). The command runs through
// /bin/sh without the event thread waiting for it; one that runs too long is killed. An event
// whose command failed is tried again after a back-off before the ones behind it.
class HookRunner : public QObject {
    Q_OBJECT
  public:
    HookRunner(std::string command, int timeoutMs, int minuteMs, QObject* parent = nullptr);
    ~HookRunner() override;

    void add(const std::vector<EventRow>& events);
    std::size_t waiting() const { return queue_.size(); }

    // After each run: why it failed, or nothing.
    std::function<void(const std::optional<std::string>& failure)> outcome;

    // Events kept at most while the command fails; the oldest go first.
    static constexpr std::size_t kMostWaiting = 1000;

  private:
    void runNext();
    void ran(const std::optional<std::string>& failure);
    void killAll();

    std::string command_;
    int timeoutMs_;
    BackOff backOff_;
    std::deque<EventRow> queue_;
    QProcess* process_ = nullptr;
    QTimer killTimer_;
    QTimer retryTimer_;
    bool timedOut_ = false;
};

} // namespace mirv
