import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import controls
import orvane.gui.brand
import orvane.gui.devicemgr
import orvane.gui.modelmgr
import orvane.gui.settings

// Shown while there is no current device: open a project, or put the chip
// into the project by hand.
Item {
    id: welcome
    objectName: "welcomeView"

    // The window owns the project dialog; this view only asks for it.
    signal openProjectRequested()

    readonly property alias addDeviceDialog: addDialog

    Image {
        anchors.fill: parent
        source: ObjBrand.dirRes + ObjBrand.dirImages + "background.png"
        fillMode: Image.PreserveAspectCrop
        asynchronous: true
    }

    ColumnLayout {
        anchors.centerIn: parent
        spacing: 16

        Label {
            Layout.alignment: Qt.AlignHCenter
            text: qsTr("Start")
            color: ObjBrand.text
            font.pixelSize: 32
            font.bold: true
        }
        OrvaneButton {
            objectName: "openConfiguration"
            Layout.preferredWidth: 280
            Layout.preferredHeight: 44
            text: qsTr("Open device configuration")
            icon.source: ObjBrand.dirRes + ObjBrand.dirMaterial + "folder_open_FILL0_wght400_GRAD0_opsz24.png"
            onClicked: welcome.openProjectRequested()
        }
        OrvaneButton {
            objectName: "createOffline"
            Layout.preferredWidth: 280
            Layout.preferredHeight: 44
            text: qsTr("Create offline device")
            icon.source: ObjBrand.dirRes + ObjBrand.dirMaterial + "add_circle_FILL0_wght400_GRAD0_opsz24.png"
            onClicked: addDialog.open()
        }
    }

    OrvaneDialog {
        id: addDialog
        objectName: "addDeviceDialog"
        title: qsTr("Add device")
        parent: Overlay.overlay
        anchors.centerIn: parent
        width: 350
        height: 125
        modal: true
        padding: 8

        // Adds the chosen address; an error stays in the dialog as a tooltip.
        function addToProject() {
            const types = ObjModelMgr.modelTypes()
            const type = types.length > 0 ? types[0] : ""
            const err = ObjDeviceMgr.addDeviceToProject(":" + addressBox.currentText + ":" + type, {})
            if (err !== "") {
                errorTip.text = err
                errorTip.open()
            } else {
                addDialog.close()
            }
        }

        contentItem: ColumnLayout {
            spacing: 8
            RowLayout {
                spacing: 10
                Label {
                    text: ObjSettings.i2c8BitAddress ? qsTr("I2C 8_bit Address") : qsTr("I2C 7_bit Address")
                    color: ObjBrand.text
                }
                OrvaneComboBox {
                    id: addressBox
                    objectName: "addressBox"
                    Layout.fillWidth: true
                    model: ["0x70", "0x71"]
                }
            }
            RowLayout {
                Layout.alignment: Qt.AlignRight
                OrvaneButton {
                    objectName: "addToProject"
                    text: qsTr("Add to Project")
                    highlighted: true
                    onClicked: addDialog.addToProject()
                    ToolTip {
                        id: errorTip
                        timeout: 2500
                    }
                }
                OrvaneButton {
                    text: qsTr("Cancel")
                    onClicked: addDialog.close()
                }
            }
        }
        onOpened: addressBox.forceActiveFocus()
        Shortcut {
            sequences: ["Return", "Enter"]
            enabled: addDialog.opened
            onActivated: addDialog.addToProject()
        }
    }
}
