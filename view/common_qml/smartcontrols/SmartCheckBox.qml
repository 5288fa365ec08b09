import QtQuick
import QtQuick.Controls
import brand
import controls
import applayout
import orvane.gui.brand
import orvane.gui.settings
import "smartutils.js" as Utils

// A check box bound to the boolean property named by objectName.
OrvaneCheckBox {
    id: control
    property var objModel: typeof myModel !== "undefined" ? myModel : undefined
    property var railIndex: undefined
    property bool silenceWarnings: false
    property string thlp: Utils.access("_help", "")
    property string ttip: Utils.access("_tip", "")
    property int validationState: Utils.access("_state", Constants.validationStates.ok)
    property bool disableDefaultOnToggled: false
    readonly property bool modelValue: Utils.access("", false)

    checked: modelValue
    onToggled: {
        if (disableDefaultOnToggled)
            return
        Utils.write(checked)
        checked = Qt.binding(() => modelValue)
    }

    borderColor: Utils.getValidationColor(validationState)
    font.bold: Utils.isChanged(validationState)
    font.italic: Utils.isChanged(validationState)
    ToolTip.text: Utils.tooltipText()
    ToolTip.visible: hovered && ToolTip.text !== ""
    ToolTip.delay: 500
    onActiveFocusChanged: if (activeFocus) Utils.showHelp()
    Component.onCompleted: Utils.setup(control, ["", "_help", "_tip", "_state"])
    Component.onDestruction: Utils.unsetSmartParent()
}
