#include "devices/deviceticks.h"

#include "devices/connectiontracker.h"
#include "devices/deviceroster.h"
#include "devices/operationrouter.h"
#include "i2c/i2csvc.h"
#include "models/model.h"
#include "models/modelmgr.h"
#include "models/rules.h"
#include "services/settings.h"
#include "utils/utils.h"

#include <QTimer>

DeviceTicks::DeviceTicks(const DeviceRoster &roster, ConnectionTracker &tracker, OperationRouter &router,
                         QObject *parent)
    : QObject(parent)
    , m_roster(roster)
    , m_tracker(tracker)
    , m_router(router)
    , m_monitorAllowed(!Settings::getInstance()->commsDebugMode())
    , m_activityTimer(std::make_unique<QTimer>())
    , m_monitorTimer(std::make_unique<QTimer>())
{
    m_monitorSpeeds.insert(monitorSpeedFast, QStringLiteral("fast"));
    m_monitorSpeeds.insert(monitorSpeedNormal, QStringLiteral("normal"));
    m_monitorSpeeds.insert(monitorSpeedSlow, QStringLiteral("slow"));
    connect(m_activityTimer.get(), &QTimer::timeout, this, &DeviceTicks::activity);
    connect(m_monitorTimer.get(), &QTimer::timeout, this, &DeviceTicks::monitor);
}

DeviceTicks::~DeviceTicks() = default;

void DeviceTicks::start()
{
    m_activityTimer->start(activityIntervalMs);
    activity();
    m_monitorTimer->start(monitorIntervalMs);
    monitor();
}

void DeviceTicks::stop()
{
    m_activityTimer->stop();
    m_monitorTimer->stop();
}

void DeviceTicks::setMonitorAllowed(bool monitorAllowed)
{
    assignProperty(this, m_monitorAllowed, monitorAllowed, &DeviceTicks::monitorAllowedChanged);
}

void DeviceTicks::setAskScanOne(bool askScanOne)
{
    assignProperty(this, m_askScanOne, askScanOne, &DeviceTicks::askScanOneChanged);
}

void DeviceTicks::setAskScanOneOpen(bool askScanOneOpen)
{
    assignProperty(this, m_askScanOneOpen, askScanOneOpen, &DeviceTicks::askScanOneOpenChanged);
}

void DeviceTicks::activity()
{
    I2cSvc *svc = I2cSvc::getInstance();
    if (!m_tracker.onlineMode()) {
        emit svc->doDisconnect();
        return;
    }
    emit svc->doScanForDongles();

    const QStringList dongleIds = m_tracker.dongleIds();
    if (!dongleIds.isEmpty()) {
        const ScanInstruction instruction = scanInstruction();
        if (!instruction.isEmpty()) {
            const ScanInstruction projectOnly = scanInstruction(false);
            for (const QString &dongleId : dongleIds) {
                const ScanInstruction &forBus =
                    svc->allowsOpenScan(dongleId) ? instruction : projectOnly;
                if (!forBus.isEmpty())
                    emit svc->doScanForSlaves(dongleId, forBus);
            }
            // One request, one scan; the user interface sees the flags it
            // set go back with the next change it makes.
            m_askScanOne = false;
            m_askScanOneOpen = false;
        }
    }

    Settings *settings = Settings::getInstance();
    const QPointer<Model> model = ModelMgr::getInstance()->currentModel();
    const QString currentDat = m_roster.currentDat();
    // "Ignore Rules" lets a model that fails validation be written. Until a
    // read has put the chip's values into the model, the model holds
    // defaults or a project's values, and a register read a moment ago
    // would be overwritten with them.
    const bool chipKnown = m_tracker.isConnected(currentDat) && m_tracker.readSinceConnected(currentDat);
    if (settings->immediateMode() && model && chipKnown
        && (settings->debugNoRules() || (model->rules() && model->rules()->doValidation() == 0)))
        m_router.doWriteConfiguration(currentDat, true);

    if (m_readOnActivity) {
        if (m_tracker.isConnected(m_roster.currentDat()))
            m_router.doReadConfiguration(m_roster.currentDat());
        m_readOnActivity = false;
    }
}

ScanInstruction DeviceTicks::scanInstruction(bool openAllowed) const
{
    const Settings *settings = Settings::getInstance();
    const bool scanNow = !settings->scanManual() || m_askScanOne;
    const bool open = m_askScanOneOpen || (settings->scanOpen() && scanNow);
    ScanInstruction instruction;
    if (open && openAllowed) {
        const QStringList types = ModelMgr::getInstance()->modelTypes();
        for (const QString &type : types)
            instruction.insert(type, {});
    } else if (scanNow || open) {
        const QStringList dats = m_roster.dats();
        for (const QString &dat : dats) {
            unsigned char address = 0;
            if (m_tracker.isConnected(dat, false) || !DeviceRoster::addressOf(dat, address))
                continue;
            instruction[Utils::datType(dat)].append(address);
        }
    }
    return instruction;
}

void DeviceTicks::monitor()
{
    if (!m_tracker.onlineMode() || !m_monitorAllowed)
        return;
    const QStringList dats = m_roster.dats();
    for (const QString &dat : dats) {
        if (!m_tracker.isConnected(dat, false))
            continue;
        for (auto it = m_monitorSpeeds.cbegin(); it != m_monitorSpeeds.cend(); ++it) {
            if (m_monitorTick % quint32(it.key()) == 0)
                m_router.doRunMonitor(dat, it.value());
        }
    }
    ++m_monitorTick;
}
