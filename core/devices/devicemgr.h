#pragma once

#include "devices/connectiontracker.h"
#include "devices/deviceroster.h"
#include "devices/deviceticks.h"
#include "devices/devicetypes.h"
#include "devices/operationrouter.h"
#include "i2c/i2ctypes.h"
#include "panelcore_global.h"

#include <QList>
#include <QMap>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <memory>

class Production;
class Project;
class ProjectFiles;
class ProjectMembership;
class StateShuttle;

// Knows every device of the open project, which of them a bus scan has
// found, and which one is current; every operation on a device goes through
// here and comes back as a done* signal. This is the face that QML, the HTTP
// API and the command-line companion see. The work is done by collaborators
// it owns, each with one job:
//   DeviceRoster       the devices, their saved states, the current device
//   ConnectionTracker  adapters, chips found by the scans, online mode
//   StateShuttle       states between the store, the devices and the models
//   OperationRouter    operations on devices and their completions
//   ProjectMembership  adding, renaming and removing project devices
//   ProjectFiles       project and production files
//   DeviceTicks        the activity and monitor ticks
// Each uses only those listed above it, and announces its changes by signals
// that this manager passes on as its own. What the manager decides itself:
// which device is current, and the device list the user interface shows.
// Main thread only.
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
    static constexpr int monitor_speed_fast = DeviceTicks::monitorSpeedFast;
    static constexpr int monitor_speed_normal = DeviceTicks::monitorSpeedNormal;
    static constexpr int monitor_speed_slow = DeviceTicks::monitorSpeedSlow;

    static constexpr int activityIntervalMs = DeviceTicks::activityIntervalMs;
    static constexpr int monitorIntervalMs = DeviceTicks::monitorIntervalMs;
    static constexpr int openLastProjectDelayMs = 250;

    static DeviceMgr *getInstance();
    ~DeviceMgr() override;

    // Most properties are kept by the collaborator whose job they belong to;
    // their change signals reach QML as this manager's own.
    int dongleCount() const { return m_tracker->dongleCount(); }
    int deviceCount() const { return m_deviceCount; }
    bool onlineMode() const { return m_tracker->onlineMode(); }
    bool monitorAllowed() const { return m_ticks->monitorAllowed(); }
    bool exportEnabled() const { return m_router->exportEnabled(); }
    bool currentConnected() const { return m_currentConnected; }
    QString currentType() const { return m_currentType; }
    QString currentDat() const { return m_roster->currentDat(); }
    QStringList connectedIds() const { return m_tracker->connectedIds(); }
    QStringList dongleDescriptions() const { return m_tracker->dongleDescriptions(); }
    bool askScanOne() const { return m_ticks->askScanOne(); }
    bool askScanOneOpen() const { return m_ticks->askScanOneOpen(); }

    void setDongleCount(int dongleCount) { m_tracker->setDongleCount(dongleCount); }
    void setDeviceCount(int deviceCount);
    void setOnlineMode(bool onlineMode) { m_tracker->setOnlineMode(onlineMode); }
    void setMonitorAllowed(bool monitorAllowed) { m_ticks->setMonitorAllowed(monitorAllowed); }
    void setExportEnabled(bool exportEnabled) { m_router->setExportEnabled(exportEnabled); }
    void setCurrentConnected(bool currentConnected);
    void setCurrentType(const QString &currentType);
    void setCurrentDat(const QString &currentDat);
    void setConnectedIds(const QStringList &ids) { m_tracker->setConnectedIds(ids); }
    void setDongleDescriptions(const QStringList &descriptions) { m_tracker->setDongleDescriptions(descriptions); }
    void setAskScanOne(bool askScanOne) { m_ticks->setAskScanOne(askScanOne); }
    void setAskScanOneOpen(bool askScanOneOpen) { m_ticks->setAskScanOneOpen(askScanOneOpen); }

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
    // For a window that handles one device, called on each device list: a
    // project without a device gets the default chip, a project with several
    // loses the current one.
    Q_INVOKABLE void keepOneDevice();

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
    QStringList projectDats() const { return m_roster->dats(); }
    QMap<QString, DeviceState> deviceStates() const { return m_roster->states(); }
    QPointer<Device> device(const QString &dat) const { return m_roster->entry(dat); }
    QStringList dongleIds() const { return m_tracker->dongleIds(); }

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

    Device *makeDevice(const QString &dat);
    // Reactions to the manager's own signals: which device is current.
    void onDeviceAdded(const QString &dat);
    void onDeviceRemoved(const QString &dat);
    void onDeviceConnected(const QString &dat);
    void onCurrentDatChanged(const QString &dat);
    void onConnectionChanged();
    // After a device joined or left: count, current DAT and device list.
    void publishProjectChange();
    void recomputeCurrentConnected();

    static DeviceMgr *m_instance;

    int m_deviceCount = 0;
    bool m_currentConnected = false;
    QString m_currentType = type_welcome;

    // In the order they depend on each other; destroyed the other way round.
    std::unique_ptr<DeviceRoster> m_roster;
    std::unique_ptr<ConnectionTracker> m_tracker;
    std::unique_ptr<StateShuttle> m_shuttle;
    std::unique_ptr<OperationRouter> m_router;
    std::unique_ptr<ProjectMembership> m_membership;
    std::unique_ptr<ProjectFiles> m_files;
    std::unique_ptr<DeviceTicks> m_ticks;
};
