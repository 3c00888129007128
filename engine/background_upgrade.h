#pragma once

#include <atomic>
#include <string>
#include <thread>

namespace mirv {

// Brings the database up to date on a thread of its own while the station starts and polls:
// building an index or the daily summaries on years of history takes many seconds. Ending the
// program stops a build in progress; it is done again at the next start.
class BackgroundUpgrade {
  public:
    explicit BackgroundUpgrade(std::string databasePath);
    ~BackgroundUpgrade();
    BackgroundUpgrade(const BackgroundUpgrade&) = delete;
    BackgroundUpgrade& operator=(const BackgroundUpgrade&) = delete;

  private:
    std::atomic<bool> cancel_{false};
    std::thread thread_;
};

} // namespace mirv
