#pragma once

#include "devices/device.h"
#include "devices/devicetypes.h"
#include "panelcore_global.h"

#include <QList>
#include <QMap>
#include <QPointer>
#include <QString>
#include <QStringList>

// The project's devices, their saved states and which one is current.
//
// The data every other part of the device manager reads, with the address
// rules that keep one chip to one DAT and the integrity check.
//
// Owned by DeviceMgr. It owns the Device objects put into it and deletes the
// ones still inside when it goes. It emits nothing and calls nothing above
// itself: whoever changes it announces the change. Main thread only.
class PANELCORE_EXPORT DeviceRoster
{
public:
    DeviceRoster() = default;
    ~DeviceRoster();
    Q_DISABLE_COPY_MOVE(DeviceRoster)

    bool contains(const QString &dat) const { return m_devices.contains(dat); }
    int size() const { return int(m_devices.size()); }
    QStringList dats() const { return m_devices.keys(); }
    // The DATs the user interface lists: the well-formed ones.
    QStringList listedDats() const;
    QPointer<Device> entry(const QString &dat) const { return m_devices.value(dat); }
    // Null for a DAT outside the project and for a device that has gone.
    Device *device(const QString &dat) const { return m_devices.value(dat).data(); }
    // Takes ownership.
    void insert(const QString &dat, Device *device);
    // The device leaves the roster; the caller deletes it.
    QPointer<Device> take(const QString &dat);
    // Takes every device out and deletes it, current device included.
    void deleteAll();

    const QMap<QString, DeviceState> &states() const { return m_states; }
    DeviceState state(const QString &dat) const { return m_states.value(dat); }
    void setState(const QString &dat, const DeviceState &state) { m_states.insert(dat, state); }
    // Entries of over win; a DAT without a state gets one.
    void mergeState(const QString &dat, const QVariantMap &over);
    DeviceState takeState(const QString &dat) { return m_states.take(dat); }
    void removeState(const QString &dat) { m_states.remove(dat); }

    QPointer<Device> currentDevice() const { return m_currentDevice; }
    void setCurrentDevice(const QPointer<Device> &device) { m_currentDevice = device; }
    QString currentDat() const { return m_currentDat; }
    void setCurrentDat(const QString &dat) { m_currentDat = dat; }

    // The 7-bit address of a DAT, when its address field is written the way
    // the scans write it ("0x" and two digits, any case). Anything else would
    // name one chip under two DATs.
    static bool addressOf(const QString &dat, unsigned char &address);
    // The other project DAT at the address of dat, whatever its adapter.
    QString datAt(const QString &dat) const;
    QList<unsigned char> addresses7Bit(const QString &exceptDat) const;
    // Empty when a device may take dat's address, else the reason it may not.
    QString checkAddress(const QString &dat, const QString &exceptDat) const;

    // What the user interface shows of a device: alias, address (in the
    // width the settings ask for), type, name and "y"/"n" for connected.
    QMap<QString, QString> metadata(const QString &dat, bool connected) const;

    // True when err stays empty; otherwise err names the first broken rule.
    bool checkIntegrity(QString &err) const;

private:
    QMap<QString, QPointer<Device>> m_devices;
    QMap<QString, DeviceState> m_states;
    QPointer<Device> m_currentDevice;
    QString m_currentDat;
};
