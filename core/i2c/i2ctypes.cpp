#include "i2ctypes.h"

const QList<unsigned char> i2c_7bit_reserved_addresses = {
    0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x78, 0x79, 0x7A, 0x7B, 0x7C, 0x7D, 0x7E, 0x7F,
};

const QList<unsigned char> &i2c_7bit_legal_addresses()
{
    static const QList<unsigned char> legal = [] {
        QList<unsigned char> list;
        for (unsigned int a = 0x00; a <= 0x7F; ++a) {
            if (!i2c_7bit_reserved_addresses.contains(static_cast<unsigned char>(a)))
                list.append(static_cast<unsigned char>(a));
        }
        return list;
    }();
    return legal;
}

namespace I2cTypes {

void registerMetaTypes()
{
    qRegisterMetaType<PmbusCommand>();
    qRegisterMetaType<QList<PmbusCommand>>();
    qRegisterMetaType<ScanInstruction>("ScanInstruction");
    qRegisterMetaType<QtMsgType>("QtMsgType");
}

} // namespace I2cTypes
