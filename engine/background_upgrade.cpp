#include "background_upgrade.h"

#include "create_database.h"
#include "day_summary_store.h"

namespace mirv {

BackgroundUpgrade::BackgroundUpgrade(std::string databasePath)
    : thread_([this, path = std::move(databasePath)] {
          if (!upgradeDatabase(path, &cancel_))
              buildDaySummaries(path, &cancel_);
      }) {}

BackgroundUpgrade::~BackgroundUpgrade() {
    cancel_ = true;
    thread_.join();
}

} // namespace mirv
