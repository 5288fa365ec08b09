#include "devices/devicemgr.h"

#include "devices/device.h"
#include "devices/dfactory.h"
#include "devices/production.h"
#include "devices/project.h"
#include "i2c/i2csvc.h"
#include "models/model.h" // assignProperty
#include "models/modelmgr.h"
#include "models/rules.h"
#include "services/commslog.h"
#include "services/notificationsvc.h"
#include "services/settings.h"
#include "utils/utils.h"

#include <QCoreApplication>
#include <QDebug>
#include <QFileInfo>
#include <QMetaProperty>
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

// The 7-bit address of a DAT, when its address field is written the way
// the scans write it ("0x" and two lower-case digits, any case accepted).
// Anything else would name one chip under two DATs.
bool datAddressValue(const QString &dat, unsigned char &address)
{
    const QString text = Utils::datAddress(dat);
    if (!text.startsWith(QLatin1String("0x"), Qt::CaseInsensitive))
        return false;
    bool ok = false;
    const unsigned value = text.mid(2).toUInt(&ok, 16);
    if (!ok || value > 0xFF || Utils::toHexAddress(value, 2).compare(text, Qt::CaseInsensitive) != 0)
        return false;
    address = static_cast<unsigned char>(value);
    return true;
}

QString datAdapter(const QString &dat)
{
    return Utils::exDat(dat).value(0);
}

// Entries of a state that a model of the type could never take: a declared
// setting given a value that does not convert to its type. Such entries
// would sit in the saved state and reach the chip as zeros.
QStringList unconvertibleEntries(const Model &model, const QVariantMap &state)
{
    QStringList bad;
    for (const QMetaProperty &property : model.projectMetaProperties()) {
        const auto found = state.constFind(QString::fromLatin1(property.name()));
        if (found == state.cend() || found->metaType() == property.metaType())
            continue;
        QVariant value = *found;
        if (!value.convert(property.metaType()))
            bad << found.key();
    }
    return bad;
}

