// The membership on its own, with devices the test makes: a rename moves the
// current DAT only when it names the current device, and a removal whose
// reactions bring the same DAT straight back leaves the newcomer whole.

#include "devicemgrtest.h"
#include "stubdevice.h"
#include "testenv.h"

#include "bvr60600/dmodel.h"
#include "devices/connectiontracker.h"
#include "devices/deviceroster.h"
#include "devices/projectmembership.h"
#include "devices/stateshuttle.h"

#include <QApplication>
#include <QSignalSpy>

namespace {
const QString dat70 = QStringLiteral(":0x70:bvr60600");
const QString dat71 = QStringLiteral(":0x71:bvr60600");
const QString dat72 = QStringLiteral(":0x72:bvr60600");
const QString alias = QStringLiteral("alias");
} // namespace

class TestProjectMembership : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { m_model = DeviceMgrTest::quietStart(); }
    void cleanupTestCase() { delete m_model; }
    void renameMovesCurrentOnlyWhenCurrent_data();
    void renameMovesCurrentOnlyWhenCurrent();
    void rejoinDuringRemovalKeepsItsState();

private:
    Bvr60600::DModel *m_model = nullptr;
};

void TestProjectMembership::renameMovesCurrentOnlyWhenCurrent_data()
{
    QTest::addColumn<QString>("current");
    QTest::addColumn<QString>("currentAfter");
    // Left on the old name, every operation on "the current device" fails.
    QTest::addRow("current device") << dat70 << dat72;
    // Moved, the user would find another device selected.
    QTest::addRow("background device") << dat71 << dat71;
}

void TestProjectMembership::renameMovesCurrentOnlyWhenCurrent()
{
    QFETCH(QString, current);
    QFETCH(QString, currentAfter);
    DeviceRoster roster;
    ConnectionTracker tracker(roster);
    StateShuttle shuttle(roster);
    ProjectMembership membership(roster, tracker, shuttle, [](const QString &dat) { return new StubDevice(dat); });
    QCOMPARE(membership.addDevice(dat70, {{alias, QStringLiteral("A")}}), QString());
    QCOMPARE(membership.addDevice(dat71, {}), QString());
    roster.setCurrentDevice(roster.entry(current));
    roster.setCurrentDat(current);
    const QPointer<Device> device = roster.entry(dat70);

    QSignalSpy moved(&membership, &ProjectMembership::currentDatChanged);
    QSignalSpy added(&membership, &ProjectMembership::deviceAdded);
    QSignalSpy removed(&membership, &ProjectMembership::deviceRemoved);
    QCOMPARE(membership.editDevice(dat70, dat72, {}), QString());
    QCOMPARE(roster.currentDat(), currentAfter);
    QCOMPARE(moved.size(), current == dat70 ? 1 : 0);
    // The same device and state under the new name; nobody left or joined.
    QCOMPARE(roster.entry(dat72), device);
    QCOMPARE(device->dat(), dat72);
    QCOMPARE(roster.state(dat72).value(alias).toString(), QStringLiteral("A"));
    QCOMPARE(added.size() + removed.size(), 0);
    QString err;
    QVERIFY2(roster.checkIntegrity(err), qPrintable(err));
}

void TestProjectMembership::rejoinDuringRemovalKeepsItsState()
{
    // A window that keeps one device re-adds its default chip while the last
    // one is being removed; that may be the same DAT, whose fresh state the
    // end of the removal must not take away.
    int deaths = 0;
    DeviceRoster roster;
    ConnectionTracker tracker(roster);
    StateShuttle shuttle(roster);
    ProjectMembership membership(roster, tracker, shuttle,
                                 [&deaths](const QString &dat) { return new StubDevice(dat, &deaths); });
    QCOMPARE(membership.addDevice(dat70, {{alias, QStringLiteral("old")}}), QString());
    connect(&membership, &ProjectMembership::deviceRemoved, this, [&membership] {
        QCOMPARE(membership.addDevice(dat70, {{alias, QStringLiteral("new")}}), QString());
    });
    QCOMPARE(membership.removeDevice(dat70), QString());
    QCOMPARE(roster.dats(), QStringList{dat70});
    QCOMPARE(roster.state(dat70).value(alias).toString(), QStringLiteral("new"));
    QCOMPARE(deaths, 1);
    QVERIFY(roster.device(dat70));
    QString err;
    QVERIFY2(roster.checkIntegrity(err), qPrintable(err));
}

PANEL_TEST_MAIN(TestProjectMembership)
#include "tst_projectmembership.moc"
