#include "testenv.h"

#include "devices/device.h"
#include "i2c/i2csvc.h"
#include "services/commslog.h"
#include "services/logger.h"
#include "services/settings.h"
#include "utils/utils.h"

#include <QFile>
#include <QSignalSpy>

#include <memory>

namespace {

const QString myDat = QStringLiteral(":0x70:testchip");

// A register store that knows one name, to see the family's store used for
// naming once it is installed.
class NamedRegisters : public Registers
{
public:
    QString nameFromInternal(const QByteArray &addr) const override
    {
        return addr == QByteArray("\x01") ? QStringLiteral("reg_one") : Registers::nameFromInternal(addr);
    }
};

// The smallest family: only the type, plus optional named replacements.
class TestDevice : public Device
{
    Q_OBJECT

public:
    explicit TestDevice(const QString &dat, bool named = false)
        : Device(dat)
    {
        if (named)
            setRegisters(std::make_unique<NamedRegisters>());
    }
    QString myType() const override { return QStringLiteral("testchip"); }
    QMap<QString, QString> getScriptReplacements() override { return replacements; }

    QMap<QString, QString> replacements;
};

QStringList readLines(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromLatin1(file.readAll()).split(QLatin1Char('\n'));
}

} // namespace

class TestDeviceBase : public QObject
{
    Q_OBJECT

    I2cSvc *svc = nullptr;

private slots:
    void init()
    {
        svc = I2cSvc::getInstance();
        Settings::getInstance()->setImmediateMode(false);
    }

    void cleanup()
    {
        delete svc;
        svc = nullptr;
    }

    // Every device hears every completion; only its own DAT may touch its
    // image, even when another adapter has a chip at the same address.
    void completionsForOtherDatsAreIgnored_data()
    {
        QTest::addColumn<QString>("dat");
        QTest::addRow("other address") << QStringLiteral(":0x71:testchip");
        QTest::addRow("other adapter") << QStringLiteral("0x2000:0x70:testchip");
        QTest::addRow("other case") << QStringLiteral(":0x70:TESTCHIP");
    }

    void completionsForOtherDatsAreIgnored()
    {
        QFETCH(QString, dat);
        TestDevice device(myDat);
        QSignalSpy regRead(&device, &Device::eventRegDataRead);
        QSignalSpy regWrite(&device, &Device::eventRegDataWrite);
        QSignalSpy bulkRead(&device, &Device::eventBulkDataRead);
        QSignalSpy pmbusWrite(&device, &Device::eventPmbusDataWrite);

        emit svc->doneReadRegister(QString(), "ctx", dat, QByteArray("\x01"), QByteArray("\x29"));
        emit svc->doneWriteRegister(QString(), "ctx", dat, QByteArray("\x02"), QByteArray("\x04"));
        emit svc->doneReadBulk(QString(), "ctx", dat, QByteArray("\x10"), QByteArray("\x05"), QByteArray("ab"));
        emit svc->donePmbusCommands(QString(), "ctx", dat, { PmbusCommand{ false, QByteArray("\x21"), 0, QByteArray("\x01") } });

        QCOMPARE(regRead.count() + regWrite.count() + bulkRead.count() + pmbusWrite.count(), 0);
        QVERIFY(device.registers().internalAddrsStored(Registers::GroupRegister).isEmpty());
        QVERIFY(device.registers().internalAddrsStored(Registers::GroupBulk).isEmpty());
        QVERIFY(device.registers().internalAddrsStored(Registers::GroupPmbus).isEmpty());
    }

    void registerCompletionsUpdateImageAndEmit()
    {
        TestDevice device(myDat, true);
        QSignalSpy read(&device, &Device::eventRegDataRead);
        QSignalSpy write(&device, &Device::eventRegDataWrite);

        emit svc->doneReadRegister(QString(), "ctx", myDat, QByteArray("\x01"), QByteArray("\x29"));
        emit svc->doneWriteRegister(QString(), "ctx", myDat, QByteArray("\x02"), QByteArray("\x04"));

        QCOMPARE(read.count(), 1);
        QCOMPARE(read.first(), QVariantList({ QString(), myDat, QStringLiteral("reg_one"), QByteArray("\x29") }));
        QCOMPARE(write.count(), 1);
        QCOMPARE(write.first().at(2).toString(), QStringLiteral("02")); // unnamed: the plain store's hex
        QCOMPARE(device.registers().bytesFromStore(Registers::GroupRegister, QByteArray("\x01")), QByteArray("\x29"));
        QCOMPARE(device.registers().bytesFromStore(Registers::GroupRegister, QByteArray("\x02")), QByteArray("\x04"));
    }

