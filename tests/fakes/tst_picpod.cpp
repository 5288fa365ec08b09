#include "adaptertest.h"
#include "emulatedpod.h"
#include "testenv.h"

#include <memory>

using namespace AdapterTest;

namespace {

// The pod sits in port 2 of bus 1; alone, it is also the default adapter.
const QString chip = QStringLiteral(":0x70:bvr60600");
const QString podId = QStringLiteral("pod-1-2");
const QString podChip = podId + chip;
const QStringList podAnnounced = { QStringLiteral("=orvane Pic18 Usb Pod"),
                                   podId + QStringLiteral("=orvane Pic18 Usb Pod") };

QByteArray frame(const QByteArray &head)
{
    return head + QByteArray(64 - head.size(), '\0');
}

} // namespace

Q_DECLARE_METATYPE(EmulatedPod::Fault)

// The pod adapter through the I2C service and the real libusb, on a pod
// emulated at the kernel's usbfs interface. An FT4222 stand-in is loaded
// too, unplugged but for the test that needs both.
class TestPicPod : public QObject
{
    Q_OBJECT

    std::unique_ptr<EmulatedPod> pod;
    std::unique_ptr<FakeLibrary> ft4222;
    I2cSvc *svc = nullptr;

    void start()
    {
        svc = I2cSvc::getInstance();
        QCOMPARE(announced(svc, &I2cSvc::eventDongleAdded, [this] { rescan(svc); }), podAnnounced);
    }

private slots:
    void initTestCase()
    {
        if (!EmulatedPod::available())
            QSKIP("needs umockdev's preload library: run under umockdev-wrapper");
        qputenv("PANEL_FT4222_LIBRARY", FAKE_FT4222_PATH);
        qputenv("PANEL_SUB20_LIBRARY", "/nonexistent/libsub.so");
        ft4222 = std::make_unique<FakeLibrary>(QStringLiteral(FAKE_FT4222_PATH));
        // Before the first libusb context is made: the testbed is what it
        // must find under /sys and /dev.
        pod = std::make_unique<EmulatedPod>();
    }

    void init()
    {
        // A failed init() skips cleanup(): start afresh all the same.
        if (svc)
            cleanup();
        ft4222->call("fake_ft4222_set_connected", 0);
        pod->plug();
        start();
    }

    void cleanup()
    {
        delete svc;
        svc = nullptr;
        pod->unplug();
    }

    // The service must let go of the pod while the emulated pod still
    // answers: left to the application's exit, the release would wait for
    // an answer for ever.
    void cleanupTestCase()
    {
        delete svc;
        svc = nullptr;
    }

    void readRequestAndReply()
    {
        QString err;
        QCOMPARE(readRegister(svc, chip, "\x41", 1, err), QByteArray("\x07"));
        QCOMPARE(err, QString());
        QCOMPARE(pod->lastRequest(), frame(QByteArray("\x01\x01\x1E\x81\xE0\x41")));
    }

    void writeRequest()
    {
        QString err;
        svc->waitWriteRegister(podChip, "\x40", "\x5A", err);
        QCOMPARE(err, QString());
        QCOMPARE(pod->lastRequest(), frame(QByteArray("\x01\x01\x1E\x80\xE0\x40\x5A")));
        QCOMPARE(pod->chipRegister(0x40), 0x5A);
        QCOMPARE(readRegister(svc, chip, "\x40", 1, err), QByteArray("\x5A"));
    }

