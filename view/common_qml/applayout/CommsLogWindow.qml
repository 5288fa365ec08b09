import QtQuick
import QtQuick.Window
import controls
import orvane.gui.brand

// The communication log in a window of its own.
OrvaneWindow {
    title: qsTr("Comms Log")
    width: 800
    height: 600
    minimumWidth: 500
    minimumHeight: 300

    ViewCommsLog {
        objectName: "commsLogView"
        anchors.fill: parent
    }
}
