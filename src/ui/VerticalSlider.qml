import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// A labelled vertical slider that shows a value owned elsewhere and reports only user moves.
ColumnLayout {
    id: root
    property alias label: caption.text
    property real value: 0
    property alias from: slider.from
    property alias to: slider.to
    property alias slider: slider
    signal moved(real value)

    Slider {
        id: slider
        orientation: Qt.Vertical
        Layout.fillHeight: true
        Layout.alignment: Qt.AlignHCenter
        value: root.value
        onMoved: {
            root.moved(value)
            value = Qt.binding(() => root.value)
        }
    }
    Label { text: root.value.toFixed(3); Layout.alignment: Qt.AlignHCenter }
    Label { id: caption; Layout.alignment: Qt.AlignHCenter }
}
