import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import QtQuick.Window
import brand
import smartcontrols
import controls
import orvane.gui.brand
import orvane.gui.modelmgr

// Every smart control in every validation state, so the colours and fonts
// can be judged side by side; the last column edits the model manager's
// test properties, which the validation demonstration keeps changing.
OrvaneWindow {
    id: demo
    objectName: "demoErrorReporting"
    title: qsTr("Demonstration of error reporting")
    width: 1300
    height: 500

    readonly property var stateTitles: ["<OK>", "<WARN>", "<ERROR>", "<CHANGED>", "<WARN+CHANGED>",
                                        "<ERROR+CHANGED>", "TEST BED"]

    // A stand-in model whose every property is in one state.
    component DemoModel: QtObject {
        property int st: 0
        property string stateName: ""
        readonly property string help: "Shown in state " + stateName
        readonly property string tip: "State is " + st

        property real testLabel: 1.234
        property string testLabel_help: help
        property string testLabel_tip: tip
        property int testLabel_state: st

        property string testTextField: "text"
        property string testTextField_help: help
        property string testTextField_tip: tip
        property int testTextField_state: st

        property bool testCheckBox: true
        property string testCheckBox_help: help
        property string testCheckBox_tip: tip
        property int testCheckBox_state: st

        property bool testRadioButton: true
        property string testRadioButton_help: help
        property string testRadioButton_tip: tip
        property int testRadioButton_state: st

        property bool testSwitch: true
        property string testSwitch_help: help
        property string testSwitch_tip: tip
        property int testSwitch_state: st

        property int testComboBox: 1
        property var testComboBox_keys: ["First", "Second", "Third"]
        property string testComboBox_dirty: ""
        property string testComboBox_help: help
        property string testComboBox_tip: tip
        property int testComboBox_state: st

        property int testSpinBox: 42
        property string testSpinBox_help: help
        property string testSpinBox_tip: tip
        property int testSpinBox_state: st

        property int testSlider: 42
        property string testSlider_help: help
        property string testSlider_tip: tip
        property int testSlider_state: st

        property real testDial: 42
        property string testDial_help: help
        property string testDial_tip: tip
        property int testDial_state: st
    }

    readonly property list<QtObject> demoModels: [
        DemoModel { st: 0x00; stateName: "OK" },
        DemoModel { st: 0x01; stateName: "WARN" },
        DemoModel { st: 0x02; stateName: "ERROR" },
        DemoModel { st: 0x10; stateName: "CHANGED" },
        DemoModel { st: 0x11; stateName: "WARN+CHANGED" },
        DemoModel { st: 0x12; stateName: "ERROR+CHANGED" }
    ]
    // The state columns followed by the test bed.
    function columnsWith(testBed) {
        const list = []
        for (let i = 0; i < demoModels.length; ++i)
            list.push(demoModels[i])
        list.push(testBed)
        return list
    }
    readonly property var columnModels: columnsWith(ObjModelMgr)

    // The model manager keeps its label and combo-box values as text; the
    // label shows a number and the combo box an index into its keys.
    QtObject {
        id: labelBed
        readonly property real testLabel: Number(ObjModelMgr.testLabel) || 0
        readonly property string testLabel_help: ObjModelMgr.testLabel_help
        readonly property string testLabel_tip: ObjModelMgr.testLabel_tip
        readonly property int testLabel_state: ObjModelMgr.testLabel_state
    }
    QtObject {
        id: comboBed
        readonly property int testComboBox: 0
        readonly property var testComboBox_keys: [ObjModelMgr.testComboBox]
        property string testComboBox_dirty: ""
        readonly property string testComboBox_help: ObjModelMgr.testComboBox_help
        readonly property string testComboBox_tip: ObjModelMgr.testComboBox_tip
        readonly property int testComboBox_state: ObjModelMgr.testComboBox_state
    }

    component RowTitle: Label {
        color: ObjBrand.text
        font.bold: true
        Layout.preferredWidth: 110
    }

    ScrollView {
        id: scroll
        anchors.fill: parent
        anchors.margins: 10
        contentWidth: demoParent.width
        contentHeight: demoParent.height
        clip: true

        SmartParent {
            id: demoParent
            objectName: "demoParent"
            width: grid.implicitWidth
            height: grid.implicitHeight

            GridLayout {
                id: grid
                anchors.fill: parent
                columns: 1 + demo.stateTitles.length
                rowSpacing: 10
                columnSpacing: 14

                Label {
                    text: qsTr("Worst state: 0x") + demoParent.validationState.toString(16)
                    color: ObjBrand.text
                    font.italic: true
                }
                Repeater {
                    model: demo.stateTitles
                    Label {
                        required property string modelData
                        Layout.preferredWidth: 150
                        text: modelData
                        color: ObjBrand.text
                        font.bold: true
                        horizontalAlignment: Text.AlignHCenter
                    }
                }

                RowTitle { text: qsTr("Label") }
                Repeater {
                    model: demo.columnsWith(labelBed)
                    SmartLabel {
                        required property var modelData
                        Layout.alignment: Qt.AlignHCenter
                        objectName: "testLabel"
                        objModel: modelData
                        precision: 2
                    }
                }

                RowTitle { text: qsTr("TextField") }
                Repeater {
                    model: demo.columnModels
                    SmartTextField {
                        required property var modelData
                        Layout.preferredWidth: 150
                        objectName: "testTextField"
                        objModel: modelData
                    }
                }

                RowTitle { text: qsTr("CheckBox") }
                Repeater {
                    model: demo.columnModels
                    SmartCheckBox {
                        required property var modelData
                        Layout.alignment: Qt.AlignHCenter
                        objectName: "testCheckBox"
                        objModel: modelData
                        text: qsTr("Check")
                    }
                }

                RowTitle { text: qsTr("RadioButton") }
                Repeater {
                    model: demo.columnModels
                    SmartRadioButton {
                        required property var modelData
                        Layout.alignment: Qt.AlignHCenter
                        objectName: "testRadioButton"
                        objModel: modelData
                        text: qsTr("Radio")
                        autoExclusive: false
                        checked: modelData.testRadioButton
                        thlp: modelData.testRadioButton_help
                        ttip: modelData.testRadioButton_tip
                        validationState: modelData.testRadioButton_state
                        onToggled: modelData.testRadioButton = checked
                    }
                }

                RowTitle { text: qsTr("Switch") }
                Repeater {
                    model: demo.columnModels
                    SmartSwitch {
                        required property var modelData
                        Layout.alignment: Qt.AlignHCenter
                        objectName: "testSwitch"
                        objModel: modelData
                        text: qsTr("Switch")
                    }
                }

                RowTitle { text: qsTr("ComboBox") }
                Repeater {
                    model: demo.columnsWith(comboBed)
                    SmartComboBox {
                        required property var modelData
                        Layout.preferredWidth: 150
                        objectName: "testComboBox"
                        objModel: modelData
                    }
                }

                RowTitle { text: qsTr("SpinBox") }
                Repeater {
                    model: demo.columnModels
                    SmartSpinBox {
                        required property var modelData
                        Layout.preferredWidth: 150
                        objectName: "testSpinBox"
                        objModel: modelData
                        from: 0
                        to: 100
                    }
                }

                RowTitle { text: qsTr("Slider") }
                Repeater {
                    model: demo.columnModels
                    SmartSlider {
                        required property var modelData
                        Layout.preferredWidth: 150
                        objectName: "testSlider"
                        objModel: modelData
                        from: 0
                        to: 100
                    }
                }

                RowTitle { text: qsTr("Dial") }
                Repeater {
                    model: demo.columnModels
                    SmartDial {
                        required property var modelData
                        Layout.alignment: Qt.AlignHCenter
                        Layout.preferredWidth: 60
                        Layout.preferredHeight: 60
                        objectName: "testDial"
                        objModel: modelData
                        from: 0
                        to: 100
                    }
                }
            }
        }
    }
}
