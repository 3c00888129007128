// What the uplink's end-to-end tests share: program folders with the built uplink in them,
// the server's rows of a station and waits for them.
#pragma once

#include "child_process.h"
#include "database.h"
#include "postgres_server.h"
#include "program_folder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <sqlite3.h>
#include <sstream>

namespace mirv::e2e {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr const char* kLocalColumns =
    "MeterID, CreateTime, MinuteAverage, Foward, Reverse, TXTctemperature1, TXTctemperature2, "
    "TXTreliang, TXTlengliang, TXTleijire_z, TXTleijileng_z, Alarmstatus";
constexpr const char* kCentralColumns =
    "meter_id, create_time, flow_rate, forward_total, reverse_total, inlet_temperature, "
    "outlet_temperature, heat_power, cold_power, heat_total, cold_total, alarm_status";

inline std::string joined(const std::vector<std::string>& fields) {
    std::string s;
    for (const auto& f : fields)
        s += (s.empty() ? "" : "|") + f;
    return s;
}

// A program folder with the uplink in it, configured for `station` on `conninfo`.
struct UplinkFolder {
    test::ProgramFolder folder;
    fs::path uplink = fs::path(folder.path()) / "mirv-uplink";
    fs::path errors = fs::path(folder.path()) / "uplink.err";

    UplinkFolder(const std::string& station, const std::string& conninfo, bool withDatabase = true,
                 const std::string& moreSettings = "")
        : folder(withDatabase) {
        fs::copy_file(MIRV_UPLINK, uplink);
        std::ofstream(fs::path(folder.path()) / "uplink.conf")
            << "# written by the test\nstation = " << station << "\nconninfo = " << conninfo << "\n"
            << moreSettings;
    }

