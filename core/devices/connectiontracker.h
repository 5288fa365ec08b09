#pragma once

#include "panelcore_global.h"

#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>

class DeviceRoster;

// Which adapters are present, which chips the scans found, and online mode.
//
// Online mode says whether bus work is allowed at all. The default adapter
// is announced under its own id and under the empty id; a chip seen through
// either is one project device.
//
// Owned by DeviceMgr. Listens to the I2C service's adapter and slave events
// and reads the roster, which it never changes: a chip the project does not
// know is announced with chipFound(), which the owner handles synchronously,
// before the chip counts as connected. Main thread only.
class PANELCORE_EXPORT ConnectionTracker : public QObject
{
    Q_OBJECT

public:
    explicit ConnectionTracker(const DeviceRoster &roster, QObject *parent = nullptr);

    bool onlineMode() const { return m_onlineMode; }
    int dongleCount() const { return m_dongleCount; }
    QStringList dongleIds() const { return m_dongleIds; }
    QStringList dongleDescriptions() const { return m_dongleDescriptions; }
    QStringList connectedIds() const { return m_connectedIds; }
    void setOnlineMode(bool onlineMode);
    void setDongleCount(int dongleCount);
    void setDongleDescriptions(const QStringList &dongleDescriptions);
    void setConnectedIds(const QStringList &connectedIds);

    // Found by a scan and, when checkOnlineMode, with bus work allowed.
    bool isConnected(const QString &dat, bool checkOnlineMode = true) const;
    void disconnectDevice(const QString &dat);
    // A device that left the project is no longer connected or read.
    void forgetDevice(const QString &dat);

    // Connected devices whose configuration has been read since they
    // connected: only these get immediate-mode writes, since until then the
    // model holds defaults or a project's values rather than the chip's.
    void markRead(const QString &dat) { m_readSinceConnected.insert(dat); }
    void forgetRead(const QString &dat) { m_readSinceConnected.remove(dat); }
    bool readSinceConnected(const QString &dat) const { return m_readSinceConnected.contains(dat); }

signals:
    void onlineModeChanged(bool onlineMode);
    void dongleCountChanged(int dongleCount);
    void dongleDescriptionsChanged(const QStringList &dongleDescriptions);
    void connectedIdsChanged(const QStringList &connectedIds);
    void deviceConnected(const QString &dat);
    void deviceDisconnected(const QString &dat);
    // A chip of a DAT the project lacks, at an address no project device
    // holds; the owner may add it to the project before this returns.
    void chipFound(const QString &dat);

private:
    void onDongleAdded(const QString &dongleId, const QString &dongleDescription);
    void onDongleRemoved(const QString &dongleId, const QString &dongleDescription);
    void onSlaveAdded(const QString &dat);
    void onSlaveRemoved(const QString &dat);
    // Whether two adapter ids name the same adapter.
    bool sameAdapter(const QString &dongleIdA, const QString &dongleIdB) const;
    // The project DAT of the same chip seen under the other id of its
    // adapter; empty when the project has no such device.
    QString projectAliasOf(const QString &dat) const;

    const DeviceRoster &m_roster;
    bool m_onlineMode = false;
    int m_dongleCount = 0;
    QStringList m_dongleIds;
    QStringList m_dongleDescriptions;
    QString m_defaultDongleId; // the adapter the empty id names
    QStringList m_connectedIds;
    QSet<QString> m_readSinceConnected;
};
