#include "devices/operationrouter.h"

#include "devices/connectiontracker.h"
#include "devices/device.h"
#include "devices/deviceroster.h"
#include "devices/stateshuttle.h"
#include "i2c/i2csvc.h"
#include "models/model.h" // assignProperty
#include "services/logger.h"
#include "services/settings.h"
#include "utils/utils.h"

namespace {

const QString ctxRunScript = QStringLiteral("doRunScript");
const QString ctxRunMonitor = QStringLiteral("doRunMonitor,");
const QString ctxFunction = QStringLiteral("doFunction,");
const QString ctxReadConfiguration = QStringLiteral("doReadConfiguration");
const QString ctxWriteConfiguration = QStringLiteral("doWriteConfiguration");
const QString ctxTask = QStringLiteral("task,");

// A register view entry ({"name":"x","value":"y"}) as report lines.
QString registerReportText(const QString &entry)
{
    QString text = entry.size() > 4 ? entry.mid(2, entry.size() - 4) : QString();
    text.replace(QStringLiteral("\",\""), QStringLiteral(",\n"));
    text.replace(QStringLiteral("\":\""), QStringLiteral(": "));
    return text;
}

} // namespace

OperationRouter::OperationRouter(DeviceRoster &roster, ConnectionTracker &tracker, StateShuttle &shuttle,
                                 QObject *parent)
    : QObject(parent)
    , m_roster(roster)
    , m_tracker(tracker)
    , m_shuttle(shuttle)
{
    connect(I2cSvc::getInstance(), &I2cSvc::doneRunScript, this, &OperationRouter::route);
    connect(this, &OperationRouter::doneRunMonitor, this, &OperationRouter::onDoneRunMonitor);
    connect(this, &OperationRouter::doneFunction, this, &OperationRouter::onDoneFunction);
    connect(this, &OperationRouter::doneReadConfiguration, this, &OperationRouter::onDoneReadConfiguration);
}

void OperationRouter::setExportEnabled(bool exportEnabled)
{
    assignProperty(this, m_exportEnabled, exportEnabled, &OperationRouter::exportEnabledChanged);
}

QString OperationRouter::targetDat(const QString &idat) const
{
    return idat.isEmpty() ? m_roster.currentDat() : idat;
}

void OperationRouter::dumpScripts(const QString &ctx, const QStringList &original, const QStringList &expanded) const
{
    QString base = ctx.section(QLatin1Char(','), 0, 0);
    base.replace(QLatin1Char(' '), QLatin1Char('_'));
    const QString folder = Logger::getInstance()->logFilepath();
    Logger::ensureLogFolder();
    Utils::writeTextFile(folder + QStringLiteral("/%1.i2c").arg(base + QStringLiteral("_original")),
                         original.join(QLatin1Char('\n')));
    Utils::writeTextFile(folder + QStringLiteral("/%1.i2c").arg(base + QStringLiteral("_expanded")),
                         expanded.join(QLatin1Char('\n')));
}

bool OperationRouter::verifyExecutableScript(QString &err, const QString &dat, const QString &ctx,
                                             QStringList &script, bool skipGlobalReplacements)
{
    err.clear();
    const QStringList original = script;
    Device *device = m_roster.device(dat);
    if (!device) {
        err = QStringLiteral("Called with an invalid device id");
    } else if (!m_tracker.isConnected(dat, true)) {
        err = QStringLiteral("Called with a disconnected device id");
    } else if (script.isEmpty()) {
        err = QStringLiteral("Called with no script commands");
    } else if (!skipGlobalReplacements && !device->replaceScriptPlaceholders(ctx, script)) {
        err = QStringLiteral("Failed to perform script placeholders replacement");
    } else {
        QString parseErr;
        if (!I2cSvc::canParseScript(parseErr, script))
            err = QStringLiteral("Failed parsing script: ") + parseErr;
    }
    if (Settings::getInstance()->debugScripts())
        dumpScripts(ctx, original, script);
    return err.isEmpty();
}

void OperationRouter::runVerified(DoneSignal done, const QString &dat, const QString &ctx, QStringList script,
                                  bool skipGlobalReplacements)
{
    QString err;
    if (verifyExecutableScript(err, dat, ctx, script, skipGlobalReplacements))
        emit I2cSvc::getInstance()->doRunScript(ctx, dat, script);
    else
        emit (this->*done)(err, ctx, dat);
}

void OperationRouter::doRunScript(const QString &idat, const QString &name, const QStringList &script)
{
    runVerified(&OperationRouter::doneRunScript, targetDat(idat), ctxRunScript + QLatin1Char(',') + name, script);
}

void OperationRouter::doRunMonitor(const QString &idat, const QString &speed)
{
    const QString dat = targetDat(idat);
    Device *device = m_roster.device(dat);
    runVerified(&OperationRouter::doneRunMonitor, dat, ctxRunMonitor + speed,
                device ? device->getMonitorScript(speed) : QStringList());
}

void OperationRouter::doReadConfiguration(const QString &idat)
{
    const QString dat = targetDat(idat);
    Device *device = m_roster.device(dat);
    runVerified(&OperationRouter::doneReadConfiguration, dat, ctxReadConfiguration,
                device ? device->getReadConfigurationScript() : QStringList());
}

