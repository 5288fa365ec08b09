#include "i2c/i2cworker.h"

#include "dongles/donglescanner.h"
#include "dongles/ft4222dongle.h"
#if defined(Q_OS_LINUX)
#include "dongles/i2cdevdongle.h"
#endif
#include "dongles/picpoddongle.h"
#include "dongles/sub20dongle.h"
#include "i2c/flowcontrol.h"
#include "i2c/vslave.h"
#include "services/settings.h"
#include "utils/utils.h"

#include <QThread>

using Dongles::DonglePtr;

namespace {

QString hexText(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toHex());
}

// Answers for a DAT whose simulated slave has been destroyed behind the
// table's back: every transfer fails with a clear text.
class MissingSlave final : public II2cOperations
{
public:
    bool hwReadPacket(QString &err, const QString &dat, const QByteArray &, QByteArray &) override
    {
        return fail(err, dat);
    }
    bool hwWritePacket(QString &err, const QString &dat, const QByteArray &, const QByteArray &,
                       const QByteArray &) override
    {
        return fail(err, dat);
    }
    bool hwReadRegister(QString &err, const QString &dat, const QByteArray &, QByteArray &,
                        unsigned char) override
    {
        return fail(err, dat);
    }
    bool hwWriteRegister(QString &err, const QString &dat, const QByteArray &,
                         const QByteArray &, unsigned char) override
    {
        return fail(err, dat);
    }

private:
    static bool fail(QString &err, const QString &dat)
    {
        err += QStringLiteral("Virtual slave %1 no longer exists").arg(dat);
        return false;
    }
};

I2cWorker::VSlaveFactory &defaultVSlaveFactory()
{
    static I2cWorker::VSlaveFactory factory;
    return factory;
}

} // namespace

I2cWorker::I2cWorker()
    : QObject(nullptr)
    , m_dongleMgr(true)
{
    I2cTypes::registerMetaTypes();
    m_scriptTimer.start();
    m_debugLogging = Settings::getInstance()->commsDebugMode();
    // Scanned in this order: the first adapter found becomes the default.
    m_dongleMgr.registerScanFn(Dongles::DongleScanner<Dongles::Ft4222Dongle>());
    m_dongleMgr.registerScanFn(Dongles::DongleScanner<Dongles::Sub20Dongle>());
    m_dongleMgr.registerScanFn(Dongles::DongleScanner<Dongles::PicPodDongle>());
#if defined(Q_OS_LINUX)
    m_dongleMgr.registerScanFn(Dongles::DongleScanner<Dongles::I2cDevDongle>());
#endif
    m_vslaveFactory = defaultVSlaveFactory();
}

void I2cWorker::setDefaultVSlaveFactory(VSlaveFactory factory)
{
    defaultVSlaveFactory() = std::move(factory);
}

I2cWorker::~I2cWorker()
{
    doShutdown();
    Dongles::PicPodDongle::FreeContext();
    for (const QPointer<VSlave> &slave : std::as_const(m_vslaves))
        delete slave.data();
}

bool I2cWorker::pause(unsigned int ms)
{
    if (m_flow)
        return m_flow->pause(ms);
    QThread::msleep(ms);
    return true;
}

void I2cWorker::beforeCompletion()
{
    if (m_flow)
        m_flow->sent();
}

QString I2cWorker::errState(const QString &err)
{
    return err.isEmpty() ? QStringLiteral("OK") : QStringLiteral("FAIL");
}

bool I2cWorker::hwIsSlaveRemoved(const QString &err)
{
    return !err.isEmpty() && err.contains(QLatin1String("disconnected"));
}

II2cOperations *I2cWorker::getOperations(const QString &dat)
{
    const auto it = m_vslaves.constFind(dat);
    if (it == m_vslaves.cend())
        return this;
    if (it.value())
        return it.value().data();
    static MissingSlave missing;
    return &missing;
}

