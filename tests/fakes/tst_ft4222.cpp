#include "adaptertest.h"
#include "devicemgrtest.h"
#include "testenv.h"

#include "devices/devicemgr.h"
#include "services/settings.h"

#include <QScopeGuard>

using namespace AdapterTest;

namespace {

const QString chip = QStringLiteral(":0x70:bvr60600");

} // namespace

// The FT4222 adapter against a fake of the vendor's libraries, loaded the
// way the real ones are, through the I2C service and its worker thread.
class TestFt4222 : public QObject
{
    Q_OBJECT

    std::unique_ptr<FakeLibrary> fake;
    std::unique_ptr<Bvr60600::DModel> model;
    I2cSvc *svc = nullptr;

    QByteArray lastWrite() { return fake->bytes("fake_ft4222_last_write"); }

private slots:
    void initTestCase()
    {
        qputenv("PANEL_FT4222_LIBRARY", FAKE_FT4222_PATH);
        qputenv("PANEL_SUB20_LIBRARY", "/nonexistent/libsub.so");
        fake = std::make_unique<FakeLibrary>(QStringLiteral(FAKE_FT4222_PATH));
        model.reset(DeviceMgrTest::quietStart());
    }

    void init()
    {
        fake->call("fake_ft4222_reset");
        Settings::getInstance()->setI2cSpeed(1000);
        svc = I2cSvc::getInstance();
        const QStringList added = announced(svc, &I2cSvc::eventDongleAdded, [this] { rescan(svc); });
        // Only interface A of the bridge: B and the other FTDI part are skipped.
        QCOMPARE(added, QStringList({ "0x1234=FT4222 A", "=FT4222 A" }));
        fake->call<int>("fake_ft4222_take_status_polls");
        fake->call<int>("fake_ft4222_take_resets");
    }

    void cleanup()
    {
        delete svc;
        svc = nullptr;
    }

    // Fault: an open bridge is listed without its location id, so the scan
    // after the one that opened it saw a different adapter ("0x0") or none,
    // and the bridge left and came back every second. The adapter we opened
    // stays, under its id, until the bridge is really gone; then its handle
    // is closed. Opening sets the speed and the read and write timeouts.
    void openedOnceAndKeptAcrossRescans()
    {
        QCOMPARE(fake->call<int>("fake_ft4222_init_kbps"), 1000);
        int writeMs = 0;
        QCOMPARE(fake->call<int>("fake_ft4222_timeouts", &writeMs), 1000);
        QCOMPARE(writeMs, 1000);
        for (int scan = 0; scan < 2; ++scan) {
            const QStringList changes = announced(svc, &I2cSvc::eventDongleAdded, [this] {
                QCOMPARE(announced(svc, &I2cSvc::eventDongleRemoved, [this] { rescan(svc); }),
                         QStringList());
            });
            QCOMPARE(changes, QStringList());
        }
        QString err;
        QCOMPARE(readRegister(svc, chip, "\x41", 1, err), QByteArray("\x07"));
        QCOMPARE(fake->call<int>("fake_ft4222_open_handles"), 1);

        fake->call("fake_ft4222_set_connected", 0);
        QCOMPARE(announced(svc, &I2cSvc::eventDongleRemoved, [this] { rescan(svc); }),
                 QStringList({ "0x1234=FT4222 A", "=FT4222 A" }));
        QCOMPARE(fake->call<int>("fake_ft4222_open_handles"), 0);
    }

    // A bridge that cannot be set up must not stay open: the next scan would
    // find it listed as open and could never take it.
    void initFailureClosesTheBridge()
    {
        emit svc->doDisconnect();
        fake->call("fake_ft4222_fail_init", 1);
        QCOMPARE(announced(svc, &I2cSvc::eventDongleAdded, [this] { rescan(svc); }), QStringList());
        QCOMPARE(fake->call<int>("fake_ft4222_open_handles"), 0);
        fake->call("fake_ft4222_fail_init", 0);
        QCOMPARE(announced(svc, &I2cSvc::eventDongleAdded, [this] { rescan(svc); }).size(), 2);
        QCOMPARE(fake->call<int>("fake_ft4222_init_kbps"), 1000);
    }

