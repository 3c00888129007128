// poll_bench [SECONDS] [tcp|modbus-tcp]: the station's CPU time per poll with its window
// showing the board, polling 20 simulated meters on a pseudo-terminal every 20 ms (or through
// a simulated gateway on 127.0.0.1, RTU over TCP or Modbus TCP), and its resident memory.
// POLL_BENCH_SHOT=FILE.png saves a picture of the window at the end; POLL_BENCH_TAB=N shows
// tab N (5: 通讯诊断) instead of the board while polling; POLL_BENCH_INTERVAL=MS polls every MS
// milliseconds instead of every 20.
#include "bench_support.h"
#include "create_database.h"
#include "database.h"
#include "dialogs.h"
#include "main_window.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTabWidget>
#include <QTcpServer>
#include <QTest>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <signal.h>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using mirv::bench::readFile;
using mirv::bench::residentKb;

namespace fs = std::filesystem;

// The time the scheduler counted this process's threads on a CPU, in seconds: exact to the
// nanosecond, where getrusage() samples at the timer tick and so overcharges a program that
// wakes on a timer in step with the tick.
double cpuSeconds() {
    double total = 0;
    for (const auto& task : fs::directory_iterator("/proc/self/task")) {
        std::ifstream stat(task.path() / "schedstat");
        long long onCpu = 0;
        if (stat >> onCpu)
            total += onCpu / 1e9;
    }
    return total;
}

// Runs the event loop as the station's own does for `ms`: QTest::qWait would sleep between its
// passes and count work the station never does.
void runEventLoop(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

struct NoDialogs : mirv::Dialogs {
    void message(const QString& text) override {
        std::fprintf(stderr, "message: %s\n", text.toStdString().c_str());
    }
    bool askYesNo(const QString&, const QString&) override { return false; }
    void endProgram() override {}
};

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 10;
    const std::string gateway = argc > 2 ? argv[2] : "";
    if (!gateway.empty() && gateway != "tcp" && gateway != "modbus-tcp") {
        std::fprintf(stderr, "usage: poll_bench [SECONDS] [tcp|modbus-tcp]\n");
        return 2;
    }
    char dirTemplate[] = "/tmp/mirv-poll-bench-XXXXXX";
    const fs::path dir = ::mkdtemp(dirTemplate);
    fs::create_directories(dir / "ports");
    const std::string db = (dir / "mirv.mdb").string();
    mirv::createDatabase(db, readFile(MIRV_SCHEMA));
    mirv::Database(db).exec(
        "UPDATE mirve SET timer = '20', minute = '1', com = 1, Settings = '19200', num = '20'");

    const std::string link = (dir / "ports" / "com1").string();
    std::string side = "--link", where = link;
    if (!gateway.empty()) {
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost, 0);
        where = "127.0.0.1:" + std::to_string(probe.serverPort());
        side = "--" + gateway + "-listen";
        std::ofstream(link) << gateway << "://" << where << "\n";
    }
    const pid_t sim = ::fork();
    if (sim == 0) {
        ::execl(MIRV_METER_SIM, MIRV_METER_SIM, side.c_str(), where.c_str(), "--meters", "1-20",
                "--baud", "19200", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    if (gateway.empty()) {
        while (!fs::exists(link))
            QTest::qWait(10);
    } else {
        QTest::qWait(500);
    }
    std::printf("line: %s\n",
                gateway.empty() ? "pseudo-terminal" : (gateway + "://" + where).c_str());

    NoDialogs dialogs;
    {
        mirv::MainWindow window(QString::fromStdString(dir.string()), dialogs);
        window.show();
        window.startUp();
        const int tab = qEnvironmentVariableIntValue("POLL_BENCH_TAB");
        window.tabs->setCurrentIndex(tab);
        std::printf("tab shown: %d\n", tab);
        // The measurement wants many polls: run faster than the line would allow, unless
        // POLL_BENCH_INTERVAL=MS asks for another interval.
        const int interval = qEnvironmentVariableIntValue("POLL_BENCH_INTERVAL");
        window.engine()->pollTimer().setInterval(interval > 0 ? interval : 20);
        if (!gateway.empty() &&
            !QTest::qWaitFor([&] { return window.engine()->port().gateway().connected(); }, 5000))
            std::fprintf(stderr, "the gateway did not connect\n");
        int polls = 0;
        QObject::connect(&window.engine()->pollTimer(), &mirv::PollTimer::timeout,
                         [&] { ++polls; });
        runEventLoop(1000);
        polls = 0;
        const double cpu0 = cpuSeconds();
        QElapsedTimer ran;
        ran.start();
        runEventLoop(seconds * 1000);
        const double cpu = cpuSeconds() - cpu0;
        const double due =
            static_cast<double>(ran.elapsed()) / window.engine()->pollTimer().interval();
        if (const char* shot = std::getenv("POLL_BENCH_SHOT"))
            window.grab().save(QString::fromLocal8Bit(shot));
        int answered = 0;
        for (int n = 1; n <= 20; ++n)
            answered += window.engine()->board().answered(n);
        std::printf("polls: %d in %.2f s (%.1f %% of those due), meters answering at the end: "
                    "%d of 20\n",
                    polls, ran.elapsed() / 1000.0, 100.0 * polls / due, answered);
        std::printf("station CPU per poll: %.1f us (goal < 200)\n", cpu / polls * 1e6);
        std::printf("station RSS while polling: %.1f MB (goal < 40)\n", residentKb() / 1024.0);

        // A record pass while another program holds the database for 10 s, then one after.
        using Clock = std::chrono::steady_clock;
        double longestStallMs = 0;
        auto last = Clock::now();
        QTimer beat;
        QObject::connect(&beat, &QTimer::timeout, [&] {
            const auto now = Clock::now();
            longestStallMs = std::max(
                longestStallMs, std::chrono::duration<double, std::milli>(now - last).count());
            last = now;
        });
        window.engine()->pollTimer().setInterval(
            window.engine()->pollTimer().interval()); // keeps polling meanwhile
        beat.start(10);
        {
            mirv::Database holder(db);
            holder.exec("BEGIN IMMEDIATE");
            window.engine()->logger().recordAll();
            runEventLoop(10000);
            holder.exec("COMMIT");
        }
        window.engine()->logger().recordAll();
        while (!window.engine()->historyWriter().waitIdle(std::chrono::milliseconds(0)))
            runEventLoop(10);
        runEventLoop(100);
        beat.stop();
        mirv::Database reader(db);
        mirv::Statement count(reader, "SELECT count(*) FROM Historydata");
        const long long rows = count.step() ? count.integer(0) : -1;
        std::printf("10 s lock across a record pass: longest event-loop stall %.1f ms "
                    "(goal < 250), rows written %lld of 40, lost %lld\n",
                    longestStallMs, rows, 40 - rows);
    }
    ::kill(sim, SIGTERM);
    ::waitpid(sim, nullptr, 0);
    fs::remove_all(dir);
    return 0;
}
