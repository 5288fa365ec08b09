import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import QtQuick.Window
import controls
import orvane.gui.brand

// Shows the script that writing the pending register changes would run.
OrvaneWindow {
    id: scriptWindow
    objectName: "registerScriptWindow"
    property var script: []

    signal writeAll()
    signal discardAll()

    title: qsTr("Register modification script")
    width: 560
    height: 420
    minimumWidth: 360
    minimumHeight: 240

    ColumnLayout {
        anchors.fill: parent
        anchors.margins: 10
        spacing: 10

        ScrollView {
            Layout.fillWidth: true
            Layout.fillHeight: true
            TextArea {
                objectName: "scriptText"
                readOnly: true
                text: scriptWindow.script.join("\n")
                font.family: "monospace"
                color: ObjBrand.text
                background: Rectangle { color: ObjBrand.base; border.color: ObjBrand.border }
            }
        }
        RowLayout {
            Layout.alignment: Qt.AlignRight
            spacing: 10
            OrvaneButton {
                objectName: "writeAll"
                text: qsTr("Write All")
                onClicked: { scriptWindow.writeAll(); scriptWindow.close() }
            }
            OrvaneButton {
                objectName: "discardAll"
                text: qsTr("Discard All")
                onClicked: { scriptWindow.discardAll(); scriptWindow.close() }
            }
            OrvaneButton {
                text: qsTr("Close")
                onClicked: scriptWindow.close()
            }
        }
    }
}
