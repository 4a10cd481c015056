import QtQuick
import ImageItem 1.0
import WallView 1.0

// The wall drawn at a scale: every LDM (balance) or tile (template) at its wall position, in
// the colours of the chosen view, with the lit extent, the balance target and the grader's view
// of the screen. The LDMs and tiles are one item that reads the whole wall at most once a frame
// and catches up when shown. The grid that answers the simulated camera (answersFakeReadings)
// gives every lit LDM an observed colour at once whenever the controller asks for one.
Item {
    id: grid
    // Screen pixels per wall pixel.
    property real zoom: 0.25
    property bool tileMode: false
    // "Images", "Gains" or "Errors".
    property string showMode: "Images"
    property bool answersFakeReadings: false
    property bool showGraderImage: true
    readonly property var device: velotrimmer.display
    readonly property alias wall: wall
    // The wall as last read, and the count of layouts read.
    readonly property int originX: wall.originX
    readonly property int originY: wall.originY
    readonly property int itemCount: wall.itemCount
    readonly property real wallWidth: wall.wallWidth
    readonly property real wallHeight: wall.wallHeight
    readonly property int layoutRevision: wall.layoutRevision

    width: Math.max(1, wallWidth * zoom)
    height: Math.max(1, wallHeight * zoom)

    Connections {
        target: grid.device
        enabled: grid.answersFakeReadings
        function onNeedFakeLdmRGBsChanged() { wall.writeFakeReadings(velotrimmer.fakeLdmVariation) }
    }

    // The rectangle a drag covers, in wall coordinates, corners as top-left and bottom-right.
    function wallRect(x1, y1, x2, y2) {
        const r = wall.wallRect(x1, y1, x2, y2)
        return { topLeft: Qt.point(r.x, r.y), bottomRight: Qt.point(r.x + r.width, r.y + r.height) }
    }
    // The number of the LDM or tile under a point of the grid, or 0.
    function itemAt(x, y) {
        return wall.itemAt(x, y)
    }

    Rectangle { anchors.fill: parent; color: "black" }
    WallView {
        id: wall
        objectName: "wallView"
        anchors.fill: parent
        display: grid.device
        zoom: grid.zoom
        tileMode: grid.tileMode
        showMode: grid.showMode
        targetRed: velotrimmer.balanceTargetRed
        targetGreen: velotrimmer.balanceTargetGreen
        targetBlue: velotrimmer.balanceTargetBlue
    }
    // The grader's view of the screen, through its relay on this thread: made only while there
    // is a picture, so that it paints only when the picture changes or the wall is zoomed.
    Loader {
        anchors.fill: parent
        active: grid.showGraderImage && !!velotrimmer.graderRelay && velotrimmer.graderRelay.hasScreenImage
        sourceComponent: ImageItem {
            image: velotrimmer.graderRelay.screenImage
            opacity: 0.5
        }
    }
    // The extent of the lit LDMs.
    Rectangle {
        objectName: "litExtent"
        readonly property var d: grid.device
        visible: d !== null && !grid.tileMode && d.litLdmCount > 0
        x: d ? (d.minLitLdmX - grid.originX) * grid.zoom : 0
        y: d ? (d.minLitLdmY - grid.originY) * grid.zoom : 0
        width: d ? (d.maxLitLdmX - d.minLitLdmX) * grid.zoom : 0
        height: d ? (d.maxLitLdmY - d.minLitLdmY) * grid.zoom : 0
        color: "transparent"
        border.color: "#FFDC00"
        border.width: 1
    }
    Ldm {
        view: grid
        number: grid.tileMode ? 0 : velotrimmer.selectedLdm
    }
}
