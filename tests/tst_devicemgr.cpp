// The device manager's bookkeeping: project membership, the current device,
// connection state from adapter and slave events, scanning, the device list
// and state shuttling. Bus events are played in through the I2C service's
// own signals; nothing here needs a chip.

#include "devicemgrtest.h"
#include "testenv.h"

#include "bvr60600/dmodel.h"
#include "devices/device.h"
#include "devices/devicemgr.h"
#include "devices/project.h"
#include "i2c/i2csvc.h"
#include "models/modelmgr.h"
#include "services/commslog.h"
#include "services/settings.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTemporaryDir>

namespace {
const QString dat70 = QStringLiteral(":0x70:bvr60600");
const QString dat71 = QStringLiteral(":0x71:bvr60600");
const QString dat72 = QStringLiteral(":0x72:bvr60600");
} // namespace

class TestDeviceMgr : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void cleanupTestCase();

    void addDevice_data();
    void addDevice();
    void firstDeviceBecomesCurrent();
    void addMergesStateOverModelDefaults();
    void addDropsValuesOfTheWrongType();
    void editDevice_data();
    void editDevice();
    void renameKeepsUnsavedModelEdits();
    void removeCurrentPicksFirstRemaining();
    void removeDevice_data();
    void removeDevice();
    void currentDatRefusesUnknownDevice();
    void slaveAddedConnectsOnce();
    void slaveOfNewChipJoinsProject();
    void defaultAdapterSecondIdIsSameChip();
    void otherAdapterSameAddressNotAdded();
    void dongleRemovalKeepsDevices();
    void scanInstruction_data();
    void scanInstruction();
    void askScanOneOpenScansOnceThenResets();
    void deviceListIsJsonEvenForOddAliases();
    void metadataIn8BitAddressing();
    void stateShuttling();
    void integrity();
    void commsLogRecordsManagerEvents();
    void returningDatGetsItsOwnState_data();
    void returningDatGetsItsOwnState();
    void projectObjectIsOwned();
    void oneDeviceWindow_data();
    void oneDeviceWindow();

private:
    DeviceMgr *mgr() const { return DeviceMgr::getInstance(); }
    void emitSlave(const QString &dat) { emit I2cSvc::getInstance()->eventSlaveAdded(dat); }

    Bvr60600::DModel *m_model = nullptr;
};

void TestDeviceMgr::initTestCase()
{
    m_model = DeviceMgrTest::quietStart();
}

void TestDeviceMgr::init()
{
    QCOMPARE(mgr()->deviceCount(), 0);
}

void TestDeviceMgr::cleanup()
{
    delete DeviceMgr::getInstance();
    Settings::getInstance()->setI2c8BitAddress(false);
    Settings::getInstance()->setScanOpen(false);
    Settings::getInstance()->setScanManual(false);
}

void TestDeviceMgr::cleanupTestCase()
{
    delete m_model;
}

void TestDeviceMgr::addDevice_data()
{
    QTest::addColumn<QString>("dat");
    QTest::addColumn<QString>("err");
    QTest::addRow("good") << dat71 << QString();
    QTest::addRow("twice") << dat70 << QStringLiteral("Device :0x70:bvr60600 already exists");
    QTest::addRow("malformed") << QStringLiteral("0x71:bvr60600")
                               << QStringLiteral("Device 0x71:bvr60600 is incorrectly formatted");
    QTest::addRow("unsupported type") << QStringLiteral(":0x71:bvr60100")
                                      << QStringLiteral("DeviceType bvr60100 is not supported");
    QTest::addRow("reserved address") << QStringLiteral(":0x01:bvr60600")
                                      << QStringLiteral("Address 0x01 is not a legal 7-bit address");
    QTest::addRow("address in use") << QStringLiteral("dongle1:0x70:bvr60600")
                                    << QStringLiteral("Address 0x70 is already in use");
    // Untrusted text from QML and HTTP: one chip must not get two spellings.
    QTest::addRow("address not hex") << QStringLiteral(":zz:bvr60600")
                                     << QStringLiteral("Address zz is not a legal 7-bit address");
    QTest::addRow("address spelt long") << QStringLiteral(":0x070:bvr60600")
                                        << QStringLiteral("Address 0x070 is not a legal 7-bit address");
    QTest::addRow("address too big") << QStringLiteral(":0x1ff:bvr60600")
                                     << QStringLiteral("Address 0x1ff is not a legal 7-bit address");
}

