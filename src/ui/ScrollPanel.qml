import QtQuick
import QtQuick.Controls

// A scrolled view of one content item with zoom steps; the mouse buttons are left to the content,
// the wheel scrolls it (and zooms with Ctrl, see ScreenPanel).
Flickable {
    id: view
    // The content's scale and its size at scale 1.
    property real zoom: 0.25
    property real naturalWidth: 1
    property real naturalHeight: 1
    readonly property real minZoom: 0.02
    readonly property real maxZoom: 8
    readonly property real zoomStep: 1.25
    // A wheel's notch, as Qt counts it (in eighths of a degree), and how far one scrolls.
    readonly property real wheelNotch: 120
    readonly property real wheelStepPixels: 60

    clip: true
    interactive: false
    boundsBehavior: Flickable.StopAtBounds
    ScrollBar.vertical: VeloScrollBar { objectName: "verticalScrollBar"; track: true }
    ScrollBar.horizontal: VeloScrollBar { objectName: "horizontalScrollBar"; track: true }

    function setZoom(z) { zoom = Math.max(minZoom, Math.min(maxZoom, z)) }
    function zoomIn() { setZoom(zoom * zoomStep) }
    function zoomOut() { setZoom(zoom / zoomStep) }
    function zoomToFit() {
        if (naturalWidth > 0 && naturalHeight > 0 && width > 0 && height > 0)
            setZoom(Math.min((width - 4) / naturalWidth, (height - 4) / naturalHeight))
        contentX = 0
        contentY = 0
    }
    // The content moved to x, y, as far as it reaches.
    function scrollTo(x, y) {
        contentX = Math.max(0, Math.min(x, contentWidth - width))
        contentY = Math.max(0, Math.min(y, contentHeight - height))
    }
    // A wheel turned by angle (Qt's angleDelta) or, on a touch pad, moved by pixels (pixelDelta).
    function wheelScroll(angle, pixels) {
        const step = Qt.point(pixels.x !== 0 ? pixels.x : angle.x / wheelNotch * wheelStepPixels,
                              pixels.y !== 0 ? pixels.y : angle.y / wheelNotch * wheelStepPixels)
        scrollTo(contentX - step.x, contentY - step.y)
    }
    // Zooms by a wheel's turn about a point of the view: what lies under it stays under it.
    function wheelZoom(angle, at) {
        const before = zoom
        setZoom(zoom * Math.pow(zoomStep, angle.y / wheelNotch))
        const scale = zoom / before
        scrollTo((contentX + at.x) * scale - at.x, (contentY + at.y) * scale - at.y)
    }
}
