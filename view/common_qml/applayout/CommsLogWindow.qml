import QtQuick
import QtQuick.Window
import orvane.gui.brand

// The communication log in a window of its own.
Window {
    title: qsTr("Comms Log")
    width: 800
    height: 600
    minimumWidth: 500
    minimumHeight: 300
    color: ObjBrand.window

    ViewCommsLog {
        objectName: "commsLogView"
        anchors.fill: parent
    }
}