void TestDeviceMgr::addDevice()
{
    QFETCH(QString, dat);
    QFETCH(QString, err);
    QCOMPARE(mgr()->addDeviceToProject(dat70), QString());
    QSignalSpy added(mgr(), &DeviceMgr::eventDeviceAdded);
    QCOMPARE(mgr()->addDeviceToProject(dat), err);
    QCOMPARE(added.size(), err.isEmpty() ? 1 : 0);
    QCOMPARE(mgr()->deviceCount(), err.isEmpty() ? 2 : 1);
    QString integrity;
    QVERIFY2(mgr()->checkIntegrity(integrity), qPrintable(integrity));
}

void TestDeviceMgr::firstDeviceBecomesCurrent()
{
    QSignalSpy type(mgr(), &DeviceMgr::currentTypeChanged);
    QCOMPARE(mgr()->addDeviceToProject(dat71), QString());
    QCOMPARE(mgr()->addDeviceToProject(dat70), QString());
    QCOMPARE(mgr()->currentDat(), dat71);
    QCOMPARE(mgr()->currentType(), QStringLiteral("bvr60600"));
    QCOMPARE(type.size(), 1);
    QCOMPARE(ModelMgr::getInstance()->currentModel().data(), m_model);
}

void TestDeviceMgr::addMergesStateOverModelDefaults()
{
    QCOMPARE(mgr()->addDeviceToProject(dat70, {{QStringLiteral("alias"), QStringLiteral("Board A")},
                                                {QStringLiteral("voutControl"), 60}}),
             QString());
    const DeviceState state = mgr()->deviceStates().value(dat70);
    QCOMPARE(state.value(QStringLiteral("alias")).toString(), QStringLiteral("Board A"));
    QCOMPARE(state.value(QStringLiteral("voutControl")).toInt(), 60);
    // Defaults of the model fill what was not given.
    QVERIFY(state.contains(QStringLiteral("autoPwm")));
    QCOMPARE(m_model->voutControl(), 60);
}

void TestDeviceMgr::addDropsValuesOfTheWrongType()
{
    // A project file or an HTTP client may give text where a number belongs;
    // the model's default stays rather than a value the chip would see as 0.
    const int defaultCode = Bvr60600::DModel().voutControl();
    QCOMPARE(mgr()->addDeviceToProject(dat70, {{QStringLiteral("voutControl"), QStringLiteral("abc")},
                                                {QStringLiteral("alias"), QStringLiteral("x")}}),
             QString());
    const DeviceState state = mgr()->deviceStates().value(dat70);
    QCOMPARE(state.value(QStringLiteral("voutControl")).toInt(), defaultCode);
    QCOMPARE(state.value(QStringLiteral("alias")).toString(), QStringLiteral("x"));
}

void TestDeviceMgr::editDevice_data()
{
    QTest::addColumn<QString>("oldDat");
    QTest::addColumn<QString>("newDat");
    QTest::addColumn<QString>("err");
    QTest::addRow("own address") << dat70 << dat70 << QString();
    QTest::addRow("free address") << dat70 << dat72 << QString();
    QTest::addRow("other device's address") << dat70 << dat71 << QStringLiteral("Address 0x71 is already in use");
    QTest::addRow("missing") << dat72 << dat72 << QStringLiteral("Device :0x72:bvr60600 should exist");
    QTest::addRow("type change") << dat70 << QStringLiteral(":0x70:bvr60100")
                                 << QStringLiteral("Devices need to be of the same deviceType");
    QTest::addRow("malformed new") << dat70 << QStringLiteral("x")
                                   << QStringLiteral("Device x is incorrectly formatted");
    QTest::addRow("illegal new") << dat70 << QStringLiteral(":0x00:bvr60600")
                                 << QStringLiteral("Address 0x00 is not a legal 7-bit address");
}

