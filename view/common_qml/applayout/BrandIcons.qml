import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import QtQuick.Window
import Qt.labs.folderlistmodel
import controls
import orvane.gui.brand

// Every picture compiled into the program, by folder, with its file name.
OrvaneWindow {
    id: icons
    objectName: "brandIcons"
    title: qsTr("Brand Icons")
    width: 760
    height: 560

    component Tile: ColumnLayout {
        id: tile
        property string path
        property string name
        spacing: 2
        Rectangle {
            Layout.preferredWidth: 170
            Layout.preferredHeight: 70
            // White artwork needs a dark ground to be seen at all.
            color: /reverse|wht/.test(tile.name) ? "#303030" : (/blk|full_color/.test(tile.name) ? "#F6F6F6" : ObjBrand.base)
            border.color: ObjBrand.border
            Image {
                anchors.fill: parent
                anchors.margins: 6
                source: tile.path
                fillMode: Image.PreserveAspectFit
                sourceSize.height: 120
                asynchronous: true
                mipmap: true
            }
        }
        Label {
            Layout.preferredWidth: 170
            text: tile.name
            color: ObjBrand.text
            font.pixelSize: 11
            elide: Text.ElideMiddle
        }
    }

    component Folder: ColumnLayout {
        id: folder
        property string title
        property string dir
        property var files: []
        visible: files.length > 0
        Label { text: folder.title; color: ObjBrand.text; font.bold: true }
        Flow {
            Layout.fillWidth: true
            spacing: 10
            Repeater {
                model: folder.files
                Tile {
                    required property string modelData
                    name: modelData
                    path: ObjBrand.dirRes + folder.dir + modelData
                }
            }
        }
    }

    // The material icons have no list of their own: read the folder.
    FolderListModel {
        id: materialFolder
        folder: ObjBrand.dirRes + ObjBrand.dirMaterial
        nameFilters: ["*.png"]
        showDirs: false
    }
    readonly property var materialFiles: {
        const list = []
        for (let i = 0; i < materialFolder.count; ++i)
            list.push(materialFolder.get(i, "fileName"))
        return list
    }

    ScrollView {
        id: scroll
        anchors.fill: parent
        anchors.margins: 12
        contentWidth: availableWidth
        clip: true

        ColumnLayout {
            width: scroll.availableWidth
            spacing: 14
            Folder { Layout.fillWidth: true; title: qsTr("Logos"); dir: ObjBrand.dirLogos; files: ObjBrand.logos }
            Folder { Layout.fillWidth: true; title: qsTr("Images"); dir: ObjBrand.dirImages; files: ObjBrand.images }
            Folder { Layout.fillWidth: true; title: qsTr("Icons"); dir: ObjBrand.dirIcons; files: ObjBrand.icons }
            Folder { Layout.fillWidth: true; title: qsTr("Material"); dir: ObjBrand.dirMaterial; files: icons.materialFiles }
        }
    }
}
