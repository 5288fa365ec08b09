import QtQuick
import QtQuick.Controls
import orvane.gui.brand
import orvane.gui.settings

// The root of the main window. The window size is remembered: the root
// starts at the stored size and writes its size back when it goes away.
Rectangle {
    id: root
    width: ObjSettings.size.width > 0 ? ObjSettings.size.width : 1280
    height: ObjSettings.size.height > 0 ? ObjSettings.size.height : 800
    color: ObjBrand.border

    Component.onDestruction: ObjSettings.size = Qt.size(root.width, root.height)
}
