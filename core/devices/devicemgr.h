#pragma once

#include "devices/devicetypes.h"
#include "i2c/i2ctypes.h"
#include "panelcore_global.h"

#include <QList>
#include <QMap>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <memory>

class Device;
class Model;
class Production;
class Project;
class QTimer;

// Knows every device of the open project, which of them a bus scan has
// found, and which one is current. It turns the I2C service's adapter and
// slave events into devices and connection state, scans periodically, keeps
// one saved state per device and moves states between devices and models.
// Every operation on a device (scripts, configuration reads and writes,
// functions, monitoring, tasks) goes through here and comes back as a
// done* signal routed by its context text. Main thread only.
class PANELCORE_EXPORT DeviceMgr : public QObject
{
    Q_OBJECT
    Q_PROPERTY(int dongleCount READ dongleCount WRITE setDongleCount NOTIFY dongleCountChanged)
    Q_PROPERTY(int deviceCount READ deviceCount WRITE setDeviceCount NOTIFY deviceCountChanged)
    Q_PROPERTY(bool onlineMode READ onlineMode WRITE setOnlineMode NOTIFY onlineModeChanged)
    Q_PROPERTY(bool monitorAllowed READ monitorAllowed WRITE setMonitorAllowed NOTIFY monitorAllowedChanged)
    Q_PROPERTY(bool exportEnabled READ exportEnabled WRITE setExportEnabled NOTIFY exportEnabledChanged)
    Q_PROPERTY(bool currentConnected READ currentConnected WRITE setCurrentConnected NOTIFY currentConnectedChanged)
    Q_PROPERTY(QString currentType READ currentType WRITE setCurrentType NOTIFY currentTypeChanged)
    Q_PROPERTY(QString currentDat READ currentDat WRITE setCurrentDat NOTIFY currentDatChanged)
    Q_PROPERTY(QStringList connectedIds READ connectedIds WRITE setConnectedIds NOTIFY connectedIdsChanged)
    Q_PROPERTY(QStringList dongleDescriptions READ dongleDescriptions WRITE setDongleDescriptions NOTIFY dongleDescriptionsChanged)
    Q_PROPERTY(bool askScanOne READ askScanOne WRITE setAskScanOne NOTIFY askScanOneChanged)
    Q_PROPERTY(bool askScanOneOpen READ askScanOneOpen WRITE setAskScanOneOpen NOTIFY askScanOneOpenChanged)

public:
    // Monitor timer dividers: the 25 ms tick runs a speed when the tick
    // count is a multiple of its divider.
    static constexpr int monitor_speed_fast = 4;
    static constexpr int monitor_speed_normal = 19;
    static constexpr int monitor_speed_slow = 199;

    static constexpr int activityIntervalMs = 1000;
    static constexpr int monitorIntervalMs = 25;
    static constexpr int openLastProjectDelayMs = 250;

    static DeviceMgr *getInstance();
    ~DeviceMgr() override;

    int dongleCount() const { return m_dongleCount; }
    int deviceCount() const { return m_deviceCount; }
    bool onlineMode() const { return m_onlineMode; }
    bool monitorAllowed() const { return m_monitorAllowed; }
    bool exportEnabled() const { return m_exportEnabled; }
    bool currentConnected() const { return m_currentConnected; }
    QString currentType() const { return m_currentType; }
    QString currentDat() const { return m_currentDat; }
    QStringList connectedIds() const { return m_connectedIds; }
    QStringList dongleDescriptions() const { return m_dongleDescriptions; }
    bool askScanOne() const { return m_askScanOne; }
    bool askScanOneOpen() const { return m_askScanOneOpen; }

    void setDongleCount(int dongleCount);
    void setDeviceCount(int deviceCount);
    void setOnlineMode(bool onlineMode);
    void setMonitorAllowed(bool monitorAllowed);
    void setExportEnabled(bool exportEnabled);
    void setCurrentConnected(bool currentConnected);
    void setCurrentType(const QString &currentType);
    void setCurrentDat(const QString &currentDat);
    void setConnectedIds(const QStringList &connectedIds);
    void setDongleDescriptions(const QStringList &dongleDescriptions);
    void setAskScanOne(bool askScanOne);
    void setAskScanOneOpen(bool askScanOneOpen);

    // Both take ownership and delete the object they replace.
    void setProject(Project *project);
    void setProduction(Production *production);

