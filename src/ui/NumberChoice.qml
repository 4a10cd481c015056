import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// A choice among numbered entries [number, text].
RowLayout {
    id: choiceRow
    property alias label: caption.text
    property var entries: []
    property int value: 0
    signal committed(int number)
    Label { id: caption; Layout.preferredWidth: 220 }
    ComboBox {
        id: combo
        objectName: choiceRow.objectName + "Box"
        Layout.fillWidth: true
        model: choiceRow.entries.map(e => e[1])
        currentIndex: choiceRow.entries.findIndex(e => e[0] === choiceRow.value)
        onActivated: index => {
            choiceRow.committed(choiceRow.entries[index][0])
            currentIndex = Qt.binding(() => choiceRow.entries.findIndex(e => e[0] === choiceRow.value))
        }
    }
}
