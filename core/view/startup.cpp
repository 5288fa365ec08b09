#include "startup.h"

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

Startup::Startup(const Options &options)
    : m_options(options)
{
    const bool window = m_options.shell == Shell::Window;
    if (m_options.nameApplication)
        nameApplication();
    qputenv("QML_IMPORT_TRACE", "0");

    m_model = std::make_unique<Bvr60600::DModel>();
    DeviceMgr *deviceMgr = DeviceMgr::getInstance();
    deviceMgr->setProject(new Project);
    if (window) {
        // Known to QML before the view, which loads every document that uses it.
        ViewTop::publishSingleton("orvane.gui.modelbvr60600", "ObjModelBvr60600", m_model.get());
        ViewTop::getInstance();
    }
    ModelMgr::getInstance()->insertModel(m_model->myType(), m_model.get());

    forceSettings();

    // A headless program owns its standard output (panelctl prints its
    // results there).
    if (window) {
        Logger::getInstance()->setLogEmit(true);
        QObject::connect(Logger::getInstance(),
                         SIGNAL(outputted(QtMsgType, const QMessageLogContext &, const QString &)),
                         ConsoleLog::getInstance(),
                         SLOT(to_cout(QtMsgType, const QMessageLogContext &, const QString &)));
    }

    // The project always starts with the one supported chip; a last project
    // reopened later replaces it.
    if (!m_options.defaultDevice.isEmpty())
        (void)deviceMgr->addDeviceToProject(m_options.defaultDevice);
}

Startup::~Startup() = default;

void Startup::nameApplication()
{
    QCoreApplication::setOrganizationName(QStringLiteral("orvane"));
    QCoreApplication::setApplicationName(QStringLiteral("BVR60600"));
    QGuiApplication::setApplicationDisplayName(
        QStringLiteral("%1 - %2").arg(QStringLiteral("BVR60600"), QStringLiteral("1.00")));
    QCoreApplication::setApplicationVersion(QStringLiteral("1.00"));
}

void Startup::forceSettings()
{
    Settings *settings = Settings::getInstance();
    settings->setI2c8BitAddress(false);
    settings->setScanManual(false);
    settings->setScanOpen(m_options.scanOpen);
    settings->setImmediateMode(m_options.immediateMode);
    settings->setOpenLastProject(m_options.openLastProject);
    settings->setProjectExtension(QStringLiteral("cfg"));
    settings->setViewLevel(settings->debugBuild() ? 0 : 1);
    if (settings->viewLevel() != 0)
        settings->setTestPane(false);
    if (m_options.shell == Shell::Window)
        Brand::getInstance()->setStyle(Brand::STYLE_DARK);

    DeviceMgr *deviceMgr = DeviceMgr::getInstance();
    deviceMgr->setMonitorAllowed(false);
    deviceMgr->setOnlineMode(true);
}

void Startup::showWindow()
{
    if (m_options.shell != Shell::Window)
        qFatal("Startup: a headless start has no window to show");
    // Only the development hot-reload root is read from the source folder.
    ViewTop::getInstance()->showTop(m_options.sourceDir);
}

int Startup::run(int argc, char **argv, const QString &sourceDir)
{
    QApplication app(argc, argv);
    Options options;
    options.sourceDir = sourceDir;
    // Destroyed before the application object: the model goes first.
    Startup startup(options);
    startup.showWindow();
    SignalQuit::install();
    return QApplication::exec();
}
