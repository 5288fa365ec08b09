#include "devices/devicetypes.h"

void DeviceTypes::registerMetaTypes()
{
    qRegisterMetaType<DeviceState>("DeviceState");
}
