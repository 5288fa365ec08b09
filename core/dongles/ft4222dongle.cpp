#include "ft4222dongle.h"

#include "services/settings.h"
#include "utils/utils.h"
#include "vendorlibrary.h"

#include <QSysInfo>
#include <QThread>

// The vendor's generic driver calls use the Windows API convention, which
// only differs from the default on 32-bit Windows.
#if defined(Q_OS_WIN) && !defined(Q_OS_WIN64)
#define D2XX_CALL __stdcall
#else
#define D2XX_CALL
#endif

namespace Dongles {

namespace {

using FtHandle = void *;
// Both libraries return 0 for success.
using FtStatus = quint32;

constexpr quint32 OpenByLocation = 4;
constexpr quint32 ListedAsOpen = 0x01;
constexpr quint8 StartNoStop = 0x02;
constexpr quint8 RepeatedStartAndStop = 0x07;

// The controller status bits as the vendor's header defines them. While
// the controller is busy every other bit is meaningless; a slave that does
// not acknowledge sets the error bit together with its own.
constexpr quint8 StatusBusy = 0x01;
constexpr quint8 StatusError = 0x02;
constexpr quint8 StatusAddressNack = 0x04;
constexpr quint8 StatusDataNack = 0x08;
constexpr quint8 StatusArbitrationLost = 0x10;
constexpr quint8 StatusBusBusy = 0x40;

// Without timeouts a read the bridge never answers blocks the worker for
// ever; a whole packet at the slowest clock takes well under a second.
constexpr quint32 ReadTimeoutMs = 1000;
constexpr quint32 WriteTimeoutMs = 1000;
constexpr unsigned long PollPauseUs = 10000;

constexpr int PacketReplySize = 512;
constexpr int MaxTransferSize = 0xFFFF;

struct Api
{
    FtStatus(D2XX_CALL *createDeviceInfoList)(quint32 *count) = nullptr;
    FtStatus(D2XX_CALL *getDeviceInfoDetail)(quint32 index, quint32 *flags, quint32 *type,
                                             quint32 *id, quint32 *locId, void *serial,
                                             void *description, FtHandle *handle) = nullptr;
    FtStatus(D2XX_CALL *openEx)(void *arg, quint32 openBy, FtHandle *handle) = nullptr;
    FtStatus(D2XX_CALL *close)(FtHandle handle) = nullptr;
    FtStatus(D2XX_CALL *setTimeouts)(FtHandle handle, quint32 readMs, quint32 writeMs) = nullptr;
    FtStatus (*i2cMasterInit)(FtHandle handle, quint32 kbps) = nullptr;
    FtStatus (*unInitialize)(FtHandle handle) = nullptr;
    FtStatus (*i2cMasterWrite)(FtHandle handle, quint16 address, quint8 *buffer, quint16 size,
                               quint16 *sent) = nullptr;
    FtStatus (*i2cMasterWriteEx)(FtHandle handle, quint16 address, quint8 flag, quint8 *buffer,
                                 quint16 size, quint16 *sent) = nullptr;
    FtStatus (*i2cMasterReadEx)(FtHandle handle, quint16 address, quint8 flag, quint8 *buffer,
                                quint16 size, quint16 *received) = nullptr;
    FtStatus (*i2cMasterGetStatus)(FtHandle handle, quint8 *status) = nullptr;
    FtStatus (*i2cMasterReset)(FtHandle handle) = nullptr;
};

QList<VendorLibrary::Part> libraryFiles()
{
#if defined(Q_OS_WIN)
    const QStringList bridge = { QSysInfo::WordSize == 64 ? QStringLiteral("LibFT4222-64.dll")
                                                          : QStringLiteral("LibFT4222.dll") };
    const QStringList driver = { QStringLiteral("ftd2xx.dll"), QStringLiteral("ftd2xx64.dll") };
#elif defined(Q_OS_MACOS)
    const QStringList bridge = { QStringLiteral("libft4222.dylib") };
    const QStringList driver = { QStringLiteral("libftd2xx.dylib") };
#else
    // On Linux the bridge library carries the driver calls as well.
    const QStringList bridge = { QStringLiteral("libft4222.so") };
    const QStringList driver = { QStringLiteral("libftd2xx.so") };
#endif
    return { { "PANEL_FT4222_LIBRARY", bridge }, { "PANEL_D2XX_LIBRARY", driver } };
}

// Null when the libraries are missing; loaded on the first scan, once.
const Api *api()
{
    return VendorLibrary::loadOnce<Api>("FT4222", &libraryFiles, [](VendorLibrary &library, Api &calls) {
        library.bind(calls.createDeviceInfoList, "FT_CreateDeviceInfoList");
        library.bind(calls.getDeviceInfoDetail, "FT_GetDeviceInfoDetail");
        library.bind(calls.openEx, "FT_OpenEx");
        library.bind(calls.close, "FT_Close");
        library.bind(calls.setTimeouts, "FT_SetTimeouts");
        library.bind(calls.i2cMasterInit, "FT4222_I2CMaster_Init");
        library.bind(calls.unInitialize, "FT4222_UnInitialize");
        library.bind(calls.i2cMasterWrite, "FT4222_I2CMaster_Write");
        library.bind(calls.i2cMasterWriteEx, "FT4222_I2CMaster_WriteEx");
        library.bind(calls.i2cMasterReadEx, "FT4222_I2CMaster_ReadEx");
        library.bind(calls.i2cMasterGetStatus, "FT4222_I2CMaster_GetStatus");
        library.bind(calls.i2cMasterReset, "FT4222_I2CMaster_Reset");
    });
}

// The driver's codes that mean the device, or our handle on it, is gone;
// every other failure leaves a working bridge behind.
QString goneReason(FtStatus code)
{
    switch (code) {
    case 1: return QStringLiteral("invalid handle");
    case 2: return QStringLiteral("device not found");
    case 3: return QStringLiteral("device not opened");
    case 4: return QStringLiteral("I/O error");
    default: return QString();
    }
}

// Done with the transfer: no longer busy and, after a stop, the bus let go
// (or an error says why not).
bool finished(quint8 status, bool stopped)
{
    if (status & StatusBusy)
        return false;
    return !stopped || !(status & StatusBusBusy)
        || (status & (StatusError | StatusArbitrationLost));
}

} // namespace

Ft4222Dongle::Ft4222Dongle(const SDongle &identity, int kbps)
    : DongleBase(identity)
    , m_kbps(qMax(1, kbps))
{
}

Ft4222Dongle::~Ft4222Dongle()
{
    Ft4222Dongle::close();
}

bool Ft4222Dongle::IsDongleDescription(const QString &text)
{
    return text == QLatin1String("FT4222") || text == QLatin1String("FT4222 A");
}

DongleList Ft4222Dongle::Scan(const DongleMgr &mgr)
{
    Q_UNUSED(mgr);
    DongleList found;
    const Api *ft = api();
    quint32 count = 0;
    if (!ft || ft->createDeviceInfoList(&count) != 0)
        return found;

    for (quint32 index = 0; index < count; ++index) {
        SDongle record;
        quint32 flags = 0;
        quint32 type = 0;
        quint32 deviceId = 0;
        quint32 locId = 0;
        if (ft->getDeviceInfoDetail(index, &flags, &type, &deviceId, &locId, record.serial,
                                    record.description, &record.handle)
            != 0)
            continue;
        record.handle = nullptr;
        record.description[sizeof(record.description) - 1] = '\0';
        // Only the I2C interface of the bridge; its second interface and
        // other FTDI parts list under other descriptions.
        if (!IsDongleDescription(QString::fromLatin1(record.description)))
            continue;
        // An open bridge is listed without its location id: the ones we
        // opened are kept by the registry under the id they had, and one
        // that another program holds is not ours to take.
        if (flags & ListedAsOpen)
            continue;
        copyText(record.id, sizeof(record.id), ("0x" + QByteArray::number(locId, 16)).constData());

        FtHandle handle = nullptr;
        if (ft->openEx(reinterpret_cast<void *>(quintptr(locId)), OpenByLocation, &handle) != 0)
            continue;
        const int kbps = Settings::getInstance()->i2cSpeed();
        if (ft->setTimeouts(handle, ReadTimeoutMs, WriteTimeoutMs) != 0
            || ft->i2cMasterInit(handle, quint32(kbps)) != 0) {
            // A bridge we cannot set up is let go at once: scans come every
            // second.
            ft->close(handle);
            continue;
        }
        record.handle = handle;
        found.append(std::make_shared<Ft4222Dongle>(record, kbps));
    }
    return found;
}

bool Ft4222Dongle::canReuse()
{
    const Api *ft = api();
    quint8 status = 0;
    return ft && handle && ft->i2cMasterGetStatus(handle, &status) == 0;
}

void Ft4222Dongle::beginTransfer()
{
    m_failure.clear();
    m_gone = false;
}

bool Ft4222Dongle::fail(const QString &reason, bool gone)
{
    m_failure = reason;
    m_gone = gone;
    return false;
}

bool Ft4222Dongle::transfer(Phase phase, unsigned short address, QByteArray &bytes)
{
    const Api *ft = api();
    if (!ft || !handle)
        return fail(QStringLiteral("adapter closed"), true);
    if (bytes.size() > MaxTransferSize)
        return fail(QStringLiteral("%1 bytes are more than one transfer takes").arg(bytes.size()),
                    false);

    auto *data = reinterpret_cast<quint8 *>(bytes.data());
    const auto size = quint16(bytes.size());
    quint16 moved = 0;
    FtStatus code = 0;
    switch (phase) {
    case Phase::WriteAndStop:
        code = ft->i2cMasterWrite(handle, address, data, size, &moved);
        break;
    case Phase::WriteNoStop:
        code = ft->i2cMasterWriteEx(handle, address, StartNoStop, data, size, &moved);
        break;
    case Phase::ReadAndStop:
        code = ft->i2cMasterReadEx(handle, address, RepeatedStartAndStop, data, size, &moved);
        break;
    }
    return settle(code, moved == size, size, phase);
}

bool Ft4222Dongle::settle(quint32 code, bool complete, int size, Phase phase)
{
    const QString gone = goneReason(code);
    if (!gone.isEmpty())
        return fail(QStringLiteral("%1 [ft=%2]").arg(gone).arg(code), true);

    // The bridge may return before the bytes are on the wire, and a slave
    // that did not acknowledge shows only in the status: wait until the
    // controller is done, first for as long as the bytes take, then in
    // steps, as many as the retries allow.
    const Api *ft = api();
    const bool stopped = phase != Phase::WriteNoStop;
    const auto wireUs = static_cast<unsigned long>(1 + (size + 1) * 9 * 1000 / m_kbps);
    quint8 status = 0;
    bool answered = false;
    FtStatus statusCode = 0;
    for (int poll = 0;; ++poll) {
        quint8 polled = 0;
        statusCode = ft->i2cMasterGetStatus(handle, &polled);
        if (statusCode == 0) {
            status = polled;
            answered = true;
            if (finished(status, stopped))
                break;
        }
        if (poll >= retries())
            break;
        QThread::usleep(poll == 0 ? wireUs : PollPauseUs);
    }
    // A bridge that never answers its status query has been unplugged.
    if (!answered)
        return fail(QStringLiteral("status unreadable [ft=%1]").arg(statusCode), true);

    QString reason;
    if (status & StatusBusy)
        reason = QStringLiteral("controller busy");
    else if (status & StatusArbitrationLost)
        reason = QStringLiteral("arbitration lost");
    else if (status & StatusAddressNack)
        reason = QStringLiteral("address NACK");
    else if (status & StatusDataNack)
        reason = QStringLiteral("data NACK");
    else if (status & StatusError)
        reason = QStringLiteral("bus error");
    else if (stopped && (status & StatusBusBusy))
        reason = QStringLiteral("bus busy");
    else if (code != 0)
        reason = QStringLiteral("FT4222 error %1").arg(code);
    if (reason.isEmpty() && complete)
        return true;

    // After any error the controller is reset, as the vendor documents, or
    // it may stay in its error state for the transfers that follow.
    ft->i2cMasterReset(handle);
    if (reason.isEmpty())
        return false; // fewer bytes than asked for: "did not complete"
    return fail(QStringLiteral("%1 [cs=0x%2]").arg(reason).arg(status, 0, 16), false);
}

bool Ft4222Dongle::hwReadRegister(QString &err, unsigned short address, const QByteArray &regAddr,
                                  QByteArray &regValue, QByteArray &buffer, unsigned char flags)
{
    Q_UNUSED(err);
    Q_UNUSED(regValue);
    Q_UNUSED(flags);
    beginTransfer();
    QByteArray select = regAddr;
    return transfer(Phase::WriteNoStop, address, select)
        && transfer(Phase::ReadAndStop, address, buffer);
}

bool Ft4222Dongle::hwWriteRegister(QString &err, unsigned short address,
                                   const QByteArray &regAddr, const QByteArray &regValue,
                                   const QByteArray &buffer, unsigned char flags)
{
    Q_UNUSED(err);
    Q_UNUSED(regValue);
    Q_UNUSED(flags);
    beginTransfer();
    QByteArray message = regAddr + buffer;
    return transfer(Phase::WriteAndStop, address, message);
}

bool Ft4222Dongle::hwReadPacket(QString &err, unsigned short address, const QByteArray &regAddr,
                                QByteArray &data)
{
    Q_UNUSED(err);
    beginTransfer();
    QByteArray request = regAddr + Utils::uintToHexBA(unsigned(data.size()), 4) + data;
    if (!transfer(Phase::WriteNoStop, address, request))
        return false;
    // The bridge always answers a full packet, whatever was asked for.
    data.resize(PacketReplySize);
    return transfer(Phase::ReadAndStop, address, data);
}

bool Ft4222Dongle::hwWritePacket(QString &err, unsigned short address, const QByteArray &regAddr,
                                 const QByteArray &command, const QByteArray &data)
{
    Q_UNUSED(err);
    beginTransfer();
    QByteArray message = regAddr + command;
    if (!data.isEmpty())
        message += Utils::uintToHexBA(unsigned(data.size()), 4) + data;
    return transfer(Phase::WriteAndStop, address, message);
}

bool Ft4222Dongle::isDisconnected(QString &err, bool ok) const
{
    if (ok)
        return false;
    if (!m_failure.isEmpty())
        err = m_failure;
    return m_gone;
}

void Ft4222Dongle::close()
{
    const Api *ft = api();
    if (ft && handle) {
        ft->unInitialize(handle);
        ft->close(handle);
    }
    handle = nullptr;
}

} // namespace Dongles
