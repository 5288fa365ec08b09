import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import controls
import orvane.gui.brand
import orvane.gui.devicemgr
import orvane.gui.i2csvc
import orvane.gui.notification

// The window's bottom line: clock, status text, adapters, bus activity and
// the notifications (a popup for each new one, a tray with all of them).
Rectangle {
    id: footer
    color: ObjBrand.darker

    property int unread: 0
    property bool busy: false
    readonly property alias tray: tray
    readonly property alias popup: popup
    readonly property alias clockText: clock.text

    Connections {
        target: ObjI2cSvc
        function onEventProgress(ctx, dat, value, max) { footer.busy = value < max }
    }

    Connections {
        target: ObjNotification
        function onNotificationCreated(mainMessage) {
            footer.unread += 1
            popup.show(mainMessage)
        }
    }

    Timer {
        interval: 1000
        repeat: true
        running: true
        triggeredOnStart: true
        onTriggered: clock.text = Qt.formatTime(new Date(), "hh:mm:ss")
    }

    RowLayout {
        anchors.fill: parent
        anchors.leftMargin: 10
        anchors.rightMargin: 4
        spacing: 12

        Label {
            id: clock
            objectName: "clock"
            color: ObjBrand.text
            font.family: "monospace"
        }
        Rectangle {
            Layout.preferredWidth: 1
            Layout.fillHeight: true
            Layout.margins: 6
            color: ObjBrand.border
        }
        Label {
            objectName: "statusText"
            Layout.fillWidth: true
            text: Status.text
            color: ObjBrand.text
            elide: Text.ElideRight
        }
        Image {
            visible: ObjDeviceMgr.dongleCount > 0
            Layout.preferredWidth: 20
            Layout.preferredHeight: 20
            source: ObjBrand.dirRes + ObjBrand.dirMaterial + "usb_FILL0_wght400_GRAD0_opsz24.png"
            sourceSize: Qt.size(40, 40)
        }
        Label {
            objectName: "adapters"
            visible: ObjDeviceMgr.dongleCount > 0
            Layout.maximumWidth: footer.width / 3
            text: ObjDeviceMgr.dongleDescriptions.join(", ")
            color: ObjBrand.text
            elide: Text.ElideRight
        }
        BusyIndicator {
            objectName: "busyIndicator"
            Layout.preferredWidth: 24
            Layout.preferredHeight: 24
            running: footer.busy
            visible: running
        }
        ToolButton {
            id: bell
            objectName: "bell"
            Layout.preferredWidth: 40
            Layout.fillHeight: true
            icon.source: ObjBrand.dirRes + ObjBrand.dirMaterial + "notifications_FILL0_wght400_GRAD0_opsz24.png"
            icon.color: ObjBrand.text
            ToolTip.text: qsTr("Notifications")
            ToolTip.visible: hovered
            ToolTip.delay: 500
            onClicked: {
                footer.unread = 0
                if (tray.opened)
                    tray.close()
                else
                    tray.open()
            }
            Rectangle {
                visible: footer.unread > 0
                anchors.right: parent.right
                anchors.top: parent.top
                anchors.margins: 1
                width: Math.max(16, unreadText.implicitWidth + 6)
                height: 16
                radius: 8
                color: ObjBrand.errorColor
                Label {
                    id: unreadText
                    objectName: "unread"
                    anchors.centerIn: parent
                    text: footer.unread
                    color: "white"
                    font.pixelSize: 10
                    font.bold: true
                }
            }
        }
    }

    // The newest notification, for a while or until closed.
    Popup {
        id: popup
        objectName: "notificationPopup"
        width: 280
        x: footer.width - width - 6
        y: -implicitHeight - 6
        padding: 10
        closePolicy: Popup.NoAutoClose
        property string message: ""

        function show(text) {
            message = text
            open()
            popupTimer.restart()
        }

        Timer {
            id: popupTimer
            interval: 5000
            onTriggered: popup.close()
        }
        background: Rectangle {
            color: ObjBrand.notificationBg
            border.color: ObjBrand.highlight
            radius: 4
        }
        contentItem: RowLayout {
            spacing: 6
            Label {
                Layout.fillWidth: true
                text: popup.message
                color: ObjBrand.text
                wrapMode: Text.Wrap
            }
            ToolButton {
                Layout.alignment: Qt.AlignTop
                Layout.preferredWidth: 28
                Layout.preferredHeight: 28
                icon.source: ObjBrand.dirRes + ObjBrand.dirMaterial + "close_FILL0_wght400_GRAD0_opsz24.png"
                icon.color: ObjBrand.text
                onClicked: popup.close()
            }
        }
    }

    // Every notification, newest last, each with its delete button.
    Popup {
        id: tray
        objectName: "notificationTray"
        width: 300
        height: 400
        x: footer.width - width - 6
        y: -height - 6
        padding: 6
        // A press on the footer is left to the bell, which toggles the tray.
        closePolicy: Popup.CloseOnEscape | Popup.CloseOnPressOutsideParent
        readonly property alias count: trayList.count
        background: Rectangle {
            color: ObjBrand.notificationBg
            border.color: ObjBrand.border
            radius: 4
        }
        contentItem: ColumnLayout {
            spacing: 4
            Label {
                text: qsTr("Notifications")
                color: ObjBrand.text
                font.bold: true
                Layout.leftMargin: 4
            }
            Label {
                visible: trayList.count === 0
                text: qsTr("No notifications")
                color: ObjBrand.text
                opacity: 0.6
                Layout.leftMargin: 4
            }
            ListView {
                id: trayList
                objectName: "trayList"
                Layout.fillWidth: true
                Layout.fillHeight: true
                clip: true
                spacing: 4
                model: ObjNotification.notifications
                ScrollBar.vertical: ScrollBar {}
                delegate: Rectangle {
                    required property int index
                    required property int type
                    required property string message
                    required property string sender
                    width: ListView.view.width
                    height: Math.max(44, entry.implicitHeight + 12)
                    radius: 3
                    color: ObjBrand.base
                    border.color: type === Notification.Error ? ObjBrand.errorColor : ObjBrand.border
                    RowLayout {
                        anchors.fill: parent
                        anchors.margins: 6
                        ColumnLayout {
                            id: entry
                            Layout.fillWidth: true
                            spacing: 2
                            Label {
                                Layout.fillWidth: true
                                text: message
                                color: type === Notification.Error ? ObjBrand.errorColor : ObjBrand.text
                                wrapMode: Text.Wrap
                            }
                            Label {
                                Layout.fillWidth: true
                                visible: sender !== ""
                                text: sender
                                color: ObjBrand.text
                                opacity: 0.6
                                font.pixelSize: 11
                                elide: Text.ElideRight
                            }
                        }
                        ToolButton {
                            objectName: "deleteNotification"
                            Layout.preferredWidth: 28
                            Layout.preferredHeight: 28
                            icon.source: ObjBrand.dirRes + ObjBrand.dirMaterial + "delete_FILL0_wght400_GRAD0_opsz24.png"
                            icon.color: ObjBrand.text
                            onClicked: ObjNotification.deleteNotification(index)
                        }
                    }
                }
            }
        }
    }
}
