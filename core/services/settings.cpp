#include "settings.h"

#include <QCoreApplication>
#include <QDebug>
#include <QFile>
#include <QHash>
#include <QSet>

#include <algorithm>
#include <functional>
#include <vector>

Settings *Settings::m_instance = nullptr;

namespace {

#ifdef PANEL_DEVELOPMENT_BUILD
constexpr bool developmentBuild = true;
#else
constexpr bool developmentBuild = false;
#endif

// The change-only rule: nothing is stored or emitted for an unchanged value.
template <typename T, typename Signal>
void assign(Settings *settings, T &member, const T &value, Signal changed)
{
    if (member == value)
        return;
    member = value;
    emit (settings->*changed)(value);
}

template <typename T, typename Signal>
void assign(Settings *settings, std::atomic<T> &member, T value, Signal changed)
{
    if (member.load(std::memory_order_relaxed) == value)
        return;
    member.store(value, std::memory_order_relaxed);
    emit (settings->*changed)(value);
}

// One persisted property: how it is read from the store, written back, and
// kept written whenever it changes.
struct StoredProperty
{
    std::function<void()> read;
    std::function<void()> write;
    std::function<void()> persistChanges;
};

template <typename T, typename Arg, typename Signal>
StoredProperty stored(Settings *s, const QString &key, const T &fallback,
                      T (Settings::*getter)() const, void (Settings::*setter)(Arg),
                      Signal changed)
{
    const auto write = [s, key, getter] { s->setValue(key, QVariant::fromValue((s->*getter)())); };
    return {
        [s, key, fallback, setter] { (s->*setter)(s->value(key, fallback).template value<T>()); },
        write,
        [s, changed, write] { QObject::connect(s, changed, s, write); },
    };
}

const QString generalGroup = QStringLiteral("general");

QString storePath(const QString &group, const QString &key)
{
    return group.isEmpty() ? key : group + QLatin1Char('/') + key;
}

// A key or section name as QSettings writes it: "%XX" for a byte, "\" for "/".
QString unescapedName(const QByteArray &name)
{
    QByteArray text = name;
    text.replace('\\', '/');
    return QString::fromUtf8(QByteArray::fromPercentEncoding(text));
}

// For every key of a section that reads as "general" in any spelling, the
// group QSettings files the key's last line under ("" for the top level):
// where its newest value is, as the file is read from top to bottom.
QHash<QString, QString> newestGeneralLines(const QString &fileName)
{
    QHash<QString, QString> newest;
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return newest;
    bool general = true; // lines before any section are top-level keys
    QString group;
    const QList<QByteArray> lines = file.readAll().split('\n');
    for (const QByteArray &raw : lines) {
        const QByteArray line = raw.trimmed();
        if (line.isEmpty() || line.startsWith(';'))
            continue;
        if (line.startsWith('[')) {
            const qsizetype end = line.indexOf(']');
            const QByteArray name = line.mid(1, end < 0 ? -1 : end - 1).trimmed();
            // [general] holds top-level keys, [%General] the group "General".
            if (name.compare("general", Qt::CaseInsensitive) == 0) {
                group.clear();
                general = true;
            } else if (name.compare("%general", Qt::CaseInsensitive) == 0) {
                group = QString::fromLatin1(name.mid(1));
                general = true;
            } else {
                group = unescapedName(name);
                general = group.compare(generalGroup, Qt::CaseInsensitive) == 0;
            }
            continue;
        }
        const qsizetype equals = line.indexOf('=');
        if (general && equals > 0)
            newest.insert(unescapedName(line.left(equals).trimmed()), group);
    }
    return newest;
}

// The INI files QSettings keeps on Linux cannot hold a group named
// "general" as such: it is written as the section [%General] and read back
// as the group "General", while a section [general] written by hand holds
// top-level keys. Whichever the file has, the newest value of each key is
// filed under "general" again and the others are removed, so that the file
// is written back with every key once.
void gatherGeneralGroup(QSettings &store)
{
    // Registry and property-list stores keep "general" as it is.
    const QSettings::Format format = store.format();
#if defined(Q_OS_WIN) || defined(Q_OS_DARWIN)
    if (format != QSettings::IniFormat)
        return;
#else
    if (format != QSettings::IniFormat && format != QSettings::NativeFormat)
        return;
#endif
    const QStringList groups = store.childGroups();
    QStringList sources; // where general keys may be, "" for the top level
    for (const QString &group : groups) {
        if (group != generalGroup && group.compare(generalGroup, Qt::CaseInsensitive) == 0)
            sources << group;
    }
    const QStringList topLevel = store.childKeys();
    if (sources.isEmpty() && topLevel.isEmpty())
        return;

    QSet<QString> keys(topLevel.cbegin(), topLevel.cend());
    for (const QString &group : std::as_const(sources)) {
        store.beginGroup(group);
        const QStringList inGroup = store.allKeys();
        keys.unite(QSet<QString>(inGroup.cbegin(), inGroup.cend()));
        store.endGroup();
    }
    // Without a line to go by: a hand-written [%general], what QSettings
    // wrote, other spellings, a hand-written [general].
    sources.sort();
    sources.prepend(generalGroup);
    sources << QString();

    const QHash<QString, QString> newest = newestGeneralLines(store.fileName());
    for (const QString &key : std::as_const(keys)) {
        // A top-level key named like a group cannot be removed on its own.
        if (topLevel.contains(key) && groups.contains(key))
            continue;
        QString from = newest.value(key, generalGroup);
        if (!sources.contains(from) || !store.contains(storePath(from, key))) {
            const auto holder = std::find_if(sources.cbegin(), sources.cend(), [&](const QString &group) {
                return store.contains(storePath(group, key));
            });
            from = holder == sources.cend() ? generalGroup : *holder;
        }
        const QVariant value = store.value(storePath(from, key));
        for (const QString &group : std::as_const(sources)) {
            if (group != generalGroup && (!group.isEmpty() || topLevel.contains(key)))
                store.remove(storePath(group, key));
        }
        store.setValue(storePath(generalGroup, key), value);
    }
    store.sync();
}

} // namespace