void I2cWorker::logTxRx(const QString &txrx, const QString &err, const QString &dat)
{
    emit eventLogTxRx(dat, txrx, err);
    if (hwIsSlaveRemoved(err))
        emit eventSlaveRemoved(dat);
}

bool I2cWorker::wantsLog(const QString &err, QtMsgType type) const
{
    return !err.isEmpty() || type != QtDebugMsg || m_debugLogging;
}

void I2cWorker::logText(const QString &text, const QString &err, QtMsgType type)
{
    if (!err.isEmpty()) {
        emit eventLogText(text + QLatin1String(" (") + err + QLatin1Char(')'), QtWarningMsg);
        return;
    }
    if (wantsLog(err, type))
        emit eventLogText(text, type);
}

DonglePtr I2cWorker::resolve(const QString &dat, QString &err, unsigned short &address) const
{
    const QStringList fields = Utils::exDat(dat);
    const unsigned int parsed = Utils::fromHexString(fields.value(1));
    address = parsed > 0xFFFF ? 0 : static_cast<unsigned short>(parsed);
    const DonglePtr dongle = m_dongleMgr.getDongle(fields.value(0), err);
    // Adapters that poll their status do so within the transfer: a scan
    // probing a hundred empty addresses must not wait long at each.
    if (dongle)
        dongle->setRetries(m_scanning ? 1 : 5);
    return dongle;
}

I2cWorker::Outcome I2cWorker::hwCheckCompleted(QString &err, const DonglePtr &dongle, bool ok,
                                               const char *operation)
{
    // The adapter's own text explains a failed transfer on a working
    // adapter, a slave that did not acknowledge for instance.
    if (!err.isEmpty())
        return Outcome::Failed;

    const bool disconnected = dongle->isDisconnected(err, ok);
    const bool explained = !err.isEmpty();
    if (explained)
        err = QStringLiteral("%1 failed with error %2").arg(QLatin1String(operation), err);
    else if (!ok)
        err = QStringLiteral("%1 did not complete").arg(QLatin1String(operation));
    if (!disconnected)
        return err.isEmpty() ? Outcome::Done : Outcome::Failed;
    err += QLatin1String(" [disconnected]");
    // An adapter that says why it is gone knows it; a silent failure of one
    // that cannot tell a NACK from a loss is only a guess.
    return explained ? Outcome::Gone : Outcome::Disconnected;
}

void I2cWorker::reportTransfer(const QString &txrx, const QString &err, const QString &dat,
                               const DonglePtr &dongle, Outcome outcome)
{
    // A probe that finds no slave is the normal answer of an empty address:
    // an open scan would otherwise log a hundred failures every second.
    if (m_scanning && outcome == Outcome::Failed)
        return;
    logTxRx(txrx, err, dat);
    if (outcome != Outcome::Gone)
        return;
    const QStringList ids = m_dongleMgr.removeDongle(dongle);
    dongle->close();
    for (const QString &id : ids) {
        emit eventDongleRemoved(id, dongle->descriptionText());
        logTxRx(QStringLiteral("Dongle %1 removed").arg(id), QString(), QString());
    }
}

bool I2cWorker::hwReadRegister(QString &err, const QString &dat, const QByteArray &regAddr,
                               QByteArray &regValue, unsigned char flags)
{
    unsigned short address = 0;
    const DonglePtr dongle = resolve(dat, err, address);
    if (!dongle)
        return false;

    const bool block = flags & 0x01;
    QByteArray buffer = regValue;
    if (block)
        buffer.prepend(char(regValue.size()));
    else
        buffer = Utils::reverseHexBA(buffer);
    buffer.fill(0);

    const bool ok = dongle->hwReadRegister(err, address, regAddr, regValue, buffer, flags);

    // Adapters move the least significant byte first. One-byte adapters hand
    // the value over directly; for all others it comes back from the buffer,
    // whatever its length.
    if (block)
        regValue = buffer.mid(1);
    else if (!dongle->deliversToRegValue())
        regValue = Utils::reverseHexBA(buffer);

    const Outcome outcome = hwCheckCompleted(err, dongle, ok, "readRegister");
    reportTransfer(QStringLiteral("%1 [%2] [%3]")
                       .arg(QStringLiteral("read_register"), hexText(regAddr), hexText(buffer)),
                   err, dat, dongle, outcome);
    return outcome == Outcome::Done;
}

