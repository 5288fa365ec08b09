// A stand-alone HTTP API server on the simulated chip, for clients that must
// run in a process of their own (curl in a CTest, the API benchmark).
//
//   apiserver <port>
//
// Port 0 picks a free one. Once the chip is connected and the service
// listens, the program writes "port <n>" as the only line on stdout; its log
// goes to stderr. A line "off" or "on" on stdin switches the service off or
// on. SIGTERM or SIGINT ends it with exit code 0. Settings and data folders
// live in a temporary folder, never the user's.

#include "devices/devicemgr.h"
#include "i2c/i2csvc.h"
#include "services/apisvc.h"
#include "services/settings.h"
#include "services/signalquit.h"
#include "view/startup.h"

#include <QCoreApplication>
#include <QDir>
#include <QSocketNotifier>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <memory>
#include <unistd.h>

namespace {

const QString chipDat = QStringLiteral(":0x70:bvr60600");

int freePort()
{
    QTcpServer probe;
    return probe.listen(QHostAddress::Any, 0) ? probe.serverPort() : 0;
}

// Switches the service on the commands read from stdin. At end of input the
// notifier is switched off, or it would fire for ever on a closed stdin.
void followStdin(QObject *parent)
{
    auto *notifier = new QSocketNotifier(STDIN_FILENO, QSocketNotifier::Read, parent);
    auto pending = std::make_shared<QByteArray>();
    QObject::connect(notifier, &QSocketNotifier::activated, notifier, [notifier, pending] {
        char chunk[256];
        const ssize_t got = ::read(STDIN_FILENO, chunk, sizeof chunk);
        if (got <= 0) {
            notifier->setEnabled(false);
            return;
        }
        pending->append(chunk, got);
        qsizetype end;
        while ((end = pending->indexOf('\n')) >= 0) {
            const QByteArray command = pending->left(end).trimmed();
            pending->remove(0, end + 1);
            if (command == "off" || command == "on")
                Settings::getInstance()->setApiServiceEnabled(command == "on");
            else if (!command.isEmpty())
                qWarning("apiserver: unknown command %s", command.constData());
        }
    });
}

} // namespace

int main(int argc, char **argv)
{
    QTemporaryDir home;
    if (!home.isValid()) {
        std::fprintf(stderr, "apiserver: cannot create a temporary folder\n");
        return 1;
    }
    for (const char *dir : { "config", "data", "cache" })
        QDir(home.path()).mkpath(QLatin1String(dir));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.filePath(QStringLiteral("config"))));
    qputenv("XDG_DATA_HOME", QFile::encodeName(home.filePath(QStringLiteral("data"))));
    qputenv("XDG_CACHE_HOME", QFile::encodeName(home.filePath(QStringLiteral("cache"))));

    QCoreApplication app(argc, argv);
    bool portGiven = false;
    int port = argc == 2 ? QByteArray(argv[1]).toInt(&portGiven) : 0;
    if (!portGiven || port < 0 || port > 65535) {
        std::fprintf(stderr, "usage: apiserver <port, 0 for a free one>\n");
        return 2;
    }
    if (port == 0)
        port = freePort();
    SignalQuit::install();

    // Scripts sent by clients must find the chip as they left it: no
    // configuration writes of the manager's own in between (and the start
    // keeps monitor reads off).
    Startup::Options options;
    options.shell = Startup::Shell::Headless;
    options.defaultDevice = chipDat;
    options.immediateMode = false;
    const Startup startup(options);
    Settings *settings = Settings::getInstance();
    DeviceMgr *mgr = DeviceMgr::getInstance();
    if (!mgr->projectDats().contains(chipDat)) {
        std::fprintf(stderr, "apiserver: %s did not join the project\n", qPrintable(chipDat));
        return 1;
    }
    emit I2cSvc::getInstance()->doVirtualSlave(QString(), chipDat, true);
    settings->setApiServicePort(port);
    ApiSvc::getInstance();

    // Clients are told the port only once the chip answers, so their first
    // script already reaches it.
    const auto serve = [settings, port, &app] {
        settings->setApiServiceEnabled(true);
        followStdin(&app);
        std::printf("port %d\n", port);
        std::fflush(stdout);
    };
    if (mgr->isConnected(chipDat)) {
        serve();
    } else {
        // Deleting the waiter ends the connection, so serving starts once.
        auto *waiter = new QObject(&app);
        QObject::connect(mgr, &DeviceMgr::eventDeviceConnected, waiter,
                         [waiter, serve](const QString &dat) {
                             if (dat != chipDat)
                                 return;
                             delete waiter;
                             serve();
                         });
        QTimer::singleShot(15000, &app, [mgr] {
            if (!mgr->isConnected(chipDat)) {
                std::fprintf(stderr, "apiserver: the simulated chip never connected\n");
                QCoreApplication::exit(1);
            }
        });
    }

    return app.exec();
}
