// The publisher against a real mosquitto broker the test starts, read back by mosquitto_sub:
// the dashboard's discovery, the states against the board, availability, the last will of a
// killed service, a broker that restarts, and a file that cannot be used.
#include "child_process.h"
#include "database.h"
#include "event_journal.h"
#include "mosquitto_broker.h"
#include "program_folder.h"
#include "start_mqtt.h"
#include "station_engine.h"
#include "temp_dir.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <sstream>

namespace mirv {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

std::string fileText(const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

QJsonObject json(const std::string& text) {
    return QJsonDocument::fromJson(QByteArray::fromStdString(text)).object();
}

struct Station {
    test::ProgramFolder folder;
    std::unique_ptr<test::ChildProcess> sim;
    std::unique_ptr<StationEngine> engine;
    std::unique_ptr<MqttPublisher> mqtt;

    Station(const std::string& num, const std::vector<std::string>& simOptions,
            const std::string& conf) {
        folder.exec("UPDATE mirve SET (\"timer\", \"minute\", \"com\", \"Settings\", \"num\") = "
                    "('200', '1', 1, '9600', '" +
                    num + "')");
        const std::string link = folder.path() + "/ports/com1";
        std::vector<std::string> argv{MIRV_METER_SIM, "--link", link};
        argv.insert(argv.end(), simOptions.begin(), simOptions.end());
        sim = std::make_unique<test::ChildProcess>(argv);
        EXPECT_TRUE(test::waitForPath(link));
        std::ofstream(folder.path() + "/mqtt.conf") << conf;
        engine = std::make_unique<StationEngine>(QString::fromStdString(folder.path()));
        EXPECT_EQ(engine->start(), "");
        mqtt = startMqtt(*engine, QString::fromStdString(folder.path()));
    }
    std::string identity() const { return fileText(folder.path() + "/uplink.id").substr(0, 32); }
};

std::string conf(const test::MosquittoBroker& b, bool tls) {
    std::string text = "host = 127.0.0.1\nprefix = plant/west\ninterval = 1\nqos = 1\n"
                       "user = " +
                       b.user + "\npassword_file = " + b.passwordFile + "\n";
    if (tls)
        text += "port = " + std::to_string(b.tlsPort) + "\nca_file = " + b.caFile + "\n";
    else
        text += "port = " + std::to_string(b.port) + "\n";
    return text;
}

// Spins the station's event loop until `done` holds for the broker's retained messages.
std::map<std::string, std::string>
retainedWhen(const test::MosquittoBroker& broker, const std::string& filter,
             const std::function<bool(const std::map<std::string, std::string>&)>& done) {
    std::map<std::string, std::string> seen;
    (void)QTest::qWaitFor(
        [&] {
            seen = broker.retained(filter);
            return done(seen);
        },
        30000);
    return seen;
}

TEST(MqttBroker, DiscoveryAndStatesOverTlsWithAPassword) {
    test::MosquittoBroker broker;
    Station s("3", {"--meters", "1-3", "--alarm", "2:excite"}, conf(broker, true));
    ASSERT_NE(s.mqtt, nullptr);
    const std::string id = s.identity();
    ASSERT_EQ(id.size(), 32u);

    const auto configs =
        retainedWhen(broker, "homeassistant/#", [](auto& m) { return m.size() >= 46; });
    ASSERT_EQ(configs.size(), 46u); // the station, and per meter ten readings and five alarms
    const struct {
        const char* key;
        const char* deviceClass;
        const char* unit;
        const char* stateClass;
    } sensors[] = {
        {"flow", "volume_flow_rate", "m³/h", "measurement"},
        {"velocity", "speed", "m/s", "measurement"},
        {"inlet_temperature", "temperature", "°C", "measurement"},
        {"outlet_temperature", "temperature", "°C", "measurement"},
        {"forward_total", "water", "m³", "total_increasing"},
        {"reverse_total", "water", "m³", "total_increasing"},
        {"heat_power", "power", "kW", "measurement"},
        {"cold_power", "power", "kW", "measurement"},
        {"heat_total", "energy", "kWh", "total_increasing"},
        {"cold_total", "energy", "kWh", "total_increasing"},
    };
    for (int n = 1; n <= 3; ++n) {
        const std::string node = id + "_" + std::to_string(n);
        for (const auto& q : sensors) {
            const std::string topic = "homeassistant/sensor/" + node + "/" + q.key + "/config";
            ASSERT_TRUE(configs.count(topic)) << topic;
            const QJsonObject c = json(configs.at(topic));
            EXPECT_EQ(c["unique_id"].toString().toStdString(), node + "_" + q.key);
            EXPECT_EQ(c["device_class"].toString().toStdString(), q.deviceClass);
            EXPECT_EQ(c["unit_of_measurement"].toString().toStdString(), q.unit);
            EXPECT_EQ(c["state_class"].toString().toStdString(), q.stateClass);
            EXPECT_EQ(c["state_topic"].toString().toStdString(),
                      "plant/west/meter/" + std::to_string(n) + "/state");
            EXPECT_TRUE(c["value_template"].toString().contains(q.key));
            const QJsonObject device = c["device"].toObject();
            EXPECT_EQ(device["identifiers"].toArray().at(0).toString().toStdString(), node);
            EXPECT_EQ(device["via_device"].toString().toStdString(), id);
            EXPECT_TRUE(device["name"].toString().contains(QString::number(n)));
            EXPECT_EQ(c["availability"].toArray().size(), 2);
        }
        const QJsonObject alarm =
            json(configs.at("homeassistant/binary_sensor/" + node + "/excitation_alarm/config"));
        EXPECT_EQ(alarm["device_class"].toString(), "problem");
    }
    const QJsonObject station =
        json(configs.at("homeassistant/binary_sensor/" + id + "/online/config"));
    EXPECT_EQ(station["device"].toObject()["identifiers"].toArray().at(0).toString().toStdString(),
              id);
    EXPECT_EQ(station["state_topic"].toString(), "plant/west/status");

    // With the board still, the retained states are what it shows.
    ASSERT_TRUE(QTest::qWaitFor([&] { return s.engine->board().answered(3); }, 10000));
    s.engine->stop(0ms);
    const auto matches = [&](const std::map<std::string, std::string>& m) {
        for (int n = 1; n <= 3; ++n) {
            const auto found = m.find("plant/west/meter/" + std::to_string(n) + "/state");
            if (found == m.end())
                return false;
            const QJsonObject state = json(found->second);
            const BoardRow& row = s.engine->board().row(n);
            if (state["flow"].toDouble() != std::stod(row[FlowRateCell]) ||
                state["heat_total"].toDouble() != std::stod(row[HeatTotalCell]) ||
                state["forward_total"].toDouble() != std::stod(row[ForwardTotalCell]) ||
                state["inlet_temperature"].toDouble() != std::stod(row[InletTempCell]))
                return false;
        }
        return true;
    };
    const auto states = retainedWhen(broker, "plant/west/#", matches);
    ASSERT_TRUE(matches(states));
    for (int n = 1; n <= 3; ++n) {
        const QJsonObject state =
            json(states.at("plant/west/meter/" + std::to_string(n) + "/state"));
        EXPECT_EQ(state["excitation_alarm"].toBool(), n == 2) << n;
        EXPECT_FALSE(state["lower_limit_alarm"].toBool());
    }
    EXPECT_EQ(states.at("plant/west/status"), "online");
}

TEST(MqttBroker, SilenceBrokerRestartAndALoweredMeterCount) {
    test::MosquittoBroker broker;
    Station s("3", {"--meters", "1,2"}, conf(broker, false));
    ASSERT_NE(s.mqtt, nullptr);
    const auto availability = [](const std::string& first, const std::string& third) {
        return [=](const std::map<std::string, std::string>& m) {
            const auto one = m.find("plant/west/meter/1/availability");
            const auto three = m.find("plant/west/meter/3/availability");
            return one != m.end() && one->second == first && three != m.end() &&
                   three->second == third;
        };
    };
    ASSERT_TRUE(availability("online", "offline")(
        retainedWhen(broker, "plant/west/#", availability("online", "offline"))));

    // The broker goes away and comes back without its retained messages: the station says so
    // once per change and puts everything back.
    QSignalSpy status(s.mqtt.get(), &MqttPublisher::statusChanged);
    broker.kill();
    ASSERT_TRUE(QTest::qWaitFor([&] { return status.count() >= 2; }, 10000));
    QTest::qWait(3500); // further attempts fail alike
    broker.start();
    ASSERT_TRUE(QTest::qWaitFor([&] { return status.count() >= 3; }, 30000));
    ASSERT_EQ(status.count(), 3);
    EXPECT_TRUE(status.at(0).at(0).toString().startsWith("connection to 127.0.0.1:"));
    EXPECT_TRUE(status.at(1).at(0).toString().contains("unreachable"));
    EXPECT_TRUE(status.at(2).at(0).toString().startsWith("connected to 127.0.0.1:"));
    const auto back = retainedWhen(broker, "#", [](auto& m) { return m.size() >= 50; });
    EXPECT_EQ(back.at("plant/west/status"), "online");
    EXPECT_EQ(back.count("plant/west/meter/3/state"), 0u); // never answered

    // A meter that goes silent goes offline.
    s.sim.reset();
    ASSERT_TRUE(availability("offline", "offline")(
        retainedWhen(broker, "plant/west/#", availability("offline", "offline"))));

    // Down to one meter: the others leave the dashboard.
    s.engine->applyOnSave = true;
    s.engine->saveSettings(SettingsUpdate{"200", "1", "9600", "1", 1, std::nullopt});
    const auto one =
        retainedWhen(broker, "homeassistant/#", [](auto& m) { return m.size() == 16; });
    ASSERT_EQ(one.size(), 16u);
    const std::string id = s.identity();
    EXPECT_TRUE(one.count("homeassistant/sensor/" + id + "_1/heat_total/config"));
    EXPECT_FALSE(one.count("homeassistant/sensor/" + id + "_2/heat_total/config"));
}

// The events topics as a live mosquitto_sub reads them, each message a line "topic payload".
struct EventReader {
    std::string file;
    test::ChildProcess sub;

    EventReader(const test::MosquittoBroker& b, const std::string& path) : file(path) {
        const std::vector<std::string> login{"-h", "127.0.0.1", "-p", std::to_string(b.port),
                                             "-u", b.user,      "-P", b.password};
        std::vector<std::string> argv{
            "/usr/bin/mosquitto_sub",   "-q", "1", "-F", "%t %p", "-t", "plant/west/events", "-t",
            "plant/west/meter/+/events"};
        argv.insert(argv.end(), login.begin(), login.end());
        sub.start(test::withLog(argv, file, true));
        // Subscribed once a message of the test's own comes through.
        std::vector<std::string> hello{"/usr/bin/mosquitto_pub", "-t", "plant/west/events", "-m",
                                       "hello"};
        hello.insert(hello.end(), login.begin(), login.end());
        EXPECT_TRUE(QTest::qWaitFor(
            [&] {
                (void)test::runProgram(hello);
                return fileText(file).find("plant/west/events hello\n") != std::string::npos;
            },
            10000));
    }

    // The events that came on `topic`, in their order.
    std::vector<QJsonObject> on(const std::string& topic) const {
        std::vector<QJsonObject> events;
        std::istringstream lines(fileText(file));
        for (std::string line; std::getline(lines, line);)
            if (line.rfind(topic + " {", 0) == 0)
                events.push_back(json(line.substr(topic.size() + 1)));
        return events;
    }
};

TEST(MqttBroker, EventsGoOutAndWaitInOrderWhileTheBrokerIsAway) {
    test::MosquittoBroker broker;
    test::TempDir dir;
    auto reader = std::make_unique<EventReader>(broker, dir.str() + "/before");
    Station s("2", {"--meters", "1"}, conf(broker, false));
    ASSERT_NE(s.mqtt, nullptr);

    // Meter 2 never answers: its silence goes out on both topics as the journal keeps it.
    const auto silent = [&](const std::string& topic) {
        for (const QJsonObject& e : reader->on(topic))
            if (e["kind"] == "silent")
                return e;
        return QJsonObject();
    };
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return !silent("plant/west/meter/2/events").isEmpty(); }, 30000))
        << fileText(reader->file);
    std::optional<EventRow> kept;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            Database db(s.folder.databasePath());
            kept = lastEvent(db, "silent");
            return kept.has_value();
        },
        10000));
    const QJsonObject sent = silent("plant/west/events");
    EXPECT_EQ(sent, silent("plant/west/meter/2/events"));
    EXPECT_EQ(sent.size(), 8);
    EXPECT_EQ(sent["local_time"].toString().toStdString(), kept->localTime);
    EXPECT_EQ(sent["utc_time"].toString().toStdString(), kept->utcTime);
    EXPECT_EQ(sent["meter"].toInt(), 2);
    EXPECT_EQ(sent["phase"].toString().toStdString(), kept->phase);
    EXPECT_EQ(sent["text"].toString().toStdString(), kept->text);
    EXPECT_EQ(sent["detail"].toString().toStdString(), kept->detail);
    EXPECT_EQ(sent["user"].toString().toStdString(), kept->user);

    // The broker goes away: the line says so once; of the events meanwhile the latest two wait.
    reader.reset();
    s.mqtt->eventLimit = 2;
    QSignalSpy status(s.mqtt.get(), &MqttPublisher::statusChanged);
    QSignalSpy dropped(s.mqtt.get(), &MqttPublisher::eventsDropped);
    QSignalSpy line(s.engine.get(), &StationFeed::messageChanged);
    const QString before = s.engine->message();
    const QString away = QString::fromStdString(
        "MQTT服务器 127.0.0.1:" + std::to_string(broker.port) + " 无法连接,正在重试");
    broker.kill();
    ASSERT_TRUE(QTest::qWaitFor([&] { return s.engine->message() == away; }, 10000));
    for (const char* text : {"一", "二", "三"})
        s.engine->noteStationEvent("test", text, "", "note");
    // The first retry failed as well; the next one is two seconds away.
    ASSERT_TRUE(QTest::qWaitFor([&] { return status.count() >= 2; }, 10000));
    broker.start();
    EventReader after(broker, dir.str() + "/after");
    ASSERT_EQ(s.engine->message(), away) << "the station was back before the reader";
    const auto tests = [&] {
        std::vector<std::string> texts;
        for (const QJsonObject& e : after.on("plant/west/events"))
            if (e["kind"] == "test")
                texts.push_back(e["text"].toString().toStdString());
        return texts;
    };
    ASSERT_TRUE(QTest::qWaitFor([&] { return tests().size() >= 2; }, 30000))
        << fileText(after.file);
    EXPECT_EQ(tests(), (std::vector<std::string>{"二", "三"}));
    ASSERT_EQ(dropped.count(), 1);
    EXPECT_EQ(dropped.at(0).at(0).toULongLong(), 1u);
    ASSERT_TRUE(QTest::qWaitFor([&] { return s.engine->message() == before; }, 10000));
    std::vector<QString> said;
    for (const auto& args : line)
        said.push_back(args.at(0).toString());
    EXPECT_EQ(said, (std::vector<QString>{away, before}));
    EXPECT_TRUE(after.on("plant/west/meter/0/events").empty()); // the station is no meter
}

