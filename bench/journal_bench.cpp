// journal_bench [SECONDS] [STORM_POLL_MS]: what the event journal costs the station.
//  (a) The engine polls 20 simulated meters on a pseudo-terminal every 20 ms for SECONDS: its
//      CPU time per poll (all threads); then the journal's own share of it, measured alone on
//      the board's rows: the event watch's look at each answer and the board colour it gives.
//      The journal cannot be switched off, so "off" is the poll less that share. A logging pass
//      of 20 rows through the history writer alone, and with a storm minute's journal rows.
//  (b) An alarm storm: the same meters changing at random between their polls (silent or
//      answering, status flags on or off) through the simulator's control FIFO, for an hour of
//      the engine's clock at STORM_POLL_MS a poll (default 1000): the Events rows written
//      against the transitions the on and off delays let through, per meter and kind.
#include "bench_support.h"
#include "child_process.h"
#include "create_database.h"
#include "database.h"
#include "day_summary_store.h"
#include "event_watch.h"
#include "history_writer.h"
#include "station_engine.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr int kMeters = 20;

// The time the scheduler counted this process's threads on a CPU, in seconds; with
// `mainOnly` the event thread's alone.
double cpuSeconds(bool mainOnly = false) {
    double total = 0;
    const std::string self = std::to_string(::getpid());
    for (const auto& task : fs::directory_iterator("/proc/self/task")) {
        if (mainOnly && task.path().filename() != self)
            continue;
        std::ifstream stat(task.path() / "schedstat");
        long long onCpu = 0;
        if (stat >> onCpu)
            total += onCpu / 1e9;
    }
    return total;
}

