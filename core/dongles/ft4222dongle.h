#pragma once

#include "donglemgr.h"

namespace Dongles {

// An FT4222H bridge as I2C master, through the vendor's D2XX driver library
// (device list, open, close) and its FT4222 library (transfers), both loaded
// at run time. Without them the scan finds nothing.
class PANELCORE_EXPORT Ft4222Dongle : public DongleBase
{
public:
    static DongleList Scan(const DongleMgr &mgr);
    static bool IsDongleDescription(const QString &text);

    explicit Ft4222Dongle(const SDongle &identity);

    // Polls the controller status; a status error or a lost arbitration
    // means the slave (or the whole bridge) is gone.
    bool isDisconnected(QString &err, bool ok) const override;

    bool hwReadPacket(QString &err, unsigned short address, const QByteArray &regAddr,
                      QByteArray &data) override;
    bool hwWritePacket(QString &err, unsigned short address, const QByteArray &regAddr,
                       const QByteArray &command, const QByteArray &data) override;
    bool hwReadRegister(QString &err, unsigned short address, const QByteArray &regAddr,
                        QByteArray &regValue, QByteArray &buffer, unsigned char flags) override;
    bool hwWriteRegister(QString &err, unsigned short address, const QByteArray &regAddr,
                         const QByteArray &regValue, const QByteArray &buffer,
                         unsigned char flags) override;
    void close() override;

private:
    bool write(unsigned short address, const QByteArray &bytes);
    bool writeEx(unsigned short address, unsigned char flag, const QByteArray &bytes);
    bool readEx(unsigned short address, unsigned char flag, QByteArray &bytes);
};

} // namespace Dongles
