#include "testdongle.h"
#include "testenv.h"

#include "i2c/i2csvc.h"
#include "i2c/vslave.h"
#include "services/settings.h"
#include "utils/utils.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QThread>

#include <atomic>

namespace {

// A simulated chip with one register preset, to see that init() runs and
// that the image answers.
class TestVSlave : public VSlave
{
public:
    using VSlave::VSlave;
    QString myType() const override { return QStringLiteral("testchip"); }
    void init() override
    {
        registers().bytesToStore(Registers::GroupRegister, QByteArray("\x41"), QByteArray("\x07"));
    }
};

VSlave *makeTestSlave(const QString &dat)
{
    if (Utils::datType(dat) != QLatin1String("testchip"))
        return nullptr;
    auto *slave = new TestVSlave(dat);
    slave->init();
    return slave;
}

const QString vdat = QStringLiteral(":0x70:testchip");

QStringList errors(const QSignalSpy &spy)
{
    QStringList list;
    for (const QList<QVariant> &args : spy)
        list << args.at(0).toString();
    return list;
}

} // namespace

class TestI2cSvc : public QObject
{
    Q_OBJECT

    I2cSvc *svc = nullptr;
    TestScan scan;
    std::shared_ptr<TestDongle> dongle;

    void enableSlave(const QString &dat = vdat)
    {
        QSignalSpy done(svc, &I2cSvc::doneVirtualSlave);
        emit svc->doVirtualSlave(QString(), dat, true);
        QTRY_COMPARE(done.count(), 1);
        QCOMPARE(done.first().at(0).toString(), QString());
    }

    // Puts the test adapter on the bus as the default adapter.
    void plugAdapter()
    {
        scan.found->append(dongle);
        QSignalSpy added(svc, &I2cSvc::eventDongleAdded);
        emit svc->doScanForDongles();
        QTRY_COMPARE(added.count(), 2);
    }

private slots:
    void init()
    {
        Settings::getInstance()->setCommsDebugMode(false);
        svc = I2cSvc::getInstance();
        svc->setVSlaveFactory(&makeTestSlave);
        scan = TestScan();
        dongle = TestDongle::make("0x2000", "test adapter");
        Dongles::DongleMgr::GetInstance()->registerScanFn(scan);
    }

    void cleanup()
    {
        // Every case starts with a fresh service, worker thread and registry.
        delete svc;
        svc = nullptr;
    }

    void legalAddresses()
    {
        const QList<unsigned char> legal = I2cSvc::get7BitLegalAddresses();
        QCOMPARE(legal.size(), 112);
        QCOMPARE(legal.first(), 0x08);
        QCOMPARE(legal.last(), 0x77);
    }

    void virtualSlaveSwitch()
    {
        QSignalSpy added(svc, &I2cSvc::eventSlaveAdded);
        QSignalSpy removed(svc, &I2cSvc::eventSlaveRemoved);
        QSignalSpy done(svc, &I2cSvc::doneVirtualSlave);
        emit svc->doVirtualSlave("a", "0x1234:0x70:TESTCHIP", true); // adapter id dropped, lowered
        emit svc->doVirtualSlave("b", vdat, true);                    // already there
        emit svc->doVirtualSlave("c", ":0x71:testchip", false);       // absent
        emit svc->doVirtualSlave("d", "not a dat", true);
        emit svc->doVirtualSlave("e", ":0x72:nochip", true);
        emit svc->doVirtualSlave("f", vdat, false);
        QTRY_COMPARE(done.count(), 6);
        QCOMPARE(errors(done),
                 QStringList({ "", "", "", "I2cWorker_doVirtualSlave, badly formed DAT (not a dat)",
                               "I2cWorker_doVirtualSlave, no simulated slave for type nochip", "" }));
        QCOMPARE(added.count(), 1);
        QCOMPARE(added.first().at(0).toString(), vdat);
        QCOMPARE(removed.count(), 1);
        QCOMPARE(removed.first().at(0).toString(), vdat);
    }

