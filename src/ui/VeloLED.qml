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
    // Sized by its implicit size, which a layout keeps: an explicit size is taken as the lamp's
    // only until the layout first lays it out, hidden or squeezed, and is lost then.
    Rectangle {
        implicitWidth: 12
        implicitHeight: 12
        Layout.minimumWidth: implicitWidth
        Layout.minimumHeight: implicitHeight
        radius: 6
        color: led.on ? led.onColor : Qt.darker(label.palette.window, 1.6)
        border.color: label.palette.windowText
    }
    Label { id: label }
}
