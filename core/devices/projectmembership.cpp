#include "devices/projectmembership.h"

#include "devices/connectiontracker.h"
#include "devices/device.h"
#include "devices/deviceroster.h"
#include "devices/dfactory.h"
#include "devices/stateshuttle.h"
#include "models/modelmgr.h"
#include "utils/utils.h"

#include <QDebug>

ProjectMembership::ProjectMembership(DeviceRoster &roster, ConnectionTracker &tracker, StateShuttle &shuttle,
                                     DeviceMaker makeDevice, QObject *parent)
    : QObject(parent)
    , m_roster(roster)
    , m_tracker(tracker)
    , m_shuttle(shuttle)
    , m_makeDevice(std::move(makeDevice))
{
}

QString ProjectMembership::addDevice(const QString &dat, const QVariantMap &deviceState)
{
    if (!Utils::goodDat(dat))
        return QStringLiteral("Device %1 is incorrectly formatted").arg(dat);
    if (m_roster.contains(dat))
        return QStringLiteral("Device %1 already exists").arg(dat);
    const QString type = Utils::datType(dat);
    if (!ModelMgr::getInstance()->modelTypes().contains(type) || !DFactory::supportsType(type))
        return QStringLiteral("DeviceType %1 is not supported").arg(type);
    if (const QString err = m_roster.checkAddress(dat, QString()); !err.isEmpty())
        return err;

    qDebug().noquote() << QStringLiteral("DevMgr_addDeviceToProject, adding device %1 with %2 properties")
                              .arg(dat)
                              .arg(deviceState.size());
    m_roster.insert(dat, m_makeDevice(dat));
    QVariantMap state;
    const QVariantMap accepted = StateShuttle::acceptedState(dat, deviceState, &state);
    m_roster.setState(dat, state);
    m_roster.mergeState(dat, accepted);
    emit deviceAdded(dat);
    return {};
}

QString ProjectMembership::editDevice(const QString &oldDat, const QString &newDat,
                                      const QVariantMap &newDeviceState)
{
    if (!Utils::goodDat(oldDat))
        return QStringLiteral("Device %1 is incorrectly formatted").arg(oldDat);
    if (!Utils::goodDat(newDat))
        return QStringLiteral("Device %1 is incorrectly formatted").arg(newDat);
    if (!m_roster.contains(oldDat))
        return QStringLiteral("Device %1 should exist").arg(oldDat);
    if (Utils::datType(oldDat) != Utils::datType(newDat))
        return QStringLiteral("Devices need to be of the same deviceType");
    if (const QString err = m_roster.checkAddress(newDat, oldDat); !err.isEmpty())
        return err;

    qDebug().noquote() << QStringLiteral("DevMgr_editDeviceInProject, editing device %1 with %2 properties")
                              .arg(newDat)
                              .arg(newDeviceState.size());
    const QVariantMap accepted = StateShuttle::acceptedState(newDat, newDeviceState);

    if (oldDat != newDat) {
        // The model's unsaved edits belong to the device, whatever its name.
        const bool shown = m_shuttle.modelStateDat() == oldDat;
        if (shown)
            m_shuttle.getModelState(oldDat);
        m_tracker.forgetRead(oldDat);
        const QPointer<Device> device = m_roster.take(oldDat);
        const DeviceState state = m_roster.takeState(oldDat);
        if (device)
            device->setDat(newDat);
        m_roster.insert(newDat, device.data());
        m_roster.setState(newDat, state);
        m_roster.mergeState(newDat, accepted);
        if (shown)
            m_shuttle.setModelState(newDat);
        if (m_roster.currentDat() == oldDat) {
            m_roster.setCurrentDat(newDat);
            emit currentDatChanged(newDat);
        }
    } else {
        m_shuttle.mergeIntoShownState(newDat, accepted);
    }
    emit projectDevicesChanged();
    return {};
}

QString ProjectMembership::removeDevice(const QString &dat)
{
    if (!Utils::goodDat(dat))
        return QStringLiteral("Device %1 is incorrectly formatted").arg(dat);
    if (!m_roster.contains(dat))
        return QStringLiteral("Device %1 does not exist").arg(dat);

    qDebug().noquote() << QStringLiteral("DevMgr_removeDeviceFromProject, removing device %1").arg(dat);
    const QPointer<Device> device = m_roster.take(dat);
    m_shuttle.forgetDevice(dat);
    emit deviceRemoved(dat);
    // The reactions may bring the same DAT straight back (a window that keeps
    // one device re-adds its default chip); the newcomer keeps its state.
    if (!m_roster.contains(dat))
        m_roster.removeState(dat);
    delete device.data();
    return {};
}

void ProjectMembership::adoptChip(const QString &dat)
{
    if (!ModelMgr::getInstance()->modelTypes().contains(Utils::datType(dat)) || !DFactory::supportsDat(dat))
        return;
    qDebug().noquote() << QStringLiteral("DevMgr_slaveAdded, adding device %1").arg(dat);
    m_roster.insert(dat, m_makeDevice(dat));
    emit deviceAdded(dat);
}

void ProjectMembership::keepOneDevice()
{
    const qsizetype listed = m_roster.listedDats().size();
    if (listed == 0) {
        const QString type = ModelMgr::getInstance()->modelTypes().value(0);
        if (!type.isEmpty())
            (void)addDevice(QStringLiteral(":0x70:") + type, {});
    } else if (listed >= 2) {
        (void)removeDevice(m_roster.currentDat());
    }
}
