#include "dummydongle.h"

namespace Dongles {

std::shared_ptr<DongleBase> DummyDongle::Create(const char *id, const char *description)
{
    SDongle identity;
    copyText(identity.id, sizeof(identity.id), id);
    copyText(identity.description, sizeof(identity.description), description);
    return std::shared_ptr<DongleBase>(new DummyDongle(identity));
}

bool DummyDongle::hwReadPacket(QString &, unsigned short, const QByteArray &, QByteArray &)
{
    return true;
}

bool DummyDongle::hwWritePacket(QString &, unsigned short, const QByteArray &, const QByteArray &,
                                const QByteArray &)
{
    return true;
}

bool DummyDongle::hwReadRegister(QString &, unsigned short, const QByteArray &, QByteArray &,
                                 QByteArray &, unsigned char)
{
    return true;
}

bool DummyDongle::hwWriteRegister(QString &, unsigned short, const QByteArray &,
                                  const QByteArray &, const QByteArray &, unsigned char)
{
    return true;
}

void DummyDongle::close() {}

} // namespace Dongles
