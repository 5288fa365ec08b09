#include "adaptertest.h"
#include "testenv.h"

#include "services/settings.h"

using namespace AdapterTest;

namespace {

const QString chip = QStringLiteral(":0x70:bvr60600");

} // namespace

// The SUB-20 adapter against a fake of the vendor's library, loaded the way
// the real one is, through the I2C service and its worker thread.
class TestSub20 : public QObject
{
    Q_OBJECT

    std::unique_ptr<FakeLibrary> fake;
    I2cSvc *svc = nullptr;

    QByteArray lastWrite() { return fake->bytes("fake_sub20_last_write"); }

private slots:
    void initTestCase()
    {
        qputenv("PANEL_SUB20_LIBRARY", FAKE_SUB20_PATH);
        qputenv("PANEL_FT4222_LIBRARY", "/nonexistent/libft4222.so");
        fake = std::make_unique<FakeLibrary>(QStringLiteral(FAKE_SUB20_PATH));
    }

    void init()
    {
        fake->call("fake_sub20_reset");
        Settings::getInstance()->setI2cSpeed(1000);
        svc = I2cSvc::getInstance();
        QCOMPARE(announced(svc, &I2cSvc::eventDongleAdded, [this] { rescan(svc); }),
                 QStringList({ "0x3A5F=SUB-20 fake", "=SUB-20 fake" }));
    }

    void cleanup()
    {
        delete svc;
        svc = nullptr;
    }

    // Open, the SUB-20 cannot be listed again; it stays because it still
    // answers, and every rescan sets its clock from the speed setting.
    void rescanKeepsItAndSetsTheClock_data()
    {
        QTest::addColumn<int>("speed");
        QTest::addColumn<int>("hz");
        QTest::addRow("capped") << 1000 << 400000;
        QTest::addRow("100 kbit/s") << 100 << 100000;
        QTest::addRow("400 kbit/s") << 400 << 400000;
    }

    void rescanKeepsItAndSetsTheClock()
    {
        QFETCH(int, speed);
        QFETCH(int, hz);
        QCOMPARE(fake->call<int>("fake_sub20_clock_hz"), 0); // the scan sets none
        // A new speed reopens every adapter; let that settle first.
        Settings::getInstance()->setI2cSpeed(speed);
        QString err;
        svc->waitRunScript(QString(), {}, err);
        const QStringList changes = announced(svc, &I2cSvc::eventDongleAdded, [this] {
            QCOMPARE(announced(svc, &I2cSvc::eventDongleRemoved, [this] { rescan(svc); }),
                     QStringList());
        });
        QCOMPARE(changes, QStringList());
        QCOMPARE(fake->call<int>("fake_sub20_clock_hz"), hz);
        QCOMPARE(readRegister(svc, chip, "\x41", 1, err), QByteArray("\x07"));
    }

    void bothIdsReachTheAdapter_data()
    {
        QTest::addColumn<QString>("dat");
        QTest::addRow("default adapter") << chip;
        QTest::addRow("own id") << QStringLiteral("0x3A5F:0x70:bvr60600");
    }

    void bothIdsReachTheAdapter()
    {
        QFETCH(QString, dat);
        QString err;
        QCOMPARE(readRegister(svc, dat, "\x41", 1, err), QByteArray("\x07"));
        QCOMPARE(err, QString());
    }

    void slaveScanFindsTheChip()
    {
        QCOMPARE(scanForChips(svc, QStringLiteral("0x3A5F")),
                 QStringList({ "0x3A5F:0x70:bvr60600" }));
    }

    void registersEndToEnd()
    {
        QString err;
        svc->waitWriteRegister(chip, "\x40", "\x5A", err);
        QCOMPARE(err, QString());
        QCOMPARE(fake->call<int>("fake_sub20_register", 0x40), 0x5A);

        svc->waitWriteRegister(chip, "\x01", "\x12\x34", err);
        QCOMPARE(lastWrite(), QByteArray("\x01\x34\x12"));
        QCOMPARE(readRegister(svc, chip, "\x01", 2, err), QByteArray("\x12\x34"));
        QCOMPARE(err, QString());

        readRegister(svc, chip, "\x43", 1, err);
        QCOMPARE(err, QStringLiteral("readRegister did not complete [disconnected]"));
    }

    void registerAddressIsOneNumber()
    {
        QString err;
        readRegister(svc, chip, "\x01\x23", 1, err);
        int size = 0;
        QCOMPARE(fake->call<int>("fake_sub20_last_memory_address", &size), 0x123);
        QCOMPARE(size, 2);
    }

    // The size goes out even when there is no data; the command never does.
    void packets()
    {
        QSignalSpy written(svc, &I2cSvc::doneWriteBulk);
        emit svc->doWriteBulk("w", chip, "\xB0", "\xC2", QByteArray(), 0);
        QTRY_COMPARE(written.count(), 1);
        QCOMPARE(written.first().at(0).toString(), QString());
        QCOMPARE(lastWrite(), QByteArray("\xB0\x00\x00", 3));

        QSignalSpy read(svc, &I2cSvc::doneReadBulk);
        emit svc->doReadBulk("r", chip, "\xB0", "\xC1", 10);
        QTRY_COMPARE(read.count(), 1);
        QCOMPARE(read.first().at(0).toString(), QString());
        QCOMPARE(fake->call<int>("fake_sub20_last_read_size"), 512);
        QCOMPARE(lastWrite().left(4), QByteArray("\xB0\x00\x03\xC1", 4));
    }

    void unplugMidScript()
    {
        QSignalSpy removed(svc, &I2cSvc::eventSlaveRemoved);
        fake->call("fake_sub20_unplug_after", 2);
        QString err;
        svc->waitRunScript(chip, QStringList(5, QStringLiteral("read_register 0x41 1")), err);
        QCOMPARE(err.split('\n'),
                 QStringList(3, QStringLiteral("readRegister did not complete [disconnected]")));
        QVERIFY(removed.contains({ chip }));

        // Gone, it no longer answers the rescan's question, and the adapter
        // dropped gives its handle back.
        const int closes = fake->call<int>("fake_sub20_closes");
        QCOMPARE(announced(svc, &I2cSvc::eventDongleRemoved, [this] { rescan(svc); }),
                 QStringList({ "0x3A5F=SUB-20 fake", "=SUB-20 fake" }));
        QCOMPARE(fake->call<int>("fake_sub20_closes"), closes + 1);

        fake->call("fake_sub20_set_connected", 1);
        QCOMPARE(announced(svc, &I2cSvc::eventDongleAdded, [this] { rescan(svc); }).size(), 2);
        QCOMPARE(readRegister(svc, chip, "\x41", 1, err), QByteArray("\x07"));
        QCOMPARE(err, QString());
    }
};

PANEL_TEST_MAIN(TestSub20)
#include "tst_sub20.moc"
