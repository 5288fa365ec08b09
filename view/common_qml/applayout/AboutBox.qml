import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import controls
import orvane.gui.brand

// Who made the program and which version it is.
OrvaneDialog {
    id: about
    objectName: "aboutBox"
    title: qsTr("About GUI")
    parent: Overlay.overlay
    anchors.centerIn: parent
    modal: true
    width: 340
    padding: 16

    readonly property string versionText: qsTr("GUI version: ") + Qt.application.version

    contentItem: ColumnLayout {
        spacing: 12
        Image {
            Layout.alignment: Qt.AlignHCenter
            Layout.preferredWidth: 220
            Layout.preferredHeight: 68
            source: ObjBrand.logo !== "" ? ObjBrand.dirRes + ObjBrand.dirLogos + ObjBrand.logo : ""
            fillMode: Image.PreserveAspectFit
            sourceSize.width: 440
            mipmap: true
        }
        Label {
            Layout.alignment: Qt.AlignHCenter
            textFormat: Text.StyledText
            text: "<a href=\"" + ObjBrand.urlProductPage + "\">" + qsTr("About orvane") + "</a>"
            linkColor: ObjBrand.highlightedText
            onLinkActivated: (link) => Qt.openUrlExternally(link)
            HoverHandler { cursorShape: Qt.PointingHandCursor }
        }
        Label {
            objectName: "version"
            Layout.alignment: Qt.AlignHCenter
            text: about.versionText
            color: ObjBrand.text
        }
        OrvaneButton {
            objectName: "close"
            Layout.alignment: Qt.AlignHCenter
            text: qsTr("Close")
            onClicked: about.close()
        }
    }
}
