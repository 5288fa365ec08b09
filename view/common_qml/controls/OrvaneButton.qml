import QtQuick
import QtQuick.Controls
import orvane.gui.brand

Button {
    id: control
    property color borderColor: "transparent"

    opacity: enabled ? 1.0 : 0.3
    palette.button: ObjBrand.button
    palette.buttonText: ObjBrand.buttonText
    palette.highlight: ObjBrand.highlight
    palette.window: ObjBrand.window

    FocusBorder { borderColor: control.borderColor }
}