    void bothIdsReachTheBridge_data()
    {
        QTest::addColumn<QString>("dat");
        QTest::addRow("default adapter") << chip;
        QTest::addRow("own id") << QStringLiteral("0x1234:0x70:bvr60600");
    }

    void bothIdsReachTheBridge()
    {
        QFETCH(QString, dat);
        QString err;
        QCOMPARE(readRegister(svc, dat, "\x41", 1, err), QByteArray("\x07"));
        QCOMPARE(err, QString());
    }

    // Fault: every address without a chip NACKs, and each NACK was taken
    // for a disconnection: an open scan logged a failure and dropped a slave
    // for each of 111 empty addresses, every second. A probe's NACK is
    // silent; the chip is found.
    void openScanIsQuiet()
    {
        QSignalSpy traffic(svc, &I2cSvc::eventLogTxRx);
        QSignalSpy removed(svc, &I2cSvc::eventSlaveRemoved);
        QCOMPARE(scanForChips(svc, QString()), QStringList({ chip }));
        QStringList failures;
        for (const QList<QVariant> &args : traffic) {
            if (!args.at(2).toString().isEmpty())
                failures << args.at(2).toString();
        }
        QCOMPARE(failures, QStringList());
        QCOMPARE(removed.count(), 0);
    }

    void registersEndToEnd()
    {
        QString err;
        svc->waitWriteRegister(chip, "\x40", "\x5A", err);
        QCOMPARE(err, QString());
        QCOMPARE(lastWrite(), QByteArray("\x40\x5A"));
        QCOMPARE(fake->call<int>("fake_ft4222_register", 0x40), 0x5A);

        // Values are most significant byte first; the wire is the other way.
        svc->waitWriteRegister(chip, "\x01", "\x12\x34", err);
        QCOMPARE(lastWrite(), QByteArray("\x01\x34\x12"));
        QCOMPARE(readRegister(svc, chip, "\x01", 2, err), QByteArray("\x12\x34"));
        QCOMPARE(err, QString());

        svc->waitRunScript(chip, { "write_register 0x02 0x3C", "read_register 0x02 1" }, err);
        QCOMPARE(err, QString());
        QCOMPARE(fake->call<int>("fake_ft4222_register", 0x02), 0x3C);
    }

    // Faults: the status error bit comes with every NACK, so every NACK
    // was reported as a disconnection; bus busy after a stop (a stuck bus)
    // passed as success; the controller was never reset after an error.
    // Only a bridge that cannot be reached is gone; every other failure has
    // its reason and a reset of the controller.
    void statusAndRetries_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<int>("scriptedPolls");
        QTest::addColumn<QString>("dat");
        QTest::addColumn<QByteArray>("regAddr");
        QTest::addColumn<int>("shortTransfers");
        QTest::addColumn<QString>("error");

