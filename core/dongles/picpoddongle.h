#pragma once

#include "donglemgr.h"

struct libusb_context;
struct libusb_device;

namespace Dongles {

// Our own USB pod (a PIC18 with vendor-specific bulk endpoints), driven
// through libusb. It moves one register address byte and one data byte per
// transfer and nothing else.
//
// Its id names the USB port it sits in ("pod-1-2.3": bus 1, port 3 of the hub
// in port 2), so that it stays the same across a replug into the same port
// and never collides with the empty id of the default adapter.
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
    // Only a pod that libusb lost counts as gone, and it says why: no
    // device, an I/O error, a stall that cannot be cleared, a closed handle.
    // A NACK or a late reply is a failed transfer with its own text.
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
    // Opens the pod at device, selects its configuration, claims its
    // interface and completes the record; false (with a debug line) when
    // the pod refuses.
    bool attach(libusb_device *device);
    // Is this the device we hold open? Told by where it sits on the bus, so
    // that finding it needs no second open.
    bool isAt(libusb_device *device) const;

    // One request frame and its reply frame. False with err set when the
    // transfer failed, false with err empty and m_loss set when the pod is
    // gone.
    bool request(QString &err, unsigned char *frame, unsigned char *reply);
    // 0, a libusb error, ShortTransfer or StuckHalt.
    int exchange(unsigned char *frame, unsigned char *reply);
    // Takes what an earlier, unanswered request left on the IN endpoint.
    int drain();
    // libusb can get stuck once a device went away; starting it afresh is
    // the only cure.
    void tryResetLibUsbContext();

    const DongleMgr *m_owner;
    unsigned char m_bus = 0;
    unsigned char m_address = 0;
    // Why the last transfer found the pod gone; empty while it works.
    QString m_loss;
    // A request went unanswered: its reply may still arrive.
    bool m_drainPending = false;
};

} // namespace Dongles
