import QtQuick
import QtQuick.Controls
import brand
import controls
import applayout
import orvane.gui.brand
import orvane.gui.settings
import "smartutils.js" as Utils

// A text field bound to the text property named by objectName; the model
// sees the text when editing finishes, not on every key.
OrvaneTextField {
    id: control
    property var objModel: typeof myModel !== "undefined" ? myModel : undefined
    property var railIndex: undefined
    property bool silenceWarnings: false
    property string thlp: Utils.access("_help", "")
    property string ttip: Utils.access("_tip", "")
    property int validationState: Utils.access("_state", Constants.validationStates.ok)
    property bool disableDefaultOnEditingFinished: false
    readonly property string modelValue: Utils.access("", "")

    text: modelValue
    onEditingFinished: {
        if (disableDefaultOnEditingFinished)
            return
        Utils.write(text)
        text = Qt.binding(() => modelValue)
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
