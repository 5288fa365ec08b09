#pragma once

#include "models/registers.h"

#include <QByteArray>
#include <QMap>
#include <QMultiMap>
#include <QString>

namespace Bvr60600 {

// Register addresses of the chip: one byte each.
inline const QByteArray R_SOFT_RESET = QByteArray::fromHex("00");
inline const QByteArray R_VOUT_REF = QByteArray::fromHex("01");
inline const QByteArray R_CONTROL = QByteArray::fromHex("02");
inline const QByteArray R_MANUFACTURER_ID = QByteArray::fromHex("40");
inline const QByteArray R_DEVICE_ID = QByteArray::fromHex("41");

// The register image of one bvr60600 chip, together with its register map:
// the names of the five registers and the bit fields of each. Wire and key
// addresses are the same byte for this chip.
class PANELCORE_EXPORT DRegisters : public Registers
{
public:
    DRegisters();
    ~DRegisters() override;

    // Register name -> address as two lower-case hex digits, so that scripts
    // may name registers instead of addresses.
    QMap<QString, QString> getScriptReplacements() const override;
    // Empty for an address outside the map.
    QString nameFromInternal(const QByteArray &addr) const override;

    // Address -> register name, in address order.
    const QMap<QByteArray, QString> &registerNames() const { return m_registerNames; }
    // Address -> "name;start bit;size;access;description". values(addr)
    // yields the fields of one register highest bits first.
    const QMultiMap<QByteArray, QString> &fieldSpecifications() const { return m_fieldSpecifications; }
    // The address of a named register; empty when the name is not in the map.
    QByteArray addressOf(const QString &name) const;

private:
    QMap<QByteArray, QString> m_registerNames;
    QMultiMap<QByteArray, QString> m_fieldSpecifications;
};

} // namespace Bvr60600
