#include "devices/devicemgr.h"

#include "devices/dfactory.h"
#include "devices/projectfiles.h"
#include "devices/projectmembership.h"
#include "devices/stateshuttle.h"
#include "models/model.h" // assignProperty
#include "models/modelmgr.h"
#include "services/commslog.h"
#include "services/settings.h"

#include <QCoreApplication>
#include <QDebug>
#include <QTimer>

DeviceMgr *DeviceMgr::m_instance = nullptr;

namespace {

// Fills a JSON string literal: user text (an alias) may hold quotes,
// backslashes or control characters. Ordinary text comes out unchanged.
QString jsonEscaped(const QString &text)
{
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        switch (c.unicode()) {
        case '"': out += QLatin1String("\\\""); break;
        case '\\': out += QLatin1String("\\\\"); break;
        case '\b': out += QLatin1String("\\b"); break;
        case '\f': out += QLatin1String("\\f"); break;
        case '\n': out += QLatin1String("\\n"); break;
        case '\r': out += QLatin1String("\\r"); break;
        case '\t': out += QLatin1String("\\t"); break;
        default:
            if (c.unicode() < 0x20)
                out += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
            else
                out += c;
        }
    }
    return out;
}

} // namespace

DeviceMgr *DeviceMgr::getInstance()
{
    if (!m_instance) {
        m_instance = new DeviceMgr;
        qAddPostRoutine([] { delete m_instance; });
    }
    return m_instance;
}

