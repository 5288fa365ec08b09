#include "services/consolelog.h"
#include "services/logger.h"
#include "services/settings.h"
#include "services/signalquit.h"

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

    Logger::getInstance()->setLogEmit(true);
    QObject::connect(Logger::getInstance(),
                     SIGNAL(outputted(QtMsgType, const QMessageLogContext &, const QString &)),
                     ConsoleLog::getInstance(),
                     SLOT(to_cout(QtMsgType, const QMessageLogContext &, const QString &)));

    SignalQuit::install();
    return app.exec();
}
