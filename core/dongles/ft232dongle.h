#pragma once

#include "donglemgr.h"

namespace Dongles {

// The FT232-based adapter's place in the family. It has no bus function: its
// scan finds nothing, every transfer fails, and the worker does not register
// its scan.
class PANELCORE_EXPORT Ft232Dongle : public DongleBase
{
public:
    static DongleList Scan(const DongleMgr &mgr);
    static bool IsDongleDescription(const QString &text);

    explicit Ft232Dongle(const SDongle &identity);

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
};

} // namespace Dongles
