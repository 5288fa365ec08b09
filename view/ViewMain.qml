import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import QtQuick.Window
import brand
import controls
import applayout
import orvane.gui.brand
import orvane.gui.devicemgr
import orvane.gui.settings

// The device view: the Control tab always, Raw I2C while an adapter is
// present, Register Map while the current device is connected. Each view
// can be undocked into a window of its own while docking is allowed.
Rectangle {
    id: viewMain
    objectName: "viewMain"
    color: ObjBrand.window

    readonly property var pages: [
        { key: "control", title: qsTr("Control"), shown: true },
        { key: "rawI2c", title: qsTr("Raw I2C"), shown: ObjDeviceMgr.dongleCount > 0 },
        { key: "registerMap", title: qsTr("Register Map"), shown: ObjDeviceMgr.currentConnected }
    ]
    readonly property var shownPages: pages.filter(page => page.shown)
    property string currentKey: "control"
    readonly property alias configuration: configuration
    readonly property Item directI2c: directI2cPage.item
    readonly property Item registerView: registerPage.item

    function pageIndex(key) {
        return pages.findIndex(page => page.key === key)
    }

    function selectPage(key) {
        const index = shownPages.findIndex(page => page.key === key)
        if (index < 0)
            return false
        tabBar.currentIndex = index
        currentKey = key
        return true
    }

    // A tab that disappears (adapter unplugged, device lost) falls back to
    // the Control tab; the others keep their selection. Later, because the
    // tab bar makes its buttons anew from the same change.
    onShownPagesChanged: Qt.callLater(() => {
        if (!selectPage(currentKey))
            selectPage("control")
    })

    function validationColor(state) {
        if (state & Constants.validationStates.error)
            return ObjBrand.errorColor
        if (state & Constants.validationStates.warning)
            return ObjBrand.warningColor
        return "transparent"
    }

    ColumnLayout {
        anchors.fill: parent
        spacing: 0

        RowLayout {
            spacing: 0
            Layout.fillWidth: true

            TabBar {
                id: tabBar
                objectName: "deviceTabs"
                Layout.fillWidth: true
                palette.mid: ObjBrand.border
                palette.dark: ObjBrand.darker

                Repeater {
                    model: viewMain.shownPages
                    delegate: TabButton {
                        id: tabButton
                        required property var modelData
                        objectName: "tab_" + modelData.key
                        text: modelData.title
                        width: implicitWidth + 40
                        implicitHeight: 32
                        onClicked: viewMain.currentKey = modelData.key
                        // The chosen tab joins the page below it; the others sit back.
                        background: Rectangle {
                            color: tabButton.checked ? ObjBrand.window
                                                     : (tabButton.hovered ? ObjBrand.button : ObjBrand.darker)
                            border.color: ObjBrand.border
                            Rectangle {
                                visible: tabButton.checked
                                anchors.top: parent.top
                                width: parent.width
                                height: 2
                                color: ObjBrand.highlight
                            }
                        }
                        contentItem: Text {
                            text: tabButton.text
                            font: tabButton.font
                            color: ObjBrand.windowText
                            opacity: tabButton.checked ? 1.0 : 0.75
                            horizontalAlignment: Text.AlignHCenter
                            verticalAlignment: Text.AlignVCenter
                        }

                        // The worst validation state inside the page.
                        Rectangle {
                            anchors.left: parent.left
                            anchors.right: parent.right
                            anchors.bottom: parent.bottom
                            height: 3
                            color: viewMain.validationColor(tabButton.modelData.key === "control"
                                                            ? configuration.validationState : 0)
                        }
                    }
                }
            }

            // Undocks the page of the chosen tab.
            ToolButton {
                id: undockButton
                readonly property Item dock: docks.count > 0 ? docks.itemAt(viewMain.pageIndex(viewMain.currentKey)) : null
                objectName: "undock"
                visible: ObjSettings.docking && dock !== null && !dock.undocked
                text: "\u2197"
                palette.buttonText: ObjBrand.windowText
                Layout.preferredWidth: 32
                Layout.preferredHeight: 32
                ToolTip.text: qsTr("Undock into a window")
                ToolTip.visible: hovered
                ToolTip.delay: 500
                onClicked: dock.undock()
            }
        }

        StackLayout {
            id: stack
            Layout.fillWidth: true
            Layout.fillHeight: true
            currentIndex: viewMain.pageIndex(viewMain.currentKey)

            Repeater {
                id: docks
                // A fixed count: slots made anew would drop undocked windows
                // whenever an adapter comes or goes.
                model: 3
                delegate: Item {
                    id: dock
                    required property int index
                    readonly property var modelData: viewMain.pages[index]
                    property bool undocked: false
                    readonly property Item page: [configuration, directI2cPage, registerPage][index]

                    function undock() {
                        undocked = true
                        page.parent = window.contentItem
                        window.show()
                    }
                    function redock() {
                        undocked = false
                        page.parent = dock
                    }

                    Component.onCompleted: page.parent = dock

                    Column {
                        visible: dock.undocked
                        anchors.centerIn: parent
                        spacing: 10
                        OrvaneLabel {
                            text: qsTr("%1 is shown in its own window.").arg(dock.modelData.title)
                        }
                        OrvaneButton {
                            anchors.horizontalCenter: parent.horizontalCenter
                            text: qsTr("Dock")
                            onClicked: window.close()
                        }
                    }

                    OrvaneWindow {
                        id: window
                        objectName: "window_" + dock.modelData.key
                        title: dock.modelData.title
                        width: 900
                        height: 650
                        onClosing: dock.redock()
                    }
                }
            }
        }
    }

    // The pages live outside the dock slots so that undocking moves them
    // without recreating them (and without losing what the user typed).
    ViewConfiguration {
        id: configuration
        objectName: "viewConfiguration"
        anchors.fill: parent
    }
    // Raw I2C needs an adapter and Register Map a connected chip, which a
    // start seldom has at once: each page is made the first time it shows,
    // then kept.
    component LazyPage: Loader {
        id: lazyPage
        anchors.fill: parent
        active: false
        Binding {
            target: lazyPage
            property: "active"
            value: true
            when: lazyPage.visible
            restoreMode: Binding.RestoreNone
        }
    }
    LazyPage {
        id: directI2cPage
        visible: ObjDeviceMgr.dongleCount > 0
        sourceComponent: ViewDirectI2cTool {
            objectName: "viewDirectI2cTool"
        }
    }
    LazyPage {
        id: registerPage
        visible: ObjDeviceMgr.currentConnected
        sourceComponent: ViewRegister {
            objectName: "viewRegister"
        }
    }
}
