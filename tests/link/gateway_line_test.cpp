// The poll cycle through an RS-485 gateway on real sockets of 127.0.0.1: against the
// simulator's network sides, against scripted gateways, through the gateway's faults, and
// the simulator against independent Modbus masters.
#include "child_process.h"
#include "gateway_peer.h"
#include "hand_made_answer.h"
#include "meter_link.h"
#include "tcp_gateway_port.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTest>
#include <gtest/gtest.h>

namespace mirv {
namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr const char* kForms[] = {"tcp", "modbus-tcp"};

// How long the gateway stays away in the outage test; a real plant's is longer, the
// behaviour is the same.
int outageMs() {
    const char* s = std::getenv("MIRV_GATEWAY_OUTAGE_MS");
    return s ? std::atoi(s) : 3000;
}

// The link as the window wires it, on a gateway port that retries quickly.
struct LinkOnGateway {
    TcpGatewayPort port;
    ReadingsBoard board;
    MeterLink link{port, board};
    std::vector<bool> changes;

    LinkOnGateway(const std::string& form, int tcpPort, const std::string& meters) {
        link.meterCount = meters;
        port.timing = {1000, 100, 400};
        port.bytesArrived = [this] { link.onBytesArrived(); };
        port.connectionChanged = [this](bool up) { changes.push_back(up); };
        EXPECT_EQ(port.open(form + "://127.0.0.1:" + std::to_string(tcpPort)), std::nullopt);
    }
    void tick(int waitMs = 100) {
        link.onPollTick();
        QTest::qWait(waitMs);
    }
    void rounds(int n, int meters) {
        for (int i = 0; i < n * meters; ++i)
            tick();
    }
    bool waitConnected() {
        return QTest::qWaitFor([this] { return port.connected(); }, 5000);
    }
};

std::unique_ptr<test::ChildProcess> simulator(const std::string& form, int port,
                                              std::vector<std::string> extra) {
    std::vector<std::string> argv{MIRV_METER_SIM,
                                  form == "tcp" ? "--tcp-listen" : "--modbus-tcp-listen",
                                  "127.0.0.1:" + std::to_string(port)};
    argv.insert(argv.end(), extra.begin(), extra.end());
    auto sim = std::make_unique<test::ChildProcess>(argv);
    EXPECT_TRUE(test::waitListening(port));
    return sim;
}

double number(const std::string& cell) {
    return cell.empty() ? -1e9 : std::stod(cell);
}

// The simulated meter M: reverse total 3.5 M and cold total 500 M barely move, flow is
// 10 + M within 2, and its totals only grow.
void expectSimulatedMeter(const ReadingsBoard& board, int m, const std::string& what) {
    const BoardRow& row = board.row(m);
    EXPECT_TRUE(board.answered(m)) << what << " meter " << m;
    EXPECT_NEAR(number(row[FlowRateCell]), 10 + m, 2.01) << what;
    EXPECT_NEAR(number(row[ReverseTotalCell]), 3.5 * m, 0.001) << what;
    EXPECT_NEAR(number(row[ColdTotalCell]), 500.0 * m, 0.01) << what;
    EXPECT_NEAR(number(row[ForwardTotalCell]), 1000.0 * m + 0.25, 1) << what;
    EXPECT_NEAR(number(row[HeatTotalCell]), 20000.0 * m, 10) << what;
}

TEST(GatewayLine, BothFormsReadTheSimulator) {
    for (const std::string form : kForms) {
        const int tcpPort = test::freeTcpPort();
        const auto sim = simulator(form, tcpPort,
                                   {"--meters", "1-4", "--fault", "2:pieces:6:15", "--fault",
                                    "3:exception", "--fault", "4:bad-crc", "--alarm", "1:upper"});
        LinkOnGateway s(form, tcpPort, "4");
        ASSERT_TRUE(s.waitConnected()) << form;
        s.rounds(2, 4);
        expectSimulatedMeter(s.board, 1, form);
        expectSimulatedMeter(s.board, 2, form); // its answer came in pieces
        EXPECT_EQ(s.board.row(1)[StatusCell], "通讯正常,上限报警") << form;
        // An exception answer, and a corrupt one (over Modbus TCP: another transaction's).
        EXPECT_FALSE(s.board.answered(3)) << form;
        EXPECT_EQ(s.board.row(3), BoardRow{}) << form;
        EXPECT_FALSE(s.board.answered(4)) << form;
        EXPECT_EQ(s.changes, std::vector<bool>{true}) << form;
    }
}

// A gateway of the test's own: answers each request as `reply` says.
class ScriptedGateway {
  public:
    std::function<std::vector<Bytes>(const Bytes& request, int index)> reply;
    int connections = 0;

