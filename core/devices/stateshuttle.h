#pragma once

#include "panelcore_global.h"

#include <QObject>
#include <QString>
#include <QVariantMap>

class DeviceRoster;

// Moves a device's saved state between the store, the device and its model.
//
// The store is the roster's; the device takes a state into its register
// image; the model of its type is what the user interface edits. One model
// serves every device of a type, so the shuttle remembers whose state the
// model holds, and only that device's state is ever taken from it.
//
// Owned by DeviceMgr. Changes the roster's states and nothing else of it;
// reaches the models through the model manager. Main thread only.
class PANELCORE_EXPORT StateShuttle : public QObject
{
    Q_OBJECT

public:
    explicit StateShuttle(DeviceRoster &roster, QObject *parent = nullptr);

    // Each returns false, and emits nothing, when there is nothing to move.
    bool getModelState(const QString &dat);
    bool setModelState(const QString &dat);
    bool getDeviceState(const QString &dat);
    bool setDeviceState(const QString &dat);
    bool hasValidDeviceState(const QString &dat) const;

    // The DAT whose state was last loaded into its model.
    QString modelStateDat() const { return m_modelStateDat; }
    // Saves the model's edits for the device it shows, then loads dat's.
    void showModelState(const QString &dat);
    // Merges into a saved state, through the model when it shows the device,
    // so the model's unsaved edits are neither lost nor left stale.
    void mergeIntoShownState(const QString &dat, const QVariantMap &state);
    // A device that left the project takes the model's edits with it; a
    // device that joins later under the same DAT must not be given them.
    void forgetDevice(const QString &dat);
    // The state as the user sees it: the model's unsaved edits while the
    // model shows the current device, else the saved state. Moves nothing.
    QVariantMap shownState(const QString &dat) const;

    // The state without the entries a model of the device's type could not
    // take; defaults, when given, receives that model's default state.
    static QVariantMap acceptedState(const QString &dat, const QVariantMap &state,
                                     QVariantMap *defaults = nullptr);

signals:
    void modelStateSaved(const QString &dat);
    void modelStateRestored(const QString &dat);
    void deviceStateSaved(const QString &dat);
    void deviceStateRestored(const QString &dat);

private:
    DeviceRoster &m_roster;
    QString m_modelStateDat;
};
