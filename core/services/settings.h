#pragma once

#include "panelcore_global.h"

#include <QSettings>
#include <QSize>
#include <QString>
#include <QStringList>

#include <atomic>
#include <mutex>

// The user's preferences and remembered paths, persisted the moment they
// change. Settings is also the store itself: other services keep their own
// keys in it through value()/setValue().
class PANELCORE_EXPORT Settings : public QSettings
{
    Q_OBJECT
    Q_PROPERTY(QSize size READ size WRITE setSize NOTIFY sizeChanged)
    Q_PROPERTY(int apiServicePort READ apiServicePort WRITE setApiServicePort NOTIFY apiServicePortChanged)
    Q_PROPERTY(bool apiServiceEnabled READ apiServiceEnabled WRITE setApiServiceEnabled NOTIFY apiServiceEnabledChanged)
    Q_PROPERTY(bool collapsing READ collapsing WRITE setCollapsing NOTIFY collapsingChanged)
    Q_PROPERTY(bool docking READ docking WRITE setDocking NOTIFY dockingChanged)
    Q_PROPERTY(int i2cSpeed READ i2cSpeed WRITE setI2cSpeed NOTIFY i2cSpeedChanged)
    Q_PROPERTY(bool i2c8BitAddress READ i2c8BitAddress WRITE setI2c8BitAddress NOTIFY i2c8BitAddressChanged)
    Q_PROPERTY(bool immediateMode READ immediateMode WRITE setImmediateMode NOTIFY immediateModeChanged)
    Q_PROPERTY(bool commsDebugMode READ commsDebugMode WRITE setCommsDebugMode NOTIFY commsDebugModeChanged)
    Q_PROPERTY(bool logOnStartup READ logOnStartup WRITE setLogOnStartup NOTIFY logOnStartupChanged)
    Q_PROPERTY(QString lastProduction READ lastProduction WRITE setLastProduction NOTIFY lastProductionChanged)
    Q_PROPERTY(QString lastProject READ lastProject WRITE setLastProject NOTIFY lastProjectChanged)
    Q_PROPERTY(QString productionExtension READ productionExtension WRITE setProductionExtension NOTIFY productionExtensionChanged)
    Q_PROPERTY(QString projectExtension READ projectExtension WRITE setProjectExtension NOTIFY projectExtensionChanged)
    Q_PROPERTY(bool openLastProject READ openLastProject WRITE setOpenLastProject NOTIFY openLastProjectChanged)
    Q_PROPERTY(bool reloadableOnStartup READ reloadableOnStartup WRITE setReloadableOnStartup NOTIFY reloadableOnStartupChanged)
    Q_PROPERTY(bool scanOpen READ scanOpen WRITE setScanOpen NOTIFY scanOpenChanged)
    Q_PROPERTY(bool scanManual READ scanManual WRITE setScanManual NOTIFY scanManualChanged)
    Q_PROPERTY(bool testPane READ testPane WRITE setTestPane NOTIFY testPaneChanged)
    Q_PROPERTY(int viewLevel READ viewLevel WRITE setViewLevel NOTIFY viewLevelChanged)
    Q_PROPERTY(bool debugBuild READ debugBuild CONSTANT)
    Q_PROPERTY(bool debugScripts READ debugScripts WRITE setDebugScripts NOTIFY debugScriptsChanged)
    Q_PROPERTY(bool deepRead READ deepRead WRITE setDeepRead NOTIFY deepReadChanged)
    Q_PROPERTY(bool debugNoRules READ debugNoRules WRITE setDebugNoRules NOTIFY debugNoRulesChanged)
    Q_PROPERTY(QStringList i2cOpenScanBuses READ i2cOpenScanBuses WRITE setI2cOpenScanBuses NOTIFY i2cOpenScanBusesChanged)

public:
    static Settings *getInstance();
    ~Settings() override;

    QSize size() const { return m_size; }
    int apiServicePort() const { return m_apiServicePort; }
    bool apiServiceEnabled() const { return m_apiServiceEnabled; }
    bool collapsing() const { return m_collapsing; }
    bool docking() const { return m_docking; }
    // Read by the I2C worker thread while it opens adapters and scans.
    int i2cSpeed() const { return m_i2cSpeed.load(std::memory_order_relaxed); }
    bool i2c8BitAddress() const { return m_i2c8BitAddress; }
    bool immediateMode() const { return m_immediateMode; }
    // Read by the I2C worker thread as well.
    bool commsDebugMode() const { return m_commsDebugMode.load(std::memory_order_relaxed); }
    bool logOnStartup() const { return m_logOnStartup; }
    QString lastProduction() const { return m_lastProduction; }
    QString lastProject() const { return m_lastProject; }
    QString productionExtension() const { return m_productionExtension; }
    QString projectExtension() const { return m_projectExtension; }
    bool openLastProject() const { return m_openLastProject; }
    bool reloadableOnStartup() const { return m_reloadableOnStartup; }
    bool scanOpen() const { return m_scanOpen; }
    bool scanManual() const { return m_scanManual; }
    bool testPane() const { return m_testPane; }
    int viewLevel() const { return m_viewLevel; }
    bool debugBuild() const { return m_debugBuild; }
    bool debugScripts() const { return m_debugScripts; }
    bool deepRead() const { return m_deepRead; }
    bool debugNoRules() const { return m_debugNoRules; }
    // The kernel I2C buses ("i2c-1") whose every address an open scan may
    // probe. Read by the I2C worker thread as well.
    QStringList i2cOpenScanBuses() const;

