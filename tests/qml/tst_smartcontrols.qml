import QtQuick
import QtTest
import brand
import controls
import applayout
import smartcontrols
import orvane.gui.brand
import orvane.gui.settings

Item {
    id: root
    width: 600
    height: 400

    // A model following the property-name convention, fresh for every case.
    Component {
        id: modelComponent
        QtObject {
            property int value: 5
            property string value_help: "Help text"
            property string value_tip: "Tip text"
            property int value_state: 0
            property string value_dirty: "pending"
            property var value_keys: ["zero", "one", "two", "three", "four", "five", "six"]
            property bool flag: false
            property string flag_help: ""
            property string flag_tip: ""
            property int flag_state: 0
            property string name: "first"
            property string name_help: ""
            property string name_tip: ""
            property int name_state: 0
            property real level: 1.25
            property string level_help: ""
            property string level_tip: ""
            property int level_state: 0
            property var rails: [10, 20, 30]
            property var rails_help: ["h0", "h1", "h2"]
            property var rails_tip: ["t0", "t1", "t2"]
            property var rails_state: [0x00, 0x01, 0x12]
        }
    }

    Component { id: spinBox; SmartSpinBox { objectName: "value"; to: 100 } }
    Component { id: doubleSpinBox; SmartDoubleSpinBox { objectName: "level" } }
    Component { id: scalableSpinBox; SmartScalableSpinBox { objectName: "value"; lsb: 0.05; offset: 0.45; decimals: 3; to: 127 } }
    Component { id: checkBox; SmartCheckBox { objectName: "flag" } }
    Component { id: switchControl; SmartSwitch { objectName: "flag" } }
    Component { id: slider; SmartSlider { objectName: "value"; to: 100; stepSize: 1 } }
    Component { id: dial; SmartDial { objectName: "value"; to: 100; stepSize: 1 } }
    Component { id: textField; SmartTextField { objectName: "name" } }
    Component { id: comboBox; SmartComboBox { objectName: "value" } }
    Component { id: label; SmartLabel { objectName: "level"; precision: 2; unit: "V" } }
    Component { id: radioButton; SmartRadioButton { } }

    Component {
        id: twoControls
        SmartParent {
            property var m
            property alias first: first
            property alias second: second
            property alias inner: inner
            width: 300
            height: 200
            SmartSpinBox { id: first; objectName: "value"; objModel: m }
            Item {
                SmartCheckBox { id: second; objectName: "flag"; objModel: m }
            }
            SmartParent {
                id: inner
                SmartRadioButton { validationState: 0x10 }
            }
        }
    }
    Component {
        id: railParent
        SmartParent {
            property var m
            SmartSpinBox { objectName: "rails"; railIndex: 0; objModel: m }
        }
    }
    Component {
        id: loaderParent
        SmartParent {
            property var m
            property alias loader: loader
            Loader {
                id: loader
                sourceComponent: SmartSpinBox { objectName: "value"; objModel: m }
            }
        }
    }

    TestCase {
        name: "SmartControls"
        when: windowShown

        function init() {
            failOnWarning(/.?/)
        }

        function make(component, model, properties) {
            const props = properties || {}
            props.objModel = model
            const control = createTemporaryObject(component, root, props)
            verify(control)
            return control
        }

        function test_colour_by_state_data() {
            return [
                { tag: "ok", state: 0x00, colour: "transparent", changed: false },
                { tag: "warning", state: 0x01, colour: ObjBrand.warningColor, changed: false },
                { tag: "error", state: 0x02, colour: ObjBrand.errorColor, changed: false },
                { tag: "error beats warning", state: 0x03, colour: ObjBrand.errorColor, changed: false },
                { tag: "changed", state: 0x10, colour: ObjBrand.border, changed: true },
                { tag: "warning+changed", state: 0x11, colour: ObjBrand.warningColor, changed: true },
                { tag: "error+changed", state: 0x12, colour: ObjBrand.errorColor, changed: true },
            ]
        }

        // Every smart control colours its frame by the model's X_state and
        // turns bold italic while the changed bit is set.
        function test_colour_by_state(data) {
            const kinds = [spinBox, checkBox, switchControl, slider, dial, textField, comboBox]
            for (const kind of kinds) {
                const model = createTemporaryObject(modelComponent, root)
                const control = make(kind, model)
                model[control.objectName + "_state"] = data.state
                verify(Qt.colorEqual(control.borderColor, data.colour),
                       control + " shows " + control.borderColor)
                compare(control.font.bold, data.changed)
                compare(control.font.italic, data.changed)
            }
        }

        function test_state_change_follows_the_model() {
            const model = createTemporaryObject(modelComponent, root)
            const control = make(spinBox, model)
            verify(Qt.colorEqual(control.borderColor, "transparent"))
            model.value_state = 0x02
            verify(Qt.colorEqual(control.borderColor, ObjBrand.errorColor))
            model.value_state = 0x00
            verify(Qt.colorEqual(control.borderColor, "transparent"))
            compare(control.font.bold, false)
        }

        function test_help_and_tip() {
            const model = createTemporaryObject(modelComponent, root)
            const control = make(spinBox, model)
            compare(control.thlp, "Help text")
            compare(control.ttip, "Tip text")
            control.forceActiveFocus()
            compare(Status.text, "Help text", "focus shows the help in the status line")
        }

        // After the user edits, the control must keep following the model:
        // a broken binding would freeze it at the user's value.
        function test_user_edit_writes_back_and_stays_bound_data() {
            return [
                { tag: "spin box", kind: spinBox, key: Qt.Key_Up, prop: "value", expected: 6, later: 42 },
                { tag: "slider", kind: slider, key: Qt.Key_Right, prop: "value", expected: 6, later: 42 },
                { tag: "dial", kind: dial, key: Qt.Key_Right, prop: "value", expected: 6, later: 42 },
                { tag: "check box", kind: checkBox, key: Qt.Key_Space, prop: "flag", expected: true, later: false },
                { tag: "switch", kind: switchControl, key: Qt.Key_Space, prop: "flag", expected: true, later: false },
            ]
        }

        function test_user_edit_writes_back_and_stays_bound(data) {
            const model = createTemporaryObject(modelComponent, root)
            const control = make(data.kind, model)
            control.forceActiveFocus()
            keyClick(data.key)
            compare(model[data.prop], data.expected)
            model[data.prop] = data.later
            compare(control.checked !== undefined && data.prop === "flag" ? control.checked : control.value, data.later)
        }

        function test_text_field_writes_on_editing_finished() {
            const model = createTemporaryObject(modelComponent, root)
            const control = make(textField, model)
            compare(control.text, "first")
            control.forceActiveFocus()
            control.selectAll()
            keyClick(Qt.Key_X)
            compare(model.name, "first", "nothing is written while typing")
            keyClick(Qt.Key_Return)
            compare(model.name, "x")
            model.name = "third"
            compare(control.text, "third")
        }

        function test_combo_box_entries_index_and_dirty() {
            const model = createTemporaryObject(modelComponent, root)
            const control = make(comboBox, model)
            compare(control.count, 7)
            compare(control.currentIndex, 5)
            control.forceActiveFocus()
            keyClick(Qt.Key_Down)
            compare(model.value, 6)
            compare(model.value_dirty, "")
            model.value = 2
            compare(control.currentIndex, 2)
        }

        function test_combo_box_without_keys_has_one_empty_entry() {
            const model = createTemporaryObject(modelComponent, root)
            const control = make(comboBox, model, { objectName: "flag", silenceWarnings: true })
            compare(control.count, 1)
        }

        function test_spin_box_wheel_steps_one_per_notch() {
            const model = createTemporaryObject(modelComponent, root)
            const control = make(spinBox, model)
            mouseWheel(control, control.width / 2, control.height / 2, 0, 120)
            compare(model.value, 6)
            mouseWheel(control, control.width / 2, control.height / 2, 0, 60)
            compare(model.value, 6, "half a notch does not step yet")
            mouseWheel(control, control.width / 2, control.height / 2, 0, 60)
            compare(model.value, 7)
            mouseWheel(control, control.width / 2, control.height / 2, 0, -240)
            compare(model.value, 5)
            control.scrollable = false
            mouseWheel(control, control.width / 2, control.height / 2, 0, 120)
            compare(model.value, 5)
        }

        function test_double_spin_box_scales() {
            const model = createTemporaryObject(modelComponent, root)
            const control = make(doubleSpinBox, model)
            compare(control.value, 125)
            compare(control.displayText, "1.25")
            control.forceActiveFocus()
            keyClick(Qt.Key_Up)
            compare(model.level, 1.26)
        }

        function test_scalable_spin_box_shows_physical_value() {
            const model = createTemporaryObject(modelComponent, root)
            const control = make(scalableSpinBox, model)
            compare(control.displayText, "0.700")
            compare(control.valueFromText("0.95", Qt.locale()), 10)
        }

        function test_label_shows_value_with_unit() {
            const model = createTemporaryObject(modelComponent, root)
            const control = make(label, model)
            compare(control.text, "1.25 V")
            model.level = 3.14159
            compare(control.text, "3.14 V")
        }

        function test_rail_index_reads_and_writes_one_element() {
            const model = createTemporaryObject(modelComponent, root)
            const control = make(spinBox, model, { objectName: "rails", railIndex: 1 })
            compare(control.value, 20)
            compare(control.thlp, "h1")
            verify(Qt.colorEqual(control.borderColor, ObjBrand.warningColor))
            control.forceActiveFocus()
            keyClick(Qt.Key_Up)
            compare(model.rails, [10, 21, 30])
        }

        function test_missing_property_shows_defaults_and_writes_nothing() {
            if (!ObjSettings.debugBuild)
                skip("the configuration check runs in a development build only")
            const model = createTemporaryObject(modelComponent, root)
            ignoreWarning(new RegExp('^SmartSpinBox config error: unable to access properties '
                                     + '\\["missing","missing_help","missing_tip","missing_state"\\] '
                                     + 'from object .+\\.\\nSmartSpinBox'))
            const control = make(spinBox, model, { objectName: "missing" })
            compare(control.value, 0)
            compare(control.thlp, "")
            control.forceActiveFocus()
            keyClick(Qt.Key_Up)
            compare(model.missing, undefined)
        }

        function test_config_error_explains_data() {
            return [
                { tag: "no objectName", name: "", model: true,
                  text: '\\["","_help","_tip","_state"\\] from object .+\\.\\n No objectName specified\\.' },
                { tag: "no model", name: "value", model: false,
                  text: '\\["value","value_help","value_tip","value_state"\\] from object undefined\\.\\n objModel is undefined\\.' },
                { tag: "missing rail", name: "rails", model: true, rail: 7,
                  text: '\\[\\] from object .+\\. Rail index 7 was undefined\\.' },
            ]
        }

        function test_config_error_explains(data) {
            if (!ObjSettings.debugBuild)
                skip("the configuration check runs in a development build only")
            const model = data.model ? createTemporaryObject(modelComponent, root) : undefined
            ignoreWarning(new RegExp('^SmartSpinBox config error: unable to access properties '
                                     + data.text))
            const props = { objectName: data.name }
            if (data.rail !== undefined)
                props.railIndex = data.rail
            make(spinBox, model, props)
        }

        function test_silenced_control_logs_nothing() {
            const model = createTemporaryObject(modelComponent, root)
            make(spinBox, model, { objectName: "missing", silenceWarnings: true })
        }

        function test_smart_parent_ors_children() {
            const model = createTemporaryObject(modelComponent, root)
            const group = createTemporaryObject(twoControls, root, { m: model })
            compare(group.validationState, 0x10, "the nested parent's changed bit")
            model.value_state = 0x02
            model.flag_state = 0x01
            compare(group.validationState, 0x13)
            compare(group.inner.validationState, 0x10)
            model.value_state = 0x00
            compare(group.validationState, 0x11)
        }

        function test_smart_parent_rail_states() {
            const model = createTemporaryObject(modelComponent, root)
            const group = createTemporaryObject(railParent, root, { m: model })
            compare(group.validationState, 0x00, "the control shows rail 0")
            compare(group.getValidationState(-2), 0x13, "every rail")
            compare(group.getValidationState(2), 0x12)
            group.phaseIndex = function(index) { return [1, 2] }
            compare(group.validationState, 0x13)
        }

        // A control that goes away (a tab unloaded) must leave its parent.
        function test_destroyed_control_leaves_its_parent() {
            const model = createTemporaryObject(modelComponent, root, { value_state: 0x02 })
            const group = createTemporaryObject(loaderParent, root, { m: model })
            compare(group.validationState, 0x02)
            group.loader.active = false
            compare(group.stateGetters.length, 0)
            compare(group.validationState, 0x00)
        }

        function test_eval_state() {
            compare(SmartUtils.evalState([0x01, 0x10, 0x00]), 0x11)
            compare(SmartUtils.evalState([1, 2], function(s) { return s << 4 }), 0x30)
            compare(SmartUtils.evalState([]), 0)
        }

        function test_constants_hex_address() {
            compare(Constants.txtI2cHexAddressMultiplier("38", 2), "0x70")
        }
    }
}
