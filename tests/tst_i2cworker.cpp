#include "testdongle.h"
#include "testenv.h"

#include "i2c/i2cworker.h"
#include "services/settings.h"
#include "utils/utils.h"

#include <QSignalSpy>
#include <QThread>

#include <memory>

// Talks to the worker the way the application does: request signals queued
// to the worker's slots, results re-emitted on the main thread, where the
// spies read them.
class Requester : public QObject
{
    Q_OBJECT
signals:
    void doneReadBulk(const QString &err, const QString &ctx, const QString &dat,
                      const QByteArray &regAddr, const QByteArray &command, const QByteArray &data);
    void doneWriteBulk(const QString &err, const QString &ctx, const QString &dat,
                       const QByteArray &regAddr, const QByteArray &command, const QByteArray &data);
    void doneReadRegister(const QString &err, const QString &ctx, const QString &dat,
                          const QByteArray &regAddr, const QByteArray &regValue);
    void doneWriteRegister(const QString &err, const QString &ctx, const QString &dat,
                           const QByteArray &regAddr, const QByteArray &regValue);
    void eventLogText(const QString &text, QtMsgType type);
    void eventLogTxRx(const QString &dat, const QString &txrx, const QString &err);
    void eventDongleAdded(const QString &dongleId, const QString &dongleDescription);
    void eventDongleRemoved(const QString &dongleId, const QString &dongleDescription);
    void eventSlaveRemoved(const QString &dat);
    void eventProgress(const QString &ctx, const QString &dat, int progressValue, int progressMax);

    void doInitialize();
    void doShutdown();
    void doScanForDongles();
    void doReadBulk(const QString &ctx, const QString &dat, const QByteArray &regAddr,
                    const QByteArray &command, unsigned short size);
    void doWriteBulk(const QString &ctx, const QString &dat, const QByteArray &regAddr,
                     const QByteArray &command, const QByteArray &data, unsigned int packetDelay);
    void doReadRegister(const QString &ctx, const QString &dat, const QByteArray &regAddr,
                        signed char size);
    void doWriteRegister(const QString &ctx, const QString &dat, const QByteArray &regAddr,
                         const QByteArray &regValue);
};

// A worker on its own thread with one test adapter "0x1000" found by its
// first scan.
struct Rig
{
    QThread thread;
    I2cWorker *worker = nullptr;
    Requester req;
    TestScan scan;
    std::shared_ptr<TestDongle> dongle = TestDongle::make("0x1000", "bench adapter");

    std::unique_ptr<QSignalSpy> txrx;
    std::unique_ptr<QSignalSpy> logText;
    std::unique_ptr<QSignalSpy> progress;
    std::unique_ptr<QSignalSpy> slaveRemoved;

    explicit Rig(bool withAdapter = true)
    {
        worker = new I2cWorker;
        worker->moveToThread(&thread);
        QObject::connect(&thread, &QThread::finished, worker, &QObject::deleteLater);
        QObject::connect(&req, &Requester::doInitialize, worker, &I2cWorker::doInitialize);
        QObject::connect(&req, &Requester::doShutdown, worker, &I2cWorker::doShutdown);
        QObject::connect(&req, &Requester::doScanForDongles, worker, &I2cWorker::doScanForDongles);
        QObject::connect(&req, &Requester::doReadBulk, worker, &I2cWorker::doReadBulk);
        QObject::connect(&req, &Requester::doWriteBulk, worker, &I2cWorker::doWriteBulk);
        QObject::connect(&req, &Requester::doReadRegister, worker, &I2cWorker::doReadRegister);
        QObject::connect(&req, &Requester::doWriteRegister, worker, &I2cWorker::doWriteRegister);
        QObject::connect(worker, &I2cWorker::doneReadBulk, &req, &Requester::doneReadBulk);
        QObject::connect(worker, &I2cWorker::doneWriteBulk, &req, &Requester::doneWriteBulk);
        QObject::connect(worker, &I2cWorker::doneReadRegister, &req, &Requester::doneReadRegister);
        QObject::connect(worker, &I2cWorker::doneWriteRegister, &req, &Requester::doneWriteRegister);
        QObject::connect(worker, &I2cWorker::eventLogText, &req, &Requester::eventLogText);
        QObject::connect(worker, &I2cWorker::eventLogTxRx, &req, &Requester::eventLogTxRx);
        QObject::connect(worker, &I2cWorker::eventDongleAdded, &req, &Requester::eventDongleAdded);
        QObject::connect(worker, &I2cWorker::eventDongleRemoved, &req, &Requester::eventDongleRemoved);
        QObject::connect(worker, &I2cWorker::eventSlaveRemoved, &req, &Requester::eventSlaveRemoved);
        QObject::connect(worker, &I2cWorker::eventProgress, &req, &Requester::eventProgress);
        txrx.reset(new QSignalSpy(&req, &Requester::eventLogTxRx));
        logText.reset(new QSignalSpy(&req, &Requester::eventLogText));
        progress.reset(new QSignalSpy(&req, &Requester::eventProgress));
        slaveRemoved.reset(new QSignalSpy(&req, &Requester::eventSlaveRemoved));

        Dongles::DongleMgr::GetInstance()->registerScanFn(scan);
        if (withAdapter)
            scan.found->append(dongle);
        thread.start();
        if (withAdapter)
            scanNow();
    }

