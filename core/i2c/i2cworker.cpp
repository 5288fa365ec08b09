#include "i2c/i2cworker.h"

#include "dongles/donglescanner.h"
#include "dongles/ft4222dongle.h"
#if defined(Q_OS_LINUX)
#include "dongles/i2cdevdongle.h"
#endif
#include "dongles/picpoddongle.h"
#include "dongles/sub20dongle.h"
#include "i2c/flowcontrol.h"
#include "i2c/i2cscript.h"
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

// The first byte of a value, or -1 for an empty one.
int firstByte(const QByteArray &value)
{
    return value.isEmpty() ? -1 : quint8(value.at(0));
}

// Identification read of one device type during a slave scan.
struct Probe
{
    const char *type;
    char reg;
    QByteArray initial;
    unsigned char flags;
    bool (*found)(const QByteArray &value);
};

const QList<Probe> &probes()
{
    static const QList<Probe> table = {
        { "bvr60100", '\xB2', QByteArray("\x3D", 1), 0,
          [](const QByteArray &v) { return firstByte(v) == 'p' || firstByte(v) == 'P'; } },
        { "bvr60200", '\x01', QByteArray("\x3D\x3D", 2), 0,
          [](const QByteArray &v) { return firstByte(v) == 0x00 || firstByte(v) == 'C'; } },
        { "bvr60400", '\xAD', QByteArray("\xFF\xFF\xFF\xFF", 4), 1,
          [](const QByteArray &v) { return Utils::uintFromHexBA(v) == 0x51FD00; } },
        { "pmbus", '\x98', QByteArray("\x00", 1), 0, [](const QByteArray &) { return true; } },
        { "bvr60500", '\x00', QByteArray("\x3D\x3D", 2), 0,
          [](const QByteArray &v) { return firstByte(v) == 0x9F; } },
        { "bvr60600", '\x41', QByteArray("\xFF", 1), 0,
          [](const QByteArray &v) { return v == QByteArray("\x07", 1); } },
        { "bvr60700", '\x00', QByteArray("\xFF", 1), 0,
          [](const QByteArray &v) { return firstByte(v) == 0x01; } },
    };
    return table;
}

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

void I2cWorker::doRunScript(const QString &ctx, const QString &dat, const QStringList &lines)
{
    m_scriptTimer.restart();
    logText(QStringLiteral("I2cWorker_doRunScript[%1]: starting...").arg(ctx), QString(),
            QtDebugMsg);
    const int count = int(lines.size());
    emit eventProgress(ctx, dat, 0, count);

    // A failing line does not stop the script, but the script reports every
    // failure, one line each, in order.
    QStringList failures;
    QString lost;
    for (int i = 0; i < count; ++i) {
        // Nobody takes the results once the program is ending: the rest of
        // the script would only delay its exit.
        if (m_flow && m_flow->isClosed()) {
            failures << QStringLiteral("Script stopped before line %1 of %2: the program is ending").arg(i + 1).arg(count);
            break;
        }
        const I2cScript::ScriptLine line = I2cScript::compileLine(lines.at(i));
        if (!lost.isEmpty()) {
            // The adapter is gone: the rest fails with the error that said
            // so, each line reported, without waiting on anything.
            if (failLine(ctx, dat, line, lost))
                failures << lost;
            emit eventProgress(ctx, dat, i + 1, count);
            continue;
        }
        QString lineErr;
        switch (line.kind) {
        case I2cScript::ScriptLine::Skip:
            break;
        case I2cScript::ScriptLine::Comment:
            logTxRx(line.comment, QString(), QString());
            break;
        case I2cScript::ScriptLine::WaitMs:
            (void)pause(line.waitMs);
            break;
        case I2cScript::ScriptLine::ReadBulk:
            lineErr = readBulk(ctx, dat, line.regAddr, line.command, line.bulkSize);
            break;
        case I2cScript::ScriptLine::WriteBulk:
            lineErr = writeBulk(ctx, dat, line.regAddr, line.command, line.data, line.packetDelay);
            break;
        case I2cScript::ScriptLine::ReadRegister:
            lineErr = readRegister(ctx, dat, line.regAddr, line.readSize);
            break;
        case I2cScript::ScriptLine::WriteRegister:
            lineErr = writeRegister(ctx, dat, line.regAddr, line.data);
            break;
        case I2cScript::ScriptLine::Pmbus:
            lineErr = pmbusCommands(ctx, dat, { line.pmbus });
            break;
        }
        if (!lineErr.isEmpty())
            failures << lineErr;
        if (hwIsSlaveRemoved(lineErr))
            lost = lineErr;
        emit eventProgress(ctx, dat, i + 1, count);
    }

    const QString err = failures.join(QLatin1Char('\n'));
    logText(QStringLiteral("I2cWorker_doRunScript[%1]: executed %2 in %3 milliseconds")
                .arg(ctx, errState(err))
                .arg(m_scriptTimer.elapsed()),
            err, QtDebugMsg);
    beforeCompletion();
    emit doneRunScript(err, ctx, dat);
}