void TestDeviceMgr::editDevice()
{
    QFETCH(QString, oldDat);
    QFETCH(QString, newDat);
    QFETCH(QString, err);
    QCOMPARE(mgr()->addDeviceToProject(dat70, {{QStringLiteral("alias"), QStringLiteral("A")}}), QString());
    QCOMPARE(mgr()->addDeviceToProject(dat71), QString());
    QSignalSpy added(mgr(), &DeviceMgr::eventDeviceAdded);
    QSignalSpy removed(mgr(), &DeviceMgr::eventDeviceRemoved);
    QCOMPARE(mgr()->editDeviceInProject(oldDat, newDat, {{QStringLiteral("voutControl"), 70}}), err);
    QCOMPARE(added.size(), 0);
    QCOMPARE(removed.size(), 0);
    if (err.isEmpty()) {
        QCOMPARE(mgr()->currentDat(), newDat);
        QCOMPARE(mgr()->device(newDat)->dat(), newDat);
        const DeviceState state = mgr()->deviceStates().value(newDat);
        QCOMPARE(state.value(QStringLiteral("alias")).toString(), QStringLiteral("A"));
        QCOMPARE(state.value(QStringLiteral("voutControl")).toInt(), 70);
    }
    QString integrity;
    QVERIFY2(mgr()->checkIntegrity(integrity), qPrintable(integrity));
}

void TestDeviceMgr::renameKeepsUnsavedModelEdits()
{
    QCOMPARE(mgr()->addDeviceToProject(dat70), QString());
    m_model->setVoutControl(77);
    QCOMPARE(mgr()->editDeviceInProject(dat70, dat72), QString());
    QCOMPARE(m_model->voutControl(), 77);
    QVERIFY(mgr()->getModelState(dat72));
    QCOMPARE(mgr()->deviceStates().value(dat72).value(QStringLiteral("voutControl")).toInt(), 77);
}

void TestDeviceMgr::removeCurrentPicksFirstRemaining()
{
    QCOMPARE(mgr()->addDeviceToProject(dat72), QString());
    QCOMPARE(mgr()->addDeviceToProject(dat71), QString());
    QCOMPARE(mgr()->addDeviceToProject(dat70), QString());
    QCOMPARE(mgr()->currentDat(), dat72);
    QCOMPARE(mgr()->removeDeviceFromProject(dat72), QString());
    QCOMPARE(mgr()->currentDat(), dat70);
    QCOMPARE(mgr()->removeDeviceFromProject(dat70), QString());
    QCOMPARE(mgr()->removeDeviceFromProject(dat71), QString());
    QCOMPARE(mgr()->currentDat(), QString());
    QCOMPARE(mgr()->currentType(), QStringLiteral("welcome"));
    QCOMPARE(mgr()->deviceCount(), 0);
    QString integrity;
    QVERIFY2(mgr()->checkIntegrity(integrity), qPrintable(integrity));
}

void TestDeviceMgr::removeDevice_data()
{
    QTest::addColumn<QString>("dat");
    QTest::addColumn<QString>("err");
    QTest::addRow("present") << dat70 << QString();
    QTest::addRow("absent") << dat71 << QStringLiteral("Device :0x71:bvr60600 does not exist");
    QTest::addRow("malformed") << QStringLiteral("::::") << QStringLiteral("Device :::: is incorrectly formatted");
}

void TestDeviceMgr::removeDevice()
{
    QFETCH(QString, dat);
    QFETCH(QString, err);
    QCOMPARE(mgr()->addDeviceToProject(dat70), QString());
    emitSlave(dat70);
    QSignalSpy disconnected(mgr(), &DeviceMgr::eventDeviceDisconnected);
    QCOMPARE(mgr()->removeDeviceFromProject(dat), err);
    QCOMPARE(disconnected.size(), err.isEmpty() ? 1 : 0);
    QCOMPARE(mgr()->connectedIds().isEmpty(), err.isEmpty());
}

