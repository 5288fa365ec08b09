#include "adaptertest.h"
#include "devicemgrtest.h"
#include "emulatedi2cbus.h"
#include "testenv.h"

#include "devices/devicemgr.h"
#include "devices/project.h"
#include "services/settings.h"

#include <mutex>

using namespace AdapterTest;

namespace {

const QString chip = QStringLiteral("i2c-1:0x70:bvr60600");

// Every message of the engine and of Qt, from any thread.
std::mutex s_logLock;
QStringList s_log;
QtMessageHandler s_previousHandler = nullptr;

void recordMessage(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    {
        std::lock_guard<std::mutex> locker(s_logLock);
        s_log << message;
    }
    s_previousHandler(type, context, message);
}

int loggedOnce(const QString &text)
{
    std::lock_guard<std::mutex> locker(s_logLock);
    return int(s_log.filter(text).size());
}

// The last combined transfer as "w70 41" and "r70 07" lines.
QStringList wireOf(const EmulatedI2cBus::Bus &bus)
{
    QStringList lines;
    for (const EmulatedI2cBus::Message &message : bus.last) {
        const QByteArray bytes(reinterpret_cast<const char *>(message.bytes.data()),
                               qsizetype(message.bytes.size()));
        lines << QStringLiteral("%1%2 %3")
                     .arg(message.read ? QLatin1Char('r') : QLatin1Char('w'))
                     .arg(message.address, 2, 16, QLatin1Char('0'))
                     .arg(QString::fromLatin1(bytes.toHex(' ')));
    }
    return lines;
}

} // namespace

// Kernel I2C buses through the I2C service and its worker thread, on
// /dev/i2c-N emulated by umockdev, so that the adapter's own open, ioctl
// and sysfs reads run.
class TestI2cDev : public QObject
{
    Q_OBJECT

    std::unique_ptr<EmulatedI2cBus> bus;
    I2cSvc *svc = nullptr;

    void start()
    {
        svc = I2cSvc::getInstance();
        rescan(svc);
    }

private slots:
    void initTestCase()
    {
        if (!EmulatedI2cBus::inMockEnvironment())
            QSKIP("needs umockdev's preload library: run it through ctest, or under umockdev-wrapper");
        // The emulated buses are the only kernel buses this process sees.
        qunsetenv("PANEL_KERNEL_I2C");
        // No vendor adapter may answer instead of the kernel bus.
        qputenv("PANEL_FT4222_LIBRARY", "/nonexistent/libft4222.so");
        qputenv("PANEL_SUB20_LIBRARY", "/nonexistent/libsub.so");
        EmulatedI2cBus::dropFileAccessOverride();
        s_previousHandler = qInstallMessageHandler(recordMessage);
    }

    void init()
    {
        bus = std::make_unique<EmulatedI2cBus>();
        Settings::getInstance()->setI2cOpenScanBuses({});
        Settings::getInstance()->setI2cSpeed(1000);
    }

    void cleanup()
    {
        delete svc;
        svc = nullptr;
        bus.reset();
    }

