#pragma once

#include "panelcore_global.h"

#include <QMap>
#include <QObject>
#include <QString>
#include <QVariantMap>

#include <functional>

// A project file keeps the devices of a project and their saved states: an
// INI file with one section per device, named by the DAT's key form, and one
// entry per state key. The adapter id is not stored, so a device read back
// sits on the default adapter.
//
// Saving never leaves a half-written file: the content is staged in a
// private folder and then atomically replaces the old file, which stays
// intact on any failure. A staging folder left by a save that was killed is
// removed by the next save.
//
// Reading takes files from anywhere, so it is bounded: files larger than
// maxFileSize, devices with more than maxEntriesPerDevice entries and stored
// values whose data claims more than it holds are refused.
class PANELCORE_EXPORT Project : public QObject
{
    Q_OBJECT

public:
    // Which state entries a file keeps; production files keep only a few.
    using EntryFilter = std::function<bool(const QString &key)>;

    // Project files are a few kilobytes: a device's state is a dozen
    // entries, and a bus has at most 112 addresses. Far bigger files are not
    // ours; refusing them keeps opening any file well under a second.
    static constexpr qint64 maxFileSize = 256 * 1024;
    static constexpr int maxEntriesPerDevice = 1000;

    explicit Project(QObject *parent = nullptr);
    ~Project() override;

    // The file format shared with production files. Both return the error
    // text, empty on success. readSections() merges into sections only when
    // the whole file could be read; sections that do not name a device are
    // skipped with a warning. An empty filter keeps every entry.
    [[nodiscard]] static QString readSections(const QString &filename, const EntryFilter &keep,
                                              QMap<QString, QVariantMap> &sections);
    // The names of all the file's sections, device or not.
    [[nodiscard]] static QString readSectionNames(const QString &filename, QStringList &names);
    [[nodiscard]] static QString writeSections(const QString &filename, const EntryFilter &keep,
                                               const QMap<QString, QVariantMap> &sections);
    // Logs the outcome of a file operation, naming the file: the success
    // text as debug, the failure text as a warning. True when err is empty.
    static bool reportOutcome(const QString &err, const QString &succeeded, const QString &failed,
                              const QString &filename);

public slots:
    // Fills sections (DAT -> state) from the file, replacing the states of
    // DATs already present. False with err set on failure, sections unchanged.
    virtual bool read(const QString &filename, QMap<QString, QVariantMap> &sections, QString &err);
    // Replaces the file's content by sections. False with err set on failure,
    // the previous file unchanged.
    virtual bool write(const QString &filename, const QMap<QString, QVariantMap> &sections, QString &err);
};
