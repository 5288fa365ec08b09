import QtQuick

// The frame that shows a control's validation colour: either a solid frame
// on the control's edge, or a translucent halo outside it that widens while
// the control has focus, so the colour never covers the control's content.
Rectangle {
    property color borderColor: "transparent"
    property bool solid: false
    property bool focused: parent ? parent.activeFocus : false
    readonly property int spread: solid ? 0 : (focused ? 4 : 2)

    anchors.fill: parent
    anchors.margins: -spread
    z: 100
    color: "transparent"
    radius: solid ? 0 : 3
    border.color: borderColor
    border.width: solid ? 1 : spread
    opacity: solid ? 1.0 : 0.7
    visible: borderColor.a > 0
}