    // Project membership; every result is an error text, empty on success.
    Q_INVOKABLE QStringList namesOfDevicesInProject(const QString &dat, const QString &filename);
    Q_INVOKABLE QString removeDeviceFromProject(const QString &dat);
    Q_INVOKABLE QString addDeviceToProject(const QString &dat, const QVariantMap &deviceState = QVariantMap());
    Q_INVOKABLE QString editDeviceInProject(const QString &oldDat, const QString &newDat,
                                            const QVariantMap &newDeviceState = QVariantMap());
    Q_INVOKABLE QString loadDeviceInProject(const QString &dat, const QString &filename,
                                            const QString &fromDeviceName);
    Q_INVOKABLE QString openProject(const QString &filename);
    Q_INVOKABLE QString saveProject(const QString &filename);
    Q_INVOKABLE QString saveProduction(const QString &filename);

    // Device operations. An empty idat means the current device; the outcome
    // arrives as the matching done* signal (at once when the request fails
    // its checks).
    Q_INVOKABLE void doRunScript(const QString &idat = QString(), const QString &name = QString(),
                                 const QStringList &script = QStringList());
    Q_INVOKABLE void doRunMonitor(const QString &idat = QString(), const QString &speed = QString());
    Q_INVOKABLE void doReadConfiguration(const QString &idat = QString());
    Q_INVOKABLE void doWriteConfiguration(const QString &idat = QString(), bool fetchCurrentModelState = true);
    Q_INVOKABLE void doFunction(const QString &idat = QString(), const QString &name = QString(),
                                const QVariantMap &params = QVariantMap());
    // Runs to completion; doneTask is emitted before it returns.
    Q_INVOKABLE QVariantMap task(const QString &idat = QString(), const QString &name = QString(),
                                 const QVariantMap &params = QVariantMap());

    Q_INVOKABLE bool isConnected(const QString &dat, bool checkOnlineMode = true) const;
    // A human-readable report per DAT; it never changes a model or a state.
    Q_INVOKABLE QVariantMap getDevicesDataDump(const QStringList &dats);
    // The next activity tick reads the current device's configuration.
    Q_INVOKABLE void scheduleReadOnActivity(const QString &idat = QString());

    QMap<QString, QString> getDeviceMetadata(const QString &dat) const;
    bool verifyDevice(QString &err, const QString &dat, bool requireConnected) const;
    QList<unsigned char> get7BitProjectAddresses(const QString &exceptDat) const;
    void disconnectDevice(const QString &dat);
    // What the next slave scan probes; an adapter whose every address may not
    // be probed (openAllowed false) gets the project's addresses only.
    ScanInstruction getScanInstruction(bool openAllowed = true) const;
    void sendEventProjectDevices();

    // State shuttling between deviceStates, the devices and the models.
    bool getModelState(const QString &dat);
    bool setModelState(const QString &dat);
    bool getDeviceState(const QString &dat);
    bool setDeviceState(const QString &dat);
    bool hasValidDeviceState(const QString &dat) const;
    void showModelState(const QString &dat);

    // True when err stays empty; otherwise err names the first broken rule.
    bool checkIntegrity(QString &err) const;

    // Checks a script for the device and expands its placeholders in place;
    // true when err stays empty.
    bool verifyExecutableScript(QString &err, const QString &dat, const QString &ctx,
                                QStringList &script, bool skipGlobalReplacements);
    void storeMonitorEvent(const QString &dat, const QString &speed, const QVariantMap &vmap);

    // Read access for diagnostics and tests.
    QStringList projectDats() const { return m_devices.keys(); }
    QMap<QString, DeviceState> deviceStates() const { return m_deviceStates; }
    QPointer<Device> device(const QString &dat) const { return m_devices.value(dat); }
    QStringList dongleIds() const { return m_dongleIds; }

signals:
    void dongleCountChanged(int dongleCount);
    void deviceCountChanged(int deviceCount);
    void onlineModeChanged(bool onlineMode);
    void monitorAllowedChanged(bool monitorAllowed);
    void exportEnabledChanged(bool exportEnabled);
    void currentConnectedChanged(bool currentConnected);
    void currentTypeChanged(const QString &currentType);
    void currentDatChanged(const QString &currentDat);
    void connectedIdsChanged(const QStringList &connectedIds);
    void dongleDescriptionsChanged(const QStringList &dongleDescriptions);
    void askScanOneChanged(bool askScanOne);
    void askScanOneOpenChanged(bool askScanOneOpen);

