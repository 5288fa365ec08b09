// Screenshots of the main window and its windows with the simulated chip,
// in both styles, and the start-up figures.
//   screenshots [output folder]   writes the PNGs (default: ./screenshots)
//   screenshots --measure         prints the time to the first frame and
//                                 the resident memory after start
// Runs offscreen unless QT_QPA_PLATFORM says otherwise.
#include "shellstart.h"

#include "devices/devicemgr.h"
#include "services/brand.h"
#include "services/notificationsvc.h"
#include "services/settings.h"
#include "view/startup.h"
#include "view/viewtop.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QQuickWindow>
#include <QTemporaryDir>

#include <cstdio>

namespace {

QElapsedTimer g_sinceStart;
QString g_outDir;
int g_failures = 0;

void settle(int ms = 400)
{
    QDeadlineTimer deadline(ms);
    ShellStart::waitFor([&deadline] { return deadline.hasExpired(); }, ms + 100);
}

void save(QQuickWindow *window, const QString &name)
{
    settle();
    const QImage image = window->grabWindow();
    const QString path = QDir(g_outDir).filePath(name + QStringLiteral(".png"));
    if (image.isNull() || !image.save(path)) {
        std::fprintf(stderr, "failed: %s\n", qPrintable(path));
        ++g_failures;
        return;
    }
    std::printf("%s\n", qPrintable(path));
}

QQuickWindow *windowOf(const char *rootProperty)
{
    QObject *root = ViewTop::getInstance()->rootObject();
    return root ? qobject_cast<QQuickWindow *>(root->property(rootProperty).value<QObject *>()) : nullptr;
}

QQuickWindow *testPaneWindow(const char *property)
{
    QQuickItem *pane = ShellStart::item("testPane");
    return pane ? qobject_cast<QQuickWindow *>(pane->property(property).value<QObject *>()) : nullptr;
}

bool call(QObject *object, const char *method, const QVariant &arg = QVariant())
{
    if (!object)
        return false;
    QVariant result;
    return arg.isValid() ? QMetaObject::invokeMethod(object, method, Q_RETURN_ARG(QVariant, result), Q_ARG(QVariant, arg))
                         : QMetaObject::invokeMethod(object, method, Q_RETURN_ARG(QVariant, result));
}

long residentKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    }
    return -1;
}

int measure()
{
    Startup startup(ShellStart::options(QStringLiteral(PANEL_SOURCE_DIR)));
    ViewTop *view = ViewTop::getInstance();
    qint64 firstFrameMs = -1;
    QObject::connect(view, &QQuickWindow::frameSwapped, view, [&firstFrameMs] {
        if (firstFrameMs < 0)
            firstFrameMs = g_sinceStart.elapsed();
    });
    startup.showWindow();
    ShellStart::waitFor([&firstFrameMs] { return firstFrameMs >= 0; });
    const long afterFirstFrame = residentKiB();
    settle(2000);
    std::printf("first frame: %lld ms after main()\n", static_cast<long long>(firstFrameMs));
    std::printf("resident memory: %.1f MiB at the first frame, %.1f MiB 2 s later\n",
                afterFirstFrame / 1024.0, residentKiB() / 1024.0);
    delete ViewTop::getInstance();
    return firstFrameMs >= 0 ? 0 : 1;
}

