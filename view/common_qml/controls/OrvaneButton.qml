import QtQuick
import QtQuick.Controls
import orvane.gui.brand

Button {
    id: control
    property color borderColor: "transparent"

    opacity: enabled ? 1.0 : 0.3
    // The outline is drawn from the window colour; in a group that tints its
    // window the control keeps the window's outline.
    palette.window: ObjBrand.window

    FocusBorder { borderColor: control.borderColor }
}
