import QtQuick
import orvane.gui.settings

// Development root: holds Main.qml in a loader so that Refresh or Ctrl+R
// reloads every document from the source tree without a restart.
Item {
    id: hotReload
    width: ObjSettings.size.width > 0 ? ObjSettings.size.width : 1280
    height: ObjSettings.size.height > 0 ? ObjSettings.size.height : 800

    function reload() {
        console.log("Refreshing...")
        loader.source = ""
        ObjSettings.clearComponentCache()
        loader.source = "Main.qml"
        console.log("Refreshed!")
    }

    Loader {
        id: loader
        anchors.fill: parent
        source: "Main.qml"
    }

    Shortcut {
        sequences: [StandardKey.Refresh, "Ctrl+r"]
        enabled: ObjSettings.reloadableOnStartup
        onActivated: hotReload.reload()
    }
}
