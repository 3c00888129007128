#include "child_process.h"
#include "gateway_peer.h"
#include "main_window.h"
#include "program_folder.h"
#include "scripted_dialogs.h"

#include <QLabel>
#include <QTest>
#include <fstream>
#include <gtest/gtest.h>

namespace mirv {
namespace {

void writePortFile(const test::ProgramFolder& folder, const std::string& text) {
    std::ofstream(folder.path() + "/ports/com1") << text;
}

TEST(GatewayStartup, ABadPortFileIsNamedWithItsLine) {
    test::ProgramFolder folder;
    writePortFile(folder, "tcp:/10.1.2.3:4001\n");
    test::ScriptedDialogs dialogs;
    MainWindow w(QString::fromStdString(folder.path()), dialogs);
    w.startUp();
    ASSERT_EQ(dialogs.messages.size(), 1);
    const QString& message = dialogs.messages[0];
    EXPECT_TRUE(message.startsWith("Com1 is not available.\r\n")) << message.toStdString();
    EXPECT_TRUE(message.contains(QString::fromStdString(folder.path() + "/ports/com1")))
        << message.toStdString();
    EXPECT_TRUE(message.contains("tcp:/10.1.2.3:4001")) << message.toStdString();
    EXPECT_EQ(w.messageLine->text(), "串口已被占用,请更改串口,通讯停止!");
    EXPECT_FALSE(w.engine()->pollTimer().isActive());
}

// A gateway that comes after the station (a PC booting faster after a power cut): the station
// starts, says it is retrying, and polls once the gateway is there.
TEST(GatewayStartup, AGatewayNotThereYetIsNoFailure) {
    test::ProgramFolder folder;
    folder.exec("UPDATE mirve SET timer = '100', minute = '1', com = 1, Settings = '9600', "
                "num = '2'");
    const int port = test::freeTcpPort();
    writePortFile(folder, "modbus-tcp://127.0.0.1:" + std::to_string(port) + "\n");
    test::ScriptedDialogs dialogs;
    MainWindow w(QString::fromStdString(folder.path()), dialogs);
    w.engine()->setMessage("earlier text");
    w.startUp();
    w.engine()->port().gateway().timing = {1000, 100, 300};
    EXPECT_TRUE(dialogs.messages.isEmpty()) << dialogs.messages.join("|").toStdString();
    EXPECT_TRUE(w.engine()->pollTimer().isActive());
    // The gateway's serial side carries the polls at 9600 baud: 244 ms each at the least.
    EXPECT_EQ(w.engine()->pollTimer().interval(), 244);
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return w.messageLine->text() == "网关未连接,正在重试"; }, 5000));

    test::ChildProcess sim({MIRV_METER_SIM, "--modbus-tcp-listen",
                            "127.0.0.1:" + std::to_string(port), "--meters", "1-2"});
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return w.engine()->board().answered(1) && w.engine()->board().answered(2); }, 10000));
    EXPECT_EQ(w.messageLine->text(), "earlier text");
}

} // namespace
} // namespace mirv