// A broker that refuses the password or whose certificate does not check out is tried again
// and again, and says why.
TEST(MqttBroker, RefusedLoginAndUntrustedCertificateAreRetried) {
    test::MosquittoBroker broker, stranger;
    MqttConfig wrongPassword;
    wrongPassword.host = "127.0.0.1";
    wrongPassword.port = broker.port;
    wrongPassword.user = broker.user;
    wrongPassword.password = "wrong";
    MqttConfig untrusted = wrongPassword;
    untrusted.port = broker.tlsPort;
    untrusted.password = broker.password;
    untrusted.caFile = stranger.caFile;
    const struct {
        MqttConfig config;
        const char* why;
        BrokerTrouble trouble;
    } cases[] = {
        {wrongPassword, "refused the connection: Connection Refused: not authorised.",
         BrokerTrouble::LoginRefused},
        {untrusted, "certificate verify failed", BrokerTrouble::CertificateRefused},
    };
    for (const auto& c : cases) {
        std::mutex m;
        std::vector<std::pair<BrokerTrouble, std::string>> states;
        BrokerSession::Events events;
        events.state = [&](BrokerTrouble trouble, const std::string& text) {
            std::lock_guard lock(m);
            states.emplace_back(trouble, text);
        };
        BrokerSession session(c.config, "test", "t/status", events);
        ASSERT_TRUE(QTest::qWaitFor(
            [&] {
                std::lock_guard lock(m);
                return states.size() >= 2;
            },
            10000));
        std::lock_guard lock(m);
        EXPECT_EQ(states[0].first, c.trouble);
        EXPECT_NE(states[0].second.find(c.why), std::string::npos) << states[0].second;
        EXPECT_EQ(states[1], states[0]);
    }
}

