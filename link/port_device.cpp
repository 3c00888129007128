#include "port_device.h"

#include <filesystem>

namespace mirv {

std::string portDevice(const std::string& programDir, int portNo) {
    namespace fs = std::filesystem;
    const fs::path mapped = fs::path(programDir) / "ports" / ("com" + std::to_string(portNo));
    std::error_code ec;
    if (fs::exists(fs::symlink_status(mapped, ec)))
        return mapped.string();
    return "/dev/ttyS" + std::to_string(portNo - 1);
}

} // namespace mirv