void mergeInto(QVariantMap &target, const QVariantMap &over)
{
    for (auto it = over.cbegin(); it != over.cend(); ++it)
        target.insert(it.key(), it.value());
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
    , m_production(std::make_unique<Production>())
    , m_project(std::make_unique<Project>())
{
    DeviceTypes::registerMetaTypes();
    Settings *settings = Settings::getInstance();
    m_monitorAllowed = !settings->commsDebugMode();
    m_monitorSpeeds.insert(monitor_speed_fast, QStringLiteral("fast"));
    m_monitorSpeeds.insert(monitor_speed_normal, QStringLiteral("normal"));
    m_monitorSpeeds.insert(monitor_speed_slow, QStringLiteral("slow"));

    connect(settings, &Settings::i2c8BitAddressChanged, this, &DeviceMgr::sendEventProjectDevices);
    I2cSvc *svc = I2cSvc::getInstance();
    connect(svc, &I2cSvc::doneRunScript, this, &DeviceMgr::map_doneRunScript);
    connect(svc, &I2cSvc::eventDongleAdded, this, &DeviceMgr::onDongleAdded);
    connect(svc, &I2cSvc::eventDongleRemoved, this, &DeviceMgr::onDongleRemoved);
    connect(svc, &I2cSvc::eventDefaultDongle, this, [this](const QString &dongleId) {
        m_defaultDongleId = dongleId;
    });
    connect(svc, &I2cSvc::eventSlaveAdded, this, &DeviceMgr::onSlaveAdded);
    connect(svc, &I2cSvc::eventSlaveRemoved, this, &DeviceMgr::onSlaveRemoved);
    connect(this, &DeviceMgr::eventDeviceAdded, this, &DeviceMgr::onDeviceAdded);
    connect(this, &DeviceMgr::eventDeviceRemoved, this, &DeviceMgr::onDeviceRemoved);
    connect(this, &DeviceMgr::eventDeviceConnected, this, &DeviceMgr::onDeviceConnected);
    connect(this, &DeviceMgr::currentDatChanged, this, &DeviceMgr::onCurrentDatChanged);
    connect(this, &DeviceMgr::onlineModeChanged, this, &DeviceMgr::onConnectionChanged);
    connect(this, &DeviceMgr::connectedIdsChanged, this, &DeviceMgr::onConnectionChanged);
    connect(this, &DeviceMgr::doneRunMonitor, this, &DeviceMgr::onDoneRunMonitor);
    connect(this, &DeviceMgr::doneFunction, this, &DeviceMgr::onDoneFunction);
    connect(this, &DeviceMgr::doneReadConfiguration, this, &DeviceMgr::onDoneReadConfiguration);
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

    m_activityTimer = std::make_unique<QTimer>();
    connect(m_activityTimer.get(), &QTimer::timeout, this, &DeviceMgr::activity);
    m_activityTimer->start(activityIntervalMs);
    activity();
    m_monitorTimer = std::make_unique<QTimer>();
    connect(m_monitorTimer.get(), &QTimer::timeout, this, &DeviceMgr::monitor);
    m_monitorTimer->start(monitorIntervalMs);
    monitor();
    QTimer::singleShot(openLastProjectDelayMs, this, &DeviceMgr::openLastProject);
}

DeviceMgr::~DeviceMgr()
{
    m_activityTimer->stop();
    m_monitorTimer->stop();
    const QMap<QString, QPointer<Device>> devices = std::exchange(m_devices, {});
    for (const QPointer<Device> &device : devices)
        delete device.data();
    disconnect();
    m_instance = nullptr;
}

// ---- Properties

void DeviceMgr::setDongleCount(int dongleCount)
{
    assignProperty(this, m_dongleCount, dongleCount, &DeviceMgr::dongleCountChanged);
}

void DeviceMgr::setDeviceCount(int deviceCount)
{
    assignProperty(this, m_deviceCount, deviceCount, &DeviceMgr::deviceCountChanged);
}

void DeviceMgr::setOnlineMode(bool onlineMode)
{
    assignProperty(this, m_onlineMode, onlineMode, &DeviceMgr::onlineModeChanged);
}

void DeviceMgr::setMonitorAllowed(bool monitorAllowed)
{
    assignProperty(this, m_monitorAllowed, monitorAllowed, &DeviceMgr::monitorAllowedChanged);
}

void DeviceMgr::setExportEnabled(bool exportEnabled)
{
    assignProperty(this, m_exportEnabled, exportEnabled, &DeviceMgr::exportEnabledChanged);
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
    if (m_currentDat == currentDat)
        return;
    // A DAT outside the project would leave the current device and its DAT
    // disagreeing, and every operation on "the current device" would fail.
    if (!currentDat.isEmpty() && !m_devices.contains(currentDat)) {
        qWarning().noquote() << QStringLiteral("DevMgr_setCurrentDat, %1 is not in the project").arg(currentDat);
        return;
    }
    m_currentDat = currentDat;
    emit currentDatChanged(m_currentDat);
}

void DeviceMgr::setConnectedIds(const QStringList &connectedIds)
{
    assignProperty(this, m_connectedIds, connectedIds, &DeviceMgr::connectedIdsChanged);
}

void DeviceMgr::setDongleDescriptions(const QStringList &dongleDescriptions)
{
    assignProperty(this, m_dongleDescriptions, dongleDescriptions, &DeviceMgr::dongleDescriptionsChanged);
}

void DeviceMgr::setAskScanOne(bool askScanOne)
{
    assignProperty(this, m_askScanOne, askScanOne, &DeviceMgr::askScanOneChanged);
}

void DeviceMgr::setAskScanOneOpen(bool askScanOneOpen)
{
    assignProperty(this, m_askScanOneOpen, askScanOneOpen, &DeviceMgr::askScanOneOpenChanged);
}

void DeviceMgr::setProject(Project *project)
{
    if (m_project.get() != project)
        m_project.reset(project);
}

void DeviceMgr::setProduction(Production *production)
{
    if (m_production.get() != production)
        m_production.reset(production);
}

// ---- Activity and scanning

void DeviceMgr::activity()
{
    I2cSvc *svc = I2cSvc::getInstance();
    if (!m_onlineMode) {
        emit svc->doDisconnect();
        return;
    }
    emit svc->doScanForDongles();

    if (!m_dongleIds.isEmpty()) {
        const ScanInstruction instruction = getScanInstruction();
        if (!instruction.isEmpty()) {
            const ScanInstruction projectOnly = getScanInstruction(false);
            for (const QString &dongleId : std::as_const(m_dongleIds)) {
                const ScanInstruction &forBus =
                    svc->allowsOpenScan(dongleId) ? instruction : projectOnly;
                if (!forBus.isEmpty())
                    emit svc->doScanForSlaves(dongleId, forBus);
            }
            // One request, one scan; the user interface sees the flags it
            // set go back with the next change it makes.
            m_askScanOne = false;
            m_askScanOneOpen = false;
        }
    }

    Settings *settings = Settings::getInstance();
    const QPointer<Model> model = ModelMgr::getInstance()->currentModel();
    // "Ignore Rules" lets a model that fails validation be written. Until a
    // read has put the chip's values into the model, the model holds
    // defaults or a project's values, and a register read a moment ago
    // would be overwritten with them.
    const bool chipKnown = isConnected(m_currentDat) && m_readSinceConnected.contains(m_currentDat);
    if (settings->immediateMode() && model && chipKnown
        && (settings->debugNoRules() || (model->rules() && model->rules()->doValidation() == 0)))
        doWriteConfiguration(m_currentDat, true);

    if (m_readOnActivity) {
        if (isConnected(m_currentDat))
            doReadConfiguration(m_currentDat);
        m_readOnActivity = false;
    }
}

void DeviceMgr::scheduleReadOnActivity(const QString &idat)
{
    Q_UNUSED(idat)
    m_readOnActivity = true;
}

ScanInstruction DeviceMgr::getScanInstruction(bool openAllowed) const
{
    const Settings *settings = Settings::getInstance();
    const bool scanNow = !settings->scanManual() || m_askScanOne;
    const bool open = m_askScanOneOpen || (settings->scanOpen() && scanNow);
    ScanInstruction instruction;
    if (open && openAllowed) {
        const QStringList types = ModelMgr::getInstance()->modelTypes();
        for (const QString &type : types)
            instruction.insert(type, {});
    } else if (scanNow || open) {
        for (auto it = m_devices.cbegin(); it != m_devices.cend(); ++it) {
            unsigned char address = 0;
            if (m_connectedIds.contains(it.key()) || !datAddressValue(it.key(), address))
                continue;
            instruction[Utils::datType(it.key())].append(address);
        }
    }
    return instruction;
}

void DeviceMgr::onDongleAdded(const QString &dongleId, const QString &dongleDescription)
{
    if (m_dongleIds.contains(dongleId))
        return;
    qDebug().noquote() << QStringLiteral("DevMgr_dongleAdded, added (%1 , %2)").arg(dongleId, dongleDescription);
    m_dongleIds.append(dongleId);
    m_dongleDescriptions.append(dongleDescription);
    setDongleCount(int(m_dongleIds.size()));
    emit dongleDescriptionsChanged(m_dongleDescriptions);
}

void DeviceMgr::onDongleRemoved(const QString &dongleId, const QString &dongleDescription)
{
    if (!m_dongleIds.contains(dongleId))
        return;
    qDebug().noquote() << QStringLiteral("DevMgr_dongleRemoved, removed (%1 , %2)").arg(dongleId, dongleDescription);
    const QString prefix = dongleId + Utils::datSeperator;
    const QStringList dats = m_devices.keys();
    for (const QString &dat : dats) {
        if (dat.startsWith(prefix) && m_connectedIds.contains(dat))
            disconnectDevice(dat);
    }
    // Ids and descriptions go together by position: adapters of one kind
    // share their description, so it cannot say which entry to drop.
    const qsizetype index = m_dongleIds.indexOf(dongleId);
    m_dongleIds.removeAt(index);
    if (index < m_dongleDescriptions.size())
        m_dongleDescriptions.removeAt(index);
    if (dongleId.isEmpty())
        m_defaultDongleId.clear();
    setDongleCount(int(m_dongleIds.size()));
    emit dongleDescriptionsChanged(m_dongleDescriptions);
}

bool DeviceMgr::sameAdapter(const QString &dongleIdA, const QString &dongleIdB) const
{
    if (dongleIdA == dongleIdB)
        return true;
    // The default adapter is announced twice, under "" and under its own
    // id; which adapter that is, the I2C service says.
    if (m_defaultDongleId.isEmpty() || !m_dongleIds.contains(QString()))
        return false;
    return (dongleIdA.isEmpty() && dongleIdB == m_defaultDongleId)
        || (dongleIdB.isEmpty() && dongleIdA == m_defaultDongleId);
}

QString DeviceMgr::projectDatAt(const QString &dat) const
{
    unsigned char address = 0;
    if (!datAddressValue(dat, address))
        return {};
    for (auto it = m_devices.cbegin(); it != m_devices.cend(); ++it) {
        unsigned char other = 0;
        if (it.key() != dat && datAddressValue(it.key(), other) && other == address)
            return it.key();
    }
    return {};
}

QString DeviceMgr::projectAliasOf(const QString &dat) const
{
    const QString other = projectDatAt(dat);
    if (other.isEmpty() || Utils::datType(other) != Utils::datType(dat)
        || !sameAdapter(datAdapter(other), datAdapter(dat)))
        return {};
    return other;
}

void DeviceMgr::onSlaveAdded(const QString &dat)
{
    QString known = dat;
    if (!m_devices.contains(dat)) {
        const QString occupant = projectDatAt(dat);
        if (!occupant.isEmpty()) {
            // One address, one project device: a chip seen again through
            // the default adapter's second id is the project's device; a chip
            // at the same address behind another adapter cannot join.
            known = projectAliasOf(dat);
            if (known.isEmpty()) {
                qDebug().noquote() << QStringLiteral("DevMgr_slaveAdded, %1 not added: address used by %2")
                                          .arg(dat, occupant);
                return;
            }
        } else if (ModelMgr::getInstance()->modelTypes().contains(Utils::datType(dat))
                   && DFactory::supportsDat(dat)) {
            qDebug().noquote() << QStringLiteral("DevMgr_slaveAdded, adding device %1").arg(dat);
            m_devices.insert(dat, makeDevice(dat));
            emit eventDeviceAdded(dat);
        }
    }
    if (!m_connectedIds.contains(known)) {
        m_connectedIds.append(known);
        emit eventDeviceConnected(known);
        emit connectedIdsChanged(m_connectedIds);
    }
}

void DeviceMgr::onSlaveRemoved(const QString &dat)
{
    QString known = dat;
    if (!m_devices.contains(dat)) {
        if (const QString alias = projectAliasOf(dat); !alias.isEmpty())
            known = alias;
    }
    if (m_connectedIds.contains(known))
        disconnectDevice(known);
}

void DeviceMgr::disconnectDevice(const QString &dat)
{
    m_readSinceConnected.remove(dat);
    m_connectedIds.removeAll(dat);
    emit eventDeviceDisconnected(dat);
    emit connectedIdsChanged(m_connectedIds);
}

bool DeviceMgr::isConnected(const QString &dat, bool checkOnlineMode) const
{
    if (!m_connectedIds.contains(dat))
        return false;
    return checkOnlineMode ? m_onlineMode : true;
}

// ---- Project membership and the current device

Device *DeviceMgr::makeDevice(const QString &dat)
{
    DFactory factory;
    Device *device = factory.newDerivedDevice(dat);
    connect(this, &DeviceMgr::exportEnabledChanged, device, &Device::onExportEnabledChanged);
    return device;
}

Device *DeviceMgr::liveDevice(const QString &dat) const
{
    return m_devices.value(dat).data();
}

void DeviceMgr::onDeviceAdded(const QString &dat)
{
    if (!m_currentDevice)
        m_currentDevice = m_devices.value(dat);
    publishProjectChange();
}

void DeviceMgr::onDeviceRemoved(const QString &dat)
{
    m_readSinceConnected.remove(dat);
    if (m_connectedIds.contains(dat))
        disconnectDevice(dat);
    if (!m_currentDevice || m_currentDevice->dat() == dat) {
        m_currentDevice = nullptr;
        for (auto it = m_devices.cbegin(); it != m_devices.cend(); ++it) {
            if (it.key() != dat && it.value()) {
                m_currentDevice = it.value();
                break;
            }
        }
    }
    publishProjectChange();
}

void DeviceMgr::publishProjectChange()
{
    setDeviceCount(int(m_devices.size()));
    setCurrentDat(m_currentDevice ? m_currentDevice->dat() : QString());
    sendEventProjectDevices();
}

void DeviceMgr::onCurrentDatChanged(const QString &dat)
{
    if (Device *device = liveDevice(dat))
        m_currentDevice = device;
    recomputeCurrentConnected();
    setCurrentType(m_currentDevice ? m_currentDevice->myType() : type_welcome);
    getModelState(m_modelStateDat);
    setModelState(dat);
    sendEventProjectDevices();
}

void DeviceMgr::recomputeCurrentConnected()
{
    setCurrentConnected(m_currentDevice && m_onlineMode && m_connectedIds.contains(m_currentDat));
}

void DeviceMgr::onConnectionChanged()
{
    recomputeCurrentConnected();
    sendEventProjectDevices();
}

void DeviceMgr::onDeviceConnected(const QString &dat)
{
    m_readSinceConnected.remove(dat);
    const Settings *settings = Settings::getInstance();
    if (m_connectedIds.contains(dat) && m_onlineMode && settings->immediateMode() && !settings->commsDebugMode())
        doReadConfiguration(dat);
}

void DeviceMgr::sendEventProjectDevices()
{
    const QString form = QStringLiteral("{'dat':'%1','name':'%2', 'alias': '%3', 'connected':'%4'}")
                             .replace(QLatin1Char('\''), QLatin1Char('"'));
    QStringList data;
    for (auto it = m_devices.cbegin(); it != m_devices.cend(); ++it) {
        if (!Utils::goodDat(it.key()))
            continue;
        const QMap<QString, QString> meta = getDeviceMetadata(it.key());
        data << form.arg(jsonEscaped(it.key()), jsonEscaped(meta.value(QStringLiteral("name"))),
                         jsonEscaped(meta.value(QStringLiteral("alias"))),
                         jsonEscaped(meta.value(QStringLiteral("connected"))));
    }
    emit eventProjectDevices(data);
}

QMap<QString, QString> DeviceMgr::getDeviceMetadata(const QString &dat) const
{
    QMap<QString, QString> meta;
    if (!Utils::goodDat(dat))
        return meta;
    const QString alias = m_deviceStates.value(dat).value(QStringLiteral("alias")).toString();
    unsigned value = Utils::fromHexAddress(Utils::datAddress(dat));
    if (Settings::getInstance()->i2c8BitAddress())
        value *= 2;
    const QString address = Utils::toHexAddress(value, 2);
    const QString type = Utils::datType(dat);
    meta.insert(QStringLiteral("alias"), alias);
    meta.insert(QStringLiteral("address"), address);
    meta.insert(QStringLiteral("type"), type);
    meta.insert(QStringLiteral("name"),
                QStringLiteral("%1 %2").arg(alias.isEmpty() ? type.toUpper() : alias, address));
    meta.insert(QStringLiteral("connected"),
                m_onlineMode && m_connectedIds.contains(dat) ? QStringLiteral("y") : QStringLiteral("n"));
    return meta;
}

bool DeviceMgr::verifyDevice(QString &err, const QString &dat, bool requireConnected) const
{
    err.clear();
    if (!liveDevice(dat))
        err = QStringLiteral("Called with an invalid device id");
    else if (requireConnected && !isConnected(dat, true))
        err = QStringLiteral("Called with a disconnected device id");
    return err.isEmpty();
}

QList<unsigned char> DeviceMgr::get7BitProjectAddresses(const QString &exceptDat) const
{
    QList<unsigned char> addresses;
    for (auto it = m_devices.cbegin(); it != m_devices.cend(); ++it) {
        if (it.key() != exceptDat)
            addresses << static_cast<unsigned char>(Utils::fromHexAddress(Utils::datAddress(it.key())));
    }
    return addresses;
}

QString DeviceMgr::checkAddress(const QString &dat, const QString &exceptDat) const
{
    unsigned char address = 0;
    if (!datAddressValue(dat, address) || !I2cSvc::get7BitLegalAddresses().contains(address))
        return QStringLiteral("Address %1 is not a legal 7-bit address").arg(Utils::datAddress(dat));
    if (get7BitProjectAddresses(exceptDat).contains(address))
        return QStringLiteral("Address %1 is already in use").arg(Utils::datAddress(dat));
    return {};
}

QVariantMap DeviceMgr::acceptedState(const QString &dat, const QVariantMap &state, QVariantMap *defaults) const
{
    if (!DFactory::supportsType(Utils::datType(dat)))
        return state;
    DFactory factory;
    const std::unique_ptr<Model> model(factory.newDerivedModel(Utils::datType(dat)));
    if (defaults)
        *defaults = model->getState();
    QVariantMap accepted = state;
    const QStringList bad = unconvertibleEntries(*model, state);
    for (const QString &key : bad) {
        qWarning().noquote() << QStringLiteral("DevMgr, device %1: %2 cannot take the value %3, ignored")
                                    .arg(dat, key, state.value(key).toString());
        accepted.remove(key);
    }
    return accepted;
}

QString DeviceMgr::addDeviceToProject(const QString &dat, const QVariantMap &deviceState)
{
    if (!Utils::goodDat(dat))
        return QStringLiteral("Device %1 is incorrectly formatted").arg(dat);
    if (m_devices.contains(dat))
        return QStringLiteral("Device %1 already exists").arg(dat);
    const QString type = Utils::datType(dat);
    if (!ModelMgr::getInstance()->modelTypes().contains(type) || !DFactory::supportsType(type))
        return QStringLiteral("DeviceType %1 is not supported").arg(type);
    if (const QString err = checkAddress(dat, QString()); !err.isEmpty())
        return err;

    qDebug().noquote() << QStringLiteral("DevMgr_addDeviceToProject, adding device %1 with %2 properties")
                              .arg(dat)
                              .arg(deviceState.size());
    m_devices.insert(dat, makeDevice(dat));
    QVariantMap state;
    const QVariantMap accepted = acceptedState(dat, deviceState, &state);
    mergeInto(state, accepted);
    m_deviceStates.insert(dat, state);
    emit eventDeviceAdded(dat);
    return {};
}

QString DeviceMgr::editDeviceInProject(const QString &oldDat, const QString &newDat,
                                       const QVariantMap &newDeviceState)
{
    if (!Utils::goodDat(oldDat))
        return QStringLiteral("Device %1 is incorrectly formatted").arg(oldDat);
    if (!Utils::goodDat(newDat))
        return QStringLiteral("Device %1 is incorrectly formatted").arg(newDat);
    if (!m_devices.contains(oldDat))
        return QStringLiteral("Device %1 should exist").arg(oldDat);
    if (Utils::datType(oldDat) != Utils::datType(newDat))
        return QStringLiteral("Devices need to be of the same deviceType");
    if (const QString err = checkAddress(newDat, oldDat); !err.isEmpty())
        return err;

    qDebug().noquote() << QStringLiteral("DevMgr_editDeviceInProject, editing device %1 with %2 properties")
                              .arg(newDat)
                              .arg(newDeviceState.size());
    const QVariantMap accepted = acceptedState(newDat, newDeviceState);

    if (oldDat != newDat) {
        // The model's unsaved edits belong to the device, whatever its name.
        const bool shown = m_modelStateDat == oldDat;
        if (shown)
            getModelState(oldDat);
        m_readSinceConnected.remove(oldDat);
        const QPointer<Device> device = m_devices.take(oldDat);
        QVariantMap state = m_deviceStates.take(oldDat);
        if (device)
            device->setDat(newDat);
        mergeInto(state, accepted);
        m_devices.insert(newDat, device);
        m_deviceStates.insert(newDat, state);
        if (shown)
            setModelState(newDat);
        if (m_currentDat == oldDat) {
            m_currentDat = newDat;
            emit currentDatChanged(m_currentDat);
        }
    } else {
        mergeIntoShownState(newDat, accepted);
    }
    sendEventProjectDevices();
    return {};
}

void DeviceMgr::mergeIntoShownState(const QString &dat, const QVariantMap &state)
{
    // The model holds the state of one device only; another device's state
    // is merged where it is kept and the model is left alone.
    const bool shown = m_modelStateDat == dat;
    if (shown)
        getModelState(dat);
    if (!state.isEmpty())
        mergeInto(m_deviceStates[dat], state);
    if (shown)
        setModelState(dat);
}

QString DeviceMgr::removeDeviceFromProject(const QString &dat)
{
    if (!Utils::goodDat(dat))
        return QStringLiteral("Device %1 is incorrectly formatted").arg(dat);
    if (!m_devices.contains(dat))
        return QStringLiteral("Device %1 does not exist").arg(dat);

    qDebug().noquote() << QStringLiteral("DevMgr_removeDeviceFromProject, removing device %1").arg(dat);
    const QPointer<Device> device = m_devices.take(dat);
    emit eventDeviceRemoved(dat);
    m_deviceStates.remove(dat);
    delete device.data();
    return {};
}

// ---- State shuttling

QPointer<Model> DeviceMgr::modelFor(const QString &dat) const
{
    return ModelMgr::getInstance()->modelForType(Utils::datType(dat));
}

bool DeviceMgr::getModelState(const QString &dat)
{
    // The model only holds this device's state when it was the last loaded.
    if (dat.isEmpty() || !m_devices.contains(dat) || dat != m_modelStateDat)
        return false;
    const QPointer<Model> model = modelFor(dat);
    if (!model)
        return false;
    m_deviceStates.insert(dat, model->getState());
    emit eventModelStateSaved(dat);
    return true;
}

bool DeviceMgr::setModelState(const QString &dat)
{
    if (dat.isEmpty())
        return false;
    m_modelStateDat = dat;
    const QPointer<Model> model = modelFor(dat);
    if (!model)
        return false;
    model->setState(m_deviceStates.value(dat));
    emit eventModelStateRestored(dat);
    return true;
}

bool DeviceMgr::getDeviceState(const QString &dat)
{
    Device *device = dat.isEmpty() ? nullptr : liveDevice(dat);
    if (!device)
        return false;
    const DeviceState state = device->getState();
    if (state.isEmpty())
        return false;
    // Merged, not replaced: the chip knows nothing of the alias or the
    // production entries kept in the same state.
    mergeInto(m_deviceStates[dat], state);
    if (dat == m_currentDat)
        setModelState(dat);
    emit eventDeviceStateSaved(dat);
    return true;
}

bool DeviceMgr::setDeviceState(const QString &dat)
{
    Device *device = dat.isEmpty() ? nullptr : liveDevice(dat);
    if (!device)
        return false;
    device->setState(m_deviceStates.value(dat));
    emit eventDeviceStateRestored(dat);
    return true;
}

bool DeviceMgr::hasValidDeviceState(const QString &dat) const
{
    return !m_deviceStates.value(dat).isEmpty();
}

void DeviceMgr::showModelState(const QString &dat)
{
    getModelState(m_modelStateDat);
    setModelState(dat);
    sendEventProjectDevices();
}

bool DeviceMgr::checkIntegrity(QString &err) const
{
    err.clear();
    if (m_devices.size() != m_deviceStates.size()) {
        err = QStringLiteral("device and deviceStates count differ");
    } else if (m_currentDevice && m_currentDevice->dat() != m_currentDat) {
        err = QStringLiteral("currentDevice and currentDat do not match");
    } else if (m_currentDevice && !m_devices.values().contains(m_currentDevice)) {
        err = QStringLiteral("currentDevice not contained in devices");
    } else if (!m_currentDat.isEmpty() && !m_devices.contains(m_currentDat)) {
        err = QStringLiteral("currentDat not contained in devices");
    } else {
        for (auto it = m_devices.cbegin(); it != m_devices.cend() && err.isEmpty(); ++it) {
            if (!m_deviceStates.contains(it.key()))
                err = QStringLiteral("device %1 does not have a deviceState").arg(it.key());
        }
        for (auto it = m_deviceStates.cbegin(); it != m_deviceStates.cend() && err.isEmpty(); ++it) {
            if (!m_devices.contains(it.key()))
                err = QStringLiteral("deviceState %1 does not have a device").arg(it.key());
        }
    }
    return err.isEmpty();
}

// ---- Project and production files

void DeviceMgr::notifyOutcome(const QString &err, const QString &succeeded, const QString &failed,
                              const QString &filename) const
{
    const QString name = QFileInfo(filename).fileName();
    if (err.isEmpty())
        NotificationSvc::getInstance()->createNotification(succeeded.arg(name), Notification::Information, QString());
    else
        NotificationSvc::getInstance()->createNotification(failed.arg(name, err), Notification::Error, QString());
}

QString DeviceMgr::openProject(const QString &filename)
{
    const QString err = openProjectFile(filename);
    notifyOutcome(err, QStringLiteral("Opened project file %1"),
                  QStringLiteral("Failed to open project file %1 (error: %2)"), filename);
    return err;
}

QString DeviceMgr::openProjectFile(const QString &filename)
{
    if (!m_project)
        return QStringLiteral("project has not been initialized");
    QMap<QString, QVariantMap> sections;
    QString err;
    if (!m_project->read(filename, sections, err))
        return err.isEmpty() ? QStringLiteral("cannot read %1").arg(filename) : err;

    const QStringList dats = m_devices.keys();
    for (const QString &dat : dats) {
        if (!(m_onlineMode && m_connectedIds.contains(dat)))
            (void)removeDeviceFromProject(dat);
    }

    QStringList opened;
    QStringList skipped;
    for (auto it = sections.cbegin(); it != sections.cend(); ++it) {
        // A kept device on a named adapter is the file's adapter-less device.
        QString dat = it.key();
        if (!m_devices.contains(dat)) {
            const QString occupant = projectDatAt(dat);
            if (!occupant.isEmpty() && Utils::datType(occupant) == Utils::datType(dat))
                dat = occupant;
        }
        const QString deviceErr = m_devices.contains(dat) ? editDeviceInProject(dat, dat, it.value())
                                                          : addDeviceToProject(dat, it.value());
        if (deviceErr.isEmpty()) {
            opened << dat;
        } else {
            qWarning().noquote() << QStringLiteral("DevMgr_openProject, skipped %1 of %2: %3")
                                        .arg(it.key(), filename, deviceErr);
            skipped << QStringLiteral("%1 (%2)").arg(it.key(), deviceErr);
        }
    }
    if (!skipped.isEmpty()) {
        NotificationSvc::getInstance()->createNotification(
            QStringLiteral("Skipped devices of project file %1: %2")
                .arg(QFileInfo(filename).fileName(), skipped.join(QStringLiteral(", "))),
            Notification::Error, QString());
    }

    if (Settings::getInstance()->immediateMode()) {
        for (const QString &dat : std::as_const(opened)) {
            if (m_onlineMode && m_connectedIds.contains(dat))
                doWriteConfiguration(dat, false);
        }
    }
    Settings::getInstance()->setLastProject(filename);
    return {};
}

QString DeviceMgr::saveProject(const QString &filename)
{
    QString err;
    if (!m_project) {
        err = QStringLiteral("project has not been initialized");
    } else if (!m_devices.isEmpty() && !getModelState(m_currentDat)) {
        err = QStringLiteral("failed to get current model state");
    } else if (!m_project->write(filename, m_deviceStates, err) && err.isEmpty()) {
        err = QStringLiteral("cannot write %1").arg(filename);
    }
    if (err.isEmpty())
        Settings::getInstance()->setLastProject(filename);
    notifyOutcome(err, QStringLiteral("Saved project file to %1"),
                  QStringLiteral("Failed saving project file to %1 (error: %2)"), filename);
    return err;
}

void DeviceMgr::openLastProject()
{
    const Settings *settings = Settings::getInstance();
    if (settings->openLastProject() && !settings->lastProject().isEmpty())
        (void)openProject(settings->lastProject());
}

QStringList DeviceMgr::namesOfDevicesInProject(const QString &dat, const QString &filename)
{
    if (!Utils::goodDat(dat) || !m_devices.contains(dat) || !m_project)
        return {};
    QMap<QString, QVariantMap> sections;
    QString err;
    if (!m_project->read(filename, sections, err))
        return {};
    return sections.keys();
}

QString DeviceMgr::loadDeviceInProject(const QString &dat, const QString &filename,
                                       const QString &fromDeviceName)
{
    if (!Utils::goodDat(dat))
        return QStringLiteral("Device %1 is incorrectly formatted").arg(dat);
    if (!m_devices.contains(dat))
        return QStringLiteral("Device %1 does not exist").arg(dat);
    if (!m_project)
        return QStringLiteral("project has not been initialized");
    QMap<QString, QVariantMap> sections;
    QString err;
    if (!m_project->read(filename, sections, err))
        return err.isEmpty() ? QStringLiteral("cannot read %1").arg(filename) : err;
    if (!sections.contains(fromDeviceName))
        return {};

    qDebug().noquote() << QStringLiteral("DevMgr_loadDeviceInProject, loading device %1 with filename %2 section %3")
                              .arg(dat, filename, fromDeviceName);
    mergeIntoShownState(dat, acceptedState(dat, sections.value(fromDeviceName)));
    if (Settings::getInstance()->immediateMode() && isConnected(dat))
        doWriteConfiguration(dat, false);
    sendEventProjectDevices();
    return {};
}

QString DeviceMgr::saveProduction(const QString &filename)
{
    QString err;
    if (!m_production)
        err = QStringLiteral("production has not been initialized");
    else if (m_deviceCount == 0)
        err = QStringLiteral("no devices present");
    else if (!m_production->write(filename, m_deviceStates))
        err = QStringLiteral("failed to write");
    if (err.isEmpty())
        Settings::getInstance()->setLastProduction(filename);
    notifyOutcome(err, QStringLiteral("Saved production file to %1"),
                  QStringLiteral("Failed saving production file to %1 (error: %2)"), filename);
    return err;
}
