// No save in the window writes over one of the station's files, whatever name the operator
// types; a box says why, and the file keeps its bytes.
#include "diagnostics_tab.h"
#include "energy_tab.h"
#include "guarded_targets.h"
#include "main_window.h"
#include "station_window.h"

#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTest>
#include <gtest/gtest.h>

namespace mirv {
namespace {

constexpr const char* kHistory = R"(INSERT INTO Historydata (MeterID, TXTctemperature1,
    TXTleijire_z, Foward, CreateTime) VALUES
    ('1', '55.00', '10.00', '1.00', '2025-05-01 08:00:00'),
    ('1', '55.50', '10.50', '1.50', '2025-05-01 08:01:00'),
    ('1', '56.00', '11.00', '2.00', '2025-05-01 08:02:00'))";

bool clickAndWait(EnergyTab& tab, QPushButton* button) {
    QSignalSpy finished(&tab, &EnergyTab::jobFinished);
    QTest::mouseClick(button, Qt::LeftButton);
    return finished.wait(10000);
}

TEST(SaveGuard, EverySaveInTheWindowRefusesEveryStationFile) {
    test::StationWindow st(kHistory);
    MainWindow& w = st.w();
    w.engine()->pollTimer().stop();
    w.show();
    w.tabs->setCurrentIndex(4);
    EnergyTab& energy = w.energyTab();
    energy.fromField->setText("2025-05-01 08:00");
    energy.toField->setText("2025-05-01 09:00");
    ASSERT_TRUE(clickAndWait(energy, energy.computeButton));
    energy.meterField->setText("1");
    ASSERT_TRUE(clickAndWait(energy, energy.trendButton));
    w.tabs->setCurrentIndex(5);
    DiagnosticsTab& diagnostics = w.diagnosticsTab();

    QString answer;
    auto ask = [&answer](const QString&, const QString&, const QString&) { return answer; };
    energy.askSavePath = ask;
    diagnostics.askSavePath = ask;
    const struct {
        const char* door;
        QPushButton* button;
    } doors[] = {
        {"energy CSV", energy.csvButton},
        {"trend picture", energy.pngButton},
        {"frames", diagnostics.saveButton},
    };

    // The journal's note of the start is in before the files are looked at.
    ASSERT_TRUE(w.engine()->historyWriter().waitIdle(std::chrono::seconds(5)));
    test::writeStationFiles(st.folder.path());
    const test::GuardedTargets targets(st.folder.path());
    for (const auto& d : doors)
        for (const test::GuardedTarget& t : targets.targets()) {
            SCOPED_TRACE(std::string(d.door) + " to " + t.how + " " + t.target);
            answer = QString::fromStdString(t.target);
            st.dialogs.messages.clear();
            QTest::mouseClick(d.button, Qt::LeftButton);
            ASSERT_EQ(st.dialogs.messages.size(), 1);
            EXPECT_EQ(st.dialogs.messages[0].toStdString(), "保存失败：" + t.target +
                                                                "\r\nrefusing to write " +
                                                                t.target + ": it is " + t.what);
            EXPECT_EQ(targets.changed(), "");
        }
}

} // namespace
} // namespace mirv
