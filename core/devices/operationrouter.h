#pragma once

#include "panelcore_global.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariantMap>

class ConnectionTracker;
class DeviceRoster;
class StateShuttle;

// Runs operations on devices and routes each completion to its follow-up.
//
// The operations are scripts, configuration reads and writes, functions,
// monitor scripts and tasks. A completion is routed by its context text to
// its done signal and its follow-up: a read saves the chip's state, a
// function or a monitor script publishes its event. The context text
// carries everything a completion needs; nothing is kept in between.
//
// Owned by DeviceMgr. Asks the roster's devices for their scripts, checks
// and posts them to the I2C service, changes states only through the
// shuttle and learns connection state from the tracker. Main thread only.
class PANELCORE_EXPORT OperationRouter : public QObject
{
    Q_OBJECT

public:
    OperationRouter(DeviceRoster &roster, ConnectionTracker &tracker, StateShuttle &shuttle,
                    QObject *parent = nullptr);

    // Monitor events are written to CSV files.
    bool exportEnabled() const { return m_exportEnabled; }
    void setExportEnabled(bool exportEnabled);

    // An empty idat means the current device. The outcome arrives as the
    // matching done signal, at once when the request fails its checks.
    void doRunScript(const QString &idat, const QString &name, const QStringList &script);
    void doRunMonitor(const QString &idat, const QString &speed);
    void doReadConfiguration(const QString &idat);
    void doWriteConfiguration(const QString &idat, bool fetchCurrentModelState);
    void doFunction(const QString &idat, const QString &name, const QVariantMap &params);
    // Runs to completion; doneTask is emitted before it returns.
    QVariantMap task(const QString &idat, const QString &name, const QVariantMap &params);

    // Checks a script for the device and expands its placeholders in place;
    // true when err stays empty.
    bool verifyExecutableScript(QString &err, const QString &dat, const QString &ctx,
                                QStringList &script, bool skipGlobalReplacements);
    void storeMonitorEvent(const QString &dat, const QString &speed, const QVariantMap &vmap);
    // A human-readable report per DAT; it never changes a model or a state.
    QVariantMap getDevicesDataDump(const QStringList &dats);

    // The I2C service's completion of a script, sent on by its context text.
    void route(const QString &err, const QString &ctx, const QString &dat);

signals:
    void exportEnabledChanged(bool exportEnabled);
    void doneRunScript(const QString &err, const QString &ctx, const QString &dat);
    void doneRunMonitor(const QString &err, const QString &ctx, const QString &dat);
    void doneReadConfiguration(const QString &err, const QString &ctx, const QString &dat);
    void doneWriteConfiguration(const QString &err, const QString &ctx, const QString &dat);
    void doneFunction(const QString &err, const QString &ctx, const QString &dat);
    void doneTask(const QString &err, const QString &ctx, const QString &dat);
    void eventDeviceMonitor(const QString &dat, const QString &speed, const QVariantMap &vmap);
    void eventFunction(const QString &dat, const QString &name, const QVariantMap &vmap);

private:
    // Follow-ups, connected before anyone else hears the done signals.
    void onDoneReadConfiguration(const QString &err, const QString &ctx, const QString &dat);
    void onDoneFunction(const QString &err, const QString &ctx, const QString &dat);
    void onDoneRunMonitor(const QString &err, const QString &ctx, const QString &dat);

    QString targetDat(const QString &idat) const;
    // Verifies and posts a script, or emits done with the error.
    using DoneSignal = void (OperationRouter::*)(const QString &, const QString &, const QString &);
    void runVerified(DoneSignal done, const QString &dat, const QString &ctx, QStringList script,
                     bool skipGlobalReplacements = false);
    void dumpScripts(const QString &ctx, const QStringList &original, const QStringList &expanded) const;

    DeviceRoster &m_roster;
    ConnectionTracker &m_tracker;
    StateShuttle &m_shuttle;
    bool m_exportEnabled = false;
};
