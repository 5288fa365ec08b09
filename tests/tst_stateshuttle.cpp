// The state shuttle on its own: a roster, the chip model of the type and
// devices whose chip state the test sets. One model serves every device of
// a type; what it shows must belong to the device the user looks at.

#include "devicemgrtest.h"
#include "stubdevice.h"
#include "testenv.h"

#include "bvr60600/dmodel.h"
#include "devices/deviceroster.h"
#include "devices/stateshuttle.h"

#include <QApplication>

namespace {
const QString dat70 = QStringLiteral(":0x70:bvr60600");
const QString dat71 = QStringLiteral(":0x71:bvr60600");
const QString vout = QStringLiteral("voutControl");
} // namespace

class TestStateShuttle : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { m_model = DeviceMgrTest::quietStart(); }
    void cleanupTestCase() { delete m_model; }
    void chipStateReachesModelOnlyForCurrent_data();
    void chipStateReachesModelOnlyForCurrent();
    void shownStateIsTheUsersView_data();
    void shownStateIsTheUsersView();

private:
    // Two devices, saved codes 50 and 60; the chip at 0x70 holds 77.
    void fill(DeviceRoster &roster);

    Bvr60600::DModel *m_model = nullptr;
};

void TestStateShuttle::fill(DeviceRoster &roster)
{
    auto *chip = new StubDevice(dat70);
    chip->state = {{vout, 77}};
    roster.insert(dat70, chip);
    roster.insert(dat71, new StubDevice(dat71));
    roster.setState(dat70, {{vout, 50}, {QStringLiteral("alias"), QStringLiteral("A")}});
    roster.setState(dat71, {{vout, 60}});
}

void TestStateShuttle::chipStateReachesModelOnlyForCurrent_data()
{
    QTest::addColumn<QString>("current");
    QTest::addColumn<int>("modelAfter");
    // The read refreshes what the user sees of the chip.
    QTest::addRow("current device") << dat70 << 77;
    // A background device's read must not overwrite the user's edit.
    QTest::addRow("device in the background") << dat71 << 55;
}

void TestStateShuttle::chipStateReachesModelOnlyForCurrent()
{
    QFETCH(QString, current);
    QFETCH(int, modelAfter);
    DeviceRoster roster;
    fill(roster);
    StateShuttle shuttle(roster);
    roster.setCurrentDat(current);
    QVERIFY(shuttle.setModelState(current));
    m_model->setVoutControl(55);

    QVERIFY(shuttle.getDeviceState(dat70));
    QCOMPARE(m_model->voutControl(), modelAfter);
    // The chip's values join the saved state; the alias is not the chip's.
    QCOMPARE(roster.state(dat70).value(vout).toInt(), 77);
    QCOMPARE(roster.state(dat70).value(QStringLiteral("alias")).toString(), QStringLiteral("A"));
}

void TestStateShuttle::shownStateIsTheUsersView_data()
{
    QTest::addColumn<QString>("shown");
    QTest::addColumn<int>("reported");
    // The unsaved edit is what the user sees of the current device.
    QTest::addRow("model shows the current device") << dat70 << 55;
    // The model's edit belongs to the device it shows, not the current one.
    QTest::addRow("model shows another device") << dat71 << 50;
}

void TestStateShuttle::shownStateIsTheUsersView()
{
    QFETCH(QString, shown);
    QFETCH(int, reported);
    DeviceRoster roster;
    fill(roster);
    StateShuttle shuttle(roster);
    roster.setCurrentDat(dat70);
    QVERIFY(shuttle.setModelState(shown));
    m_model->setVoutControl(55);
    QCOMPARE(shuttle.shownState(dat70).value(vout).toInt(), reported);
    // Reporting moves nothing: the saved state keeps its value.
    QCOMPARE(roster.state(dat70).value(vout).toInt(), 50);
    QCOMPARE(shuttle.modelStateDat(), shown);
}

PANEL_TEST_MAIN(TestStateShuttle)
#include "tst_stateshuttle.moc"
