import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// The wall view of the uniformity modes: drags choose the LDMs or tiles to light or adjust,
// clicks choose the balance target or show an LDM's data.
GroupBox {
    id: panel
    required property var ui
    readonly property bool tileMode: ui.templateMode
    readonly property string word: tileMode ? "Tiles" : "LDMs"
    readonly property var device: velotrimmer.display
    property alias grid: grid
    property alias scroll: scroll
    title: tileMode ? "Tiles" : "LDMs"

    // The title with the zoom buttons at its right, above the view, where they hide none of it.
    label: RowLayout {
        x: panel.leftPadding
        width: panel.availableWidth
        spacing: 0
        Label {
            Layout.fillWidth: true
            text: panel.title
            elide: Text.ElideRight
        }
        VeloToolButton {
            objectName: "zoomInButton"
            icon.source: "icons/zoom-in.svg"
            toolTipText: "Zoom In"
            onClicked: panel.zoomIn()
        }
        VeloToolButton {
            objectName: "zoomOutButton"
            icon.source: "icons/zoom-out.svg"
            toolTipText: "Zoom Out"
            onClicked: panel.zoomOut()
        }
        VeloToolButton {
            objectName: "zoomFitButton"
            icon.source: "icons/zoom-fit.svg"
            toolTipText: "Zoom To Fit"
            onClicked: panel.zoomToFit()
        }
    }

    // Smallest movement, in screen pixels, that makes a press a drag rather than a click.
    readonly property int dragThreshold: 4

    function zoomIn() { scroll.zoomIn() }
    function zoomOut() { scroll.zoomOut() }
    function zoomToFit() { scroll.zoomToFit() }

    // A wall of another extent (its layout arrived, at start, after a restart or from another
    // display) is fitted into the view as soon as the view has a size; a layout read again with
    // the same extent leaves the operator's zoom alone.
    property bool fitPending: true
    function fitWhenReady() {
        if (!fitPending || grid.wall.itemCount === 0 || scroll.width <= 0 || scroll.height <= 0)
            return
        fitPending = false
        zoomToFit()
    }
    Connections {
        target: grid.wall
        function onWallChanged() {
            panel.fitPending = true
            Qt.callLater(panel.fitWhenReady)
        }
        function onLayoutChanged() { Qt.callLater(panel.fitWhenReady) }
    }

    function selectRect(r) {
        if (tileMode)
            device.selectTiles(r.topLeft, r.bottomRight)
        else
            device.selectLdms(r.topLeft, r.bottomRight)
    }
    function lightSelected() {
        if (tileMode)
            device.lightSelectedTiles()
        else
            device.lightSelectedLdms()
    }
    function adjustSelected(how) {
        if (tileMode)
            device.adjustSelectedTiles(how)
        else
            device.adjustSelectedLdms(how)
    }
    function selectAll() {
        if (tileMode)
            device.selectAllTiles()
        else
            device.selectAllLdms()
    }
    function resetAll() {
        if (tileMode) {
            device.selectAllTiles()
            device.lightSelectedTiles()
            device.adjustSelectedTiles(0)
            device.resetMesh()
        }
        device.resetLdms(true, true)
        velotrimmer.resumeStep = 0
    }
    function dragged(r, modifiers) {
        if (ui.dragMode === "lit") {
            selectRect(r)
            lightSelected()
            adjustSelected(0)
        } else if (ui.dragMode === "adj") {
            selectRect(r)
            adjustSelected((modifiers & Qt.ShiftModifier) ? 1 : (modifiers & Qt.ControlModifier) ? -1 : 0)
        } else {
            return
        }
        velotrimmer.resumeStep = 0
    }
    function clicked(number) {
        if (number < 1)
            return
        if (ui.dragMode === "dat") {
            if (tileMode)
                velotrimmer.displayTile(number)
            else
                velotrimmer.displayLdm(number)
        } else if (ui.dragMode === "ref" && !velotrimmer.running) {
            if (tileMode)
                velotrimmer.chooseTargetTile(number)
            else
                velotrimmer.chooseTargetLdm(number)
        }
    }

    ScrollPanel {
        id: scroll
        objectName: "wallScroll"
        anchors.fill: parent
        contentWidth: grid.width
        contentHeight: grid.height
        naturalWidth: grid.wallWidth
        naturalHeight: grid.wallHeight
        onWidthChanged: panel.fitWhenReady()
        onHeightChanged: panel.fitWhenReady()

        LdmGrid {
            id: grid
            objectName: "wallGrid"
            zoom: scroll.zoom
            tileMode: panel.tileMode
            showMode: panel.ui.showMode
            answersFakeReadings: true

            MouseArea {
                id: mouse
                objectName: "wallMouse"
                anchors.fill: parent
                acceptedButtons: Qt.LeftButton | Qt.RightButton
                property point start
                property bool dragging: false

                onPressed: event => {
                    if (event.button === Qt.RightButton) {
                        wallMenu.popup()
                        return
                    }
                    start = Qt.point(event.x, event.y)
                    dragging = false
                }
                onPositionChanged: event => {
                    if (!(event.buttons & Qt.LeftButton))
                        return
                    if (!dragging && Math.abs(event.x - start.x) + Math.abs(event.y - start.y) >= panel.dragThreshold
                            && !velotrimmer.running)
                        dragging = true
                    if (dragging) {
                        band.x = Math.min(start.x, event.x)
                        band.y = Math.min(start.y, event.y)
                        band.width = Math.abs(event.x - start.x)
                        band.height = Math.abs(event.y - start.y)
                    }
                }
                onReleased: event => {
                    if (event.button !== Qt.LeftButton)
                        return
                    if (dragging) {
                        dragging = false
                        panel.dragged(grid.wallRect(start.x, start.y, event.x, event.y), event.modifiers)
                    } else {
                        panel.clicked(grid.itemAt(event.x, event.y))
                    }
                }
            }
            Rectangle {
                id: band
                visible: mouse.dragging
                color: "#303D8EE0"
                border.color: "#3D8EE0"
            }
        }
    }

    // The wheel anywhere over the view: plain, it scrolls (a tilted or sideways wheel across);
    // with Ctrl, it zooms about the pointer.
    WheelHandler {
        objectName: "wallWheel"
        acceptedModifiers: Qt.NoModifier
        onWheel: event => scroll.wheelScroll(event.angleDelta, event.pixelDelta)
    }
    WheelHandler {
        id: wheelZoom
        objectName: "wallWheelZoom"
        acceptedModifiers: Qt.ControlModifier
        onWheel: event => scroll.wheelZoom(event.angleDelta, scroll.mapFromItem(wheelZoom.parent, wheelZoom.point.position))
    }

    VeloMenu {
        id: wallMenu
        objectName: "wallMenu"
        enabled: !velotrimmer.running
        VeloMenuItem {
            objectName: "lightAllItem"
            text: "&Light All " + panel.word
            enabled: !velotrimmer.running
            onTriggered: {
                panel.selectAll()
                panel.lightSelected()
                panel.adjustSelected(0)
                velotrimmer.resumeStep = 0
            }
        }
        VeloMenuItem {
            objectName: "adjustAllItem"
            text: "&Adjust All Lit " + panel.word
            enabled: !velotrimmer.running
            onTriggered: {
                panel.selectAll()
                panel.adjustSelected(0)
                velotrimmer.resumeStep = 0
            }
        }
        VeloMenuItem {
            objectName: "resetAllItem"
            text: "&Reset All " + panel.word
            enabled: !velotrimmer.running
            // Nothing brings back what a reset drops: asked first.
            onTriggered: panel.ui.question.ask(
                             "Reset all " + panel.word + "?",
                             panel.tileMode
                             ? "Every tile's gains and correction mesh go back to their start, and every tile is lit and adjusted. The corrections found so far are lost."
                             : "Every LDM's gains go back to their start, and every LDM is lit and adjusted. The gains found so far are lost.",
                             "Reset", "Cancel", () => panel.resetAll())
        }
        VeloMenuItem {
            objectName: "testPatternItem"
            text: "Uniformity Test Pattern"
            enabled: !velotrimmer.running && panel.ui.uniformityMode
            onTriggered: {
                velotrimmer.setMeshTestPattern()
                velotrimmer.resumeStep = 0
            }
        }
    }
}
