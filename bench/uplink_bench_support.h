// What the uplink's benches share: a station's history made by SQLite alone, and the CPU time
// a PostgreSQL server of the bench's own has used.
#pragma once

#include "create_database.h"
#include "database.h"
#include "postgres_server.h"

#include <dirent.h>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>

namespace mirv::bench {

// A station's database at `path` with `rows` readings: 20 meters logged once a minute from
// 2026-05-01 00:00 on, readings that follow from the row's number.
inline bool makeStationHistory(const std::string& path, const std::string& schemaSql,
                               long long rows) {
    if (createDatabase(path, schemaSql))
        return false;
    Database db(path);
    return db.exec(
        "WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i < " +
        std::to_string(rows - 1) +
        ") INSERT INTO Historydata (MeterID, MinuteAverage, Foward, Reverse, "
        "TXTctemperature1, TXTctemperature2, TXTreliang, TXTlengliang, TXTleijire_z, "
        "TXTleijileng_z, Alarmstatus, CreateTime) "
        "SELECT i % 20 + 1, printf('%.4f', (i % 97) * 0.0137 + 10), "
        "printf('%.2f', 1000 + i * 0.25), '0.00', printf('%.2f', 55 + (i % 20) * 0.25), "
        "'47.25', printf('%.4f', (i % 89) * 1.5), '0.0000', printf('%.2f', 20000 + i * 0.5), "
        "'0.00', '通讯正常', strftime('%Y-%m-%d %H:%M:%S', '2026-05-01', '+' || (i / 20) || "
        "' minutes') FROM n");
}

// CPU seconds of one process (and of its children it has waited for) from /proc.
inline double cpuSeconds(const std::string& pid, bool withWaited) {
    std::ifstream in("/proc/" + pid + "/stat");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const auto close = text.rfind(')');
    if (close == std::string::npos)
        return 0;
    std::istringstream fields(text.substr(close + 2));
    std::string f;
    double ticks = 0;
    for (int i = 3; fields >> f; ++i) { // field 3 is the state
        if (i == 14 || i == 15 || (withWaited && (i == 16 || i == 17)))
            ticks += std::stod(f);
        if (i == 17)
            break;
    }
    return ticks / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

// The CPU time the server has used so far: its postmaster, the backends that ended and those
// still running.
inline double serverCpuSeconds(test::PgConnection& superuser) {
    std::ifstream pidFile(superuser.value("SHOW data_directory") + "/postmaster.pid");
    std::string postmaster;
    std::getline(pidFile, postmaster);
    double total = cpuSeconds(postmaster, true);
    if (DIR* proc = ::opendir("/proc")) {
        while (const dirent* e = ::readdir(proc)) {
            const std::string pid = e->d_name;
            if (pid.find_first_not_of("0123456789") != std::string::npos)
                continue;
            std::ifstream in("/proc/" + pid + "/stat");
            std::string text((std::istreambuf_iterator<char>(in)),
                             std::istreambuf_iterator<char>());
            const auto close = text.rfind(')');
            if (close == std::string::npos)
                continue;
            std::istringstream fields(text.substr(close + 2));
            std::string state, parent;
            fields >> state >> parent;
            if (parent == postmaster)
                total += cpuSeconds(pid, false);
        }
        ::closedir(proc);
    }
    return total;
}

} // namespace mirv::bench
