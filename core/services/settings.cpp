#include "settings.h"

#include "view/viewtop.h"

#include <QCoreApplication>
#include <QDebug>
#include <QQmlEngine>

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
    if (ViewTop *view = ViewTop::existingInstance())
        view->engine()->clearComponentCache();
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
