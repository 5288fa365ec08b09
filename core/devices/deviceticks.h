#pragma once

#include "i2c/i2ctypes.h"
#include "panelcore_global.h"

#include <QMap>
#include <QObject>
#include <QString>

#include <memory>

class ConnectionTracker;
class DeviceRoster;
class OperationRouter;
class QTimer;

// The device manager's two clocks: the activity tick and the monitor tick.
//
// Every second the activity tick closes the adapters while offline, or else
// asks for adapter and slave scans, writes the current device's pending
// edits in immediate mode and runs a scheduled read; every 25 ms the monitor
// tick runs the monitor scripts of every connected device at the speeds that
// are due.
//
// Owned by DeviceMgr, which starts it once its own wiring is in place. Reads
// the roster and the tracker and asks the router for the work; the flags it
// keeps (monitoring allowed, one scan asked) are the manager's properties.
class PANELCORE_EXPORT DeviceTicks : public QObject
{
    Q_OBJECT

public:
    // Monitor dividers: the monitor tick runs a speed when the tick count is
    // a multiple of its divider.
    static constexpr int monitorSpeedFast = 4;
    static constexpr int monitorSpeedNormal = 19;
    static constexpr int monitorSpeedSlow = 199;
    static constexpr int activityIntervalMs = 1000;
    static constexpr int monitorIntervalMs = 25;

    DeviceTicks(const DeviceRoster &roster, ConnectionTracker &tracker, OperationRouter &router,
                QObject *parent = nullptr);
    ~DeviceTicks() override;

    // Starts both timers and runs each tick once at once.
    void start();
    void stop();

    bool monitorAllowed() const { return m_monitorAllowed; }
    bool askScanOne() const { return m_askScanOne; }
    bool askScanOneOpen() const { return m_askScanOneOpen; }
    void setMonitorAllowed(bool monitorAllowed);
    void setAskScanOne(bool askScanOne);
    void setAskScanOneOpen(bool askScanOneOpen);

    // The next activity tick reads the current device's configuration.
    void scheduleReadOnActivity() { m_readOnActivity = true; }
    // What the next slave scan probes; an adapter whose every address may not
    // be probed (openAllowed false) gets the project's addresses only.
    ScanInstruction scanInstruction(bool openAllowed = true) const;

    void activity();
    void monitor();

signals:
    void monitorAllowedChanged(bool monitorAllowed);
    void askScanOneChanged(bool askScanOne);
    void askScanOneOpenChanged(bool askScanOneOpen);

private:
    const DeviceRoster &m_roster;
    ConnectionTracker &m_tracker;
    OperationRouter &m_router;
    bool m_monitorAllowed = false;
    bool m_askScanOne = false;
    bool m_askScanOneOpen = false;
    bool m_readOnActivity = false;
    QMap<int, QString> m_monitorSpeeds;
    quint32 m_monitorTick = 0;
    std::unique_ptr<QTimer> m_activityTimer;
    std::unique_ptr<QTimer> m_monitorTimer;
};
