#pragma once

#include "back_off.h"
#include "mail_batch.h"
#include "notify_config.h"

#include <QObject>
#include <QTimer>
#include <atomic>
#include <functional>
#include <optional>
#include <thread>

namespace mirv {

// Mails the events to the configured addresses, at most one mail per five of the station's
// minutes. Each mail is sent on a thread of its own, so the event thread never waits for the
// server; a mail that fails is tried again after a back-off with the events that came since.
class MailNotifier : public QObject {
    Q_OBJECT
  public:
    MailNotifier(NotifyConfig config, int minuteMs, QObject* parent = nullptr);
    ~MailNotifier() override;

    void add(const std::vector<EventRow>& events);
    // Sends the waiting events when they are due; what the notifier's timer calls, and tests.
    void sendWaiting();

    // After each try: why it failed, or nothing.
    std::function<void(const std::optional<std::string>& failure)> outcome;
    // The notifier's clock in milliseconds; tests set it.
    std::function<std::int64_t()> nowMs;

  private:
    void schedule();
    void sent(std::vector<EventRow> events, std::optional<std::string> failure);

    NotifyConfig config_;
    MailBatch batch_;
    BackOff backOff_;
    QTimer timer_;
    std::thread worker_;
    bool sending_ = false;
    std::atomic<bool> cancel_{false};
};

} // namespace mirv
