#include "testenv.h"

#include "bvr60600/ddevice.h"
#include "services/commslog.h"
#include "services/logger.h"
#include "services/settings.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <functional>

using Producer = std::function<void(CommsLog *)>;
Q_DECLARE_METATYPE(Producer)

namespace {
const QString dat = QStringLiteral(":0x70:bvr60600");
const QString otherDat = QStringLiteral(":0x71:bvr60600");
const QString header = QStringLiteral("Source;DAT;Text;Err;Param1;Param2;");
} // namespace

class TestCommsLog : public QObject
{
    Q_OBJECT

private:
    static QString dumpName()
    {
        return Logger::getInstance()->logFilepath() + QStringLiteral("/commslog.txt");
    }
    static QStringList dumpLines()
    {
        QFile file(dumpName());
        if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
            return {};
        return QString::fromLatin1(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }

private slots:
    void initTestCase()
    {
        QCoreApplication::setOrganizationName(QStringLiteral("orvane"));
        QCoreApplication::setApplicationName(QStringLiteral("BVR60600"));
    }

    void init()
    {
        delete CommsLog::getInstance();
        Settings::getInstance()->setImmediateMode(false);
    }

    // The per-user data folder does not exist on a fresh machine.
    void dumpFileInFreshFolder()
    {
        delete CommsLog::getInstance();
        QVERIFY(QDir(Logger::getInstance()->logFilepath()).removeRecursively());
        CommsLog::getInstance()->doLogEvent(QStringLiteral("devMgr"), dat, QStringLiteral("Added device"));
        QCOMPARE(dumpLines(), QStringList({header, QStringLiteral("devMgr;:0x70:bvr60600;Added device;;;;")}));
    }

    // A dump sent elsewhere (the command-line program's --log) gets the same
    // records; one already open moves, and an empty path brings it back.
    void dumpFileElsewhere()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString elsewhere = dir.filePath(QStringLiteral("bench.csv"));
        CommsLog *log = CommsLog::getInstance();
        log->doLogEvent(QStringLiteral("devMgr"), dat, QStringLiteral("Before"));
        CommsLog::setDumpFilePath(elsewhere);
        QCOMPARE(CommsLog::dumpFilePath(), elsewhere);
        log->doLogEvent(QStringLiteral("devMgr"), dat, QStringLiteral("Moved"));

        QFile file(elsewhere);
        QVERIFY(file.open(QIODevice::ReadOnly | QIODevice::Text));
        QCOMPARE(QString::fromLatin1(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts),
                 QStringList({ header, QStringLiteral("devMgr;:0x70:bvr60600;Moved;;;;") }));
        QCOMPARE(dumpLines(), QStringList({ header, QStringLiteral("devMgr;:0x70:bvr60600;Before;;;;") }));

        CommsLog::setDumpFilePath(QString());
        QCOMPARE(CommsLog::dumpFilePath(), dumpName());
        log->doLogEvent(QStringLiteral("devMgr"), dat, QStringLiteral("Back"));
        QCOMPARE(dumpLines(), QStringList({ header, QStringLiteral("devMgr;:0x70:bvr60600;Back;;;;") }));
    }

    // A full disk: the records are still kept and shown, and the loss is
    // reported once instead of passing unnoticed.
    void dumpToAFullDevice()
    {
        if (!QFileInfo::exists(QStringLiteral("/dev/full")))
            QSKIP("no /dev/full here");
        CommsLog *log = CommsLog::getInstance();
        QSignalSpy shown(log, &CommsLog::eventLog);
        CommsLog::setDumpFilePath(QStringLiteral("/dev/full"));
        QVERIFY(log->dumpError().contains(QStringLiteral("cannot be written")));
        log->doLogEvent(QStringLiteral("devMgr"), dat, QStringLiteral("Lost on disk"));
        QCOMPARE(shown.count(), 1);
        QVERIFY(log->history().contains(QStringLiteral("[devMgr] :0x70:bvr60600 Lost on disk   ")));
        CommsLog::setDumpFilePath(QString());
        QCOMPARE(log->dumpError(), QString());
    }

