#pragma once

#include "panelcore_global.h"

#include <QString>

namespace Bvr60600 {

// The output-voltage code of the chip and the voltage it stands for, as the
// Control tab shows it: code 0 is the power-up default of 3.4 V, codes 1 to
// 40 are reserved (the chip regulates at 2.5 V), 41 to 47 step by 50 mV from
// 2.500 V, 48 to 95 by 25 mV up to 4.000 V. Codes the chip must not be given
// (0 to 40 and above 95) are "reserved" here, as the device class treats them.
class PANELCORE_EXPORT VoutCode
{
public:
    static constexpr int minCode = 41;
    static constexpr int maxCode = 95;
    static constexpr int defaultCode = 0;

    static bool isReserved(int code) { return code < minCode || code > maxCode; }
    static double volts(int code);
    // As the Control tab writes them: three decimals for the codes the chip
    // takes, one ("3.4", "2.5", "4.0") for the reserved ones.
    static QString voltsText(int code);
    // The code whose voltage is within half a millivolt of volts; -1 when
    // none is, with err saying which codes are nearest.
    static int fromVolts(double volts, QString &err);
};

} // namespace Bvr60600
