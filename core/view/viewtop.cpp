#include "viewtop.h"

#include "devices/devicemgr.h"
#include "i2c/i2csvc.h"
#include "models/modelmgr.h"
#include "services/apisvc.h"
#include "services/brand.h"
#include "services/commslog.h"
#include "services/logger.h"
#include "services/notificationsvc.h"
#include "services/settings.h"
#include "utils/utils.h"
#include "view/registerfieldmodel.h"
#include "view/registermapmodel.h"

#include <QCoreApplication>
#include <QDir>
#include <QQmlContext>
#include <QQmlEngine>

ViewTop *ViewTop::m_instance = nullptr;

ViewTop *ViewTop::getInstance()
{
    if (!m_instance) {
        m_instance = new ViewTop;
        qAddPostRoutine([] { delete m_instance; });
    }
    return m_instance;
}

ViewTop::ViewTop()
    : QQuickView(static_cast<QWindow *>(nullptr))
{
    setResizeMode(QQuickView::SizeRootObjectToView);
    setMinimumSize(QSize(1024, 768));

    Settings *settings = Settings::getInstance();
    if (settings->logOnStartup())
        Logger::getInstance()->start(false, false);

    // Creating the services starts their work (the HTTP API when enabled,
    // the communication log file, ...), before any QML can reach them.
    ApiSvc::getInstance();
    Brand::getInstance();
    CommsLog::getInstance();
    DeviceMgr::getInstance();
    I2cSvc::getInstance();
    ModelMgr::getInstance();
    NotificationSvc::getInstance();
    Utils::getInstance();

    publishSingleton("orvane.gui.brand", "ObjBrand", Brand::getInstance());
    publishSingleton("orvane.gui.commslog", "ObjCommsLog", CommsLog::getInstance());
    publishSingleton("orvane.gui.devicemgr", "ObjDeviceMgr", DeviceMgr::getInstance());
    publishSingleton("orvane.gui.i2csvc", "ObjI2cSvc", I2cSvc::getInstance());
    publishSingleton("orvane.gui.logger", "ObjLogger", Logger::getInstance());
    publishSingleton("orvane.gui.modelmgr", "ObjModelMgr", ModelMgr::getInstance());
    publishSingleton("orvane.gui.notification", "ObjNotification", NotificationSvc::getInstance());
    publishSingleton("orvane.gui.settings", "ObjSettings", settings);
    publishSingleton("orvane.gui.utils", "ObjUtils", Utils::getInstance());

    // Notification levels by name (Notification.Information, .Error) for the
    // views that post or show them.
    qmlRegisterUncreatableMetaObject(Notification::staticMetaObject, "orvane.gui.notification", 1, 0,
                                     "Notification", QStringLiteral("Notification only names levels"));
    // The models behind the views, created by the views that show them.
    qmlRegisterType<RegisterMapModel>("applayout", 1, 0, "RegisterMapModel");
    qmlRegisterUncreatableType<RegisterFieldModel>("applayout", 1, 0, "RegisterFieldModel",
                                                   QStringLiteral("A RegisterMapModel owns its fields"));

    // The help menu opens documents relative to where the user started us.
    rootContext()->setContextProperty(QStringLiteral("applicationDirPath"), QDir::currentPath());

    connect(settings, &Settings::lastProjectChanged, this, &QWindow::setTitle);
    connect(settings, &Settings::eventClearComponentCache, engine(), &QQmlEngine::clearComponentCache);
    setTitle(settings->lastProject());

    connect(engine(), &QQmlEngine::quit, this, &QWindow::close);
}

ViewTop::~ViewTop()
{
    m_instance = nullptr;
    disconnect();
}

QUrl ViewTop::rootSource(const QString &path)
{
    const Settings *settings = Settings::getInstance();
    if (settings->debugBuild() && settings->reloadableOnStartup())
        return QUrl::fromLocalFile(path + QStringLiteral("/view/MainHotReload.qml"));
    return QUrl(QStringLiteral("qrc:/view/Main.qml"));
}

void ViewTop::showTop(const QString &path)
{
    const QUrl source = rootSource(path);
    if (source.isLocalFile()) {
        // Documents and modules come from the source tree so that an edit
        // shows on the next reload.
        engine()->addImportPath(path + QStringLiteral("/view"));
        engine()->addImportPath(path + QStringLiteral("/view/common_qml"));
    } else {
        engine()->addImportPath(QStringLiteral("qrc:/view"));
        engine()->addImportPath(QStringLiteral("qrc:/view/common_qml"));
    }
    setSource(source);
    show();
}