Settings *Settings::getInstance()
{
    if (!m_instance) {
        m_instance = new Settings;
        qAddPostRoutine([] { delete m_instance; });
    }
    return m_instance;
}

Settings::Settings()
    : m_debugBuild(developmentBuild)
{
    qDebug().noquote() << QStringLiteral("Settings are being read from %1").arg(fileName());
    gatherGeneralGroup(*this);

    // Reading order matters to anyone watching the change signals.
    const std::vector<StoredProperty> properties = {
        stored(this, QStringLiteral("general/apiServicePort"), 8888,
               &Settings::apiServicePort, &Settings::setApiServicePort, &Settings::apiServicePortChanged),
        stored(this, QStringLiteral("general/apiServiceEnabled"), false,
               &Settings::apiServiceEnabled, &Settings::setApiServiceEnabled, &Settings::apiServiceEnabledChanged),
        stored(this, QStringLiteral("general/collapsing"), false,
               &Settings::collapsing, &Settings::setCollapsing, &Settings::collapsingChanged),
        stored(this, QStringLiteral("general/docking"), false,
               &Settings::docking, &Settings::setDocking, &Settings::dockingChanged),
        stored(this, QStringLiteral("general/i2cSpeed"), 1000,
               &Settings::i2cSpeed, &Settings::setI2cSpeed, &Settings::i2cSpeedChanged),
        stored(this, QStringLiteral("general/i2c8BitAddress"), false,
               &Settings::i2c8BitAddress, &Settings::setI2c8BitAddress, &Settings::i2c8BitAddressChanged),
        stored(this, QStringLiteral("general/immediateMode"), false,
               &Settings::immediateMode, &Settings::setImmediateMode, &Settings::immediateModeChanged),
        stored(this, QStringLiteral("general/commsDebugMode"), false,
               &Settings::commsDebugMode, &Settings::setCommsDebugMode, &Settings::commsDebugModeChanged),
        stored(this, QStringLiteral("general/deepRead"), false,
               &Settings::deepRead, &Settings::setDeepRead, &Settings::deepReadChanged),
        stored(this, QStringLiteral("general/debugScripts"), false,
               &Settings::debugScripts, &Settings::setDebugScripts, &Settings::debugScriptsChanged),
        stored(this, QStringLiteral("general/logOnStartup"), true,
               &Settings::logOnStartup, &Settings::setLogOnStartup, &Settings::logOnStartupChanged),
        stored(this, QStringLiteral("general/lastProduction"), QString(),
               &Settings::lastProduction, &Settings::setLastProduction, &Settings::lastProductionChanged),
        stored(this, QStringLiteral("general/lastProject"), QString(),
               &Settings::lastProject, &Settings::setLastProject, &Settings::lastProjectChanged),
        stored(this, QStringLiteral("general/productionFileExtension"), QStringLiteral("prd"),
               &Settings::productionExtension, &Settings::setProductionExtension, &Settings::productionExtensionChanged),
        stored(this, QStringLiteral("general/projectFileExtension"), QStringLiteral("prj"),
               &Settings::projectExtension, &Settings::setProjectExtension, &Settings::projectExtensionChanged),
        stored(this, QStringLiteral("general/openLastProject"), true,
               &Settings::openLastProject, &Settings::setOpenLastProject, &Settings::openLastProjectChanged),
        stored(this, QStringLiteral("general/reloadableOnStartup"), false,
               &Settings::reloadableOnStartup, &Settings::setReloadableOnStartup, &Settings::reloadableOnStartupChanged),
        stored(this, QStringLiteral("general/scanOpen"), false,
               &Settings::scanOpen, &Settings::setScanOpen, &Settings::scanOpenChanged),
        stored(this, QStringLiteral("general/scanManual"), false,
               &Settings::scanManual, &Settings::setScanManual, &Settings::scanManualChanged),
        stored(this, QStringLiteral("general/testPane"), false,
               &Settings::testPane, &Settings::setTestPane, &Settings::testPaneChanged),
        stored(this, QStringLiteral("general/i2cOpenScanBuses"), QStringList(),
               &Settings::i2cOpenScanBuses, &Settings::setI2cOpenScanBuses, &Settings::i2cOpenScanBusesChanged),
        stored(this, QStringLiteral("general/windowSize"), QSize(1024, 768),
               &Settings::size, &Settings::setSize, &Settings::sizeChanged),
    };

    for (const StoredProperty &property : properties)
        property.read();
    // After the first run the store holds every key, so it can be edited by hand.
    for (const StoredProperty &property : properties)
        property.write();

    // The stored path stays, so switching the option back on restores it.
    if (!m_openLastProject)
        m_lastProject.clear();

    for (const StoredProperty &property : properties)
        property.persistChanges();
}

