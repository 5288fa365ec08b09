#include "ctlsession.h"

#include "bvr60600/dmodel.h"
#include "bvr60600/voutcode.h"
#include "devices/devicemgr.h"
#include "i2c/i2cscript.h"
#include "i2c/i2csvc.h"
#include "models/modelmgr.h"
#include "services/notificationsvc.h"
#include "services/settings.h"
#include "utils/utils.h"
#include "view/startup.h"

namespace {

const QString ctxBarrier = QStringLiteral("panelctl,barrier");
const QString scriptName = QStringLiteral("panelctl");

// A script reports one line per failed transfer, often the same text each
// time: the first, and how many others there were.
QString summary(const QString &errors)
{
    QStringList lines = errors.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    lines.removeDuplicates();
    if (lines.size() <= 1)
        return lines.value(0);
    return QStringLiteral("%1 (and %2 more)").arg(lines.constFirst()).arg(lines.size() - 1);
}

bool sameState(const CtlSession::ChipState &a, const CtlSession::ChipState &b)
{
    return a.code == b.code && a.autoPwm == b.autoPwm && a.forcedPwm == b.forcedPwm
           && a.passThrough == b.passThrough;
}

} // namespace

CtlSession::CtlSession(const Options &options)
    : m_options(options)
{
    // Before the start opens any adapter, so that it opens at this speed.
    if (options.speedKbps > 0)
        Settings::getInstance()->setI2cSpeed(options.speedKbps);

    Startup::Options start;
    start.shell = Startup::Shell::Headless;
    start.nameApplication = false;
    // attach() puts the device the command names in the project.
    start.defaultDevice.clear();
    // The manager's own writes and reads would come between ours.
    start.immediateMode = false;
    start.openLastProject = false;
    start.scanOpen = false;
    m_startup = std::make_unique<Startup>(start);
}

CtlSession::~CtlSession() = default;

Bvr60600::DModel *CtlSession::model() const
{
    return m_startup->model();
}

CtlSession::Error CtlSession::noAdapter()
{
    return { ExitNoDevice, QStringLiteral("No I2C adapter found (use --simulate to work without hardware)") };
}

CtlSession::Error CtlSession::timeoutOrInterrupt(const QString &what) const
{
    if (m_interrupted)
        return { ExitInterrupted, QStringLiteral("interrupted") };
    return { ExitFailed, QStringLiteral("%1 did not complete within %2 ms").arg(what).arg(m_options.timeoutMs) };
}

bool CtlSession::barrier(int timeoutMs)
{
    I2cSvc *svc = I2cSvc::getInstance();
    const QString ctx = ctxBarrier + QString::number(++m_serial);
    // An empty script on no device does nothing but come back, after every
    // result of the requests posted before it.
    return waitFor(svc, &I2cSvc::doneRunScript,
                   [&ctx](const QString &, const QString &doneCtx, const QString &) { return doneCtx == ctx; },
                   [svc, &ctx] { emit svc->doRunScript(ctx, QString(), {}); }, timeoutMs);
}

CtlSession::Error CtlSession::scanAdapters()
{
    emit I2cSvc::getInstance()->doScanForDongles();
    if (!barrier(m_options.timeoutMs))
        return timeoutOrInterrupt(QStringLiteral("The adapter scan"));
    return {};
}

QStringList CtlSession::adapterIds() const
{
    return DeviceMgr::getInstance()->dongleIds();
}

QStringList CtlSession::adapterDescriptions() const
{
    return DeviceMgr::getInstance()->dongleDescriptions();
}

CtlSession::Error CtlSession::scanChips(bool open, QStringList &found)
{
    found.clear();
    if (Error err = scanAdapters())
        return err;
    DeviceMgr *mgr = DeviceMgr::getInstance();
    ScanInstruction instruction;
    if (open) {
        for (const QString &type : ModelMgr::getInstance()->modelTypes())
            instruction.insert(type, {});
    } else {
        instruction = mgr->getScanInstruction();
    }
    // A bus whose every address may not be probed gets the project's only.
    const ScanInstruction projectOnly = mgr->getScanInstruction();
    I2cSvc *svc = I2cSvc::getInstance();
    bool sent = false;
    for (const QString &dongleId : mgr->dongleIds()) {
        const ScanInstruction &forBus = svc->allowsOpenScan(dongleId) ? instruction : projectOnly;
        if (!forBus.isEmpty()) {
            emit svc->doScanForSlaves(dongleId, forBus);
            sent = true;
        }
    }
    if (sent && !barrier(m_options.timeoutMs))
        return timeoutOrInterrupt(QStringLiteral("The chip scan"));
    found = mgr->connectedIds();
    return {};
}