// The service killed outright: the broker says offline for it; stopped, it says so itself.
TEST(MqttBroker, KilledServiceLeavesItsLastWill) {
    test::MosquittoBroker broker;
    test::ProgramFolder folder;
    const fs::path stationd = fs::path(folder.path()) / "mirv-stationd";
    fs::copy_file(MIRV_STATIOND, stationd);
    std::ofstream(folder.path() + "/mqtt.conf") << conf(broker, false);
    const std::string log = folder.path() + "/log";
    test::ChildProcess station(test::withLog({stationd.string()}, log));
    const auto status = [&](const char* text) {
        return [=](const std::map<std::string, std::string>& m) {
            const auto found = m.find("plant/west/status");
            return found != m.end() && found->second == text;
        };
    };
    ASSERT_TRUE(status("online")(retainedWhen(broker, "plant/west/status", status("online"))))
        << fileText(log);
    station.stop(SIGKILL);
    EXPECT_TRUE(status("offline")(retainedWhen(broker, "plant/west/status", status("offline"))));

    // Stopped as a service is, it says offline itself.
    station.start(test::withLog({stationd.string()}, log));
    ASSERT_TRUE(status("online")(retainedWhen(broker, "plant/west/status", status("online"))));
    ::kill(station.pid(), SIGTERM);
    const int ended = station.waitForExit(20s);
    EXPECT_TRUE(WIFEXITED(ended) && WEXITSTATUS(ended) == 0) << fileText(log);
    EXPECT_EQ(broker.retained("plant/west/status").at("plant/west/status"), "offline");
    // A goodbye, not a dropped connection that would have sent the will.
    const std::string said = broker.log();
    EXPECT_NE(said.find("Client mirv-" + fileText(folder.path() + "/uplink.id").substr(0, 16) +
                        " disconnected."),
              std::string::npos)
        << said;
    EXPECT_NE(fileText(log).find("mirv-stationd: mqtt: connected to 127.0.0.1:"), std::string::npos)
        << fileText(log);
}

