import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import QtQuick.Window
import controls
import orvane.gui.brand

// The current look at a glance: style, logo, every style colour and the
// fixed palettes, for checking a palette change without hunting for it.
OrvaneWindow {
    id: summary
    objectName: "brandSummary"
    title: qsTr("Brand Summary")
    width: 760
    height: 620

    readonly property var colorNames: [
        "altBase", "base", "border", "button", "buttonText", "darker", "darkerHighlight",
        "grpTitleAccent", "grpBackground", "highlight", "highlightedText", "rbutton",
        "rbuttonHovered", "secondaryBase", "secondaryWindow", "text", "window", "windowText",
        "online", "offline", "ledGreen", "ledRed", "ledBlue", "ledGray", "ledYellow",
        "menuHighlight", "notificationBg", "warningColor", "errorColor"
    ]
    readonly property var palettes: [
        { name: "orvanePrimary", colors: ObjBrand.orvanePrimary },
        { name: "orvaneSecondary", colors: ObjBrand.orvaneSecondary },
        { name: "kvtCustom", colors: ObjBrand.kvtCustom }
    ]

    component Swatch: Rectangle {
        width: 22
        height: 22
        radius: 3
        border.color: ObjBrand.text
        border.width: 1
    }

    ScrollView {
        id: scroll
        anchors.fill: parent
        anchors.margins: 12
        contentWidth: availableWidth
        clip: true

        ColumnLayout {
            width: scroll.availableWidth
            spacing: 10

            RowLayout {
                spacing: 16
                Image {
                    Layout.preferredWidth: 200
                    Layout.preferredHeight: 62
                    source: ObjBrand.logo !== "" ? ObjBrand.dirRes + ObjBrand.dirLogos + ObjBrand.logo : ""
                    fillMode: Image.PreserveAspectFit
                    sourceSize.width: 400
                    mipmap: true
                }
                Label {
                    color: ObjBrand.text
                    text: qsTr("Style: %1\nLogo: %2\nChart theme: %3").arg(ObjBrand.style)
                          .arg(ObjBrand.logo).arg(ObjBrand.chartTheme === "" ? "-" : ObjBrand.chartTheme)
                }
            }

            Label { text: qsTr("Style colours"); color: ObjBrand.text; font.bold: true }
            GridLayout {
                columns: 3
                columnSpacing: 20
                rowSpacing: 4
                Repeater {
                    model: summary.colorNames
                    RowLayout {
                        required property string modelData
                        Layout.preferredWidth: 220
                        spacing: 8
                        Swatch { color: ObjBrand[modelData] }
                        Label {
                            Layout.fillWidth: true
                            color: ObjBrand.text
                            text: modelData + "  " + String(ObjBrand[modelData]).toUpperCase()
                            font.pixelSize: 12
                            elide: Text.ElideRight
                        }
                    }
                }
            }

            Label { text: qsTr("Palettes"); color: ObjBrand.text; font.bold: true }
            Repeater {
                model: summary.palettes
                RowLayout {
                    required property var modelData
                    spacing: 6
                    Label {
                        Layout.preferredWidth: 130
                        text: modelData.name
                        color: ObjBrand.text
                    }
                    Repeater {
                        model: modelData.colors
                        Swatch {
                            required property color modelData
                            color: modelData
                        }
                    }
                }
            }

            Label {
                textFormat: Text.StyledText
                linkColor: ObjBrand.highlightedText
                color: ObjBrand.text
                text: "<a href=\"" + ObjBrand.urlStyleGuide + "\">" + qsTr("Style guide") + "</a>"
                onLinkActivated: (link) => Qt.openUrlExternally(link)
            }
        }
    }
}
