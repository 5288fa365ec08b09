import QtQuick
import QtQuick.Controls
import controls
import "codetexts.js" as CodeTexts

// An integer typed and shown in hexadecimal: "0x" and upper-case digits on
// display; typing accepts the digits with or without the "0x".
OrvaneSpinBox {
    id: control
    property int digits: 2

    from: 0
    to: 0xFF
    scrollable: false
    validator: RegularExpressionValidator {
        regularExpression: new RegExp("(0[xX])?[0-9A-Fa-f]{1," + control.digits + "}")
    }
    textFromValue: function(value) {
        return CodeTexts.hexText(value, control.digits)
    }
    valueFromText: function(text) {
        const digitsOnly = String(text).replace(/^0[xX]/, "")
        const value = parseInt(digitsOnly, 16)
        return isNaN(value) ? control.value : Math.max(control.from, Math.min(control.to, value))
    }
}
