import QtQuick

// The frame drawn around the item that has the keyboard focus.
Rectangle {
    property Item target: parent
    anchors.fill: target
    color: "transparent"
    border.width: 2
    border.color: "#3D8EE0"
    radius: 2
    visible: target && target.activeFocus
}
