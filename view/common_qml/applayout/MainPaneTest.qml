import QtQuick
import QtQuick.Window
import orvane.gui.brand

// The developer's pane: monitoring and scripts, the look, the settings and
// the validation demonstration.
Rectangle {
    id: pane
    color: ObjBrand.secondaryWindow

    // The main window owns the communication-log window.
    signal showCommsLog()

    // The groups and windows are made the first time the pane shows (most
    // starts never show it) and kept from then on.
    readonly property string scriptResult: content.item ? content.item.scriptResult : ""
    readonly property Window demoWindow: content.item ? content.item.demoWindow : null
    readonly property Window summaryWindow: content.item ? content.item.summaryWindow : null
    readonly property Window iconsWindow: content.item ? content.item.iconsWindow : null

    Loader {
        id: content
        anchors.fill: parent
        active: false
        source: "MainPaneTestContent.qml"
    }
    Binding {
        target: content
        property: "active"
        value: true
        when: pane.visible
        restoreMode: Binding.RestoreNone
    }
}
