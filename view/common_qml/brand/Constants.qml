pragma Singleton
import QtQuick

// Keys, paths and numbers shared by every view.
QtObject {
    readonly property QtObject deviceTypes: QtObject {
        readonly property string welcome: "welcome"
        readonly property string bvr60100: "bvr60100"
        readonly property string bvr60200: "bvr60200"
        readonly property string bvr60300: "bvr60300"
        readonly property string bvr60400: "bvr60400"
        readonly property string unknownpmbus: "pmbus"
        readonly property string bvr60500: "bvr60500"
        readonly property string bvr60600: "bvr60600"
        readonly property string bvr60700: "bvr60700"
    }

    // Bits of a property's X_state; they combine by OR.
    readonly property QtObject validationStates: QtObject {
        readonly property int ok: 0x00
        readonly property int warning: 0x01
        readonly property int error: 0x02
        readonly property int changed: 0x10
    }

    readonly property string dirBrand: "qrc:/view/common_qml/brand/"
    readonly property string dirImages: dirBrand + "images/"
    readonly property string dirIcons: dirBrand + "icons/"
    readonly property string dirLogos: dirBrand + "logos/"
    readonly property string dirFonts: dirBrand + "fonts/"
    readonly property string dirClipart: "qrc:/view/common_qml/clipart/"
    readonly property string dirMaterial: "qrc:/view/common_qml/material/"

    readonly property string fontFile: dirFonts + "Inter-Regular.ttf"
    readonly property FontLoader fontLoader: FontLoader { source: fontFile }
    // Falls back to the platform font when the font is not compiled in.
    readonly property string fontFamily: fontLoader.status === FontLoader.Ready
                                         ? fontLoader.name : Qt.application.font.family

    function txtI2cHexAddressMultiplier(txtHex, multiplier) {
        return "0x" + (parseInt(txtHex, 16) * multiplier).toString(16)
    }
}
