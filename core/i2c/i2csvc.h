#pragma once

#include "i2c/i2ctypes.h"
#include "i2c/i2cworker.h"

#include <QObject>
#include <QStringList>
#include <QThread>
#include <QVariant>

#include <atomic>
#include <functional>
#include <memory>

class FlowControl;

// The main-thread face of the I2C transport. Requests go out as signals
// queued to the worker's slots of the same name, in posting order; results
// come back as this object's signals on the main thread.
class PANELCORE_EXPORT I2cSvc : public QObject
{
    Q_OBJECT

public:
    static I2cSvc *getInstance();
    ~I2cSvc() override;

    static QList<unsigned char> get7BitLegalAddresses();
    static QStringList parseScriptLine(const QString &line);
    [[nodiscard]] static bool canParseScript(QString &err, const QStringList &lines);

    // Blocking calls for the main thread: they run a local event loop until
    // the answer carrying their own context text (their own name) arrives.
    void waitReadRegister(const QString &dat, const QByteArray &regAddr, signed char size,
                          QByteArray &regValue, QString &err);
    void waitWriteRegister(const QString &dat, const QByteArray &regAddr,
                           const QByteArray &regValue, QString &err);
    void waitPmbusCommands(const QString &dat, QList<PmbusCommand> &commands, QString &err);
    void waitRunScript(const QString &dat, const QStringList &lines, QString &err);
    // For QML: the error text for a failure or a write (empty on success),
    // the list of bytes read for a successful read.
    Q_INVOKABLE QVariant waitPmbusCommand(const QString &dat, const bool &isRead,
                                          const bool &isBlockProtocol, const QString &command,
                                          const QString &data);

    // May an open scan probe every address behind this adapter? Asks the
    // adapter registry, which guards itself against the worker thread.
    bool allowsOpenScan(const QString &dongleId) const;

    // Replaces the maker of simulated slaves; returns once the worker has it.
    void setVSlaveFactory(I2cWorker::VSlaveFactory factory);

signals:
    void doInitialize();
    void doDisconnect();
    void doScanForDongles();
    void doScanForSlaves(const QString &dongleId, const ScanInstruction &scanInstruction);
    void doVirtualSlave(const QString &ctx, const QString &dat, bool enable);
    void doReadBulk(const QString &ctx, const QString &dat, const QByteArray &regAddr,
                    const QByteArray &command, unsigned short size);
    void doWriteBulk(const QString &ctx, const QString &dat, const QByteArray &regAddr,
                     const QByteArray &command, const QByteArray &data, unsigned int packetDelay);
    void doReadRegister(const QString &ctx, const QString &dat, const QByteArray &regAddr,
                        signed char size);
    void doWriteRegister(const QString &ctx, const QString &dat, const QByteArray &regAddr,
                         const QByteArray &regValue);
    void doRunScript(const QString &ctx, const QString &dat, const QStringList &lines);
    void doPmbusCommands(const QString &ctx, const QString &dat,
                         const QList<PmbusCommand> &commands);

    void doneVirtualSlave(const QString &err, const QString &ctx, const QString &dat, bool enable);
    void doneReadBulk(const QString &err, const QString &ctx, const QString &dat,
                      const QByteArray &regAddr, const QByteArray &command, const QByteArray &data);
    void doneWriteBulk(const QString &err, const QString &ctx, const QString &dat,
                       const QByteArray &regAddr, const QByteArray &command, const QByteArray &data);
    void doneReadRegister(const QString &err, const QString &ctx, const QString &dat,
                          const QByteArray &regAddr, const QByteArray &regValue);
    void doneWriteRegister(const QString &err, const QString &ctx, const QString &dat,
                           const QByteArray &regAddr, const QByteArray &regValue);
    void doneRunScript(const QString &err, const QString &ctx, const QString &dat);
    void donePmbusCommands(const QString &err, const QString &ctx, const QString &dat,
                           const QList<PmbusCommand> &commands);
    void eventProgress(const QString &ctx, const QString &dat, int progressValue, int progressMax);
    void eventLogTxRx(const QString &dat, const QString &txrx, const QString &err);
    void eventDongleAdded(const QString &dongleId, const QString &dongleDescription);
    void eventDongleRemoved(const QString &dongleId, const QString &dongleDescription);
    void eventDefaultDongle(const QString &dongleId);
    void eventSlaveAdded(const QString &dat);
    void eventSlaveRemoved(const QString &dat);

private:
    I2cSvc();

    // Sends a request and runs a local event loop until the answer with the
    // context text own arrives; take receives that answer's arguments.
    template<typename Take, typename... Args>
    void waitFor(void (I2cSvc::*done)(const QString &, const QString &, Args...),
                 const QString &own, Take take, const std::function<void()> &send);

    static I2cSvc *m_instance;

    QThread m_thread;
    // The kernel's id of the worker thread, set by the thread as it starts;
    // 0 where there is none to wait for.
    std::atomic<int> m_threadId { 0 };
    I2cWorker *m_worker = nullptr;
    std::shared_ptr<FlowControl> m_flow;
};
