#include "background_job.h"

#include <algorithm>

namespace mirv {

BackgroundJob::BackgroundJob(Work work, QObject* parent)
    : QThread(parent), work_(std::move(work)) {}

BackgroundJob::~BackgroundJob() {
    cancel();
    wait();
}

void BackgroundJob::run() {
    work_(
        [this](double fraction) {
            permille_ = static_cast<int>(std::clamp(fraction, 0.0, 1.0) * 1000);
        },
        cancel_);
}

} // namespace mirv