void TestDeviceMgr::currentDatRefusesUnknownDevice()
{
    QCOMPARE(mgr()->addDeviceToProject(dat70), QString());
    QCOMPARE(mgr()->addDeviceToProject(dat71), QString());
    mgr()->setCurrentDat(dat71);
    QCOMPARE(mgr()->currentDat(), dat71);
    mgr()->setCurrentDat(dat72);
    QCOMPARE(mgr()->currentDat(), dat71);
    QString integrity;
    QVERIFY2(mgr()->checkIntegrity(integrity), qPrintable(integrity));
}

void TestDeviceMgr::slaveAddedConnectsOnce()
{
    QCOMPARE(mgr()->addDeviceToProject(dat70), QString());
    mgr()->setOnlineMode(true);
    QSignalSpy connected(mgr(), &DeviceMgr::eventDeviceConnected);
    QSignalSpy ids(mgr(), &DeviceMgr::connectedIdsChanged);
    emitSlave(dat70);
    emitSlave(dat70);
    QCOMPARE(connected.size(), 1);
    QCOMPARE(ids.size(), 1);
    QVERIFY(mgr()->currentConnected());
    QVERIFY(mgr()->isConnected(dat70));
    mgr()->setOnlineMode(false);
    QVERIFY(!mgr()->currentConnected());
    QVERIFY(!mgr()->isConnected(dat70));
    QVERIFY(mgr()->isConnected(dat70, false));
    emit I2cSvc::getInstance()->eventSlaveRemoved(dat70);
    QVERIFY(mgr()->connectedIds().isEmpty());
}

void TestDeviceMgr::slaveOfNewChipJoinsProject()
{
    QSignalSpy added(mgr(), &DeviceMgr::eventDeviceAdded);
    emitSlave(dat71);
    QCOMPARE(added.size(), 1);
    QCOMPARE(mgr()->currentDat(), dat71);
    QCOMPARE(mgr()->connectedIds(), QStringList{dat71});
    // No saved state until it is first read or taken from the model.
    QString integrity;
    QVERIFY(!mgr()->checkIntegrity(integrity));
    QCOMPARE(integrity, QStringLiteral("device and deviceStates count differ"));
    // Types without a model are not taken in.
    emitSlave(QStringLiteral(":0x72:bvr60100"));
    QCOMPARE(mgr()->deviceCount(), 1);
}

void TestDeviceMgr::defaultAdapterSecondIdIsSameChip()
{
    // The default adapter comes under "" and under its own id; its chip must
    // stay one device with the user's state, connected under its project DAT.
    QCOMPARE(mgr()->addDeviceToProject(dat70, {{QStringLiteral("alias"), QStringLiteral("mine")}}), QString());
    emit I2cSvc::getInstance()->eventDefaultDongle(QStringLiteral("A1"));
    emit I2cSvc::getInstance()->eventDongleAdded(QString(), QStringLiteral("FT4222 A1"));
    emit I2cSvc::getInstance()->eventDongleAdded(QStringLiteral("A1"), QStringLiteral("FT4222 A1"));
    QCOMPARE(mgr()->dongleCount(), 2);
    QSignalSpy added(mgr(), &DeviceMgr::eventDeviceAdded);
    emitSlave(dat70);
    emitSlave(QStringLiteral("A1:0x70:bvr60600"));
    QCOMPARE(added.size(), 0);
    QCOMPARE(mgr()->projectDats(), QStringList{dat70});
    QCOMPARE(mgr()->connectedIds(), QStringList{dat70});

    // Found first under the adapter's own id: still the project's device.
    mgr()->disconnectDevice(dat70);
    emitSlave(QStringLiteral("A1:0x70:bvr60600"));
    QCOMPARE(mgr()->connectedIds(), QStringList{dat70});
    QCOMPARE(added.size(), 0);
    emit I2cSvc::getInstance()->eventSlaveRemoved(QStringLiteral("A1:0x70:bvr60600"));
    QVERIFY(mgr()->connectedIds().isEmpty());
}

