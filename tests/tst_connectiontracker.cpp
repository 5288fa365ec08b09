// The connection tracker on its own, fed the I2C service's events: which
// project device a scan report names, when its owner hears of a new chip,
// and how long a chip counts as read.

#include "stubdevice.h"
#include "testenv.h"

#include "devices/connectiontracker.h"
#include "devices/deviceroster.h"
#include "i2c/i2csvc.h"

#include <QApplication>
#include <QSignalSpy>

namespace {
const QString dat70 = QStringLiteral(":0x70:bvr60600");
const QString dat71 = QStringLiteral(":0x71:bvr60600");
} // namespace

class TestConnectionTracker : public QObject
{
    Q_OBJECT

private slots:
    void slaveReports_data();
    void slaveReports();
    void ownerAdoptsBeforeConnected();
    void readMarkLastsOneConnection_data();
    void readMarkLastsOneConnection();

private:
    I2cSvc *svc() const { return I2cSvc::getInstance(); }
};

void TestConnectionTracker::slaveReports_data()
{
    QTest::addColumn<QString>("slave");
    QTest::addColumn<QStringList>("connected");
    QTest::addColumn<QStringList>("offered");
    // Project: :0x70:bvr60600. Adapters: A1, also announced as the default
    // under the empty id, and B2 of the same kind.
    QTest::addRow("the project's chip") << dat70 << QStringList{dat70} << QStringList();
    // Counted twice, the chip would join the project as a second device.
    QTest::addRow("its adapter's own id") << QStringLiteral("A1:0x70:bvr60600") << QStringList{dat70}
                                          << QStringList();
    // A foreign chip would be driven with the project device's settings.
    QTest::addRow("another adapter at its address") << QStringLiteral("B2:0x70:bvr60600") << QStringList()
                                                    << QStringList();
    QTest::addRow("a free address") << dat71 << QStringList{dat71} << QStringList{dat71};
}

void TestConnectionTracker::slaveReports()
{
    QFETCH(QString, slave);
    QFETCH(QStringList, connected);
    QFETCH(QStringList, offered);
    DeviceRoster roster;
    roster.insert(dat70, new StubDevice(dat70));
    ConnectionTracker tracker(roster);
    QStringList found;
    connect(&tracker, &ConnectionTracker::chipFound, this, [&found](const QString &dat) { found << dat; });
    emit svc()->eventDefaultDongle(QStringLiteral("A1"));
    emit svc()->eventDongleAdded(QString(), QStringLiteral("FT4222"));
    emit svc()->eventDongleAdded(QStringLiteral("A1"), QStringLiteral("FT4222"));
    emit svc()->eventDongleAdded(QStringLiteral("B2"), QStringLiteral("FT4222"));
    QCOMPARE(tracker.dongleCount(), 3);
    emit svc()->eventSlaveAdded(slave);
    QCOMPARE(tracker.connectedIds(), connected);
    QCOMPARE(found, offered);
}

void TestConnectionTracker::ownerAdoptsBeforeConnected()
{
    // Listeners of a connection (the first configuration read) must find the
    // chip in the project already, or their request fails as an unknown DAT.
    DeviceRoster roster;
    ConnectionTracker tracker(roster);
    QStringList order;
    connect(&tracker, &ConnectionTracker::chipFound, this, [&](const QString &dat) {
        roster.insert(dat, new StubDevice(dat));
        order << QStringLiteral("adopted");
    });
    connect(&tracker, &ConnectionTracker::deviceConnected, this, [&](const QString &dat) {
        order << (roster.contains(dat) ? QStringLiteral("connected in project") : QStringLiteral("connected"));
    });
    connect(&tracker, &ConnectionTracker::connectedIdsChanged, this,
            [&order] { order << QStringLiteral("ids"); });
    emit svc()->eventSlaveAdded(dat71);
    QCOMPARE(order, (QStringList{"adopted", "connected in project", "ids"}));
}

void TestConnectionTracker::readMarkLastsOneConnection_data()
{
    QTest::addColumn<int>("ending");
    // A read mark kept past its connection lets immediate mode write the
    // model's values over a chip that was not read since it came back.
    QTest::addRow("slave gone") << 0;
    QTest::addRow("adapter gone") << 1;
    QTest::addRow("device left the project") << 2;
}

void TestConnectionTracker::readMarkLastsOneConnection()
{
    QFETCH(int, ending);
    const QString dat = QStringLiteral("A1:0x70:bvr60600");
    DeviceRoster roster;
    roster.insert(dat, new StubDevice(dat));
    ConnectionTracker tracker(roster);
    tracker.setOnlineMode(true);
    emit svc()->eventDongleAdded(QStringLiteral("A1"), QStringLiteral("FT4222"));
    emit svc()->eventSlaveAdded(dat);
    tracker.markRead(dat);
    QVERIFY(tracker.readSinceConnected(dat));

    QSignalSpy disconnected(&tracker, &ConnectionTracker::deviceDisconnected);
    if (ending == 0)
        emit svc()->eventSlaveRemoved(dat);
    else if (ending == 1)
        emit svc()->eventDongleRemoved(QStringLiteral("A1"), QStringLiteral("FT4222"));
    else
        tracker.forgetDevice(dat);
    QCOMPARE(disconnected.size(), 1);
    QVERIFY(!tracker.isConnected(dat, false));
    QVERIFY(!tracker.readSinceConnected(dat));

    emit svc()->eventDongleAdded(QStringLiteral("A1"), QStringLiteral("FT4222"));
    emit svc()->eventSlaveAdded(dat);
    QVERIFY(tracker.isConnected(dat));
    QVERIFY(!tracker.readSinceConnected(dat));
}

PANEL_TEST_MAIN(TestConnectionTracker)
#include "tst_connectiontracker.moc"
