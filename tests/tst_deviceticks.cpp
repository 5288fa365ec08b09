// The ticks on their own, driven by hand on a connected device with a
// monitor script: which speeds each monitor tick runs, and that a
// scheduled read runs once.

#include "devicemgrtest.h"
#include "stubdevice.h"
#include "testenv.h"

#include "bvr60600/dmodel.h"
#include "devices/connectiontracker.h"
#include "devices/deviceroster.h"
#include "devices/deviceticks.h"
#include "devices/operationrouter.h"
#include "devices/stateshuttle.h"
#include "i2c/i2csvc.h"

#include <QApplication>
#include <QSignalSpy>

namespace {
const QString dat70 = QStringLiteral(":0x70:bvr60600");

// The contexts of the scripts posted to the bus.
QStringList posted(const QSignalSpy &spy)
{
    QStringList contexts;
    for (const QList<QVariant> &call : spy)
        contexts << call.at(0).toString();
    return contexts;
}
} // namespace

class TestDeviceTicks : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { m_model = DeviceMgrTest::quietStart(true); }
    void init();
    void cleanup();
    void cleanupTestCase() { delete m_model; }
    void monitorSpeedsByTick_data();
    void monitorSpeedsByTick();
    void scheduledReadRunsOnce_data();
    void scheduledReadRunsOnce();

private:
    Bvr60600::DModel *m_model = nullptr;
    std::unique_ptr<DeviceRoster> m_roster;
    std::unique_ptr<ConnectionTracker> m_tracker;
    std::unique_ptr<StateShuttle> m_shuttle;
    std::unique_ptr<OperationRouter> m_router;
    std::unique_ptr<DeviceTicks> m_ticks;
};

void TestDeviceTicks::init()
{
    m_roster = std::make_unique<DeviceRoster>();
    m_roster->insert(dat70, new StubDevice(dat70));
    m_roster->setState(dat70, {});
    m_roster->setCurrentDat(dat70);
    m_tracker = std::make_unique<ConnectionTracker>(*m_roster);
    m_shuttle = std::make_unique<StateShuttle>(*m_roster);
    m_router = std::make_unique<OperationRouter>(*m_roster, *m_tracker, *m_shuttle);
    m_ticks = std::make_unique<DeviceTicks>(*m_roster, *m_tracker, *m_router);
    m_tracker->setOnlineMode(true);
}

void TestDeviceTicks::cleanup()
{
    m_ticks.reset();
    m_router.reset();
    m_shuttle.reset();
    m_tracker.reset();
    m_roster.reset();
}

void TestDeviceTicks::monitorSpeedsByTick_data()
{
    QTest::addColumn<int>("pausedTicks");
    QTest::addColumn<int>("ticksBefore");
    QTest::addColumn<QStringList>("speeds");
    // A wrong divider loads the bus with lengthy scripts or starves a view.
    QTest::addRow("first tick runs all") << 0 << 0
                                         << QStringList{"doRunMonitor,fast", "doRunMonitor,normal", "doRunMonitor,slow"};
    QTest::addRow("fast every 4th") << 0 << 4 << QStringList{"doRunMonitor,fast"};
    QTest::addRow("normal every 19th") << 0 << 19 << QStringList{"doRunMonitor,normal"};
    QTest::addRow("fast and normal at 76") << 0 << 76 << QStringList{"doRunMonitor,fast", "doRunMonitor,normal"};
    QTest::addRow("slow every 199th") << 0 << 199 << QStringList{"doRunMonitor,slow"};
    QTest::addRow("between speeds") << 0 << 5 << QStringList();
    // Ticks while monitoring is off do not count towards the speeds.
    QTest::addRow("paused ticks do not count") << 3 << 0
                                               << QStringList{"doRunMonitor,fast", "doRunMonitor,normal", "doRunMonitor,slow"};
}

void TestDeviceTicks::monitorSpeedsByTick()
{
    QFETCH(int, pausedTicks);
    QFETCH(int, ticksBefore);
    QFETCH(QStringList, speeds);
    emit I2cSvc::getInstance()->eventSlaveAdded(dat70);
    m_ticks->setMonitorAllowed(false);
    for (int i = 0; i < pausedTicks; ++i)
        m_ticks->monitor();
    m_ticks->setMonitorAllowed(true);
    for (int i = 0; i < ticksBefore; ++i)
        m_ticks->monitor();
    QSignalSpy scripts(I2cSvc::getInstance(), &I2cSvc::doRunScript);
    m_ticks->monitor();
    QCOMPARE(posted(scripts), speeds);
}

void TestDeviceTicks::scheduledReadRunsOnce_data()
{
    QTest::addColumn<bool>("connected");
    // Repeated, the read would pull the chip's values over the user's edits
    // every second; kept until the chip appears, it would do so by surprise.
    QTest::addRow("chip present") << true;
    QTest::addRow("chip away") << false;
}

void TestDeviceTicks::scheduledReadRunsOnce()
{
    QFETCH(bool, connected);
    m_ticks->setMonitorAllowed(false);
    if (connected)
        emit I2cSvc::getInstance()->eventSlaveAdded(dat70);
    QSignalSpy scripts(I2cSvc::getInstance(), &I2cSvc::doRunScript);
    m_ticks->scheduleReadOnActivity();
    m_ticks->activity();
    QCOMPARE(posted(scripts), connected ? QStringList{"doReadConfiguration"} : QStringList());
    scripts.clear();
    emit I2cSvc::getInstance()->eventSlaveAdded(dat70);
    m_ticks->activity();
    QCOMPARE(posted(scripts), QStringList());
}

PANEL_TEST_MAIN(TestDeviceTicks)
#include "tst_deviceticks.moc"
