// Operations on devices through the manager: verification and expansion
// of scripts before they reach the bus, routing of completions by context,
// tasks, monitoring ticks, monitor export and the data dump.

#include "devicemgrtest.h"
#include "testenv.h"

#include "bvr60600/dmodel.h"
#include "devices/device.h"
#include "devices/devicemgr.h"
#include "i2c/i2csvc.h"
#include "models/modelmgr.h"
#include "services/logger.h"
#include "services/settings.h"
#include "utils/utils.h"

#include <QFile>
#include <QSignalSpy>

namespace {
const QString dat70 = QStringLiteral(":0x70:bvr60600");
const QString dat71 = QStringLiteral(":0x71:bvr60600");

QString readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromLatin1(file.readAll()) : QString();
}
} // namespace

class TestDeviceOps : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void cleanupTestCase();

    void verificationFailures_data();
    void verificationFailures();
    void placeholdersAreExpandedBeforeTheBus();
    void functionRequests();
    void failingScriptIsStillDumped();
    void completionRouting_data();
    void completionRouting();
    void scriptCompletionRefreshesStateInImmediateMode();
    void nothingToWriteEmitsNothing();
    void failedScriptKeepsSavedState();
    void immediateWriteIgnoringRules_data();
    void immediateWriteIgnoringRules();
    void noImmediateWriteBeforeFirstRead();
    void task();
    void firstMonitorTickRunsEverySpeed();
    void monitorStaysQuietWhenNotAllowed();
    void monitorExportFollowsSwitch();
    void dataDumpLeavesModelAlone();

private:
    DeviceMgr *mgr() const { return DeviceMgr::getInstance(); }
    // Project devices that the bus reports present, with bus work allowed.
    void connectDevices(const QStringList &dats);
    // The answers of a configuration read: each register line, then the end
    // of the script when finish is set.
    void chipAnswersRead(const QString &dat, char vout, char control, bool finish = true);
    // One activity tick, at once.
    void tick() { QVERIFY(QMetaObject::invokeMethod(mgr(), "activity")); }

    Bvr60600::DModel *m_model = nullptr;
};

void TestDeviceOps::initTestCase()
{
    m_model = DeviceMgrTest::quietStart(true);
}

void TestDeviceOps::init()
{
    mgr()->setMonitorAllowed(false);
}

void TestDeviceOps::cleanup()
{
    delete DeviceMgr::getInstance();
    Settings::getInstance()->setImmediateMode(false);
    Settings::getInstance()->setDebugScripts(false);
}

void TestDeviceOps::cleanupTestCase()
{
    delete m_model;
}

void TestDeviceOps::connectDevices(const QStringList &dats)
{
    for (const QString &dat : dats) {
        QCOMPARE(mgr()->addDeviceToProject(dat), QString());
        emit I2cSvc::getInstance()->eventSlaveAdded(dat);
    }
    mgr()->setOnlineMode(true);
}

void TestDeviceOps::chipAnswersRead(const QString &dat, char vout, char control, bool finish)
{
    I2cSvc *svc = I2cSvc::getInstance();
    const QString ctx = QStringLiteral("doReadConfiguration");
    emit svc->doneReadRegister(QString(), ctx, dat, QByteArray("\x02"), QByteArray(1, control));
    emit svc->doneReadRegister(QString(), ctx, dat, QByteArray("\x01"), QByteArray(1, vout));
    if (finish)
        emit svc->doneRunScript(QString(), ctx, dat);
}

void TestDeviceOps::verificationFailures_data()
{
    QTest::addColumn<QString>("dat");
    QTest::addColumn<bool>("connected");
    QTest::addColumn<QStringList>("script");
    QTest::addColumn<QString>("err");
    const QStringList good{QStringLiteral("read_register cr_vout_ref 1")};
    QTest::addRow("not in project") << dat71 << true << good << "Called with an invalid device id";
    QTest::addRow("no current device") << QString() << false << good << "Called with an invalid device id";
    QTest::addRow("disconnected") << dat70 << false << good << "Called with a disconnected device id";
    QTest::addRow("empty script") << dat70 << true << QStringList() << "Called with no script commands";
    QTest::addRow("unparsable") << dat70 << true << QStringList{QStringLiteral("frobnicate 1 2")}
                                << "Failed parsing script: ";
}