DeviceMgr::DeviceMgr()
    : QObject(nullptr)
{
    DeviceTypes::registerMetaTypes();
    m_roster = std::make_unique<DeviceRoster>();
    m_tracker = std::make_unique<ConnectionTracker>(*m_roster);
    m_shuttle = std::make_unique<StateShuttle>(*m_roster);
    m_router = std::make_unique<OperationRouter>(*m_roster, *m_tracker, *m_shuttle);
    m_membership = std::make_unique<ProjectMembership>(*m_roster, *m_tracker, *m_shuttle,
                                                       [this](const QString &dat) { return makeDevice(dat); });
    m_files = std::make_unique<ProjectFiles>(*m_roster, *m_tracker, *m_shuttle, *m_membership, *m_router);
    m_ticks = std::make_unique<DeviceTicks>(*m_roster, *m_tracker, *m_router);

    // What the collaborators announce, this manager announces.
    ConnectionTracker *tracker = m_tracker.get();
    connect(tracker, &ConnectionTracker::onlineModeChanged, this, &DeviceMgr::onlineModeChanged);
    connect(tracker, &ConnectionTracker::dongleCountChanged, this, &DeviceMgr::dongleCountChanged);
    connect(tracker, &ConnectionTracker::dongleDescriptionsChanged, this, &DeviceMgr::dongleDescriptionsChanged);
    connect(tracker, &ConnectionTracker::connectedIdsChanged, this, &DeviceMgr::connectedIdsChanged);
    connect(tracker, &ConnectionTracker::deviceConnected, this, &DeviceMgr::eventDeviceConnected);
    connect(tracker, &ConnectionTracker::deviceDisconnected, this, &DeviceMgr::eventDeviceDisconnected);
    connect(tracker, &ConnectionTracker::chipFound, m_membership.get(), &ProjectMembership::adoptChip);
    StateShuttle *shuttle = m_shuttle.get();
    connect(shuttle, &StateShuttle::modelStateSaved, this, &DeviceMgr::eventModelStateSaved);
    connect(shuttle, &StateShuttle::modelStateRestored, this, &DeviceMgr::eventModelStateRestored);
    connect(shuttle, &StateShuttle::deviceStateSaved, this, &DeviceMgr::eventDeviceStateSaved);
    connect(shuttle, &StateShuttle::deviceStateRestored, this, &DeviceMgr::eventDeviceStateRestored);
    OperationRouter *router = m_router.get();
    connect(router, &OperationRouter::exportEnabledChanged, this, &DeviceMgr::exportEnabledChanged);
    connect(router, &OperationRouter::doneRunScript, this, &DeviceMgr::doneRunScript);
    connect(router, &OperationRouter::doneRunMonitor, this, &DeviceMgr::doneRunMonitor);
    connect(router, &OperationRouter::doneReadConfiguration, this, &DeviceMgr::doneReadConfiguration);
    connect(router, &OperationRouter::doneWriteConfiguration, this, &DeviceMgr::doneWriteConfiguration);
    connect(router, &OperationRouter::doneFunction, this, &DeviceMgr::doneFunction);
    connect(router, &OperationRouter::doneTask, this, &DeviceMgr::doneTask);
    connect(router, &OperationRouter::eventDeviceMonitor, this, &DeviceMgr::eventDeviceMonitor);
    connect(router, &OperationRouter::eventFunction, this, &DeviceMgr::eventFunction);
    ProjectMembership *membership = m_membership.get();
    connect(membership, &ProjectMembership::deviceAdded, this, &DeviceMgr::eventDeviceAdded);
    connect(membership, &ProjectMembership::deviceRemoved, this, &DeviceMgr::eventDeviceRemoved);
    connect(membership, &ProjectMembership::currentDatChanged, this, &DeviceMgr::currentDatChanged);
    connect(membership, &ProjectMembership::projectDevicesChanged, this, &DeviceMgr::sendEventProjectDevices);
    connect(m_files.get(), &ProjectFiles::projectDevicesChanged, this, &DeviceMgr::sendEventProjectDevices);
    DeviceTicks *ticks = m_ticks.get();
    connect(ticks, &DeviceTicks::monitorAllowedChanged, this, &DeviceMgr::monitorAllowedChanged);
    connect(ticks, &DeviceTicks::askScanOneChanged, this, &DeviceMgr::askScanOneChanged);
    connect(ticks, &DeviceTicks::askScanOneOpenChanged, this, &DeviceMgr::askScanOneOpenChanged);

    // Addresses are shown in the other width.
    connect(Settings::getInstance(), &Settings::i2c8BitAddressChanged, this, &DeviceMgr::sendEventProjectDevices);
    // The manager's own reactions, before anyone else hears: which device is
    // current and whether it is connected, and the first read of a chip.
    connect(this, &DeviceMgr::eventDeviceAdded, this, &DeviceMgr::onDeviceAdded);
    connect(this, &DeviceMgr::eventDeviceRemoved, this, &DeviceMgr::onDeviceRemoved);
    connect(this, &DeviceMgr::eventDeviceConnected, this, &DeviceMgr::onDeviceConnected);
    connect(this, &DeviceMgr::currentDatChanged, this, &DeviceMgr::onCurrentDatChanged);
    connect(this, &DeviceMgr::onlineModeChanged, this, &DeviceMgr::onConnectionChanged);
    connect(this, &DeviceMgr::connectedIdsChanged, this, &DeviceMgr::onConnectionChanged);
    // Made here rather than by the model manager and the log: this manager
    // may be replaced while they live on. Creating the log first also tears
    // it down after this manager, whose devices detach from it when deleted;
    // the other way round the log would be made anew at exit, emptying its
    // file.
    connect(this, &DeviceMgr::currentTypeChanged, ModelMgr::getInstance(), &ModelMgr::onCurrentTypeChanged);
    CommsLog *log = CommsLog::getInstance();
    connect(this, &DeviceMgr::eventDeviceAdded, log, &CommsLog::logDeviceAdded);
    connect(this, &DeviceMgr::eventDeviceRemoved, log, &CommsLog::logDeviceRemoved);
    connect(this, &DeviceMgr::eventDeviceConnected, log, &CommsLog::logDeviceConnected);
    connect(this, &DeviceMgr::eventDeviceDisconnected, log, &CommsLog::logDeviceDisconnected);
    connect(this, &DeviceMgr::eventModelStateSaved, log, &CommsLog::logModelStateSaved);
    connect(this, &DeviceMgr::eventModelStateRestored, log, &CommsLog::logModelStateRestored);

    m_ticks->start();
    QTimer::singleShot(openLastProjectDelayMs, this, &DeviceMgr::openLastProject);
}

DeviceMgr::~DeviceMgr()
{
    m_ticks->stop();
    m_roster->deleteAll();
    disconnect();
    m_instance = nullptr;
}

// ---- Properties

void DeviceMgr::setDeviceCount(int deviceCount)
{
    assignProperty(this, m_deviceCount, deviceCount, &DeviceMgr::deviceCountChanged);
}

void DeviceMgr::setCurrentConnected(bool currentConnected)
{
    assignProperty(this, m_currentConnected, currentConnected, &DeviceMgr::currentConnectedChanged);
}

void DeviceMgr::setCurrentType(const QString &currentType)
{
    assignProperty(this, m_currentType, currentType, &DeviceMgr::currentTypeChanged);
}

