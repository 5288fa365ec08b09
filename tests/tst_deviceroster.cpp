// The roster on its own: the order in which its integrity check names a
// broken rule, which devices it deletes, and which project DAT holds an
// address.

#include "stubdevice.h"
#include "testenv.h"

#include "devices/deviceroster.h"

#include <QApplication>

#include <memory>

namespace {
const QString dat70 = QStringLiteral(":0x70:bvr60600");
const QString dat71 = QStringLiteral(":0x71:bvr60600");
const QString dat72 = QStringLiteral(":0x72:bvr60600");
} // namespace

class TestDeviceRoster : public QObject
{
    Q_OBJECT

private slots:
    void integrityNamesFirstBrokenRule_data();
    void integrityNamesFirstBrokenRule();
    void deletesOnlyWhatItHolds_data();
    void deletesOnlyWhatItHolds();
    void occupantOfAnAddress_data();
    void occupantOfAnAddress();
};

void TestDeviceRoster::integrityNamesFirstBrokenRule_data()
{
    QTest::addColumn<QStringList>("devices");
    QTest::addColumn<QStringList>("states");
    // The DAT of the current device object; one outside devices is made
    // apart from the roster.
    QTest::addColumn<QString>("currentDevice");
    QTest::addColumn<QString>("currentDat");
    QTest::addColumn<QString>("err");
    QTest::addRow("consistent") << QStringList{dat70} << QStringList{dat70} << dat70 << dat70 << QString();
    // Several rules broken at once: the count is reported, not the DAT.
    QTest::addRow("count first") << QStringList{dat70} << QStringList{dat70, dat71} << QString() << dat71
                                 << QStringLiteral("device and deviceStates count differ");
    QTest::addRow("current device under another DAT")
        << QStringList{dat70} << QStringList{dat70} << dat70 << dat71
        << QStringLiteral("currentDevice and currentDat do not match");
    QTest::addRow("current device outside the project")
        << QStringList{dat70} << QStringList{dat70} << dat71 << dat71
        << QStringLiteral("currentDevice not contained in devices");
    QTest::addRow("current DAT outside the project")
        << QStringList{dat70} << QStringList{dat70} << QString() << dat71
        << QStringLiteral("currentDat not contained in devices");
    QTest::addRow("device without a state") << QStringList{dat70, dat71} << QStringList{dat70, dat72}
                                            << QString() << QString()
                                            << QStringLiteral("device :0x71:bvr60600 does not have a deviceState");
}

void TestDeviceRoster::integrityNamesFirstBrokenRule()
{
    QFETCH(QStringList, devices);
    QFETCH(QStringList, states);
    QFETCH(QString, currentDevice);
    QFETCH(QString, currentDat);
    QFETCH(QString, err);
    DeviceRoster roster;
    for (const QString &dat : devices)
        roster.insert(dat, new StubDevice(dat));
    for (const QString &dat : states)
        roster.setState(dat, {{QStringLiteral("alias"), dat}});
    std::unique_ptr<StubDevice> stray;
    if (!currentDevice.isEmpty()) {
        if (!roster.contains(currentDevice))
            stray = std::make_unique<StubDevice>(currentDevice);
        roster.setCurrentDevice(stray ? stray.get() : roster.entry(currentDevice));
    }
    roster.setCurrentDat(currentDat);
    QString found = QStringLiteral("not cleared");
    QCOMPARE(roster.checkIntegrity(found), err.isEmpty());
    QCOMPARE(found, err);
}

void TestDeviceRoster::deletesOnlyWhatItHolds_data()
{
    QTest::addColumn<bool>("takeOut");
    // A device left inside would leak, or live on with its bus connections.
    QTest::addRow("left inside goes with the roster") << false;
    // A taken device deleted twice would crash the caller that took it.
    QTest::addRow("taken out is the caller's") << true;
}

void TestDeviceRoster::deletesOnlyWhatItHolds()
{
    QFETCH(bool, takeOut);
    int deaths = 0;
    QPointer<Device> taken;
    {
        DeviceRoster roster;
        roster.insert(dat70, new StubDevice(dat70, &deaths));
        roster.setCurrentDevice(roster.entry(dat70));
        if (takeOut)
            taken = roster.take(dat70);
    }
    QCOMPARE(deaths, takeOut ? 0 : 1);
    QCOMPARE(taken.isNull(), !takeOut);
    delete taken.data();
    QCOMPARE(deaths, 1);
}

void TestDeviceRoster::occupantOfAnAddress_data()
{
    QTest::addColumn<QString>("dat");
    QTest::addColumn<QString>("occupant");
    // Project: A1:0x70:bvr60600 and :0x7a:bvr60600. One chip must not join
    // under a second DAT, whatever adapter, type or case names it.
    QTest::addRow("another adapter") << dat70 << QStringLiteral("A1:0x70:bvr60600");
    QTest::addRow("another type") << QStringLiteral(":0x70:pmbus") << QStringLiteral("A1:0x70:bvr60600");
    QTest::addRow("upper-case digits") << QStringLiteral("B2:0x7A:bvr60600") << QStringLiteral(":0x7a:bvr60600");
    QTest::addRow("itself is no other") << QStringLiteral(":0x7a:bvr60600") << QString();
    QTest::addRow("free address") << dat71 << QString();
    QTest::addRow("long spelling is no address") << QStringLiteral(":0x070:bvr60600") << QString();
}

void TestDeviceRoster::occupantOfAnAddress()
{
    QFETCH(QString, dat);
    QFETCH(QString, occupant);
    DeviceRoster roster;
    for (const QString &held : {QStringLiteral("A1:0x70:bvr60600"), QStringLiteral(":0x7a:bvr60600")})
        roster.insert(held, new StubDevice(held));
    QCOMPARE(roster.datAt(dat), occupant);
}

PANEL_TEST_MAIN(TestDeviceRoster)
#include "tst_deviceroster.moc"