double threadCpuSeconds() {
    timespec t{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

void runEventLoop(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

double medianMs(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

// The status flags as meter-sim names them and the board writes them.
const std::pair<const char*, const char*> kFlags[] = {{"excite", "励磁报警"},
                                                      {"electrode", "电极报警"},
                                                      {"empty-pipe", "空管报警"},
                                                      {"upper", "上限报警"},
                                                      {"lower", "下限报警"}};
const char* const kKinds[] = {"silent",           "alarm-excite", "alarm-electrode",
                              "alarm-empty-pipe", "alarm-upper",  "alarm-lower"};

// How often a condition seen poll by poll may change its alarm: it comes after `on`
// observations in a row with it and goes after `off` in a row without it.
int transitionsAllowed(const std::vector<bool>& seen, int on, int off) {
    bool active = false;
    int run = 0, changes = 0;
    bool last = false;
    for (bool present : seen) {
        run = present == last ? run + 1 : 1;
        last = present;
        if (present != active && run >= (present ? on : off)) {
            active = present;
            ++changes;
        }
    }
    return changes;
}

// The writer's time for a logging pass of 20 rows, with `journalRows` events (and their alarm
// states) queued just before it.
double passMs(mirv::HistoryWriter& writer, const mirv::BoardRow& row, int journalRows, int pass) {
    std::vector<mirv::EventRow> events;
    std::vector<mirv::AlarmRow> states;
    for (int i = 0; i < journalRows; ++i) {
        events.push_back({"2026-03-01 00:00:00", "2026-02-28T16:00:00Z", i % kMeters + 1, "silent",
                          i % 2 ? "end" : "begin", "仪表1通讯中断", "", ""});
        states.push_back({i % kMeters + 1, "silent", "active-unacknowledged", 0,
                          "2026-03-01 00:00:00", "2026-03-01 00:00:00", "", ""});
    }
    std::vector<mirv::HistoryRecord> records;
    char at[32];
    std::snprintf(at, sizeof at, "2026-03-01 %02d:%02d:00", 10 + pass / 60, pass % 60);
    for (int n = 1; n <= kMeters; ++n)
        records.push_back(mirv::recordOf(n, row, at));
    QElapsedTimer took;
    took.start();
    if (journalRows > 0)
        writer.writeJournal(std::move(events), std::move(states));
    writer.write(std::move(records));
    writer.waitIdle(10s);
    return took.nsecsElapsed() / 1e6;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 20;
    const int stormPollMs = argc > 2 ? std::atoi(argv[2]) : 1000;
    char dirTemplate[] = "/tmp/mirv-journal-bench-XXXXXX";
    const fs::path dir = ::mkdtemp(dirTemplate);
    fs::create_directories(dir / "ports");
    const std::string db = (dir / "mirv.mdb").string();
    mirv::createDatabase(db, mirv::bench::readFile(MIRV_SCHEMA));
    mirv::Database(db).exec(
        "UPDATE mirve SET timer = '20', minute = '1', com = 1, Settings = '19200', num = '20'");
    const std::string link = (dir / "ports" / "com1").string();
    const std::string control = (dir / "sim-control").string();
    mirv::test::ChildProcess sim({MIRV_METER_SIM, "--link", link, "--meters", "1-20", "--baud",
                                  "19200", "--control", control});
    mirv::test::waitForPath(control);

    // The engine's clock moves one poll interval of the storm with each poll; its minute is as
    // many real polls of 20 ms, so that a logging pass comes each minute of that clock.
    long long ticks = 0;
    const QDateTime base(QDate(2026, 3, 1), QTime(0, 0, 0));
    mirv::EngineClock clock;
    clock.now = [&] { return base.addMSecs(ticks * stormPollMs); };
    clock.minuteMs = std::max(50, 60000 / stormPollMs * 20);
    mirv::StationEngine engine(QString::fromStdString(dir.string()), clock);
    engine.start();
    engine.pollTimer().setInterval(20);
    QObject::connect(&engine.pollTimer(), &mirv::PollTimer::timeout, [&] { ++ticks; });
    runEventLoop(1000);

    // (a) The poll, and the journal's share of it.
    const long long ticks0 = ticks;
    const double cpu0 = cpuSeconds(), mainCpu0 = cpuSeconds(true);
    runEventLoop(seconds * 1000);
    const double pollUs = (cpuSeconds() - cpu0) / static_cast<double>(ticks - ticks0) * 1e6;
    const double pollMainUs =
        (cpuSeconds(true) - mainCpu0) / static_cast<double>(ticks - ticks0) * 1e6;
    std::vector<mirv::BoardRow> boardRows;
    for (int n = 1; n <= kMeters; ++n)
        boardRows.push_back(engine.row(n));
    mirv::EventWatch watch;
    int writes = 0;
    watch.now = [] { return mirv::EventWatch::Stamp{"2026-03-01 00:00:00", "2026-03-01T00:00Z"}; };
    watch.write = [&](std::vector<mirv::EventRow>, std::vector<mirv::AlarmRow>) { ++writes; };
    constexpr int kRounds = 20000;
    int shown = 0;
    const double watch0 = threadCpuSeconds();
    for (int round = 0; round < kRounds; ++round)
        for (int n = 1; n <= kMeters; ++n) {
            watch.polled(n, true, boardRows[static_cast<std::size_t>(n - 1)]);
            // The engine asks for the meter's colour before and after each poll.
            shown += static_cast<int>(watch.meterAlarm(n)) + static_cast<int>(watch.meterAlarm(n));
        }
    const double watchUs = (threadCpuSeconds() - watch0) / (kRounds * kMeters) * 1e6;
    std::printf("poll: %lld polls, engine CPU per poll %.1f us (event thread %.1f us) with the "
                "journal; the journal's own share %.3f us (%d writes, %s)\n",
                ticks - ticks0, pollUs, pollMainUs, watchUs, writes,
                shown == 0 ? "no meter in alarm" : "meters in alarm");
    std::printf("poll with the journal on against off: %+.2f %% (goal <= 5 %%)\n",
                100.0 * watchUs / (pollUs - watchUs));

    // (b) The storm.
    const int fifo = ::open(control.c_str(), O_WRONLY);
    std::mt19937 random(31);
    std::bernoulli_distribution change(0.5);
    std::uniform_int_distribution<unsigned> flagBits(0, 31);
    std::vector<bool> silent(kMeters, false);
    std::vector<unsigned> flags(kMeters, 0);
    long long linesSent = 0;
    std::map<std::pair<int, int>, std::vector<bool>> seen; // (meter, kind) -> observations
    const auto observe = QObject::connect(&engine, &mirv::StationFeed::rowChanged, [&](int n) {
        const mirv::BoardRow& r = engine.row(n);
        const bool missed = std::all_of(r.begin(), r.end(), [](auto& t) { return t.empty(); });
        seen[{n, 0}].push_back(missed);
        if (missed)
            return; // a missed poll tells nothing of the flags
        for (int k = 1; k <= 5; ++k)
            seen[{n, k}].push_back(r[mirv::StatusCell].find(kFlags[k - 1].second) !=
                                   std::string::npos);
    });
    // A round of the 20 meters: each changes its silence and its flags at random.
    const auto storm = QObject::connect(&engine.pollTimer(), &mirv::PollTimer::timeout, [&] {
        if (ticks % kMeters != 0)
            return;
        std::string lines;
        for (int m = 1; m <= kMeters; ++m) {
            const auto i = static_cast<std::size_t>(m - 1);
            if (change(random)) {
                silent[i] = !silent[i];
                lines += (silent[i] ? "silent " : "answer ") + std::to_string(m) + "\n";
            }
            if (change(random)) {
                flags[i] = flagBits(random);
                std::string names;
                for (int k = 0; k < 5; ++k)
                    if (flags[i] >> k & 1)
                        names += (names.empty() ? "" : "+") + std::string(kFlags[k].first);
                lines +=
                    "alarm " + std::to_string(m) + ":" + (names.empty() ? "none" : names) + "\n";
            }
        }
        linesSent += std::count(lines.begin(), lines.end(), '\n');
        if (::write(fifo, lines.data(), lines.size()) < 0)
            std::perror("journal_bench: control");
    });
    const long long stormTicks = 3600000LL / stormPollMs;
    const long long stormStart = ticks;
    const double stormCpu0 = cpuSeconds(), stormMainCpu0 = cpuSeconds(true);
    QElapsedTimer took;
    took.start();
    while (ticks - stormStart < stormTicks)
        runEventLoop(200);
    QObject::disconnect(storm);
    QObject::disconnect(observe);
    const double stormSeconds = took.elapsed() / 1000.0;
    const double stormPollUs =
        (cpuSeconds() - stormCpu0) / static_cast<double>(ticks - stormStart) * 1e6;
    const double stormMainUs =
        (cpuSeconds(true) - stormMainCpu0) / static_cast<double>(ticks - stormStart) * 1e6;
    engine.stop(10s);
    engine.finish();
    ::close(fifo);

    std::map<std::pair<int, int>, long long> written;
    {
        mirv::Database d(db);
        mirv::Statement q(d, "SELECT MeterID, Kind, count(*) FROM Events WHERE MeterID <> 0 AND "
                             "Phase IN ('begin', 'end', 'repeat') GROUP BY 1, 2");
        while (q.step())
            for (int k = 0; k < 6; ++k)
                if (q.text(1) == kKinds[k])
                    written[{static_cast<int>(q.integer(0)), k}] = q.integer(2);
    }
    long long rows = 0, allowed = 0, toggles = 0, over = 0;
    for (int m = 1; m <= kMeters; ++m)
        for (int k = 0; k < 6; ++k) {
            const auto& s = seen[{m, k}];
            for (std::size_t i = 1; i < s.size(); ++i)
                toggles += s[i] != s[i - 1];
            const int may = k == 0 ? transitionsAllowed(s, 3, 3) : transitionsAllowed(s, 1, 3);
            const long long w = written[{m, k}];
            rows += w;
            allowed += may;
            if (w > may) {
                ++over;
                std::printf("meter %d %s: %lld rows for %d transitions\n", m, kKinds[k], w, may);
            }
        }
    std::printf("storm: 20 meters for an hour of the engine's clock (%lld polls of %d ms), "
                "%lld control lines, %.1f s\n",
                ticks - stormStart, stormPollMs, linesSent, stormSeconds);
    std::printf("storm: observations toggled %lld times; the delays let through %lld "
                "transitions; Events rows written %lld (%.1f per meter-hour); (meter, kind) with "
                "more rows than transitions: %lld\n",
                toggles, allowed, rows, static_cast<double>(rows) / kMeters, over);
    std::printf("storm: engine CPU per poll %.1f us (event thread %.1f us), %+.1f %% against the "
                "quiet poll\n",
                stormPollUs, stormMainUs, 100.0 * stormPollUs / pollUs - 100.0);

    // A logging pass, alone and with a storm minute's journal rows queued with it, in turns.
    {
        const std::string passDb = (dir / "pass.mdb").string();
        mirv::createDatabase(passDb, mirv::bench::readFile(MIRV_SCHEMA));
        mirv::HistoryWriter writer(passDb);
        const int perMinute = static_cast<int>((rows + 59) / 60);
        // As the engine's writer: each write's transaction brings the day summaries up to date.
        writer.beforeCommit = [](mirv::Database& d) { mirv::addNewRowsToDaySummaries(d); };
        std::vector<double> alone, withJournal, event;
        double eventCpu = 0;
        for (int pass = 0; pass < 60; pass += 2) {
            alone.push_back(passMs(writer, boardRows[0], 0, pass));
            withJournal.push_back(passMs(writer, boardRows[0], perMinute, pass + 1));
            QElapsedTimer one;
            one.start();
            const double cpuBefore = cpuSeconds();
            writer.writeJournal({{"2026-03-01 00:00:00", "2026-02-28T16:00:00Z", 1, "silent",
                                  "begin", "仪表1通讯中断", "", ""}},
                                {});
            writer.waitIdle(10s);
            eventCpu += cpuSeconds() - cpuBefore;
            event.push_back(one.nsecsElapsed() / 1e6);
        }
        writer.finish();
        const double a = medianMs(alone), j = medianMs(withJournal);
        std::printf("logging pass of 20 rows: %.2f ms alone, %.2f ms with a storm minute's %d "
                    "journal rows (%+.1f %%); with the journal quiet it adds no row to a pass\n",
                    a, j, perMinute, 100.0 * j / a - 100.0);
        std::printf("one journal event alone on the writer: %.2f ms, %.0f us of CPU (a "
                    "transaction of its own)\n",
                    medianMs(event), eventCpu / static_cast<double>(event.size()) * 1e6);
    }
    sim.stop();
    fs::remove_all(dir);
    return over == 0 ? 0 : 1;
}
