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

    // kbps: the bus clock the bridge was set up with, for the time a
    // transfer takes on the wire.
    Ft4222Dongle(const SDongle &identity, int kbps);
    // The handle is ours alone: an adapter dropped by a rescan must not
    // leave the bridge open behind it.
    ~Ft4222Dongle() override;

    // An open bridge is no longer described by the device list (no location
    // id), so a rescan asks the bridge itself whether it is still there.
    bool canReuse() override;
    // Gone only when the libraries report the device or its driver failed,
    // or its status cannot be read; the reason of any failure goes to err.
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
    enum class Phase { WriteAndStop, WriteNoStop, ReadAndStop };

    // One call of the bridge; false with the reason kept for isDisconnected.
    bool transfer(Phase phase, unsigned short address, QByteArray &bytes);
    // Waits for the controller to finish and judges its status.
    bool settle(quint32 code, bool complete, int size, Phase phase);
    bool fail(const QString &reason, bool gone);
    void beginTransfer();

    int m_kbps = 0;
    QString m_failure;
    bool m_gone = false;
};

} // namespace Dongles
