import QtQuick
import QtQuick.Controls

SpinBox {
    id: control
    property color borderColor: "transparent"
    property bool scrollable: true

    editable: true
    opacity: enabled ? 1.0 : 0.3

    FocusBorder { borderColor: control.borderColor }
    WheelStepper {
        enabled: control.scrollable && control.enabled
        onStepped: (steps) => {
            const old = control.value
            control.value = Math.max(control.from, Math.min(control.to, old + steps * control.stepSize))
            if (control.value !== old)
                control.valueModified()
        }
    }
}
