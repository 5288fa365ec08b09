import QtQuick
import QtQuick.Controls
import orvane.gui.brand

Dial {
    id: control
    property color borderColor: "transparent"

    opacity: enabled ? 1.0 : 0.3
    palette.button: ObjBrand.button
    palette.base: ObjBrand.base
    palette.highlight: ObjBrand.highlight
    palette.dark: ObjBrand.darker

    FocusBorder { borderColor: control.borderColor }
}