    void records_data()
    {
        QTest::addColumn<Producer>("produce");
        QTest::addColumn<QString>("display");
        QTest::addColumn<QString>("fileLine");

        QTest::addRow("all six fields")
            << Producer([](CommsLog *log) { log->doLogEvent("src", "dat", "text", "", "p1", "p2"); })
            << "[src] dat text  p1 p2" << "src;dat;text;;p1;p2;";
        QTest::addRow("bus traffic")
            << Producer([](CommsLog *log) { log->logTxRx(dat, "W 70 01 2a", ""); })
            << "[i2cSvc] :0x70:bvr60600 W 70 01 2a   " << "i2cSvc;:0x70:bvr60600;W 70 01 2a;;;;";
        QTest::addRow("device added")
            << Producer([](CommsLog *log) { log->logDeviceAdded(dat); })
            << "[devMgr] :0x70:bvr60600 Added device   " << "devMgr;:0x70:bvr60600;Added device;;;;";
        QTest::addRow("device removed")
            << Producer([](CommsLog *log) { log->logDeviceRemoved(dat); })
            << "[devMgr] :0x70:bvr60600 Removed device   " << "devMgr;:0x70:bvr60600;Removed device;;;;";
        QTest::addRow("device connected")
            << Producer([](CommsLog *log) { log->logDeviceConnected(dat); })
            << "[devMgr] :0x70:bvr60600 Connected device   " << "devMgr;:0x70:bvr60600;Connected device;;;;";
        QTest::addRow("device disconnected")
            << Producer([](CommsLog *log) { log->logDeviceDisconnected(dat); })
            << "[devMgr] :0x70:bvr60600 Disconnected device   " << "devMgr;:0x70:bvr60600;Disconnected device;;;;";
        QTest::addRow("model state saved")
            << Producer([](CommsLog *log) { log->logModelStateSaved(dat); })
            << "[devMgr] :0x70:bvr60600 Model state saved   " << "devMgr;:0x70:bvr60600;Model state saved;;;;";
        QTest::addRow("model state restored")
            << Producer([](CommsLog *log) { log->logModelStateRestored(dat); })
            << "[devMgr] :0x70:bvr60600 Model state restored   " << "devMgr;:0x70:bvr60600;Model state restored;;;;";
        QTest::addRow("bulk read of 3 bytes")
            << Producer([](CommsLog *log) { log->logBulkDataRead("", dat, "BLOCK", QByteArray("\x01\xab\xff", 3)); })
            << "[device] :0x70:bvr60600 bulkData rd, size 3  BLOCK 01abff" << "device;:0x70:bvr60600;bulkData rd, size 3;;BLOCK;01abff;";
        QTest::addRow("bulk write")
            << Producer([](CommsLog *log) { log->logBulkDataWrite("", dat, "BLOCK", QByteArray(2, '\0')); })
            << "[device] :0x70:bvr60600 bulkData wr, size 2  BLOCK 0000" << "device;:0x70:bvr60600;bulkData wr, size 2;;BLOCK;0000;";
        QTest::addRow("register read, empty value")
            << Producer([](CommsLog *log) { log->logRegDataRead("", dat, "VOUT", QByteArray()); })
            << "[device] :0x70:bvr60600 regData rd  VOUT " << "device;:0x70:bvr60600;regData rd;;VOUT;;";
        QTest::addRow("register write")
            << Producer([](CommsLog *log) { log->logRegDataWrite("", dat, "VOUT", QByteArray("\x5A", 1)); })
            << "[device] :0x70:bvr60600 regData wr  VOUT 5a" << "device;:0x70:bvr60600;regData wr;;VOUT;5a;";
        QTest::addRow("pmbus read")
            << Producer([](CommsLog *log) { log->logPmbusDataRead("", dat, "READ_VOUT", QByteArray("\x12\x34", 2)); })
            << "[device] :0x70:bvr60600 pmbusData rd  READ_VOUT 1234" << "device;:0x70:bvr60600;pmbusData rd;;READ_VOUT;1234;";
        QTest::addRow("pmbus write")
            << Producer([](CommsLog *log) { log->logPmbusDataWrite("", dat, "OPERATION", QByteArray("\x80", 1)); })
            << "[device] :0x70:bvr60600 pmbusData wr  OPERATION 80" << "device;:0x70:bvr60600;pmbusData wr;;OPERATION;80;";
        // Placeholders in the texts themselves must not be filled again.
        QTest::addRow("percent signs in texts")
            << Producer([](CommsLog *log) { log->doLogEvent("a%2", "b%1", "c", "", "", ""); })
            << "[a%2] b%1 c   " << "a%2;b%1;c;;;;";
    }

