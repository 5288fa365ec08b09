#pragma once

#include "panelcore_global.h"
#include "sdongle.h"

#include <QByteArray>
#include <QString>

namespace Dongles {

// One open USB-to-I2C adapter. Used only from the I2C worker thread.
class PANELCORE_EXPORT DongleBase : public SDongle
{
public:
    explicit DongleBase(const SDongle &identity = SDongle());
    virtual ~DongleBase();

    DongleBase(const DongleBase &) = delete;
    DongleBase &operator=(const DongleBase &) = delete;

    QString idText() const;
    QString descriptionText() const;

    unsigned char retries() const { return m_retries; }
    void setRetries(unsigned char retries) { m_retries = retries; }
    unsigned int dongleTypeId() const { return m_dongleTypeId; }
    void setDongleTypeId(unsigned int typeId) { m_dongleTypeId = typeId; }

    // May an adapter that the last scan did not list again be kept? Asked on
    // every scan of the adapter's kind; adapters that cannot be enumerated
    // while they are open answer whether they still respond.
    virtual bool canReuse();
    // After a transfer that left err empty: is the adapter gone? It may put
    // the reason into err. Only a failure of the vendor library, the USB
    // transfer or the device itself counts as gone; a slave that does not
    // acknowledge is a failed transfer on a working adapter, reported with
    // its own text (by the transfer or here) and never as gone. The default
    // suits adapters that cannot tell the two apart: any silent failure.
    virtual bool isDisconnected(QString &err, bool ok) const;
    // May an open scan probe every address behind this adapter? A bus that
    // may carry the computer's own chips answers no unless the user allowed it.
    virtual bool allowsOpenScan() const { return true; }

    // Transfers return true on success. A failure may leave its reason in
    // err; the worker then reports that text as it is and does not ask
    // isDisconnected. The retries are set before each transfer.
    virtual bool hwReadPacket(QString &err, unsigned short address, const QByteArray &regAddr,
                              QByteArray &data) = 0;
    virtual bool hwWritePacket(QString &err, unsigned short address, const QByteArray &regAddr,
                               const QByteArray &command, const QByteArray &data) = 0;
    // The value comes back in buffer, least significant byte first, or, for
    // adapters that move a single byte, straight in regValue.
    virtual bool hwReadRegister(QString &err, unsigned short address, const QByteArray &regAddr,
                                QByteArray &regValue, QByteArray &buffer, unsigned char flags) = 0;
    virtual bool hwWriteRegister(QString &err, unsigned short address, const QByteArray &regAddr,
                                 const QByteArray &regValue, const QByteArray &buffer,
                                 unsigned char flags) = 0;
    virtual void close() = 0;

    // True for adapters that move a single byte and put a register read
    // straight into regValue; all others fill the transfer buffer.
    virtual bool deliversToRegValue() const { return false; }

    bool operator==(const DongleBase &other) const { return SDongle::operator==(other); }

private:
    unsigned char m_retries = 1;
    unsigned int m_dongleTypeId = 0;
};

} // namespace Dongles
