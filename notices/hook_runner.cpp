#include "hook_runner.h"

#include <csignal>
#include <unistd.h>

namespace mirv {

HookRunner::HookRunner(std::string command, int timeoutMs, int minuteMs, QObject* parent)
    : QObject(parent), command_(std::move(command)), timeoutMs_(timeoutMs),
      backOff_(minuteMs / 2, std::int64_t{30} * minuteMs) {
    killTimer_.setSingleShot(true);
    retryTimer_.setSingleShot(true);
    connect(&killTimer_, &QTimer::timeout, this, [this] {
        if (process_) {
            timedOut_ = true;
            killAll();
        }
    });
    connect(&retryTimer_, &QTimer::timeout, this, &HookRunner::runNext);
}

HookRunner::~HookRunner() {
    if (process_) {
        process_->disconnect(this);
        killAll();
        process_->waitForFinished(1000);
    }
}

// The shell and whatever it started: the command runs in a process group of its own.
void HookRunner::killAll() {
    const auto pid = static_cast<pid_t>(process_->processId());
    if (pid > 0)
        ::kill(-pid, SIGKILL);
    process_->kill();
}

void HookRunner::add(const std::vector<EventRow>& events) {
    queue_.insert(queue_.end(), events.begin(), events.end());
    while (queue_.size() > kMostWaiting)
        queue_.pop_front();
    if (!process_ && !retryTimer_.isActive())
        runNext();
}

void HookRunner::runNext() {
    if (process_ || queue_.empty())
        return;
    const EventRow& e = queue_.front();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    auto set = [&env](const char* name, const std::string& value) {
        env.insert(QString::fromLatin1(name), QString::fromStdString(value));
    };
    set("MIRV_EVENT_TIME", e.localTime);
    set("MIRV_EVENT_UTC", e.utcTime);
    set("MIRV_EVENT_METER", std::to_string(e.meter));
    set("MIRV_EVENT_KIND", e.kind);
    set("MIRV_EVENT_PHASE", e.phase);
    set("MIRV_EVENT_TEXT", e.text);
    set("MIRV_EVENT_DETAIL", e.detail);
    set("MIRV_EVENT_USER", e.user);
    process_ = new QProcess(this);
    process_->setProcessEnvironment(env);
    process_->setProcessChannelMode(QProcess::ForwardedChannels);
    process_->setStandardInputFile(QProcess::nullDevice());
    process_->setChildProcessModifier([] { ::setpgid(0, 0); });
    timedOut_ = false;
    connect(process_, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            ran("cannot start /bin/sh: " + process_->errorString().toStdString());
    });
    connect(process_, &QProcess::finished, this, [this](int code, QProcess::ExitStatus status) {
        if (timedOut_)
            ran("killed after " + std::to_string(timeoutMs_ / 1000) + " s");
        else if (status != QProcess::NormalExit)
            ran("ended by a signal");
        else if (code != 0)
            ran("exit status " + std::to_string(code));
        else
            ran(std::nullopt);
    });
    killTimer_.start(timeoutMs_);
    process_->start(QStringLiteral("/bin/sh"),
                    {QStringLiteral("-c"), QString::fromStdString(command_)});
}

void HookRunner::ran(const std::optional<std::string>& failure) {
    killTimer_.stop();
    process_->disconnect(this);
    process_->deleteLater();
    process_ = nullptr;
    if (failure) {
        retryTimer_.start(static_cast<int>(backOff_.failed()));
    } else {
        backOff_.succeeded();
        queue_.pop_front();
    }
    // The outcome may note an event of its own, which queues behind this one.
    if (outcome)
        outcome(failure);
    if (!failure)
        runNext();
}

} // namespace mirv
