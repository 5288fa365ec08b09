#include "adaptertest.h"
#include "testenv.h"

#include <libusb.h>

using namespace AdapterTest;

// The controls of the libusb stand-in this test is linked with.
extern "C" {
void fake_usb_reset();
void fake_usb_set_connected(int connected);
void fake_usb_unplug_after(int transfers);
void fake_usb_short_transfers(int count);
int fake_usb_register(int reg);
void fake_usb_fail_transfers(int code, int count);
void fake_usb_script_reply(int code, int status);
void fake_usb_fail_claims(int count);
int fake_usb_take_calls(char *buffer, int size);
int fake_usb_last_out(unsigned char *buffer, int size);
int fake_usb_open_handles();
int fake_usb_stale_uses();
int fake_usb_log_level();
unsigned int fake_usb_last_timeout();
}

namespace {

const QString chip = QStringLiteral(":0x70:bvr60600");
const QString pod = QStringLiteral("=orvane Pic18 Usb Pod");
const QString resetCalls =
    QStringLiteral("release,close,exit,init,set_option,open,claim,set_configuration,"
                   "get_device_descriptor");

QString takeCalls()
{
    char buffer[2048];
    fake_usb_take_calls(buffer, sizeof(buffer));
    return QString::fromLatin1(buffer);
}

QByteArray lastRequest()
{
    return fetchBytes(&fake_usb_last_out);
}

QByteArray frame(const QByteArray &head)
{
    return head + QByteArray(64 - head.size(), '\0');
}

} // namespace

// The pod adapter through the I2C service, on a stand-in for libusb that
// plays the pod.
class TestPicPod : public QObject
{
    Q_OBJECT

    I2cSvc *svc = nullptr;

private slots:
    void initTestCase()
    {
        // Only the pod: no vendor library is to be found.
        qputenv("PANEL_FT4222_LIBRARY", "/nonexistent/libft4222.so");
        qputenv("PANEL_SUB20_LIBRARY", "/nonexistent/libsub.so");
    }

    void init()
    {
        fake_usb_reset();
        svc = I2cSvc::getInstance();
        QCOMPARE(announced(svc, &I2cSvc::eventDongleAdded, [this] { rescan(svc); }),
                 QStringList({ pod }));
        QCOMPARE(fake_usb_log_level(), int(LIBUSB_LOG_LEVEL_WARNING));
        takeCalls();
    }

    void cleanup()
    {
        delete svc;
        svc = nullptr;
        QCOMPARE(fake_usb_stale_uses(), 0);
    }

    void readRequestAndReply()
    {
        QString err;
        QCOMPARE(readRegister(svc, chip, "\x41", 1, err), QByteArray("\x07"));
        QCOMPARE(err, QString());
        QCOMPARE(lastRequest(), frame(QByteArray("\x01\x01\x1E\x81\xE0\x41")));
        QCOMPARE(fake_usb_last_timeout(), 100u);
        QCOMPARE(takeCalls(), QStringLiteral("out,in"));
    }

    void writeRequest()
    {
        QString err;
        svc->waitWriteRegister(chip, "\x40", "\x5A", err);
        QCOMPARE(err, QString());
        QCOMPARE(lastRequest(), frame(QByteArray("\x01\x01\x1E\x80\xE0\x40\x5A")));
        QCOMPARE(fake_usb_register(0x40), 0x5A);
        QCOMPARE(readRegister(svc, chip, "\x40", 1, err), QByteArray("\x5A"));
    }

    void slaveScanFindsTheChip()
    {
        QCOMPARE(scanForChips(svc, QString()), QStringList({ chip }));
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
        QCOMPARE(takeCalls(), QString());
        QCOMPARE(removed.count(), 0);
    }

    void replyChecksAndReset_data()
    {
        QTest::addColumn<bool>("write");
        QTest::addColumn<int>("failCode");
        QTest::addColumn<int>("replyCode");
        QTest::addColumn<int>("replyStatus");
        QTest::addColumn<int>("shortTransfers");
        QTest::addColumn<QString>("calls");

        QTest::addRow("read: status not 0") << false << 0 << -1 << 1 << 0 << "out,in";
        QTest::addRow("read: write's reply code") << false << 0 << 0x80 << -1 << 0 << "out,in";
        QTest::addRow("read: short request") << false << 0 << -1 << -1 << 1 << "out";
        QTest::addRow("read: timeout") << false << int(LIBUSB_ERROR_TIMEOUT) << -1 << -1 << 0 << "out";
        QTest::addRow("read: I/O error") << false << int(LIBUSB_ERROR_IO) << -1 << -1 << 0
                                         << "out," + resetCalls;
        QTest::addRow("write: status not 0") << true << 0 << -1 << 1 << 0 << "out,in";
        QTest::addRow("write: read's reply code") << true << 0 << 0x81 << -1 << 0 << "out,in";
        QTest::addRow("write: short request") << true << 0 << -1 << -1 << 1 << "out," + resetCalls;
        QTest::addRow("write: timeout") << true << int(LIBUSB_ERROR_TIMEOUT) << -1 << -1 << 0
                                        << "out," + resetCalls;
    }

