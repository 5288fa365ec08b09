#include "testenv.h"

#include "bvr60600/ddevice.h"
#include "bvr60600/dmodel.h"
#include "bvr60600/dvslave.h"
#include "devices/dfactory.h"
#include "i2c/i2csvc.h"
#include "services/settings.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>

#include <memory>

using Bvr60600::DDevice;

namespace {

const QString chipDat = QStringLiteral(":0x70:bvr60600");
const QByteArray voutAddr = QByteArray::fromHex("01");
const QByteArray controlAddr = QByteArray::fromHex("02");

// The environment variable that turns fatalChild into the failing call.
const char *const fatalCase = "PANEL_DFACTORY_FATAL_CASE";

DeviceState modelState(int vout, bool forcedPwm, bool passThrough)
{
    return { { "voutControl", vout }, { "forcedPwm", forcedPwm }, { "passThrough", passThrough },
             { "autoPwm", !forcedPwm && !passThrough } };
}

QStringList jsonField(const QStringList &entries, const QString &key)
{
    QStringList values;
    for (const QString &entry : entries) {
        QJsonParseError error;
        const QJsonDocument doc = QJsonDocument::fromJson(entry.toUtf8(), &error);
        if (error.error != QJsonParseError::NoError || !doc.isObject())
            return { QStringLiteral("not JSON: ") + entry };
        values << doc.object().value(key).toString();
    }
    return values;
}

} // namespace

class TestDDevice : public QObject
{
    Q_OBJECT

    I2cSvc *svc = nullptr;

    // What a configuration read reports to the device.
    void chipReports(const QByteArray &addr, const QByteArray &value)
    {
        emit svc->doneReadRegister(QString(), "doReadConfiguration", chipDat, addr, value);
    }

    // The "vout" and "control" columns of a data row; an empty value was
    // never read.
    void chipReportsFetched()
    {
        QFETCH(QByteArray, vout);
        QFETCH(QByteArray, control);
        if (!vout.isEmpty())
            chipReports(voutAddr, vout);
        if (!control.isEmpty())
            chipReports(controlAddr, control);
    }

    void run(DDevice &device, const QString &ctx, QStringList script)
    {
        QVERIFY(device.replaceScriptPlaceholders(ctx, script));
        QString err;
        svc->waitRunScript(chipDat, script, err);
        QCOMPARE(err, QString());
    }

    QByteArray chipRegister(const QByteArray &addr)
    {
        QByteArray value;
        QString err;
        svc->waitReadRegister(chipDat, addr, 1, value, err);
        return err.isEmpty() ? value : QByteArray("failed: ") + err.toLatin1();
    }

    void plugSimulatedChip()
    {
        QSignalSpy done(svc, &I2cSvc::doneVirtualSlave);
        emit svc->doVirtualSlave(QString(), chipDat, true);
        QTRY_COMPARE(done.count(), 1);
        QCOMPARE(done.first().at(0).toString(), QString());
    }

private slots:
    void init()
    {
        Settings::getInstance()->setImmediateMode(true); // keeps the debug chatter down
        svc = I2cSvc::getInstance();
    }

    void cleanup()
    {
        delete svc;
        svc = nullptr;
    }

    void getState_data()
    {
        QTest::addColumn<QByteArray>("vout");    // empty: never read
        QTest::addColumn<QByteArray>("control"); // empty: never read
        QTest::addColumn<int>("code");
        QTest::addColumn<bool>("reserved");
        QTest::addColumn<bool>("autoPwm");
        QTest::addColumn<bool>("forcedPwm");
        QTest::addColumn<bool>("passThrough");

        QTest::addRow("never read") << QByteArray() << QByteArray() << 0 << true << true << false << false;
        QTest::addRow("lowest valid code") << QByteArray("\x29") << QByteArray("\x00", 1) << 41 << false << true << false << false;
        QTest::addRow("highest valid code") << QByteArray("\x5f") << QByteArray("\x00", 1) << 95 << false << true << false << false;
        QTest::addRow("code 40 reserved") << QByteArray("\x28") << QByteArray("\x00", 1) << 40 << true << true << false << false;
        QTest::addRow("code 96 out of range") << QByteArray("\x60") << QByteArray("\x00", 1) << 96 << true << true << false << false;
        QTest::addRow("bit 7 ignored") << QByteArray("\xbc") << QByteArray("\x04") << 60 << false << false << true << false;
        QTest::addRow("both bits: pass-through wins") << QByteArray("\x3c") << QByteArray("\x0c") << 60 << false << false << false << true;
        QTest::addRow("other control bits ignored") << QByteArray("\x3c") << QByteArray("\xf3") << 60 << false << true << false << false;
    }

