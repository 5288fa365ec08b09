#include "project.h"

#include "inireader.h"
#include "utils/utils.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QScopeGuard>
#include <QSettings>
#include <QSysInfo>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <signal.h>
#include <sys/types.h>
#endif

namespace {

const QString urlScheme = QStringLiteral("file:");
const QString stagedName = QStringLiteral("sections.ini");

bool isList(const QVariant &value)
{
    const int id = value.metaType().id();
    return id == QMetaType::QVariantList || id == QMetaType::QStringList;
}

// The INI notation writes lists as comma-separated text: their elements come
// back as texts, an empty list as an invalid value and a list of one text as
// that text. Wrapped in a list of one they take the store's binary variant
// notation instead and come back exactly as they were.
QVariant encodeValue(const QVariant &value)
{
    return isList(value) ? QVariant(QVariantList{value}) : value;
}

QVariant decodeValue(const QVariant &value)
{
    if (value.metaType().id() == QMetaType::QVariantList) {
        const QVariantList wrapper = value.toList();
        if (wrapper.size() == 1 && isList(wrapper.first()))
            return wrapper.first();
    }
    return value;
}

QString refusedUrl(const QString &filename)
{
    return QStringLiteral("%1 is a URL, not a local file name").arg(filename);
}

// The whole file, or an error text.
QString readContent(const QString &filename, QByteArray &content)
{
    const QFileInfo info(filename);
    if (!info.exists())
        return QStringLiteral("%1 does not exist").arg(filename);
    // Folders, pipes and devices would fail to parse, block or never end.
    if (!info.isFile())
        return QStringLiteral("%1 is not a regular file").arg(filename);
    if (info.size() > Project::maxFileSize)
        return QStringLiteral("%1 is too large (more than %2 bytes)").arg(filename).arg(Project::maxFileSize);
    QFile file(filename);
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("cannot open %1: %2").arg(filename, file.errorString());
    // The file may have grown since it was measured.
    content = file.read(Project::maxFileSize + 1);
    if (file.error() != QFileDevice::NoError)
        return QStringLiteral("cannot read %1: %2").arg(filename, file.errorString());
    if (content.size() > Project::maxFileSize)
        return QStringLiteral("%1 is too large (more than %2 bytes)").arg(filename).arg(Project::maxFileSize);
    // A text with NULs is not one people or the store write.
    if (content.contains('\0'))
        return QStringLiteral("%1 is not a text file").arg(filename);
    return {};
}

// The file's entries by section, and the names of entries outside any.
QString readGroups(const QString &filename, QMap<QString, QVariantMap> &groups, QStringList &outside)
{
    if (filename.startsWith(urlScheme))
        return refusedUrl(filename);
    QByteArray content;
    if (const QString err = readContent(filename, content); !err.isEmpty())
        return err;
    IniReader::Entries entries;
    if (const QString err = IniReader::read(content, entries); !err.isEmpty())
        return err;
    QVariantMap *group = nullptr;
    QString groupName;
    for (const auto &[key, value] : std::as_const(entries)) {
        const qsizetype slash = key.indexOf(QLatin1Char('/'));
        if (slash < 0) {
            outside << key;
            continue;
        }
        // Lines of one section come one after another.
        if (!group || QStringView(key).left(slash) != groupName) {
            groupName = key.left(slash);
            group = &groups[groupName];
        }
        group->insert(key.mid(slash + 1), value);
    }
    outside.removeDuplicates();
    outside.sort();
    return {};
}

// A save stages its file in a folder of the temporary folder named after
// its host and process, "panel-project-<host>-<pid>-<n>", so that any later
// save can tell the folder of a save that was killed: its process has ended.
QString stagingPrefixOfHost()
{
    return QStringLiteral("panel-project-%1-").arg(QSysInfo::machineHostName());
}

bool processHasEnded(qint64 pid)
{
#ifdef Q_OS_UNIX
    return ::kill(pid_t(pid), 0) == -1 && errno == ESRCH;
#else
    Q_UNUSED(pid)
    return false; // cannot tell here: keep the folder
#endif
}

void removeAbandonedStaging()
{
    const QDir temp(QDir::tempPath());
    const QString prefix = stagingPrefixOfHost();
    const QFileInfoList folders =
        temp.entryInfoList({prefix + QLatin1Char('*')}, QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden);
    for (const QFileInfo &folder : folders) {
        bool ok = false;
        const qint64 pid = folder.fileName().mid(prefix.size()).section(QLatin1Char('-'), 0, 0).toLongLong(&ok);
        if (ok && pid > 0 && processHasEnded(pid))
            QDir(folder.filePath()).removeRecursively();
    }
}

QString storeError(QSettings::Status status)
{
    switch (status) {
    case QSettings::NoError:
        return {};
    case QSettings::FormatError:
        return QStringLiteral("the file is not in INI format");
    case QSettings::AccessError:
        break;
    }
    return QStringLiteral("the settings store cannot access the file");
}

} // namespace

Project::Project(QObject *parent)
    : QObject(parent)
{
}

Project::~Project() = default;

bool Project::reportOutcome(const QString &err, const QString &succeeded, const QString &failed,
                            const QString &filename)
{
    if (!err.isEmpty()) {
        qWarning().noquote() << failed.arg(filename);
        return false;
    }
    qDebug().noquote() << succeeded.arg(filename);
    return true;
}