    void records()
    {
        QFETCH(Producer, produce);
        QFETCH(QString, display);
        QFETCH(QString, fileLine);
        CommsLog *log = CommsLog::getInstance();
        QSignalSpy spy(log, &CommsLog::eventLog);
        produce(log);
        QCOMPARE(log->history(), QStringList{display});
        QCOMPARE(spy.count(), 1);
        QCOMPARE(spy.at(0).at(0).toString(), display);
        QCOMPARE(spy.at(0).at(1).toBool(), false);
        QCOMPARE(dumpLines(), QStringList({header, fileLine}));
    }

    void errorIsALineOfItsOwn()
    {
        CommsLog *log = CommsLog::getInstance();
        QSignalSpy spy(log, &CommsLog::eventLog);
        log->logRegDataWrite(QStringLiteral("NACK on write"), dat, QStringLiteral("VOUT"), QByteArray("\x5A", 1));
        QCOMPARE(log->history(), QStringList({QStringLiteral("[device] :0x70:bvr60600 regData wr  VOUT 5a"),
                                              QStringLiteral("NACK on write")}));
        QCOMPARE(spy.count(), 2);
        QCOMPARE(spy.at(1).at(0).toString(), QStringLiteral("NACK on write"));
        QCOMPARE(spy.at(1).at(1).toBool(), true);
        QCOMPARE(dumpLines(), QStringList({header, QStringLiteral("device;:0x70:bvr60600;regData wr;NACK on write;VOUT;5a;")}));
    }

    // The filter narrows what the user sees; the file keeps everything.
    void filterHidesButFileKeeps()
    {
        CommsLog *log = CommsLog::getInstance();
        QSignalSpy changed(log, &CommsLog::filterChanged);
        log->setFilter(QStringLiteral("0x70"));
        log->setFilter(QStringLiteral("0x70"));
        QCOMPARE(changed.count(), 1);
        QSignalSpy spy(log, &CommsLog::eventLog);
        log->logRegDataWrite(QStringLiteral("NACK"), otherDat, QStringLiteral("VOUT"), QByteArray("\x01", 1));
        log->logDeviceAdded(dat);
        log->logDeviceAdded(QStringLiteral(":0X70:bvr60600"));
        QCOMPARE(log->history(), QStringList{QStringLiteral("[devMgr] :0x70:bvr60600 Added device   ")});
        QCOMPARE(spy.count(), 1);
        QCOMPARE(dumpLines().size(), 4);
        QCOMPARE(dumpLines().at(1), QStringLiteral("device;:0x71:bvr60600;regData wr;NACK;VOUT;01;"));
    }

    void dumpOffAndOnStartsAnewFile()
    {
        CommsLog *log = CommsLog::getInstance();
        log->logDeviceAdded(dat);
        QSignalSpy changed(log, &CommsLog::dumpLogChanged);
        log->setDumpLog(false);
        log->logDeviceRemoved(dat);
        QCOMPARE(dumpLines(), QStringList({header, QStringLiteral("devMgr;:0x70:bvr60600;Added device;;;;")}));
        log->setDumpLog(false);
        log->setDumpLog(true);
        QCOMPARE(changed.count(), 2);
        QCOMPARE(dumpLines(), QStringList{header});
        log->logDeviceConnected(dat);
        QCOMPARE(dumpLines(), QStringList({header, QStringLiteral("devMgr;:0x70:bvr60600;Connected device;;;;")}));
        QCOMPARE(log->history().size(), 3);
    }

    void fileIsLatin1()
    {
        CommsLog *log = CommsLog::getInstance();
        log->doLogEvent(QStringLiteral("device"), dat, QString::fromUtf8("\u03a9 5\u00b5A"));
        QFile file(dumpName());
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(file.readAll().endsWith(QByteArray("device;:0x70:bvr60600;? 5\xb5" "A;;;;\n")));
        QCOMPARE(log->history().constFirst(), QString::fromUtf8("[device] :0x70:bvr60600 \u03a9 5\u00b5A   "));
    }

