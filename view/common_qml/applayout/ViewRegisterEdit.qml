import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import controls
import orvane.gui.brand
import "codetexts.js" as CodeTexts

// Edits one register bit by bit or as a hex number. Only bits of writable
// fields can change: a typed value that touches any other bit is refused
// and the field shows the value again.
Dialog {
    id: editor
    objectName: "viewRegisterEdit"
    property string uid: ""
    property string address: ""
    property string name: ""
    property int size: 8
    // What the chip holds, and what the editor shows (with a pending change).
    property int deviceValue: 0
    property int value: 0
    property var fields: []
    readonly property int digits: Math.max(1, Math.ceil(size / 4))
    readonly property int writableMask: {
        let mask = 0
        for (const field of fields) {
            if (String(field.access).toLowerCase().indexOf("w") < 0)
                continue
            const start = parseInt(field.start)
            const width = parseInt(field.size)
            for (let bit = start; bit < start + width && bit < size; ++bit)
                mask |= (1 << bit)
        }
        return mask
    }

    // Emitted for every change the user makes, and for a discard.
    signal edited(string uid, int value)

    function canWrite(bit) {
        return ((writableMask >> bit) & 1) === 1
    }

    // Returns whether the text was taken.
    function applyText(text) {
        const digitsOnly = String(text).trim().replace(/^0[xX]/, "")
        const typed = /^[0-9A-Fa-f]+$/.test(digitsOnly) ? parseInt(digitsOnly, 16) : NaN
        if (isNaN(typed) || ((typed ^ value) & ~writableMask) !== 0) {
            hexField.text = CodeTexts.hexText(value, digits)
            return false
        }
        setValue(typed)
        return true
    }

    function setValue(newValue) {
        value = newValue
        hexField.text = CodeTexts.hexText(value, digits)
        edited(uid, value)
    }

    title: qsTr("Edit Register") + " (" + address + ") " + name + " " + CodeTexts.hexText(value, digits)
    modal: true
    anchors.centerIn: Overlay.overlay
    palette.window: ObjBrand.window
    palette.windowText: ObjBrand.windowText
    palette.base: ObjBrand.base
    palette.text: ObjBrand.text
    palette.button: ObjBrand.button
    palette.buttonText: ObjBrand.buttonText
    onOpened: hexField.text = CodeTexts.hexText(value, digits)

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
                onEditingFinished: editor.applyText(text)
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
                        checked: ((editor.value >> bitCell.bit) & 1) === 1
                        enabled: checkable
                        text: checked ? "1" : "0"
                        implicitWidth: 34
                        onToggled: {
                            editor.setValue(editor.value ^ (1 << bitCell.bit))
                            checked = Qt.binding(() => ((editor.value >> bitCell.bit) & 1) === 1)
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
                onClicked: editor.setValue(editor.deviceValue)
            }
            OrvaneButton {
                text: qsTr("Close")
                onClicked: editor.close()
            }
        }
    }
}
