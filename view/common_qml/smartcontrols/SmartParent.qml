import QtQuick
import "smartutils.js" as Utils

// Collects the validation states of the smart controls inside it, and of
// the SmartParents nested in it, so a frame or tab can show the worst one.
Rectangle {
    id: smartParent
    readonly property bool isSmartParent: true
    property var stateGetters: []
    property var childParents: []
    property int stateIndex: -1
    // Maps a rail index to the indexes whose states are combined for it.
    property var phaseIndex: function(index) { return [index] }
    readonly property int validationState: getValidationState(stateIndex)

    function getValidationState(railIndex) {
        let state = 0
        for (const index of phaseIndex(railIndex)) {
            for (const child of childParents)
                state |= child(index)
            for (const getter of stateGetters)
                state |= getter(index)
        }
        return state
    }

    color: "transparent"
    Component.onCompleted: Utils.setSmartParent(smartParent, getValidationState)
    Component.onDestruction: Utils.unsetSmartParent()
}
