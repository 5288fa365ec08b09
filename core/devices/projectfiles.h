#pragma once

#include "panelcore_global.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>

class ConnectionTracker;
class DeviceRoster;
class OperationRouter;
class Production;
class Project;
class ProjectMembership;
class StateShuttle;

// Opens and saves project files and saves production files.
//
// It carries the roster's saved states to and from the files, and tells the
// user how each operation went with a notification.
//
// Owned by DeviceMgr; owns the Project and the Production that read and
// write the files. Rebuilds the project through the membership, writes an
// opened configuration to connected chips through the router, and touches
// no device or model itself. Main thread only.
class PANELCORE_EXPORT ProjectFiles : public QObject
{
    Q_OBJECT

public:
    ProjectFiles(DeviceRoster &roster, ConnectionTracker &tracker, StateShuttle &shuttle,
                 ProjectMembership &membership, OperationRouter &router, QObject *parent = nullptr);
    ~ProjectFiles() override;

    // Both take ownership and delete the object they replace.
    void setProject(Project *project);
    void setProduction(Production *production);

    // Every result is an error text, empty on success.
    QString openProject(const QString &filename);
    QString saveProject(const QString &filename);
    // deviceCount is the manager's: with none there is nothing to produce.
    QString saveProduction(const QString &filename, int deviceCount);
    // The last project, when the settings ask for it; the outcome only shows
    // as the notification.
    void openLastProject();
    // The DATs of another project file; empty on any error.
    QStringList namesOfDevicesInProject(const QString &dat, const QString &filename);
    QString loadDeviceInProject(const QString &dat, const QString &filename, const QString &fromDeviceName);

signals:
    // The device list the user interface shows has changed.
    void projectDevicesChanged();

private:
    // The file's sections, or why they cannot be had.
    QString readSections(const QString &filename, QMap<QString, QVariantMap> &sections) const;
    QString openProjectFile(const QString &filename);
    void notifyOutcome(const QString &err, const QString &succeeded, const QString &failed,
                       const QString &filename) const;

    DeviceRoster &m_roster;
    ConnectionTracker &m_tracker;
    StateShuttle &m_shuttle;
    ProjectMembership &m_membership;
    OperationRouter &m_router;
    std::unique_ptr<Production> m_production;
    std::unique_ptr<Project> m_project;
};