void TestDeviceOps::verificationFailures()
{
    QFETCH(QString, dat);
    QFETCH(bool, connected);
    QFETCH(QStringList, script);
    QFETCH(QString, err);
    QCOMPARE(mgr()->addDeviceToProject(dat70), QString());
    if (dat.isEmpty())
        QCOMPARE(mgr()->removeDeviceFromProject(dat70), QString());
    if (connected)
        emit I2cSvc::getInstance()->eventSlaveAdded(dat70);
    mgr()->setOnlineMode(true);

    QSignalSpy requests(I2cSvc::getInstance(), &I2cSvc::doRunScript);
    QSignalSpy done(mgr(), &DeviceMgr::doneRunScript);
    mgr()->doRunScript(dat, QStringLiteral("Pane"), script);
    // Reported before the call returns, and nothing reaches the bus.
    QCOMPARE(done.size(), 1);
    QCOMPARE(requests.size(), 0);
    const QString actual = done.first().at(0).toString();
    QVERIFY2(err.endsWith(QLatin1String(": ")) ? actual.startsWith(err) && actual.size() > err.size() : actual == err,
             qPrintable(actual));
    QCOMPARE(done.first().at(1).toString(), QStringLiteral("doRunScript,Pane"));
    QCOMPARE(done.first().at(2).toString(), dat.isEmpty() ? QString() : dat);
    mgr()->setOnlineMode(false);
}

void TestDeviceOps::placeholdersAreExpandedBeforeTheBus()
{
    connectDevices({dat70});
    QSignalSpy requests(I2cSvc::getInstance(), &I2cSvc::doRunScript);
    mgr()->doRunScript(QString(), QStringLiteral("Pane"),
                       {QStringLiteral("read_register CR_VOUT_REF 1"), QStringLiteral("# for $dat$ in $CTX$ cr_control")});
    QCOMPARE(requests.size(), 1);
    QCOMPARE(requests.first().at(0).toString(), QStringLiteral("doRunScript,Pane"));
    QCOMPARE(requests.first().at(1).toString(), dat70);
    const QStringList lines = requests.first().at(2).toStringList();
    QCOMPARE(lines.size(), 2);
    QVERIFY2(lines.at(0).startsWith(QStringLiteral("read_register 01 1 ")), qPrintable(lines.at(0)));
    QVERIFY2(lines.at(0).contains(QStringLiteral("#cr_vout_ref=01;")), qPrintable(lines.at(0)));
    // Comments get the DAT and context, never register substitutions.
    QCOMPARE(lines.at(1), QStringLiteral("# for :0x70:bvr60600 in doRunScript,Pane cr_control"));
    mgr()->setOnlineMode(false);
}

void TestDeviceOps::functionRequests()
{
    connectDevices({dat70});
    QSignalSpy requests(I2cSvc::getInstance(), &I2cSvc::doRunScript);
    mgr()->doFunction(dat70, QStringLiteral("resetCommand"), {{QStringLiteral("skipGlobalScriptReplacements"), true}});
    mgr()->doFunction(dat70, QStringLiteral("resetCommand"), {});
    QCOMPARE(requests.size(), 2);
    QCOMPARE(requests.at(0).at(0).toString(), QStringLiteral("doFunction,resetCommand"));
    QCOMPARE(requests.at(0).at(2).toStringList(), requests.at(1).at(2).toStringList());

    QSignalSpy done(mgr(), &DeviceMgr::doneFunction);
    mgr()->doFunction(dat70, QStringLiteral("noSuchFunction"), {});
    QCOMPARE(done.size(), 1);
    QCOMPARE(done.first().at(0).toString(), QStringLiteral("Called with no script commands"));
    mgr()->setOnlineMode(false);
}