void TestDeviceMgr::otherAdapterSameAddressNotAdded()
{
    // A different adapter's chip at the project's address is not the
    // project's chip and cannot join a project that holds that address,
    // even when both adapters are of one kind and describe themselves alike.
    QCOMPARE(mgr()->addDeviceToProject(dat70), QString());
    emit I2cSvc::getInstance()->eventDefaultDongle(QStringLiteral("A1"));
    emit I2cSvc::getInstance()->eventDongleAdded(QString(), QStringLiteral("FT4222 A"));
    emit I2cSvc::getInstance()->eventDongleAdded(QStringLiteral("A1"), QStringLiteral("FT4222 A"));
    emit I2cSvc::getInstance()->eventDongleAdded(QStringLiteral("B2"), QStringLiteral("FT4222 A"));
    emitSlave(QStringLiteral("B2:0x70:bvr60600"));
    QCOMPARE(mgr()->projectDats(), QStringList{dat70});
    QVERIFY(mgr()->connectedIds().isEmpty());
}

void TestDeviceMgr::dongleRemovalKeepsDevices()
{
    QCOMPARE(mgr()->addDeviceToProject(QStringLiteral("A1:0x70:bvr60600")), QString());
    QCOMPARE(mgr()->addDeviceToProject(dat71), QString());
    emit I2cSvc::getInstance()->eventDongleAdded(QStringLiteral("A1"), QStringLiteral("one"));
    emit I2cSvc::getInstance()->eventDongleAdded(QString(), QStringLiteral("default"));
    emitSlave(QStringLiteral("A1:0x70:bvr60600"));
    emitSlave(dat71);
    QSignalSpy descriptions(mgr(), &DeviceMgr::dongleDescriptionsChanged);
    emit I2cSvc::getInstance()->eventDongleRemoved(QStringLiteral("A1"), QStringLiteral("one"));
    QCOMPARE(mgr()->connectedIds(), QStringList{dat71});
    QCOMPARE(mgr()->deviceCount(), 2);
    QCOMPARE(mgr()->deviceStates().size(), 2);
    QCOMPARE(mgr()->dongleCount(), 1);
    QCOMPARE(mgr()->dongleDescriptions(), QStringList{QStringLiteral("default")});
    QCOMPARE(descriptions.size(), 1);
    // An adapter that is not known changes nothing.
    emit I2cSvc::getInstance()->eventDongleRemoved(QStringLiteral("Z9"), QStringLiteral("z"));
    QCOMPARE(descriptions.size(), 1);
}

void TestDeviceMgr::scanInstruction_data()
{
    QTest::addColumn<bool>("scanManual");
    QTest::addColumn<bool>("scanOpen");
    QTest::addColumn<bool>("askOne");
    QTest::addColumn<bool>("askOneOpen");
    QTest::addColumn<QString>("expected");
    // Project: 0x70 connected, 0x72 and 0x71 not.
    QTest::addRow("closed automatic") << false << false << false << false << "bvr60600=71,72";
    QTest::addRow("open automatic") << false << true << false << false << "bvr60600=";
    QTest::addRow("manual, nothing asked") << true << true << false << false << "";
    QTest::addRow("manual, one closed asked") << true << false << true << false << "bvr60600=71,72";
    QTest::addRow("manual, one asked with open on") << true << true << true << false << "bvr60600=";
    QTest::addRow("manual, one open asked") << true << false << false << true << "bvr60600=";
}

void TestDeviceMgr::scanInstruction()
{
    QFETCH(bool, scanManual);
    QFETCH(bool, scanOpen);
    QFETCH(bool, askOne);
    QFETCH(bool, askOneOpen);
    QFETCH(QString, expected);
    QCOMPARE(mgr()->addDeviceToProject(dat72), QString());
    QCOMPARE(mgr()->addDeviceToProject(dat70), QString());
    QCOMPARE(mgr()->addDeviceToProject(dat71), QString());
    emitSlave(dat70);
    Settings::getInstance()->setScanManual(scanManual);
    Settings::getInstance()->setScanOpen(scanOpen);
    mgr()->setAskScanOne(askOne);
    mgr()->setAskScanOneOpen(askOneOpen);

    QStringList text;
    const ScanInstruction instruction = mgr()->getScanInstruction();
    for (auto it = instruction.cbegin(); it != instruction.cend(); ++it) {
        QStringList addresses;
        for (unsigned char a : it.value())
            addresses << QString::number(a, 16);
        text << it.key() + QLatin1Char('=') + addresses.join(QLatin1Char(','));
    }
    QCOMPARE(text.join(QLatin1Char(';')), expected);
}

