#pragma once

#include "donglemgr.h"

namespace Dongles {

// One I2C bus of the Linux kernel, reached through its i2c-dev character
// device /dev/i2c-N: USB bridges with a kernel driver, the I2C pins of a
// board, a PC's SMBus controllers. Its id is the kernel's name for it
// ("i2c-1"), its description the bus name the kernel gives.
//
// A register read goes out as one combined transfer (the register address
// written, a repeated start, the value read), as the chip expects it. The
// bus clock belongs to the kernel driver or the device tree: the speed
// setting does not reach it.
//
// A computer's own buses carry chips that must not be written to by
// accident, so an open scan probes a kernel bus only when the user allowed
// it for that bus (the setting i2cOpenScanBuses).
class PANELCORE_EXPORT I2cDevDongle : public DongleBase
{
public:
    // The kernel lists its buses here, one entry "i2c-N" each.
    static const char *const ClassDir;
    // The kernel refuses a longer message in one combined transfer.
    static constexpr int MaxMessageSize = 8192;
    static constexpr int PacketReplySize = 512;

    // Every bus the kernel lists that can be opened, in bus-number order.
    static DongleList Scan(const DongleMgr &mgr);

    // Takes over the open descriptor fd.
    I2cDevDongle(const SDongle &identity, int fd, unsigned long functionality);
    // A bus dropped from the registry gives its descriptor back at once:
    // the kernel cannot finish removing an unplugged adapter while it is open.
    ~I2cDevDongle() override;

    unsigned long functionality() const { return m_functionality; }

    bool allowsOpenScan() const override;
    // Only a bus that is gone is a disconnection; a NACK is a failed
    // transfer of a bus that still works.
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
    // One write of out, then, when in is given, a read of in's size after a
    // repeated start, as one transfer. A failure leaves its text in err,
    // except a bus that is gone: isDisconnected reports that.
    bool transfer(QString &err, unsigned short address, const QByteArray &out, QByteArray *in);
    QString failureText(int code, unsigned short address, const QByteArray &out,
                        const QByteArray *in) const;
    bool listedByKernel() const;

    int m_fd = -1;
    unsigned long m_functionality = 0;
    bool m_gone = false;
    QString m_goneText;
};

} // namespace Dongles
