import QtQuick
import QtQuick.Controls

Dial {
    id: control
    property color borderColor: "transparent"

    opacity: enabled ? 1.0 : 0.3

    FocusBorder { borderColor: control.borderColor }
}
