import QtQuick
import QtQuick.Controls
import orvane.gui.brand

CheckBox {
    id: control
    property color borderColor: "transparent"

    opacity: enabled ? 1.0 : 0.3
    palette.base: ObjBrand.base
    palette.text: ObjBrand.text
    palette.windowText: ObjBrand.windowText
    palette.highlight: ObjBrand.highlight

    FocusBorder { borderColor: control.borderColor }
}