    void replyChecksAndReset()
    {
        QFETCH(bool, write);
        QFETCH(int, failCode);
        QFETCH(int, replyCode);
        QFETCH(int, replyStatus);
        QFETCH(int, shortTransfers);
        QFETCH(QString, calls);

        if (failCode)
            fake_usb_fail_transfers(failCode, 1);
        fake_usb_script_reply(replyCode, replyStatus);
        fake_usb_short_transfers(shortTransfers);
        QString err;
        if (write) {
            svc->waitWriteRegister(chip, "\x40", "\x5A", err);
            QCOMPARE(err, QStringLiteral("writeRegister did not complete [disconnected]"));
        } else {
            readRegister(svc, chip, "\x41", 1, err);
            QCOMPARE(err, QStringLiteral("readRegister did not complete [disconnected]"));
        }
        QCOMPARE(takeCalls(), calls);

        // Reset or not, the pod answers again under the same adapter id.
        QCOMPARE(readRegister(svc, chip, "\x41", 1, err), QByteArray("\x07"));
        QCOMPARE(err, QString());
    }

    void packetsRefused()
    {
        QSignalSpy read(svc, &I2cSvc::doneReadBulk);
        QSignalSpy written(svc, &I2cSvc::doneWriteBulk);
        QTest::ignoreMessage(QtWarningMsg, "hwReadPacket not implemented for pic pod.");
        QTest::ignoreMessage(QtWarningMsg, "hwWritePacket not implemented for pic pod.");
        emit svc->doReadBulk("r", chip, "\xB0", "\xC1", 10);
        emit svc->doWriteBulk("w", chip, "\xB0", "\xC2", QByteArray(), 0);
        QTRY_COMPARE(written.count(), 1);
        QCOMPARE(read.first().at(0).toString(), QStringLiteral("readPacket did not complete [disconnected]"));
        QCOMPARE(written.first().at(0).toString(), QStringLiteral("writePacket did not complete [disconnected]"));
        QCOMPARE(takeCalls(), QString());
    }

    void unplugMidScript()
    {
        QSignalSpy removed(svc, &I2cSvc::eventSlaveRemoved);
        fake_usb_unplug_after(4);
        QString err;
        svc->waitRunScript(chip, QStringList(4, QStringLiteral("read_register 0x41 1")), err);
        QCOMPARE(err.split('\n'),
                 QStringList(2, QStringLiteral("readRegister did not complete [disconnected]")));
        QVERIFY(removed.contains({ chip }));

        QCOMPARE(announced(svc, &I2cSvc::eventDongleRemoved, [this] { rescan(svc); }),
                 QStringList({ pod }));
        QCOMPARE(fake_usb_open_handles(), 0);

        fake_usb_set_connected(1);
        QCOMPARE(announced(svc, &I2cSvc::eventDongleAdded, [this] { rescan(svc); }),
                 QStringList({ pod }));
        QCOMPARE(readRegister(svc, chip, "\x41", 1, err), QByteArray("\x07"));
        QCOMPARE(err, QString());
    }

    // A pod we cannot claim is let go at once: scans come every second.
    void unclaimablePodIsClosed()
    {
        emit svc->doDisconnect();
        fake_usb_fail_claims(1);
        QTest::ignoreMessage(QtDebugMsg, "Failed to claim device (libusb)");
        QCOMPARE(announced(svc, &I2cSvc::eventDongleAdded, [this] { rescan(svc); }), QStringList());
        QCOMPARE(fake_usb_open_handles(), 0);
        QCOMPARE(announced(svc, &I2cSvc::eventDongleAdded, [this] { rescan(svc); }),
                 QStringList({ pod }));
    }

    void teardownEndsTheContext()
    {
        delete svc;
        svc = nullptr;
        QCOMPARE(fake_usb_open_handles(), 0);
        QVERIFY(takeCalls().endsWith(QLatin1String("close,exit")));
    }
};

PANEL_TEST_MAIN(TestPicPod)
#include "tst_picpod.moc"
