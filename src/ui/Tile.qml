import QtQuick

// The outline of one tile on the wall view, at the grid's scale.
Rectangle {
    required property var view
    required property int index
    readonly property int number: index + 1
    readonly property var device: velotrimmer.display
    x: (device.tileX(number) - view.originX) * view.zoom + view.layoutRevision * 0
    y: (device.tileY(number) - view.originY) * view.zoom + view.layoutRevision * 0
    width: device.tileWidth(number) * view.zoom + view.layoutRevision * 0
    height: device.tileHeight(number) * view.zoom + view.layoutRevision * 0
    color: "transparent"
    border.width: 1
    border.color: (view.revision, device.tileAdjustable(number)) ? "#FFFFFF"
                  : device.tileLit(number) ? "#808080" : "#303030"
}