    // The user must see a failed transfer, but it must not pass for data.
    void failedReadKeepsImageAndReportsError()
    {
        TestDevice device(myDat, true);
        emit svc->doneReadRegister(QString(), "ctx", myDat, QByteArray("\x01"), QByteArray("\x29"));
        QSignalSpy read(&device, &Device::eventRegDataRead);

        emit svc->doneReadRegister("bus error", "ctx", myDat, QByteArray("\x01"), QByteArray());

        QCOMPARE(read.count(), 1);
        QCOMPARE(read.first(), QVariantList({ QStringLiteral("bus error"), myDat, QStringLiteral("reg_one"), QByteArray() }));
        QCOMPARE(device.registers().bytesFromStore(Registers::GroupRegister, QByteArray("\x01")), QByteArray("\x29"));
    }

    void bulkCompletionsAreNamedByRegisterAndCommand()
    {
        TestDevice device(myDat, true);
        QSignalSpy read(&device, &Device::eventBulkDataRead);
        QSignalSpy write(&device, &Device::eventBulkDataWrite);
        const QByteArray command("\x05\x06", 2);

        emit svc->doneReadBulk(QString(), "ctx", myDat, QByteArray("\x01"), command, QByteArray("data"));
        emit svc->doneWriteBulk("nack", "ctx", myDat, QByteArray("\x01"), QByteArray("\x07"), QByteArray("lost"));

        const QString name = QStringLiteral("reg_one:") + Utils::formatHexBA(command);
        QCOMPARE(read.count(), 1);
        QCOMPARE(read.first(), QVariantList({ QString(), myDat, name, QByteArray("data") }));
        QCOMPARE(write.count(), 1);
        QCOMPARE(write.first().at(0).toString(), QStringLiteral("nack"));
        // Kept by command bytes; the failed write left nothing behind.
        QCOMPARE(device.registers().internalAddrsStored(Registers::GroupBulk), QList<QByteArray>({ command }));
        QCOMPARE(device.registers().bytesFromStore(Registers::GroupBulk, command), QByteArray("data"));
    }

    void pmbusCompletionGivesOneEventPerCommand()
    {
        TestDevice device(myDat, true);
        QSignalSpy read(&device, &Device::eventPmbusDataRead);
        QSignalSpy write(&device, &Device::eventPmbusDataWrite);
        const QList<PmbusCommand> commands = {
            { true, QByteArray("\x01"), 0, QByteArray("\x11") },
            { false, QByteArray("\x02"), 0, QByteArray("\x22") },
            { true, QByteArray("\x03"), 1, QByteArray("\x33\x34") },
        };

        emit svc->donePmbusCommands(QString(), "ctx", myDat, commands);

        QCOMPARE(read.count(), 2);
        QCOMPARE(write.count(), 1);
        QCOMPARE(read.at(0), QVariantList({ QString(), myDat, QStringLiteral("reg_one"), QByteArray("\x11") }));
        QCOMPARE(read.at(1).at(3).toByteArray(), QByteArray("\x33\x34"));
        QCOMPARE(write.at(0).at(2).toString(), QStringLiteral("02"));
        QCOMPARE(device.registers().internalAddrsStored(Registers::GroupPmbus),
                 QList<QByteArray>({ QByteArray("\x01"), QByteArray("\x02"), QByteArray("\x03") }));
        QCOMPARE(device.registers().bytesFromStore(Registers::GroupPmbus, QByteArray("\x03")), QByteArray("\x33\x34"));
    }

    void renamedDeviceFollowsItsNewDat()
    {
        TestDevice device(myDat);
        QSignalSpy read(&device, &Device::eventRegDataRead);
        device.setDat(QStringLiteral(":0x71:testchip"));
        emit svc->doneReadRegister(QString(), "ctx", myDat, QByteArray("\x01"), QByteArray("\x01"));
        emit svc->doneReadRegister(QString(), "ctx", ":0x71:testchip", QByteArray("\x01"), QByteArray("\x01"));
        QCOMPARE(read.count(), 1);
    }

    // The communication log hears every device's data events, and stops
    // hearing them when the device goes.
    void dataEventsReachTheCommsLog()
    {
        CommsLog *log = CommsLog::getInstance();
        log->setFilter(QString());
        const qsizetype before = log->history().size();
        {
            TestDevice device(myDat);
            emit svc->doneReadRegister(QString(), "ctx", myDat, QByteArray("\x01"), QByteArray("\xab"));
            emit svc->doneWriteBulk(QString(), "ctx", myDat, QByteArray("\x01"), QByteArray("\x05"), QByteArray("\xcd"));
        }
        const QStringList history = log->history();
        QCOMPARE(history.size(), before + 2);
        QVERIFY(history.at(before).contains(myDat));
        QVERIFY(history.at(before).contains(QStringLiteral("ab")));
        QVERIFY(history.at(before + 1).contains(QStringLiteral("cd")));
    }

