import QtQuick
import QtQuick.Window
import orvane.gui.brand

// A window of its own in the program's colours. Controls take their colours
// from the palette of the window they are in; the main window's root item
// sets the same roles for everything inside it.
Window {
    color: ObjBrand.window
    palette.button: ObjBrand.button
    palette.buttonText: ObjBrand.buttonText
    palette.base: ObjBrand.base
    palette.highlight: ObjBrand.highlight
    palette.highlightedText: ObjBrand.highlightedText
    palette.text: ObjBrand.text
    palette.window: ObjBrand.window
    palette.windowText: ObjBrand.windowText
}
