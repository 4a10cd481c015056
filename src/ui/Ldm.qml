import QtQuick

// The frame of one LDM on the wall view (the balance target), at the grid's scale.
Rectangle {
    required property var grid
    property int number: 0
    readonly property var display: velotrimmer.display
    visible: number > 0 && display !== null && number <= grid.itemCount + grid.revision * 0
    x: (display.ldmX(number) - grid.originX) * grid.zoom + grid.revision * 0
    y: (display.ldmY(number) - grid.originY) * grid.zoom + grid.revision * 0
    width: display.ldmWidth(number) * grid.zoom + grid.revision * 0
    height: display.ldmHeight(number) * grid.zoom + grid.revision * 0
    color: "transparent"
    border.color: "#FF4136"
    border.width: 2
}