    void blockingCallsOnAVirtualSlave()
    {
        enableSlave();
        QByteArray value;
        QString err;
        svc->waitReadRegister(vdat, QByteArray("\x41"), 1, value, err);
        QCOMPARE(err, QString());
        QCOMPARE(value, QByteArray("\x07"));

        svc->waitWriteRegister(vdat, QByteArray("\x42"), QByteArray("\x12\x34"), err);
        QCOMPARE(err, QString());
        svc->waitReadRegister(vdat, QByteArray("\x42"), 2, value, err);
        QCOMPARE(value, QByteArray("\x12\x34")); // no reversal on the simulated path

        svc->waitReadRegister(vdat, QByteArray("\x43"), 1, value, err);
        QCOMPARE(err, QStringLiteral("VSlave read failed: :0x70:testchip has no data for register "
                                     "address: 0x43"));
        QVERIFY(value.isEmpty());
    }

    // A blocking call must take its own answer, not an earlier one of the
    // same kind that somebody else asked for.
    void blockingCallIgnoresForeignAnswers()
    {
        enableSlave();
        emit svc->doReadRegister("devMgr", vdat, QByteArray("\x55"), 1); // fails: never written
        QByteArray value;
        QString err;
        svc->waitReadRegister(vdat, QByteArray("\x41"), 1, value, err);
        QCOMPARE(err, QString());
        QCOMPARE(value, QByteArray("\x07"));
    }

    void waitPmbusCommand()
    {
        enableSlave();
        QCOMPARE(svc->waitPmbusCommand(vdat, false, false, "21", "0102").toString(), QString());
        const QVariant read = svc->waitPmbusCommand(vdat, true, false, "21", "0000");
        QCOMPARE(read.value<QList<unsigned char>>(), QList<unsigned char>({ 0x01, 0x02 }));
        const QVariant failed = svc->waitPmbusCommand("0x9:0x70:pmbus", false, false, "21", "01");
        QCOMPARE(failed.toString(), QStringLiteral("Dongle[0x9] has been removed or does not exist"));
    }