    void getState()
    {
        DDevice device(chipDat);
        chipReportsFetched();

        const DeviceState state = device.getState();
        QTEST(state.value("voutControl").toInt(), "code");
        QFETCH(bool, reserved);
        QCOMPARE(state.value("voutControl_dirty").toString(),
                 reserved ? QStringLiteral("Reserved value read from device.") : QString());
        QTEST(state.value("autoPwm").toBool(), "autoPwm");
        QTEST(state.value("forcedPwm").toBool(), "forcedPwm");
        QTEST(state.value("passThrough").toBool(), "passThrough");
    }

    void writeScript_data()
    {
        QTest::addColumn<QByteArray>("vout");    // empty: never read
        QTest::addColumn<QByteArray>("control"); // empty: never read
        QTest::addColumn<DeviceState>("state");
        QTest::addColumn<QStringList>("script");

        const QByteArray zero(1, '\0');
        const QString start = "# $CTX$ start for $DAT$";
        const QString writing = "# Writting register values";
        const QString reading = "# Reading back register values";
        const QString end = "# $CTX$ end for $DAT$";

        QTest::addRow("code and forced PWM")
            << QByteArray("\x29") << zero << modelState(60, true, false)
            << QStringList{ start, writing, "write_register cr_vout_ref 3c", "write_register cr_control 04",
                            reading, "read_register cr_vout_ref 1", "read_register cr_control 1", end };
        QTest::addRow("nothing changed") << QByteArray("\x29") << zero << modelState(41, false, false) << QStringList();
        QTest::addRow("code 200 written as its low seven bits")
            << QByteArray("\x29") << zero << modelState(200, false, false)
            << QStringList{ start, writing, "write_register cr_vout_ref 48", reading, "read_register cr_vout_ref 1", end };
        QTest::addRow("both mode bits")
            << QByteArray("\x29") << zero << modelState(41, true, true)
            << QStringList{ start, writing, "write_register cr_control 0c", reading, "read_register cr_control 1", end };
        QTest::addRow("bit 7 of the code is cleared")
            << QByteArray("\xa9") << zero << modelState(41, false, false)
            << QStringList{ start, writing, "write_register cr_vout_ref 29", reading, "read_register cr_vout_ref 1", end };
        QTest::addRow("upper byte of a wide value kept")
            << QByteArray("\x01\x29") << zero << modelState(60, false, false)
            << QStringList{ start, writing, "write_register cr_vout_ref 013c", reading, "read_register cr_vout_ref 1", end };
        QTest::addRow("other control bits cleared")
            << QByteArray("\x29") << QByteArray("\xf0") << modelState(41, false, true)
            << QStringList{ start, writing, "write_register cr_control 08", reading, "read_register cr_control 1", end };
        // Reserved codes never reach the chip, but the mode still does.
        QTest::addRow("model default code 0 is not written")
            << QByteArray("\x29") << zero << modelState(0, true, false)
            << QStringList{ start, writing, "write_register cr_control 04", reading, "read_register cr_control 1", end };
        QTest::addRow("code 40 is not written") << QByteArray("\x29") << zero << modelState(40, false, false) << QStringList();
        QTest::addRow("code 96 is not written") << QByteArray("\x29") << zero << modelState(96, false, false) << QStringList();
        QTest::addRow("code 128 masks to 0 and is not written")
            << QByteArray("\x29") << zero << modelState(128, false, false) << QStringList();
        // An image that was never read must not become the chip's new state.
        QTest::addRow("never read: nothing written") << QByteArray() << QByteArray() << modelState(60, true, false) << QStringList();
        QTest::addRow("only the register that was read")
            << QByteArray("\x29") << QByteArray() << modelState(60, true, false)
            << QStringList{ start, writing, "write_register cr_vout_ref 3c", reading, "read_register cr_vout_ref 1", end };
    }

