import QtQuick
import QtQuick.Controls
import brand
import controls
import applayout
import orvane.gui.brand
import orvane.gui.settings
import "smartutils.js" as Utils

// A dial bound to the numeric property named by objectName.
OrvaneDial {
    id: control
    property var objModel: typeof myModel !== "undefined" ? myModel : undefined
    property var railIndex: undefined
    property bool silenceWarnings: false
    property string thlp: Utils.access("_help", "")
    property string ttip: Utils.access("_tip", "")
    property int validationState: Utils.access("_state", Constants.validationStates.ok)
    property bool disableDefaultOnMoved: false
    readonly property real modelValue: Utils.access("", 0)

    value: modelValue
    onMoved: {
        if (disableDefaultOnMoved)
            return
        Utils.write(value)
        value = Qt.binding(() => modelValue)
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
