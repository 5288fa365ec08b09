#pragma once

// Starts the main window as the program does, for the screenshot tool and
// the main-window test: the chip model published before the view exists, the
// start-up settings, the view shown from the compiled-in documents. The
// project starts empty, so the window opens on the welcome view.

#include "bvr60600/dmodel.h"
#include "devices/devicemgr.h"
#include "devices/project.h"
#include "i2c/i2csvc.h"
#include "models/modelmgr.h"
#include "services/brand.h"
#include "services/settings.h"
#include "view/viewtop.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>
#include <QQuickItem>
#include <functional>
#include <memory>

namespace ShellStart {

inline QString chipDat()
{
    return QStringLiteral(":0x70:bvr60600");
}

// The start-up settings and the view shown from the compiled-in documents;
// after the view was deleted, this starts a new one.
inline void showWindow(const QString &sourceDir)
{
    Settings *settings = Settings::getInstance();
    settings->setI2c8BitAddress(false);
    settings->setScanManual(false);
    settings->setScanOpen(true);
    settings->setImmediateMode(true);
    settings->setOpenLastProject(false);
    settings->setReloadableOnStartup(false);
    settings->setProjectExtension(QStringLiteral("cfg"));
    settings->setViewLevel(0);
    settings->setTestPane(false);
    settings->setSize(QSize(1280, 800));
    Brand::getInstance()->setStyle(Brand::STYLE_DARK);
    DeviceMgr *deviceMgr = DeviceMgr::getInstance();
    deviceMgr->setMonitorAllowed(false);
    deviceMgr->setOnlineMode(true);

    ViewTop::getInstance()->showTop(sourceDir);
}

// The chip model published and filed, and an empty project, before any
// document is loaded. The returned model must outlive every view.
inline std::unique_ptr<Bvr60600::DModel> fileModel()
{
    QCoreApplication::setApplicationVersion(QStringLiteral("1.00"));
    auto model = std::make_unique<Bvr60600::DModel>();
    DeviceMgr::getInstance()->setProject(new Project);
    ViewTop::publishSingleton("orvane.gui.modelbvr60600", "ObjModelBvr60600", model.get());
    ViewTop::getInstance();
    ModelMgr::getInstance()->insertModel(model->myType(), model.get());
    return model;
}

inline std::unique_ptr<Bvr60600::DModel> start(const QString &sourceDir)
{
    auto model = fileModel();
    showWindow(sourceDir);
    return model;
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
