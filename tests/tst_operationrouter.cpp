// The operation router on its own, on a device whose answers the test sets:
// a completion's follow-up (the chip's state saved, the function's or the
// monitor's event) has happened by the time anyone hears the done signal,
// and a failed completion has none.

#include "devicemgrtest.h"
#include "stubdevice.h"
#include "testenv.h"

#include "bvr60600/dmodel.h"
#include "devices/connectiontracker.h"
#include "devices/deviceroster.h"
#include "devices/operationrouter.h"
#include "devices/stateshuttle.h"
#include "i2c/i2csvc.h"

#include <QApplication>

namespace {
const QString dat70 = QStringLiteral(":0x70:bvr60600");
} // namespace

class TestOperationRouter : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { m_model = DeviceMgrTest::quietStart(); }
    void cleanupTestCase() { delete m_model; }
    void followUpBeforeDone_data();
    void followUpBeforeDone();

private:
    Bvr60600::DModel *m_model = nullptr;
};

void TestOperationRouter::followUpBeforeDone_data()
{
    QTest::addColumn<QString>("ctx");
    QTest::addColumn<QString>("err");
    QTest::addColumn<QStringList>("heard");
    QTest::addColumn<bool>("read");
    // A view that shows the chip on doneReadConfiguration would show the
    // state before the read, and immediate mode would stay off for the chip.
    QTest::addRow("read") << "doReadConfiguration" << QString() << QStringList{"state saved", "done"} << true;
    // A register image that was never read must not become the saved state.
    QTest::addRow("failed read") << "doReadConfiguration" << "nack" << QStringList{"done"} << false;
    QTest::addRow("function") << "doFunction,reset" << QString() << QStringList{"function reset", "done"} << false;
    QTest::addRow("failed function") << "doFunction,reset" << "nack" << QStringList{"done"} << false;
    QTest::addRow("monitor") << "doRunMonitor,fast" << QString() << QStringList{"monitor fast", "done"} << false;
    QTest::addRow("failed monitor") << "doRunMonitor,fast" << "nack" << QStringList{"done"} << false;
}

void TestOperationRouter::followUpBeforeDone()
{
    QFETCH(QString, ctx);
    QFETCH(QString, err);
    QFETCH(QStringList, heard);
    QFETCH(bool, read);
    DeviceRoster roster;
    auto *chip = new StubDevice(dat70);
    chip->state = {{QStringLiteral("voutControl"), 77}};
    chip->functionEvent = {{QStringLiteral("f"), 1}};
    chip->monitorEvent = {{QStringLiteral("m"), 1}};
    roster.insert(dat70, chip);
    roster.setState(dat70, {});
    ConnectionTracker tracker(roster);
    StateShuttle shuttle(roster);
    OperationRouter router(roster, tracker, shuttle);
    tracker.setOnlineMode(true);
    emit I2cSvc::getInstance()->eventSlaveAdded(dat70);

    QStringList order;
    connect(&shuttle, &StateShuttle::deviceStateSaved, this, [&order] { order << QStringLiteral("state saved"); });
    connect(&router, &OperationRouter::eventFunction, this,
            [&order](const QString &, const QString &name) { order << QStringLiteral("function ") + name; });
    connect(&router, &OperationRouter::eventDeviceMonitor, this,
            [&order](const QString &, const QString &speed) { order << QStringLiteral("monitor ") + speed; });
    for (auto done : {&OperationRouter::doneReadConfiguration, &OperationRouter::doneFunction,
                      &OperationRouter::doneRunMonitor})
        connect(&router, done, this, [&order] { order << QStringLiteral("done"); });

    emit I2cSvc::getInstance()->doneRunScript(err, ctx, dat70);
    QCOMPARE(order, heard);
    QCOMPARE(tracker.readSinceConnected(dat70), read);
    QCOMPARE(roster.state(dat70).value(QStringLiteral("voutControl")).toInt(), read ? 77 : 0);
}

PANEL_TEST_MAIN(TestOperationRouter)
#include "tst_operationrouter.moc"
