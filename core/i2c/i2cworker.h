#pragma once

#include "dongles/donglemgr.h"
#include "i2c/i2ctypes.h"
#include "i2c/ii2coperations.h"

#include <QElapsedTimer>
#include <QMap>
#include <QObject>
#include <QPointer>
#include <QStringList>

#include <functional>
#include <memory>

class FlowControl;
class VSlave;
namespace I2cScript {
struct ScriptLine;
}

// The one object that touches the bus. It lives in the I2C worker thread and
// is reached only through queued slot calls; every request ends with exactly
// one done... signal carrying its error text (empty on success).
class PANELCORE_EXPORT I2cWorker : public QObject, public II2cOperations
{
    Q_OBJECT

public:
    // Packets of a bulk transfer carry at most this many payload bytes, and
    // their index and count are one byte each.
    static constexpr int BulkPacketSize = 512;
    static constexpr int MaxBulkPackets = 255;

    // Makes the simulated slave for a DAT; may return null for a type that
    // has none. The caller owns the slave.
    using VSlaveFactory = std::function<VSlave *(const QString &dat)>;

    I2cWorker();
    ~I2cWorker() override;

    Dongles::DongleMgr &dongleMgr() { return m_dongleMgr; }

    // Set before the worker starts, or from its own thread.
    void setVSlaveFactory(VSlaveFactory factory) { m_vslaveFactory = std::move(factory); }
    // The factory every worker starts with. The bus knows no device family:
    // the device factory installs the families' simulated chips here when
    // the application object is made. Main thread, before any worker.
    static void setDefaultVSlaveFactory(VSlaveFactory factory);
    void setFlowControl(std::shared_ptr<FlowControl> flow) { m_flow = std::move(flow); }

    bool isVirtualSlave(const QString &dat) const { return m_vslaves.contains(dat); }

    // Real adapter path of the low-level operations.
    bool hwReadPacket(QString &err, const QString &dat, const QByteArray &regAddr,
                      QByteArray &data) override;
    bool hwWritePacket(QString &err, const QString &dat, const QByteArray &regAddr,
                       const QByteArray &command, const QByteArray &data) override;
    bool hwReadRegister(QString &err, const QString &dat, const QByteArray &regAddr,
                        QByteArray &regValue, unsigned char flags) override;
    bool hwWriteRegister(QString &err, const QString &dat, const QByteArray &regAddr,
                         const QByteArray &regValue, unsigned char flags) override;

    static QString errState(const QString &err);
    static bool hwIsSlaveRemoved(const QString &err);

public slots:
    void doInitialize();
    void doShutdown();
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

signals:
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
    void eventLogText(const QString &text, QtMsgType type = QtDebugMsg);
    void eventLogTxRx(const QString &dat, const QString &txrx, const QString &err);
    void eventDongleAdded(const QString &dongleId, const QString &dongleDescription);
    void eventDongleRemoved(const QString &dongleId, const QString &dongleDescription);
    // The adapter the empty id now names, announced just before the empty
    // id itself: two adapters of one kind share their description.
    void eventDefaultDongle(const QString &dongleId);
    void eventSlaveAdded(const QString &dat);
    void eventSlaveRemoved(const QString &dat);
    void eventProgress(const QString &ctx, const QString &dat, int progressValue, int progressMax);

protected:
    // The operations that serve dat: a simulated slave's or the worker's own.
    II2cOperations *getOperations(const QString &dat);

    void logTxRx(const QString &txrx, const QString &err, const QString &dat);
    void logText(const QString &text, const QString &err, QtMsgType type);
    // Whether logText would emit: lets hot paths skip building the text.
    bool wantsLog(const QString &err, QtMsgType type) const;

private:
    // The request bodies; each emits its completion and returns its error.
    QString readBulk(const QString &ctx, const QString &dat, const QByteArray &regAddr,
                     const QByteArray &command, unsigned short size);
    QString writeBulk(const QString &ctx, const QString &dat, const QByteArray &regAddr,
                      const QByteArray &command, const QByteArray &data, unsigned int packetDelay);
    QString readRegister(const QString &ctx, const QString &dat, const QByteArray &regAddr,
                         signed char size);
    QString writeRegister(const QString &ctx, const QString &dat, const QByteArray &regAddr,
                          const QByteArray &regValue);
    QString pmbusCommands(const QString &ctx, const QString &dat,
                          const QList<PmbusCommand> &commands);
    // Every completion passes here first: it may wait for the main thread.
    void beforeCompletion();
    // Sleeps in the worker thread; false when the program's ending cut it short.
    bool pause(unsigned int ms);

    QStringList vslaveDongles() const;
    bool probe(const QString &dat, const QString &type);

    // What became of one transfer: done; failed on a working adapter (a
    // slave that did not acknowledge); failed silently on an adapter that
    // cannot tell that from a loss, taken as disconnected; failed because
    // the adapter is gone, as it says with its reason.
    enum class Outcome { Done, Failed, Disconnected, Gone };

    Dongles::DonglePtr resolve(const QString &dat, QString &err, unsigned short &address) const;
    Outcome hwCheckCompleted(QString &err, const Dongles::DonglePtr &dongle, bool ok,
                             const char *operation);
    // The traffic line of a transfer; silent for a probe that found nothing.
    // An adapter gone is forgotten at once: the next request finds it
    // missing instead of waiting on it, and a rescan brings it back.
    void reportTransfer(const QString &txrx, const QString &err, const QString &dat,
                        const Dongles::DonglePtr &dongle, Outcome outcome);
    // Reports a script line that is not run, as failed with err; false for
    // a line that does not touch the bus.
    bool failLine(const QString &ctx, const QString &dat, const I2cScript::ScriptLine &line,
                  const QString &err);

    Dongles::DongleMgr m_dongleMgr;
    QMap<QString, QPointer<VSlave>> m_vslaves;
    VSlaveFactory m_vslaveFactory;
    std::shared_ptr<FlowControl> m_flow;
    QElapsedTimer m_scriptTimer;
    bool m_scanning = false;
    bool m_debugLogging = false;
};