void shootStyle(const QString &style)
{
    Brand::getInstance()->setStyle(style);
    const QString s = style.toLower();
    ViewTop *view = ViewTop::getInstance();
    QQuickItem *viewMain = ShellStart::item("viewMain");
    for (const char *page : {"control", "rawI2c", "registerMap"}) {
        call(viewMain, "selectPage", QString::fromLatin1(page));
        save(view, s + QStringLiteral("_tab_") + QString::fromLatin1(page));
    }
    // The bit editor of the control register, which has writable fields.
    QObject *registers = viewMain ? viewMain->property("registerView").value<QObject *>() : nullptr;
    if (registers) {
        call(registers, "refresh");
        settle(200);
        call(registers, "selectRegister", QStringLiteral("cr_control"));
        call(registers, "openEditor");
        save(view, s + QStringLiteral("_register_editor"));
        QObject *editor = registers->findChild<QObject *>(QStringLiteral("viewRegisterEdit"));
        if (editor)
            QMetaObject::invokeMethod(editor, "close");
    }
    call(viewMain, "selectPage", QStringLiteral("control"));

    // Notifications: the popup, then the tray.
    NotificationSvc::getInstance()->createNotification(QStringLiteral("Project saved to /tmp/bench.cfg"),
                                                       Notification::Information, QStringLiteral("DeviceMgr"));
    NotificationSvc::getInstance()->createNotification(QStringLiteral("Read configuration failed: no answer"),
                                                       Notification::Error, QStringLiteral("DeviceMgr"));
    save(view, s + QStringLiteral("_notification_popup"));
    QQuickItem *footer = ShellStart::item("footer");
    QObject *tray = footer ? footer->property("tray").value<QObject *>() : nullptr;
    QObject *popup = footer ? footer->property("popup").value<QObject *>() : nullptr;
    if (popup)
        QMetaObject::invokeMethod(popup, "close");
    if (tray) {
        QMetaObject::invokeMethod(tray, "open");
        save(view, s + QStringLiteral("_notification_tray"));
        QMetaObject::invokeMethod(tray, "close");
    }

    // The test pane and its windows.
    Settings::getInstance()->setTestPane(true);
    save(view, s + QStringLiteral("_test_pane"));
    for (const char *name : {"demoWindow", "summaryWindow", "iconsWindow"}) {
        if (QQuickWindow *window = testPaneWindow(name)) {
            window->show();
            save(window, s + QLatin1Char('_') + QString::fromLatin1(name));
            window->close();
        }
    }
    Settings::getInstance()->setTestPane(false);

    if (QQuickWindow *log = windowOf("commsLogWindow")) {
        log->show();
        // Some traffic for the log to show.
        DeviceMgr::getInstance()->doReadConfiguration();
        settle(800);
        save(log, s + QStringLiteral("_comms_log"));
        log->close();
    }
}

int shoot()
{
    QDir().mkpath(g_outDir);
    Startup startup(ShellStart::options(QStringLiteral(PANEL_SOURCE_DIR)));
    startup.showWindow();
    ViewTop *view = ViewTop::getInstance();
    ShellStart::waitFor([view] { return view->isExposed(); });
    for (const QString &style : {Brand::STYLE_DARK, Brand::STYLE_LIGHT}) {
        Brand::getInstance()->setStyle(style);
        save(view, style.toLower() + QStringLiteral("_welcome"));
    }
    // The welcome view's dialog puts the chip into the project.
    QQuickItem *welcome = ShellStart::item("welcomeView");
    QObject *dialog = welcome ? welcome->property("addDeviceDialog").value<QObject *>() : nullptr;
    if (dialog) {
        QMetaObject::invokeMethod(dialog, "open");
        save(view, QStringLiteral("light_add_device"));
        QMetaObject::invokeMethod(dialog, "addToProject");
    }
    save(view, QStringLiteral("light_device_disconnected"));
    if (!ShellStart::switchChip(true)) {
        std::fprintf(stderr, "the simulated chip did not connect\n");
        return 1;
    }
    // The adapter scan runs on the manager's activity tick.
    ShellStart::waitFor([] { return DeviceMgr::getInstance()->dongleCount() > 0; }, 5000);
    for (const QString &style : {Brand::STYLE_DARK, Brand::STYLE_LIGHT})
        shootStyle(style);
    ShellStart::switchChip(false);
    delete ViewTop::getInstance();
    return g_failures == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char **argv)
{
    g_sinceStart.start();
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // A settings store and data folders of our own: the user's stay untouched.
    QTemporaryDir home;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.path() + QStringLiteral("/config")));
    qputenv("XDG_DATA_HOME", QFile::encodeName(home.path() + QStringLiteral("/data")));
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(home.path()));
    QApplication app(argc, argv);
    Startup::nameApplication();
    Settings::getInstance()->setLogOnStartup(false);
    ShellStart::storePreferences();

    const QStringList args = QApplication::arguments().mid(1);
    if (args.contains(QStringLiteral("--measure")))
        return measure();
    g_outDir = args.value(0, QStringLiteral("screenshots"));
    return shoot();
}