    // Refused transfers must not reach the pod, nor count as a lost slave.
    void onlySingleBytes_data()
    {
        QTest::addColumn<QString>("op");
        QTest::addColumn<QByteArray>("regAddr");
        QTest::addColumn<QByteArray>("value");
        QTest::addColumn<QString>("error");

        const QString sizes = QStringLiteral("pic pod moves exactly one register address byte and "
                                             "one data byte (asked for %1 address and %2 data bytes)");
        QTest::addRow("read of a word") << "read" << QByteArray("\x41") << QByteArray(2, '\0')
                                        << sizes.arg(1).arg(2);
        QTest::addRow("read of nothing") << "read" << QByteArray("\x41") << QByteArray()
                                         << sizes.arg(1).arg(0);
        QTest::addRow("two-byte register address") << "read" << QByteArray("\x00\x41", 2)
                                                   << QByteArray(1, '\0') << sizes.arg(2).arg(1);
        QTest::addRow("write without register address") << "write" << QByteArray() << QByteArray("\x01")
                                                        << sizes.arg(0).arg(1);
        QTest::addRow("write of a word") << "write" << QByteArray("\x40") << QByteArray("\x12\x34")
                                         << sizes.arg(1).arg(2);
        QTest::addRow("block read") << "block" << QByteArray("\x99") << QByteArray(1, '\0')
                                    << "pic pod does not support block transfers";
    }

    void onlySingleBytes()
    {
        QFETCH(QString, op);
        QFETCH(QByteArray, regAddr);
        QFETCH(QByteArray, value);
        QFETCH(QString, error);

        QSignalSpy removed(svc, &I2cSvc::eventSlaveRemoved);
        const int before = pod->transfers();
        QString err;
        if (op == "read") {
            readRegister(svc, chip, regAddr, int(value.size()), err);
        } else if (op == "write") {
            svc->waitWriteRegister(chip, regAddr, value, err);
        } else {
            QList<PmbusCommand> commands = { { true, regAddr, 1, value } };
            svc->waitPmbusCommands(chip, commands, err);
        }
        QCOMPARE(err, error);
        QCOMPARE(pod->transfers(), before);
        QCOMPARE(removed.count(), 0);
    }

    // Fault: the pod claimed its interface and then set its configuration,
    // which usbfs refuses while an interface is claimed, so it never opened.
    // It must also open when a kernel driver holds it or it is unconfigured.
    void opensAsTheHostLeftIt_data()
    {
        QTest::addColumn<int>("configuration");
        QTest::addColumn<QByteArray>("kernelDriver");

        QTest::addRow("configured") << 1 << QByteArray();
        QTest::addRow("unconfigured") << 0 << QByteArray();
        QTest::addRow("held by a kernel driver") << 1 << QByteArray("usbhid");
    }

    void opensAsTheHostLeftIt()
    {
        QFETCH(int, configuration);
        QFETCH(QByteArray, kernelDriver);

        cleanup();
        pod->plug(configuration, kernelDriver);
        start();
        QVERIFY(!pod->kernelDriverBound());
        QString err;
        QCOMPARE(readRegister(svc, podChip, "\x41", 1, err), QByteArray("\x07"));
        QCOMPARE(err, QString());

        // The kernel driver gets the pod back when we let go.
        delete svc;
        svc = nullptr;
        QCOMPARE(pod->kernelDriverBound(), !kernelDriver.isEmpty());
    }

    // Fault: any failed write reset the whole libusb context (and with the
    // configuration fault, lost the pod). Only a pod that is gone is worth
    // a reset; it leaves the registry at once and the next scan opens it
    // afresh. A timeout or a stall leaves it open and working.
    void resetOnlyWhenGone_data()
    {
        QTest::addColumn<bool>("write");
        QTest::addColumn<EmulatedPod::Fault>("fault");
        QTest::addColumn<bool>("gone");

        QTest::addRow("write: request not taken") << true << EmulatedPod::Fault::RefusesRequest << false;
        QTest::addRow("write: endpoint stalls") << true << EmulatedPod::Fault::Stall << false;
        QTest::addRow("read: no answer") << false << EmulatedPod::Fault::Silent << false;
        QTest::addRow("read: endpoint stalls") << false << EmulatedPod::Fault::Stall << false;
        QTest::addRow("write: I/O error") << true << EmulatedPod::Fault::IoError << true;
    }

