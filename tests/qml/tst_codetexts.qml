import QtQuick
import QtTest
import applayout

// The VOUT voltage texts of the Control tab and their way back to codes.
TestCase {
    name: "CodeTexts"

    function test_codeToText_data() {
        return [
            { tag: "default code", code: 0, text: "3.4" },
            { tag: "first reserved code", code: 1, text: "2.5" },
            { tag: "last reserved code", code: 40, text: "2.5" },
            { tag: "lowest code", code: 41, text: "2.500" },
            { tag: "top of the 50 mV steps", code: 47, text: "2.800" },
            { tag: "bottom of the 25 mV steps", code: 48, text: "2.825" },
            { tag: "default voltage as a code", code: 0x47, text: "3.400" },
            { tag: "highest code", code: 95, text: "4.000" },
            { tag: "above the range", code: 96, text: "4.0" },
            { tag: "largest code", code: 127, text: "4.0" }
        ]
    }

    function test_codeToText(data) {
        compare(CodeTexts.codeToText(data.code), data.text)
    }

    function test_textToCode_data() {
        return [
            { tag: "default text", text: "3.4", code: 0 },
            { tag: "default voltage with decimals", text: "3.400", code: 0x47 },
            { tag: "lowest voltage", text: "2.5", code: 41 },
            { tag: "below the range", text: "1.2", code: 41 },
            { tag: "highest voltage", text: "4.0", code: 95 },
            { tag: "above the range", text: "5", code: 95 },
            { tag: "50 mV segment", text: "2.650", code: 44 },
            { tag: "rounded within the 50 mV segment", text: "2.66", code: 44 },
            { tag: "joint of the segments", text: "2.825", code: 48 },
            { tag: "25 mV segment", text: "3.000", code: 55 },
            { tag: "rounded within the 25 mV segment", text: "3.01", code: 55 },
            { tag: "surrounding blanks", text: " 3.000 ", code: 55 },
            { tag: "not a number", text: "abc", code: 0 },
            { tag: "empty", text: "", code: 0 }
        ]
    }

    function test_textToCode(data) {
        compare(CodeTexts.textToCode(data.text), data.code)
    }

    // Every code the slider can set shows a text that leads back to it, or
    // confirming the spin box without typing would change the chip.
    function test_everyCodeRoundTrips() {
        for (let code = CodeTexts.codeMin; code <= CodeTexts.codeMax; ++code)
            compare(CodeTexts.textToCode(CodeTexts.codeToText(code)), code, "code " + code)
        compare(CodeTexts.textToCode(CodeTexts.codeToText(0)), 0)
    }

    function test_sliderCode_data() {
        return [
            { tag: "default", code: 0, position: 0x47 },
            { tag: "reserved", code: 5, position: 41 },
            { tag: "in range", code: 60, position: 60 },
            { tag: "above", code: 120, position: 95 }
        ]
    }

    function test_sliderCode(data) {
        compare(CodeTexts.sliderCode(data.code), data.position)
    }

    function test_hexText() {
        compare(CodeTexts.hexText(0x2f, 2), "0x2F")
        compare(CodeTexts.hexText(5, 2), "0x05")
        compare(CodeTexts.hexText(0x1234, 2), "0x1234")
    }
}
