import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// A lamp with a label: lit in its colour when on, dark when off, ringed in the text colour so
// that an off lamp stands out from its panel in a light and in a dark theme.
RowLayout {
    id: led
    property bool on: false
    property color onColor: "#2ECC40"
    property alias text: label.text
    spacing: 4
    Rectangle {
        width: 12
        height: 12
        radius: 6
        color: led.on ? led.onColor : Qt.darker(label.palette.window, 1.6)
        border.color: label.palette.windowText
    }
    Label { id: label }
}