// A file that cannot be used is named with its line, and the station polls and logs on.
TEST(MqttBroker, FileItCannotUseIsNamedAndTheStationPollsOn) {
    test::ProgramFolder folder;
    folder.exec("UPDATE mirve SET (\"timer\", \"num\") = ('200', '1')");
    const fs::path stationd = fs::path(folder.path()) / "mirv-stationd";
    fs::copy_file(MIRV_STATIOND, stationd);
    std::ofstream(folder.path() + "/mqtt.conf") << "host = 127.0.0.1\nqos = 3\n";
    const std::string link = folder.path() + "/ports/com1";
    test::ChildProcess sim({MIRV_METER_SIM, "--link", link});
    ASSERT_TRUE(test::waitForPath(link));
    const std::string log = folder.path() + "/log";
    test::ChildProcess station(test::withLog({stationd.string()}, log),
                               {{"MIRV_TEST_MINUTE_MS", "100"}});
    const auto rows = [&] {
        Database db(folder.databasePath());
        Statement q(db, "SELECT count(*) FROM Historydata");
        return q.step() ? q.integer(0) : 0;
    };
    ASSERT_TRUE(QTest::qWaitFor([&] { return rows() > 0; }, 20000)) << fileText(log);
    EXPECT_NE(fileText(log).find("mirv-stationd: mqtt: " + folder.path() +
                                 "/mqtt.conf: line 2: 'qos' must be a whole number from 0 to 2"),
              std::string::npos)
        << fileText(log);
}

} // namespace
} // namespace mirv
