import QtQuick
import QtQuick.Controls

// A spin box for real numbers: the underlying integer value is the number
// scaled by 10^decimals, so steps and limits stay exact.
OrvaneSpinBox {
    id: control
    property int decimals: 2
    property real realFrom: 0
    property real realTo: 100
    property real realStepSize: 0.01
    readonly property real factor: Math.pow(10, decimals)
    readonly property real realValue: value / factor

    from: Math.round(realFrom * factor)
    to: Math.round(realTo * factor)
    stepSize: Math.max(1, Math.round(realStepSize * factor))

    validator: DoubleValidator {
        bottom: Math.min(control.realFrom, control.realTo)
        top: Math.max(control.realFrom, control.realTo)
        decimals: control.decimals
        notation: DoubleValidator.StandardNotation
    }
    textFromValue: function(value, locale) {
        return Number(value / factor).toLocaleString(locale, 'f', decimals)
    }
    valueFromText: function(text, locale) {
        return Math.round(Number.fromLocaleString(locale, text) * factor)
    }
}
