#include "ft232dongle.h"

namespace Dongles {

Ft232Dongle::Ft232Dongle(const SDongle &identity)
    : DongleBase(identity)
{
}

DongleList Ft232Dongle::Scan(const DongleMgr &mgr)
{
    Q_UNUSED(mgr);
    return DongleList();
}

bool Ft232Dongle::IsDongleDescription(const QString &text)
{
    return text.contains(QLatin1String("RS232-HS"));
}

bool Ft232Dongle::hwReadPacket(QString &, unsigned short, const QByteArray &, QByteArray &)
{
    return false;
}

bool Ft232Dongle::hwWritePacket(QString &, unsigned short, const QByteArray &, const QByteArray &,
                                const QByteArray &)
{
    return false;
}

bool Ft232Dongle::hwReadRegister(QString &, unsigned short, const QByteArray &, QByteArray &,
                                 QByteArray &, unsigned char)
{
    return false;
}

bool Ft232Dongle::hwWriteRegister(QString &, unsigned short, const QByteArray &,
                                  const QByteArray &, const QByteArray &, unsigned char)
{
    return false;
}

void Ft232Dongle::close()
{
    handle = nullptr;
}

} // namespace Dongles