    // Buses come from the kernel's list, named as the kernel names them,
    // the lowest number first (it becomes the default adapter). A bus the
    // user may not open is left out with one note on how to get access, and
    // the clock note comes once per bus: rescans every second, and the
    // reopening a speed change causes, say nothing again. Each row has buses
    // of its own: the notes are once per process.
    void busesAreListed_data()
    {
        QTest::addColumn<QList<int>>("numbers");
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<bool>("smbusOnly");
        QTest::addColumn<bool>("denied");
        QTest::addColumn<QStringList>("announced");
        QTest::addColumn<QStringList>("notes");
        QTest::addRow("USB bridge") << QList<int>{ 5 } << QStringList{ "i2c-tiny-usb at bus 001 device 004" }
                                    << false << false
                                    << QStringList{ "=i2c-tiny-usb at bus 001 device 004",
                                                    "i2c-5=i2c-tiny-usb at bus 001 device 004" }
                                    << QStringList{ "i2c-5 (i2c-tiny-usb at bus 001 device 004): the clock of a "
                                                    "kernel I2C bus is set by its driver" };
        QTest::addRow("numeric order") << QList<int>{ 10, 2 } << QStringList{ "bus ten", "bus two" } << false << false
                                       << QStringList{ "=bus two", "i2c-10=bus ten", "i2c-2=bus two" }
                                       << QStringList{ "i2c-10 (bus ten): the clock", "i2c-2 (bus two): the clock" };
        QTest::addRow("no access") << QList<int>{ 3 } << QStringList{ "CP2112 SMBus Bridge on hidraw0" } << false << true
                                   << QStringList{}
                                   << QStringList{ "Cannot open /dev/i2c-3 (CP2112 SMBus Bridge on hidraw0): "
                                                   "Permission denied. Kernel I2C buses need membership of the i2c group" };
        QTest::addRow("SMBus only") << QList<int>{ 4 } << QStringList{ "SMBus I801 adapter at efa0" } << true << false
                                    << QStringList{ "=SMBus I801 adapter at efa0", "i2c-4=SMBus I801 adapter at efa0" }
                                    << QStringList{ "i2c-4 (SMBus I801 adapter at efa0) offers no plain I2C transfers" };
    }

    void busesAreListed()
    {
        QFETCH(QList<int>, numbers);
        QFETCH(QStringList, names);
        QFETCH(bool, smbusOnly);
        QFETCH(bool, denied);
        QFETCH(QStringList, announced);
        QFETCH(QStringList, notes);
        for (qsizetype i = 0; i < numbers.size(); ++i) {
            bus->addBus(numbers.at(i), names.at(i).toStdString(),
                        smbusOnly ? EmulatedI2cBus::SmbusOnly : EmulatedI2cBus::FullI2c);
            if (denied)
                bus->denyAccess(numbers.at(i));
        }
        svc = I2cSvc::getInstance();
        QCOMPARE(AdapterTest::announced(svc, &I2cSvc::eventDongleAdded, [this] { rescan(svc); }), announced);
        const QStringList again = AdapterTest::announced(svc, &I2cSvc::eventDongleAdded, [this] {
            rescan(svc);
            Settings::getInstance()->setI2cSpeed(400);
            rescan(svc);
        });
        // A speed change reopens every adapter; nothing is new for good.
        QCOMPARE(QSet<QString>(again.cbegin(), again.cend()),
                 QSet<QString>(announced.cbegin(), announced.cend()));
        for (const QString &note : notes)
            QVERIFY2(loggedOnce(note) == 1, qPrintable(QStringLiteral("%1 times: %2").arg(loggedOnce(note)).arg(note)));
    }

    // A PC's buses carry chips that must not be probed by accident: an open
    // scan reaches every address of a kernel bus only with the user's
    // consent for that very bus; a closed scan needs none.
    void openScanNeedsConsent_data()
    {
        QTest::addColumn<QStringList>("consent");
        QTest::addColumn<QList<unsigned char>>("addresses");
        QTest::addColumn<QStringList>("found");
        QTest::addColumn<int>("addressed");
        QTest::addRow("open, no consent") << QStringList{} << QList<unsigned char>{} << QStringList{} << 0;
        QTest::addRow("open, consent for another bus") << QStringList{ "i2c-2" } << QList<unsigned char>{}
                                                       << QStringList{} << 0;
        QTest::addRow("open, consent") << QStringList{ "i2c-1" } << QList<unsigned char>{}
                                       << QStringList{ chip } << 112;
        QTest::addRow("closed, no consent") << QStringList{} << QList<unsigned char>{ 0x70 }
                                            << QStringList{ chip } << 1;
    }

    void openScanNeedsConsent()
    {
        QFETCH(QStringList, consent);
        QFETCH(QList<unsigned char>, addresses);
        QFETCH(QStringList, found);
        QFETCH(int, addressed);
        bus->addBus(1, "i2c-tiny-usb at bus 001 device 004");
        Settings::getInstance()->setI2cOpenScanBuses(consent);
        start();
        QCOMPARE(scanForChips(svc, QStringLiteral("i2c-1"), addresses), found);
        QCOMPARE(bus->with(1, [](EmulatedI2cBus::Bus &b) { return int(b.addressed.size()); }), addressed);
    }

