#pragma once

#include "donglemgr.h"

struct libusb_context;

namespace Dongles {

// Our own USB pod (a PIC18 with vendor-specific bulk endpoints), driven
// through libusb. It moves one register address byte and one data byte per
// transfer and nothing else.
class PANELCORE_EXPORT PicPodDongle : public DongleBase
{
public:
    static constexpr unsigned short VendorId = 0x0779;
    static constexpr unsigned short ProductId = 0x0429;

    // The process-wide libusb context, made on first need. Worker thread only.
    static libusb_context *LibUsbCtxt;
    // 0 when a context exists afterwards, else libusb's error.
    static int CreateContext();
    // Closes every pod still open, then ends the context.
    static void FreeContext();

    static DongleList Scan(const DongleMgr &mgr);
    static bool IsDongleDescription(const QString &text);

    PicPodDongle(const SDongle &identity, const DongleMgr *owner);
    ~PicPodDongle() override;

    bool deliversToRegValue() const override { return true; }

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
    // Claims and configures the device whose handle the record holds and
    // completes the record; false (with a debug line) when the pod refuses.
    static bool TryCreateDongle(SDongle &record);

    // Sends one request frame and takes the reply frame; 0, a libusb error,
    // or ShortTransfer.
    int exchange(unsigned char *request, unsigned char *reply);
    // libusb can get stuck after an I/O error; starting it afresh and
    // reopening the pod is the only cure.
    void tryResetLibUsbContext();

    const DongleMgr *m_owner;
};

} // namespace Dongles
