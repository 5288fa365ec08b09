import QtQuick

// An integer code shown as a physical value: offset + code × lsb.
SmartSpinBox {
    id: control
    property real lsb: 0.01
    property real offset: 0
    property int decimals: 2

    validator: DoubleValidator {
        decimals: control.decimals
        notation: DoubleValidator.StandardNotation
    }
    textFromValue: function(value, locale) {
        return Number(offset + value * lsb).toLocaleString(locale, 'f', decimals)
    }
    valueFromText: function(text, locale) {
        return Math.round((Number.fromLocaleString(locale, text) - offset) / lsb)
    }
}