    void resetOnlyWhenGone()
    {
        QFETCH(bool, write);
        QFETCH(EmulatedPod::Fault, fault);
        QFETCH(bool, gone);

        pod->script(fault);
        QString err;
        const QStringList dropped = announced(svc, &I2cSvc::eventDongleRemoved, [&] {
            if (write)
                svc->waitWriteRegister(chip, "\x40", "\x5A", err);
            else
                readRegister(svc, chip, "\x41", 1, err);
        });
        QVERIFY(!err.isEmpty());
        QCOMPARE(err.contains(QLatin1String("[disconnected]")), gone);
        QCOMPARE(dropped, gone ? podAnnounced : QStringList());
        // Only a scan opens the pod.
        QCOMPARE(pod->opens(), 1);
        if (gone) {
            QCOMPARE(announced(svc, &I2cSvc::eventDongleAdded, [this] { rescan(svc); }), podAnnounced);
            QCOMPARE(pod->opens(), 2);
        }
        QString next;
        QCOMPARE(readRegister(svc, podChip, "\x41", 1, next), QByteArray("\x07"));
        QCOMPARE(next, QString());
    }

    // Fault: a stall the pod would not let be cleared counted as a failed
    // transfer of a working pod, which stayed and stalled every transfer.
    void stuckStallLosesThePod()
    {
        pod->script(EmulatedPod::Fault::StuckStall);
        QString err;
        const QStringList dropped = announced(svc, &I2cSvc::eventDongleRemoved, [&] {
            svc->waitWriteRegister(chip, "\x40", "\x5A", err);
        });
        QCOMPARE(err, QStringLiteral("writeRegister failed with error pic pod endpoint stalled and "
                                     "the stall could not be cleared [disconnected]"));
        QCOMPARE(dropped, podAnnounced);
        QTRY_COMPARE(pod->openFiles(), 0);
    }

    // Fault: every scan opened the pod a second time to see whether it was
    // still there, which some platforms refuse while our handle is open.
    void presenceWithoutReopening()
    {
        QCOMPARE(announced(svc, &I2cSvc::eventDongleAdded, [this] { rescan(svc); rescan(svc); }),
                 QStringList());
        QCOMPARE(pod->opens(), 1);

        pod->unplug();
        QCOMPARE(announced(svc, &I2cSvc::eventDongleRemoved, [this] { rescan(svc); }), podAnnounced);
        QTRY_COMPARE(pod->openFiles(), 0);

        pod->plug();
        QCOMPARE(announced(svc, &I2cSvc::eventDongleAdded, [this] { rescan(svc); }), podAnnounced);
        QString err;
        QCOMPARE(readRegister(svc, podChip, "\x41", 1, err), QByteArray("\x07"));
    }

    // Fault: a reply that came after the read had timed out was taken as the
    // answer to the next read, of another register, without any error.
    void lateReplyIsNotTheNextAnswer()
    {
        pod->script(EmulatedPod::Fault::LateReply);
        QString timedOut;
        readRegister(svc, chip, "\x41", 1, timedOut);

        QString err;
        QCOMPARE(readRegister(svc, chip, "\x40", 1, err), QByteArray("\x00", 1));
        QCOMPARE(err, QString());
        QCOMPARE(readRegister(svc, chip, "\x41", 1, err), QByteArray("\x07"));
        QVERIFY(!timedOut.isEmpty());
        QVERIFY(!timedOut.contains(QLatin1String("disconnected")));
    }

    // Fault: a NACK (a non-zero reply status) counted as a lost adapter, so
    // a chip that refused once dropped out, and every probe of an open scan
    // reported a removed slave.
    void nackIsNotADisconnection()
    {
        QSignalSpy removed(svc, &I2cSvc::eventSlaveRemoved);
        // No chip at the address, and no such register in the chip.
        for (const auto &[dat, reg] : { std::pair(":0x71:bvr60600", "\x41"), std::pair(":0x70:bvr60600", "\x42") }) {
            QString err;
            readRegister(svc, dat, reg, 1, err);
            QVERIFY2(err.contains(QLatin1String("NACK")), qPrintable(err));
            QVERIFY2(!err.contains(QLatin1String("disconnected")), qPrintable(err));
        }

        QCOMPARE(scanForChips(svc, QString()), QStringList({ QStringLiteral(":0x70:bvr60600") }));
        QCOMPARE(removed.count(), 0);
    }

