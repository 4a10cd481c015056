import QtQuick
import QtQuick.Controls

// A choice among the options of an OptionList. The list never announces its own changes, so the
// owner's signals call refresh(); refreshing and restoring the current option write nothing, and
// only a choice by the user is reported (chosen).
ComboBox {
    id: choice
    // The OptionList shown and the number of the option in use.
    property var optionList: null
    property int current: -1
    // Set to pick the option in use by its name rather than its number.
    property bool byName: false
    property string currentName: ""
    signal chosen(int number, string name)

    textRole: "name"
    valueRole: "number"
    model: []

    function refresh() {
        const items = []
        const options = optionList ? optionList.options : []
        for (let i = 0; i < options.length; ++i)
            items.push({ name: options[i].name, number: options[i].number })
        model = items
        restore()
    }
    function restore() {
        let index = -1
        for (let i = 0; i < model.length; ++i)
            if (byName ? model[i].name === currentName : model[i].number === current)
                index = i
        currentIndex = Math.max(0, index)
    }
    onCurrentChanged: restore()
    onCurrentNameChanged: restore()
    onOptionListChanged: refresh()
    Component.onCompleted: refresh()
    onActivated: index => chosen(model[index].number, model[index].name)
}
