import QtQuick
import QtQuick.Controls
import orvane.gui.brand

TextField {
    id: control
    property color borderColor: "transparent"

    opacity: enabled ? 1.0 : 0.3
    palette.base: ObjBrand.base
    palette.text: ObjBrand.text
    palette.highlight: ObjBrand.highlight
    palette.highlightedText: ObjBrand.highlightedText

    FocusBorder { borderColor: control.borderColor }
}
