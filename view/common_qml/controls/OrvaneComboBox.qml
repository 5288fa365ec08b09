import QtQuick
import QtQuick.Controls
import orvane.gui.brand

ComboBox {
    id: control
    property color borderColor: "transparent"
    property bool scrollable: true

    opacity: enabled ? 1.0 : 0.3
    palette.base: ObjBrand.base
    palette.text: ObjBrand.text
    palette.button: ObjBrand.button
    palette.buttonText: ObjBrand.buttonText
    palette.window: ObjBrand.window
    palette.windowText: ObjBrand.windowText
    palette.highlight: ObjBrand.highlight
    palette.highlightedText: ObjBrand.highlightedText

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