    // The window's path: with "scan all addresses" on, the device manager's
    // scans every second reach a kernel bus at the project's addresses only,
    // unless the user allowed the bus; the chip is found either way.
    void deviceManagerScansOpenlyOnlyWithConsent_data()
    {
        QTest::addColumn<QStringList>("consent");
        QTest::addColumn<int>("addressed");
        QTest::addRow("no consent") << QStringList{} << 1;
        QTest::addRow("consent") << QStringList{ "i2c-1" } << 112;
    }

    void deviceManagerScansOpenlyOnlyWithConsent()
    {
        QFETCH(QStringList, consent);
        QFETCH(int, addressed);
        bus->addBus(1, "i2c-tiny-usb at bus 001 device 004");
        Settings::getInstance()->setI2cOpenScanBuses(consent);
        std::unique_ptr<Bvr60600::DModel> model(DeviceMgrTest::quietStart());
        Settings::getInstance()->setScanOpen(true);
        svc = I2cSvc::getInstance();
        DeviceMgr *mgr = DeviceMgr::getInstance();
        mgr->setProject(new Project);
        QCOMPARE(mgr->addDeviceToProject(chip), QString());
        mgr->setOnlineMode(true);
        QTRY_VERIFY_WITH_TIMEOUT(mgr->isConnected(chip), 10000);
        // Scans go on every second; a few more have run by now.
        QTest::qWait(2500);
        QCOMPARE(bus->with(1, [](EmulatedI2cBus::Bus &b) { return int(b.addressed.size()); }), addressed);
        delete mgr;
        Settings::getInstance()->setScanOpen(false);
    }

    // Register transfers through the service, as the chip sees them on the
    // wire: a read is one combined transfer (register address written, then
    // read after a repeated start), least significant byte first.
    void registers_data()
    {
        QTest::addColumn<bool>("write");
        QTest::addColumn<QByteArray>("regAddr");
        QTest::addColumn<QByteArray>("value");
        QTest::addColumn<QStringList>("wire");
        QTest::addRow("read one byte") << false << QByteArray("\x41") << QByteArray("\x07")
                                       << QStringList{ "w70 41", "r70 07" };
        QTest::addRow("read two bytes") << false << QByteArray("\x01") << QByteArray("\x12\x34")
                                        << QStringList{ "w70 01", "r70 34 12" };
        QTest::addRow("write one byte") << true << QByteArray("\x40") << QByteArray("\x5a")
                                        << QStringList{ "w70 40 5a" };
        QTest::addRow("write two bytes") << true << QByteArray("\x01") << QByteArray("\x12\x34")
                                         << QStringList{ "w70 01 34 12" };
    }

    void registers()
    {
        QFETCH(bool, write);
        QFETCH(QByteArray, regAddr);
        QFETCH(QByteArray, value);
        QFETCH(QStringList, wire);
        bus->addBus(1, "i2c-tiny-usb at bus 001 device 004");
        bus->with(1, [](EmulatedI2cBus::Bus &b) {
            b.chip.registers[0x01] = 0x34;
            b.chip.registers[0x02] = 0x12;
        });
        start();
        QString err;
        if (write) {
            svc->waitWriteRegister(chip, regAddr, value, err);
            QCOMPARE(err, QString());
            QCOMPARE(bus->with(1, [](EmulatedI2cBus::Bus &b) { return wireOf(b); }), wire);
            QCOMPARE(readRegister(svc, chip, regAddr, int(value.size()), err), value);
        } else {
            QCOMPARE(readRegister(svc, chip, regAddr, int(value.size()), err), value);
            QCOMPARE(bus->with(1, [](EmulatedI2cBus::Bus &b) { return wireOf(b); }), wire);
        }
        QCOMPARE(err, QString());
    }

