import QtQuick
import QtQuick.Controls

// A check box that shows a flag and reports the user's toggle.
CheckBox {
    id: box
    property bool value: false
    signal committed(bool checked)
    checked: value
    onToggled: {
        committed(checked)
        checked = Qt.binding(() => box.value)
    }
}
