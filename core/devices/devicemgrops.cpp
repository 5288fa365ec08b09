// The device manager's operations on devices: scripts, configuration reads
// and writes, functions, tasks, monitoring and the data dump.

#include "devices/devicemgr.h"

#include "devices/device.h"
#include "i2c/i2csvc.h"
#include "models/model.h"
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

QString DeviceMgr::targetDat(const QString &idat) const
{
    return idat.isEmpty() ? m_currentDat : idat;
}

void DeviceMgr::dumpScripts(const QString &ctx, const QStringList &original, const QStringList &expanded) const
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

bool DeviceMgr::verifyExecutableScript(QString &err, const QString &dat, const QString &ctx,
                                       QStringList &script, bool skipGlobalReplacements)
{
    err.clear();
    const QStringList original = script;
    Device *device = liveDevice(dat);
    if (!device) {
        err = QStringLiteral("Called with an invalid device id");
    } else if (!isConnected(dat, true)) {
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

void DeviceMgr::runVerified(DoneSignal done, const QString &dat, const QString &ctx, QStringList script,
                            bool skipGlobalReplacements)
{
    QString err;
    if (verifyExecutableScript(err, dat, ctx, script, skipGlobalReplacements))
        emit I2cSvc::getInstance()->doRunScript(ctx, dat, script);
    else
        emit (this->*done)(err, ctx, dat);
}

void DeviceMgr::doRunScript(const QString &idat, const QString &name, const QStringList &script)
{
    runVerified(&DeviceMgr::doneRunScript, targetDat(idat), ctxRunScript + QLatin1Char(',') + name, script);
}

void DeviceMgr::doRunMonitor(const QString &idat, const QString &speed)
{
    const QString dat = targetDat(idat);
    Device *device = liveDevice(dat);
    runVerified(&DeviceMgr::doneRunMonitor, dat, ctxRunMonitor + speed,
                device ? device->getMonitorScript(speed) : QStringList());
}

void DeviceMgr::doReadConfiguration(const QString &idat)
{
    const QString dat = targetDat(idat);
    Device *device = liveDevice(dat);
    runVerified(&DeviceMgr::doneReadConfiguration, dat, ctxReadConfiguration,
                device ? device->getReadConfigurationScript() : QStringList());
}

void DeviceMgr::doWriteConfiguration(const QString &idat, bool fetchCurrentModelState)
{
    const QString dat = targetDat(idat);
    if (fetchCurrentModelState && !dat.isEmpty() && dat == m_currentDat)
        getModelState(dat);
    setDeviceState(dat);
    Device *device = liveDevice(dat);
    const QStringList script = device ? device->getWriteConfigurationScript() : QStringList();
    // Nothing differs from the chip: nothing to run and nothing to report.
    if (script.isEmpty())
        return;
    runVerified(&DeviceMgr::doneWriteConfiguration, dat, ctxWriteConfiguration, script);
}

void DeviceMgr::doFunction(const QString &idat, const QString &name, const QVariantMap &params)
{
    const QString dat = targetDat(idat);
    Device *device = liveDevice(dat);
    const bool skip = params.value(QStringLiteral("skipGlobalScriptReplacements"), false).toBool();
    runVerified(&DeviceMgr::doneFunction, dat, ctxFunction + name,
                device ? device->getFunctionScript(name, params) : QStringList(), skip);
}

QVariantMap DeviceMgr::task(const QString &idat, const QString &name, const QVariantMap &params)
{
    const QString dat = targetDat(idat);
    const QString ctx = ctxTask + name;
    Device *device = liveDevice(dat);
    if (!device || name.isEmpty()) {
        emit doneTask(QStringLiteral("Invalid device manager task call."), ctx, dat);
        return {};
    }
    const QVariantMap result = device->task(name, params);
    emit doneTask(QString(), ctx, dat);
    return result;
}

void DeviceMgr::map_doneRunScript(const QString &err, const QString &ctx, const QString &dat)
{
    if (ctx.startsWith(ctxRunScript)) {
        emit doneRunScript(err, ctx, dat);
        // A failed script leaves a register image that may never have been
        // read; it must not replace the saved state.
        if (err.isEmpty() && m_connectedIds.contains(dat) && m_onlineMode
            && Settings::getInstance()->immediateMode())
            getDeviceState(dat);
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

void DeviceMgr::onDoneReadConfiguration(const QString &err, const QString &ctx, const QString &dat)
{
    Q_UNUSED(ctx)
    if (err.isEmpty() && getDeviceState(dat))
        m_readSinceConnected.insert(dat);
}

void DeviceMgr::onDoneFunction(const QString &err, const QString &ctx, const QString &dat)
{
    Device *device = liveDevice(dat);
    if (!err.isEmpty() || !device)
        return;
    const QString name = ctx.mid(ctxFunction.size());
    const QVariantMap vmap = device->getFunctionEvent(name);
    if (!vmap.isEmpty())
        emit eventFunction(dat, name, vmap);
}

void DeviceMgr::onDoneRunMonitor(const QString &err, const QString &ctx, const QString &dat)
{
    Device *device = liveDevice(dat);
    if (!err.isEmpty() || !device)
        return;
    const QString speed = ctx.mid(ctxRunMonitor.size());
    const QVariantMap vmap = device->getMonitorEvent(speed);
    if (vmap.isEmpty())
        return;
    storeMonitorEvent(dat, speed, vmap);
    emit eventDeviceMonitor(dat, speed, vmap);
}

void DeviceMgr::monitor()
{
    if (!m_onlineMode || !m_monitorAllowed)
        return;
    const QStringList dats = m_devices.keys();
    for (const QString &dat : dats) {
        if (!m_connectedIds.contains(dat))
            continue;
        for (auto it = m_monitorSpeeds.cbegin(); it != m_monitorSpeeds.cend(); ++it) {
            if (m_monitorTick % quint32(it.key()) == 0)
                doRunMonitor(dat, it.value());
        }
    }
    ++m_monitorTick;
}

void DeviceMgr::storeMonitorEvent(const QString &dat, const QString &speed, const QVariantMap &vmap)
{
    if (Device *device = liveDevice(dat); device && m_exportEnabled)
        device->exportMonitorEvent(speed, vmap);
}

QVariantMap DeviceMgr::getDevicesDataDump(const QStringList &dats)
{
    QVariantMap dump;
    for (const QString &dat : dats) {
        QStringList info;
        const QMap<QString, QString> meta = getDeviceMetadata(dat);
        for (auto it = meta.cbegin(); it != meta.cend(); ++it)
            info << QStringLiteral("%1: %2").arg(it.key(), it.value());

        QStringList properties;
        if (m_devices.contains(dat)) {
            // The model's unsaved edits are reported as they stand, without
            // being stored or replaced by what the chip holds.
            const QPointer<Model> model = modelFor(dat);
            const QVariantMap state = (dat == m_currentDat && dat == m_modelStateDat && model)
                                          ? model->getState()
                                          : m_deviceStates.value(dat);
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
