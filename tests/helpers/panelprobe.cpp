// A second process for tests whose fault lives across a process boundary:
// the real Settings and Project classes, in a process of their own.
//
//   panelprobe settings [property=value ...]
//       Sets the given Settings properties (a size as WIDTHxHEIGHT), then
//       prints every property as property=value, one a line, and ends.
//   panelprobe save FILE ENTRIES
//       Saves a project of one device with ENTRIES entries to FILE again and
//       again, alternately with the values "a" and "b", until it is killed.

#include "devices/project.h"
#include "services/settings.h"

#include <QCoreApplication>
#include <QMetaProperty>
#include <QSize>

#include <cstdio>

namespace {

QString shown(const QVariant &value)
{
    if (value.typeId() == QMetaType::QSize)
        return QStringLiteral("%1x%2").arg(value.toSize().width()).arg(value.toSize().height());
    return value.toString();
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
    const QMetaObject *meta = settings->metaObject();
    for (int i = meta->propertyOffset(); i < meta->propertyCount(); ++i) {
        const QMetaProperty property = meta->property(i);
        std::printf("%s=%s\n", property.name(), qPrintable(shown(property.read(settings))));
    }
    return 0;
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
    QCoreApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("orvane"));
    QCoreApplication::setApplicationName(QStringLiteral("BVR60600"));
    QStringList args = QCoreApplication::arguments().mid(1);
    const QString command = args.isEmpty() ? QString() : args.takeFirst();
    if (command == QLatin1String("settings"))
        return settings(args);
    if (command == QLatin1String("save") && args.size() == 2)
        save(args.at(0), args.at(1).toInt());
    std::fprintf(stderr, "usage: panelprobe settings [property=value ...] | save FILE ENTRIES\n");
    return 2;
}
