import QtQuick
import QtQuick.Controls
import brand
import controls
import applayout
import orvane.gui.brand
import orvane.gui.settings
import "smartutils.js" as Utils

// A radio button with the smart look. It is not bound: its user sets thlp,
// ttip and validationState and handles the choice itself, since one choice
// usually spans several model properties.
OrvaneRadioButton {
    id: control
    property var objModel: typeof myModel !== "undefined" ? myModel : undefined
    property var railIndex: undefined
    property bool silenceWarnings: false
    property string thlp: ""
    property string ttip: ""
    property int validationState: Constants.validationStates.ok

    borderColor: Utils.getValidationColor(validationState)
    font.bold: Utils.isChanged(validationState)
    font.italic: Utils.isChanged(validationState)
    ToolTip.text: Utils.tooltipText()
    ToolTip.visible: hovered && ToolTip.text !== ""
    ToolTip.delay: 500
    onActiveFocusChanged: if (activeFocus) Utils.showHelp()
    Component.onCompleted: Utils.setup(control, null)
    Component.onDestruction: Utils.unsetSmartParent()
}