bool I2cWorker::failLine(const QString &ctx, const QString &dat, const I2cScript::ScriptLine &line,
                         const QString &err)
{
    switch (line.kind) {
    case I2cScript::ScriptLine::Skip:
    case I2cScript::ScriptLine::WaitMs:
        return false;
    case I2cScript::ScriptLine::Comment:
        logTxRx(line.comment, QString(), QString());
        return false;
    case I2cScript::ScriptLine::ReadBulk:
        beforeCompletion();
        emit doneReadBulk(err, ctx, dat, line.regAddr, line.command, QByteArray());
        return true;
    case I2cScript::ScriptLine::WriteBulk:
        beforeCompletion();
        emit doneWriteBulk(err, ctx, dat, line.regAddr, line.command, line.data);
        return true;
    case I2cScript::ScriptLine::ReadRegister:
        beforeCompletion();
        emit doneReadRegister(err, ctx, dat, line.regAddr, QByteArray(qMax(0, int(line.readSize)), '\0'));
        return true;
    case I2cScript::ScriptLine::WriteRegister:
        beforeCompletion();
        emit doneWriteRegister(err, ctx, dat, line.regAddr, line.data);
        return true;
    case I2cScript::ScriptLine::Pmbus:
        beforeCompletion();
        emit donePmbusCommands(err, ctx, dat, { line.pmbus });
        return true;
    }
    return false;
}

void I2cWorker::doVirtualSlave(const QString &ctx, const QString &dat, bool enable)
{
    QString err;
    if (!Utils::goodDat(dat)) {
        err = QStringLiteral("I2cWorker_doVirtualSlave, badly formed DAT (%1)").arg(dat);
    } else {
        // Simulated slaves live on the default adapter: the adapter id is
        // dropped from the key when the registry files it under "".
        const QString key = (m_dongleMgr.defaultUnderEmptyId()
                                 ? dat.mid(dat.indexOf(Utils::datSeperator))
                                 : dat)
                                .toLower();
        const auto it = m_vslaves.find(key);
        if (enable && (it == m_vslaves.end() || !it.value())) {
            VSlave *slave = m_vslaveFactory ? m_vslaveFactory(key) : nullptr;
            if (slave) {
                m_vslaves.insert(key, slave);
                emit eventSlaveAdded(key);
            } else {
                err = QStringLiteral("I2cWorker_doVirtualSlave, no simulated slave for type %1")
                          .arg(Utils::datType(key));
            }
        } else if (!enable && it != m_vslaves.end()) {
            VSlave *slave = it.value().data();
            m_vslaves.erase(it);
            delete slave;
            emit eventSlaveRemoved(key);
        }
    }
    logText(QStringLiteral("I2cWorker_doVirtualSlave[%1]: executed %2").arg(ctx, errState(err)),
            err, QtDebugMsg);
    beforeCompletion();
    emit doneVirtualSlave(err, ctx, dat, enable);
}

QStringList I2cWorker::vslaveDongles() const
{
    QStringList ids;
    for (auto it = m_vslaves.cbegin(); it != m_vslaves.cend(); ++it) {
        const QStringList fields = Utils::exDat(it.key());
        if (fields.size() == 3 && !ids.contains(fields.at(0)))
            ids << fields.at(0);
    }
    return ids;
}

bool I2cWorker::probe(const QString &dat, const QString &type)
{
    for (const Probe &p : probes()) {
        if (type != QLatin1String(p.type))
            continue;
        QString err;
        QByteArray value = p.initial;
        // The worker's own real-adapter path: simulated slaves announce
        // themselves, they are never probed.
        return hwReadRegister(err, dat, QByteArray(1, p.reg), value, p.flags) && p.found(value);
    }
    return false;
}

void I2cWorker::doScanForSlaves(const QString &dongleId, const ScanInstruction &requested)
{
    // A bus that may carry the computer's own chips is probed at every
    // address only with the user's consent; without it the types asked for
    // at every address are left out.
    ScanInstruction scanInstruction = requested;
    QString unused;
    const DonglePtr dongle = m_dongleMgr.getDongle(dongleId, unused);
    if (dongle && !dongle->allowsOpenScan()) {
        bool refused = false;
        for (auto it = scanInstruction.begin(); it != scanInstruction.end();) {
            refused = refused || it.value().isEmpty();
            it = it.value().isEmpty() ? scanInstruction.erase(it) : std::next(it);
        }
        if (refused)
            logTxRx(QStringLiteral("Open scan of %1 not allowed: add %1 to the setting "
                                   "i2cOpenScanBuses to probe every address of this bus")
                        .arg(dongle->idText()),
                    QString(), QString());
        if (scanInstruction.isEmpty() && !vslaveDongles().contains(dongleId))
            return;
    }

    m_scanning = true;
    const bool closed = !scanInstruction.isEmpty() && !scanInstruction.first().isEmpty();
    logTxRx(QStringLiteral("Scanning for slaves... (%1 scan)")
                .arg(closed ? QStringLiteral("closed") : QStringLiteral("open")),
            QString(), QString());

    if (vslaveDongles().contains(dongleId)) {
        for (auto it = m_vslaves.cbegin(); it != m_vslaves.cend(); ++it) {
            if (Utils::exDat(it.key()).value(0) == dongleId)
                emit eventSlaveAdded(it.key());
        }
    }

    QList<unsigned char> found;
    for (auto it = scanInstruction.cbegin(); it != scanInstruction.cend(); ++it) {
        const QList<unsigned char> addresses =
            it.value().isEmpty() ? i2c_7bit_legal_addresses() : it.value();
        for (unsigned char address : addresses) {
            if (found.contains(address))
                continue;
            const QString dat = Utils::mkDat(dongleId, Utils::toHexAddress(address, 2), it.key());
            if (Settings::getInstance()->commsDebugMode() || probe(dat, it.key())) {
                found << address;
                emit eventSlaveAdded(dat);
            }
        }
    }
    m_scanning = false;
}