CtlSession::Error CtlSession::addToProject(const QString &dat)
{
    DeviceMgr *mgr = DeviceMgr::getInstance();
    if (!mgr->projectDats().contains(dat)) {
        if (const QString err = mgr->addDeviceToProject(dat); !err.isEmpty())
            return { ExitUsage, err };
    }
    return {};
}

CtlSession::Error CtlSession::attach(const QString &dat)
{
    DeviceMgr *mgr = DeviceMgr::getInstance();
    if (Error err = addToProject(dat))
        return err;
    mgr->setCurrentDat(dat);

    if (m_options.simulate && !mgr->isConnected(dat)) {
        I2cSvc *svc = I2cSvc::getInstance();
        const QString ctx = QStringLiteral("panelctl,simulate");
        QString simulateErr;
        const bool done = waitFor(
            svc, &I2cSvc::doneVirtualSlave,
            [&](const QString &err, const QString &doneCtx, const QString &, bool) {
                simulateErr = err;
                return doneCtx == ctx;
            },
            [&] { emit svc->doVirtualSlave(ctx, dat, true); }, m_options.timeoutMs);
        if (!done)
            return timeoutOrInterrupt(QStringLiteral("Switching on the simulated chip"));
        // Its announcement, and so the connection, came before the completion.
        if (!simulateErr.isEmpty())
            return { ExitFailed, simulateErr };
    }

    if (!mgr->isConnected(dat)) {
        QStringList found;
        if (Error err = scanChips(false, found))
            return err;
    }
    if (!mgr->isConnected(dat)) {
        if (mgr->dongleIds().isEmpty())
            return noAdapter();
        return { ExitNoDevice, QStringLiteral("No %1 answers at %2 on %3 adapter(s)")
                                   .arg(Utils::datType(dat), Utils::datAddress(dat))
                                   .arg(mgr->dongleIds().size()) };
    }
    return {};
}

CtlSession::Error CtlSession::openProject(const QString &filename, QStringList &skipped)
{
    skipped.clear();
    // The manager tells the user what it skipped through a notification only.
    const QMetaObject::Connection connection =
        connect(NotificationSvc::getInstance(), &NotificationSvc::notificationCreated, this,
                [&skipped](const QString &message) {
                    if (message.startsWith(QLatin1String("Skipped devices of project file")))
                        skipped << message;
                });
    const QString err = DeviceMgr::getInstance()->openProject(filename);
    disconnect(connection);
    if (!err.isEmpty())
        return { ExitFile, QStringLiteral("Cannot open project %1: %2").arg(filename, err) };
    return {};
}

QStringList CtlSession::projectDats() const
{
    return DeviceMgr::getInstance()->projectDats();
}

void CtlSession::keepOnlyProjectDevice(const QString &dat)
{
    DeviceMgr *mgr = DeviceMgr::getInstance();
    const QStringList dats = mgr->projectDats();
    for (const QString &other : dats) {
        if (other != dat)
            (void)mgr->removeDeviceFromProject(other);
    }
}

CtlSession::Error CtlSession::readConfiguration(const QString &dat)
{
    DeviceMgr *mgr = DeviceMgr::getInstance();
    QString readErr;
    const bool done = waitFor(
        mgr, &DeviceMgr::doneReadConfiguration,
        [&](const QString &err, const QString &, const QString &doneDat) {
            readErr = err;
            return doneDat == dat;
        },
        [mgr, &dat] { mgr->doReadConfiguration(dat); }, m_options.timeoutMs);
    if (!done)
        return timeoutOrInterrupt(QStringLiteral("Reading the configuration"));
    if (!readErr.isEmpty())
        return { ExitFailed, QStringLiteral("Reading the configuration of %1 failed: %2").arg(dat, summary(readErr)) };
    return {};
}

CtlSession::ChipState CtlSession::modelState() const
{
    ChipState state;
    state.code = model()->voutControl();
    state.autoPwm = model()->autoPwm();
    state.forcedPwm = model()->forcedPwm();
    state.passThrough = model()->passThrough();
    state.note = model()->voutControl_dirty();
    return state;
}

