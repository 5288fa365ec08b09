import QtQuick
import QtQuick.Controls
import QtQuick.Dialogs
import QtQuick.Layouts
import QtQuick.Window
import brand
import controls
import orvane.gui.brand
import orvane.gui.devicemgr
import orvane.gui.settings
import orvane.gui.utils

// The side pane of the single-device window: logo, adapter banner, the
// device box and the device's read/write buttons.
Rectangle {
    id: pane
    color: ObjBrand.secondaryWindow

    readonly property bool connected: ObjDeviceMgr.currentConnected
    readonly property var datFields: ObjDeviceMgr.currentDat.split(":")
    readonly property string datType: datFields.length > 2 ? datFields[2] : ""
    readonly property string datAddress: datFields.length > 1 ? datFields[1] : ""

    Connections {
        target: ObjDeviceMgr
        // Scan everything until the device is found; then only its address.
        function onCurrentConnectedChanged(connected) { ObjSettings.scanOpen = !connected }
        function onDoneReadConfiguration(err, ctx, dat) {
            if (err !== "")
                pane.showError(qsTr("Read configuration failed with error: ") + err)
        }
        function onDoneWriteConfiguration(err, ctx, dat) {
            if (err !== "")
                pane.showError(qsTr("Write configuration failed with error: ") + err)
        }
        // This window handles one device; the manager decides which.
        function onEventProjectDevices() { ObjDeviceMgr.keepOneDevice() }
    }

    function showError(text) {
        errorDialog.text = text
        errorDialog.open()
    }

    MessageDialog {
        id: errorDialog
        // The root item joins the view only after its children are
        // complete, so the dialog cannot find the window by itself.
        parentWindow: pane.Window.window
        objectName: "errorDialog"
        title: qsTr("Error")
        buttons: MessageDialog.Ok
    }

    Timer {
        id: pollTimer
        interval: pollingPeriod.value
        repeat: true
        running: pane.connected && autoPolling.checked
        onTriggered: ObjDeviceMgr.scheduleReadOnActivity()
    }

    ColumnLayout {
        anchors.fill: parent
        anchors.margins: 10
        spacing: 10

        Image {
            objectName: "logo"
            Layout.fillWidth: true
            Layout.preferredHeight: 60
            source: ObjBrand.logo !== "" ? ObjBrand.dirRes + ObjBrand.dirLogos + ObjBrand.logo : ""
            fillMode: Image.PreserveAspectFit
            sourceSize.width: 420
            smooth: true
            mipmap: true
        }

        Rectangle {
            objectName: "adapterBanner"
            Layout.fillWidth: true
            Layout.preferredHeight: 34
            radius: 4
            color: ObjDeviceMgr.dongleCount > 0 ? ObjBrand.online : ObjBrand.offline
            readonly property alias text: bannerText.text
            Label {
                id: bannerText
                anchors.centerIn: parent
                text: ObjDeviceMgr.dongleCount > 0 ? qsTr("POD Connected") : qsTr("No POD Connection")
                color: ObjBrand.text
                font.bold: true
            }
        }

        Rectangle {
            id: deviceBox
            objectName: "deviceBox"
            visible: ObjDeviceMgr.currentDat !== ""
            Layout.fillWidth: true
            Layout.preferredHeight: deviceColumn.implicitHeight + 16
            radius: 4
            color: ObjBrand.grpBackground
            border.color: pane.connected ? ObjBrand.online : ObjBrand.offline
            border.width: 2
            readonly property alias title: deviceTitle.text

            ColumnLayout {
                id: deviceColumn
                anchors.fill: parent
                anchors.margins: 8
                spacing: 4
                Rectangle {
                    Layout.fillWidth: true
                    Layout.preferredHeight: 28
                    radius: 3
                    color: pane.connected ? ObjBrand.online : ObjBrand.offline
                    Label {
                        id: deviceTitle
                        anchors.centerIn: parent
                        text: pane.connected ? qsTr("Device Connected") : qsTr("Device Disconnected")
                        color: ObjBrand.text
                        font.bold: true
                    }
                }
                Label {
                    objectName: "deviceType"
                    textFormat: Text.StyledText
                    color: ObjBrand.text
                    text: qsTr("Type: ") + "<b>" + pane.datType.toUpperCase() + "</b>"
                }
                Label {
                    objectName: "deviceAddress"
                    textFormat: Text.StyledText
                    color: ObjBrand.text
                    text: qsTr("I2C Address: ") + "<b>" + pane.datAddress + "</b>"
                }
                Label {
                    objectName: "deviceStatus"
                    textFormat: Text.StyledText
                    color: ObjBrand.text
                    text: qsTr("Status: ") + "<b>" + (pane.connected ? qsTr("Connected") : qsTr("Disconnected")) + "</b>"
                }
            }
        }

        ColumnLayout {
            visible: pane.connected
            Layout.fillWidth: true
            spacing: 6

            OrvaneCheckBox {
                id: autoPolling
                objectName: "autoPolling"
                text: qsTr("Auto Polling")
                checked: true
            }
            Label {
                text: qsTr("Polling Period (ms)")
                color: ObjBrand.text
            }
            OrvaneSpinBox {
                id: pollingPeriod
                objectName: "pollingPeriod"
                Layout.fillWidth: true
                from: 1000
                to: 5000
                stepSize: 500
                value: 1000
                editable: true
            }
            OrvaneButton {
                objectName: "readAll"
                Layout.fillWidth: true
                text: qsTr("Read All")
                onClicked: ObjDeviceMgr.doReadConfiguration()
            }
            OrvaneButton {
                objectName: "writeConfiguration"
                Layout.fillWidth: true
                text: qsTr("Write Configuration")
                visible: pane.connected && !ObjSettings.immediateMode
                         && pane.datType !== Constants.deviceTypes.unknownpmbus
                onClicked: ObjDeviceMgr.doWriteConfiguration()
            }
        }

        Item { Layout.fillHeight: true }
    }
}