void DeviceMgr::setCurrentDat(const QString &currentDat)
{
    if (m_roster->currentDat() == currentDat)
        return;
    // A DAT outside the project would leave the current device and its DAT
    // disagreeing, and every operation on "the current device" would fail.
    if (!currentDat.isEmpty() && !m_roster->contains(currentDat)) {
        qWarning().noquote() << QStringLiteral("DevMgr_setCurrentDat, %1 is not in the project").arg(currentDat);
        return;
    }
    m_roster->setCurrentDat(currentDat);
    emit currentDatChanged(currentDat);
}

void DeviceMgr::setProject(Project *project)
{
    m_files->setProject(project);
}

void DeviceMgr::setProduction(Production *production)
{
    m_files->setProduction(production);
}

// ---- Project membership and files

QStringList DeviceMgr::namesOfDevicesInProject(const QString &dat, const QString &filename)
{
    return m_files->namesOfDevicesInProject(dat, filename);
}

QString DeviceMgr::removeDeviceFromProject(const QString &dat)
{
    return m_membership->removeDevice(dat);
}

QString DeviceMgr::addDeviceToProject(const QString &dat, const QVariantMap &deviceState)
{
    return m_membership->addDevice(dat, deviceState);
}

QString DeviceMgr::editDeviceInProject(const QString &oldDat, const QString &newDat,
                                       const QVariantMap &newDeviceState)
{
    return m_membership->editDevice(oldDat, newDat, newDeviceState);
}

QString DeviceMgr::loadDeviceInProject(const QString &dat, const QString &filename,
                                       const QString &fromDeviceName)
{
    return m_files->loadDeviceInProject(dat, filename, fromDeviceName);
}

QString DeviceMgr::openProject(const QString &filename)
{
    return m_files->openProject(filename);
}

QString DeviceMgr::saveProject(const QString &filename)
{
    return m_files->saveProject(filename);
}

QString DeviceMgr::saveProduction(const QString &filename)
{
    return m_files->saveProduction(filename, m_deviceCount);
}

void DeviceMgr::openLastProject()
{
    m_files->openLastProject();
}

void DeviceMgr::keepOneDevice()
{
    m_membership->keepOneDevice();
}

// ---- Operations

void DeviceMgr::doRunScript(const QString &idat, const QString &name, const QStringList &script)
{
    m_router->doRunScript(idat, name, script);
}

void DeviceMgr::doRunMonitor(const QString &idat, const QString &speed)
{
    m_router->doRunMonitor(idat, speed);
}

void DeviceMgr::doReadConfiguration(const QString &idat)
{
    m_router->doReadConfiguration(idat);
}

void DeviceMgr::doWriteConfiguration(const QString &idat, bool fetchCurrentModelState)
{
    m_router->doWriteConfiguration(idat, fetchCurrentModelState);
}

void DeviceMgr::doFunction(const QString &idat, const QString &name, const QVariantMap &params)
{
    m_router->doFunction(idat, name, params);
}

QVariantMap DeviceMgr::task(const QString &idat, const QString &name, const QVariantMap &params)
{
    return m_router->task(idat, name, params);
}

QVariantMap DeviceMgr::getDevicesDataDump(const QStringList &dats)
{
    return m_router->getDevicesDataDump(dats);
}

bool DeviceMgr::verifyExecutableScript(QString &err, const QString &dat, const QString &ctx,
                                       QStringList &script, bool skipGlobalReplacements)
{
    return m_router->verifyExecutableScript(err, dat, ctx, script, skipGlobalReplacements);
}

void DeviceMgr::storeMonitorEvent(const QString &dat, const QString &speed, const QVariantMap &vmap)
{
    m_router->storeMonitorEvent(dat, speed, vmap);
}

void DeviceMgr::map_doneRunScript(const QString &err, const QString &ctx, const QString &dat)
{
    m_router->route(err, ctx, dat);
}

// ---- Ticks and scanning

void DeviceMgr::activity()
{
    m_ticks->activity();
}

void DeviceMgr::monitor()
{
    m_ticks->monitor();
}

void DeviceMgr::scheduleReadOnActivity(const QString &idat)
{
    Q_UNUSED(idat)
    m_ticks->scheduleReadOnActivity();
}

ScanInstruction DeviceMgr::getScanInstruction(bool openAllowed) const
{
    return m_ticks->scanInstruction(openAllowed);
}

// ---- Connections

bool DeviceMgr::isConnected(const QString &dat, bool checkOnlineMode) const
{
    return m_tracker->isConnected(dat, checkOnlineMode);
}

void DeviceMgr::disconnectDevice(const QString &dat)
{
    m_tracker->disconnectDevice(dat);
}

// ---- The devices and the current one