    // Bulk transfers in the worker's packets, as the chip sees them: each
    // packet read is one combined transfer that asks for the chip's whole
    // 512-byte reply after a repeated start, and each packet written is one
    // message; what the bus read is what the caller gets.
    void packets_data()
    {
        QTest::addColumn<bool>("write");
        QTest::addColumn<int>("size");
        QTest::addColumn<int>("transfers");
        QTest::addColumn<QByteArray>("sent"); // how the last write message starts
        QTest::addRow("read one packet") << false << 10 << 1 << QByteArray("\xb0\x00\x03\xc1\x00", 5);
        QTest::addRow("read two packets") << false << 600 << 2 << QByteArray("\xb0\x00\x03\xc1\x01", 5);
        QTest::addRow("write command only") << true << 0 << 1 << QByteArray("\xb0\xc2");
        QTest::addRow("write two packets") << true << 600 << 2 << QByteArray("\xb0\xc2\x00\x5a\x01\x11", 6);
    }

    void packets()
    {
        QFETCH(bool, write);
        QFETCH(int, size);
        QFETCH(int, transfers);
        QFETCH(QByteArray, sent);
        bus->addBus(1, "i2c-tiny-usb at bus 001 device 004");
        start();
        QSignalSpy done(svc, write ? &I2cSvc::doneWriteBulk : &I2cSvc::doneReadBulk);
        if (write)
            emit svc->doWriteBulk("w", chip, "\xb0", "\xc2", QByteArray(size, '\x11'), 0);
        else
            emit svc->doReadBulk("r", chip, "\xb0", "\xc1", quint16(size));
        QTRY_COMPARE(done.count(), 1);
        QCOMPARE(done.first().at(0).toString(), QString());
        const auto wire = bus->with(1, [](EmulatedI2cBus::Bus &b) { return std::make_pair(b.transfers, b.last); });
        QCOMPARE(wire.first, transfers);
        const std::vector<EmulatedI2cBus::Message> &last = wire.second;
        QCOMPARE(int(last.size()), write ? 1 : 2);
        QVERIFY(!last.front().read);
        const QByteArray message(reinterpret_cast<const char *>(last.front().bytes.data()),
                                 qsizetype(last.front().bytes.size()));
        QCOMPARE(message.left(sent.size()), sent);
        if (!write) {
            QVERIFY(last.back().read);
            const QByteArray reply(reinterpret_cast<const char *>(last.back().bytes.data()),
                                   qsizetype(last.back().bytes.size()));
            QCOMPARE(reply.size(), 512);
            const QByteArray data = done.first().at(5).toByteArray();
            QCOMPARE(data.size(), transfers * 512);
            QCOMPARE(data.right(512), reply);
        }
    }

    // A NACK is the chip (or nobody) not answering on a bus that works: the
    // line fails with its own text, the chip is not reported removed, and
    // the next transfer goes through.
    void nackIsAFailedTransfer_data()
    {
        QTest::addColumn<QString>("dat");
        QTest::addColumn<QByteArray>("regAddr");
        QTest::addColumn<QString>("text");
        QTest::addRow("address NACK") << QStringLiteral("i2c-1:0x71:bvr60600") << QByteArray("\x41")
                                      << QStringLiteral("i2c-1: NACK from 0x71 (No such device or address)");
        QTest::addRow("data NACK") << chip << QByteArray("\x43")
                                   << QStringLiteral("i2c-1: NACK from 0x70 (Remote I/O error)");
    }

    void nackIsAFailedTransfer()
    {
        QFETCH(QString, dat);
        QFETCH(QByteArray, regAddr);
        QFETCH(QString, text);
        bus->addBus(1, "i2c-tiny-usb at bus 001 device 004");
        start();
        QSignalSpy removed(svc, &I2cSvc::eventSlaveRemoved);
        QString err;
        svc->waitRunScript(dat, { QStringLiteral("read_register %1 1").arg(QString::fromLatin1(regAddr.toHex())),
                                  QStringLiteral("read_register 41 1") },
                           err);
        // The second line ran on the same chip address; only the first failed.
        const QStringList lines = err.split(QLatin1Char('\n'));
        QVERIFY2(lines.first().contains(text), qPrintable(err));
        QVERIFY2(!err.contains(QLatin1String("disconnected")), qPrintable(err));
        QCOMPARE(removed.count(), 0);
        QCOMPARE(readRegister(svc, chip, "\x41", 1, err), QByteArray("\x07"));
        QCOMPARE(err, QString());
    }

