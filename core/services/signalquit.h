#pragma once

#include "panelcore_global.h"

#include <QObject>

class QSocketNotifier;

// Ends the event loop cleanly (exit code 0) on SIGINT or SIGTERM, so that a
// session logout, a service manager or a test harness can stop the program
// and every destructor (adapters closed, settings flushed) still runs.
class PANELCORE_EXPORT SignalQuit : public QObject
{
    Q_OBJECT

public:
    // Installs the handlers once per process; later calls do nothing.
    static void install();

private:
    explicit SignalQuit(QObject *parent);
    void onSignal();

    QSocketNotifier *m_notifier = nullptr;
};
