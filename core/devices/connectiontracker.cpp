#include "devices/connectiontracker.h"

#include "devices/deviceroster.h"
#include "i2c/i2csvc.h"
#include "models/model.h" // assignProperty
#include "utils/utils.h"

#include <QDebug>

namespace {

QString datAdapter(const QString &dat)
{
    return Utils::exDat(dat).value(0);
}

} // namespace

ConnectionTracker::ConnectionTracker(const DeviceRoster &roster, QObject *parent)
    : QObject(parent)
    , m_roster(roster)
{
    I2cSvc *svc = I2cSvc::getInstance();
    connect(svc, &I2cSvc::eventDongleAdded, this, &ConnectionTracker::onDongleAdded);
    connect(svc, &I2cSvc::eventDongleRemoved, this, &ConnectionTracker::onDongleRemoved);
    connect(svc, &I2cSvc::eventDefaultDongle, this, [this](const QString &dongleId) {
        m_defaultDongleId = dongleId;
    });
    connect(svc, &I2cSvc::eventSlaveAdded, this, &ConnectionTracker::onSlaveAdded);
    connect(svc, &I2cSvc::eventSlaveRemoved, this, &ConnectionTracker::onSlaveRemoved);
}

void ConnectionTracker::setOnlineMode(bool onlineMode)
{
    assignProperty(this, m_onlineMode, onlineMode, &ConnectionTracker::onlineModeChanged);
}

void ConnectionTracker::setDongleCount(int dongleCount)
{
    assignProperty(this, m_dongleCount, dongleCount, &ConnectionTracker::dongleCountChanged);
}

void ConnectionTracker::setDongleDescriptions(const QStringList &dongleDescriptions)
{
    assignProperty(this, m_dongleDescriptions, dongleDescriptions, &ConnectionTracker::dongleDescriptionsChanged);
}

void ConnectionTracker::setConnectedIds(const QStringList &connectedIds)
{
    assignProperty(this, m_connectedIds, connectedIds, &ConnectionTracker::connectedIdsChanged);
}

bool ConnectionTracker::isConnected(const QString &dat, bool checkOnlineMode) const
{
    if (!m_connectedIds.contains(dat))
        return false;
    return checkOnlineMode ? m_onlineMode : true;
}

void ConnectionTracker::disconnectDevice(const QString &dat)
{
    m_readSinceConnected.remove(dat);
    m_connectedIds.removeAll(dat);
    emit deviceDisconnected(dat);
    emit connectedIdsChanged(m_connectedIds);
}

void ConnectionTracker::forgetDevice(const QString &dat)
{
    m_readSinceConnected.remove(dat);
    if (m_connectedIds.contains(dat))
        disconnectDevice(dat);
}

void ConnectionTracker::onDongleAdded(const QString &dongleId, const QString &dongleDescription)
{
    if (m_dongleIds.contains(dongleId))
        return;
    qDebug().noquote() << QStringLiteral("DevMgr_dongleAdded, added (%1 , %2)").arg(dongleId, dongleDescription);
    m_dongleIds.append(dongleId);
    m_dongleDescriptions.append(dongleDescription);
    setDongleCount(int(m_dongleIds.size()));
    emit dongleDescriptionsChanged(m_dongleDescriptions);
}

void ConnectionTracker::onDongleRemoved(const QString &dongleId, const QString &dongleDescription)
{
    if (!m_dongleIds.contains(dongleId))
        return;
    qDebug().noquote() << QStringLiteral("DevMgr_dongleRemoved, removed (%1 , %2)").arg(dongleId, dongleDescription);
    const QString prefix = dongleId + Utils::datSeperator;
    const QStringList dats = m_roster.dats();
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

bool ConnectionTracker::sameAdapter(const QString &dongleIdA, const QString &dongleIdB) const
{
    if (dongleIdA == dongleIdB)
        return true;
    // Which adapter the empty id stands for, the I2C service says.
    if (m_defaultDongleId.isEmpty() || !m_dongleIds.contains(QString()))
        return false;
    return (dongleIdA.isEmpty() && dongleIdB == m_defaultDongleId)
        || (dongleIdB.isEmpty() && dongleIdA == m_defaultDongleId);
}

QString ConnectionTracker::projectAliasOf(const QString &dat) const
{
    const QString other = m_roster.datAt(dat);
    if (other.isEmpty() || Utils::datType(other) != Utils::datType(dat)
        || !sameAdapter(datAdapter(other), datAdapter(dat)))
        return {};
    return other;
}

void ConnectionTracker::onSlaveAdded(const QString &dat)
{
    QString known = dat;
    if (!m_roster.contains(dat)) {
        const QString occupant = m_roster.datAt(dat);
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
        } else {
            emit chipFound(dat);
        }
    }
    if (!m_connectedIds.contains(known)) {
        m_connectedIds.append(known);
        // Whatever was read before belongs to the previous connection.
        m_readSinceConnected.remove(known);
        emit deviceConnected(known);
        emit connectedIdsChanged(m_connectedIds);
    }
}

void ConnectionTracker::onSlaveRemoved(const QString &dat)
{
    QString known = dat;
    if (!m_roster.contains(dat)) {
        if (const QString alias = projectAliasOf(dat); !alias.isEmpty())
            known = alias;
    }
    if (m_connectedIds.contains(known))
        disconnectDevice(known);
}