void TestDeviceOps::failingScriptIsStillDumped()
{
    Settings::getInstance()->setDebugScripts(true);
    const QString folder = Logger::getInstance()->logFilepath();
    const QString original = folder + QStringLiteral("/doRunScript_original.i2c");
    const QString expanded = folder + QStringLiteral("/doRunScript_expanded.i2c");
    QFile::remove(original);
    QFile::remove(expanded);

    QCOMPARE(mgr()->addDeviceToProject(dat70), QString());
    QSignalSpy done(mgr(), &DeviceMgr::doneRunScript);
    mgr()->doRunScript(dat70, QStringLiteral("Any name, with comma"), {QStringLiteral("read_register $dat$ 1")});
    QCOMPARE(done.first().at(0).toString(), QStringLiteral("Called with a disconnected device id"));
    QCOMPARE(readAll(original), QStringLiteral("read_register $dat$ 1"));
    QVERIFY(QFile::exists(expanded));

    connectDevices({});
    emit I2cSvc::getInstance()->eventSlaveAdded(dat70);
    mgr()->doRunScript(dat70, QStringLiteral("Other"), {QStringLiteral("# $dat$"), QStringLiteral("bad line")});
    QVERIFY(done.last().at(0).toString().startsWith(QStringLiteral("Failed parsing script: ")));
    QCOMPARE(readAll(original), QStringLiteral("# $dat$\nbad line"));
    QCOMPARE(readAll(expanded), QStringLiteral("# :0x70:bvr60600\nbad line"));
    mgr()->setOnlineMode(false);
}

void TestDeviceOps::completionRouting_data()
{
    QTest::addColumn<QString>("ctx");
    QTest::addColumn<QString>("routed");
    QTest::addRow("script") << "doRunScript,ViewRegister" << "doneRunScript";
    QTest::addRow("monitor") << "doRunMonitor,fast" << "doneRunMonitor";
    QTest::addRow("function") << "doFunction,resetCommand" << "doneFunction";
    QTest::addRow("read") << "doReadConfiguration" << "doneReadConfiguration";
    QTest::addRow("write") << "doWriteConfiguration" << "doneWriteConfiguration";
    QTest::addRow("read with suffix") << "doReadConfiguration,x" << "";
    QTest::addRow("monitor without comma") << "doRunMonitor" << "";
    QTest::addRow("someone else's") << "waitRunScript" << "";
}

void TestDeviceOps::completionRouting()
{
    QFETCH(QString, ctx);
    QFETCH(QString, routed);
    QStringList seen;
    const auto record = [&seen](const char *name) {
        return [&seen, name](const QString &err, const QString &, const QString &dat) {
            if (err == QLatin1String("bus error") && dat == dat70)
                seen << QString::fromLatin1(name);
        };
    };
    connect(mgr(), &DeviceMgr::doneRunScript, this, record("doneRunScript"));
    connect(mgr(), &DeviceMgr::doneRunMonitor, this, record("doneRunMonitor"));
    connect(mgr(), &DeviceMgr::doneFunction, this, record("doneFunction"));
    connect(mgr(), &DeviceMgr::doneReadConfiguration, this, record("doneReadConfiguration"));
    connect(mgr(), &DeviceMgr::doneWriteConfiguration, this, record("doneWriteConfiguration"));
    emit I2cSvc::getInstance()->doneRunScript(QStringLiteral("bus error"), ctx, dat70);
    QCOMPARE(seen.join(QLatin1Char(',')), routed);
}

void TestDeviceOps::scriptCompletionRefreshesStateInImmediateMode()
{
    connectDevices({dat70});
    Settings::getInstance()->setImmediateMode(true);
    QSignalSpy saved(mgr(), &DeviceMgr::eventDeviceStateSaved);
    emit I2cSvc::getInstance()->doneRunScript(QString(), QStringLiteral("doRunScript,Pane"), dat70);
    QCOMPARE(saved.size(), 1);
    // A failed read leaves the saved state alone.
    emit I2cSvc::getInstance()->doneRunScript(QStringLiteral("nack"), QStringLiteral("doReadConfiguration"), dat70);
    QCOMPARE(saved.size(), 1);
    emit I2cSvc::getInstance()->doneRunScript(QString(), QStringLiteral("doReadConfiguration"), dat70);
    QCOMPARE(saved.size(), 2);
    Settings::getInstance()->setImmediateMode(false);
    emit I2cSvc::getInstance()->doneRunScript(QString(), QStringLiteral("doRunScript,Pane"), dat70);
    QCOMPARE(saved.size(), 2);
    mgr()->setOnlineMode(false);
}

