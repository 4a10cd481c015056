import QtQuick

// The frame of one LDM on the wall view (the balance target), at the grid's scale.
Rectangle {
    required property var view
    property int number: 0
    readonly property var device: velotrimmer.display
    visible: number > 0 && device !== null && number <= view.itemCount + view.revision * 0
    x: (device.ldmX(number) - view.originX) * view.zoom + view.revision * 0
    y: (device.ldmY(number) - view.originY) * view.zoom + view.revision * 0
    width: device.ldmWidth(number) * view.zoom + view.revision * 0
    height: device.ldmHeight(number) * view.zoom + view.revision * 0
    color: "transparent"
    border.color: "#FF4136"
    border.width: 2
}
