#include "devices/projectfiles.h"

#include "devices/connectiontracker.h"
#include "devices/deviceroster.h"
#include "devices/operationrouter.h"
#include "devices/production.h"
#include "devices/project.h"
#include "devices/projectmembership.h"
#include "devices/stateshuttle.h"
#include "services/notificationsvc.h"
#include "services/settings.h"
#include "utils/utils.h"

#include <QDebug>
#include <QFileInfo>

ProjectFiles::ProjectFiles(DeviceRoster &roster, ConnectionTracker &tracker, StateShuttle &shuttle,
                           ProjectMembership &membership, OperationRouter &router, QObject *parent)
    : QObject(parent)
    , m_roster(roster)
    , m_tracker(tracker)
    , m_shuttle(shuttle)
    , m_membership(membership)
    , m_router(router)
    , m_production(std::make_unique<Production>())
    , m_project(std::make_unique<Project>())
{
}

ProjectFiles::~ProjectFiles() = default;

void ProjectFiles::setProject(Project *project)
{
    if (m_project.get() != project)
        m_project.reset(project);
}

void ProjectFiles::setProduction(Production *production)
{
    if (m_production.get() != production)
        m_production.reset(production);
}

void ProjectFiles::notifyOutcome(const QString &err, const QString &succeeded, const QString &failed,
                                 const QString &filename) const
{
    const QString name = QFileInfo(filename).fileName();
    if (err.isEmpty())
        NotificationSvc::getInstance()->createNotification(succeeded.arg(name), Notification::Information, QString());
    else
        NotificationSvc::getInstance()->createNotification(failed.arg(name, err), Notification::Error, QString());
}

QString ProjectFiles::openProject(const QString &filename)
{
    const QString err = openProjectFile(filename);
    notifyOutcome(err, QStringLiteral("Opened project file %1"),
                  QStringLiteral("Failed to open project file %1 (error: %2)"), filename);
    return err;
}

QString ProjectFiles::readSections(const QString &filename, QMap<QString, QVariantMap> &sections) const
{
    if (!m_project)
        return QStringLiteral("project has not been initialized");
    QString err;
    if (!m_project->read(filename, sections, err))
        return err.isEmpty() ? QStringLiteral("cannot read %1").arg(filename) : err;
    return {};
}

QString ProjectFiles::openProjectFile(const QString &filename)
{
    QMap<QString, QVariantMap> sections;
    if (QString err = readSections(filename, sections); !err.isEmpty())
        return err;

    const QStringList dats = m_roster.dats();
    for (const QString &dat : dats) {
        if (!m_tracker.isConnected(dat, true))
            (void)m_membership.removeDevice(dat);
    }

    QStringList opened;
    QStringList skipped;
    for (auto it = sections.cbegin(); it != sections.cend(); ++it) {
        // A kept device on a named adapter is the file's adapter-less device.
        QString dat = it.key();
        if (!m_roster.contains(dat)) {
            const QString occupant = m_roster.datAt(dat);
            if (!occupant.isEmpty() && Utils::datType(occupant) == Utils::datType(dat))
                dat = occupant;
        }
        const QString deviceErr = m_roster.contains(dat) ? m_membership.editDevice(dat, dat, it.value())
                                                         : m_membership.addDevice(dat, it.value());
        if (deviceErr.isEmpty()) {
            opened << dat;
        } else {
            qWarning().noquote() << QStringLiteral("DevMgr_openProject, skipped %1 of %2: %3")
                                        .arg(it.key(), filename, deviceErr);
            skipped << QStringLiteral("%1 (%2)").arg(it.key(), deviceErr);
        }
    }
    if (!skipped.isEmpty()) {
        NotificationSvc::getInstance()->createNotification(
            QStringLiteral("Skipped devices of project file %1: %2")
                .arg(QFileInfo(filename).fileName(), skipped.join(QStringLiteral(", "))),
            Notification::Error, QString());
    }

    if (Settings::getInstance()->immediateMode()) {
        for (const QString &dat : std::as_const(opened)) {
            if (m_tracker.isConnected(dat, true))
                m_router.doWriteConfiguration(dat, false);
        }
    }
    Settings::getInstance()->setLastProject(filename);
    return {};
}

QString ProjectFiles::saveProject(const QString &filename)
{
    QString err;
    if (!m_project) {
        err = QStringLiteral("project has not been initialized");
    } else if (m_roster.size() > 0 && !m_shuttle.getModelState(m_roster.currentDat())) {
        err = QStringLiteral("failed to get current model state");
    } else if (!m_project->write(filename, m_roster.states(), err) && err.isEmpty()) {
        err = QStringLiteral("cannot write %1").arg(filename);
    }
    if (err.isEmpty())
        Settings::getInstance()->setLastProject(filename);
    notifyOutcome(err, QStringLiteral("Saved project file to %1"),
                  QStringLiteral("Failed saving project file to %1 (error: %2)"), filename);
    return err;
}

void ProjectFiles::openLastProject()
{
    const Settings *settings = Settings::getInstance();
    if (settings->openLastProject() && !settings->lastProject().isEmpty())
        (void)openProject(settings->lastProject());
}

QStringList ProjectFiles::namesOfDevicesInProject(const QString &dat, const QString &filename)
{
    if (!Utils::goodDat(dat) || !m_roster.contains(dat) || !m_project)
        return {};
    QMap<QString, QVariantMap> sections;
    QString err;
    if (!m_project->read(filename, sections, err))
        return {};
    return sections.keys();
}

QString ProjectFiles::loadDeviceInProject(const QString &dat, const QString &filename,
                                          const QString &fromDeviceName)
{
    if (!Utils::goodDat(dat))
        return QStringLiteral("Device %1 is incorrectly formatted").arg(dat);
    if (!m_roster.contains(dat))
        return QStringLiteral("Device %1 does not exist").arg(dat);
    QMap<QString, QVariantMap> sections;
    if (QString err = readSections(filename, sections); !err.isEmpty())
        return err;
    if (!sections.contains(fromDeviceName))
        return {};

    qDebug().noquote() << QStringLiteral("DevMgr_loadDeviceInProject, loading device %1 with filename %2 section %3")
                              .arg(dat, filename, fromDeviceName);
    m_shuttle.mergeIntoShownState(dat, StateShuttle::acceptedState(dat, sections.value(fromDeviceName)));
    if (Settings::getInstance()->immediateMode() && m_tracker.isConnected(dat))
        m_router.doWriteConfiguration(dat, false);
    emit projectDevicesChanged();
    return {};
}

QString ProjectFiles::saveProduction(const QString &filename, int deviceCount)
{
    QString err;
    if (!m_production)
        err = QStringLiteral("production has not been initialized");
    else if (deviceCount == 0)
        err = QStringLiteral("no devices present");
    else if (!m_production->write(filename, m_roster.states()))
        err = QStringLiteral("failed to write");
    if (err.isEmpty())
        Settings::getInstance()->setLastProduction(filename);
    notifyOutcome(err, QStringLiteral("Saved production file to %1"),
                  QStringLiteral("Failed saving production file to %1 (error: %2)"), filename);
    return err;
}
