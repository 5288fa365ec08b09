#include "donglebase.h"

namespace Dongles {

DongleBase::DongleBase(const SDongle &identity)
    : SDongle(identity)
{
}

DongleBase::~DongleBase() = default;

QString DongleBase::idText() const
{
    return QString::fromLatin1(id, int(qstrnlen(id, sizeof(id))));
}

QString DongleBase::descriptionText() const
{
    return QString::fromLatin1(description, int(qstrnlen(description, sizeof(description))));
}

bool DongleBase::canReuse()
{
    return false;
}

bool DongleBase::isDisconnected(QString &err, bool ok) const
{
    Q_UNUSED(err);
    return !ok;
}

} // namespace Dongles