CtlSession::Error CtlSession::writeConfiguration(const QString &dat, const ChipState &target)
{
    // The device class leaves a reserved code out of its script; saying so
    // here beats a read-back that silently keeps the old code. A reserved
    // code the chip already holds stays, so its mode can still be changed.
    if (target.code != model()->voutControl() && Bvr60600::VoutCode::isReserved(target.code))
        return { ExitUsage, QStringLiteral("Code %1 is reserved; the chip takes codes %2 to %3")
                                .arg(target.code)
                                .arg(Bvr60600::VoutCode::minCode)
                                .arg(Bvr60600::VoutCode::maxCode) };
    DeviceMgr *mgr = DeviceMgr::getInstance();
    if (mgr->currentDat() != dat)
        return { ExitFailed, QStringLiteral("%1 is not the device the model shows").arg(dat) };
    if (sameState(modelState(), target))
        return {};

    model()->setVoutControl(target.code);
    model()->setAutoPwm(target.autoPwm);
    model()->setForcedPwm(target.forcedPwm);
    model()->setPassThrough(target.passThrough);

    QString writeErr;
    bool finished = false;
    const QMetaObject::Connection connection =
        connect(mgr, &DeviceMgr::doneWriteConfiguration, this,
                [&](const QString &err, const QString &, const QString &doneDat) {
                    if (doneDat != dat)
                        return;
                    writeErr = err;
                    finished = true;
                });
    mgr->doWriteConfiguration(dat, true);
    // The manager posts nothing when the chip already holds every target;
    // a posted script completes before the barrier does.
    const bool drained = barrier(m_options.timeoutMs);
    disconnect(connection);
    if (!drained)
        return timeoutOrInterrupt(QStringLiteral("Writing the configuration"));
    if (!writeErr.isEmpty())
        return { ExitFailed, QStringLiteral("Writing the configuration of %1 failed: %2").arg(dat, summary(writeErr)) };
    return {};
}

CtlSession::Error CtlSession::verifyScript(const QString &dat, QStringList &script)
{
    QString err;
    if (!DeviceMgr::getInstance()->verifyExecutableScript(err, dat, QStringLiteral("doRunScript,") + scriptName,
                                                           script, false))
        return { ExitUsage, err };
    return {};
}

CtlSession::Error CtlSession::runScript(const QString &dat, const QStringList &script, const LineDone &lineDone)
{
    I2cSvc *svc = I2cSvc::getInstance();
    DeviceMgr *mgr = DeviceMgr::getInstance();
    const QString ctx = QStringLiteral("doRunScript,") + scriptName;
    const auto mine = [&ctx, &dat](const QString &doneCtx, const QString &doneDat) {
        return doneCtx == ctx && doneDat == dat;
    };
    QList<QMetaObject::Connection> lines;
    const auto registerDone = [&](const QString &err, const QString &doneCtx, const QString &doneDat,
                                  const QByteArray &, const QByteArray &value) {
        if (mine(doneCtx, doneDat))
            lineDone(err, QString::fromLatin1(value.toHex(' ')));
    };
    lines << connect(svc, &I2cSvc::doneReadRegister, this, registerDone);
    lines << connect(svc, &I2cSvc::doneWriteRegister, this, registerDone);
    const auto bulkDone = [&](const QString &err, const QString &doneCtx, const QString &doneDat,
                              const QByteArray &, const QByteArray &, const QByteArray &data) {
        if (mine(doneCtx, doneDat))
            lineDone(err, QString::fromLatin1(data.toHex(' ')));
    };
    lines << connect(svc, &I2cSvc::doneReadBulk, this, bulkDone);
    lines << connect(svc, &I2cSvc::doneWriteBulk, this, bulkDone);
    lines << connect(svc, &I2cSvc::donePmbusCommands, this,
                     [&](const QString &err, const QString &doneCtx, const QString &doneDat,
                         const QList<PmbusCommand> &commands) {
                         if (!mine(doneCtx, doneDat))
                             return;
                         QStringList data;
                         for (const PmbusCommand &command : commands)
                             data << QString::fromLatin1(command.data.toHex(' '));
                         lineDone(err, data.join(QStringLiteral(" | ")));
                     });

    QString scriptErr;
    const bool done = waitFor(
        mgr, &DeviceMgr::doneRunScript,
        [&](const QString &err, const QString &doneCtx, const QString &doneDat) {
            scriptErr = err;
            return mine(doneCtx, doneDat);
        },
        [&] { mgr->doRunScript(dat, scriptName, script); }, m_options.timeoutMs);
    for (const QMetaObject::Connection &connection : std::as_const(lines))
        disconnect(connection);
    if (!done)
        return timeoutOrInterrupt(QStringLiteral("The script"));
    if (!scriptErr.isEmpty())
        return { ExitFailed, scriptErr };
    return {};
}

QVariantMap CtlSession::task(const QString &dat, const QString &name, const QVariantMap &params)
{
    return DeviceMgr::getInstance()->task(dat, name, params);
}