Device *DeviceMgr::makeDevice(const QString &dat)
{
    DFactory factory;
    Device *device = factory.newDerivedDevice(dat);
    connect(this, &DeviceMgr::exportEnabledChanged, device, &Device::onExportEnabledChanged);
    return device;
}

void DeviceMgr::onDeviceAdded(const QString &dat)
{
    if (!m_roster->currentDevice())
        m_roster->setCurrentDevice(m_roster->entry(dat));
    publishProjectChange();
}

void DeviceMgr::onDeviceRemoved(const QString &dat)
{
    m_tracker->forgetDevice(dat);
    const QPointer<Device> current = m_roster->currentDevice();
    if (!current || current->dat() == dat) {
        QPointer<Device> next;
        const QStringList dats = m_roster->dats();
        for (const QString &other : dats) {
            if (other != dat && m_roster->device(other)) {
                next = m_roster->entry(other);
                break;
            }
        }
        m_roster->setCurrentDevice(next);
    }
    publishProjectChange();
}

void DeviceMgr::publishProjectChange()
{
    setDeviceCount(m_roster->size());
    const QPointer<Device> current = m_roster->currentDevice();
    setCurrentDat(current ? current->dat() : QString());
    sendEventProjectDevices();
}

void DeviceMgr::onCurrentDatChanged(const QString &dat)
{
    if (const QPointer<Device> device = m_roster->entry(dat))
        m_roster->setCurrentDevice(device);
    recomputeCurrentConnected();
    const QPointer<Device> current = m_roster->currentDevice();
    setCurrentType(current ? current->myType() : type_welcome);
    m_shuttle->showModelState(dat);
    sendEventProjectDevices();
}

void DeviceMgr::recomputeCurrentConnected()
{
    setCurrentConnected(m_roster->currentDevice() && m_tracker->isConnected(m_roster->currentDat(), true));
}

void DeviceMgr::onConnectionChanged()
{
    recomputeCurrentConnected();
    sendEventProjectDevices();
}

void DeviceMgr::onDeviceConnected(const QString &dat)
{
    const Settings *settings = Settings::getInstance();
    if (m_tracker->isConnected(dat, true) && settings->immediateMode() && !settings->commsDebugMode())
        m_router->doReadConfiguration(dat);
}

void DeviceMgr::sendEventProjectDevices()
{
    const QString form = QStringLiteral("{'dat':'%1','name':'%2', 'alias': '%3', 'connected':'%4'}")
                             .replace(QLatin1Char('\''), QLatin1Char('"'));
    QStringList data;
    const QStringList dats = m_roster->listedDats();
    for (const QString &dat : dats) {
        const QMap<QString, QString> meta = getDeviceMetadata(dat);
        data << form.arg(jsonEscaped(dat), jsonEscaped(meta.value(QStringLiteral("name"))),
                         jsonEscaped(meta.value(QStringLiteral("alias"))),
                         jsonEscaped(meta.value(QStringLiteral("connected"))));
    }
    emit eventProjectDevices(data);
}

QMap<QString, QString> DeviceMgr::getDeviceMetadata(const QString &dat) const
{
    return m_roster->metadata(dat, m_tracker->isConnected(dat, true));
}

bool DeviceMgr::verifyDevice(QString &err, const QString &dat, bool requireConnected) const
{
    err.clear();
    if (!m_roster->device(dat))
        err = QStringLiteral("Called with an invalid device id");
    else if (requireConnected && !isConnected(dat, true))
        err = QStringLiteral("Called with a disconnected device id");
    return err.isEmpty();
}

QList<unsigned char> DeviceMgr::get7BitProjectAddresses(const QString &exceptDat) const
{
    return m_roster->addresses7Bit(exceptDat);
}

// ---- State shuttling

bool DeviceMgr::getModelState(const QString &dat)
{
    return m_shuttle->getModelState(dat);
}

bool DeviceMgr::setModelState(const QString &dat)
{
    return m_shuttle->setModelState(dat);
}

bool DeviceMgr::getDeviceState(const QString &dat)
{
    return m_shuttle->getDeviceState(dat);
}

bool DeviceMgr::setDeviceState(const QString &dat)
{
    return m_shuttle->setDeviceState(dat);
}

bool DeviceMgr::hasValidDeviceState(const QString &dat) const
{
    return m_shuttle->hasValidDeviceState(dat);
}

void DeviceMgr::showModelState(const QString &dat)
{
    m_shuttle->showModelState(dat);
    sendEventProjectDevices();
}

bool DeviceMgr::checkIntegrity(QString &err) const
{
    return m_roster->checkIntegrity(err);
}