void TestDeviceMgr::askScanOneOpenScansOnceThenResets()
{
    Settings::getInstance()->setScanManual(true);
    emit I2cSvc::getInstance()->eventDongleAdded(QStringLiteral("T1"), QStringLiteral("test"));
    mgr()->setOnlineMode(true);
    QSignalSpy scans(I2cSvc::getInstance(), &I2cSvc::doScanForSlaves);
    QTest::qWait(1200);
    QCOMPARE(scans.size(), 0);
    QSignalSpy askChanged(mgr(), &DeviceMgr::askScanOneOpenChanged);
    mgr()->setAskScanOneOpen(true);
    QTRY_COMPARE_WITH_TIMEOUT(scans.size(), 1, 3000);
    QCOMPARE(scans.first().at(0).toString(), QStringLiteral("T1"));
    const auto instruction = scans.first().at(1).value<ScanInstruction>();
    QCOMPARE(instruction.keys(), QStringList{QStringLiteral("bvr60600")});
    QVERIFY(instruction.first().isEmpty());
    QVERIFY(!mgr()->askScanOneOpen());
    // The reset is silent: only the request itself was announced.
    QCOMPARE(askChanged.size(), 1);
    QTest::qWait(1200);
    QCOMPARE(scans.size(), 1);
    mgr()->setOnlineMode(false);
}

void TestDeviceMgr::deviceListIsJsonEvenForOddAliases()
{
    QCOMPARE(mgr()->addDeviceToProject(dat70, {{QStringLiteral("alias"), QStringLiteral("Board \"A\" \\ 1\n")}}),
             QString());
    QCOMPARE(mgr()->addDeviceToProject(dat71, {{QStringLiteral("alias"), QStringLiteral("Plain")}}), QString());
    mgr()->setOnlineMode(true);
    emitSlave(dat71);
    QSignalSpy list(mgr(), &DeviceMgr::eventProjectDevices);
    mgr()->sendEventProjectDevices();
    QCOMPARE(list.size(), 1);
    const QStringList data = list.first().first().toStringList();
    QCOMPARE(data.size(), 2);

    QJsonParseError error;
    const QJsonObject odd = QJsonDocument::fromJson(data.at(0).toUtf8(), &error).object();
    QCOMPARE(error.error, QJsonParseError::NoError);
    QCOMPARE(odd.value(QStringLiteral("alias")).toString(), QStringLiteral("Board \"A\" \\ 1\n"));
    QCOMPARE(odd.value(QStringLiteral("name")).toString(), QStringLiteral("Board \"A\" \\ 1\n 0x70"));
    QCOMPARE(odd.value(QStringLiteral("connected")).toString(), QStringLiteral("n"));
    // Ordinary text is the exact text the user interface always received.
    QCOMPARE(data.at(1), QStringLiteral("{\"dat\":\":0x71:bvr60600\",\"name\":\"Plain 0x71\", "
                                        "\"alias\": \"Plain\", \"connected\":\"y\"}"));
    mgr()->setOnlineMode(false);
}

void TestDeviceMgr::metadataIn8BitAddressing()
{
    QCOMPARE(mgr()->addDeviceToProject(dat70), QString());
    QSignalSpy list(mgr(), &DeviceMgr::eventProjectDevices);
    Settings::getInstance()->setI2c8BitAddress(true);
    QCOMPARE(list.size(), 1);
    const QMap<QString, QString> meta = mgr()->getDeviceMetadata(dat70);
    QCOMPARE(meta.value(QStringLiteral("address")), QStringLiteral("0xe0"));
    QCOMPARE(meta.value(QStringLiteral("name")), QStringLiteral("BVR60600 0xe0"));
    QCOMPARE(meta.value(QStringLiteral("type")), QStringLiteral("bvr60600"));
    QVERIFY(mgr()->getDeviceMetadata(QStringLiteral("nodat")).isEmpty());
}

