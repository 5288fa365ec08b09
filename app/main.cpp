#include "bvr60600/dmodel.h"
#include "devices/devicemgr.h"
#include "devices/project.h"
#include "models/modelmgr.h"
#include "services/brand.h"
#include "services/consolelog.h"
#include "services/logger.h"
#include "services/settings.h"
#include "services/signalquit.h"
#include "view/viewtop.h"

#include <QApplication>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("orvane"));
    QApplication::setApplicationName(QStringLiteral("BVR60600"));
    QApplication::setApplicationDisplayName(
        QStringLiteral("%1 - %2").arg(QStringLiteral("BVR60600"), QStringLiteral("1.00")));
    QApplication::setApplicationVersion(QStringLiteral("1.00"));
    qputenv("QML_IMPORT_TRACE", "0");

    auto *model = new Bvr60600::DModel;
    DeviceMgr *deviceMgr = DeviceMgr::getInstance();
    deviceMgr->setProject(new Project);
    // Known to QML before the view, which loads every document that uses it.
    ViewTop::publishSingleton("orvane.gui.modelbvr60600", "ObjModelBvr60600", model);
    ViewTop::getInstance();
    ModelMgr::getInstance()->insertModel(model->myType(), model);

    // Start-up values; each setter emits only on a real change.
    Settings *settings = Settings::getInstance();
    settings->setI2c8BitAddress(false);
    settings->setScanManual(false);
    settings->setScanOpen(true);
    settings->setImmediateMode(true);
    settings->setOpenLastProject(true);
    settings->setProjectExtension(QStringLiteral("cfg"));
    settings->setViewLevel(settings->debugBuild() ? 0 : 1);
    if (settings->viewLevel() != 0)
        settings->setTestPane(false);
    Brand::getInstance()->setStyle(Brand::STYLE_DARK);

    deviceMgr->setMonitorAllowed(false);
    deviceMgr->setOnlineMode(true);

    Logger::getInstance()->setLogEmit(true);
    QObject::connect(Logger::getInstance(),
                     SIGNAL(outputted(QtMsgType, const QMessageLogContext &, const QString &)),
                     ConsoleLog::getInstance(),
                     SLOT(to_cout(QtMsgType, const QMessageLogContext &, const QString &)));

    // The project always starts with the one supported chip.
    (void)deviceMgr->addDeviceToProject(QStringLiteral(":0x70:bvr60600"));

    // Only the development hot-reload root is read from this source folder.
    ViewTop::getInstance()->showTop(QStringLiteral(PANEL_GUI_SOURCE_DIR));
    SignalQuit::install();
    const int code = app.exec();
    delete model;
    return code;
}