bool I2cWorker::hwWriteRegister(QString &err, const QString &dat, const QByteArray &regAddr,
                                const QByteArray &regValue, unsigned char flags)
{
    unsigned short address = 0;
    const DonglePtr dongle = resolve(dat, err, address);
    if (!dongle)
        return false;

    QByteArray buffer;
    if (flags & 0x01)
        buffer = char(regValue.size()) + regValue;
    else
        buffer = Utils::reverseHexBA(regValue);

    const bool ok = dongle->hwWriteRegister(err, address, regAddr, regValue, buffer, flags);
    const Outcome outcome = hwCheckCompleted(err, dongle, ok, "writeRegister");
    reportTransfer(QStringLiteral("%1 %2 %3")
                       .arg(QStringLiteral("write_register"), hexText(regAddr), hexText(buffer)),
                   err, dat, dongle, outcome);
    return outcome == Outcome::Done;
}

bool I2cWorker::hwReadPacket(QString &err, const QString &dat, const QByteArray &regAddr,
                             QByteArray &data)
{
    unsigned short address = 0;
    const DonglePtr dongle = resolve(dat, err, address);
    if (!dongle)
        return false;

    const bool ok = dongle->hwReadPacket(err, address, regAddr, data);
    const Outcome outcome = hwCheckCompleted(err, dongle, ok, "readPacket");
    reportTransfer(QStringLiteral("readPacket %1 %2 (packet size %3)")
                       .arg(Utils::formatHexBA(regAddr), Utils::formatHexBA(data.left(10)))
                       .arg(data.size()),
                   err, dat, dongle, outcome);
    return outcome == Outcome::Done;
}

bool I2cWorker::hwWritePacket(QString &err, const QString &dat, const QByteArray &regAddr,
                              const QByteArray &command, const QByteArray &data)
{
    unsigned short address = 0;
    const DonglePtr dongle = resolve(dat, err, address);
    if (!dongle)
        return false;

    const bool ok = dongle->hwWritePacket(err, address, regAddr, command, data);
    const Outcome outcome = hwCheckCompleted(err, dongle, ok, "writePacket");
    const QString tail = data.size() > 30 ? Utils::formatHexBA(data.right(10)) : QString();
    reportTransfer(QStringLiteral("writePacket %1 %2 ... %3 (packet size %4)")
                       .arg(Utils::formatHexBA(regAddr), Utils::formatHexBA(data.left(20)), tail)
                       .arg(data.size()),
                   err, dat, dongle, outcome);
    return outcome == Outcome::Done;
}

void I2cWorker::doInitialize()
{
    doShutdown();
    doScanForDongles();
}

void I2cWorker::doShutdown()
{
    if (m_dongleMgr.isEmpty())
        return;
    // Signals emitted here are queued to the main thread; nothing may call
    // back into the registry directly while its lock is held.
    m_dongleMgr.doShutdown([this](const QString &id, const DonglePtr &dongle) {
        emit eventDongleRemoved(id, dongle->descriptionText());
        logTxRx(QStringLiteral("Dongle %1 removed").arg(id), QString(), QString());
    });
    logText(QStringLiteral("I2cWorker_doShutdown: Closed all dongles"), QString(), QtCriticalMsg);
}

void I2cWorker::doDisconnect()
{
    doShutdown();
}

