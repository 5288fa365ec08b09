import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import brand
import controls
import applayout
import smartcontrols
import orvane.gui.brand
import orvane.gui.modelbvr60600

// The Control tab: the regulator's output voltage and operating mode, bound
// to the chip model. As a SmartParent it knows the worst validation state
// inside it, which the tab bar shows.
SmartParent {
    id: view
    property var myModel: ObjModelBvr60600
    readonly property alias voutSlider: voutSlider
    readonly property alias voutSpinBox: voutSpinBox

    // Selecting a mode clears the other two: the model does not keep them
    // exclusive, and a stale flag would keep the chip in its old mode.
    function selectMode(mode) {
        for (const name of ["autoPwm", "forcedPwm", "passThrough"]) {
            if (name !== mode)
                myModel[name] = false
        }
        myModel[mode] = true
    }

    // Moves the slider by whole steps and writes its code, as a drag would.
    function stepVout(steps) {
        const code = Math.max(voutSlider.from, Math.min(voutSlider.to, voutSlider.value + steps))
        myModel.voutControl = code
    }

    GroupBox {
        id: group
        objectName: "regulatorControl"
        title: qsTr("Regulator Control")
        anchors.left: parent.left
        anchors.top: parent.top
        anchors.margins: 12
        width: Math.min(parent.width - 24, 720)
        palette.window: ObjBrand.grpBackground
        palette.mid: ObjBrand.border

        GridLayout {
            anchors.fill: parent
            columns: 4
            columnSpacing: 12
            rowSpacing: 10

            OrvaneLabel {
                text: qsTr("VOUT")
                Layout.alignment: Qt.AlignVCenter
            }
            SmartSlider {
                id: voutSlider
                objectName: "voutControl"
                from: CodeTexts.codeMin
                to: CodeTexts.codeMax
                stepSize: 1
                snapMode: Slider.SnapAlways
                disableDefaultOnMoved: true
                value: CodeTexts.sliderCode(modelValue)
                Layout.fillWidth: true
                Layout.columnSpan: 2
                onMoved: {
                    view.myModel.voutControl = Math.round(value)
                    value = Qt.binding(() => CodeTexts.sliderCode(modelValue))
                }
            }
            OrvaneLabel {
                objectName: "voutCodeText"
                text: CodeTexts.hexText(voutSlider.modelValue, 2)
                font.family: "monospace"
                Layout.preferredWidth: 48
            }

            OrvaneLabel {
                text: qsTr("Output")
                Layout.alignment: Qt.AlignVCenter
            }
            RowLayout {
                spacing: 8
                Layout.columnSpan: 3
                SmartSpinBox {
                    id: voutSpinBox
                    objectName: "voutControl"
                    from: 0
                    to: 127
                    // Its steps go through the slider: they skip the reserved
                    // codes and move from the default code to its neighbours.
                    stepSize: 0
                    scrollable: false
                    validator: RegularExpressionValidator { regularExpression: /[0-9]*\.?[0-9]*/ }
                    textFromValue: function(value) { return CodeTexts.codeToText(value) }
                    valueFromText: function(text) { return CodeTexts.textToCode(text) }
                    Layout.preferredWidth: 140
                    Keys.onUpPressed: view.stepVout(1)
                    Keys.onDownPressed: view.stepVout(-1)

                    Connections {
                        target: voutSpinBox.up
                        function onPressedChanged() { if (voutSpinBox.up.pressed) view.stepVout(1) }
                    }
                    Connections {
                        target: voutSpinBox.down
                        function onPressedChanged() { if (voutSpinBox.down.pressed) view.stepVout(-1) }
                    }
                    WheelStepper {
                        onStepped: (steps) => view.stepVout(steps)
                    }
                }
                OrvaneLabel { text: "[V]" }
                Item { Layout.fillWidth: true }
            }

            ColumnLayout {
                Layout.columnSpan: 4
                Layout.topMargin: 6
                spacing: 2

                Repeater {
                    model: [
                        { name: "autoPwm", label: qsTr("Auto PWM-PFM Mode") },
                        { name: "forcedPwm", label: qsTr("Forced PWM Mode") },
                        { name: "passThrough", label: qsTr("Pass Through Mode") }
                    ]
                    delegate: SmartRadioButton {
                        required property var modelData
                        objectName: modelData.name
                        text: modelData.label
                        autoExclusive: false
                        checked: view.myModel[modelData.name]
                        thlp: view.myModel[modelData.name + "_help"]
                        ttip: view.myModel[modelData.name + "_tip"]
                        validationState: view.myModel[modelData.name + "_state"]
                        onToggled: {
                            if (checked)
                                view.selectMode(modelData.name)
                            // A click on the chosen mode must not clear it.
                            checked = Qt.binding(() => view.myModel[modelData.name])
                        }
                    }
                }
            }
        }
    }
}
