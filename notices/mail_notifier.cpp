#include "mail_notifier.h"

#include "mail_text.h"
#include "smtp_send.h"

#include <QDateTime>
#include <QElapsedTimer>

namespace mirv {

MailNotifier::MailNotifier(NotifyConfig config, int minuteMs, QObject* parent)
    : QObject(parent), config_(std::move(config)), batch_(std::int64_t{5} * minuteMs),
      backOff_(minuteMs / 2, std::int64_t{30} * minuteMs) {
    auto since = std::make_shared<QElapsedTimer>();
    since->start();
    nowMs = [since] { return since->elapsed(); };
    timer_.setSingleShot(true);
    connect(&timer_, &QTimer::timeout, this, &MailNotifier::sendWaiting);
}

MailNotifier::~MailNotifier() {
    cancel_ = true;
    if (worker_.joinable())
        worker_.join();
}

void MailNotifier::add(const std::vector<EventRow>& events) {
    batch_.add(events);
    schedule();
}

void MailNotifier::schedule() {
    if (sending_ || !batch_.waiting())
        return;
    const std::int64_t wait = std::max<std::int64_t>(0, batch_.dueMs() - nowMs());
    if (!timer_.isActive() || timer_.remainingTime() > wait)
        timer_.start(static_cast<int>(wait));
}

void MailNotifier::sendWaiting() {
    if (sending_ || !batch_.waiting())
        return;
    if (batch_.dueMs() > nowMs()) {
        schedule();
        return;
    }
    std::vector<EventRow> events = batch_.take(nowMs());
    const std::string message =
        mailText(config_.mailFrom, config_.mailTo, events,
                 QDateTime::currentDateTime().toString(Qt::RFC2822Date).toStdString());
    if (worker_.joinable())
        worker_.join();
    sending_ = true;
    worker_ = std::thread([this, message, events = std::move(events)]() mutable {
        auto failure = sendMail(config_, message, cancel_);
        if (cancel_)
            return;
        QMetaObject::invokeMethod(
            this,
            [this, events = std::move(events), failure = std::move(failure)]() mutable {
                sent(std::move(events), std::move(failure));
            },
            Qt::QueuedConnection);
    });
}

void MailNotifier::sent(std::vector<EventRow> events, std::optional<std::string> failure) {
    sending_ = false;
    if (failure)
        batch_.putBack(std::move(events), nowMs() + backOff_.failed());
    else
        backOff_.succeeded();
    if (outcome)
        outcome(failure);
    schedule();
}

} // namespace mirv