    ~Rig()
    {
        thread.quit();
        thread.wait();
    }

    void scanNow()
    {
        QSignalSpy added(&req, &Requester::eventDongleAdded);
        emit req.doScanForDongles();
        if (!scan.found->isEmpty())
            QTRY_COMPARE(added.count(), 2); // once under "" and once under its id
        clearSpies();
    }

    void clearSpies()
    {
        txrx->clear();
        logText->clear();
        progress->clear();
        slaveRemoved->clear();
        dongle->clearCalls();
    }

    QStringList trafficLines() const
    {
        QStringList lines;
        for (const QList<QVariant> &args : *txrx)
            lines << args.at(1).toString();
        return lines;
    }

    // Runs fn on the worker thread and waits for it.
    template<typename Fn>
    void onWorker(Fn fn)
    {
        QMetaObject::invokeMethod(worker, fn, Qt::BlockingQueuedConnection);
    }
};

class TestI2cWorker : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        Settings::getInstance()->setCommsDebugMode(false);
    }

    void readRegisterDeliversCallerOrder_data()
    {
        QTest::addColumn<bool>("oneByteAdapter");
        QTest::addColumn<QByteArray>("wire");
        QTest::addColumn<int>("size");
        QTest::addColumn<QByteArray>("expected");
        QTest::addColumn<QString>("traffic");
        QTest::addRow("two bytes, buffer-filling adapter")
            << false << QByteArray("\x34\x12", 2) << 2 << QByteArray("\x12\x34", 2)
            << "read_register [41] [3412]";
        // A one-byte read through an adapter that fills only the buffer used
        // to come back as the zero it was sent with.
        QTest::addRow("one byte, buffer-filling adapter")
            << false << QByteArray("\x07", 1) << 1 << QByteArray("\x07", 1)
            << "read_register [41] [07]";
        QTest::addRow("one byte, adapter writing the value directly")
            << true << QByteArray("\x07", 1) << 1 << QByteArray("\x07", 1)
            << "read_register [41] [00]";
        QTest::addRow("size zero") << false << QByteArray() << 0 << QByteArray()
                                   << "read_register [41] []";
    }
    void readRegisterDeliversCallerOrder()
    {
        QFETCH(bool, oneByteAdapter);
        QFETCH(QByteArray, wire);
        QFETCH(int, size);
        QFETCH(QByteArray, expected);
        QFETCH(QString, traffic);

        Rig rig;
        TestDongleBehaviour b;
        b.deliversToRegValue = oneByteAdapter;
        rig.dongle->setBehaviour(b);
        rig.dongle->wireImage.insert(QByteArray("\x41"), wire);

        QSignalSpy done(&rig.req, &Requester::doneReadRegister);
        emit rig.req.doReadRegister("ctx1", ":0x70:bvr60600", QByteArray("\x41"), char(size));
        QTRY_COMPARE(done.count(), 1);
        const QList<QVariant> args = done.first();
        QCOMPARE(args.at(0).toString(), QString());
        QCOMPARE(args.at(1).toString(), QStringLiteral("ctx1"));
        QCOMPARE(args.at(2).toString(), QStringLiteral(":0x70:bvr60600"));
        QCOMPARE(args.at(4).toByteArray(), expected);
        QCOMPARE(rig.trafficLines(), QStringList({ traffic }));
        QCOMPARE(rig.dongle->calls().first().address, ushort(0x70));
        QCOMPARE(rig.dongle->retries(), 5);
    }

    void blockReadStripsTheCount()
    {
        Rig rig;
        rig.dongle->wireImage.insert(QByteArray("\x9e"), QByteArray("\x02\xaa\xbb", 3));
        bool ok = false;
        QString err;
        QByteArray value(2, '\0');
        rig.onWorker([&] {
            ok = rig.worker->hwReadRegister(err, ":0x70:pmbus", QByteArray("\x9e"), value, 1);
        });
        QVERIFY(ok);
        QCOMPARE(value, QByteArray("\xaa\xbb", 2));
        QCOMPARE(rig.dongle->calls().first().payload.size(), 3); // count byte + 2
    }

    void writeRegisterReversesForTheWire_data()
    {
        QTest::addColumn<int>("flags");
        QTest::addColumn<QByteArray>("payload");
        QTest::addColumn<QString>("traffic");
        QTest::addRow("word, least significant byte first")
            << 0 << QByteArray("\x01\x00", 2) << "write_register 21 0100";
        QTest::addRow("block, count in front")
            << 1 << QByteArray("\x02\x00\x01", 3) << "write_register 21 020001";
    }
    void writeRegisterReversesForTheWire()
    {
        QFETCH(int, flags);
        QFETCH(QByteArray, payload);
        QFETCH(QString, traffic);
        Rig rig;
        rig.onWorker([&] {
            QString err;
            rig.worker->hwWriteRegister(err, ":0x70:pmbus", QByteArray("\x21"),
                                        QByteArray("\x00\x01", 2), uchar(flags));
        });
        QCOMPARE(rig.dongle->calls().first().payload, payload);
        QTRY_COMPARE(rig.trafficLines(), QStringList({ traffic }));
    }

    void completionCheckTexts_data()
    {
        QTest::addColumn<bool>("fail");
        QTest::addColumn<QString>("errorText");
        QTest::addColumn<QString>("statusText");
        QTest::addColumn<bool>("disconnected");
        QTest::addColumn<QString>("expected");
        QTest::addRow("silent failure")
            << true << QString() << QString() << false << "writeRegister did not complete [disconnected]";
        QTest::addRow("adapter message kept as it is")
            << true << "nack" << QString() << false << "nack";
        QTest::addRow("status text on success")
            << false << QString() << "[cs=0x10]" << false << "writeRegister failed with error [cs=0x10]";
        QTest::addRow("status text and disconnected")
            << false << QString() << "[cs=0x40]" << true
            << "writeRegister failed with error [cs=0x40] [disconnected]";
    }
    void completionCheckTexts()
    {
        QFETCH(bool, fail);
        QFETCH(QString, errorText);
        QFETCH(QString, statusText);
        QFETCH(bool, disconnected);
        QFETCH(QString, expected);

        Rig rig;
        TestDongleBehaviour b;
        b.fail = fail;
        b.errorText = errorText;
        b.statusText = statusText;
        b.reportDisconnected = disconnected;
        rig.dongle->setBehaviour(b);

        QSignalSpy done(&rig.req, &Requester::doneWriteRegister);
        emit rig.req.doWriteRegister("c", ":0x70:bvr60600", QByteArray("\x01"), QByteArray("\x02"));
        QTRY_COMPARE(done.count(), 1);
        QCOMPARE(done.first().at(0).toString(), expected);
        // The traffic line carries the error; "disconnected" also drops the
        // slave, and an adapter that says why it is gone is forgotten at once
        // (under "" and its own id), while a silent failure is only a guess.
        QCOMPARE(rig.txrx->count(), disconnected && !statusText.isEmpty() ? 3 : 1);
        QCOMPARE(rig.txrx->first().at(2).toString(), expected);
        QCOMPARE(rig.slaveRemoved->count(), expected.contains("disconnected") ? 1 : 0);
        // Errors are always logged as warnings, debug logging or not.
        QCOMPARE(rig.logText->count(), 1);
        QCOMPARE(rig.logText->first().at(0).toString(),
                 QStringLiteral("I2cWorker_doWriteRegister[c]: executed FAIL (%1)").arg(expected));
        QCOMPARE(rig.logText->first().at(1).value<QtMsgType>(), QtWarningMsg);
    }

    void missingAdapterFailsWithoutTraffic_data()
    {
        QTest::addColumn<bool>("anyAdapter");
        QTest::addColumn<QString>("dat");
        QTest::addColumn<QString>("expected");
        QTest::addRow("unknown adapter id")
            << true << "0x9:0x70:bvr60600" << "Dongle[0x9] has been removed or does not exist";
        QTest::addRow("default adapter, none present")
            << false << ":0x70:bvr60600" << "Dongle[] has been removed or does not exist";
        QTest::addRow("malformed DAT") << false << "" << "Dongle[] has been removed or does not exist";
    }
    void missingAdapterFailsWithoutTraffic()
    {
        QFETCH(bool, anyAdapter);
        QFETCH(QString, dat);
        QFETCH(QString, expected);
        Rig rig(anyAdapter);
        QSignalSpy read(&rig.req, &Requester::doneReadRegister);
        QSignalSpy bulk(&rig.req, &Requester::doneWriteBulk);
        emit rig.req.doReadRegister("r", dat, QByteArray("\x41"), 1);
        emit rig.req.doWriteBulk("w", dat, QByteArray(), QByteArray("\x10"), QByteArray(600, 'd'), 0);
        QTRY_COMPARE(bulk.count(), 1);
        QCOMPARE(read.count(), 1);
        QCOMPARE(read.first().at(0).toString(), expected);
        QCOMPARE(bulk.first().at(0).toString(), expected);
        QCOMPARE(rig.txrx->count(), 0);
        QCOMPARE(rig.dongle->calls().count(), 0);
    }

    void readBulkSplitsIntoPackets_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<int>("packets");
        QTest::addRow("empty") << 0 << 0;
        QTest::addRow("one byte") << 1 << 1;
        QTest::addRow("exactly one packet") << 512 << 1;
        QTest::addRow("one byte more") << 513 << 2;
        QTest::addRow("largest size") << 65535 << 128;
    }
    void readBulkSplitsIntoPackets()
    {
        QFETCH(int, size);
        QFETCH(int, packets);
        Rig rig;
        rig.dongle->packetReply = QByteArray("\x01\x02\x03", 3);
        QSignalSpy done(&rig.req, &Requester::doneReadBulk);
        const QByteArray command("\xc0", 1);
        emit rig.req.doReadBulk("b", ":0x70:bvr60600", QByteArray("\x05"), command, ushort(size));
        QTRY_COMPARE(done.count(), 1);
        QCOMPARE(done.first().at(0).toString(), QString());
        QCOMPARE(done.first().at(5).toByteArray(), QByteArray("\x01\x02\x03", 3).repeated(packets));

        const QList<TestDongle::Call> calls = rig.dongle->calls();
        QCOMPARE(calls.count(), packets);
        for (int i = 0; i < packets; ++i) {
            QByteArray request = command + char(i);
            request += char(Utils::crc8(request));
            QCOMPARE(calls.at(i).payload, request);
            QCOMPARE(rig.progress->at(i).at(2).toInt(), i + 1);
            QCOMPARE(rig.progress->at(i).at(3).toInt(), packets + 1);
        }
        if (packets > 0)
            QCOMPARE(rig.trafficLines().first(),
                     QStringLiteral("readPacket 05 01_02_03 (packet size 3)"));
    }

    void writeBulkPacketsCarryIndexAndCrc()
    {
        Rig rig;
        QByteArray data(1000, '\0');
        for (int i = 0; i < data.size(); ++i)
            data[i] = char(i * 7);
        QSignalSpy done(&rig.req, &Requester::doneWriteBulk);
        emit rig.req.doWriteBulk("w", ":0x70:bvr60600", QByteArray("\x05"), QByteArray("\xc1"), data, 0);
        QTRY_COMPARE(done.count(), 1);
        QCOMPARE(done.first().at(0).toString(), QString());

        const QList<TestDongle::Call> calls = rig.dongle->calls();
        QCOMPARE(calls.count(), 2);
        for (int i = 0; i < 2; ++i) {
            QByteArray packet = char(i) + data.mid(i * 512, 512);
            packet += char(Utils::crc8(packet));
            QCOMPARE(calls.at(i).payload, packet);
            QCOMPARE(calls.at(i).command, QByteArray("\xc1"));
        }
        QCOMPARE(calls.at(1).payload.size(), 1 + 488 + 1);
        QCOMPARE(rig.progress->count(), 3);
        QCOMPARE(rig.progress->at(1).at(2).toInt(), 2);
        QCOMPARE(rig.progress->at(1).at(3).toInt(), 3);
        QVERIFY(rig.trafficLines().first().startsWith("writePacket 05 00_00_07_0e_15"));
        QVERIFY(rig.trafficLines().first().endsWith("(packet size 514)"));
    }

    // A bulk transfer outside a script stopped its progress at n of n + 1,
    // and the footer's busy indicator stayed on for good.
    void bulkProgressEnds_data()
    {
        QTest::addColumn<bool>("write");
        QTest::addColumn<int>("size");
        QTest::addColumn<int>("failFrom");
        QTest::addRow("read, one packet") << false << 1 << -1;
        QTest::addRow("read, three packets") << false << 1500 << -1;
        QTest::addRow("write, two packets") << true << 1000 << -1;
        QTest::addRow("read failing at the second packet") << false << 1500 << 1;
        QTest::addRow("write failing at the first packet") << true << 1000 << 0;
    }
    void bulkProgressEnds()
    {
        QFETCH(bool, write);
        QFETCH(int, size);
        QFETCH(int, failFrom);
        Rig rig;
        TestDongleBehaviour b;
        b.failPacketIndex = failFrom;
        b.errorText = failFrom >= 0 ? QStringLiteral("busy") : QString();
        rig.dongle->setBehaviour(b);
        rig.dongle->packetReply = QByteArray("\x01", 1);
        QSignalSpy read(&rig.req, &Requester::doneReadBulk);
        QSignalSpy written(&rig.req, &Requester::doneWriteBulk);
        if (write)
            emit rig.req.doWriteBulk("w", ":0x70:bvr60600", {}, QByteArray("\xc1"), QByteArray(size, 'x'), 0);
        else
            emit rig.req.doReadBulk("r", ":0x70:bvr60600", {}, QByteArray("\xc0"), ushort(size));
        QTRY_COMPARE(read.count() + written.count(), 1);
        QCOMPARE((write ? written : read).first().at(0).toString().isEmpty(), failFrom < 0);
        QVERIFY(!rig.progress->isEmpty());
        const QList<QVariant> last = rig.progress->last();
        QCOMPARE(last.at(2).toInt(), last.at(3).toInt());
    }

    void writeBulkWithoutDataSendsTheCommandAlone()
    {
        Settings::getInstance()->setCommsDebugMode(true); // to see the command log line
        Rig rig;
        QSignalSpy done(&rig.req, &Requester::doneWriteBulk);
        emit rig.req.doWriteBulk("w", ":0x70:bvr60600", QByteArray(), QByteArray("RST"), QByteArray(), 0);
        QTRY_COMPARE(done.count(), 1);
        QCOMPARE(rig.dongle->calls().count(), 1);
        QCOMPARE(rig.dongle->calls().first().payload, QByteArray());
        QCOMPARE(rig.trafficLines(), QStringList({ "writePacket   ...  (packet size 0)" }));
        QCOMPARE(rig.logText->first().at(0).toString(), QStringLiteral("I2cWorker_doWriteBulk Command: RST"));
    }

    void failingPacketStopsTheBulkLoop()
    {
        Rig rig;
        TestDongleBehaviour b;
        b.failPacketIndex = 1;
        b.errorText = "busy";
        rig.dongle->setBehaviour(b);
        QSignalSpy done(&rig.req, &Requester::doneWriteBulk);
        emit rig.req.doWriteBulk("w", ":0x70:bvr60600", {}, QByteArray("\xc1"), QByteArray(1500, 'x'), 0);
        QTRY_COMPARE(done.count(), 1);
        QCOMPARE(done.first().at(0).toString(), QStringLiteral("busy"));
        QCOMPARE(rig.dongle->calls().count(), 2);

        QSignalSpy readDone(&rig.req, &Requester::doneReadBulk);
        rig.dongle->clearCalls();
        b.failPacketIndex = 0;
        b.fail = false;
        rig.dongle->setBehaviour(b);
        emit rig.req.doReadBulk("r", ":0x70:bvr60600", {}, QByteArray("\xc0"), 2000);
        QTRY_COMPARE(readDone.count(), 1);
        QCOMPARE(readDone.first().at(0).toString(), QStringLiteral("busy"));
        QCOMPARE(rig.dongle->calls().count(), 1);
    }

    // 256 packets would wrap the one-byte packet index and quietly send only
    // part of the data while reporting success.
    void oversizedBulkWriteIsRefused()
    {
        Rig rig;
        QSignalSpy done(&rig.req, &Requester::doneWriteBulk);
        emit rig.req.doWriteBulk("w", ":0x70:bvr60600", {}, QByteArray("\xc1"),
                                 QByteArray(255 * 512 + 1, 'x'), 0);
        emit rig.req.doWriteBulk("w", ":0x70:bvr60600", {}, QByteArray("\xc1"),
                                 QByteArray(255 * 512, 'x'), 0);
        QTRY_COMPARE(done.count(), 2);
        QVERIFY(done.at(0).at(0).toString().contains("refused"));
        QCOMPARE(done.at(1).at(0).toString(), QString());
        QCOMPARE(rig.dongle->calls().count(), 255);
    }

    void debugLinesOnlyInCommsDebugMode_data()
    {
        QTest::addColumn<bool>("debugMode");
        QTest::addRow("quiet") << false;
        QTest::addRow("debug mode") << true;
    }
    void debugLinesOnlyInCommsDebugMode()
    {
        QFETCH(bool, debugMode);
        // The worker copies the setting when it is built.
        Settings::getInstance()->setCommsDebugMode(debugMode);
        Rig rig;
        Settings::getInstance()->setCommsDebugMode(!debugMode);
        QSignalSpy done(&rig.req, &Requester::doneReadRegister);
        emit rig.req.doReadRegister("x", ":0x70:bvr60600", QByteArray("\x41"), 1);
        QTRY_COMPARE(done.count(), 1);
        QCOMPARE(rig.logText->count(), debugMode ? 1 : 0);
        if (debugMode)
            QCOMPARE(rig.logText->first().at(0).toString(),
                     QStringLiteral("I2cWorker_doReadRegister[x]: executed OK"));
    }

    void scanAndShutdownReportAdapters()
    {
        Rig rig(false);
        QSignalSpy added(&rig.req, &Requester::eventDongleAdded);
        QSignalSpy removed(&rig.req, &Requester::eventDongleRemoved);
        rig.scan.found->append(rig.dongle);
        emit rig.req.doScanForDongles();
        QTRY_COMPARE(added.count(), 2);
        QCOMPARE(added.at(0).at(0).toString(), QString());
        QCOMPARE(added.at(1).at(0).toString(), QStringLiteral("0x1000"));
        QCOMPARE(added.at(1).at(1).toString(), QStringLiteral("bench adapter"));
        const QString addedLine = QStringLiteral("Dongle 0x1000 added, i2c speed %1 kbits/s")
                                      .arg(Settings::getInstance()->i2cSpeed());
        QCOMPARE(rig.trafficLines(), QStringList({ addedLine, addedLine }));

        rig.txrx->clear();
        emit rig.req.doShutdown();
        QTRY_COMPARE(removed.count(), 2);
        QCOMPARE(rig.trafficLines(), QStringList({ "Dongle  removed", "Dongle 0x1000 removed" }));
        QCOMPARE(rig.dongle->closes.load(), 1);
        QCOMPARE(rig.logText->last().at(0).toString(),
                 QStringLiteral("I2cWorker_doShutdown: Closed all dongles"));
        QCOMPARE(rig.logText->last().at(1).value<QtMsgType>(), QtCriticalMsg);

        // doInitialize closes what is open and scans again.
        emit rig.req.doScanForDongles();
        QTRY_COMPARE(added.count(), 4);
        emit rig.req.doInitialize();
        QTRY_COMPARE(added.count(), 6);
        QCOMPARE(removed.count(), 4);
    }

    void workerTeardownClosesAdapters()
    {
        std::shared_ptr<TestDongle> dongle;
        {
            Rig rig;
            dongle = rig.dongle;
        }
        QCOMPARE(dongle->closes.load(), 1);
    }
};

PANEL_TEST_MAIN(TestI2cWorker)
#include "tst_i2cworker.moc"