void OperationRouter::doWriteConfiguration(const QString &idat, bool fetchCurrentModelState)
{
    const QString dat = targetDat(idat);
    if (fetchCurrentModelState && !dat.isEmpty() && dat == m_roster.currentDat())
        m_shuttle.getModelState(dat);
    m_shuttle.setDeviceState(dat);
    Device *device = m_roster.device(dat);
    const QStringList script = device ? device->getWriteConfigurationScript() : QStringList();
    // Nothing differs from the chip: nothing to run and nothing to report.
    if (script.isEmpty())
        return;
    runVerified(&OperationRouter::doneWriteConfiguration, dat, ctxWriteConfiguration, script);
}

void OperationRouter::doFunction(const QString &idat, const QString &name, const QVariantMap &params)
{
    const QString dat = targetDat(idat);
    Device *device = m_roster.device(dat);
    const bool skip = params.value(QStringLiteral("skipGlobalScriptReplacements"), false).toBool();
    runVerified(&OperationRouter::doneFunction, dat, ctxFunction + name,
                device ? device->getFunctionScript(name, params) : QStringList(), skip);
}

QVariantMap OperationRouter::task(const QString &idat, const QString &name, const QVariantMap &params)
{
    const QString dat = targetDat(idat);
    const QString ctx = ctxTask + name;
    Device *device = m_roster.device(dat);
    if (!device || name.isEmpty()) {
        emit doneTask(QStringLiteral("Invalid device manager task call."), ctx, dat);
        return {};
    }
    const QVariantMap result = device->task(name, params);
    emit doneTask(QString(), ctx, dat);
    return result;
}

void OperationRouter::route(const QString &err, const QString &ctx, const QString &dat)
{
    if (ctx.startsWith(ctxRunScript)) {
        emit doneRunScript(err, ctx, dat);
        // A failed script leaves a register image that may never have been
        // read; it must not replace the saved state.
        if (err.isEmpty() && m_tracker.isConnected(dat, true) && Settings::getInstance()->immediateMode())
            m_shuttle.getDeviceState(dat);
    } else if (ctx.startsWith(ctxRunMonitor)) {
        emit doneRunMonitor(err, ctx, dat);
    } else if (ctx.startsWith(ctxFunction)) {
        emit doneFunction(err, ctx, dat);
    } else if (ctx == ctxReadConfiguration) {
        emit doneReadConfiguration(err, ctx, dat);
    } else if (ctx == ctxWriteConfiguration) {
        emit doneWriteConfiguration(err, ctx, dat);
    }
}

void OperationRouter::onDoneReadConfiguration(const QString &err, const QString &ctx, const QString &dat)
{
    Q_UNUSED(ctx)
    if (err.isEmpty() && m_shuttle.getDeviceState(dat))
        m_tracker.markRead(dat);
}

void OperationRouter::onDoneFunction(const QString &err, const QString &ctx, const QString &dat)
{
    Device *device = m_roster.device(dat);
    if (!err.isEmpty() || !device)
        return;
    const QString name = ctx.mid(ctxFunction.size());
    const QVariantMap vmap = device->getFunctionEvent(name);
    if (!vmap.isEmpty())
        emit eventFunction(dat, name, vmap);
}

void OperationRouter::onDoneRunMonitor(const QString &err, const QString &ctx, const QString &dat)
{
    Device *device = m_roster.device(dat);
    if (!err.isEmpty() || !device)
        return;
    const QString speed = ctx.mid(ctxRunMonitor.size());
    const QVariantMap vmap = device->getMonitorEvent(speed);
    if (vmap.isEmpty())
        return;
    storeMonitorEvent(dat, speed, vmap);
    emit eventDeviceMonitor(dat, speed, vmap);
}

void OperationRouter::storeMonitorEvent(const QString &dat, const QString &speed, const QVariantMap &vmap)
{
    if (Device *device = m_roster.device(dat); device && m_exportEnabled)
        device->exportMonitorEvent(speed, vmap);
}

QVariantMap OperationRouter::getDevicesDataDump(const QStringList &dats)
{
    QVariantMap dump;
    for (const QString &dat : dats) {
        QStringList info;
        const QMap<QString, QString> meta = m_roster.metadata(dat, m_tracker.isConnected(dat, true));
        for (auto it = meta.cbegin(); it != meta.cend(); ++it)
            info << QStringLiteral("%1: %2").arg(it.key(), it.value());

        QStringList properties;
        if (m_roster.contains(dat)) {
            // The model's unsaved edits are reported as they stand, without
            // being stored or replaced by what the chip holds.
            const QVariantMap state = m_shuttle.shownState(dat);
            for (auto it = state.cbegin(); it != state.cend(); ++it) {
                if (it.value().canConvert<QString>())
                    properties << QStringLiteral("%1: %2").arg(it.key(), it.value().toString());
            }
        }

        QStringList registers;
        const QStringList view = task(dat, QStringLiteral("getRegisterView"), {})
                                     .value(QStringLiteral("data"))
                                     .toStringList();
        for (const QString &entry : view)
            registers << registerReportText(entry);

        dump.insert(dat, QVariantMap{{QStringLiteral("General Info"), info},
                                     {QStringLiteral("Model Properties"), properties},
                                     {QStringLiteral("Register Data"), registers}});
    }
    return dump;
}
