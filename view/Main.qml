import QtQuick
import QtQuick.Controls
import QtQuick.Dialogs
import QtQuick.Layouts
import QtQuick.Window
import brand
import applayout
import orvane.gui.brand
import orvane.gui.devicemgr
import orvane.gui.i2csvc
import orvane.gui.logger
import orvane.gui.settings
import orvane.gui.utils

// The main window: menu bar, side pane, device area, optional test pane and
// footer. The window size is remembered: the root starts at the stored size
// and writes its size back when it goes away.
Rectangle {
    id: root
    width: ObjSettings.size.width > 0 ? ObjSettings.size.width : 1280
    height: ObjSettings.size.height > 0 ? ObjSettings.size.height : 800
    color: ObjBrand.border

    palette.button: ObjBrand.button
    palette.buttonText: ObjBrand.buttonText
    palette.base: ObjBrand.base
    palette.highlight: ObjBrand.highlight
    palette.highlightedText: ObjBrand.highlightedText
    palette.text: ObjBrand.text
    palette.window: ObjBrand.window
    palette.windowText: ObjBrand.windowText

    // For tests and the screenshot tool: the parts of the window by name.
    readonly property alias commsLogWindow: commsLogWindow
    readonly property Dialog aboutBox: aboutLoader.item
    readonly property alias deviceArea: deviceArea
    readonly property alias footer: footer
    readonly property alias projectOpenDialog: openDialog

    Component.onDestruction: ObjSettings.size = Qt.size(root.width, root.height)

    function logAction(menu, entry) {
        console.log(menu + "->" + entry + " has been triggered")
    }

    function projectFilters() {
        return ["Project files (*." + ObjSettings.projectExtension + ")", "All files (*)"]
    }

    function openProjectDialog() {
        openDialog.open()
    }

    // The desktop's default handler for a local path ("file:///C:/..." on
    // Windows, "file:///home/..." elsewhere).
    function openLocal(path) {
        Qt.openUrlExternally("file:///" + String(path).replace(/^\/+/, ""))
    }

    // A menu whose entries (actions, submenus, separators) become menu items
    // the first time it opens. Menu items are the dearest part of the window
    // to make, and a start seldom opens every menu.
    component LazyMenu: Menu {
        id: lazyMenu
        property list<QtObject> entries
        onAboutToShow: {
            if (lazyMenu.count > 0)
                return
            // Told apart by what they can do: a menu adds, an action triggers.
            for (let i = 0; i < lazyMenu.entries.length; ++i) {
                const entry = lazyMenu.entries[i]
                if (typeof entry.addMenu === "function")
                    lazyMenu.addMenu(entry)
                else if (typeof entry.trigger === "function")
                    lazyMenu.addAction(entry)
                else
                    lazyMenu.addItem(entry)
            }
        }
    }

    GridLayout {
        anchors.fill: parent
        columns: 3
        rowSpacing: 0
        columnSpacing: 0

        MenuBar {
            id: menuBar
            Layout.columnSpan: 3
            Layout.fillWidth: true

            LazyMenu {
                title: qsTr("&Project")
                entries: [
                    Action {
                        text: qsTr("&Open")
                        onTriggered: { root.logAction("Project", "Open"); openDialog.open() }
                    },
                    Action {
                        text: qsTr("&Save")
                        onTriggered: {
                            root.logAction("Project", "Save")
                            if (ObjSettings.lastProject !== "")
                                saveDialog.selectedFile = "file:///" + ObjSettings.lastProject.replace(/^\/+/, "")
                            saveDialog.open()
                        }
                    },
                    MenuSeparator {},
                    Action {
                        text: qsTr("&Quit")
                        onTriggered: { root.logAction("Project", "Quit"); Qt.quit() }
                    }
                ]
            }
            LazyMenu {
                title: qsTr("&View")
                entries: [
                    LazyMenu {
                        title: qsTr("&Log")
                        entries: [
                            Action {
                                text: qsTr("&File")
                                onTriggered: { root.logAction("View", "Log->File"); root.openLocal(ObjLogger.logFilename()) }
                            },
                            Action {
                                text: qsTr("&Directory")
                                onTriggered: { root.logAction("View", "Log->Directory"); root.openLocal(ObjLogger.logFilepath()) }
                            }
                        ]
                    },
                    LazyMenu {
                        title: qsTr("&Options")
                        entries: [
                            Action {
                                text: qsTr("&Collapsing Allowed")
                                checkable: true
                                checked: ObjSettings.collapsing
                                onTriggered: {
                                    root.logAction("View", "Options->Collapsing Allowed")
                                    ObjSettings.collapsing = checked
                                    checked = Qt.binding(() => ObjSettings.collapsing)
                                }
                            },
                            Action {
                                text: qsTr("&Docking Allowed")
                                checkable: true
                                checked: ObjSettings.docking
                                onTriggered: {
                                    root.logAction("View", "Options->Docking Allowed")
                                    ObjSettings.docking = checked
                                    checked = Qt.binding(() => ObjSettings.docking)
                                }
                            },
                            Action {
                                id: testPaneAction
                                objectName: "testPaneAction"
                                text: qsTr("&Test Pane")
                                checkable: true
                                checked: ObjSettings.testPane
                                enabled: ObjSettings.viewLevel === 0
                                onTriggered: {
                                    root.logAction("View", "Options->Test Pane")
                                    ObjSettings.testPane = checked
                                    checked = Qt.binding(() => ObjSettings.testPane)
                                }
                            }
                        ]
                    },
                    MenuSeparator {},
                    Action {
                        objectName: "commsLogAction"
                        text: qsTr("&Comms Log")
                        onTriggered: { root.logAction("View", "Comms Log"); root.showCommsLog() }
                    }
                ]
            }
            LazyMenu {
                title: qsTr("&Help")
                entries: [
                    Action {
                        text: qsTr("&About")
                        onTriggered: { root.logAction("Help", "About"); root.openAboutBox() }
                    },
                    Action {
                        text: qsTr("&Datasheet")
                        onTriggered: {
                            root.logAction("Help", "Datasheet")
                            Qt.openUrlExternally("https://www.orvane.com/products/bvr60600/datasheet")
                        }
                    }
                ]
            }
        }

        SingleDevPaneSide {
            id: sidePane
            objectName: "sidePane"
            Layout.preferredWidth: 230
            Layout.fillHeight: true
        }

        Rectangle {
            id: deviceArea
            objectName: "deviceArea"
            Layout.columnSpan: ObjSettings.testPane ? 1 : 2
            Layout.fillWidth: true
            Layout.fillHeight: true
            color: ObjBrand.window
            readonly property string view: deviceLoader.item ? deviceLoader.item.objectName : ""

            // The views load by name, so that the device view is compiled
            // only when a chip is current: it needs the chip model's module,
            // which a window without a chip (a test of the window) lacks.

            Loader {
                id: deviceLoader
                anchors.fill: parent
                source: ObjDeviceMgr.currentType === Constants.deviceTypes.bvr60600
                        ? "ViewMain.qml"
                        : (ObjDeviceMgr.currentType === Constants.deviceTypes.welcome || ObjDeviceMgr.currentType === ""
                           ? "SingleDevWelcome.qml" : "")
            }
            Connections {
                target: deviceLoader.item
                ignoreUnknownSignals: true
                function onOpenProjectRequested() { root.openProjectDialog() }
            }
        }

        MainPaneTest {
            id: testPane
            objectName: "testPane"
            visible: ObjSettings.testPane
            Layout.preferredWidth: 210
            Layout.fillHeight: true
            onShowCommsLog: root.showCommsLog()
        }

        MainFooter {
            id: footer
            objectName: "footer"
            Layout.columnSpan: 3
            Layout.fillWidth: true
            Layout.preferredHeight: 30
        }
    }

    function showCommsLog() {
        commsLogWindow.show()
        commsLogWindow.requestActivate()
    }

    FileDialog {
        id: openDialog
        // The root item joins the view only after its children are
        // complete, so the dialog cannot find the window by itself.
        parentWindow: root.Window.window
        title: qsTr("Open project")
        nameFilters: root.projectFilters()
        fileMode: FileDialog.OpenFile
        onAccepted: ObjDeviceMgr.openProject(ObjUtils.localFileFromUrl(selectedFile))
    }

    FileDialog {
        id: saveDialog
        parentWindow: root.Window.window
        title: qsTr("Save project")
        nameFilters: root.projectFilters()
        defaultSuffix: ObjSettings.projectExtension
        fileMode: FileDialog.SaveFile
        onAccepted: ObjDeviceMgr.saveProject(ObjUtils.localFileFromUrl(selectedFile))
    }

    // The about box is made after the first frame, while the window waits
    // for the user; asked for before that, it is finished at once.
    function openAboutBox() {
        aboutLoader.asynchronous = false
        aboutBox.open()
    }

    Loader {
        id: aboutLoader
        asynchronous: true
        sourceComponent: AboutBox {}
    }

    // Made with the window: it collects the communication log from the start.
    CommsLogWindow {
        id: commsLogWindow
        objectName: "commsLogWindow"
    }

    // Developer menu: only a development build can switch the simulated chip.
    LazyMenu {
        id: demoMenu
        title: qsTr("D&emo")
        entries: [
            Action {
                objectName: "currentDemoAction"
                text: qsTr("*CURRENT*")
                checkable: true
                checked: ObjDeviceMgr.currentConnected
                onTriggered: {
                    root.logAction("Demo", "*CURRENT*")
                    ObjI2cSvc.doVirtualSlave("", ObjDeviceMgr.currentDat, checked)
                    checked = Qt.binding(() => ObjDeviceMgr.currentConnected)
                }
            }
        ]
    }

    Component.onCompleted: {
        if (ObjSettings.debugBuild)
            menuBar.addMenu(demoMenu)
    }
}
