#include "background_upgrade.h"

#include "create_database.h"

namespace mirv {

BackgroundUpgrade::BackgroundUpgrade(std::string databasePath)
    : thread_([this, path = std::move(databasePath)] { upgradeDatabase(path, &cancel_); }) {}

BackgroundUpgrade::~BackgroundUpgrade() {
    cancel_ = true;
    thread_.join();
}

} // namespace mirv
