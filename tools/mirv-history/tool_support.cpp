#include "tool_support.h"

#include "command.h"
#include "date_time_text.h"
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

std::string trimmed(const std::string& s) {
    const auto first = s.find_first_not_of(' ');
    return first == std::string::npos ? "" : s.substr(first, s.find_last_not_of(' ') - first + 1);
}

} // namespace

std::string ToolSettings::database() const {
    if (!databasePath.empty())
        return databasePath;
    return (stationFolder() / "mirv.mdb").string();
}

void addOutputPath(const CLI::App& command, const std::string& path) {
    outputs.emplace_back(&command, &path);
}

int checkOutputs(const CLI::App& command, const ToolSettings& settings) {
    const std::string folder = stationFolder().string();
    ProtectedFiles files{{settings.database()}, folder};
    if (!folder.empty())
        files.databases.push_back(folder + "/mirv.mdb");
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

CLI::Validator timeoutRange() {
    return CLI::Validator(
        [](std::string& text) -> std::string {
            double seconds = 0;
            if (CLI::detail::lexical_cast(text, seconds) && seconds > 0 && seconds <= 86400)
                return {};
            return "'" + text + "' is not a number of seconds above 0 and at most 86400";
        },
        "SECONDS");
}

int report(int status, const std::string& message) {
    std::fprintf(stderr, "mirv-history: %s\n", message.c_str());
    return status;
}

int reportFailure(const DatabaseFailure& failure) {
    return report(kDataError, failure.message);
}

std::optional<std::string> readDateOption(const std::string& option, const std::string& text,
                                          std::string& usage) {
    auto stored = parseDateTimeText(trimmed(text));
    if (!stored)
        usage = "cannot read the date '" + text + "' of " + option +
                ": write YYYY-MM-DD or YYYY-MM-DD HH:MM[:SS]";
    return stored;
}

std::string temporaryFile(const std::string& suffix) {
    std::error_code ec;
    const auto folder = std::filesystem::temp_directory_path(ec);
    return (ec ? std::string("/tmp") : folder.string()) + "/mirv-history-" +
           std::to_string(::getpid()) + suffix;
}

bool copyFileToStandardOutput(const std::string& path) {
    std::FILE* in = std::fopen(path.c_str(), "rb");
    if (!in)
        return false;
    char buffer[1 << 16];
    bool ok = true;
    while (const std::size_t n = std::fread(buffer, 1, sizeof buffer, in))
        ok = ok && std::fwrite(buffer, 1, n, stdout) == n;
    std::fclose(in);
    return std::fflush(stdout) == 0 && ok;
}

void addRangeOptions(CLI::App& command, std::string& from, std::string& to, std::string& meter) {
    command.add_option("--from", from, "first date-time included: YYYY-MM-DD [HH:MM[:SS]]")
        ->required()
        ->type_name("DATE");
    command.add_option("--to", to, "last date-time included (a date alone is its midnight)")
        ->required()
        ->type_name("DATE");
    command.add_option("--meter", meter,
                       "a meter number as logged; empty or 全部 for all meters (default)");
}

void addOutputOptions(CLI::App& command, std::string& format, std::string& output) {
    command.add_option("--format", format, "csv (UTF-8 with a byte-order mark) or xlsx")
        ->required()
        ->check(CLI::IsMember({"csv", "xlsx"}))
        ->type_name("csv|xlsx");
    command.add_option("--output", output, "the file to write, or - for standard output")
        ->required()
        ->type_name("FILE|-");
    addOutputPath(command, output);
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