    // An unplugged USB bridge: the rest of the script fails at once as a
    // disconnection (no hang), the chip is reported removed, and the line
    // that finds the bus gone drops it from the registry and gives its
    // descriptor back, which the kernel waits for before it can finish
    // removing the adapter. A driver that answers the unplug with the same
    // code as a NACK (i2c-tiny-usb) is told apart by the kernel no longer
    // listing the bus; otherwise the bridge read as a chip not answering.
    void busVanishesMidScript_data()
    {
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("text");
        QTest::addRow("ENODEV") << int(ENODEV) << QStringLiteral("No such device");
        QTest::addRow("EREMOTEIO, bus no longer listed") << int(EREMOTEIO) << QStringLiteral("Remote I/O error");
    }

    void busVanishesMidScript()
    {
        QFETCH(int, code);
        QFETCH(QString, text);
        bus->addBus(1, "i2c-tiny-usb at bus 001 device 004");
        start();
        QSignalSpy removed(svc, &I2cSvc::eventSlaveRemoved);
        bus->with(1, [code](EmulatedI2cBus::Bus &b) {
            b.chip.unplugAfter = 2;
            b.unplugErrno = code;
        });
        QString err;
        const QStringList dropped = AdapterTest::announced(svc, &I2cSvc::eventDongleRemoved, [&] {
            svc->waitRunScript(chip, QStringList(5, QStringLiteral("read_register 41 1")), err);
        });
        QCOMPARE(err.split(QLatin1Char('\n')),
                 QStringList(3, QStringLiteral("readRegister failed with error i2c-1 is gone (%1) [disconnected]").arg(text)));
        QVERIFY(removed.contains({ chip }));
        QCOMPARE(dropped, QStringList({ "=i2c-tiny-usb at bus 001 device 004", "i2c-1=i2c-tiny-usb at bus 001 device 004" }));
        QCOMPARE(bus->openDescriptors(1), 0);
    }

    // A bus without plain I2C (a PC's SMBus controller) cannot make the
    // combined transfer the chip needs: every transfer is refused with a
    // text that says why, before anything reaches the bus, and it is not a
    // disconnection.
    void noPlainI2cIsRefused_data()
    {
        QTest::addColumn<int>("operation");
        QTest::addRow("read register") << 0;
        QTest::addRow("write register") << 1;
        QTest::addRow("read packet") << 2;
        QTest::addRow("write packet") << 3;
    }

    void noPlainI2cIsRefused()
    {
        QFETCH(int, operation);
        bus->addBus(1, "SMBus I801 adapter at efa0", EmulatedI2cBus::SmbusOnly);
        start();
        QString err;
        if (operation == 0) {
            readRegister(svc, chip, "\x41", 1, err);
        } else if (operation == 1) {
            svc->waitWriteRegister(chip, "\x40", "\x5a", err);
        } else {
            QSignalSpy read(svc, &I2cSvc::doneReadBulk);
            QSignalSpy written(svc, &I2cSvc::doneWriteBulk);
            if (operation == 2)
                emit svc->doReadBulk("r", chip, "\xb0", "\xc1", 10);
            else
                emit svc->doWriteBulk("w", chip, "\xb0", "\xc2", QByteArray(600, '\x11'), 0);
            QTRY_COMPARE(read.count() + written.count(), 1);
            err = (operation == 2 ? read : written).first().at(0).toString();
        }
        QVERIFY2(err.contains(QLatin1String("i2c-1 (SMBus I801 adapter at efa0) cannot do combined I2C "
                                            "transfers (the kernel reports no I2C_FUNC_I2C for it)")),
                 qPrintable(err));
        QVERIFY2(!err.contains(QLatin1String("disconnected")), qPrintable(err));
        QCOMPARE(bus->with(1, [](EmulatedI2cBus::Bus &b) { return b.transfers; }), 0);
    }
};

PANEL_TEST_MAIN(TestI2cDev)
#include "tst_i2cdev.moc"
