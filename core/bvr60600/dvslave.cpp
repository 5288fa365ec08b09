#include "bvr60600/dvslave.h"

#include "bvr60600/dregisters.h"
#include "devices/devicetypes.h"
#include "utils/utils.h"

namespace Bvr60600 {

DVSlave::DVSlave(const QString &dat)
    : VSlave(dat)
{
}

DVSlave::~DVSlave() = default;

QString DVSlave::myType() const
{
    return type_bvr60600;
}

void DVSlave::init()
{
    const auto power = [this](const QByteArray &addr, unsigned value) {
        registers().bytesToStore(Registers::GroupRegister, addr, Utils::uintToHexBA(value, 2));
    };
    power(R_SOFT_RESET, 0x00);
    power(R_VOUT_REF, 0x00);
    power(R_CONTROL, 0x00);
    power(R_MANUFACTURER_ID, 0xFF);
    power(R_DEVICE_ID, 0xFF);
}

} // namespace Bvr60600
