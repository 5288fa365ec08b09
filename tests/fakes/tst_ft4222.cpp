#include "adaptertest.h"
#include "testenv.h"

#include "services/settings.h"

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
    I2cSvc *svc = nullptr;

    QByteArray lastWrite() { return fake->bytes("fake_ft4222_last_write"); }

private slots:
    void initTestCase()
    {
        qputenv("PANEL_FT4222_LIBRARY", FAKE_FT4222_PATH);
        qputenv("PANEL_SUB20_LIBRARY", "/nonexistent/libsub.so");
        fake = std::make_unique<FakeLibrary>(QStringLiteral(FAKE_FT4222_PATH));
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
    }

    void cleanup()
    {
        delete svc;
        svc = nullptr;
    }

    void openedAtTheConfiguredSpeed()
    {
        QCOMPARE(fake->call<int>("fake_ft4222_init_kbps"), 1000);
        // The next scan finds the bridge listed as open and takes it over.
        const QStringList changes = announced(svc, &I2cSvc::eventDongleAdded, [this] {
            QCOMPARE(announced(svc, &I2cSvc::eventDongleRemoved, [this] { rescan(svc); }),
                     QStringList());
        });
        QCOMPARE(changes, QStringList());
        QString err;
        QCOMPARE(readRegister(svc, chip, "\x41", 1, err), QByteArray("\x07"));
    }

    // A bridge that cannot be set up must not stay open: the next scan would
    // take it over, listed as open, without the I2C master.
    void initFailureClosesTheBridge()
    {
        emit svc->doDisconnect();
        fake->call("fake_ft4222_fail_init", 1);
        QCOMPARE(announced(svc, &I2cSvc::eventDongleAdded, [this] { rescan(svc); }), QStringList());
        QCOMPARE(fake->call<int>("fake_ft4222_is_open"), 0);
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

    void slaveScanFindsTheChip()
    {
        QCOMPARE(scanForChips(svc, QString()), QStringList({ chip }));
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

    void statusAndRetries_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<int>("scriptedPolls");
        QTest::addColumn<QString>("dat");
        QTest::addColumn<int>("shortTransfers");
        QTest::addColumn<QString>("error");
        QTest::addColumn<int>("polls");

        QTest::addRow("status error") << 0x02 << 1 << chip << 0
                                      << "readRegister failed with error [cs=0x2] [disconnected]" << 1;
        QTest::addRow("arbitration lost") << 0x10 << 1 << chip << 0
                                          << "readRegister failed with error [cs=0x10] [disconnected]" << 1;
        QTest::addRow("busy throughout") << 0x01 << -1 << chip << 0
                                         << "readRegister failed with error [cs=0x1]" << 6;
        QTest::addRow("busy, then idle") << 0x01 << 3 << chip << 0 << "" << 4;
        QTest::addRow("no chip at the address") << 0 << 0 << ":0x71:bvr60600" << 0
                                                << "readRegister failed with error [cs=0x26] [disconnected]" << 1;
        QTest::addRow("short transfer") << 0 << 0 << chip << 1 << "readRegister did not complete" << 1;
    }

    void statusAndRetries()
    {
        QFETCH(int, status);
        QFETCH(int, scriptedPolls);
        QFETCH(QString, dat);
        QFETCH(int, shortTransfers);
        QFETCH(QString, error);
        QFETCH(int, polls);

        QSignalSpy removed(svc, &I2cSvc::eventSlaveRemoved);
        fake->call("fake_ft4222_script_status", status, scriptedPolls);
        fake->call("fake_ft4222_short_transfers", shortTransfers);
        QString err;
        const QByteArray value = readRegister(svc, dat, "\x41", 1, err);
        QCOMPARE(err, error);
        QCOMPARE(fake->call<int>("fake_ft4222_take_status_polls"), polls);
        QCOMPARE(removed.count(), error.endsWith(" [disconnected]") ? 1 : 0);
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

    void unplugMidScript()
    {
        QSignalSpy removed(svc, &I2cSvc::eventSlaveRemoved);
        // Two reads go through, four meet an unplugged bridge.
        fake->call("fake_ft4222_unplug_after", 4);
        QString err;
        svc->waitRunScript(chip, QStringList(6, QStringLiteral("read_register 0x41 1")), err);
        QCOMPARE(err.split('\n'),
                 QStringList(4, QStringLiteral("readRegister did not complete [disconnected]")));
        QVERIFY(removed.contains({ chip }));

        QCOMPARE(announced(svc, &I2cSvc::eventDongleRemoved, [this] { rescan(svc); }),
                 QStringList({ "0x1234=FT4222 A", "=FT4222 A" }));
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
