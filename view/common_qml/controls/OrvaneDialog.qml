import QtQuick
import QtQuick.Controls
import orvane.gui.brand

// A dialog in the program's colours. A popup copies the palette of its
// parent only when it is made, so it would keep the old colours after a
// style switch; a dialog therefore carries the window's palette roles itself.
Dialog {
    palette.button: ObjBrand.button
    palette.buttonText: ObjBrand.buttonText
    palette.base: ObjBrand.base
    palette.highlight: ObjBrand.highlight
    palette.highlightedText: ObjBrand.highlightedText
    palette.text: ObjBrand.text
    palette.window: ObjBrand.window
    palette.windowText: ObjBrand.windowText
}
