import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import controls
import orvane.gui.brand
import orvane.gui.commslog

// The communication log: one line per bus event, newest last.
Rectangle {
    id: view
    color: ObjBrand.window

    // Enough history to scroll back through a script run without the list
    // growing for ever in a long session.
    readonly property int maxLines: 600
    property int errorCount: 0
    readonly property alias lines: logModel
    readonly property alias tail: tailBox.checked

    function clear() {
        logModel.clear()
        errorCount = 0
    }

    ListModel { id: logModel }

    Connections {
        target: ObjCommsLog
        function onEventLog(event, isError) {
            logModel.append({ line: Qt.formatTime(new Date(), "hh:mm:ss") + " " + event, isError: isError })
            if (logModel.count > view.maxLines)
                logModel.remove(0, logModel.count - view.maxLines)
            if (isError)
                view.errorCount += 1
            if (tailBox.checked)
                logList.positionViewAtEnd()
        }
    }

    ColumnLayout {
        anchors.fill: parent
        anchors.margins: 6
        spacing: 6

        RowLayout {
            Layout.fillWidth: true
            spacing: 8
            OrvaneButton {
                objectName: "clear"
                text: qsTr("Clear")
                onClicked: view.clear()
            }
            OrvaneTextField {
                objectName: "filter"
                Layout.preferredWidth: 140
                maximumLength: 10
                placeholderText: qsTr("Filter")
                placeholderTextColor: Qt.rgba(ObjBrand.text.r, ObjBrand.text.g, ObjBrand.text.b, 0.5)
                text: ObjCommsLog.filter
                onEditingFinished: ObjCommsLog.filter = text
            }
            OrvaneCheckBox {
                id: tailBox
                objectName: "tail"
                text: qsTr("Tail")
                checked: true
                onToggled: if (checked) logList.positionViewAtEnd()
            }
            OrvaneCheckBox {
                objectName: "dump"
                text: qsTr("Dump")
                checked: ObjCommsLog.dumpLog
                onToggled: {
                    ObjCommsLog.dumpLog = checked
                    checked = Qt.binding(() => ObjCommsLog.dumpLog)
                }
            }
            Label {
                objectName: "errorCount"
                visible: view.errorCount > 0
                text: "(" + view.errorCount + ")"
                color: ObjBrand.errorColor
                font.bold: true
            }
            Item { Layout.fillWidth: true }
        }

        Rectangle {
            Layout.fillWidth: true
            Layout.fillHeight: true
            color: ObjBrand.base
            border.color: ObjBrand.border

            ColumnLayout {
                anchors.fill: parent
                anchors.margins: 1
                spacing: 0
                Rectangle {
                    Layout.fillWidth: true
                    Layout.preferredHeight: 26
                    color: ObjBrand.altBase
                    Label {
                        anchors.verticalCenter: parent.verticalCenter
                        x: 6
                        text: qsTr("Time  Event")
                        color: ObjBrand.text
                        font.bold: true
                        font.family: "monospace"
                    }
                }
                ListView {
                    id: logList
                    objectName: "logList"
                    Layout.fillWidth: true
                    Layout.fillHeight: true
                    clip: true
                    model: logModel
                    boundsBehavior: Flickable.StopAtBounds
                    ScrollBar.vertical: ScrollBar {}
                    delegate: Text {
                        required property string line
                        required property bool isError
                        x: 6
                        width: ListView.view.width - 18
                        wrapMode: Text.WrapAnywhere
                        text: line
                        color: isError ? ObjBrand.errorColor : ObjBrand.text
                        font.family: "monospace"
                        font.pixelSize: 13
                        textFormat: Text.PlainText
                    }
                }
            }
        }
    }
}
