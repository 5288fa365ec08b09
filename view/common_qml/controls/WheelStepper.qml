import QtQuick

// One step per wheel notch (120 units of angle). Partial deltas from a
// touchpad are kept until they add up to a notch. Disabled, the wheel goes
// on to whatever is behind (a scrolling view).
MouseArea {
    id: stepper
    signal stepped(int steps)
    property real rest: 0

    anchors.fill: parent
    acceptedButtons: Qt.NoButton
    onWheel: (wheel) => {
        rest += wheel.angleDelta.y
        const steps = rest > 0 ? Math.floor(rest / 120) : Math.ceil(rest / 120)
        rest -= steps * 120
        if (steps !== 0)
            stepper.stepped(steps)
    }
}