void I2cWorker::doScanForDongles()
{
    Dongles::DongleMap added;
    Dongles::DongleMap removed;
    m_dongleMgr.doScanForDongles(added, removed, vslaveDongles());

    for (auto it = removed.cbegin(); it != removed.cend(); ++it) {
        emit eventDongleRemoved(it.key(), it.value()->descriptionText());
        logTxRx(QStringLiteral("Dongle %1 removed").arg(it.key()), QString(), QString());
    }
    const int speed = Settings::getInstance()->i2cSpeed();
    for (auto it = added.cbegin(); it != added.cend(); ++it) {
        if (it.key().isEmpty())
            emit eventDefaultDongle(it.value()->idText());
        emit eventDongleAdded(it.key(), it.value()->descriptionText());
        logTxRx(QStringLiteral("Dongle %1 added, i2c speed %2 kbits/s")
                    .arg(it.value()->idText())
                    .arg(speed),
                QString(), QString());
    }
}

void I2cWorker::doReadRegister(const QString &ctx, const QString &dat, const QByteArray &regAddr,
                               signed char size)
{
    readRegister(ctx, dat, regAddr, size);
}

void I2cWorker::doWriteRegister(const QString &ctx, const QString &dat, const QByteArray &regAddr,
                                const QByteArray &regValue)
{
    writeRegister(ctx, dat, regAddr, regValue);
}

void I2cWorker::doReadBulk(const QString &ctx, const QString &dat, const QByteArray &regAddr,
                           const QByteArray &command, unsigned short size)
{
    readBulk(ctx, dat, regAddr, command, size);
}

void I2cWorker::doWriteBulk(const QString &ctx, const QString &dat, const QByteArray &regAddr,
                            const QByteArray &command, const QByteArray &data,
                            unsigned int packetDelay)
{
    writeBulk(ctx, dat, regAddr, command, data, packetDelay);
}

void I2cWorker::doPmbusCommands(const QString &ctx, const QString &dat,
                                const QList<PmbusCommand> &commands)
{
    pmbusCommands(ctx, dat, commands);
}

QString I2cWorker::readRegister(const QString &ctx, const QString &dat, const QByteArray &regAddr,
                                signed char size)
{
    QString err;
    QByteArray regValue(qMax(0, int(size)), '\0');
    getOperations(dat)->hwReadRegister(err, dat, regAddr, regValue, 0);
    if (wantsLog(err, QtDebugMsg))
        logText(QStringLiteral("I2cWorker_doReadRegister[%1]: executed %2").arg(ctx, errState(err)),
                err, QtDebugMsg);
    beforeCompletion();
    emit doneReadRegister(err, ctx, dat, regAddr, regValue);
    return err;
}

QString I2cWorker::writeRegister(const QString &ctx, const QString &dat, const QByteArray &regAddr,
                                 const QByteArray &regValue)
{
    QString err;
    getOperations(dat)->hwWriteRegister(err, dat, regAddr, regValue, 0);
    if (wantsLog(err, QtDebugMsg))
        logText(QStringLiteral("I2cWorker_doWriteRegister[%1]: executed %2").arg(ctx, errState(err)),
                err, QtDebugMsg);
    beforeCompletion();
    emit doneWriteRegister(err, ctx, dat, regAddr, regValue);
    return err;
}

QString I2cWorker::readBulk(const QString &ctx, const QString &dat, const QByteArray &regAddr,
                            const QByteArray &command, unsigned short size)
{
    QString err;
    QByteArray result;
    II2cOperations *ops = getOperations(dat);
    // At most 128 packets: an unsigned short never needs more than one byte.
    const int packets = (int(size) + BulkPacketSize - 1) / BulkPacketSize;
    for (int i = 0; i < packets && err.isEmpty(); ++i) {
        QByteArray request = command + char(i);
        request += Utils::uintToHexBA(Utils::crc8(request), 2);
        ops->hwReadPacket(err, dat, regAddr, request);
        result += request;
        emit eventProgress(ctx, dat, i + 1, packets + 1);
    }
    // The last step is the completion: whoever shows progress sees it end.
    if (packets > 0)
        emit eventProgress(ctx, dat, packets + 1, packets + 1);
    logText(QStringLiteral("I2cWorker_doReadBulk[%1]: executed %2").arg(ctx, errState(err)), err,
            QtDebugMsg);
    beforeCompletion();
    emit doneReadBulk(err, ctx, dat, regAddr, command, result);
    return err;
}