    void unimplementedOperationsSayWhich()
    {
        TestDevice device(myDat);
        const QString tail = QStringLiteral(" for type testchip");
        const auto expect = [&tail](const QString &what) {
            QTest::ignoreMessage(QtDebugMsg, qPrintable(QStringLiteral("No implementation of ") + what + tail));
        };
        expect(QStringLiteral("virtual QStringList Device::getReadConfigurationScript()"));
        QVERIFY(device.getReadConfigurationScript().isEmpty());
        expect(QStringLiteral("virtual QStringList Device::getWriteConfigurationScript()"));
        QVERIFY(device.getWriteConfigurationScript().isEmpty());
        expect(QStringLiteral("virtual void Device::setState(const DeviceState&)"));
        device.setState({ { "a", 1 } });
        expect(QStringLiteral("virtual DeviceState Device::getState()"));
        QVERIFY(device.getState().isEmpty());
        expect(QStringLiteral("virtual QVariantMap Device::task(const QString&, const QVariantMap&):dump"));
        QVERIFY(device.task("dump", {}).isEmpty());
        expect(QStringLiteral("virtual QStringList Device::getFunctionScript(const QString&, const QVariantMap&):reset"));
        QVERIFY(device.getFunctionScript("reset", {}).isEmpty());
    }

    void placeholders_data()
    {
        QTest::addColumn<QStringList>("script");
        QTest::addColumn<QStringList>("expanded");

        QTest::addRow("dat and ctx in any case")
            << QStringList{ "# $CTX$ for $dat$", "read_register $Dat$ 1" }
            << QStringList{ "# myCtx for :0x70:testchip", "read_register :0x70:testchip 1" };
        QTest::addRow("register name becomes its address, documented")
            << QStringList{ "write_register  REG_ONE\t3c" }
            << QStringList{ "write_register 01 3c  #reg_one=01; " };
        QTest::addRow("every occurrence on a line")
            << QStringList{ "write_register reg_one reg_two" }
            << QStringList{ "write_register 01 02  #reg_one=01;   #reg_two=02; " };
        QTest::addRow("comment lines keep names, lose extra blanks")
            << QStringList{ "#  read   reg_one" }
            << QStringList{ "# read reg_one" };
        QTest::addRow("partial token is not a name")
            << QStringList{ "read_register reg_one_x 1" }
            << QStringList{ "read_register reg_one_x 1" };
        QTest::addRow("empty lines stay")
            << QStringList{ "", "read_register 01 1", "   " }
            << QStringList{ "", "read_register 01 1", "" };
    }

    void placeholders()
    {
        QFETCH(QStringList, script);
        QFETCH(QStringList, expanded);
        TestDevice device(myDat);
        device.replacements = { { "reg_one", "01" }, { "reg_two", "02" } };
        QVERIFY(device.replaceScriptPlaceholders("myCtx", script));
        QCOMPARE(script, expanded);
    }

    void emptyScriptHasNothingToExpand()
    {
        TestDevice device(myDat);
        QStringList script;
        QVERIFY(!device.replaceScriptPlaceholders("ctx", script));
        QVERIFY(script.isEmpty());
    }

    void monitorExport_data()
    {
        QTest::addColumn<QVariantMap>("event");
        QTest::addColumn<QString>("header");
        QTest::addColumn<QString>("data");

        QTest::addRow("value and two-element list")
            << QVariantMap{ { "a", 1 }, { "b", QVariantList{ 2.5, "x" } } }
            << "a,b_#0,b_#1," << "1,2.5,x,";
        QTest::addRow("one-element list named by its key")
            << QVariantMap{ { "v", QVariantList{ 7 } } } << "v," << "7,";
        QTest::addRow("empty list gives no column")
            << QVariantMap{ { "a", QVariantList{} }, { "b", true } } << "b," << "true,";
    }

    void monitorExport()
    {
        QFETCH(QVariantMap, event);
        QFETCH(QString, header);
        QFETCH(QString, data);
        TestDevice device(myDat);
        const QString path = Logger::getInstance()->logFilepath() + QStringLiteral("/export_monitor_")
            + Utils::datToKey(myDat) + QStringLiteral(".csv");
        QFile::remove(path);

        device.exportMonitorEvent("fast", event);
        device.exportMonitorEvent("slow", event);
        QCOMPARE(readLines(path), QStringList({ header, data, data, QString() }));
    }

    // Switching export off must close the file, and the next export start a
    // fresh one, header first.
    void exportOffStartsANewFile()
    {
        TestDevice device(myDat);
        const QString path = Logger::getInstance()->logFilepath() + QStringLiteral("/export_monitor_")
            + Utils::datToKey(myDat) + QStringLiteral(".csv");
        device.exportMonitorEvent("fast", { { "a", 1 } });
        device.exportMonitorEvent("fast", { { "a", 2 } });
        device.onExportEnabledChanged(true);
        device.exportMonitorEvent("fast", { { "a", 3 } });
        QCOMPARE(readLines(path), QStringList({ "a,", "1,", "2,", "3,", "" }));

        device.onExportEnabledChanged(false);
        QVERIFY(QFile::remove(path)); // closed, so the file may go
        device.exportMonitorEvent("fast", { { "a", 4 } });
        QCOMPARE(readLines(path), QStringList({ "a,", "4,", "" }));
    }
};

PANEL_TEST_MAIN(TestDeviceBase)
#include "tst_device.moc"
