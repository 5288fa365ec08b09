import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import applayout
import controls
import orvane.gui.brand
import orvane.gui.devicemgr

// The register map of the current device: its registers, the fields of the
// selected one, a bit editor, and changes kept pending until written as one
// script. The model holds the data and the edits; this view lays them out.
Rectangle {
    id: view
    objectName: "viewRegister"
    property int registerBits: 8
    property var registerColumns: [qsTr("Address"), qsTr("Value"), qsTr("Name")]
    property var fieldColumns: [qsTr("Bits"), qsTr("Access"), qsTr("Reset"), qsTr("Name"), qsTr("Description")]

    readonly property alias pending: registers.pending
    readonly property alias pendingCount: registers.pendingCount
    readonly property string pendingText: pendingCount + " change" + (pendingCount > 1 ? "s" : "")
    readonly property alias selectedUid: registers.selectedUid
    property string lastError: ""

    color: ObjBrand.window

    function refresh() {
        registers.refresh()
    }

    function selectRegister(uid) {
        registers.select(uid)
    }

    function openEditor() {
        if (registers.selectedRow >= 0)
            editor.open()
    }

    function showScript() {
        scriptWindow.script = registers.updateScript()
        scriptWindow.show()
        scriptWindow.raise()
    }

    RegisterMapModel {
        id: registers
        // Other registers replace the list: the scroll position stays where
        // it was, as far as the new list reaches.
        property real keptContentY: 0

        active: view.visible && ObjDeviceMgr.currentConnected
        filter: filterField.text
        registerBits: view.registerBits
        onWritten: (err) => {
            view.lastError = err
            if (err !== "")
                failure.open()
        }
        onSelectionChanged: registerList.currentIndex = selectedRow
        onModelAboutToBeReset: keptContentY = registerList.contentY
        onModelReset: {
            registerList.contentY = Math.min(keptContentY, Math.max(0, registerList.contentHeight - registerList.height))
            registerList.currentIndex = selectedRow
        }
    }

    component HeaderCell: Rectangle {
        property alias text: label.text
        implicitHeight: 28
        color: ObjBrand.secondaryWindow
        border.color: ObjBrand.border
        OrvaneLabel {
            id: label
            anchors.fill: parent
            anchors.leftMargin: 6
            verticalAlignment: Text.AlignVCenter
            font.bold: true
            elide: Text.ElideRight
        }
    }

    component Cell: OrvaneLabel {
        Layout.fillHeight: true
        leftPadding: 6
        verticalAlignment: Text.AlignVCenter
        elide: Text.ElideRight
    }

    ColumnLayout {
        anchors.fill: parent
        anchors.margins: 10
        spacing: 8

        RowLayout {
            spacing: 8
            Layout.fillWidth: true

            OrvaneTextField {
                id: filterField
                objectName: "filter"
                placeholderText: qsTr("Filter")
                Layout.preferredWidth: 200
                onAccepted: registers.refresh()
            }
            OrvaneButton {
                objectName: "refresh"
                text: qsTr("Refresh")
                onClicked: registers.refresh()
            }
            OrvaneButton {
                objectName: "openEdit"
                text: qsTr("Open Edit View")
                enabled: view.selectedUid !== ""
                onClicked: view.openEditor()
            }
            Item { Layout.fillWidth: true }
            OrvaneButton {
                objectName: "writeChanges"
                visible: view.pendingCount > 0
                enabled: !registers.writing
                text: qsTr("Write ") + view.pendingText
                onClicked: registers.writeChanges()
            }
            OrvaneButton {
                objectName: "viewChanges"
                visible: view.pendingCount > 0
                text: qsTr("View ") + view.pendingText
                onClicked: view.showScript()
            }
        }

        SplitView {
            Layout.fillWidth: true
            Layout.fillHeight: true
            orientation: Qt.Vertical

            ListView {
                id: registerList
                objectName: "registerList"
                SplitView.fillHeight: true
                SplitView.minimumHeight: 120
                clip: true
                model: registers
                currentIndex: -1
                headerPositioning: ListView.OverlayHeader
                ScrollBar.vertical: ScrollBar { }
                readonly property var widths: [0.2, 0.2, 0.6]

                header: Row {
                    z: 2
                    Repeater {
                        model: view.registerColumns
                        HeaderCell {
                            required property string modelData
                            required property int index
                            width: registerList.width * registerList.widths[index]
                            text: modelData
                        }
                    }
                }
                delegate: Rectangle {
                    id: registerRow
                    required property int index
                    required property string uid
                    required property string address
                    required property string name
                    required property string valueText
                    required property bool pending
                    width: registerList.width
                    height: 28
                    // A light tint keeps the text readable in both themes.
                    color: ListView.isCurrentItem ? Qt.rgba(ObjBrand.highlight.r, ObjBrand.highlight.g, ObjBrand.highlight.b, 0.35)
                                                  : (index % 2 ? ObjBrand.altBase : ObjBrand.base)

                    RowLayout {
                        anchors.fill: parent
                        spacing: 0
                        Cell {
                            text: registerRow.address
                            Layout.preferredWidth: registerList.width * registerList.widths[0]
                        }
                        Cell {
                            objectName: "value_" + registerRow.uid
                            text: registerRow.valueText
                            font.bold: registerRow.pending
                            Layout.preferredWidth: registerList.width * registerList.widths[1]
                        }
                        Cell {
                            text: registerRow.name
                            Layout.fillWidth: true
                        }
                    }
                    MouseArea {
                        anchors.fill: parent
                        onClicked: registers.select(registerRow.uid)
                        onDoubleClicked: {
                            registers.select(registerRow.uid)
                            view.openEditor()
                        }
                    }
                }
            }

            ListView {
                id: fieldList
                objectName: "fieldList"
                SplitView.preferredHeight: 200
                SplitView.minimumHeight: 80
                clip: true
                model: registers.fields
                headerPositioning: ListView.OverlayHeader
                ScrollBar.vertical: ScrollBar { }
                readonly property var widths: [0.1, 0.1, 0.1, 0.2, 0.5]

                header: Row {
                    z: 2
                    Repeater {
                        model: view.fieldColumns
                        HeaderCell {
                            required property string modelData
                            required property int index
                            width: fieldList.width * fieldList.widths[index]
                            text: modelData
                        }
                    }
                }
                delegate: Rectangle {
                    id: fieldRow
                    required property int index
                    required property string bits
                    required property string access
                    required property string reset
                    required property string name
                    required property string description
                    width: fieldList.width
                    height: 28
                    color: index % 2 ? ObjBrand.altBase : ObjBrand.base

                    Row {
                        anchors.fill: parent
                        Repeater {
                            model: [fieldRow.bits, fieldRow.access, fieldRow.reset, fieldRow.name, fieldRow.description]
                            Cell {
                                required property string modelData
                                required property int index
                                width: fieldList.width * fieldList.widths[index]
                                height: fieldRow.height
                                text: modelData
                                ToolTip.text: modelData
                                ToolTip.visible: truncated && hovered
                            }
                        }
                    }
                }
            }
        }
    }

    ViewRegisterEdit {
        id: editor
        registerMap: registers
    }

    RegisterScriptWindow {
        id: scriptWindow
        onWriteAll: registers.writeChanges()
        onDiscardAll: registers.clearPending()
    }

    OrvaneDialog {
        id: failure
        objectName: "scriptFailure"
        title: qsTr("Register Map")
        modal: true
        // A fixed width: a wrapped message would otherwise size the dialog
        // by itself and the dialog the message.
        width: Math.min(560, view.width - 40)
        anchors.centerIn: Overlay.overlay
        standardButtons: Dialog.Ok
        contentItem: OrvaneLabel {
            objectName: "scriptFailureText"
            text: qsTr("The script execution failed with error(s):\n") + view.lastError
            color: ObjBrand.errorColor
            wrapMode: Text.Wrap
        }
    }
}