    void modelStateNotLoggedInImmediateMode()
    {
        CommsLog *log = CommsLog::getInstance();
        Settings::getInstance()->setImmediateMode(true);
        log->logModelStateSaved(dat);
        log->logModelStateRestored(dat);
        QVERIFY(log->history().isEmpty());
        QCOMPARE(dumpLines(), QStringList{header});
    }

    // A tool that polls for days must not run out of memory.
    void historyKeepsNewestLines()
    {
        CommsLog *log = CommsLog::getInstance();
        const int total = CommsLog::maxHistoryLines + 5;
        for (int i = 0; i < total; ++i)
            log->doLogEvent(QStringLiteral("i2cSvc"), dat, QString::number(i));
        const QStringList history = log->history();
        QCOMPARE(history.size(), CommsLog::maxHistoryLines);
        QCOMPARE(history.constFirst(), QStringLiteral("[i2cSvc] :0x70:bvr60600 5   "));
        QCOMPARE(history.constLast(), QStringLiteral("[i2cSvc] :0x70:bvr60600 %1   ").arg(total - 1));
        QCOMPARE(dumpLines().size(), total + 1);
    }

    void unopenableDumpFile()
    {
        delete CommsLog::getInstance();
        QFile::remove(dumpName());
        QVERIFY(QDir().mkpath(dumpName()));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("commslog.txt cannot be opened")));
        CommsLog *log = CommsLog::getInstance();
        QSignalSpy spy(log, &CommsLog::eventLog);
        log->logDeviceAdded(dat);
        QCOMPARE(spy.count(), 1);
        QCOMPARE(log->history().size(), 1);
        delete log;
        QVERIFY(QDir(dumpName()).removeRecursively());
    }

    void deviceEventsReachTheLog_data()
    {
        QTest::addColumn<QByteArray>("signal");
        QTest::addColumn<QString>("display");
        QTest::addRow("bulk read") << QByteArray("eventBulkDataRead") << "bulkData rd, size 1";
        QTest::addRow("bulk write") << QByteArray("eventBulkDataWrite") << "bulkData wr, size 1";
        QTest::addRow("register read") << QByteArray("eventRegDataRead") << "regData rd";
        QTest::addRow("register write") << QByteArray("eventRegDataWrite") << "regData wr";
        QTest::addRow("pmbus read") << QByteArray("eventPmbusDataRead") << "pmbusData rd";
        QTest::addRow("pmbus write") << QByteArray("eventPmbusDataWrite") << "pmbusData wr";
    }

    // Fault: the log attaches to a device by signal names the compiler cannot
    // check; a misspelt or changed one loses that kind of record silently.
    void deviceEventsReachTheLog()
    {
        QFETCH(QByteArray, signal);
        QFETCH(QString, display);
        QTest::failOnWarning(QRegularExpression(QStringLiteral("connect")));
        CommsLog *log = CommsLog::getInstance();
        Bvr60600::DDevice device(dat);
        QVERIFY(QMetaObject::invokeMethod(&device, signal.constData(), Q_ARG(QString, QString()), Q_ARG(QString, dat),
                                          Q_ARG(QString, QStringLiteral("VOUT")), Q_ARG(QByteArray, QByteArray("\x5A", 1))));
        QCOMPARE(log->history(), QStringList{QStringLiteral("[device] :0x70:bvr60600 %1  VOUT 5a").arg(display)});
    }

    void detachDisconnects()
    {
        CommsLog *log = CommsLog::getInstance();
        QObject producer;
        log->logAttach(&producer);
        connect(&producer, &QObject::objectNameChanged, log, &CommsLog::logDeviceAdded);
        producer.setObjectName(dat);
        log->logDetach(&producer);
        producer.setObjectName(otherDat);
        QCOMPARE(log->history(), QStringList{QStringLiteral("[devMgr] :0x70:bvr60600 Added device   ")});
    }
};

PANEL_TEST_MAIN(TestCommsLog)
#include "tst_commslog.moc"
