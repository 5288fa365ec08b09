#pragma once

#include "donglebase.h"

#include <memory>

namespace Dongles {

// An adapter that exists only to give virtual slaves an adapter id to live
// on. It moves no bytes: requests for a virtual slave never reach it.
class PANELCORE_EXPORT DummyDongle : public DongleBase
{
public:
    static std::shared_ptr<DongleBase> Create(const char *id, const char *description);

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
    using DongleBase::DongleBase;
};

} // namespace Dongles
