#pragma once

#include "panelcore_global.h"

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QMetaType>
#include <QString>

// One PMBus transfer. data is most significant byte first, like every
// register value; after a read it holds the bytes read.
struct PANELCORE_EXPORT PmbusCommand
{
    bool isRead = false;
    QByteArray command;
    unsigned char isBlockProtocol = 0; // used as the register flags: 1 = block
    QByteArray data;

    bool operator==(const PmbusCommand &other) const
    {
        return isRead == other.isRead && command == other.command
            && isBlockProtocol == other.isBlockProtocol && data == other.data;
    }
};

// Device type key -> addresses to probe; an empty list means every legal
// address. Map order is probing order.
using ScanInstruction = QMap<QString, QList<unsigned char>>;

Q_DECLARE_METATYPE(PmbusCommand)
Q_DECLARE_METATYPE(ScanInstruction)

// The 16 reserved 7-bit addresses, and the 112 that remain (0x08 to 0x77).
PANELCORE_EXPORT extern const QList<unsigned char> i2c_7bit_reserved_addresses;
PANELCORE_EXPORT const QList<unsigned char> &i2c_7bit_legal_addresses();

namespace I2cTypes {
// Makes the request and result types usable in queued connections.
PANELCORE_EXPORT void registerMetaTypes();
}
