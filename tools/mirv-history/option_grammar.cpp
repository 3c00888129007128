#include "option_grammar.h"

#include "date_time_text.h"
#include "tool_support.h"

namespace mirv::tool {

namespace {

std::string trimmed(const std::string& s) {
    const auto first = s.find_first_not_of(' ');
    return first == std::string::npos ? "" : s.substr(first, s.find_last_not_of(' ') - first + 1);
}

// A whole number from `low` to `high` written in digits alone.
std::optional<int> wholeNumber(const std::string& text, int low, int high) {
    if (text.empty() || text.size() > 4 ||
        text.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    const int n = std::stoi(text);
    if (n < low || n > high)
        return std::nullopt;
    return n;
}

} // namespace

CLI::Validator dateTime() {
    return CLI::Validator(
        [](std::string& text) -> std::string {
            const auto stored = parseDateTimeText(trimmed(text));
            if (!stored)
                return "cannot read the date '" + text +
                       "': write YYYY-MM-DD or YYYY-MM-DD HH:MM[:SS]";
            text = *stored;
            return {};
        },
        "DATE");
}

CLI::Validator stepMinutes() {
    return CLI::Validator(
        [](std::string& text) -> std::string {
            if (!wholeNumber(trimmed(text), 1, 60))
                return "'" + text + "' is not a whole number of minutes from 1 to 60";
            return {};
        },
        "N");
}

CLI::Validator meterNumber() {
    return CLI::Validator(
        [](std::string& text) -> std::string {
            const std::string t = trimmed(text);
            if (t.empty() || t == "全部") {
                text = t;
                return {};
            }
            const auto n = wholeNumber(t, 1, 255);
            if (!n)
                return "'" + text + "' is not a meter number from 1 to 255 (empty or 全部: all)";
            text = std::to_string(*n);
            return {};
        },
        "METER");
}

CLI::Validator filePath() {
    return CLI::Validator(
        [](std::string& text) -> std::string {
            return text.empty() ? "an empty name names no file" : std::string();
        },
        "FILE");
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

void addRangeOptions(CLI::App& command, std::string& from, std::string& to, std::string& meter,
                     const std::string& unit) {
    command.add_option("--from", from, "first " + unit + " included: YYYY-MM-DD [HH:MM[:SS]]")
        ->required()
        ->transform(dateTime())
        ->type_name("DATE");
    command.add_option("--to", to, "last " + unit + " included (a date alone is its midnight)")
        ->required()
        ->transform(dateTime())
        ->type_name("DATE");
    command
        .add_option("--meter", meter,
                    "a meter number as logged; empty or 全部 for all meters (default)")
        ->transform(meterNumber())
        ->type_name("METER");
    // Both dates are in the stored form by now, which sorts as time does.
    command.callback([&from, &to] {
        if (from > to)
            throw CLI::ValidationError("--from", from + " is later than --to " + to);
    });
}

void addOutputOptions(CLI::App& command, std::string& format, std::string& output, bool required) {
    const std::string byDefault = required ? "" : " (default)";
    command
        .add_option("--format", format,
                    "csv (UTF-8 with a byte-order mark" + byDefault + ") or xlsx")
        ->required(required)
        ->check(CLI::IsMember({"csv", "xlsx"}))
        ->type_name("csv|xlsx");
    command
        .add_option("--output", output, "the file to write, or - for standard output" + byDefault)
        ->required(required)
        ->check(filePath())
        ->type_name("FILE|-");
    addOutputPath(command, output);
}

} // namespace mirv::tool
