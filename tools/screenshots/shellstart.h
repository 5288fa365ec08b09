#pragma once

// The main window started as the program starts it, for the screenshot tool
// and the main-window test, over an empty project (the window opens on the
// welcome view) and with the preferences a bench wants; and the helpers both
// drive it with.

#include "devices/devicemgr.h"
#include "i2c/i2csvc.h"
#include "services/settings.h"
#include "view/startup.h"
#include "view/viewtop.h"

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>
#include <QQuickItem>
#include <functional>

namespace ShellStart {

inline QString chipDat()
{
    return QStringLiteral(":0x70:bvr60600");
}

// The program's start-up, but over an empty project, never a reopened one.
inline Startup::Options options(const QString &sourceDir)
{
    Startup::Options options;
    options.defaultDevice.clear();
    options.openLastProject = false;
    options.sourceDir = sourceDir;
    return options;
}

// What a user could have stored: the compiled-in documents, no test pane, a
// window large enough for every view. Call Startup::nameApplication() first,
// so that they land in the program's store.
inline void storePreferences()
{
    Settings *settings = Settings::getInstance();
    settings->setReloadableOnStartup(false);
    settings->setTestPane(false);
    settings->setSize(QSize(1280, 800));
}

// Runs the event loop until `done` holds or the time is up.
inline bool waitFor(const std::function<bool()> &done, int timeoutMs = 10000)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!done() && !deadline.hasExpired()) {
        QEventLoop loop;
        QTimer::singleShot(10, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return done();
}

// Switches the simulated chip at the current device's address on or off, as
// the development menu does, and waits until the manager has seen it.
inline bool switchChip(bool on, int timeoutMs = 10000)
{
    DeviceMgr *deviceMgr = DeviceMgr::getInstance();
    emit I2cSvc::getInstance()->doVirtualSlave(QString(), deviceMgr->currentDat(), on);
    return waitFor([deviceMgr, on] { return deviceMgr->currentConnected() == on; }, timeoutMs);
}

// The first item below `root` with this object name.
inline QQuickItem *item(const char *name)
{
    QQuickItem *root = ViewTop::getInstance()->rootObject();
    if (!root)
        return nullptr;
    if (root->objectName() == QLatin1String(name))
        return root;
    return root->findChild<QQuickItem *>(QString::fromLatin1(name));
}

} // namespace ShellStart