        QTest::addRow("no chip at the address") << 0 << 0 << ":0x71:bvr60600" << QByteArray("\x41") << 0
                                                << "readRegister failed with error address NACK [cs=0x26]";
        QTest::addRow("no such register") << 0 << 0 << chip << QByteArray("\x43") << 0
                                          << "readRegister failed with error data NACK [cs=0x2a]";
        QTest::addRow("arbitration lost") << 0x30 << 1 << chip << QByteArray("\x41") << 0
                                          << "readRegister failed with error arbitration lost [cs=0x30]";
        QTest::addRow("error bit alone") << 0x22 << 1 << chip << QByteArray("\x41") << 0
                                         << "readRegister failed with error bus error [cs=0x22]";
        QTest::addRow("bus stuck after the stop") << 0x60 << -1 << chip << QByteArray("\x41") << 0
                                                  << "readRegister failed with error bus busy [cs=0x60]";
        QTest::addRow("busy throughout") << 0x01 << -1 << chip << QByteArray("\x41") << 0
                                         << "readRegister failed with error controller busy [cs=0x1]";
        QTest::addRow("busy, then idle") << 0x01 << 3 << chip << QByteArray("\x41") << 0 << "";
        QTest::addRow("short transfer") << 0 << 0 << chip << QByteArray("\x41") << 1
                                        << "readRegister did not complete";
        QTest::addRow("status unreadable") << -1 << -1 << chip << QByteArray("\x41") << 0
                                           << "readRegister failed with error status unreadable [ft=4] [disconnected]";
    }

    void statusAndRetries()
    {
        QFETCH(int, status);
        QFETCH(int, scriptedPolls);
        QFETCH(QString, dat);
        QFETCH(QByteArray, regAddr);
        QFETCH(int, shortTransfers);
        QFETCH(QString, error);

        QSignalSpy removed(svc, &I2cSvc::eventSlaveRemoved);
        fake->call("fake_ft4222_script_status", status, scriptedPolls);
        fake->call("fake_ft4222_short_transfers", shortTransfers);
        QString err;
        const QByteArray value = readRegister(svc, dat, regAddr, 1, err);
        QCOMPARE(err, error);
        const bool gone = error.endsWith(" [disconnected]");
        QCOMPARE(removed.count(), gone ? 1 : 0);
        QCOMPARE(fake->call<int>("fake_ft4222_take_resets"), error.isEmpty() || gone ? 0 : 1);
        if (error.isEmpty())
            QCOMPARE(value, QByteArray("\x07"));
    }

    // A slave scan asks the status once more at most, so that probing 112
    // addresses of a busy bus does not take seconds.
    void slaveScanPollsTwiceAtMost()
    {
        fake->call("fake_ft4222_script_status", 0x01, -1);
        QCOMPARE(scanForChips(svc, QString(), { 0x70 }), QStringList());
        QCOMPARE(fake->call<int>("fake_ft4222_take_status_polls"), 2);
    }

    void packets()
    {
        QSignalSpy read(svc, &I2cSvc::doneReadBulk);
        QSignalSpy written(svc, &I2cSvc::doneWriteBulk);
        emit svc->doReadBulk("r", chip, "\xB0", "\xC1", 10);
        QTRY_COMPARE(read.count(), 1);
        QCOMPARE(read.first().at(0).toString(), QString());
        // The bridge is always asked for a whole packet.
        QCOMPARE(fake->call<int>("fake_ft4222_last_read_size"), 512);
        QCOMPARE(read.first().at(5).toByteArray().size(), 512);
        QCOMPARE(lastWrite().left(5), QByteArray("\xB0\x00\x03\xC1\x00", 5));

        emit svc->doWriteBulk("w", chip, "\xB0", "\xC2", QByteArray(), 0);
        QTRY_COMPARE(written.count(), 1);
        QCOMPARE(written.first().at(0).toString(), QString());
        QCOMPARE(lastWrite(), QByteArray("\xB0\xC2"));
        emit svc->doWriteBulk("w", chip, "\xB0", "\xC2", "\x01\x02", 0);
        QTRY_COMPARE(written.count(), 2);
        QCOMPARE(lastWrite().left(7), QByteArray("\xB0\xC2\x00\x04\x00\x01\x02", 7));
    }

    // Fault: bridges of one kind describe themselves alike ("FT4222 A"),
    // and the device manager took adapters with equal descriptions for one:
    // a chip at 0x70 behind the second bridge counted as the project's chip
    // behind the default one, so reads and immediate writes went to a bus
    // without it; and removing one bridge removed every equal description,
    // leaving ids and descriptions out of step.
    void twoIdenticalBridgesEachWithAChip()
    {
        const QString second = QStringLiteral("0x5678:0x70:bvr60600");
        fake->call("fake_ft4222_select", 1);
        fake->call("fake_ft4222_set_connected", 1);
        rescan(svc);
        QString err;
        svc->waitWriteRegister(second, "\x40", "\x22", err);
        svc->waitWriteRegister(chip, "\x40", "\x11", err);
        // For now the default bridge's chip does not identify as a bvr60600.
        svc->waitWriteRegister(chip, "\x41", QByteArray(1, '\0'), err);
        QCOMPARE(err, QString());

        DeviceMgr *mgr = DeviceMgr::getInstance();
        const auto dropManager = qScopeGuard([] { delete DeviceMgr::getInstance(); });
        QCOMPARE(mgr->addDeviceToProject(chip), QString());
        QSignalSpy slaves(svc, &I2cSvc::eventSlaveAdded);
        mgr->setOnlineMode(true);
        QTRY_VERIFY_WITH_TIMEOUT(slaves.contains({ second }), 10000);
        QCOMPARE(mgr->dongleIds(), QStringList({ "", "0x1234", "0x5678" }));
        QCOMPARE(mgr->dongleDescriptions(), QStringList(3, "FT4222 A"));
        QVERIFY(!mgr->isConnected(chip));
        QCOMPARE(mgr->projectDats(), QStringList({ chip }));

        svc->waitWriteRegister(chip, "\x41", "\x07", err);
        QTRY_VERIFY_WITH_TIMEOUT(mgr->isConnected(chip), 10000);
        QCOMPARE(readRegister(svc, chip, "\x40", 1, err), QByteArray("\x11"));
        // Found under the default bridge's own id, the chip is still the
        // project's: the service says which bridge the empty id names.
        mgr->disconnectDevice(chip);
        QCOMPARE(scanForChips(svc, "0x1234", { 0x70 }), QStringList({ "0x1234" + chip }));
        QVERIFY(mgr->isConnected(chip));

        fake->call("fake_ft4222_set_connected", 0); // the second bridge
        QTRY_COMPARE_WITH_TIMEOUT(mgr->dongleIds(), QStringList({ "", "0x1234" }), 10000);
        QCOMPARE(mgr->dongleDescriptions(), QStringList(2, "FT4222 A"));
        QVERIFY(mgr->isConnected(chip));
    }

    // Fault: after the bridge was unplugged every remaining line still ran
    // against it, and waits still waited: a long script held the bus thread
    // for minutes. Once a line finds the adapter gone the rest fails at once
    // with that error, each line reported, and the next request finds the
    // adapter missing without a rescan.
    void unplugMidScript()
    {
        QSignalSpy removed(svc, &I2cSvc::eventSlaveRemoved);
        QSignalSpy reads(svc, &I2cSvc::doneReadRegister);
        fake->call("fake_ft4222_unplug_after", 4); // two reads go through
        QStringList script(6, QStringLiteral("read_register 0x41 1"));
        script.insert(4, QStringLiteral("wait_ms 60000"));
        QElapsedTimer timer;
        timer.start();
        QString err;
        const QStringList gone = announced(svc, &I2cSvc::eventDongleRemoved, [&] {
            svc->waitRunScript(chip, script, err);
        });
        QVERIFY(timer.elapsed() < 30000);
        QCOMPARE(err.split('\n'),
                 QStringList(4, QStringLiteral("readRegister failed with error I/O error [ft=4] [disconnected]")));
        QCOMPARE(reads.count(), 6);
        QVERIFY(removed.contains({ chip }));
        QCOMPARE(gone, QStringList({ "0x1234=FT4222 A", "=FT4222 A" }));
        QCOMPARE(fake->call<int>("fake_ft4222_open_handles"), 0);

        readRegister(svc, chip, "\x41", 1, err);
        QCOMPARE(err, QStringLiteral("Dongle[] has been removed or does not exist"));

        fake->call("fake_ft4222_set_connected", 1);
        QCOMPARE(announced(svc, &I2cSvc::eventDongleAdded, [this] { rescan(svc); }).size(), 2);
        QCOMPARE(readRegister(svc, chip, "\x41", 1, err), QByteArray("\x07"));
        QCOMPARE(err, QString());
    }
};

PANEL_TEST_MAIN(TestFt4222)
#include "tst_ft4222.moc"