    void writeScript()
    {
        QFETCH(DeviceState, state);
        QFETCH(QStringList, script);
        DDevice device(chipDat);
        chipReportsFetched();

        const unsigned code = state.value("voutControl").toUInt() & 0x7F;
        if (code < 41 || code > 95)
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("code %1 is reserved").arg(code)));
        device.setState(state);
        QCOMPARE(device.getWriteConfigurationScript(), script);
    }

    // The warning must say which code was refused.
    void reservedCodeWarningNamesTheCode()
    {
        DDevice device(chipDat);
        chipReports(voutAddr, "\x29");
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("cr_vout_ref.*code 17 is reserved")));
        device.setState(modelState(17, false, false));
    }

    // Immediate mode applies the state every second; the log must not fill
    // with the same warning. A new reserved code, or the same one after a
    // valid code, is reported again.
    void reservedCodeWarnsOncePerChange()
    {
        DDevice device(chipDat);
        chipReports(voutAddr, "\x29");
        int warnings = 0;
        const QtMessageHandler previous = qInstallMessageHandler(nullptr);
        static int *counter = nullptr;
        counter = &warnings;
        qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &, const QString &msg) {
            if (type == QtWarningMsg && msg.contains(QLatin1String("is reserved")))
                ++*counter;
        });
        for (int code : { 17, 17, 17, 18, 60, 18 })
            device.setState(modelState(code, false, false));
        qInstallMessageHandler(previous);
        QCOMPARE(warnings, 3);
    }

    // Once the chip has confirmed a target, it drops out of the script; a
    // register the chip did not confirm stays in it.
    void confirmedRegistersLeaveTheScript()
    {
        DDevice device(chipDat);
        chipReports(voutAddr, "\x29");
        chipReports(controlAddr, QByteArray(1, '\0'));
        device.setState(modelState(60, true, false));
        emit svc->doneWriteRegister(QString(), "doWriteConfiguration", chipDat, voutAddr, "\x3c");
        emit svc->doneReadRegister("nack", "doWriteConfiguration", chipDat, controlAddr, QByteArray());
        QCOMPARE(device.getWriteConfigurationScript().filter("write_register"),
                 QStringList{ "write_register cr_control 04" });
    }

    void readScript()
    {
        DDevice device(chipDat);
        QCOMPARE(device.getReadConfigurationScript(),
                 QStringList({ "# $CTX$ start for $DAT$", "# read registers", "read_register cr_soft_reset 1",
                               "read_register cr_vout_ref 1", "read_register cr_control 1",
                               "read_register cr_manufacturer_id 1", "read_register cr_device_id 1",
                               "# $CTX$ end for $DAT$" }));
    }

    void functionScript()
    {
        DDevice device(chipDat);
        QCOMPARE(device.getFunctionScript("resetCommand", {}), QStringList{ "write_register 00 01" });
        QVERIFY(device.getFunctionScript("ResetCommand", {}).isEmpty());
        QVERIFY(device.getFunctionEvent("resetCommand").isEmpty());
    }

    void registerView_data()
    {
        QTest::addColumn<QString>("task");
        QTest::addColumn<QVariantMap>("params");
        QTest::addColumn<QStringList>("names");

        const QStringList all{ "cr_soft_reset", "cr_vout_ref", "cr_control", "cr_manufacturer_id", "cr_device_id" };
        QTest::addRow("no parameters, task name in capitals") << "GETREGISTERVIEW" << QVariantMap() << all;
        QTest::addRow("empty filter") << "getRegisterView" << QVariantMap{ { "filter", "" } } << all;
        QTest::addRow("matches the group") << "getRegisterView" << QVariantMap{ { "filter", "MON" } } << all;
        QTest::addRow("by name") << "getRegisterView" << QVariantMap{ { "filter", "vout" } } << QStringList{ "cr_vout_ref" };
        QTest::addRow("by address") << "getRegisterView" << QVariantMap{ { "filter", "0x4" } }
                                    << QStringList{ "cr_manufacturer_id", "cr_device_id" };
        QTest::addRow("regular expression") << "getRegisterView" << QVariantMap{ { "filter", "^cr_(soft|dev)" } }
                                            << QStringList{ "cr_soft_reset", "cr_device_id" };
        QTest::addRow("invalid expression") << "getRegisterView" << QVariantMap{ { "filter", "(" } } << QStringList();
    }

    void registerView()
    {
        QFETCH(QString, task);
        QFETCH(QVariantMap, params);
        QFETCH(QStringList, names);
        DDevice device(chipDat);
        const QVariantMap result = device.task(task, params);
        QCOMPARE(result.value("err"), QVariant(QString()));
        const QStringList entries = result.value("data").toStringList();
        QCOMPARE(jsonField(entries, "name"), names);
        QCOMPARE(jsonField(entries, "uid"), names);
    }

    void registerViewShowsTheImage()
    {
        DDevice device(chipDat);
        chipReports(voutAddr, "\x3c");
        const QStringList entries = device.task("getRegisterView", {}).value("data").toStringList();
        QCOMPARE(jsonField(entries, "address"), QStringList({ "0x00", "0x01", "0x02", "0x40", "0x41" }));
        QCOMPARE(jsonField(entries, "value"), QStringList({ "0x00", "0x3c", "0x00", "0x00", "0x00" }));
        QCOMPARE(jsonField(entries, "group"), QStringList(5, "common"));
    }

    void fieldView_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QStringList>("names");
        const QStringList control{ "reserved2_4", "i2c_pt_in", "i2c_mode_in", "reserved2_0" };
        QTest::addRow("with prefix") << "0x02" << control;
        QTest::addRow("without prefix") << "02" << control;
        QTest::addRow("one digit") << "2" << control;
        QTest::addRow("capital prefix and digits") << "0X41" << QStringList{ "device_id" };
        QTest::addRow("empty selects 0x00") << "" << QStringList{ "reserved0", "soft_reset" };
        QTest::addRow("garbage selects 0x00") << "zz" << QStringList{ "reserved0", "soft_reset" };
        QTest::addRow("not in the map") << "0x03" << QStringList();
        QTest::addRow("two bytes") << "0x0001" << QStringList();
    }

    void fieldView()
    {
        QFETCH(QString, address);
        QFETCH(QStringList, names);
        DDevice device(chipDat);
        const QVariantMap result = device.task("getRegisterFieldView", { { "address", address } });
        QCOMPARE(result.value("err"), QVariant(QString()));
        QCOMPARE(jsonField(result.value("data").toStringList(), "name"), names);
    }

    // The register pane shows "description": it must hold the field's text.
    void fieldViewCarriesDescriptions()
    {
        DDevice device(chipDat);
        const QStringList entries =
            device.task("getRegisterFieldView", { { "address", "0x01" } }).value("data").toStringList();
        QCOMPARE(jsonField(entries, "start"), QStringList({ "7", "0" }));
        QCOMPARE(jsonField(entries, "size"), QStringList({ "1", "7" }));
        QCOMPARE(jsonField(entries, "access"), QStringList({ "r", "rw" }));
        QCOMPARE(jsonField(entries, "reset"), QStringList({ "", "" }));
        const QStringList descriptions = jsonField(entries, "description");
        QCOMPARE(descriptions.first(), QStringLiteral("reserved"));
        QVERIFY(descriptions.last().startsWith("Sets the target regulation point for VOUT."));
        QVERIFY(descriptions.last().endsWith(QStringLiteral("non\u2212reserved equivalent value")));
    }

    void registerUpdateScript()
    {
        DDevice device(chipDat);
        const QVariantMap result = device.task("getregisterupdatescript",
                                               { { "cr_vout_ref", "0x3c" }, { "cr_control", "0x04" } });
        QCOMPARE(result.value("err"), QVariant(QString()));
        QCOMPARE(result.value("script").toStringList(),
                 QStringList({ "# $CTX$ start for $DAT$", "write_register cr_control 04", "read_register cr_control 1",
                               "write_register cr_vout_ref 3c", "read_register cr_vout_ref 1", "# $CTX$ end for $DAT$" }));
    }

    void unknownTaskGivesOnlyErr()
    {
        DDevice device(chipDat);
        QCOMPARE(device.task("getSomething", { { "filter", "" } }), QVariantMap({ { "err", QString() } }));
    }

    void scriptReplacementsNameAddresses()
    {
        DDevice device(chipDat);
        QStringList script{ "write_register CR_VOUT_REF 3c" };
        QVERIFY(device.replaceScriptPlaceholders("ctx", script));
        QCOMPARE(script, QStringList{ "write_register 01 3c  #cr_vout_ref=01; " });
        // The documenting comment must not upset the parser.
        QString err;
        QVERIFY2(I2cSvc::canParseScript(err, script), qPrintable(err));
    }

    // The whole road: read script -> simulated chip -> completions -> state,
    // and state -> write script -> simulated chip -> read back.
    void endToEndWithTheSimulatedChip()
    {
        plugSimulatedChip();
        DDevice device(chipDat);

        // Before the first read the device has nothing it may write.
        device.setState(modelState(60, true, false));
        QVERIFY(device.getWriteConfigurationScript().isEmpty());

        run(device, "doReadConfiguration", device.getReadConfigurationScript());
        DeviceState state = device.getState();
        QCOMPARE(state.value("voutControl").toInt(), 0);
        QCOMPARE(state.value("voutControl_dirty").toString(), QStringLiteral("Reserved value read from device."));
        QCOMPARE(state.value("autoPwm").toBool(), true);
        QCOMPARE(jsonField(device.task("getRegisterView", { { "filter", "0x4" } }).value("data").toStringList(), "value"),
                 QStringList({ "0xff", "0xff" }));

        device.setState(modelState(60, true, false));
        run(device, "doWriteConfiguration", device.getWriteConfigurationScript());
        QCOMPARE(chipRegister(voutAddr), QByteArray("\x3c"));
        QCOMPARE(chipRegister(controlAddr), QByteArray("\x04"));
        // The read-back confirmed both targets.
        QVERIFY(device.getWriteConfigurationScript().isEmpty());
        state = device.getState();
        QCOMPARE(state.value("voutControl").toInt(), 60);
        QCOMPARE(state.value("voutControl_dirty").toString(), QString());
        QCOMPARE(state.value("forcedPwm").toBool(), true);
        QCOMPARE(state.value("autoPwm").toBool(), false);

        // A reserved code leaves the chip's code alone; the mode follows.
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("code 0 is reserved"));
        device.setState(modelState(0, false, true));
        run(device, "doWriteConfiguration", device.getWriteConfigurationScript());
        QCOMPARE(chipRegister(voutAddr), QByteArray("\x3c"));
        QCOMPARE(chipRegister(controlAddr), QByteArray("\x08"));
        QCOMPARE(device.getState().value("passThrough").toBool(), true);

        // The reset function is stored like any write; the simulated chip
        // does not restore its power-on image.
        run(device, "doFunction,resetCommand", device.getFunctionScript("resetCommand", {}));
        QCOMPARE(chipRegister(QByteArray(1, '\0')), QByteArray("\x01"));
        QCOMPARE(chipRegister(voutAddr), QByteArray("\x3c"));
    }

    // The register pane may still write anything, reserved codes included.
    void registerUpdateScriptIsNotFiltered()
    {
        plugSimulatedChip();
        DDevice device(chipDat);
        run(device, "doRunScript,ViewRegister",
            device.task("getRegisterUpdateScript", { { "cr_vout_ref", "0x05" } }).value("script").toStringList());
        QCOMPARE(chipRegister(voutAddr), QByteArray("\x05"));
        QCOMPARE(device.registers().bytesFromStore(Registers::GroupRegister, voutAddr), QByteArray("\x05"));
    }

    void simulatedChipPowerOnImage_data()
    {
        QTest::addColumn<QByteArray>("addr");
        QTest::addColumn<QByteArray>("value");
        QTest::addRow("soft reset") << QByteArray(1, '\0') << QByteArray(1, '\0');
        QTest::addRow("vout ref") << voutAddr << QByteArray(1, '\0');
        QTest::addRow("control") << controlAddr << QByteArray(1, '\0');
        QTest::addRow("manufacturer id") << QByteArray("\x40") << QByteArray("\xff");
        QTest::addRow("device id") << QByteArray("\x41") << QByteArray("\xff");
        QTest::addRow("outside the map") << QByteArray("\x03")
                                         << QByteArray("failed: VSlave read failed: :0x70:bvr60600 has no data "
                                                       "for register address: 0x03");
    }

    void simulatedChipPowerOnImage()
    {
        QFETCH(QByteArray, addr);
        plugSimulatedChip();
        QTEST(chipRegister(addr), "value");
    }

    void simulatedChipInitKeepsOtherKeys()
    {
        Bvr60600::DVSlave slave(chipDat);
        slave.registers().bytesToStore(Registers::GroupRegister, QByteArray("\x10"), QByteArray("\x77"));
        slave.registers().bytesToStore(Registers::GroupRegister, voutAddr, QByteArray("\x3c"));
        slave.init();
        QCOMPARE(slave.registers().bytesFromStore(Registers::GroupRegister, QByteArray("\x10")), QByteArray("\x77"));
        QCOMPARE(slave.registers().bytesFromStore(Registers::GroupRegister, voutAddr), QByteArray(1, '\0'));
        QCOMPARE(slave.myType(), QStringLiteral("bvr60600"));
    }

    void factoryTypeTest_data()
    {
        QTest::addColumn<QString>("dat");
        QTest::addColumn<bool>("supported");
        QTest::addRow("default adapter") << ":0x70:bvr60600" << true;
        QTest::addRow("named adapter, capitals") << "FT01:0x71:BVR60600" << true;
        QTest::addRow("known but unimplemented") << ":0x70:bvr60700" << false;
        QTest::addRow("welcome") << ":0x70:welcome" << false;
        QTest::addRow("type without separator") << "bvr60600" << false;
        QTest::addRow("longer type") << ":0x70:bvr60600x" << false;
        QTest::addRow("empty") << "" << false;
    }

    void factoryTypeTest()
    {
        QFETCH(QString, dat);
        QFETCH(bool, supported);
        QCOMPARE(DFactory::supportsDat(dat), supported);
    }

    void factoryMakesTheFamily()
    {
        DFactory factory;
        QCOMPARE(factory.newableDerivedDeviceTypes(), QStringList{ "bvr60600" });
        QVERIFY(DFactory::supportsType("BVR60600"));
        QVERIFY(!DFactory::supportsType("pmbus"));

        std::unique_ptr<Device> device(factory.newDerivedDevice("0x1:0x70:BVR60600"));
        QVERIFY(qobject_cast<DDevice *>(device.get()));
        QCOMPARE(device->dat(), QStringLiteral("0x1:0x70:BVR60600"));
        QCOMPARE(device->myType(), QStringLiteral("bvr60600"));

        std::unique_ptr<Model> model(factory.newDerivedModel("Bvr60600"));
        QVERIFY(qobject_cast<Bvr60600::DModel *>(model.get()));
        QVERIFY(!model->parent());

        std::unique_ptr<VSlave> slave(factory.newDerivedVSlave(chipDat));
        QVERIFY(qobject_cast<Bvr60600::DVSlave *>(slave.get()));
        // Already initialised: the identification registers hold their image.
        QCOMPARE(slave->registers().bytesFromStore(Registers::GroupRegister, QByteArray("\x41")), QByteArray("\xff"));
    }

    // The worker makes simulated chips only for the implemented family and
    // says so for the others.
    void workerRefusesSimulatedSlaveOfOtherType()
    {
        QSignalSpy done(svc, &I2cSvc::doneVirtualSlave);
        emit svc->doVirtualSlave(QString(), ":0x70:bvr60700", true);
        QTRY_COMPARE(done.count(), 1);
        QCOMPARE(done.first().at(0).toString(),
                 QStringLiteral("I2cWorker_doVirtualSlave, no simulated slave for type bvr60700"));
    }

    void fatalMessages_data()
    {
        QTest::addColumn<QString>("which");
        QTest::addColumn<QString>("message");
        QTest::addRow("device") << "device" << "Attempted to create derived device for unrecognized type.";
        QTest::addRow("vslave") << "vslave" << "Attempted to create derived vslave for unrecognized type.";
        QTest::addRow("model") << "model" << "Attempted to create model for unrecognized type.";
    }

    // A fatal message ends the process, so each runs in a child process of
    // this test (see fatalChild).
    void fatalMessages()
    {
        QFETCH(QString, which);
        QFETCH(QString, message);
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QString::fromLatin1(fatalCase), which);
        env.insert("ASAN_OPTIONS", "detect_leaks=0");
        child.setProcessEnvironment(env);
        child.start(QCoreApplication::applicationFilePath(), { "fatalChild" });
        QVERIFY(child.waitForFinished(60000));
        QVERIFY(child.exitStatus() == QProcess::CrashExit || child.exitCode() != 0);
        const QString output = QString::fromLocal8Bit(child.readAllStandardError() + child.readAllStandardOutput());
        QVERIFY2(output.contains(message), qPrintable(output));
    }

    // Does nothing unless started by fatalMessages.
    void fatalChild()
    {
        const QString which = qEnvironmentVariable(fatalCase);
        DFactory factory;
        if (which == QLatin1String("device"))
            delete factory.newDerivedDevice(":0x70:bvr60700");
        else if (which == QLatin1String("vslave"))
            delete factory.newDerivedVSlave(":0x70:pmbus");
        else if (which == QLatin1String("model"))
            delete factory.newDerivedModel("welcome");
    }
};

PANEL_TEST_MAIN(TestDDevice)
#include "tst_ddevice.moc"
