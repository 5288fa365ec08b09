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
// Both libraries return 0 for success; their other codes only matter to us
// as "not 0".
using FtStatus = quint32;

constexpr quint32 OpenByLocation = 4;
constexpr quint32 ListedAsOpen = 0x01;
constexpr quint8 StartNoStop = 0x02;
constexpr quint8 RepeatedStartAndStop = 0x07;
constexpr quint8 StatusBusy = 0x01;
// Busy, error, address and data not acknowledged, arbitration lost, bus busy.
constexpr quint8 StatusReported = 0x9F;
// Error or arbitration lost: the slave did not take part.
constexpr quint8 StatusGone = 0x12;
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
    FtStatus (*i2cMasterInit)(FtHandle handle, quint32 kbps) = nullptr;
    FtStatus (*unInitialize)(FtHandle handle) = nullptr;
    FtStatus (*i2cMasterWrite)(FtHandle handle, quint16 address, quint8 *buffer, quint16 size,
                               quint16 *sent) = nullptr;
    FtStatus (*i2cMasterWriteEx)(FtHandle handle, quint16 address, quint8 flag, quint8 *buffer,
                                 quint16 size, quint16 *sent) = nullptr;
    FtStatus (*i2cMasterReadEx)(FtHandle handle, quint16 address, quint8 flag, quint8 *buffer,
                                quint16 size, quint16 *received) = nullptr;
    FtStatus (*i2cMasterGetStatus)(FtHandle handle, quint8 *status) = nullptr;
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
        library.bind(calls.i2cMasterInit, "FT4222_I2CMaster_Init");
        library.bind(calls.unInitialize, "FT4222_UnInitialize");
        library.bind(calls.i2cMasterWrite, "FT4222_I2CMaster_Write");
        library.bind(calls.i2cMasterWriteEx, "FT4222_I2CMaster_WriteEx");
        library.bind(calls.i2cMasterReadEx, "FT4222_I2CMaster_ReadEx");
        library.bind(calls.i2cMasterGetStatus, "FT4222_I2CMaster_GetStatus");
    });
}

} // namespace

Ft4222Dongle::Ft4222Dongle(const SDongle &identity)
    : DongleBase(identity)
{
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
        record.description[sizeof(record.description) - 1] = '\0';
        // Only the I2C interface of the bridge; its second interface and
        // other FTDI parts list under other descriptions.
        if (!IsDongleDescription(QString::fromLatin1(record.description)))
            continue;
        copyText(record.id, sizeof(record.id), ("0x" + QByteArray::number(locId, 16)).constData());

        if (flags & ListedAsOpen) {
            // Ours from an earlier scan: take it over as it is. Opened by
            // another process, the list gives no handle we could use.
            if (!record.handle)
                continue;
        } else {
            FtHandle handle = nullptr;
            if (ft->openEx(reinterpret_cast<void *>(quintptr(locId)), OpenByLocation, &handle) != 0)
                continue;
            if (ft->i2cMasterInit(handle, quint32(Settings::getInstance()->i2cSpeed())) != 0) {
                // Left open, the next scan would find it listed as open and
                // take it over without the I2C master set up.
                ft->close(handle);
                continue;
            }
            record.handle = handle;
        }
        found.append(std::make_shared<Ft4222Dongle>(record));
    }
    return found;
}

bool Ft4222Dongle::write(unsigned short address, const QByteArray &bytes)
{
    const Api *ft = api();
    if (!ft || !handle || bytes.size() > MaxTransferSize)
        return false;
    QByteArray copy = bytes;
    quint16 sent = 0;
    return ft->i2cMasterWrite(handle, address, reinterpret_cast<quint8 *>(copy.data()),
                              quint16(copy.size()), &sent)
               == 0
        && sent == copy.size();
}

bool Ft4222Dongle::writeEx(unsigned short address, unsigned char flag, const QByteArray &bytes)
{
    const Api *ft = api();
    if (!ft || !handle || bytes.size() > MaxTransferSize)
        return false;
    QByteArray copy = bytes;
    quint16 sent = 0;
    return ft->i2cMasterWriteEx(handle, address, flag, reinterpret_cast<quint8 *>(copy.data()),
                                quint16(copy.size()), &sent)
               == 0
        && sent == copy.size();
}

bool Ft4222Dongle::readEx(unsigned short address, unsigned char flag, QByteArray &bytes)
{
    const Api *ft = api();
    if (!ft || !handle || bytes.size() > MaxTransferSize)
        return false;
    quint16 received = 0;
    return ft->i2cMasterReadEx(handle, address, flag, reinterpret_cast<quint8 *>(bytes.data()),
                               quint16(bytes.size()), &received)
               == 0
        && received == bytes.size();
}

bool Ft4222Dongle::hwReadRegister(QString &err, unsigned short address, const QByteArray &regAddr,
                                  QByteArray &regValue, QByteArray &buffer, unsigned char flags)
{
    Q_UNUSED(err);
    Q_UNUSED(regValue);
    Q_UNUSED(flags);
    return writeEx(address, StartNoStop, regAddr) && readEx(address, RepeatedStartAndStop, buffer);
}

bool Ft4222Dongle::hwWriteRegister(QString &err, unsigned short address,
                                   const QByteArray &regAddr, const QByteArray &regValue,
                                   const QByteArray &buffer, unsigned char flags)
{
    Q_UNUSED(err);
    Q_UNUSED(regValue);
    Q_UNUSED(flags);
    return write(address, regAddr + buffer);
}

bool Ft4222Dongle::hwReadPacket(QString &err, unsigned short address, const QByteArray &regAddr,
                                QByteArray &data)
{
    Q_UNUSED(err);
    const QByteArray request = regAddr + Utils::uintToHexBA(unsigned(data.size()), 4) + data;
    if (!writeEx(address, StartNoStop, request))
        return false;
    // The bridge always answers a full packet, whatever was asked for.
    data.resize(PacketReplySize);
    return readEx(address, RepeatedStartAndStop, data);
}

bool Ft4222Dongle::hwWritePacket(QString &err, unsigned short address, const QByteArray &regAddr,
                                 const QByteArray &command, const QByteArray &data)
{
    Q_UNUSED(err);
    QByteArray message = regAddr + command;
    if (!data.isEmpty())
        message += Utils::uintToHexBA(unsigned(data.size()), 4) + data;
    return write(address, message);
}

bool Ft4222Dongle::isDisconnected(QString &err, bool ok) const
{
    Q_UNUSED(ok);
    const Api *ft = api();
    // A closed adapter has no bus left to ask.
    if (!ft || !handle)
        return true;

    quint8 status = 0;
    bool answered = false;
    for (int failedPolls = 0;;) {
        quint8 polled = 0;
        if (ft->i2cMasterGetStatus(handle, &polled) == 0) {
            status = polled;
            answered = true;
            if (!(polled & StatusBusy))
                break;
        }
        if (++failedPolls > retries())
            break;
        QThread::msleep(10);
    }
    // A bridge that never answers its status query has been unplugged;
    // taking a stale status byte for "fine" would hide exactly that.
    if (!answered)
        return true;
    if (status & StatusReported)
        err = QStringLiteral("[cs=0x%1]").arg(status, 0, 16);
    return (status & StatusGone) != 0;
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
