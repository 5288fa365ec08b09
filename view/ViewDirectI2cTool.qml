import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import brand
import controls
import applayout
import orvane.gui.brand
import orvane.gui.devicemgr
import orvane.gui.i2csvc

// The Raw I2C tab: single register reads and read-modify-writes of a bit
// field, at any slave address, outside the device model.
Item {
    id: view
    readonly property int rowCount: 20
    readonly property int registerBits: 8
    // A wait runs a local event loop: a second click meanwhile would start
    // a wait inside the first, and the two would take each other's answers.
    property bool busy: false
    readonly property string requestDat: ":" + CodeTexts.hexText(slaveAddress.value, 2).toLowerCase()
                                         + ":" + ObjDeviceMgr.currentType

    // The register's value, or the error text. Each call waits for one bus
    // transfer; the rows call it once per button press.
    function readRegister(regId) {
        const result = ObjI2cSvc.waitPmbusCommand(requestDat, true, false, twoDigits(regId), "00")
        if (typeof result === "string")
            return { err: result, value: 0 }
        if (!result || result.length === undefined || result.length < 1)
            return { err: qsTr("no data read"), value: 0 }
        return { err: "", value: Number(result[0]) & 0xFF }
    }

    function twoDigits(value) {
        return Number(value).toString(16).toUpperCase().padStart(2, "0")
    }

    function fieldMask(width) {
        return (1 << width) - 1
    }

    // Returns the outcome text and whether it is an error.
    function readField(regId, lsb, width) {
        if (ObjDeviceMgr.dongleCount <= 0)
            return null
        const read = readRegister(regId)
        if (read.err !== "")
            return { text: "READ FAILED... " + read.err, isError: true }
        return { text: "READ SUCCESS!", isError: false, value: (read.value >> lsb) & fieldMask(width) }
    }

    function writeField(regId, lsb, width, data) {
        if (ObjDeviceMgr.dongleCount <= 0)
            return null
        // A field reaching past bit 7 would make the value wider than the
        // register, and the transfer would write a second byte.
        if (lsb + width > registerBits)
            return { text: "WRITE FAILED... " + qsTr("LSB + Width is %1, beyond the %2-bit register.")
                                                .arg(lsb + width).arg(registerBits), isError: true }
        const read = readRegister(regId)
        if (read.err !== "")
            return { text: "READ BEFORE WRITE FAILED... " + read.err, isError: true }
        const mask = fieldMask(width)
        const value = ((read.value & ~(mask << lsb)) + ((data & mask) << lsb)) & 0xFF
        const err = ObjI2cSvc.waitPmbusCommand(requestDat, false, false, twoDigits(regId), twoDigits(value))
        if (err === "")
            return { text: "WRITE SUCCESS!", isError: false }
        return { text: "WRITE FAILED... " + err, isError: true }
    }

    function presetAddress() {
        const fields = ObjDeviceMgr.currentDat.split(":")
        const address = fields.length > 1 ? parseInt(fields[1], 16) : NaN
        if (!isNaN(address))
            slaveAddress.value = address
    }

    Component.onCompleted: presetAddress()
    Connections {
        target: ObjDeviceMgr
        function onCurrentDatChanged() { view.presetAddress() }
    }

    ColumnLayout {
        anchors.fill: parent
        anchors.margins: 12
        spacing: 8

        RowLayout {
            spacing: 10
            OrvaneLabel { text: qsTr("Slave Address (7 bit)") }
            HexSpinBox {
                id: slaveAddress
                objectName: "slaveAddress"
                to: 0x7F
                value: 0x70
                Layout.preferredWidth: 120
            }
        }

        // Column titles, as wide as the row controls below them.
        RowLayout {
            spacing: 10
            Repeater {
                model: [["", 80], [qsTr("RegID"), 110], [qsTr("LSB"), 100], [qsTr("Width"), 100], [qsTr("Data"), 110]]
                OrvaneLabel {
                    required property var modelData
                    text: modelData[0]
                    font.bold: true
                    horizontalAlignment: Text.AlignHCenter
                    Layout.preferredWidth: modelData[1]
                }
            }
        }

        ScrollView {
            id: scroll
            Layout.fillWidth: true
            Layout.fillHeight: true
            clip: true
            contentWidth: availableWidth

            Column {
                width: scroll.availableWidth
                spacing: 4

                Repeater {
                    model: view.rowCount
                    delegate: RowLayout {
                        id: row
                        required property int index
                        readonly property bool isWrite: index % 2 === 0
                        property string outcome: ""
                        property bool outcomeIsError: false
                        property int readValue: 0

                        objectName: "i2cRow" + index
                        width: parent.width
                        spacing: 10

                        function run() {
                            if (view.busy)
                                return
                            view.busy = true
                            const outcome = isWrite
                                    ? view.writeField(regIdBox.value, lsbBox.value, widthBox.value, dataBox.value)
                                    : view.readField(regIdBox.value, lsbBox.value, widthBox.value)
                            view.busy = false
                            if (!outcome)
                                return
                            row.outcome = outcome.text
                            row.outcomeIsError = outcome.isError
                            if (!isWrite && !outcome.isError)
                                readValue = outcome.value
                        }

                        OrvaneButton {
                            objectName: "run"
                            text: row.isWrite ? qsTr("Write") : qsTr("Read")
                            enabled: ObjDeviceMgr.dongleCount > 0 && !view.busy
                            Layout.preferredWidth: 80
                            onClicked: row.run()
                        }
                        HexSpinBox {
                            id: regIdBox
                            objectName: "regId"
                            Layout.preferredWidth: 110
                        }
                        OrvaneSpinBox {
                            id: lsbBox
                            objectName: "lsb"
                            from: 0
                            to: 7
                            Layout.preferredWidth: 100
                        }
                        OrvaneSpinBox {
                            id: widthBox
                            objectName: "width"
                            from: 1
                            to: 8
                            value: 8
                            Layout.preferredWidth: 100
                        }
                        HexSpinBox {
                            id: dataBox
                            objectName: "data"
                            visible: row.isWrite
                            Layout.preferredWidth: 110
                        }
                        OrvaneTextField {
                            objectName: "readData"
                            visible: !row.isWrite
                            readOnly: true
                            text: CodeTexts.hexText(row.readValue, 2)
                            Layout.preferredWidth: 110
                        }
                        OrvaneLabel {
                            objectName: "outcome"
                            text: row.outcome
                            color: row.outcomeIsError ? ObjBrand.errorColor : ObjBrand.text
                            elide: Text.ElideRight
                            Layout.fillWidth: true
                        }
                    }
                }
            }
        }
    }
}
