#pragma once

#include "panelcore_global.h"

#include <QObject>
#include <QString>
#include <QVariantMap>

#include <functional>

class ConnectionTracker;
class Device;
class DeviceRoster;
class StateShuttle;

// Adds, renames and removes project devices, and adopts the chips scans find.
//
// The rules keep one chip to one DAT: well formed, of a supported type, at a
// legal address no other project device holds.
//
// Owned by DeviceMgr. Changes the roster; the owner says how a device object
// is made, and its reactions to deviceAdded and deviceRemoved (choosing the
// current device) run synchronously, before the call that emitted them
// returns. Moves model states through the shuttle and forgets reads through
// the tracker. Main thread only.
class PANELCORE_EXPORT ProjectMembership : public QObject
{
    Q_OBJECT

public:
    using DeviceMaker = std::function<Device *(const QString &dat)>;

    ProjectMembership(DeviceRoster &roster, ConnectionTracker &tracker, StateShuttle &shuttle,
                      DeviceMaker makeDevice, QObject *parent = nullptr);

    // Every result is an error text, empty on success; a failed call changes
    // nothing.
    QString addDevice(const QString &dat, const QVariantMap &deviceState);
    QString editDevice(const QString &oldDat, const QString &newDat, const QVariantMap &newDeviceState);
    QString removeDevice(const QString &dat);
    // A chip a scan found at a free address joins when its type is supported;
    // its state comes with its first read.
    void adoptChip(const QString &dat);

    // For a window that handles one device: a project without one gets the
    // default chip (the first model type at 0x70), a project with several
    // loses the current one.
    void keepOneDevice();

signals:
    void deviceAdded(const QString &dat);
    // Emitted after the device left the roster and before it is deleted.
    void deviceRemoved(const QString &dat);
    // Only a rename moves the current DAT here; the owner moves it otherwise.
    void currentDatChanged(const QString &dat);
    // The device list the user interface shows has changed.
    void projectDevicesChanged();

private:
    DeviceRoster &m_roster;
    ConnectionTracker &m_tracker;
    StateShuttle &m_shuttle;
    DeviceMaker m_makeDevice;
};