Settings::~Settings()
{
    qDebug().noquote() << QStringLiteral("Settings are being written to %1").arg(fileName());
    disconnect();
    m_instance = nullptr;
}

void Settings::clearComponentCache()
{
    if (!m_debugBuild || !m_reloadableOnStartup)
        return;
    // The reloaded documents must be read from disk again, not from the cache.
    emit eventClearComponentCache();
}

void Settings::setSize(const QSize &size) { assign(this, m_size, size, &Settings::sizeChanged); }
void Settings::setApiServicePort(int apiServicePort) { assign(this, m_apiServicePort, apiServicePort, &Settings::apiServicePortChanged); }
void Settings::setApiServiceEnabled(bool apiServiceEnabled) { assign(this, m_apiServiceEnabled, apiServiceEnabled, &Settings::apiServiceEnabledChanged); }
void Settings::setCollapsing(bool collapsing) { assign(this, m_collapsing, collapsing, &Settings::collapsingChanged); }
void Settings::setDocking(bool docking) { assign(this, m_docking, docking, &Settings::dockingChanged); }
void Settings::setI2cSpeed(int i2cSpeed) { assign(this, m_i2cSpeed, i2cSpeed, &Settings::i2cSpeedChanged); }
void Settings::setI2c8BitAddress(bool i2c8BitAddress) { assign(this, m_i2c8BitAddress, i2c8BitAddress, &Settings::i2c8BitAddressChanged); }
void Settings::setImmediateMode(bool immediateMode) { assign(this, m_immediateMode, immediateMode, &Settings::immediateModeChanged); }
void Settings::setCommsDebugMode(bool commsDebugMode) { assign(this, m_commsDebugMode, commsDebugMode, &Settings::commsDebugModeChanged); }
void Settings::setLogOnStartup(bool logOnStartup) { assign(this, m_logOnStartup, logOnStartup, &Settings::logOnStartupChanged); }
void Settings::setLastProduction(const QString &lastProduction) { assign(this, m_lastProduction, lastProduction, &Settings::lastProductionChanged); }
void Settings::setLastProject(const QString &lastProject) { assign(this, m_lastProject, lastProject, &Settings::lastProjectChanged); }
void Settings::setProductionExtension(const QString &productionExtension) { assign(this, m_productionExtension, productionExtension, &Settings::productionExtensionChanged); }
void Settings::setProjectExtension(const QString &projectExtension) { assign(this, m_projectExtension, projectExtension, &Settings::projectExtensionChanged); }
void Settings::setOpenLastProject(bool openLastProject) { assign(this, m_openLastProject, openLastProject, &Settings::openLastProjectChanged); }
void Settings::setReloadableOnStartup(bool reloadableOnStartup) { assign(this, m_reloadableOnStartup, reloadableOnStartup, &Settings::reloadableOnStartupChanged); }
void Settings::setScanOpen(bool scanOpen) { assign(this, m_scanOpen, scanOpen, &Settings::scanOpenChanged); }
void Settings::setScanManual(bool scanManual) { assign(this, m_scanManual, scanManual, &Settings::scanManualChanged); }
void Settings::setTestPane(bool testPane) { assign(this, m_testPane, testPane, &Settings::testPaneChanged); }
void Settings::setViewLevel(int viewLevel) { assign(this, m_viewLevel, viewLevel, &Settings::viewLevelChanged); }
void Settings::setDebugScripts(bool debugScripts) { assign(this, m_debugScripts, debugScripts, &Settings::debugScriptsChanged); }
void Settings::setDeepRead(bool deepRead) { assign(this, m_deepRead, deepRead, &Settings::deepReadChanged); }
void Settings::setDebugNoRules(bool debugNoRules) { assign(this, m_debugNoRules, debugNoRules, &Settings::debugNoRulesChanged); }

QStringList Settings::i2cOpenScanBuses() const
{
    std::lock_guard<std::mutex> locker(m_i2cOpenScanBusesLock);
    return m_i2cOpenScanBuses;
}

void Settings::setI2cOpenScanBuses(const QStringList &i2cOpenScanBuses)
{
    // The store gives a list written by hand as one text, spaces and all.
    QStringList buses;
    for (const QString &bus : i2cOpenScanBuses) {
        for (const QString &part : bus.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
            if (!part.trimmed().isEmpty() && !buses.contains(part.trimmed()))
                buses << part.trimmed();
        }
    }
    {
        std::lock_guard<std::mutex> locker(m_i2cOpenScanBusesLock);
        if (m_i2cOpenScanBuses == buses)
            return;
        m_i2cOpenScanBuses = buses;
    }
    emit i2cOpenScanBusesChanged(buses);
}
