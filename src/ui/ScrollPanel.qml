import QtQuick
import QtQuick.Controls

// A scrolled view of one content item with zoom steps; the mouse is left to the content.
Flickable {
    id: view
    // The content's scale and its size at scale 1.
    property real zoom: 0.25
    property real naturalWidth: 1
    property real naturalHeight: 1
    readonly property real minZoom: 0.02
    readonly property real maxZoom: 8
    readonly property real zoomStep: 1.25

    clip: true
    interactive: false
    boundsBehavior: Flickable.StopAtBounds
    ScrollBar.vertical: ScrollBar { policy: ScrollBar.AsNeeded }
    ScrollBar.horizontal: ScrollBar { policy: ScrollBar.AsNeeded }

    function setZoom(z) { zoom = Math.max(minZoom, Math.min(maxZoom, z)) }
    function zoomIn() { setZoom(zoom * zoomStep) }
    function zoomOut() { setZoom(zoom / zoomStep) }
    function zoomToFit() {
        if (naturalWidth > 0 && naturalHeight > 0 && width > 0 && height > 0)
            setZoom(Math.min((width - 4) / naturalWidth, (height - 4) / naturalHeight))
        contentX = 0
        contentY = 0
    }
}