    void setSize(const QSize &size);
    void setApiServicePort(int apiServicePort);
    void setApiServiceEnabled(bool apiServiceEnabled);
    void setCollapsing(bool collapsing);
    void setDocking(bool docking);
    void setI2cSpeed(int i2cSpeed);
    void setI2c8BitAddress(bool i2c8BitAddress);
    void setImmediateMode(bool immediateMode);
    void setCommsDebugMode(bool commsDebugMode);
    void setLogOnStartup(bool logOnStartup);
    void setLastProduction(const QString &lastProduction);
    void setLastProject(const QString &lastProject);
    void setProductionExtension(const QString &productionExtension);
    void setProjectExtension(const QString &projectExtension);
    void setOpenLastProject(bool openLastProject);
    void setReloadableOnStartup(bool reloadableOnStartup);
    void setScanOpen(bool scanOpen);
    void setScanManual(bool scanManual);
    void setTestPane(bool testPane);
    void setViewLevel(int viewLevel);
    void setDebugScripts(bool debugScripts);
    void setDeepRead(bool deepRead);
    void setDebugNoRules(bool debugNoRules);
    void setI2cOpenScanBuses(const QStringList &i2cOpenScanBuses);

    // Lets a developer reload QML from disk without restarting: in a
    // development build with reloadableOnStartup, asks the view to clear its
    // engine's component cache (eventClearComponentCache); otherwise nothing.
    Q_INVOKABLE void clearComponentCache();

signals:
    void sizeChanged(const QSize &size);
    void apiServicePortChanged(int apiServicePort);
    void apiServiceEnabledChanged(bool apiServiceEnabled);
    void collapsingChanged(bool collapsing);
    void dockingChanged(bool docking);
    void i2cSpeedChanged(int i2cSpeed);
    void i2c8BitAddressChanged(bool i2c8BitAddress);
    void immediateModeChanged(bool immediateMode);
    void commsDebugModeChanged(bool commsDebugMode);
    void logOnStartupChanged(bool logOnStartup);
    void lastProductionChanged(const QString &lastProduction);
    void lastProjectChanged(const QString &lastProject);
    void productionExtensionChanged(const QString &productionExtension);
    void projectExtensionChanged(const QString &projectExtension);
    void openLastProjectChanged(bool openLastProject);
    void reloadableOnStartupChanged(bool reloadableOnStartup);
    void scanOpenChanged(bool scanOpen);
    void scanManualChanged(bool scanManual);
    void testPaneChanged(bool testPane);
    void viewLevelChanged(int viewLevel);
    void debugScriptsChanged(bool debugScripts);
    void deepReadChanged(bool deepRead);
    void debugNoRulesChanged(bool debugNoRules);
    void i2cOpenScanBusesChanged(const QStringList &i2cOpenScanBuses);
    // The window connects its QML engine here; the settings know no window.
    // Delivered before clearComponentCache() returns, so the reload that
    // follows reads the documents from disk.
    void eventClearComponentCache();

private:
    Settings();

    static Settings *m_instance;

    QSize m_size{-1, -1};
    int m_apiServicePort = 0;
    bool m_apiServiceEnabled = false;
    bool m_collapsing = false;
    bool m_docking = false;
    std::atomic<int> m_i2cSpeed{0};
    bool m_i2c8BitAddress = false;
    bool m_immediateMode = false;
    std::atomic<bool> m_commsDebugMode{false};
    bool m_logOnStartup = false;
    QString m_lastProduction;
    QString m_lastProject;
    QString m_productionExtension;
    QString m_projectExtension;
    bool m_openLastProject = false;
    bool m_reloadableOnStartup = false;
    bool m_scanOpen = false;
    bool m_scanManual = false;
    bool m_testPane = false;
    int m_viewLevel = 0;
    const bool m_debugBuild;
    bool m_debugScripts = false;
    bool m_deepRead = false;
    bool m_debugNoRules = false;
    mutable std::mutex m_i2cOpenScanBusesLock;
    QStringList m_i2cOpenScanBuses;
};
