import QtQuick
import QtQuick.Controls
import QtQuick.Dialogs
import QtQuick.Layouts
import QtQuick.Window
import controls
import orvane.gui.brand
import orvane.gui.devicemgr
import orvane.gui.settings
import orvane.gui.utils

// The developer's pane's groups, its script dialogs and its windows: made
// the first time the pane shows.
Item {
    id: content

    // The script's outcome; the manager answers with "doRunScript,<name>".
    readonly property string scriptContext: "MainPaneTest"

    function runScriptFile(path) {
        const lines = ObjUtils.readTextFile(path)
        ObjDeviceMgr.doRunScript("", scriptContext, lines)
    }

    component PaneGroup: GroupBox {
        Layout.fillWidth: true
        topPadding: 36
        palette.window: ObjBrand.grpBackground
        label: Rectangle {
            x: 0
            width: parent.width
            height: groupTitle.implicitHeight + 6
            color: ObjBrand.grpTitleAccent
            radius: 3
            Label {
                id: groupTitle
                anchors.verticalCenter: parent.verticalCenter
                x: 6
                text: parent.parent.title
                color: ObjBrand.text
                font.bold: true
            }
        }
    }

    // A check box on the boolean setting named `setting`.
    component SettingBox: OrvaneCheckBox {
        id: box
        property string setting
        property string tip: ""
        Layout.fillWidth: true
        objectName: setting
        checked: ObjSettings[setting]
        onToggled: {
            ObjSettings[setting] = checked
            checked = Qt.binding(() => ObjSettings[box.setting])
        }
        ToolTip.text: tip
        ToolTip.visible: hovered && tip !== ""
        ToolTip.delay: 500
    }

    readonly property alias scriptResult: scriptResult.text
    readonly property alias demoWindow: demoWindow
    readonly property alias summaryWindow: summaryWindow
    readonly property alias iconsWindow: iconsWindow

    Connections {
        target: ObjDeviceMgr
        function onDoneRunScript(err, ctx, dat) {
            if (!ctx.endsWith("," + content.scriptContext))
                return
            scriptResult.text = err === "" ? qsTr("The script executed successfully")
                                           : qsTr("The script execution failed with error(s):\n") + err
            scriptResultDialog.open()
        }
    }

    FileDialog {
        id: scriptDialog
        // The root item joins the view only after its children are
        // complete, so the dialog cannot find the window by itself.
        parentWindow: content.Window.window
        title: qsTr("Run I2C script")
        nameFilters: ["i2c script (*.i2c)", "All files (*)"]
        fileMode: FileDialog.OpenFile
        onAccepted: content.runScriptFile(ObjUtils.localFileFromUrl(selectedFile))
    }

    Dialog {
        id: scriptResultDialog
        title: qsTr("Run I2C script")
        parent: Overlay.overlay
        anchors.centerIn: parent
        modal: true
        standardButtons: Dialog.Ok
        palette.window: ObjBrand.window
        Label {
            id: scriptResult
            color: ObjBrand.text
            wrapMode: Text.Wrap
        }
    }

    ScrollView {
        id: scroll
        anchors.fill: parent
        anchors.margins: 4
        contentWidth: availableWidth
        clip: true

        ColumnLayout {
            width: scroll.availableWidth
            spacing: 8

            PaneGroup {
                objectName: "groupDeviceManager"
                title: qsTr("Device Manager")
                visible: ObjDeviceMgr.dongleCount > 0
                ColumnLayout {
                    anchors.fill: parent
                    OrvaneSwitch {
                        objectName: "monitor"
                        text: checked ? qsTr("Monitor ON") : qsTr("Monitor OFF")
                        checked: ObjDeviceMgr.monitorAllowed
                        onToggled: {
                            ObjDeviceMgr.monitorAllowed = checked
                            checked = Qt.binding(() => ObjDeviceMgr.monitorAllowed)
                        }
                    }
                    OrvaneButton {
                        objectName: "log"
                        Layout.fillWidth: true
                        text: qsTr("Log")
                        onClicked: secondLog.show()
                    }
                    OrvaneButton {
                        Layout.fillWidth: true
                        text: qsTr("Run I2C Script")
                        onClicked: scriptDialog.open()
                    }
                }
            }

            PaneGroup {
                objectName: "groupBranding"
                title: qsTr("Branding")
                GridLayout {
                    anchors.fill: parent
                    columns: 2
                    OrvaneButton {
                        objectName: "summary"
                        Layout.fillWidth: true
                        text: qsTr("Summary")
                        onClicked: summaryWindow.show()
                    }
                    OrvaneButton {
                        objectName: "icons"
                        Layout.fillWidth: true
                        text: qsTr("Icons")
                        onClicked: iconsWindow.show()
                    }
                    Label { text: qsTr("Style"); color: ObjBrand.text }
                    OrvaneComboBox {
                        objectName: "style"
                        Layout.fillWidth: true
                        model: ObjBrand.styles
                        currentIndex: ObjBrand.styles.indexOf(ObjBrand.style)
                        onActivated: (index) => ObjBrand.style = ObjBrand.styles[index]
                    }
                    Label { text: qsTr("Chart Theme"); color: ObjBrand.text }
                    OrvaneComboBox {
                        objectName: "chartTheme"
                        Layout.fillWidth: true
                        model: ObjBrand.chartThemes
                        currentIndex: ObjBrand.chartThemes.indexOf(ObjBrand.chartTheme)
                        onActivated: (index) => ObjBrand.chartTheme = ObjBrand.chartThemes[index]
                    }
                }
            }

            PaneGroup {
                objectName: "groupSettings"
                title: qsTr("Settings")
                ColumnLayout {
                    anchors.fill: parent
                    spacing: 0
                    SettingBox {
                        text: qsTr("I2C Scan Manual")
                        tip: qsTr("Scan the bus for devices only when asked")
                        setting: "scanManual"
                    }
                    SettingBox {
                        text: qsTr("I2C Scan Open")
                        tip: qsTr("Scan every address, not only those of the project's devices")
                        setting: "scanOpen"
                    }
                    SettingBox {
                        text: qsTr("I2C 8-bit Address")
                        tip: qsTr("Show and accept I2C addresses in 8-bit form (7-bit address × 2)")
                        setting: "i2c8BitAddress"
                    }
                    SettingBox {
                        text: qsTr("Immediate Mode")
                        tip: qsTr("Write every change to the device at once instead of on request")
                        setting: "immediateMode"
                    }
                    SettingBox {
                        text: qsTr("Log On Startup")
                        tip: qsTr("Start the log file when the program starts")
                        setting: "logOnStartup"
                    }
                    SettingBox {
                        text: qsTr("Open Last Project")
                        tip: qsTr("Reopen the last project when the program starts")
                        setting: "openLastProject"
                    }
                    RowLayout {
                        Layout.topMargin: 4
                        Label { text: qsTr("I2C Speed"); color: ObjBrand.text }
                        OrvaneComboBox {
                            objectName: "i2cSpeed"
                            Layout.fillWidth: true
                            readonly property var speeds: [100, 400, 1000]
                            model: ["100 kHz", "400 kHz", "1000 kHz"]
                            currentIndex: speeds.indexOf(ObjSettings.i2cSpeed)
                            onActivated: (index) => ObjSettings.i2cSpeed = speeds[index]
                            ToolTip.text: qsTr("I2C bus clock given to the adapters when they are opened")
                            ToolTip.visible: hovered
                            ToolTip.delay: 500
                        }
                    }
                }
            }

            PaneGroup {
                objectName: "groupDebug"
                title: qsTr("Debug")
                ColumnLayout {
                    anchors.fill: parent
                    spacing: 0
                    SettingBox {
                        text: qsTr("API Service")
                        tip: qsTr("Serve the HTTP API on port %1").arg(ObjSettings.apiServicePort)
                        setting: "apiServiceEnabled"
                    }
                    SettingBox {
                        text: qsTr("Comms")
                        tip: qsTr("Only user driven comms: log the bus traffic, scan without probing")
                        setting: "commsDebugMode"
                    }
                    SettingBox {
                        text: qsTr("Scripts")
                        tip: qsTr("Also write every script run as files into the log folder")
                        setting: "debugScripts"
                    }
                    SettingBox {
                        text: qsTr("Deep Read")
                        tip: qsTr("Deep read")
                        setting: "deepRead"
                    }
                    SettingBox {
                        text: qsTr("Ignore Rules")
                        tip: qsTr("Validation errors do not hold back writing to the device")
                        setting: "debugNoRules"
                    }
                    SettingBox {
                        visible: ObjSettings.debugBuild
                        text: qsTr("QML Design")
                        tip: qsTr("Load the interface from the source tree at the next start; Ctrl+R reloads it")
                        setting: "reloadableOnStartup"
                    }
                }
            }

            PaneGroup {
                objectName: "groupValidation"
                title: qsTr("Validation")
                ColumnLayout {
                    anchors.fill: parent
                    OrvaneButton {
                        objectName: "fieldStates"
                        Layout.fillWidth: true
                        text: qsTr("Field States")
                        onClicked: demoWindow.show()
                    }
                    OrvaneButton {
                        objectName: "warningLog"
                        Layout.fillWidth: true
                        text: qsTr("Warning Log")
                        onClicked: console.warn("fake warning...")
                    }
                    OrvaneButton {
                        objectName: "errorLog"
                        Layout.fillWidth: true
                        text: qsTr("Error Log")
                        onClicked: console.error("fake error...")
                    }
                }
            }
        }
    }

    CommsLogWindow {
        id: secondLog
        objectName: "secondCommsLogWindow"
    }

    DemoErrorReporting {
        id: demoWindow
    }

    BrandSummary {
        id: summaryWindow
    }

    BrandIcons {
        id: iconsWindow
    }
}