    ScriptedGateway() {
        server_.listen(QHostAddress::LocalHost, 0);
        QObject::connect(&server_, &QTcpServer::newConnection, [this] {
            while (QTcpSocket* s = server_.nextPendingConnection()) {
                ++connections;
                QObject::connect(s, &QTcpSocket::readyRead, [this, s] {
                    const QByteArray data = s->readAll();
                    if (!reply)
                        return;
                    for (const Bytes& piece : reply(Bytes(data.begin(), data.end()), requests_++)) {
                        s->write(reinterpret_cast<const char*>(piece.data()), piece.size());
                        s->flush();
                        QTest::qWait(10);
                    }
                });
            }
        });
    }
    int port() const { return server_.serverPort(); }

  private:
    QTcpServer server_;
    int requests_ = 0;
};

const BoardRow kHandMadeRow{
    "12.5000",   "1.5000",        "61.25",        "40.50",
    "123456.75", "1000.25",       "-3.5000",      "通讯正常,励磁报警,上限报警",
    "7.0000",    "2000000005.50", "3001000000.13"};

TEST(GatewayLine, RtuOverTcpAssemblesPiecesAndDropsForeignBytes) {
    ScriptedGateway gateway;
    const Bytes answer = test::handMadeAnswer();
    gateway.reply = [&](const Bytes& request, int index) -> std::vector<Bytes> {
        EXPECT_EQ(request.size(), 8u);
        if (index == 0) // a foreign frame in front of the answer spoils this poll
            return {{0x01, 0x06, 0x00, 0x10, 0x00, 0x01, 0x49, 0xCF}, answer};
        return {Bytes(answer.begin(), answer.begin() + 7),
                Bytes(answer.begin() + 7, answer.end()),
                {0xFF, 0x00}}; // line noise after the answer, flushed by the next poll
    };
    LinkOnGateway s("tcp", gateway.port(), "7");
    s.link.currentAddress = 6;
    ASSERT_TRUE(s.waitConnected());
    s.tick(200);
    EXPECT_FALSE(s.board.answered(7));
    s.link.currentAddress = 6;
    s.tick(200);
    EXPECT_EQ(s.board.row(7), kHandMadeRow);
    s.link.currentAddress = 6;
    s.tick(200);
    EXPECT_TRUE(s.board.answered(7));
}

TEST(GatewayLine, ModbusTcpTakesOnlyItsTransaction) {
    ScriptedGateway gateway;
    Bytes rtu = test::handMadeAnswer();
    rtu.resize(rtu.size() - 2);
    auto framed = [&](int transaction) {
        Bytes out{static_cast<std::uint8_t>(transaction >> 8),
                  static_cast<std::uint8_t>(transaction & 0xFF),
                  0,
                  0,
                  0,
                  static_cast<std::uint8_t>(rtu.size())};
        out.insert(out.end(), rtu.begin(), rtu.end());
        return out;
    };
    gateway.reply = [&](const Bytes& request, int index) -> std::vector<Bytes> {
        EXPECT_EQ(request.size(), 12u);
        EXPECT_EQ(request[6], 7); // unit ID: the meter's address
        const int transaction = request[0] << 8 | request[1];
        if (index == 0)
            return {framed(transaction + 1)}; // someone else's answer only
        const Bytes mine = framed(transaction);
        return {framed(transaction - 1), Bytes(mine.begin(), mine.begin() + 5),
                Bytes(mine.begin() + 5, mine.end())};
    };
    LinkOnGateway s("modbus-tcp", gateway.port(), "7");
    ASSERT_TRUE(s.waitConnected());
    s.link.currentAddress = 6;
    s.tick(200);
    EXPECT_FALSE(s.board.answered(7));
    s.link.currentAddress = 6;
    s.tick(200);
    EXPECT_EQ(s.board.row(7), kHandMadeRow);
    EXPECT_EQ(gateway.connections, 1);
}

TEST(GatewayLine, FaultsEmptyTheRowsAndPollingComesBack) {
    test::StallMeter stalls;
    const int tcpPort = test::freeTcpPort();
    // Refused: nothing listens yet.
    LinkOnGateway s("tcp", tcpPort, "2");
    s.rounds(2, 2);
    EXPECT_EQ(s.changes, std::vector<bool>{false});
    EXPECT_FALSE(s.board.answered(1) || s.board.answered(2));

    auto sim = simulator("tcp", tcpPort, {"--meters", "1-2"});
    ASSERT_TRUE(s.waitConnected());
    s.rounds(2, 2);
    EXPECT_TRUE(s.board.answered(1) && s.board.answered(2));
    EXPECT_EQ(s.changes, (std::vector<bool>{false, true}));

    // Gone for a while, then back on the same address.
    sim.reset();
    const QDeadlineTimer back(outageMs());
    while (!back.hasExpired())
        s.tick();
    EXPECT_FALSE(s.board.answered(1) || s.board.answered(2));
    EXPECT_EQ(s.board.row(1), BoardRow{});
    EXPECT_EQ(s.changes, (std::vector<bool>{false, true, false}));
    sim = simulator("tcp", tcpPort, {"--meters", "1-2"});
    ASSERT_TRUE(s.waitConnected());
    s.rounds(2, 2);
    EXPECT_TRUE(s.board.answered(1) && s.board.answered(2));
    EXPECT_EQ(s.changes, (std::vector<bool>{false, true, false, true}));
    // A wait that blocks for the peer lasts a second or more; a busy machine that runs the
    // test late by a few hundred milliseconds is no such wait.
    EXPECT_LT(stalls.worstMs(), 1000) << "the event loop stalled";
    std::printf("longest stall of the event loop: %lld ms\n",
                static_cast<long long>(stalls.worstMs()));
}

TEST(GatewayLine, ClosedMidAnswerAndHalfOpenAreReconnected) {
    for (const std::string form : kForms) {
        const int tcpPort = test::freeTcpPort();
        // Meter 2's answer breaks off with the connection: the next connection serves meter 1.
        const auto sim = simulator(form, tcpPort, {"--meters", "1-2", "--fault", "2:hang-up"});
        LinkOnGateway s(form, tcpPort, "2");
        ASSERT_TRUE(s.waitConnected());
        s.rounds(3, 2);
        EXPECT_TRUE(s.board.answered(1)) << form;
        EXPECT_FALSE(s.board.answered(2)) << form;
    }
    // Accepts and never answers: three silent rounds of both meters, then a new connection.
    ScriptedGateway gateway;
    LinkOnGateway s("modbus-tcp", gateway.port(), "2");
    ASSERT_TRUE(s.waitConnected());
    s.rounds(2, 2);
    EXPECT_EQ(gateway.connections, 1);
    s.rounds(2, 2);
    EXPECT_EQ(gateway.connections, 2);
    EXPECT_EQ(s.board.row(2), BoardRow{});
}

// Bytes that are no Modbus TCP lose the stream's framing: the port connects anew at once and
// the next poll is answered on the new connection.
TEST(GatewayLine, ForeignBytesFromAModbusTcpGatewayBringANewConnection) {
    ScriptedGateway gateway;
    Bytes rtu = test::handMadeAnswer();
    gateway.reply = [&](const Bytes& request, int index) -> std::vector<Bytes> {
        if (index == 0)
            return {rtu}; // an RTU frame where a Modbus TCP one belongs
        Bytes framed{request[0], request[1], 0x00, 0x00, 0x00, 0xB9};
        framed.insert(framed.end(), rtu.begin(), rtu.end() - 2);
        return {framed};
    };
    LinkOnGateway s("modbus-tcp", gateway.port(), "7");
    ASSERT_TRUE(s.waitConnected());
    s.link.currentAddress = 6;
    s.tick(100);
    ASSERT_TRUE(QTest::qWaitFor([&] { return gateway.connections == 2; }, 2000))
        << "no new connection after the foreign bytes";
    ASSERT_TRUE(s.waitConnected());
    s.link.currentAddress = 6;
    s.tick(300);
    EXPECT_EQ(s.board.row(7), kHandMadeRow);
    EXPECT_EQ(gateway.connections, 2);
}

// A gateway that refuses: the first retry waits the first pause, the next twice that.
TEST(GatewayLine, RetriesWaitTheFirstPauseThenDouble) {
    TcpGatewayPort port;
    port.timing = {1000, 400, 5000};
    QElapsedTimer clock;
    std::vector<qint64> failedAtMs;
    clock.start();
    port.open("tcp://127.0.0.1:" + std::to_string(test::freeTcpPort()));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            if (port.openFailures > failedAtMs.size())
                failedAtMs.push_back(clock.elapsed());
            return failedAtMs.size() == 3;
        },
        5000));
    const qint64 first = failedAtMs[1] - failedAtMs[0], second = failedAtMs[2] - failedAtMs[1];
    EXPECT_GE(first, 380);
    EXPECT_LT(first, 700);
    EXPECT_GE(second, 780);
    EXPECT_LT(second, 1300);
}