    // A pod that is really gone is a disconnection with its reason: the
    // line that finds it gone drops it from the registry and lets go of its
    // usbfs file, and the rest of the script fails with that line's error.
    void unplugMidScript()
    {
        QSignalSpy removed(svc, &I2cSvc::eventSlaveRemoved);
        pod->unplugAfter(4);
        QString err;
        const QStringList dropped = announced(svc, &I2cSvc::eventDongleRemoved, [&] {
            svc->waitRunScript(chip, QStringList(4, QStringLiteral("read_register 0x41 1")), err);
        });
        const QStringList errors = err.split('\n');
        QCOMPARE(errors.size(), 2);
        QCOMPARE(errors.at(1), errors.at(0));
        QVERIFY2(errors.at(0).startsWith(QLatin1String("readRegister failed with error pic pod is gone ("))
                     && errors.at(0).endsWith(QLatin1String(") [disconnected]")),
                 qPrintable(err));
        QVERIFY(removed.contains({ chip }));
        QCOMPARE(dropped, podAnnounced);
        QTRY_COMPARE(pod->openFiles(), 0);
    }

    // Fault: beside an FT4222 the pod could not be reached: both wanted the
    // empty id. Each is reached under its own id, the empty one meaning the
    // default adapter (the FT4222, scanned first).
    void besideAnFt4222()
    {
        ft4222->call("fake_ft4222_set_connected", 1);
        QCOMPARE(announced(svc, &I2cSvc::eventDongleAdded, [this] { rescan(svc); }),
                 QStringList({ "0x1234=FT4222 A", "=FT4222 A" }));
        QString err;
        svc->waitWriteRegister(podChip, "\x40", "\x11", err);
        QCOMPARE(err, QString());
        svc->waitWriteRegister(chip, "\x40", "\x22", err);
        QCOMPARE(err, QString());
        QCOMPARE(pod->chipRegister(0x40), 0x11);
        QCOMPARE(ft4222->call<int>("fake_ft4222_register", 0x40), 0x22);
        QCOMPARE(readRegister(svc, podChip, "\x40", 1, err), QByteArray("\x11"));
        QCOMPARE(readRegister(svc, "0x1234" + chip, "\x40", 1, err), QByteArray("\x22"));
    }

    // Fault: a packet transfer, which the pod cannot make, failed without a
    // reason, as if it had been cut short.
    void packetsRefused()
    {
        QSignalSpy read(svc, &I2cSvc::doneReadBulk);
        QSignalSpy written(svc, &I2cSvc::doneWriteBulk);
        QSignalSpy removed(svc, &I2cSvc::eventSlaveRemoved);
        emit svc->doReadBulk("r", chip, "\xB0", "\xC1", 10);
        emit svc->doWriteBulk("w", chip, "\xB0", "\xC2", QByteArray(), 0);
        QTRY_COMPARE(written.count(), 1);
        const QString refused = QStringLiteral("pic pod does not support packet transfers");
        QCOMPARE(read.first().at(0).toString(), refused);
        QCOMPARE(written.first().at(0).toString(), refused);
        QCOMPARE(removed.count(), 0);
    }

    // A pod we cannot claim (another program holds it) is let go at once:
    // scans come every second.
    void unclaimablePodIsClosed()
    {
        cleanup();
        pod->plug(1, "usbfs");
        svc = I2cSvc::getInstance();
        QTest::ignoreMessage(QtDebugMsg, "Failed to claim device (libusb)");
        QCOMPARE(announced(svc, &I2cSvc::eventDongleAdded, [this] { rescan(svc); }), QStringList());
        QTRY_COMPARE(pod->openFiles(), 0);
    }

    void teardownClosesThePod()
    {
        delete svc;
        svc = nullptr;
        QTRY_COMPARE(pod->openFiles(), 0);
    }
};

PANEL_TEST_MAIN(TestPicPod)
#include "tst_picpod.moc"
