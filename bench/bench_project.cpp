// Cost of opening a project file as the window does it: DeviceMgr::openProject
// with its first device then made current (the model takes that device's
// state), done twice in a row, since a second open also replaces what the
// first left in the model. For each file it prints its size and entries, the
// time of Project::read alone, the slower of the two opens, the peak resident
// memory so far and the outcome. The files range from a realistic project to
// the worst the limits accept (Project::maxFileSize, maxEntriesPerDevice) and
// just beyond them, where opening must fail fast.
//
//   bench_project

#include "devices/devicemgr.h"
#include "devices/project.h"
#include "services/settings.h"
#include "utils/utils.h"
#include "view/startup.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>

namespace {

long peakKib()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

struct Layout
{
    const char *name;
    int adapters;      // sections per address, on adapters "", "a", "b", ...
    int addresses;     // from 0x08 on
    int entries;       // per section
    const char *value; // of every entry
    qint64 limit;      // no section beyond this size of file; 0 for none
};

QString sectionDat(int adapter, int address)
{
    const QString id = adapter == 0 ? QString() : QString(QLatin1Char(char('a' + adapter - 1)));
    return QStringLiteral("%1:0x%2:bvr60600").arg(id).arg(0x08 + address, 2, 16, QLatin1Char('0'));
}

QByteArray content(const Layout &layout, int &entries)
{
    QByteArray text;
    entries = 0;
    for (int adapter = 0; adapter < layout.adapters; ++adapter) {
        for (int address = 0; address < layout.addresses; ++address) {
            QByteArray section = '[' + Utils::datToKey(sectionDat(adapter, address)).toLatin1() + "]\nalias=Board\n";
            for (int i = 1; i < layout.entries; ++i)
                section += 'n' + QByteArray::number(i) + '=' + layout.value + '\n';
            if (layout.limit > 0 && text.size() + section.size() > layout.limit)
                return text;
            text += section;
            entries += layout.entries;
        }
    }
    return text;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("orvane"));
    QApplication::setApplicationName(QStringLiteral("bench_project"));
    // Never the user's store, and no last project reopened.
    const QTemporaryDir home;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, home.path());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, home.path());
    // The program's engine over an empty project, and quiet: no writes, no
    // scans over every address.
    Startup::Options options;
    options.shell = Startup::Shell::Headless;
    options.nameApplication = false;
    options.defaultDevice.clear();
    options.openLastProject = false;
    options.immediateMode = false;
    options.scanOpen = false;
    const Startup startup(options);
    DeviceMgr *mgr = DeviceMgr::getInstance();

    const Layout layouts[] = {
        { "realistic: 1 device", 1, 1, 12, "true", 0 },
        { "full bus: 112 devices", 1, 112, 12, "true", 0 },
        { "most entries a device may have", 1, 1, Project::maxEntriesPerDevice, "a note the user kept", 0 },
        { "size limit: 112 devices, short entries", 1, 112, 600, "1", Project::maxFileSize },
        { "size limit: 26 devices at each address", 26, 112, 12, "true", Project::maxFileSize },
        { "one entry too many", 1, 1, Project::maxEntriesPerDevice + 1, "x", 0 },
        { "4 MiB", 4, 112, 400, "a note the user kept", 0 },
    };

    std::printf("%-42s %9s %8s %9s %9s %9s  %s\n", "file", "bytes", "entries", "read ms", "open ms", "peak MiB",
                "result");
    for (const Layout &layout : layouts) {
        int entries = 0;
        const QByteArray text = content(layout, entries);
        const QString filename = home.filePath(QStringLiteral("bench.cfg"));
        QFile file(filename);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(text) != text.size())
            qFatal("cannot write %s", qPrintable(filename));
        file.close();

        QElapsedTimer clock;
        clock.start();
        QMap<QString, QVariantMap> sections;
        (void)Project::readSections(filename, {}, sections);
        const double readMs = double(clock.nsecsElapsed()) / 1e6;

        double openMs = 0;
        QString err;
        for (int round = 0; round < 2; ++round) {
            clock.restart();
            err = mgr->openProject(filename);
            if (err.isEmpty() && !mgr->projectDats().isEmpty())
                mgr->setCurrentDat(mgr->projectDats().constFirst());
            openMs = std::max(openMs, double(clock.nsecsElapsed()) / 1e6);
        }
        const QString result = err.isEmpty() ? QStringLiteral("opened, %1 devices").arg(mgr->projectDats().size())
                                             : QStringLiteral("refused: ") + err.section(QLatin1Char('/'), -1);
        std::printf("%-42s %9lld %8d %9.1f %9.1f %9.1f  %s\n", layout.name, qint64(text.size()), entries, readMs,
                    openMs, double(peakKib()) / 1024.0, qPrintable(result));
        std::fflush(stdout);
    }
    return 0;
}
