import QtQuick

// The frame of one LDM on the wall view (the balance target), where the view draws it.
Rectangle {
    required property var view
    property int number: 0
    readonly property rect area: (view.layoutRevision, view.zoom, view.wall.itemRect(number))
    visible: number > 0 && area.width > 0
    x: area.x
    y: area.y
    width: area.width
    height: area.height
    color: "transparent"
    border.color: "#FF4136"
    border.width: 2
}
