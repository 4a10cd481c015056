import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// A labelled horizontal slider that shows a value owned elsewhere and reports only user moves.
ColumnLayout {
    id: root
    property alias label: caption.text
    property real value: 0
    property alias from: slider.from
    property alias to: slider.to
    property alias stepSize: slider.stepSize
    property int decimals: 1
    property alias slider: slider
    signal moved(real value)

    RowLayout {
        Label { id: caption }
        Label { text: root.value.toFixed(root.decimals) }
    }
    Slider {
        id: slider
        Layout.fillWidth: true
        value: root.value
        snapMode: Slider.SnapAlways
        onMoved: {
            root.moved(value)
            value = Qt.binding(() => root.value)
        }
    }
}
