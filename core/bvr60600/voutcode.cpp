#include "bvr60600/voutcode.h"

#include <cmath>

namespace Bvr60600 {

namespace {

constexpr int lastLowCode = 47;

QString codeText(int code)
{
    return QStringLiteral("%1 V (0x%2)")
        .arg(VoutCode::volts(code), 0, 'f', 3)
        .arg(code, 2, 16, QLatin1Char('0'));
}

} // namespace

double VoutCode::volts(int code)
{
    if (code == defaultCode)
        return 3.4;
    if (code < minCode)
        return 2.5;
    if (code <= lastLowCode)
        return 0.45 + code * 0.050;
    if (code <= maxCode)
        return 1.625 + code * 0.025;
    return 4.0;
}

QString VoutCode::voltsText(int code)
{
    // Reserved codes carry one decimal: they are not steps of the grid.
    if (isReserved(code))
        return QString::number(volts(code), 'f', 1);
    return QString::number(volts(code), 'f', 3);
}

int VoutCode::fromVolts(double value, QString &err)
{
    err.clear();
    if (!std::isfinite(value) || value < volts(minCode) - 0.0005 || value > volts(maxCode) + 0.0005) {
        err = QStringLiteral("%1 V is outside the output range %2 V to %3 V")
                  .arg(value)
                  .arg(voltsText(minCode), voltsText(maxCode));
        return -1;
    }
    // The grid has two pitches, so the nearest codes are found by search.
    int above = minCode;
    for (int code = minCode; code <= maxCode; ++code) {
        if (std::fabs(volts(code) - value) < 0.0005)
            return code;
        above = code;
        if (volts(code) > value)
            break;
    }
    const int below = above - 1;
    err = QStringLiteral("%1 V is not an output voltage of the chip; the nearest are %2 and %3")
              .arg(value)
              .arg(codeText(below), codeText(above));
    return -1;
}

} // namespace Bvr60600