    // "0x3C" used to be written as the two bytes 00 3c; nonsense text went
    // out as a zero byte.
    void waitPmbusCommandTakesScriptBytes_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("data");
        QTest::addColumn<QString>("err");
        QTest::addColumn<QByteArray>("written");
        QTest::addRow("0x prefix") << "21" << "0x3C" << "" << QByteArray("\x3c");
        QTest::addRow("0X prefix on both") << "0X21" << "0X3c" << "" << QByteArray("\x3c");
        QTest::addRow("leading zero byte kept") << "21" << "0001" << "" << QByteArray("\x00\x01", 2);
        QTest::addRow("odd digit count") << "0021" << "123" << "" << QByteArray("\x01\x23");
        QTest::addRow("data not hex") << "21" << "zz" << "Invalid value (zz)" << QByteArray("\x07");
        QTest::addRow("data with a second prefix") << "21" << "0x0x3c" << "Invalid value (0x0x3c)" << QByteArray("\x07");
        QTest::addRow("command of two bytes") << "121" << "3c" << "Invalid command (121)" << QByteArray("\x07");
        QTest::addRow("command not hex") << "x" << "3c" << "Invalid command (x)" << QByteArray("\x07");
    }
    void waitPmbusCommandTakesScriptBytes()
    {
        QFETCH(QString, command);
        QFETCH(QString, data);
        QFETCH(QByteArray, written);
        enableSlave();
        QString err;
        svc->waitWriteRegister(vdat, QByteArray("\x21"), QByteArray("\x07"), err);
        QTEST(svc->waitPmbusCommand(vdat, false, false, command, data).toString(), "err");
        QByteArray value;
        svc->waitReadRegister(vdat, QByteArray("\x21"), 1, value, err);
        QCOMPARE(value, written);
    }

    void bulkPacketsOnAVirtualSlave()
    {
        enableSlave();
        QSignalSpy written(svc, &I2cSvc::doneWriteBulk);
        QSignalSpy read(svc, &I2cSvc::doneReadBulk);
        const QByteArray data(1000, 'd');
        emit svc->doWriteBulk("w", vdat, {}, QByteArray("\xc1"), data, 0);
        // The slave keeps the packets as sent, index and CRC included.
        emit svc->doReadBulk("r", vdat, {}, QByteArray("\xc1"), 1004);
        emit svc->doReadBulk("r2", vdat, {}, QByteArray("\xc2"), 10);
        QTRY_COMPARE(read.count(), 2);
        QCOMPARE(written.first().at(0).toString(), QString());
        const QByteArray image = read.first().at(5).toByteArray();
        QCOMPARE(image.size(), 1004);
        QCOMPARE(image.at(0), '\0');
        QCOMPARE(image.at(514), '\x01');
        QCOMPARE(read.at(1).at(0).toString(),
                 QStringLiteral("VSlave read failed: :0x70:testchip has no data for bulk command: 0xc2"));
    }

    void scriptRunsLineByLine()
    {
        enableSlave();
        QSignalSpy done(svc, &I2cSvc::doneRunScript);
        QSignalSpy reads(svc, &I2cSvc::doneReadRegister);
        QSignalSpy writes(svc, &I2cSvc::doneWriteRegister);
        QSignalSpy progress(svc, &I2cSvc::eventProgress);
        QSignalSpy traffic(svc, &I2cSvc::eventLogTxRx);
        emit svc->doRunScript("s", vdat,
                              { "# set   it", "WRITE_REGISTER 0x44 0x5A\r", "read_register 44 1" });
        QTRY_COMPARE(done.count(), 1);
        QCOMPARE(done.first().at(0).toString(), QString());
        QCOMPARE(done.first().at(1).toString(), QStringLiteral("s"));
        QCOMPARE(writes.count(), 1);
        QCOMPARE(writes.first().at(1).toString(), QStringLiteral("s"));
        QCOMPARE(writes.first().at(3).toByteArray(), QByteArray("\x44"));
        QCOMPARE(reads.first().at(4).toByteArray(), QByteArray("\x5a"));
        QList<int> steps;
        for (const QList<QVariant> &args : progress) {
            QCOMPARE(args.at(3).toInt(), 3);
            steps << args.at(2).toInt();
        }
        QCOMPARE(steps, QList<int>({ 0, 1, 2, 3 }));
        QCOMPARE(traffic.first().at(1).toString(), QStringLiteral("# set it"));
    }

    // Ending the program in the middle of a script full of long waits: the
    // teardown stops the script instead of sitting out ten minutes of it.
    void teardownStopsALongScript()
    {
        enableSlave();
        QSignalSpy progress(svc, &I2cSvc::eventProgress);
        QStringList lines;
        for (int i = 0; i < 10; ++i)
            lines << "wait_ms 60000" << "read_register 44 1";
        emit svc->doRunScript("long", vdat, lines);
        QTRY_VERIFY(!progress.isEmpty());
        QElapsedTimer clock;
        clock.start();
        delete svc;
        svc = nullptr;
        QVERIFY2(clock.elapsed() < 30000, qPrintable(QString::number(clock.elapsed())));
    }

    // The teardown used to return once the worker left its event loop, while
    // the thread was still ending: a program that exited then deleted Qt's
    // per-thread key first, and the thread's data was never freed (a leak
    // LeakSanitizer caught now and then). A slow thread_local destructor in
    // the worker makes that window wide; the teardown waits it out.
    void teardownWaitsUntilTheWorkerThreadHasEnded()
    {
        static std::atomic<bool> ended { false };
        struct SlowToEnd
        {
            ~SlowToEnd()
            {
                QThread::msleep(300);
                ended = true;
            }
        };
        svc->setVSlaveFactory([](const QString &dat) {
            thread_local SlowToEnd inTheWorker;
            return makeTestSlave(dat);
        });
        enableSlave();
        delete svc;
        svc = nullptr;
        QVERIFY(ended);
    }

    // A script whose writes failed used to be reported as a success.
    void failedScriptReportsItsErrors()
    {
        QSignalSpy done(svc, &I2cSvc::doneRunScript);
        QSignalSpy writes(svc, &I2cSvc::doneWriteRegister);
        const QString dat = "0x9:0x70:bvr60600";
        emit svc->doRunScript("s", dat, { "write_register 01 02", "# fine", "write_register 03 04" });
        QTRY_COMPARE(done.count(), 1);
        const QString missing = "Dongle[0x9] has been removed or does not exist";
        QCOMPARE(done.first().at(0).toString(), missing + "\n" + missing);
        QCOMPARE(writes.count(), 2); // a failing line does not stop the script

        QString err;
        enableSlave();
        svc->waitRunScript(vdat, { "write_register 01 02", "read_register 01 1" }, err);
        QCOMPARE(err, QString());
    }

    void pmbusByteOrderOnTheWire_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QByteArray>("wire");
        QTest::addColumn<int>("flags");
        QTest::addRow("word, low byte first") << "pmbus_write_word 21 1" << QByteArray("\x01\x00", 2) << 0;
        QTest::addRow("block, count first") << "pmbus_write_block 21 3 aabbcc"
                                            << QByteArray("\x03\xaa\xbb\xcc", 4) << 1;
        QTest::addRow("send byte, no data") << "pmbus_send_byte 03" << QByteArray() << 0;
    }
    void pmbusByteOrderOnTheWire()
    {
        QFETCH(QString, line);
        QFETCH(QByteArray, wire);
        QFETCH(int, flags);
        plugAdapter();
        QString err;
        svc->waitRunScript(":0x40:pmbus", { line }, err);
        QCOMPARE(err, QString());
        const QList<TestDongle::Call> calls = dongle->calls();
        QCOMPARE(calls.size(), 1);
        QCOMPARE(calls.first().op, QStringLiteral("writeRegister"));
        QCOMPARE(calls.first().address, ushort(0x40));
        QCOMPARE(calls.first().payload, wire);
        QCOMPARE(int(calls.first().flags), flags);
    }

    void pmbusListKeepsTheFirstError()
    {
        plugAdapter();
        TestDongleBehaviour b;
        b.present = { 0x41 };
        dongle->setBehaviour(b);
        QList<PmbusCommand> commands(3);
        for (PmbusCommand &c : commands) {
            c.isRead = true;
            c.command = QByteArray("\x98");
            c.data = QByteArray(1, '\0');
        }
        QString err;
        svc->waitPmbusCommands(":0x40:pmbus", commands, err); // nobody at 0x40
        QCOMPARE(err, QStringLiteral("readRegister did not complete [disconnected]"));
        QCOMPARE(commands.size(), 3);
        QCOMPARE(dongle->calls().size(), 3); // all commands ran
    }

    void slaveScan_data()
    {
        QTest::addColumn<bool>("debugMode");
        QTest::addColumn<QList<unsigned char>>("addresses");
        QTest::addColumn<QStringList>("found");
        QTest::addColumn<QString>("mode");
        QTest::addRow("open scan finds the chip")
            << false << QList<unsigned char>() << QStringList({ ":0x41:bvr60600", ":0x70:bvr60600" })
            << "open";
        QTest::addRow("closed scan probes only its addresses")
            << false << QList<unsigned char>({ 0x71, 0x70 }) << QStringList({ ":0x70:bvr60600" })
            << "closed";
        QTest::addRow("debug mode takes every address")
            << true << QList<unsigned char>({ 0x10, 0x11 })
            << QStringList({ ":0x10:bvr60600", ":0x11:bvr60600", ":0x70:pmbus" }) << "closed";
    }
    void slaveScan()
    {
        QFETCH(bool, debugMode);
        QFETCH(QList<unsigned char>, addresses);
        QFETCH(QStringList, found);
        QFETCH(QString, mode);
        plugAdapter();
        TestDongleBehaviour b;
        b.present = { 0x70, 0x41 };
        dongle->setBehaviour(b);
        dongle->wireImage.insert(QByteArray("\x41"), QByteArray("\x07"));
        dongle->clearCalls();
        Settings::getInstance()->setCommsDebugMode(debugMode);

        ScanInstruction instruction;
        instruction.insert("bvr60600", addresses);
        // Probed after bvr60600 (key order); 0x70 is not probed again.
        instruction.insert("pmbus", addresses.isEmpty() ? addresses : QList<unsigned char>({ 0x70 }));
        QSignalSpy slaves(svc, &I2cSvc::eventSlaveAdded);
        QSignalSpy traffic(svc, &I2cSvc::eventLogTxRx);
        QSignalSpy marker(svc, &I2cSvc::doneReadRegister);
        emit svc->doScanForSlaves(QString(), instruction);
        emit svc->doReadRegister("end", ":0x70:bvr60600", QByteArray("\x41"), 1);
        QTRY_COMPARE(marker.count(), 1);

        QStringList dats;
        for (const QList<QVariant> &args : slaves)
            dats << args.at(0).toString();
        QCOMPARE(dats, found);
        QCOMPARE(traffic.first().at(1).toString(),
                 QStringLiteral("Scanning for slaves... (%1 scan)").arg(mode));

        const QList<TestDongle::Call> calls = dongle->calls();
        int pmbusProbesAt70 = 0;
        for (int i = 0; i + 1 < calls.size(); ++i) {
            QCOMPARE(calls.at(i).op, QStringLiteral("readRegister"));
            pmbusProbesAt70 += calls.at(i).address == 0x70 && calls.at(i).regAddr == "\x98";
        }
        QCOMPARE(pmbusProbesAt70, 0);
        if (!debugMode && addresses.isEmpty())
            QCOMPARE(calls.size(), 112 + 110 + 1); // found addresses are not probed again
        // Probes poll the status once at most; the request after the scan
        // gets its full share again. Both are set before the transfer.
        for (int i = 0; i + 1 < calls.size(); ++i)
            QCOMPARE(calls.at(i).retries, 1);
        QCOMPARE(calls.last().retries, 5);
    }

    void scanReportsVirtualSlavesOnTheirAdapter()
    {
        enableSlave();
        QSignalSpy added(svc, &I2cSvc::eventDongleAdded);
        emit svc->doScanForDongles();
        QTRY_COMPARE(added.count(), 1); // the dummy adapter under the virtual id ""
        QCOMPARE(added.first().at(0).toString(), QString());

        QSignalSpy slaves(svc, &I2cSvc::eventSlaveAdded);
        emit svc->doScanForSlaves(QString(), ScanInstruction({ { "bvr60600", { 0x30 } } }));
        QTRY_COMPARE(slaves.count(), 1);
        QCOMPARE(slaves.first().at(0).toString(), vdat);
    }

    void busSpeedChangeReopensAdapters()
    {
        plugAdapter();
        QSignalSpy added(svc, &I2cSvc::eventDongleAdded);
        QSignalSpy removed(svc, &I2cSvc::eventDongleRemoved);
        Settings *settings = Settings::getInstance();
        settings->setI2cSpeed(settings->i2cSpeed() == 400 ? 100 : 400);
        QTRY_COMPARE(added.count(), 2);
        QCOMPARE(removed.count(), 2);
        QCOMPARE(dongle->closes.load(), 1);
    }

    void workerLogLinesReachTheMessageLog()
    {
        plugAdapter();
        QTest::ignoreMessage(QtCriticalMsg, "I2cWorker_doShutdown: Closed all dongles");
        QSignalSpy removed(svc, &I2cSvc::eventDongleRemoved);
        emit svc->doDisconnect();
        QTRY_COMPARE(removed.count(), 2);
        QTest::qWait(50);
    }
};

PANEL_TEST_MAIN(TestI2cSvc)
#include "tst_i2csvc.moc"