// Independent masters read the simulator's network sides.
TEST(GatewayLine, IndependentPeersReadTheSimulator) {
    const int rtuPort = test::freeTcpPort(), modbusPort = test::freeTcpPort();
    const auto rtuSim = simulator("tcp", rtuPort, {"--meters", "3"});
    const auto modbusSim = simulator("modbus-tcp", modbusPort, {"--meters", "3"});

    QProcess mbpoll;
    mbpoll.start("mbpoll", {"-m", "tcp", "-p", QString::number(modbusPort), "-a", "3", "-0", "-r",
                            "48", "-c", "91", "-t", "4", "-1", "127.0.0.1"});
    ASSERT_TRUE(mbpoll.waitForFinished(10000));
    const QString polled = mbpoll.readAllStandardOutput();
    EXPECT_EQ(mbpoll.exitCode(), 0) << polled.toStdString();
    // The meters serve the block 0x30..0x8A whole. Registers 0x38, 0x39: the reverse total's
    // integer part, 10 (3.5 x 3).
    EXPECT_TRUE(polled.contains("[56]: \t0")) << polled.toStdString();
    EXPECT_TRUE(polled.contains("[57]: \t10")) << polled.toStdString();

    QProcess python;
    python.start("/usr/bin/python3",
                 {"-c", QStringLiteral("from pymodbus.client import ModbusTcpClient\n"
                                       "from pymodbus.framer.rtu_framer import ModbusRtuFramer\n"
                                       "c = ModbusTcpClient('127.0.0.1', port=%1, "
                                       "framer=ModbusRtuFramer, timeout=3)\n"
                                       "c.connect()\n"
                                       "r = c.read_holding_registers(0x30, 91, slave=3)\n"
                                       "print(len(r.registers), r.registers[8], r.registers[9])\n")
                            .arg(rtuPort)});
    ASSERT_TRUE(python.waitForFinished(20000));
    EXPECT_EQ(python.exitCode(), 0) << python.readAllStandardError().toStdString();
    EXPECT_EQ(python.readAllStandardOutput().trimmed(), "91 0 10");
}

} // namespace
} // namespace mirv

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
