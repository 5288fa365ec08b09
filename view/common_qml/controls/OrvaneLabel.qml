import QtQuick
import QtQuick.Controls
import orvane.gui.brand

// Shows a number with a fixed count of decimals and its unit.
Label {
    id: control
    property real value: 0
    property int precision: 3
    property string unit: ""
    property color borderColor: "transparent"
    readonly property alias hovered: hover.hovered

    text: Number(value).toFixed(precision) + (unit !== "" ? " " + unit : "")
    color: ObjBrand.text
    opacity: enabled ? 1.0 : 0.3

    HoverHandler { id: hover }
    FocusBorder { borderColor: control.borderColor; solid: true }
}