void TestDeviceOps::nothingToWriteEmitsNothing()
{
    connectDevices({dat70});
    QSignalSpy done(mgr(), &DeviceMgr::doneWriteConfiguration);
    QSignalSpy requests(I2cSvc::getInstance(), &I2cSvc::doRunScript);
    // The chip was never read, so no register is known to differ.
    m_model->setVoutControl(60);
    mgr()->doWriteConfiguration();
    mgr()->doWriteConfiguration(QStringLiteral(":0x7f:bvr60600"));
    QCOMPARE(done.size(), 0);
    QCOMPARE(requests.size(), 0);
    QCOMPARE(mgr()->deviceStates().value(dat70).value(QStringLiteral("voutControl")).toInt(), 60);
    mgr()->setOnlineMode(false);
}

// A failed script on a chip never read used to save its all-zero register
// image over the device's state: code 0, reserved, in place of the project's.
void TestDeviceOps::failedScriptKeepsSavedState()
{
    QCOMPARE(mgr()->addDeviceToProject(dat70, {{QStringLiteral("voutControl"), 50},
                                                {QStringLiteral("forcedPwm"), true},
                                                {QStringLiteral("autoPwm"), false}}),
             QString());
    connectDevices({});
    emit I2cSvc::getInstance()->eventSlaveAdded(dat70);
    Settings::getInstance()->setImmediateMode(true);
    const DeviceState before = mgr()->deviceStates().value(dat70);
    QString err;
    bool done = false;
    connect(mgr(), &DeviceMgr::doneRunScript, this, [&](const QString &e, const QString &ctx) {
        // Earlier cases' scripts may still be answering.
        if (ctx == QLatin1String("doRunScript,KeepState")) {
            err = e;
            done = true;
        }
    });
    // There is no adapter behind the DAT: the worker fails every line.
    mgr()->doRunScript(dat70, QStringLiteral("KeepState"), {QStringLiteral("read_register cr_vout_ref 1")});
    QTRY_VERIFY(done);
    QVERIFY(!err.isEmpty());
    QCOMPARE(mgr()->deviceStates().value(dat70), before);
    QCOMPARE(m_model->voutControl(), 50);
    QVERIFY(m_model->forcedPwm());
    mgr()->setOnlineMode(false);
}

// "Ignore Rules" is meant to let writes through whatever validation says;
// it stopped every immediate-mode write instead.
void TestDeviceOps::immediateWriteIgnoringRules_data()
{
    QTest::addColumn<bool>("ignoreRules");
    QTest::addRow("rules obeyed") << false;
    QTest::addRow("rules ignored") << true;
}

void TestDeviceOps::immediateWriteIgnoringRules()
{
    QFETCH(bool, ignoreRules);
    Settings *settings = Settings::getInstance();
    settings->setImmediateMode(true);
    settings->setDebugNoRules(ignoreRules);
    QCOMPARE(mgr()->addDeviceToProject(dat70), QString());
    mgr()->setOnlineMode(true);
    emit I2cSvc::getInstance()->eventSlaveAdded(dat70);
    chipAnswersRead(dat70, 0x3c, 0x00);
    QCOMPARE(m_model->voutControl(), 0x3c);

    QSignalSpy requests(I2cSvc::getInstance(), &I2cSvc::doRunScript);
    m_model->setVoutControl(61);
    tick();
    settings->setDebugNoRules(false);
    QCOMPARE(requests.size(), 1);
    QCOMPARE(requests.first().at(0).toString(), QStringLiteral("doWriteConfiguration"));
    QVERIFY(requests.first().at(2).toStringList().filter(QStringLiteral("write_register")).first().contains(
        QStringLiteral(" 3d ")));
    mgr()->setOnlineMode(false);
}

