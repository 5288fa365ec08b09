// A second process for tests whose fault lives across a process boundary:
// the real Settings and Project classes, in a process of their own.
//
//   panelprobe settings [property=value ...]
//       Sets the given Settings properties (a size as WIDTHxHEIGHT), then
//       prints every property as property=value, one a line, and ends.
//   panelprobe save FILE ENTRIES
//       Saves a project of one device with ENTRIES entries to FILE again and
//       again, alternately with the values "a" and "b", until it is killed.
//   panelprobe start window|headless
//       Starts as the program starts (the window offscreen, or the engine
//       alone under a core application), logs "panelprobe: started", and
//       once a last project would have been reopened prints what the start
//       left: project, current device, view, model, the manager's modes and
//       every Settings property, one a line; then ends.

#include "bvr60600/dmodel.h"
#include "devices/devicemgr.h"
#include "devices/project.h"
#include "models/modelmgr.h"
#include "services/settings.h"
#include "view/startup.h"
#include "view/viewtop.h"

#include <QApplication>
#include <QMetaProperty>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QSize>
#include <QTimer>

#include <memory>

#include <cstdio>

namespace {

QString shown(const QVariant &value)
{
    if (value.typeId() == QMetaType::QSize)
        return QStringLiteral("%1x%2").arg(value.toSize().width()).arg(value.toSize().height());
    return value.toString();
}

void printSettings()
{
    const Settings *settings = Settings::getInstance();
    const QMetaObject *meta = settings->metaObject();
    for (int i = meta->propertyOffset(); i < meta->propertyCount(); ++i) {
        const QMetaProperty property = meta->property(i);
        std::printf("%s=%s\n", property.name(), qPrintable(shown(property.read(settings))));
    }
}

int settings(const QStringList &assignments)
{
    Settings *settings = Settings::getInstance();
    for (const QString &assignment : assignments) {
        const QString name = assignment.section(QLatin1Char('='), 0, 0);
        const QString text = assignment.section(QLatin1Char('='), 1);
        QVariant value(text);
        if (name == QLatin1String("size"))
            value = QSize(text.section(QLatin1Char('x'), 0, 0).toInt(), text.section(QLatin1Char('x'), 1).toInt());
        if (!settings->setProperty(name.toLatin1().constData(), value)) {
            std::fprintf(stderr, "cannot set %s\n", qPrintable(assignment));
            return 2;
        }
    }
    printSettings();
    return 0;
}

// Where QML finds the chip model, through the view's own engine.
bool publishedToQml(const Bvr60600::DModel *model)
{
    QQmlComponent component(ViewTop::getInstance()->engine());
    component.setData("import QtQml\nimport orvane.gui.modelbvr60600\n"
                      "QtObject { property QtObject value: ObjModelBvr60600 }\n",
                      QUrl(QStringLiteral("qrc:/probe/model.qml")));
    const std::unique_ptr<QObject> object(component.create());
    return object && object->property("value").value<QObject *>() == model;
}

void printStart(const Startup &startup)
{
    const DeviceMgr *mgr = DeviceMgr::getInstance();
    const ViewTop *view = ViewTop::existingInstance();
    const Bvr60600::DModel *model = startup.model();
    QStringList where;
    if (ModelMgr::getInstance()->modelForType(model->myType()) == model)
        where << QStringLiteral("filed");
    if (view && publishedToQml(model))
        where << QStringLiteral("published");
    std::printf("project=%s\n", qPrintable(mgr->projectDats().join(QLatin1Char(','))));
    std::printf("current=%s\n", qPrintable(mgr->currentDat()));
    std::printf("view=%s\n", !view ? "none" : view->status() == QQuickView::Ready ? "ready" : "failed");
    std::printf("title=%s\n", view ? qPrintable(view->title()) : "");
    std::printf("model=%s\n", qPrintable(where.join(QLatin1Char(' '))));
    std::printf("monitorAllowed=%d\nonlineMode=%d\n", mgr->monitorAllowed(), mgr->onlineMode());
    printSettings();
    std::fflush(stdout);
}

int start(int argc, char **argv, bool window)
{
    const std::unique_ptr<QCoreApplication> app =
        window ? std::make_unique<QApplication>(argc, argv) : std::make_unique<QCoreApplication>(argc, argv);
    Startup::Options options;
    if (!window)
        options.shell = Startup::Shell::Headless;
    auto startup = std::make_unique<Startup>(options);
    if (window)
        startup->showWindow();
    qInfo("panelprobe: started");
    std::fflush(stdout);
    // Started after the manager's reopening timer, so it fires after it.
    QTimer::singleShot(DeviceMgr::openLastProjectDelayMs + 250, app.get(), [&startup] {
        printStart(*startup);
        QCoreApplication::quit();
    });
    const int code = QCoreApplication::exec();
    startup.reset();
    return code;
}

[[noreturn]] void save(const QString &filename, int entries)
{
    for (int round = 0;; ++round) {
        QVariantMap state;
        for (int i = 0; i < entries; ++i)
            state.insert(QStringLiteral("entry%1").arg(i), round % 2 ? QStringLiteral("b") : QStringLiteral("a"));
        QString err;
        if (!Project().write(filename, { { QStringLiteral(":0x70:bvr60600"), state } }, err)) {
            std::fprintf(stderr, "%s\n", qPrintable(err));
            std::exit(1);
        }
        std::printf("saved %d\n", round);
        std::fflush(stdout);
    }
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc == 3 && qstrcmp(argv[1], "start") == 0
        && (qstrcmp(argv[2], "window") == 0 || qstrcmp(argv[2], "headless") == 0))
        return start(argc, argv, qstrcmp(argv[2], "window") == 0);
    QCoreApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("orvane"));
    QCoreApplication::setApplicationName(QStringLiteral("BVR60600"));
    QStringList args = QCoreApplication::arguments().mid(1);
    const QString command = args.isEmpty() ? QString() : args.takeFirst();
    if (command == QLatin1String("settings"))
        return settings(args);
    if (command == QLatin1String("save") && args.size() == 2)
        save(args.at(0), args.at(1).toInt());
    std::fprintf(stderr, "usage: panelprobe settings [property=value ...] | save FILE ENTRIES | start window|headless\n");
    return 2;
}