QString Project::readSections(const QString &filename, const EntryFilter &keep,
                              QMap<QString, QVariantMap> &sections)
{
    QMap<QString, QVariantMap> groups;
    QStringList outside;
    if (const QString err = readGroups(filename, groups, outside); !err.isEmpty())
        return err;
    if (!outside.isEmpty()) {
        qWarning().noquote() << QStringLiteral("%1: entries outside a device section are ignored: %2")
                                    .arg(filename, outside.join(QStringLiteral(", ")));
    }
    QMap<QString, QVariantMap> found;
    for (auto group = groups.cbegin(); group != groups.cend(); ++group) {
        const QString dat = Utils::datFromKey(group.key());
        // The device manager cannot make anything of a malformed DAT.
        if (!Utils::goodDat(dat)) {
            qWarning().noquote() << QStringLiteral("%1: section %2 does not name a device, skipped")
                                        .arg(filename, group.key());
            continue;
        }
        if (group.value().size() > maxEntriesPerDevice) {
            return QStringLiteral("section %1 holds %2 entries, more than the %3 a device may have")
                .arg(group.key())
                .arg(group.value().size())
                .arg(maxEntriesPerDevice);
        }
        QVariantMap state;
        for (auto entry = group.value().cbegin(); entry != group.value().cend(); ++entry) {
            if (!keep || keep(entry.key()))
                state.insert(entry.key(), decodeValue(entry.value()));
        }
        found.insert(dat, state);
    }
    for (auto it = found.cbegin(); it != found.cend(); ++it)
        sections.insert(it.key(), it.value());
    return {};
}

QString Project::readSectionNames(const QString &filename, QStringList &names)
{
    QMap<QString, QVariantMap> groups;
    QStringList outside;
    const QString err = readGroups(filename, groups, outside);
    names = groups.keys();
    return err;
}

QString Project::writeSections(const QString &filename, const EntryFilter &keep,
                               const QMap<QString, QVariantMap> &sections)
{
    if (filename.startsWith(urlScheme))
        return refusedUrl(filename);

    // The store writes a fresh file of its own: on the user's file it would
    // merge with whatever it finds there, create missing folders, and keep
    // reporting a format error of the old content after a good write.
    removeAbandonedStaging();
    static int serial = 0;
    const QString scratch = QDir(QDir::tempPath())
                                .filePath(stagingPrefixOfHost() + QString::number(QCoreApplication::applicationPid())
                                          + QLatin1Char('-') + QString::number(++serial));
    // A folder of this name is from an ended process that had our id.
    QDir(scratch).removeRecursively();
    if (!QDir().mkdir(scratch, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner))
        return QStringLiteral("cannot create the temporary folder %1").arg(scratch);
    const auto removeScratch = qScopeGuard([&scratch] { QDir(scratch).removeRecursively(); });
    const QString stagedPath = QDir(scratch).filePath(stagedName);
    {
        QSettings store(stagedPath, QSettings::IniFormat);
        for (auto section = sections.cbegin(); section != sections.cend(); ++section) {
            // A section that reading would skip is not worth writing.
            if (!Utils::goodDat(section.key())) {
                qWarning().noquote() << QStringLiteral("%1: %2 does not name a device, not saved")
                                            .arg(filename, section.key());
                continue;
            }
            store.beginGroup(Utils::datToKey(section.key()));
            const QVariantMap &state = section.value();
            for (auto entry = state.cbegin(); entry != state.cend(); ++entry) {
                // An empty key would land on the section name itself.
                if (entry.key().isEmpty()) {
                    qWarning().noquote() << QStringLiteral("%1: %2 has an entry without a name, not saved")
                                                .arg(filename, section.key());
                    continue;
                }
                if (!keep || keep(entry.key()))
                    store.setValue(entry.key(), encodeValue(entry.value()));
            }
            store.endGroup();
        }
        store.sync();
        if (const QString err = storeError(store.status()); !err.isEmpty())
            return QStringLiteral("cannot prepare the content of %1: %2").arg(filename, err);
    }

    // Nothing to write leaves no staged file: the target becomes empty.
    QByteArray content;
    if (QFile::exists(stagedPath)) {
        QFile staged(stagedPath);
        if (!staged.open(QIODevice::ReadOnly))
            return QStringLiteral("cannot read back %1: %2").arg(stagedPath, staged.errorString());
        content = staged.readAll();
    }

    // Written beside the target and renamed over it once complete, so a
    // failure or a crash leaves either the old or the new file, never a part.
    QSaveFile target(filename);
    if (!target.open(QIODevice::WriteOnly))
        return QStringLiteral("cannot write %1: %2").arg(filename, target.errorString());
    if (target.write(content) != content.size()) {
        const QString err = target.errorString();
        target.cancelWriting();
        return QStringLiteral("cannot write %1: %2").arg(filename, err);
    }
    if (!target.commit())
        return QStringLiteral("cannot write %1: %2").arg(filename, target.errorString());
    return {};
}

bool Project::read(const QString &filename, QMap<QString, QVariantMap> &sections, QString &err)
{
    err = readSections(filename, {}, sections);
    return reportOutcome(err, QStringLiteral("Project::read, successfully read from %1"),
                         QStringLiteral("Project::read, failed reading from %1"), filename);
}

bool Project::write(const QString &filename, const QMap<QString, QVariantMap> &sections, QString &err)
{
    err = writeSections(filename, {}, sections);
    return reportOutcome(err, QStringLiteral("Project::write, successfully wrote to %1"),
                         QStringLiteral("Project::write, failed writing to %1"), filename);
}