// A tick landing between the line answers of the first read wrote the
// model's defaults back over a register just read: a chip set to forced PWM
// went back to automatic.
void TestDeviceOps::noImmediateWriteBeforeFirstRead()
{
    Settings::getInstance()->setImmediateMode(true);
    QCOMPARE(mgr()->addDeviceToProject(dat70), QString());
    mgr()->setOnlineMode(true);
    QSignalSpy requests(I2cSvc::getInstance(), &I2cSvc::doRunScript);
    emit I2cSvc::getInstance()->eventSlaveAdded(dat70);
    QCOMPARE(requests.size(), 1);
    QCOMPARE(requests.first().at(0).toString(), QStringLiteral("doReadConfiguration"));

    chipAnswersRead(dat70, 0x3c, 0x04, false);
    tick();
    QCOMPARE(requests.size(), 1);

    emit I2cSvc::getInstance()->doneRunScript(QString(), QStringLiteral("doReadConfiguration"), dat70);
    QVERIFY(m_model->forcedPwm());
    tick();
    QCOMPARE(requests.size(), 1); // the model is what the chip holds
    m_model->setVoutControl(61);
    tick();
    QCOMPARE(requests.size(), 2);
    QCOMPARE(requests.last().at(0).toString(), QStringLiteral("doWriteConfiguration"));

    // Seen again after a disconnection, the chip is read before any write.
    emit I2cSvc::getInstance()->eventSlaveRemoved(dat70);
    emit I2cSvc::getInstance()->eventSlaveAdded(dat70);
    QCOMPARE(requests.last().at(0).toString(), QStringLiteral("doReadConfiguration"));
    m_model->setVoutControl(62);
    tick();
    QCOMPARE(requests.last().at(0).toString(), QStringLiteral("doReadConfiguration"));
    mgr()->setOnlineMode(false);
}

void TestDeviceOps::task()
{
    QCOMPARE(mgr()->addDeviceToProject(dat70), QString());
    QSignalSpy done(mgr(), &DeviceMgr::doneTask);
    QVERIFY(mgr()->task(QString(), QString(), {}).isEmpty());
    QCOMPARE(done.last(), (QList<QVariant>{QStringLiteral("Invalid device manager task call."), QStringLiteral("task,"), dat70}));
    QVERIFY(mgr()->task(dat71, QStringLiteral("getRegisterView"), {}).isEmpty());
    QCOMPARE(done.last().at(0).toString(), QStringLiteral("Invalid device manager task call."));
    // Tasks work on the register image: no connection needed.
    const QVariantMap view = mgr()->task(QString(), QStringLiteral("getRegisterView"), {});
    QVERIFY(!view.value(QStringLiteral("data")).toStringList().isEmpty());
    QCOMPARE(done.last(), (QList<QVariant>{QString(), QStringLiteral("task,getRegisterView"), dat70}));
}

void TestDeviceOps::firstMonitorTickRunsEverySpeed()
{
    QCOMPARE(mgr()->addDeviceToProject(dat71), QString());
    QCOMPARE(mgr()->addDeviceToProject(dat70), QString());
    emit I2cSvc::getInstance()->eventSlaveAdded(dat71);
    emit I2cSvc::getInstance()->eventSlaveAdded(dat70);
    QSignalSpy done(mgr(), &DeviceMgr::doneRunMonitor);
    mgr()->setMonitorAllowed(true);
    mgr()->setOnlineMode(true);
    QTRY_VERIFY_WITH_TIMEOUT(done.size() >= 6, 2000);
    QStringList order;
    for (int i = 0; i < 6; ++i)
        order << done.at(i).at(2).toString() + QLatin1Char(' ') + done.at(i).at(1).toString();
    QCOMPARE(order, (QStringList{dat70 + " doRunMonitor,fast", dat70 + " doRunMonitor,normal",
                                 dat70 + " doRunMonitor,slow", dat71 + " doRunMonitor,fast",
                                 dat71 + " doRunMonitor,normal", dat71 + " doRunMonitor,slow"}));
    // This family has no monitor scripts.
    QCOMPARE(done.first().first().toString(), QStringLiteral("Called with no script commands"));
    mgr()->setOnlineMode(false);
}