void TestDeviceMgr::stateShuttling()
{
    QCOMPARE(mgr()->addDeviceToProject(dat70, {{QStringLiteral("voutControl"), 50}}), QString());
    QCOMPARE(mgr()->addDeviceToProject(dat71, {{QStringLiteral("voutControl"), 60}}), QString());
    QCOMPARE(m_model->voutControl(), 50);
    m_model->setVoutControl(55);
    // Switching devices keeps the edit of the one left and shows the other.
    mgr()->setCurrentDat(dat71);
    QCOMPARE(m_model->voutControl(), 60);
    QCOMPARE(mgr()->deviceStates().value(dat70).value(QStringLiteral("voutControl")).toInt(), 55);
    // The model holds 0x71 now: saving it as 0x70's state would mix devices.
    QVERIFY(!mgr()->getModelState(dat70));
    QVERIFY(!mgr()->getModelState(QString()));
    QVERIFY(!mgr()->setModelState(QString()));

    // The chip's state joins the saved one; the alias is not the chip's.
    QCOMPARE(mgr()->editDeviceInProject(dat71, dat71, {{QStringLiteral("alias"), QStringLiteral("B")}}), QString());
    QSignalSpy saved(mgr(), &DeviceMgr::eventDeviceStateSaved);
    QVERIFY(mgr()->getDeviceState(dat71));
    QCOMPARE(saved.size(), 1);
    QCOMPARE(mgr()->deviceStates().value(dat71).value(QStringLiteral("alias")).toString(), QStringLiteral("B"));
    QVERIFY(mgr()->hasValidDeviceState(dat71));
    QVERIFY(!mgr()->hasValidDeviceState(dat72));
    QVERIFY(!mgr()->getDeviceState(dat72));
    QVERIFY(!mgr()->setDeviceState(dat72));

    mgr()->showModelState(dat70);
    QCOMPARE(m_model->voutControl(), 55);
}

void TestDeviceMgr::integrity()
{
    QString err;
    QVERIFY(mgr()->checkIntegrity(err));
    QVERIFY(err.isEmpty());
    QCOMPARE(mgr()->addDeviceToProject(dat70), QString());
    QVERIFY(mgr()->checkIntegrity(err));
    // A device destroyed behind the manager's back is refused, not used.
    delete mgr()->device(dat70).data();
    QVERIFY(!mgr()->getDeviceState(dat70));
    QVERIFY(!mgr()->verifyDevice(err, dat70, false));
    QCOMPARE(err, QStringLiteral("Called with an invalid device id"));
}

void TestDeviceMgr::commsLogRecordsManagerEvents()
{
    // Every manager, also one made anew, reports to the log.
    const CommsLog *log = CommsLog::getInstance();
    QCOMPARE(mgr()->addDeviceToProject(dat70), QString());
    emitSlave(dat70);
    QCOMPARE(mgr()->removeDeviceFromProject(dat70), QString());
    const QString history = log->history().join(QLatin1Char('\n'));
    for (const char *text : {"Added device", "Connected device", "Disconnected device", "Removed device"})
        QVERIFY2(history.contains(QLatin1String(text)), text);
    QVERIFY2(history.contains(QLatin1String("Model state restored")), qPrintable(history));
    Settings::getInstance()->setImmediateMode(true);
    const qsizetype lines = log->history().size();
    QCOMPARE(mgr()->addDeviceToProject(dat71), QString());
    QVERIFY(!log->history().mid(lines).join(QLatin1Char('\n')).contains(QLatin1String("Model state")));
    Settings::getInstance()->setImmediateMode(false);
}

