import QtQuick
import ImageItem 1.0

// The wall drawn at a scale: every LDM (balance) or tile (template) at its wall position, in
// the colours of the chosen view, with the lit extent and the grader's view of the screen.
// The grid that answers the simulated camera (answersFakeReadings) gives every lit LDM an
// observed colour at once whenever the controller asks for one.
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
    // Bumped whenever the wall's data change (colours, flags), so that the drawing follows; the
    // layout revision also when the LDMs and tiles move, so that only a new layout places them
    // again (a balance run announces new data after every observation).
    property int revision: 0
    property int layoutRevision: 0
    // Whether the grid follows the display; a grid nobody sees catches up when it is shown.
    property bool live: visible
    readonly property int originX: device ? device.minX : 0
    readonly property int originY: device ? device.minY : 0
    readonly property int itemCount: device ? (tileMode ? device.tileCount : device.ldmCount) : 0
    readonly property real wallWidth: device ? device.maxX - device.minX : 1
    readonly property real wallHeight: device ? device.maxY - device.minY : 1

    // The simulated camera's level: inside the range the balance target accepts, with a fixed
    // spread per LDM and channel that fakeLdmVariation scales. An LDM's gains are relative
    // (0 leaves its output as it is), so the level follows 1 + gain.
    readonly property real fakeRedBlueLevel: 150
    readonly property real fakeGreenLevel: 175

    width: Math.max(1, wallWidth * zoom)
    height: Math.max(1, wallHeight * zoom)

    function refresh() {
        ++revision
    }
    function relayout() {
        ++layoutRevision
        ++revision
    }
    onTileModeChanged: relayout()
    onShowModeChanged: refresh()
    onDeviceChanged: relayout()
    onLiveChanged: if (live) relayout()

    Connections {
        target: grid.device
        enabled: grid.live
        function onLdmDataChanged() { grid.refresh() }
        function onTileDataChanged() { grid.refresh() }
        function onRefreshChanged() { grid.relayout() }
        function onFetchedOutputConfig() { grid.relayout() }
        function onLdmCountChanged() { grid.relayout() }
        function onTileCountChanged() { grid.relayout() }
    }
    Connections {
        target: grid.device
        function onNeedFakeLdmRGBsChanged() { if (grid.answersFakeReadings) grid.fakeReadings() }
    }
    Connections {
        target: velotrimmer
        enabled: grid.live
        function onSelectedLdmChanged() { grid.refresh() }
    }

    // A fixed number in [-1, 1] for an LDM and a channel.
    function spread(number, channel) {
        const s = Math.sin(number * 12.9898 + channel * 78.233) * 43758.5453
        return (s - Math.floor(s)) * 2 - 1
    }
    function fakeLevel(level, gain, deviation) {
        return Math.max(0, level * (1 + gain) * (1 + deviation))
    }
    function fakeReadings() {
        const d = device
        const variation = velotrimmer.fakeLdmVariation
        for (let n = 1; n <= d.ldmCount; ++n) {
            if (!d.ldmIsLit(n))
                continue
            d.setLdmRGBObserved(n, fakeLevel(fakeRedBlueLevel, d.ldmRedGain(n), variation * spread(n, 0)),
                                fakeLevel(fakeGreenLevel, d.ldmGreenGain(n), variation * spread(n, 1)),
                                fakeLevel(fakeRedBlueLevel, d.ldmBlueGain(n), variation * spread(n, 2)))
        }
        refresh()
    }

    // Wall coordinates of a point of the grid.
    function toWall(x, y) {
        return Qt.point(Math.floor(x / zoom) + originX, Math.floor(y / zoom) + originY)
    }
    // The rectangle a drag covers, in wall coordinates, corners as top-left and bottom-right.
    function wallRect(x1, y1, x2, y2) {
        return {
            topLeft: Qt.point(Math.floor(Math.min(x1, x2) / zoom) + originX, Math.floor(Math.min(y1, y2) / zoom) + originY),
            bottomRight: Qt.point(Math.ceil(Math.max(x1, x2) / zoom) + originX, Math.ceil(Math.max(y1, y2) / zoom) + originY)
        }
    }
    // The number of the LDM or tile under a point of the grid, or 0.
    function itemAt(x, y) {
        const wx = x / zoom + originX
        const wy = y / zoom + originY
        const d = device
        for (let n = 1; n <= itemCount; ++n) {
            const left = tileMode ? d.tileX(n) : d.ldmX(n)
            const top = tileMode ? d.tileY(n) : d.ldmY(n)
            const w = tileMode ? d.tileWidth(n) : d.ldmWidth(n)
            const h = tileMode ? d.tileHeight(n) : d.ldmHeight(n)
            if (wx >= left && wx < left + w && wy >= top && wy < top + h)
                return n
        }
        return 0
    }

    function channel(value) { return Math.max(0, Math.min(255, Math.round(value))) }
    // Mid-grey for an unchanged channel, brighter for a raised one.
    function gainShade(gain) { return Math.max(0, Math.min(1, (1 + gain) / 2)) }
    function ldmFill(n) {
        const d = device
        if (!d.ldmIsLit(n))
            return "#101010"
        if (showMode === "Gains")
            return Qt.rgba(gainShade(d.ldmRedGain(n)), gainShade(d.ldmGreenGain(n)), gainShade(d.ldmBlueGain(n)), 1)
        if (showMode === "Errors")
            return Qt.rgba(Math.min(1, 0.5 + velotrimmer.ldmRedError(n)), Math.min(1, 0.5 + velotrimmer.ldmGreenError(n)),
                           Math.min(1, 0.5 + velotrimmer.ldmBlueError(n)), 1)
        // A colour from its channels: QML reads no CSS "rgb(...)" text (it would draw black).
        return Qt.rgba(channel(d.ldmRedObserved(n)) / 255, channel(d.ldmGreenObserved(n)) / 255,
                       channel(d.ldmBlueObserved(n)) / 255, 1)
    }

    Rectangle { anchors.fill: parent; color: "black" }
    // Every LDM (balance), or every tile (template) as a filled area; the frames follow below.
    Repeater {
        model: grid.tileMode ? 0 : grid.itemCount
        Rectangle {
            required property int index
            readonly property int number: index + 1
            readonly property var d: grid.device
            x: (grid.layoutRevision, (d.ldmX(number) - grid.originX) * grid.zoom)
            y: (grid.layoutRevision, (d.ldmY(number) - grid.originY) * grid.zoom)
            width: (grid.layoutRevision, d.ldmWidth(number) * grid.zoom)
            height: (grid.layoutRevision, d.ldmHeight(number) * grid.zoom)
            color: (grid.revision, grid.ldmFill(number))
            border.width: 1
            border.color: (grid.revision, d.ldmAdjustable(number)) ? "#FFFFFF" : d.ldmIsLit(number) ? "#707070" : "#282828"
        }
    }
    Repeater {
        model: grid.tileMode ? grid.itemCount : 0
        Rectangle {
            required property int index
            readonly property int number: index + 1
            readonly property var d: grid.device
            x: (grid.layoutRevision, (d.tileX(number) - grid.originX) * grid.zoom)
            y: (grid.layoutRevision, (d.tileY(number) - grid.originY) * grid.zoom)
            width: (grid.layoutRevision, d.tileWidth(number) * grid.zoom)
            height: (grid.layoutRevision, d.tileHeight(number) * grid.zoom)
            color: (grid.revision, d.tileLit(number)) ? "#505050" : "#181818"
        }
    }
    // The grader's view of the screen, through its relay on this thread.
    Loader {
        anchors.fill: parent
        active: grid.showGraderImage && !!velotrimmer.graderRelay
        sourceComponent: ImageItem {
            visible: velotrimmer.graderRelay.hasScreenImage
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
    Repeater {
        model: grid.tileMode ? grid.itemCount : 0
        Tile { view: grid }
    }
    Ldm {
        view: grid
        number: grid.tileMode ? 0 : velotrimmer.selectedLdm
    }
}
