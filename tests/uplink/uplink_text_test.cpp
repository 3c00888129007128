// The uplink's texts: what uplink.conf may say, which stored readings are numbers, and how
// a field reaches the server's COPY.
#include "copy_text.h"
#include "local_instant.h"
#include "reading_text.h"
#include "temp_dir.h"
#include "uplink_config.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <sys/stat.h>

namespace mirv {
namespace {

struct ConfigCase {
    const char* text;
    const char* station;  // expected, or nullptr for an error
    const char* conninfo; // expected; for an error, a part of the message
};

TEST(UplinkConfig, ReadsSettingsAndRejectsWhatCannotWork) {
    const ConfigCase cases[] = {
        {"station = Line 2\nconninfo = host=db.plant dbname=plant user=uplink\n", "Line 2",
         "host=db.plant dbname=plant user=uplink"},
        {"# central server\n\n  station=A   # the hall\r\nconninfo =host=h # not in the value\n",
         "A", "host=h"},
        {"station = B\nconninfo = host=h options='-c search_path=a#b'\n", "B",
         "host=h options='-c search_path=a#b'"},
        {"station = C\nconninfo = postgresql://uplink@db.plant/plant\n", "C",
         "postgresql://uplink@db.plant/plant"},
        {"station = D\nconninfo =\n", "D", ""},
        {"conninfo = host=h\n", nullptr, "no station name"},
        {"station =   # none\nconninfo = host=h\n", nullptr, "no station name"},
        {"station = E\n", nullptr, "no server"},
        {"station = F\nconninfo = host=h\nstation = G\n", nullptr,
         "line 3: 'station' is set twice"},
        {"station = H\nconinfo = host=h\n", nullptr, "line 2: unknown setting 'coninfo'"},
        {"station H\n", nullptr, "line 1: expected `name = value`"},
        {"station = I\nconninfo = host=h password=secret\n", nullptr, "must not hold a password"},
        {"station = J\nconninfo = postgresql://u:secret@h/db\n", nullptr,
         "must not hold a password"},
        {"station = K\nconninfo = host='h\n", nullptr, "conninfo cannot be read"},
        {"station = L\nconninfo = host=h\nzone = ../../etc/passwd\n", nullptr,
         "zone '../../etc/passwd' is no time zone name"},
        {"station = M\nconninfo = host=h\nzone = Europe/Berlin # the plant's\n", "M", "host=h"},
    };
    for (const ConfigCase& c : cases) {
        SCOPED_TRACE(c.text);
        const ConfigResult result = parseUplinkConfig(c.text);
        if (c.station) {
            const auto* config = std::get_if<UplinkConfig>(&result);
            ASSERT_NE(config, nullptr) << std::get<ConfigError>(result).message;
            EXPECT_EQ(config->station, c.station);
            EXPECT_EQ(config->conninfo, c.conninfo);
        } else {
            const auto* error = std::get_if<ConfigError>(&result);
            ASSERT_NE(error, nullptr);
            EXPECT_NE(error->message.find(c.conninfo), std::string::npos) << error->message;
        }
    }
}

// In a folder shared by a group, the identity the first run makes is readable and writable
// for the group whatever the maker's umask, and a second run reads the same one.
TEST(UplinkIdentity, MadeOnceAndGroupWritableInASharedFolder) {
    test::TempDir folder;
    ASSERT_EQ(::chmod(folder.str().c_str(), 02775), 0);
    const std::string path = folder.str() + "/uplink.id";
    const mode_t old = ::umask(022);
    const auto made = loadOrCreateIdentity(path);
    ::umask(old);
    ASSERT_TRUE(std::holds_alternative<std::string>(made));
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0664u);
    const auto again = loadOrCreateIdentity(path);
    ASSERT_TRUE(std::holds_alternative<std::string>(again));
    EXPECT_EQ(std::get<std::string>(again), std::get<std::string>(made));
    EXPECT_EQ(std::get<std::string>(made).size(), 32u);
}

TEST(ReadingText, DecimalNumbersOnly) {
    const std::pair<const char*, const char*> cases[] = {
        {"12.3400", "12.3400"}, {"-0.50", "-0.50"}, {" 7 ", "7"},        {"+3.", "+3."},
        {".25", ".25"},         {"1.5e3", "1.5e3"}, {"2E-07", "2E-07"},  {"", nullptr},
        {"   ", nullptr},       {"NaN", nullptr},   {"inf", nullptr},    {"-", nullptr},
        {".", nullptr},         {"1.2.3", nullptr}, {"12 m3", nullptr},  {"1,5", nullptr},
        {"0x1F", nullptr},      {"1e", nullptr},    {"1e1000", nullptr}, {"--1", nullptr},
    };
    for (const auto& [text, expected] : cases) {
        SCOPED_TRACE(text);
        const auto number = numericReading(text);
        if (expected) {
            ASSERT_TRUE(number);
            EXPECT_EQ(*number, expected);
        } else {
            EXPECT_FALSE(number) << *number;
        }
    }
    EXPECT_FALSE(numericReading(std::string(401, '9')));
    EXPECT_EQ(meterNumber(" 17"), 17);
    EXPECT_EQ(meterNumber("2147483647"), 2147483647);
    for (const char* text : {"", "x", "1.0", "-1", "2147483648", "3 4"})
        EXPECT_FALSE(meterNumber(text)) << text;
}

TEST(CopyText, EscapesAndKeepsTheServerTakingIt) {
    const std::pair<std::string, std::string> cases[] = {
        {"通讯正常,励磁报警", "通讯正常,励磁报警"},
        {"a\tb\nc\rd\\e", "a\\tb\\nc\\rd\\\\e"},
        {std::string("x\0y", 3), "xy"},
        {"\xC0\xAF", "\xEF\xBF\xBD\xEF\xBF\xBD"},                 // overlong '/'
        {"\xED\xA0\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"}, // a surrogate
        {"\xE9\x80", "\xEF\xBF\xBD\xEF\xBF\xBD"},                 // cut short
        {"\xF0\x9F\x94\xA5!", "\xF0\x9F\x94\xA5!"},
        {"\xB5", "\xEF\xBF\xBD"}, // Latin-1
    };
    for (const auto& [text, expected] : cases) {
        std::string out;
        appendCopyText(out, text);
        EXPECT_EQ(out, expected) << text;
    }
    std::string null;
    appendCopyNull(null);
    EXPECT_EQ(null, "\\N");
}

TEST(CopyText, CutsToCharactersAsTheServerCountsThem) {
    const struct {
        std::string text;
        std::size_t maxChars;
        std::string expected;
    } cases[] = {
        {"通讯中断", 2, "通讯"},
        {"a\tb", 2, "a\\t"},
        {std::string("x\0\0yz", 5), 2, "xy"},         // NUL is dropped, not counted
        {"\xB5\xB5z", 2, "\xEF\xBF\xBD\xEF\xBF\xBD"}, // each replaced byte is one
        {"\xF0\x9F\x94\xA5!", 1, "\xF0\x9F\x94\xA5"},
        {"ab", 5, "ab"},
    };
    for (const auto& c : cases) {
        std::string out;
        appendCopyText(out, c.text, c.maxChars);
        EXPECT_EQ(out, c.expected) << c.text;
    }
}

struct InstantCase {
    const char* zone;
    const char* local;
    int repeat;
    const char* utc; // nullptr: no time
};

TEST(LocalInstants, ResolvesRepeatedAndSkippedLocalTimes) {
    const InstantCase cases[] = {
        {"Europe/Berlin", "2025-07-01 12:00:00", 0, "2025-07-01 10:00:00+00"},
        {"Europe/Berlin", "2025-01-15 00:00:00", 3, "2025-01-14 23:00:00+00"},
        // The autumn hour: first in summer time, then in winter time.
        {"Europe/Berlin", "2025-10-26 02:00:00", 0, "2025-10-26 00:00:00+00"},
        {"Europe/Berlin", "2025-10-26 02:59:59", 1, "2025-10-26 01:59:59+00"},
        {"Europe/Berlin", "2025-10-26 02:30:00", 5, "2025-10-26 01:30:00+00"},
        {"Europe/Berlin", "2025-10-26 03:00:00", 0, "2025-10-26 02:00:00+00"},
        // The spring hour never shows: the offset before it.
        {"Europe/Berlin", "2025-03-30 02:15:00", 0, "2025-03-30 01:15:00+00"},
        {"America/St_Johns", "2025-11-02 01:30:00", 0, "2025-11-02 04:00:00+00"},
        {"America/St_Johns", "2025-11-02 01:30:00", 1, "2025-11-02 05:00:00+00"},
        // A half-hour change.
        {"Australia/Lord_Howe", "2025-04-06 01:45:00", 0, "2025-04-05 14:45:00+00"},
        {"Australia/Lord_Howe", "2025-04-06 01:45:00", 1, "2025-04-05 15:15:00+00"},
        {"Asia/Shanghai", "2024-02-29 08:00:00", 0, "2024-02-29 00:00:00+00"},
        {"UTC", "2025-01-01 00:00:00", 0, "2025-01-01 00:00:00+00"},
        {"UTC", "2025-01-01 0:00:00", 0, nullptr},
        {"UTC", "2025/01/01 00:00:00", 0, nullptr},
    };
    const char* before = std::getenv("TZ");
    const std::string saved = before ? before : "";
    for (const InstantCase& c : cases) {
        SCOPED_TRACE(std::string(c.zone) + " " + c.local + " #" + std::to_string(c.repeat));
        ::setenv("TZ", c.zone, 1);
        ::tzset();
        LocalInstants instants;
        const auto utc = instants.utcOf(c.local, c.repeat);
        if (c.utc) {
            ASSERT_TRUE(utc);
            EXPECT_EQ(*utc, c.utc);
        } else {
            EXPECT_FALSE(utc) << *utc;
        }
    }
    if (before)
        ::setenv("TZ", saved.c_str(), 1);
    else
        ::unsetenv("TZ");
    ::tzset();
}

} // namespace
} // namespace mirv
