import QtQuick
import QtQuick.Controls
import orvane.gui.brand

ComboBox {
    id: control
    property color borderColor: "transparent"
    property bool scrollable: true

    opacity: enabled ? 1.0 : 0.3
    // The outline is drawn from the window colour; in a group that tints its
    // window the control keeps the window's outline.
    palette.window: ObjBrand.window

    FocusBorder { borderColor: control.borderColor }
    WheelStepper {
        enabled: control.scrollable && control.enabled
        // Wheel up picks the entry above, as in a list.
        onStepped: (steps) => {
            const index = Math.max(0, Math.min(control.count - 1, control.currentIndex - steps))
            if (index !== control.currentIndex) {
                control.currentIndex = index
                control.activated(index)
            }
        }
    }
}