QString I2cWorker::writeBulk(const QString &ctx, const QString &dat, const QByteArray &regAddr,
                             const QByteArray &command, const QByteArray &data,
                             unsigned int packetDelay)
{
    QString err;
    II2cOperations *ops = getOperations(dat);
    const qsizetype packets = (data.size() + BulkPacketSize - 1) / BulkPacketSize;

    if (data.isEmpty()) {
        ops->hwWritePacket(err, dat, regAddr, command, QByteArray());
        logText(QStringLiteral("I2cWorker_doWriteBulk Command: %1").arg(QString::fromUtf8(command)),
                err, QtDebugMsg);
    } else if (packets > MaxBulkPackets) {
        // The packet index is one byte: more packets would wrap and silently
        // send only part of the data, so nothing is sent at all.
        err = QStringLiteral("writeBulk refused: %1 bytes need %2 packets, at most %3 fit "
                             "in one transfer (%4 bytes)")
                  .arg(data.size())
                  .arg(packets)
                  .arg(MaxBulkPackets)
                  .arg(MaxBulkPackets * BulkPacketSize);
    } else {
        for (int i = 0; i < packets && err.isEmpty(); ++i) {
            QByteArray packet = char(i) + data.mid(qsizetype(i) * BulkPacketSize, BulkPacketSize);
            packet += char(Utils::crc8(packet));
            ops->hwWritePacket(err, dat, regAddr, command, packet);
            emit eventProgress(ctx, dat, i + 1, int(packets) + 1);
            logText(QStringLiteral("I2cWorker_doWriteBulk Packet %1 err State: %2")
                        .arg(i)
                        .arg(err.isEmpty() ? QStringLiteral("No errors") : err),
                    QString(), QtDebugMsg);
            // The rest of the transfer must not go out without the delay the
            // chip asked for, so an ending program stops it here.
            if (packetDelay > 0 && !pause(packetDelay) && i + 1 < packets && err.isEmpty())
                err = QStringLiteral("writeBulk stopped after packet %1 of %2: the program is ending")
                          .arg(i + 1)
                          .arg(packets);
        }
        emit eventProgress(ctx, dat, int(packets) + 1, int(packets) + 1);
    }
    logText(QStringLiteral("I2cWorker_doWriteBulk[%1]: executed %2").arg(ctx, errState(err)), err,
            QtDebugMsg);
    beforeCompletion();
    emit doneWriteBulk(err, ctx, dat, regAddr, command, data);
    return err;
}

QString I2cWorker::pmbusCommands(const QString &ctx, const QString &dat,
                                 const QList<PmbusCommand> &commands)
{
    QString err;
    QList<PmbusCommand> results;
    results.reserve(commands.size());
    II2cOperations *ops = getOperations(dat);
    for (PmbusCommand command : commands) {
        // Each command gets a clean error text so that a failure does not
        // make the later, successful commands look failed; the list's error
        // is the first failure.
        QString commandErr;
        if (command.isRead)
            ops->hwReadRegister(commandErr, dat, command.command, command.data,
                                command.isBlockProtocol);
        else
            ops->hwWriteRegister(commandErr, dat, command.command, command.data,
                                 command.isBlockProtocol);
        if (err.isEmpty())
            err = commandErr;
        results.append(command);
    }
    beforeCompletion();
    emit donePmbusCommands(err, ctx, dat, results);
    return err;
}
