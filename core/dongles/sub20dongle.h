#pragma once

#include "donglemgr.h"

namespace Dongles {

// A SUB-20 multi-interface adapter as I2C master, through the vendor's
// library loaded at run time. Without it the scan finds nothing.
class PANELCORE_EXPORT Sub20Dongle : public DongleBase
{
public:
    // The clock never goes above this, whatever the speed setting says.
    static constexpr int MaxClockHz = 400000;

    static DongleList Scan(const DongleMgr &mgr);
    static bool IsDongleDescription(const QString &text);

    explicit Sub20Dongle(const SDongle &identity);
    // Each adapter opened its own handle: a rescan that drops it must not
    // leave the device open behind it.
    ~Sub20Dongle() override;

    // An open SUB-20 cannot be opened again, so a rescan asks the adapter
    // itself whether it is still there; it also brings the clock in line
    // with the speed setting when that changed.
    bool canReuse() override;
    bool isResponsive() const;
    // Gone only when the library reports the USB transfer or the device
    // failed; the reason of any failure goes to err.
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
    QString productText() const;
    // Sets the I2C clock from the speed setting and logs the clock the
    // adapter really runs.
    void applyClock();
    bool read(unsigned short address, const QByteArray &memoryAddress, QByteArray &bytes);
    bool write(unsigned short address, const QByteArray &memoryAddress, const QByteArray &bytes);
    // Keeps the reason of a failed call for isDisconnected.
    bool check(int result);

    int m_clockSpeed = -1; // the speed setting the clock was set from
    QString m_failure;
    bool m_gone = false;
};

} // namespace Dongles