void TestDeviceMgr::returningDatGetsItsOwnState_data()
{
    QTest::addColumn<bool>("reopen");
    // The model still held the removed device's unsaved edit and gave it to
    // the newcomer under the same DAT, over the state it came with.
    QTest::addRow("project reopened to drop an edit") << true;
    QTest::addRow("device removed and added anew") << false;
}

void TestDeviceMgr::returningDatGetsItsOwnState()
{
    QFETCH(bool, reopen);
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("saved.cfg"));
    const QVariantMap saved{{QStringLiteral("alias"), QStringLiteral("A")}, {QStringLiteral("voutControl"), 60}};
    QCOMPARE(mgr()->addDeviceToProject(dat70, saved), QString());
    QCOMPARE(mgr()->saveProject(file), QString());
    m_model->setVoutControl(64);
    if (reopen) {
        QCOMPARE(mgr()->openProject(file), QString());
    } else {
        QCOMPARE(mgr()->removeDeviceFromProject(dat70), QString());
        QCOMPARE(mgr()->addDeviceToProject(dat70, saved), QString());
    }
    QCOMPARE(mgr()->deviceStates().value(dat70).value(QStringLiteral("voutControl")).toInt(), 60);
    QCOMPARE(m_model->voutControl(), 60);
}

void TestDeviceMgr::projectObjectIsOwned()
{
    // The object in use, handed in again, must stay alive: deleted, the next
    // save would run on freed memory. A new one replaces and deletes it.
    struct CountedProject : Project
    {
        explicit CountedProject(int &deaths) : m_deaths(deaths) {}
        ~CountedProject() override { ++m_deaths; }
        int &m_deaths;
    };
    QTemporaryDir dir;
    int deaths = 0;
    auto *first = new CountedProject(deaths);
    mgr()->setProject(first);
    mgr()->setProject(first);
    QCOMPARE(deaths, 0);
    QCOMPARE(mgr()->saveProject(dir.filePath(QStringLiteral("owned.cfg"))), QString());
    mgr()->setProject(new CountedProject(deaths));
    QCOMPARE(deaths, 1);
}

void TestDeviceMgr::oneDeviceWindow_data()
{
    QTest::addColumn<QStringList>("added");
    QTest::addColumn<QString>("removed");
    QTest::addColumn<QStringList>("kept");
    // The window would show its welcome view with nothing to switch to.
    QTest::addRow("emptied project gets the default chip") << QStringList{dat71} << dat71 << QStringList{dat70};
    // The window shows one device; the newcomer is the one the user wants.
    QTest::addRow("second device pushes the current out") << QStringList{dat71, dat72} << QString()
                                                          << QStringList{dat72};
    // Removing the default chip brings it straight back under the same DAT;
    // it must come back with a saved state, or nothing can be saved for it.
    QTest::addRow("default chip removed comes back whole") << QStringList{dat70} << dat70 << QStringList{dat70};
}

void TestDeviceMgr::oneDeviceWindow()
{
    QFETCH(QStringList, added);
    QFETCH(QString, removed);
    QFETCH(QStringList, kept);
    // As the single-device window does with every device list.
    connect(mgr(), &DeviceMgr::eventProjectDevices, mgr(), &DeviceMgr::keepOneDevice);
    for (const QString &dat : added)
        QCOMPARE(mgr()->addDeviceToProject(dat, {{QStringLiteral("alias"), QStringLiteral("mine")}}), QString());
    if (!removed.isEmpty())
        QCOMPARE(mgr()->removeDeviceFromProject(removed), QString());
    QCOMPARE(mgr()->projectDats(), kept);
    QCOMPARE(mgr()->currentDat(), kept.first());
    QCOMPARE(mgr()->currentType(), QStringLiteral("bvr60600"));
    QString integrity;
    QVERIFY2(mgr()->checkIntegrity(integrity), qPrintable(integrity));
    // A chip brought back is a new one: defaults, not the removed one's alias.
    if (!removed.isEmpty())
        QVERIFY(mgr()->deviceStates().value(kept.first()).value(QStringLiteral("alias")).toString().isEmpty());
}

PANEL_TEST_MAIN(TestDeviceMgr)
#include "tst_devicemgr.moc"
