import QtQuick
import QtQuick.Controls
import brand
import controls
import applayout
import orvane.gui.brand
import orvane.gui.settings
import "smartutils.js" as Utils

// A combo box whose entries are the model's X_keys and whose index is X.
OrvaneComboBox {
    id: control
    property var objModel: typeof myModel !== "undefined" ? myModel : undefined
    property var railIndex: undefined
    property bool silenceWarnings: false
    property string thlp: Utils.access("_help", "")
    property string ttip: Utils.access("_tip", "")
    property int validationState: Utils.access("_state", Constants.validationStates.ok)
    property bool disableDefaultOnCurrentIndexChanged: false
    readonly property int modelValue: Utils.access("", 0)

    model: Utils.access("_keys", [""])
    currentIndex: modelValue
    // Only an index the model does not hold yet is written: a reload of the
    // entries moves the index too, and must not overwrite the model.
    onCurrentIndexChanged: {
        if (disableDefaultOnCurrentIndexChanged || currentIndex < 0 || currentIndex === modelValue)
            return
        Utils.write(currentIndex)
        currentIndex = Qt.binding(() => modelValue)
    }
    onActivated: {
        if (Utils.sanityCheck(objectName + "_dirty", control))
            objModel[objectName + "_dirty"] = ""
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
