#pragma once

#include "i2c/vslave.h"

namespace Bvr60600 {

// The simulated bvr60600 chip. It answers from a register file that starts
// with the chip's power-on image; addresses outside the map have no data, so
// reading them fails as it would on a real chip.
class PANELCORE_EXPORT DVSlave : public VSlave
{
    Q_OBJECT

public:
    explicit DVSlave(const QString &dat);
    ~DVSlave() override;

    QString myType() const override;
    // Writes the power-on image; other entries of the store are left alone.
    void init() override;
};

} // namespace Bvr60600
