// mqtt_bench [SECONDS] [INTERVAL]: the engine's CPU time per poll (all its threads) with MQTT off
// and then on, polling 20 simulated meters on a pseudo-terminal every 20 ms and publishing each
// meter's state every INTERVAL seconds (default 10, as mqtt.conf) to a mosquitto broker the
// bench starts; and the longest gap between two answers of meter 1 in each run, the broker
// killed and restarted in the middle of the second.
#include "bench_support.h"
#include "create_database.h"
#include "database.h"
#include "mosquitto_broker.h"
#include "start_mqtt.h"
#include "station_engine.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <thread>

namespace {

namespace fs = std::filesystem;

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

void runEventLoop(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

struct Run {
    int polls = 0;
    double cpu = 0;
    double longestGapMs = 0;
    void add(const Run& r) {
        polls += r.polls;
        cpu += r.cpu;
        longestGapMs = std::max(longestGapMs, r.longestGapMs);
    }
};

// Polls for `seconds`; `middle` runs halfway through.
Run measure(mirv::StationEngine& engine, int seconds, const std::function<void()>& middle) {
    Run run;
    if (seconds <= 0)
        return run;
    QElapsedTimer sinceAnswer;
    sinceAnswer.start();
    const auto answers = QObject::connect(&engine, &mirv::StationFeed::rowChanged, [&](int n) {
        if (n != 1)
            return;
        run.longestGapMs = std::max(run.longestGapMs, sinceAnswer.nsecsElapsed() / 1e6);
        sinceAnswer.restart();
    });
    const auto polls =
        QObject::connect(&engine.pollTimer(), &mirv::PollTimer::timeout, [&] { ++run.polls; });
    const double cpu0 = cpuSeconds();
    runEventLoop(seconds * 500);
    if (middle)
        middle();
    runEventLoop(seconds * 500);
    run.cpu = cpuSeconds() - cpu0;
    QObject::disconnect(answers);
    QObject::disconnect(polls);
    return run;
}

void print(const char* name, const Run& r) {
    std::printf("MQTT %s: %d polls, CPU per poll %.1f us, longest gap between meter 1's answers "
                "%.1f ms\n",
                name, r.polls, r.cpu / r.polls * 1e6, r.longestGapMs);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 20;
    const int interval = argc > 2 ? std::atoi(argv[2]) : 10;
    char dirTemplate[] = "/tmp/mirv-mqtt-bench-XXXXXX";
    const fs::path dir = ::mkdtemp(dirTemplate);
    fs::create_directories(dir / "ports");
    const std::string db = (dir / "mirv.mdb").string();
    mirv::createDatabase(db, mirv::bench::readFile(MIRV_SCHEMA));
    mirv::Database(db).exec(
        "UPDATE mirve SET timer = '20', minute = '1', com = 1, Settings = '19200', num = '20'");
    const std::string link = (dir / "ports" / "com1").string();
    mirv::test::ChildProcess sim(
        {MIRV_METER_SIM, "--link", link, "--meters", "1-20", "--baud", "19200"});
    mirv::test::waitForPath(link);
    {
        mirv::test::MosquittoBroker broker;
        std::ofstream(dir / "mqtt.conf")
            << "host = 127.0.0.1\nport = " << broker.port << "\ninterval = " << interval
            << "\nuser = " << broker.user << "\npassword_file = " << broker.passwordFile << "\n";
        mirv::StationEngine engine(QString::fromStdString(dir.string()));
        engine.start();
        engine.pollTimer().setInterval(20);
        runEventLoop(1000);
        // Off and on in turns, so that the load of the rest of the machine falls on both.
        const QString folder = QString::fromStdString(dir.string());
        Run off, on;
        for (int round = 0; round < 4; ++round) {
            off.add(measure(engine, seconds / 4, {}));
            const auto mqtt = mirv::startMqtt(engine, folder);
            runEventLoop(1000); // connected, the discovery sent
            on.add(measure(engine, seconds / 4, {}));
        }
        std::printf("each meter's state every %d s\n", interval);
        print("off", off);
        print("on ", on);
        std::printf("CPU per poll with MQTT on: %+.1f %% (goal < 10 %%)\n",
                    100.0 * (on.cpu / on.polls) / (off.cpu / off.polls) - 100.0);
        {
            const auto mqtt = mirv::startMqtt(engine, folder);
            runEventLoop(1000);
            // Killed and restarted from another thread: the station's event loop runs on.
            const Run restart = measure(engine, 10, [&] {
                std::atomic<bool> done{false};
                std::thread outage([&] {
                    broker.kill();
                    std::this_thread::sleep_for(std::chrono::seconds(3));
                    broker.start();
                    done = true;
                });
                while (!done)
                    runEventLoop(20);
                outage.join();
            });
            print("on, the broker restarted", restart);
        }
        engine.stop();
        engine.finish();
    }
    sim.stop();
    fs::remove_all(dir);
    return 0;
}
