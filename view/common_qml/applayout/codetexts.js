.pragma library

// Texts for codes. The regulator's VOUT code and its voltage: codes 1 to 40
// are reserved (the chip regulates at 2.5 V), 0 means the power-up default
// of 3.4 V, and the two linear segments meet between 47 and 48.

var codeMin = 41
var codeMax = 95
// Where the slider sits for code 0: the code of the same 3.400 V.
var codeOfDefault = 0x47

function codeToText(code) {
    if (code === 0)
        return "3.4"
    if (code <= 40)
        return "2.5"
    if (code <= 47)
        return (0.45 + code * 0.050).toFixed(3)
    if (code <= 95)
        return (1.625 + code * 0.025).toFixed(3)
    return "4.0"
}

// "3.4" is compared as text: it names the default code 0, while "3.400"
// is what code 0x47 shows and must come back as 0x47.
function textToCode(text) {
    const trimmed = String(text).trim()
    if (trimmed === "3.4")
        return 0
    if (trimmed === "")
        return 0
    const volts = Number(trimmed)
    if (isNaN(volts))
        return 0
    if (volts <= 2.5)
        return codeMin
    if (volts >= 4.0)
        return codeMax
    const low = Math.round((volts - 0.45) / 0.05)
    if (low >= 41 && low <= 47)
        return low
    const high = Math.round((volts - 1.625) / 0.025)
    if (high >= 48 && high <= 95)
        return high
    return 0
}

// The slider's position for a model code.
function sliderCode(code) {
    if (code === 0)
        return codeOfDefault
    return Math.max(codeMin, Math.min(codeMax, code))
}

// "0x" and upper-case digits, at least `digits` of them.
function hexText(value, digits) {
    return "0x" + Number(value).toString(16).toUpperCase().padStart(digits, "0")
}
