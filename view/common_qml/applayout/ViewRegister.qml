import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import controls
import orvane.gui.brand
import orvane.gui.devicemgr
import orvane.gui.notification
import "codetexts.js" as CodeTexts

// The register map of the current device: its registers, the fields of the
// selected one, a bit editor, and changes kept pending until written as one
// script.
Rectangle {
    id: view
    objectName: "viewRegister"
    property int registerBits: 8
    property var registerColumns: [qsTr("Address"), qsTr("Value"), qsTr("Name")]
    property var fieldColumns: [qsTr("Bits"), qsTr("Access"), qsTr("Reset"), qsTr("Name"), qsTr("Description")]
    readonly property string scriptName: "ViewRegister"

    // uid -> new value as "0x" + hex digits, the form the update script takes.
    property var pending: ({})
    readonly property int pendingCount: Object.keys(pending).length
    readonly property string pendingText: pendingCount + " change" + (pendingCount > 1 ? "s" : "")
    property string selectedUid: ""
    property var selectedFields: []
    property string lastError: ""
    // From posting the update script until its outcome: the pending changes
    // are still shown and must not be posted twice.
    property bool writing: false

    color: ObjBrand.window

    function sizeOf(entry) {
        const size = parseInt(entry.size)
        return isNaN(size) || size <= 0 ? registerBits : size
    }

    function indexOf(uid) {
        for (let i = 0; i < registers.count; ++i) {
            if (registers.get(i).uid === uid)
                return i
        }
        return -1
    }

    // The list is updated in place when it holds the same registers, so the
    // scroll position and the selection stay where they were.
    function refresh() {
        const result = ObjDeviceMgr.task("", "getRegisterView", { filter: filterField.text })
        const entries = []
        for (const text of (result.data || [])) {
            try {
                const entry = JSON.parse(text)
                entries.push({ uid: String(entry.uid), address: String(entry.address),
                               value: String(entry.value), name: String(entry.name),
                               group: String(entry.group || ""), size: sizeOf(entry) })
            } catch (e) {
                console.log("ViewRegister: skipping a register entry that is not JSON: " + text)
            }
        }
        const sameRows = entries.length === registers.count
                && entries.every((entry, i) => registers.get(i).uid === entry.uid)
        if (sameRows) {
            entries.forEach((entry, i) => registers.set(i, entry))
        } else {
            const contentY = registerList.contentY
            registers.clear()
            entries.forEach(entry => registers.append(entry))
            registerList.contentY = Math.min(contentY, Math.max(0, registerList.contentHeight - registerList.height))
        }
        registerList.currentIndex = indexOf(selectedUid)
        if (registerList.currentIndex < 0)
            selectRegister("")
        else
            loadFields()
    }

    function selectRegister(uid) {
        selectedUid = uid
        registerList.currentIndex = indexOf(uid)
        loadFields()
    }

    function loadFields() {
        fields.clear()
        const index = indexOf(selectedUid)
        if (index < 0) {
            selectedFields = []
            return
        }
        const result = ObjDeviceMgr.task("", "getRegisterFieldView", { address: registers.get(index).address })
        const list = []
        for (const text of (result.data || [])) {
            try {
                list.push(JSON.parse(text))
            } catch (e) {
                console.log("ViewRegister: skipping a field entry that is not JSON: " + text)
            }
        }
        selectedFields = list
        list.forEach(field => fields.append({ bits: bitsText(field), access: String(field.access),
                                              reset: String(field.reset || ""), name: String(field.name),
                                              description: String(field.description || "") }))
    }

    function bitsText(field) {
        const lsb = parseInt(field.start)
        const msb = lsb + parseInt(field.size) - 1
        const two = n => String(n).padStart(2, "0")
        return "[" + two(msb) + ":" + two(lsb) + "]"
    }

    function deviceValue(uid) {
        const index = indexOf(uid)
        return index < 0 ? 0 : parseInt(registers.get(index).value, 16)
    }

    function shownValue(uid) {
        return pending[uid] !== undefined ? parseInt(pending[uid], 16) : deviceValue(uid)
    }

    // A change back to what the chip holds is no change.
    function setPending(uid, value) {
        const next = Object.assign({}, pending)
        const index = indexOf(uid)
        if (index < 0 || value === deviceValue(uid))
            delete next[uid]
        else
            next[uid] = CodeTexts.hexText(value, Math.ceil(registers.get(index).size / 4))
        pending = next
    }

    function clearPending() {
        pending = ({})
    }

    function openEditor() {
        const index = indexOf(selectedUid)
        if (index < 0)
            return
        const entry = registers.get(index)
        editor.uid = entry.uid
        editor.address = entry.address
        editor.name = entry.name
        editor.size = entry.size
        editor.fields = selectedFields
        editor.deviceValue = deviceValue(entry.uid)
        editor.value = shownValue(entry.uid)
        editor.open()
    }

    function updateScript() {
        return ObjDeviceMgr.task("", "getRegisterUpdateScript", pending).script || []
    }

    function writeChanges() {
        if (pendingCount === 0 || writing)
            return
        writing = true
        ObjDeviceMgr.doRunScript("", scriptName, updateScript())
    }

    function showScript() {
        scriptWindow.script = updateScript()
        scriptWindow.show()
        scriptWindow.raise()
    }

    onVisibleChanged: if (visible && ObjDeviceMgr.currentConnected) refresh()

    Connections {
        target: ObjDeviceMgr
        function onDoneRunScript(err, ctx, dat) {
            if (ctx.split(",")[1] !== view.scriptName || dat !== ObjDeviceMgr.currentDat)
                return
            view.writing = false
            view.lastError = err
            if (err === "") {
                ObjNotification.createNotification(qsTr("The script executed successfully."), 0)
            } else {
                ObjNotification.createNotification(qsTr("Error while executing script: ") + err, 2)
                failure.open()
            }
            view.clearPending()
            if (view.visible)
                view.refresh()
        }
        function onCurrentDatChanged() {
            view.writing = false
            view.clearPending()
            view.selectRegister("")
            if (view.visible && ObjDeviceMgr.currentConnected)
                view.refresh()
        }
        function onDoneTask(err, ctx, dat) {
            if (err === "" && ctx.endsWith("importRegisterFile") && view.visible)
                view.refresh()
        }
    }

    ListModel { id: registers }
    ListModel { id: fields }

    component HeaderCell: Rectangle {
        property alias text: label.text
        implicitHeight: 28
        color: ObjBrand.secondaryWindow
        border.color: ObjBrand.border
        OrvaneLabel {
            id: label
            anchors.fill: parent
            anchors.leftMargin: 6
            verticalAlignment: Text.AlignVCenter
            font.bold: true
            elide: Text.ElideRight
        }
    }

    component Cell: OrvaneLabel {
        Layout.fillHeight: true
        leftPadding: 6
        verticalAlignment: Text.AlignVCenter
        elide: Text.ElideRight
    }

    ColumnLayout {
        anchors.fill: parent
        anchors.margins: 10
        spacing: 8

        RowLayout {
            spacing: 8
            Layout.fillWidth: true

            OrvaneTextField {
                id: filterField
                objectName: "filter"
                placeholderText: qsTr("Filter")
                Layout.preferredWidth: 200
                onAccepted: view.refresh()
            }
            OrvaneButton {
                objectName: "refresh"
                text: qsTr("Refresh")
                onClicked: view.refresh()
            }
            OrvaneButton {
                objectName: "openEdit"
                text: qsTr("Open Edit View")
                enabled: view.selectedUid !== ""
                onClicked: view.openEditor()
            }
            Item { Layout.fillWidth: true }
            OrvaneButton {
                objectName: "writeChanges"
                visible: view.pendingCount > 0
                enabled: !view.writing
                text: qsTr("Write ") + view.pendingText
                onClicked: view.writeChanges()
            }
            OrvaneButton {
                objectName: "viewChanges"
                visible: view.pendingCount > 0
                text: qsTr("View ") + view.pendingText
                onClicked: view.showScript()
            }
        }

        SplitView {
            Layout.fillWidth: true
            Layout.fillHeight: true
            orientation: Qt.Vertical

            ListView {
                id: registerList
                objectName: "registerList"
                SplitView.fillHeight: true
                SplitView.minimumHeight: 120
                clip: true
                model: registers
                currentIndex: -1
                headerPositioning: ListView.OverlayHeader
                ScrollBar.vertical: ScrollBar { }
                readonly property var widths: [0.2, 0.2, 0.6]

                header: Row {
                    z: 2
                    Repeater {
                        model: view.registerColumns
                        HeaderCell {
                            required property string modelData
                            required property int index
                            width: registerList.width * registerList.widths[index]
                            text: modelData
                        }
                    }
                }
                delegate: Rectangle {
                    id: registerRow
                    required property int index
                    required property string uid
                    required property string address
                    required property string value
                    required property string name
                    required property int size
                    readonly property bool isPending: view.pending[uid] !== undefined
                    width: registerList.width
                    height: 28
                    // A light tint keeps the text readable in both themes.
                    color: ListView.isCurrentItem ? Qt.rgba(ObjBrand.highlight.r, ObjBrand.highlight.g, ObjBrand.highlight.b, 0.35)
                                                  : (index % 2 ? ObjBrand.altBase : ObjBrand.base)

                    RowLayout {
                        anchors.fill: parent
                        spacing: 0
                        Cell {
                            text: registerRow.address
                            Layout.preferredWidth: registerList.width * registerList.widths[0]
                        }
                        Cell {
                            objectName: "value_" + registerRow.uid
                            text: registerRow.isPending
                                  ? CodeTexts.hexText(parseInt(view.pending[registerRow.uid], 16), Math.ceil(registerRow.size / 4))
                                  : CodeTexts.hexText(parseInt(registerRow.value, 16), Math.ceil(registerRow.size / 4))
                            font.bold: registerRow.isPending
                            Layout.preferredWidth: registerList.width * registerList.widths[1]
                        }
                        Cell {
                            text: registerRow.name
                            Layout.fillWidth: true
                        }
                    }
                    MouseArea {
                        anchors.fill: parent
                        onClicked: view.selectRegister(registerRow.uid)
                        onDoubleClicked: {
                            view.selectRegister(registerRow.uid)
                            view.openEditor()
                        }
                    }
                }
            }

            ListView {
                id: fieldList
                objectName: "fieldList"
                SplitView.preferredHeight: 200
                SplitView.minimumHeight: 80
                clip: true
                model: fields
                headerPositioning: ListView.OverlayHeader
                ScrollBar.vertical: ScrollBar { }
                readonly property var widths: [0.1, 0.1, 0.1, 0.2, 0.5]

                header: Row {
                    z: 2
                    Repeater {
                        model: view.fieldColumns
                        HeaderCell {
                            required property string modelData
                            required property int index
                            width: fieldList.width * fieldList.widths[index]
                            text: modelData
                        }
                    }
                }
                delegate: Rectangle {
                    id: fieldRow
                    required property int index
                    required property string bits
                    required property string access
                    required property string reset
                    required property string name
                    required property string description
                    width: fieldList.width
                    height: 28
                    color: index % 2 ? ObjBrand.altBase : ObjBrand.base

                    Row {
                        anchors.fill: parent
                        Repeater {
                            model: [fieldRow.bits, fieldRow.access, fieldRow.reset, fieldRow.name, fieldRow.description]
                            Cell {
                                required property string modelData
                                required property int index
                                width: fieldList.width * fieldList.widths[index]
                                height: fieldRow.height
                                text: modelData
                                ToolTip.text: modelData
                                ToolTip.visible: truncated && hovered
                            }
                        }
                    }
                }
            }
        }
    }

    ViewRegisterEdit {
        id: editor
        onEdited: (uid, value) => view.setPending(uid, value)
    }

    RegisterScriptWindow {
        id: scriptWindow
        onWriteAll: view.writeChanges()
        onDiscardAll: view.clearPending()
    }

    Dialog {
        id: failure
        objectName: "scriptFailure"
        title: qsTr("Register Map")
        modal: true
        // A fixed width: a wrapped message would otherwise size the dialog
        // by itself and the dialog the message.
        width: Math.min(560, view.width - 40)
        anchors.centerIn: Overlay.overlay
        standardButtons: Dialog.Ok
        contentItem: OrvaneLabel {
            objectName: "scriptFailureText"
            text: qsTr("The script execution failed with error(s):\n") + view.lastError
            color: ObjBrand.errorColor
            wrapMode: Text.Wrap
        }
    }
}
