#pragma once

#include "pass_status.h"

#include <QThread>
#include <atomic>
#include <functional>

namespace mirv {

// Runs one long piece of work on a thread of its own so the event thread goes on polling and
// logging. The work reports its progress through the callback and watches the cancel flag;
// QThread::finished reaches receivers on the event thread as a queued signal once it is done.
// Destroying a running job cancels it and waits for it.
class BackgroundJob : public QThread {
    Q_OBJECT
  public:
    using Work =
        std::function<void(const ProgressCallback& onProgress, const std::atomic_bool& cancel)>;

    explicit BackgroundJob(Work work, QObject* parent = nullptr);
    ~BackgroundJob() override;

    void cancel() { cancel_ = true; }
    bool cancelRequested() const { return cancel_; }
    // The part done, in thousandths.
    int permille() const { return permille_; }

  protected:
    void run() override;

  private:
    Work work_;
    std::atomic_bool cancel_{false};
    std::atomic<int> permille_{0};
};

} // namespace mirv
