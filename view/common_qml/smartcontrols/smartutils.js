// Shared behaviour of the smart controls. Imported without ".pragma library",
// so each control gets its own copy that runs in the control's scope: the
// functions read the importing control's objModel, objectName, railIndex and
// validationState directly, and bindings that call them follow the model.

var registeredParent = null
var registeredGetter = null

function hasRail() {
    return railIndex !== undefined && railIndex !== null
}

function isList(value) {
    return value !== null && typeof value === "object" && value.length !== undefined
}

function access(key, fallback) {
    if (objModel === undefined || objModel === null)
        return fallback
    const value = objModel[objectName + key]
    if (value === undefined)
        return fallback
    if (!hasRail())
        return value
    if (!isList(value) || value[railIndex] === undefined)
        return fallback
    return value[railIndex]
}

// True when the property `name` can be written on the model.
function sanityCheck(name, traceObj) {
    if (objModel === undefined || objModel === null || !name)
        return false
    const value = objModel[name]
    if (value === undefined)
        return false
    return !hasRail() || (isList(value) && value[railIndex] !== undefined)
}

function write(value) {
    if (!sanityCheck(objectName, null))
        return
    if (!hasRail()) {
        objModel[objectName] = value
        return
    }
    // A list property is copied out and written back whole: changing an
    // element of the copy alone would not reach the model.
    const list = Array.prototype.slice.call(objModel[objectName])
    list[railIndex] = value
    objModel[objectName] = list
}

function typeName(obj) {
    return String(obj).split("(")[0].replace(/_QML(TYPE)?_\d+.*$/, "")
}

function printTrace(obj) {
    let text = ""
    let indent = ""
    for (let item = obj; item; item = item.parent) {
        text += "\n" + indent + item
        indent += "   "
    }
    return text
}

// Logs, in one message, every companion of `name` that the model lacks.
function fullCheck(name, traceObj, checkArgs) {
    const noModel = objModel === undefined || objModel === null
    const missing = []
    let railMissing = false
    for (const suffix of checkArgs) {
        const value = noModel ? undefined : objModel[name + suffix]
        if (value === undefined || !name)
            missing.push(name + suffix)
        else if (hasRail() && (!isList(value) || value[railIndex] === undefined))
            railMissing = true
    }
    if (missing.length === 0 && !railMissing)
        return true
    let message = typeName(traceObj) + " config error: unable to access properties "
            + JSON.stringify(missing) + " from object " + objModel + "."
    if (!name || noModel)
        message += "\n"
    if (!name)
        message += " No objectName specified."
    if (noModel)
        message += " objModel is undefined."
    if (railMissing)
        message += " Rail index " + railIndex + " was undefined."
    console.warn(message + printTrace(traceObj))
    return false
}

function evalState(stateArray, transform) {
    let state = 0
    for (let i = 0; i < stateArray.length; ++i)
        state |= transform ? transform(stateArray[i]) : stateArray[i]
    return state
}

function getValidationColor(validationState) {
    const states = Constants.validationStates
    if (validationState & states.error)
        return ObjBrand.errorColor
    if (validationState & states.warning)
        return ObjBrand.warningColor
    if (validationState === states.changed)
        return ObjBrand.border
    return "transparent"
}

function isChanged(validationState) {
    return (validationState & Constants.validationStates.changed) !== 0
}

function tooltipText() {
    return [thlp, ttip].filter(text => text !== undefined && text !== "").join("\n")
}

// -2 asks for every rail, -1 for what this control itself shows, 0.. for a rail.
function stateOf(index) {
    const states = (objModel === undefined || objModel === null) ? undefined : objModel[objectName + "_state"]
    if (!isList(states) || index === -1)
        return validationState
    if (index === -2)
        return evalState(states)
    return states[index] === undefined ? 0 : states[index]
}

function nearestSmartParent(item) {
    for (let p = item ? item.parent : null; p; p = p.parent) {
        if (p.isSmartParent === true)
            return p
    }
    return null
}

// Registers this control (or this SmartParent, when `ownState` is its
// getValidationState) with the nearest SmartParent above it.
function setSmartParent(self, ownState) {
    const smartParent = nearestSmartParent(self)
    if (!smartParent)
        return
    registeredParent = smartParent
    if (ownState) {
        registeredGetter = ownState
        smartParent.childParents = smartParent.childParents.concat([ownState])
    } else {
        registeredGetter = stateOf
        smartParent.stateGetters = smartParent.stateGetters.concat([stateOf])
    }
}

// A destroyed control must leave its parent's lists: its getter would read
// from a context that no longer exists.
function unsetSmartParent() {
    const smartParent = registeredParent
    if (!smartParent || !registeredGetter)
        return
    const getter = registeredGetter
    registeredParent = null
    registeredGetter = null
    smartParent.stateGetters = smartParent.stateGetters.filter(g => g !== getter)
    smartParent.childParents = smartParent.childParents.filter(g => g !== getter)
}

function setup(self, checkArgs) {
    setSmartParent(self, null)
    if (checkArgs && !silenceWarnings && ObjSettings.debugBuild)
        fullCheck(objectName, self, checkArgs)
}

function showHelp() {
    if (thlp !== "")
        Status.text = thlp
}
