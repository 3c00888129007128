#include "tool_support.h"

#include "command.h"
#include "protected_files.h"
#include "station_folder.h"

#include <atomic>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <unistd.h>

namespace mirv::tool {

namespace {

volatile std::sig_atomic_t caughtSignal = 0;
std::atomic<bool> caughtAny{false}; // lock-free, so safe to set in the handler

extern "C" void noteSignal(int signal) {
    caughtSignal = signal;
    caughtAny = true;
}

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};

std::vector<std::pair<const CLI::App*, const std::string*>> outputs;

} // namespace

std::string ToolSettings::database() const {
    if (!databasePath.empty())
        return databasePath;
    return (stationFolder() / "mirv.mdb").string();
}

void addOutputPath(const CLI::App& command, const std::string& path) {
    outputs.emplace_back(&command, &path);
}

ProtectedFiles ToolSettings::station() const {
    const std::string folder = stationFolder().string();
    ProtectedFiles files{{database()}, folder};
    if (!folder.empty())
        files.databases.push_back(folder + "/mirv.mdb");
    return files;
}

int checkOutputs(const CLI::App& command, const ToolSettings& settings) {
    const ProtectedFiles files = settings.station();
    for (const auto& [owner, path] : outputs) {
        if (owner != &command)
            continue;
        const auto refused = *path == "-" ? refusedOutput(STDOUT_FILENO, "standard output", files)
                                          : refusedOutput(*path, files);
        if (refused)
            return report(kDataError, *refused);
    }
    return kSuccess;
}

int report(int status, const std::string& message) {
    std::fprintf(stderr, "mirv-history: %s\n", message.c_str());
    return status;
}

int reportFailure(const DatabaseFailure& failure) {
    return report(kDataError, failure.message);
}

OpenedDatabase openForCommand(const std::string& path, int busyTimeoutMs) {
    OpenedDatabase opened = openStationDatabase(path, busyTimeoutMs);
    if (opened.failure)
        reportFailure(*opened.failure);
    return opened;
}

ProgressLine::ProgressLine(bool wanted) : terminal_(wanted && ::isatty(STDERR_FILENO) == 1) {}

ProgressLine::~ProgressLine() {
    if (shown_)
        std::fputs("\n", stderr);
}

void ProgressLine::show(const std::string& text, bool now) {
    if (!terminal_)
        return;
    const auto t = std::chrono::steady_clock::now();
    if (!now && shown_ && t - last_ < std::chrono::milliseconds(200))
        return;
    last_ = t;
    shown_ = true;
    std::fprintf(stderr, "\r\033[K%s", text.c_str());
    std::fflush(stderr);
}

void ProgressLine::clear() {
    if (!shown_)
        return;
    std::fputs("\r\033[K", stderr);
    std::fflush(stderr);
    shown_ = false;
}

InterruptGuard::InterruptGuard() {
    struct sigaction action {};
    action.sa_handler = noteSignal;
    sigemptyset(&action.sa_mask);
    for (int s : kSignals)
        sigaction(s, &action, nullptr);
}

InterruptGuard::~InterruptGuard() {
    for (int s : kSignals)
        std::signal(s, SIG_DFL);
    if (caughtSignal != 0)
        std::raise(caughtSignal);
}

bool InterruptGuard::interrupted() {
    return caughtSignal != 0;
}

const std::atomic<bool>& InterruptGuard::flag() {
    return caughtAny;
}

} // namespace mirv::tool
