import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import applayout
import controls
import orvane.gui.brand
import "codetexts.js" as CodeTexts

// Edits the selected register of a register map, bit by bit or as a hex
// number. Only bits of writable fields can change: the model refuses a typed
// value that touches any other bit, and the field shows the value again.
OrvaneDialog {
    id: editor
    objectName: "viewRegisterEdit"
    required property RegisterMapModel registerMap
    readonly property int size: registerMap.selectedSize
    readonly property real value: registerMap.selectedValue
    readonly property int digits: Math.max(1, Math.ceil(size / 4))

    function canWrite(bit) {
        return Math.floor(registerMap.selectedWritableMask / Math.pow(2, bit)) % 2 === 1
    }

    function isSet(bit) {
        return Math.floor(value / Math.pow(2, bit)) % 2 === 1
    }

    function showValue() {
        hexField.text = CodeTexts.hexText(value, digits)
    }

    title: qsTr("Edit Register") + " (" + registerMap.selectedAddress + ") " + registerMap.selectedName + " "
           + CodeTexts.hexText(value, digits)
    modal: true
    anchors.centerIn: Overlay.overlay
    onOpened: showValue()
    onValueChanged: showValue()

    contentItem: ColumnLayout {
        spacing: 12

        RowLayout {
            spacing: 10
            OrvaneLabel { text: qsTr("Value") }
            OrvaneTextField {
                id: hexField
                objectName: "hexField"
                maximumLength: editor.digits + 2
                validator: RegularExpressionValidator {
                    regularExpression: new RegExp("(0[xX])?[0-9A-Fa-f]{0," + editor.digits + "}")
                }
                Layout.preferredWidth: 120
                // Taken or refused, the field shows the model's value again.
                onEditingFinished: {
                    editor.registerMap.setSelectedText(text)
                    editor.showValue()
                }
            }
        }

        GridLayout {
            objectName: "bits"
            columns: editor.size <= 8 ? 8 : (editor.size <= 16 ? 16 : 32)
            columnSpacing: 4
            rowSpacing: 4

            Repeater {
                model: editor.size
                delegate: ColumnLayout {
                    id: bitCell
                    required property int index
                    // Highest bit first.
                    readonly property int bit: editor.size - 1 - index
                    spacing: 2
                    OrvaneLabel {
                        text: bitCell.bit
                        font.pixelSize: 11
                        Layout.alignment: Qt.AlignHCenter
                    }
                    OrvaneButton {
                        objectName: "bit" + bitCell.bit
                        checkable: editor.canWrite(bitCell.bit)
                        checked: editor.isSet(bitCell.bit)
                        enabled: checkable
                        text: checked ? "1" : "0"
                        implicitWidth: 34
                        onToggled: {
                            editor.registerMap.toggleSelectedBit(bitCell.bit)
                            checked = Qt.binding(() => editor.isSet(bitCell.bit))
                        }
                    }
                }
            }
        }

        RowLayout {
            Layout.alignment: Qt.AlignRight
            spacing: 10
            OrvaneButton {
                objectName: "discard"
                text: qsTr("Discard Changes")
                onClicked: editor.registerMap.discardSelected()
            }
            OrvaneButton {
                text: qsTr("Close")
                onClicked: editor.close()
            }
        }
    }
}