    void doneRunScript(const QString &err, const QString &ctx, const QString &dat);
    void doneRunMonitor(const QString &err, const QString &ctx, const QString &dat);
    void doneReadConfiguration(const QString &err, const QString &ctx, const QString &dat);
    void doneWriteConfiguration(const QString &err, const QString &ctx, const QString &dat);
    void doneFunction(const QString &err, const QString &ctx, const QString &dat);
    void doneTask(const QString &err, const QString &ctx, const QString &dat);
    void eventDeviceAdded(const QString &dat);
    void eventDeviceRemoved(const QString &dat);
    void eventDeviceConnected(const QString &dat);
    void eventDeviceDisconnected(const QString &dat);
    void eventProjectDevices(const QStringList &data);
    void eventModelStateSaved(const QString &dat);
    void eventModelStateRestored(const QString &dat);
    void eventDeviceStateSaved(const QString &dat);
    void eventDeviceStateRestored(const QString &dat);
    void eventDeviceMonitor(const QString &dat, const QString &speed, const QVariantMap &vmap);
    void eventFunction(const QString &dat, const QString &name, const QVariantMap &vmap);

private slots:
    void openLastProject();
    void activity();
    void monitor();
    void map_doneRunScript(const QString &err, const QString &ctx, const QString &dat);

private:
    DeviceMgr();

    // Reactions to the I2C service's events.
    void onDongleAdded(const QString &dongleId, const QString &dongleDescription);
    void onDongleRemoved(const QString &dongleId, const QString &dongleDescription);
    void onSlaveAdded(const QString &dat);
    void onSlaveRemoved(const QString &dat);
    // Reactions to the manager's own signals.
    void onDeviceAdded(const QString &dat);
    void onDeviceRemoved(const QString &dat);
    void onDeviceConnected(const QString &dat);
    void onCurrentDatChanged(const QString &dat);
    void onConnectionChanged();
    void onDoneReadConfiguration(const QString &err, const QString &ctx, const QString &dat);
    void onDoneFunction(const QString &err, const QString &ctx, const QString &dat);
    void onDoneRunMonitor(const QString &err, const QString &ctx, const QString &dat);

    // The DAT an operation works on: idat, or the current device's.
    QString targetDat(const QString &idat) const;
    // After a device joined or left: count, current DAT and device list.
    void publishProjectChange();
    void recomputeCurrentConnected();
    Device *makeDevice(const QString &dat);
    // Null for a DAT outside the project and for a device that has gone.
    Device *liveDevice(const QString &dat) const;
    QPointer<Model> modelFor(const QString &dat) const;
    // Whether two adapter ids name the same adapter: the default adapter is
    // also announced under the empty id.
    bool sameAdapter(const QString &dongleIdA, const QString &dongleIdB) const;
    // The other project DAT at the address of dat, whatever its adapter.
    QString projectDatAt(const QString &dat) const;
    // The project DAT of the same chip seen under the other id of its
    // adapter; empty when the project has no such device.
    QString projectAliasOf(const QString &dat) const;
    QString checkAddress(const QString &dat, const QString &exceptDat) const;
    // The state without the entries a model of the device's type could not
    // take; defaults, when given, receives that model's default state.
    QVariantMap acceptedState(const QString &dat, const QVariantMap &state,
                              QVariantMap *defaults = nullptr) const;
    // Merges into a saved state, through the model when it shows the device.
    void mergeIntoShownState(const QString &dat, const QVariantMap &state);
    QString openProjectFile(const QString &filename);
    // Verifies and posts a script, or emits done with the error.
    using DoneSignal = void (DeviceMgr::*)(const QString &, const QString &, const QString &);
    void runVerified(DoneSignal done, const QString &dat, const QString &ctx, QStringList script,
                     bool skipGlobalReplacements = false);
    void dumpScripts(const QString &ctx, const QStringList &original, const QStringList &expanded) const;
    void notifyOutcome(const QString &err, const QString &succeeded, const QString &failed,
                       const QString &filename) const;

    static DeviceMgr *m_instance;

    int m_dongleCount = 0;
    int m_deviceCount = 0;
    bool m_onlineMode = false;
    bool m_monitorAllowed = false;
    bool m_exportEnabled = false;
    bool m_currentConnected = false;
    QString m_currentType = type_welcome;
    QString m_currentDat;
    QStringList m_connectedIds;
    QStringList m_dongleDescriptions;
    bool m_askScanOne = false;
    bool m_askScanOneOpen = false;

    QPointer<Device> m_currentDevice;
    QMap<QString, QPointer<Device>> m_devices;
    QMap<int, QString> m_monitorSpeeds;
    QStringList m_dongleIds;
    QString m_defaultDongleId; // the adapter the empty id names
    std::unique_ptr<Production> m_production;
    std::unique_ptr<Project> m_project;
    std::unique_ptr<QTimer> m_activityTimer;
    std::unique_ptr<QTimer> m_monitorTimer;
    QMap<QString, DeviceState> m_deviceStates;
    QString m_modelStateDat;
    quint32 m_monitorTick = 0;
    bool m_readOnActivity = false;
    // Connected devices whose configuration has been read since they
    // connected: only these get immediate-mode writes.
    QSet<QString> m_readSinceConnected;
};
