import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// A lamp with a label: lit in its colour when on, dark grey when off.
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
        color: led.on ? led.onColor : "#404040"
        border.color: "#202020"
    }
    Label { id: label }
}
