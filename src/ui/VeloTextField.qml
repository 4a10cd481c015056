import QtQuick
import QtQuick.Controls

// A text field that shows a value owned elsewhere and hands back the text the user finished
// editing. The value is shown again after every commit, so a value the owner changed (clamped,
// refused) is what the field shows, and refilling the field never writes anything.
TextField {
    id: field
    // The owner's value, as text.
    property string value: ""
    property string toolTipText: ""
    // The user finished editing (Enter or focus lost) with this text.
    signal committed(string text)

    text: value
    selectByMouse: true
    onEditingFinished: {
        if (text !== value)
            committed(text)
        text = Qt.binding(() => field.value)
    }
    VeloToolTip { text: field.toolTipText }
}
