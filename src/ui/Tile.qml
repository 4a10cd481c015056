import QtQuick

// The outline of one tile on the wall view, at the grid's scale.
Rectangle {
    required property var grid
    required property int index
    readonly property int number: index + 1
    readonly property var display: velotrimmer.display
    x: (display.tileX(number) - grid.originX) * grid.zoom + grid.revision * 0
    y: (display.tileY(number) - grid.originY) * grid.zoom + grid.revision * 0
    width: display.tileWidth(number) * grid.zoom + grid.revision * 0
    height: display.tileHeight(number) * grid.zoom + grid.revision * 0
    color: "transparent"
    border.width: 1
    border.color: (grid.revision, display.tileAdjustable(number)) ? "#FFFFFF"
                  : display.tileLit(number) ? "#808080" : "#303030"
}
