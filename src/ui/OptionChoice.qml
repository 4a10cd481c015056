import QtQuick
import QtQuick.Controls

// A choice among the options of an OptionList. The list never announces its own changes, so the
// owner's signals call refresh(); refreshing and restoring the current option write nothing, and
// only a choice by the user is reported (chosen). An option shows its name; what it stands for is
// its number or, for a list keyed by value, its type.
ComboBox {
    id: choice
    // The OptionList shown and the number of the option in use.
    property var optionList: null
    property int current: -1
    // Set to pick the option in use by its stored value (its type) rather than its number.
    property bool byType: false
    property string currentType: ""
    signal chosen(int number, string type)

    textRole: "name"
    valueRole: "number"
    model: []

    function refresh() {
        const items = []
        const options = optionList ? optionList.options : []
        for (let i = 0; i < options.length; ++i)
            items.push({ name: options[i].name, number: options[i].number, type: options[i].type })
        model = items
        restore()
    }
    function restore() {
        let index = -1
        for (let i = 0; i < model.length; ++i)
            if (byType ? model[i].type === currentType : model[i].number === current)
                index = i
        currentIndex = Math.max(0, index)
    }
    onCurrentChanged: restore()
    onCurrentTypeChanged: restore()
    onOptionListChanged: refresh()
    Component.onCompleted: refresh()
    onActivated: index => chosen(model[index].number, model[index].type)
}