    // The uplink with `args`, its standard error appended to `errors`.
    std::vector<std::string> command(const std::vector<std::string>& args) const {
        std::vector<std::string> argv{uplink.string()};
        argv.insert(argv.end(), args.begin(), args.end());
        return test::withLog(argv, errors.string());
    }
    // Runs it with --once and returns its exit code.
    int runOnce(const std::vector<std::string>& args = {}) const {
        std::vector<std::string> all{"--once"};
        all.insert(all.end(), args.begin(), args.end());
        test::ChildProcess p(command(all));
        const int status = p.waitForExit(120s);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    std::vector<std::string> errorLines() const {
        std::ifstream in(errors);
        std::vector<std::string> lines;
        for (std::string line; std::getline(in, line);)
            lines.push_back(line);
        return lines;
    }
    int linesContaining(const std::string& part) const {
        int n = 0;
        for (const auto& line : errorLines())
            n += line.find(part) != std::string::npos;
        return n;
    }

    // Appends rows numbered first..last: meter n % 20 + 1, a minute of 2025 per 20 rows, and
    // readings that follow from n, written by SQLite alone.
    void appendRows(int first, int last) const {
        folder.exec(
            "WITH RECURSIVE n(i) AS (SELECT " + std::to_string(first) +
            " UNION ALL SELECT i + 1 FROM n WHERE i < " + std::to_string(last) +
            ") INSERT INTO Historydata (MeterID, MinuteAverage, Foward, Reverse, "
            "TXTctemperature1, TXTctemperature2, TXTreliang, TXTlengliang, TXTleijire_z, "
            "TXTleijileng_z, Alarmstatus, CreateTime) "
            "SELECT i % 20 + 1, printf('%.4f', (i % 97) * 0.0137 + 10), "
            "printf('%.2f', 1000 + i * 0.25), '0.00', printf('%.2f', 55 + (i % 20) * 0.25), "
            "'47.25', printf('%.4f', (i % 89) * 1.5), '0.0000', printf('%.2f', 20000 + i * 0.5), "
            "'0.00', CASE WHEN i % 20 = 2 THEN '通讯正常,励磁报警' ELSE '通讯正常' END, "
            "strftime('%Y-%m-%d %H:%M:%S', '2025-01-01', '+' || (i / 20) || ' minutes') FROM n");
    }
    // Every local row as text, to compare with the server's.
    std::set<std::string> localRows() const {
        Database db(folder.databasePath());
        Statement q(db, std::string("SELECT ") + kLocalColumns + " FROM Historydata");
        std::set<std::string> rows;
        while (q.step()) {
            std::vector<std::string> fields;
            for (int c = 0; c < q.columnCount(); ++c)
                fields.push_back(q.isNull(c) ? "NULL" : q.text(c));
            rows.insert(joined(fields));
        }
        return rows;
    }
};

inline std::multiset<std::string> centralRows(const test::PostgresServer& pg,
                                              const std::string& station) {
    test::PgConnection c(pg.conninfo());
    std::multiset<std::string> rows;
    for (const auto& r : c.rows(std::string("SELECT ") + kCentralColumns +
                                    " FROM station_history WHERE station = $1",
                                {station}))
        rows.insert(joined(r));
    return rows;
}

inline long long centralCount(const test::PostgresServer& pg, const std::string& station) {
    try {
        test::PgConnection c(pg.conninfo());
        if (c.value("SELECT to_regclass('station_history') IS NOT NULL") != "t")
            return 0;
        return std::stoll(
            c.value("SELECT count(*) FROM station_history WHERE station = $1", {station}));
    } catch (const std::exception&) {
        return -1;
    }
}

inline bool waitForCentral(const test::PostgresServer& pg, const std::string& station,
                           long long rows, std::chrono::seconds timeout = 90s) {
    const auto end = Clock::now() + timeout;
    while (centralCount(pg, station) != rows && Clock::now() < end)
        std::this_thread::sleep_for(100ms);
    return centralCount(pg, station) == rows;
}

// Waits until the uplink's server session is inside a transaction, with some rows central
// already; the central count then.
inline long long waitInsideABatch(const test::PostgresServer& pg, const std::string& station) {
    test::PgConnection c(pg.conninfo());
    const auto end = Clock::now() + 60s;
    while (Clock::now() < end) {
        if (c.value("SELECT to_regclass('station_history') IS NOT NULL") != "t")
            continue;
        const auto r = c.rows("SELECT (SELECT count(*) FROM pg_stat_activity WHERE "
                              "application_name = 'mirv-uplink' AND xact_start IS NOT NULL), "
                              "(SELECT count(*) FROM station_history WHERE station = $1)",
                              {station});
        if (r[0][0] == "1" && r[0][1] != "0")
            return std::stoll(r[0][1]);
    }
    return -1;
}

// Every row that was ever local is central, once.
inline void expectCentralHoldsExactly(const test::PostgresServer& pg, const std::string& station,
                                      const std::set<std::string>& everLocal) {
    const auto central = centralRows(pg, station);
    EXPECT_EQ(central.size(), everLocal.size());
    const std::set<std::string> distinct(central.begin(), central.end());
    EXPECT_EQ(distinct.size(), central.size()) << "rows stored twice";
    EXPECT_TRUE(distinct == everLocal) << "rows differ";
}

inline void insertAll(std::set<std::string>& into, const std::set<std::string>& rows) {
    into.insert(rows.begin(), rows.end());
}

// Copies every page of `from` into the live database at `to`, as a restore does.
inline void copyDatabase(const std::string& from, const std::string& to) {
    Database source(from);
    Database target(to);
    sqlite3_backup* b = sqlite3_backup_init(target.handle(), "main", source.handle(), "main");
    ASSERT_NE(b, nullptr) << sqlite3_errmsg(target.handle());
    EXPECT_EQ(sqlite3_backup_step(b, -1), SQLITE_DONE);
    EXPECT_EQ(sqlite3_backup_finish(b), SQLITE_OK);
}

inline std::string fileText(const char* path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

inline std::string asRole(const test::PostgresServer& pg, const std::string& role) {
    return "host=127.0.0.1 port=" + std::to_string(pg.port()) + " user=" + role +
           " dbname=postgres connect_timeout=5";
}

inline int runUplink(const UplinkFolder& f, const std::vector<std::string>& args) {
    test::ChildProcess p(f.command(args));
    const int status = p.waitForExit(120s);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The roles script run by the administrator, the schema made by the owner, and a login role
// for each station.
inline void setUpRoles(const test::PostgresServer& pg, const std::vector<std::string>& stations) {
    test::PgConnection admin(pg.conninfo());
    admin.exec(fileText(MIRV_CENTRAL_ROLES));
    UplinkFolder owner("unused", pg.conninfo(), false);
    ASSERT_EQ(runUplink(owner, {"--migrate"}), 0) << joined(owner.errorLines());
    for (const std::string& s : stations)
        admin.rows("SELECT mirv_add_station($1, $2)", {s, "st_" + s});
}

} // namespace mirv::e2e