void TestDeviceOps::monitorStaysQuietWhenNotAllowed()
{
    connectDevices({dat70});
    QSignalSpy done(mgr(), &DeviceMgr::doneRunMonitor);
    QTest::qWait(150);
    QCOMPARE(done.size(), 0);
    mgr()->setMonitorAllowed(true);
    QTRY_VERIFY_WITH_TIMEOUT(!done.isEmpty(), 1000);
    mgr()->setOnlineMode(false);
}

void TestDeviceOps::monitorExportFollowsSwitch()
{
    const QString file = Logger::getInstance()->logFilepath()
                         + QStringLiteral("/export_monitor_%1.csv").arg(Utils::datToKey(dat70));
    QFile::remove(file);
    QCOMPARE(mgr()->addDeviceToProject(dat70), QString());
    const QVariantMap event{{QStringLiteral("a"), 1}, {QStringLiteral("b"), QVariantList{2.5, QStringLiteral("x")}}};
    mgr()->storeMonitorEvent(dat70, QStringLiteral("fast"), event);
    QVERIFY(!QFile::exists(file));

    mgr()->setExportEnabled(true);
    mgr()->storeMonitorEvent(dat70, QStringLiteral("fast"), event);
    mgr()->storeMonitorEvent(dat70, QStringLiteral("slow"), event);
    QCOMPARE(readAll(file), QStringLiteral("a,b_#0,b_#1,\n1,2.5,x,\n1,2.5,x,\n"));
    // Switched off and on again: a new file with its header.
    mgr()->setExportEnabled(false);
    mgr()->setExportEnabled(true);
    mgr()->storeMonitorEvent(dat70, QStringLiteral("fast"), event);
    QCOMPARE(readAll(file), QStringLiteral("a,b_#0,b_#1,\n1,2.5,x,\n"));
    mgr()->storeMonitorEvent(dat71, QStringLiteral("fast"), event);
}

void TestDeviceOps::dataDumpLeavesModelAlone()
{
    QCOMPARE(mgr()->addDeviceToProject(dat70, {{QStringLiteral("alias"), QStringLiteral("Dumped")},
                                                {QStringLiteral("voutControl"), 50}}),
             QString());
    QCOMPARE(mgr()->addDeviceToProject(dat71, {{QStringLiteral("voutControl"), 45}}), QString());
    // An unsaved edit: the report shows it and must not throw it away.
    m_model->setVoutControl(58);
    QSignalSpy restored(mgr(), &DeviceMgr::eventModelStateRestored);
    const QVariantMap dump = mgr()->getDevicesDataDump({dat70, dat71});
    QCOMPARE(m_model->voutControl(), 58);
    QCOMPARE(restored.size(), 0);
    QCOMPARE(mgr()->deviceStates().value(dat70).value(QStringLiteral("voutControl")).toInt(), 50);

    const QVariantMap current = dump.value(dat70).toMap();
    QVERIFY(current.value(QStringLiteral("Model Properties")).toStringList().contains(QStringLiteral("voutControl: 58")));
    QVERIFY(current.value(QStringLiteral("Model Properties")).toStringList().contains(QStringLiteral("alias: Dumped")));
    QCOMPARE(current.value(QStringLiteral("General Info")).toStringList(),
             (QStringList{QStringLiteral("address: 0x70"), QStringLiteral("alias: Dumped"),
                          QStringLiteral("connected: n"), QStringLiteral("name: Dumped 0x70"),
                          QStringLiteral("type: bvr60600")}));
    const QStringList registers = current.value(QStringLiteral("Register Data")).toStringList();
    QVERIFY(!registers.isEmpty());
    QVERIFY2(registers.first().contains(QStringLiteral("name: ")) && registers.first().contains(QStringLiteral(",\n"))
                 && !registers.first().contains(QLatin1Char('"')),
             qPrintable(registers.first()));
    QVERIFY(dump.value(dat71).toMap().value(QStringLiteral("Model Properties")).toStringList().contains(
        QStringLiteral("voutControl: 45")));
}

PANEL_TEST_MAIN(TestDeviceOps)
#include "tst_deviceops.moc"
