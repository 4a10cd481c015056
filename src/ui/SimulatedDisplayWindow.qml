import QtQuick
import QtQuick.Controls
import QtQuick.Window
import Qt.labs.settings
import WindowPlacement

// What the simulated display shows: the test colour in linearity mode, the lit wall in colour in
// the uniformity modes.
Window {
    id: window
    objectName: "simulatedDisplayWindow"
    required property string appName
    required property bool uniformityMode
    required property bool templateMode
    // The main window's actions that have keys: they answer here too.
    required property var programActions
    readonly property var device: velotrimmer.display
    title: "%1 Simulated Display".arg(appName)
    width: 640
    height: 400
    color: uniformityMode || !device ? "black" : device.colorStr

    // Where the operator left the window; a width of 0 until it was first shown.
    Settings {
        id: kept
        category: "DummyWindow"
        property int x: 0
        property int y: 0
        property int width: 0
        property int height: 0
    }
    // Shows the window where it was left, pulled back inside the screen if that has shrunk since;
    // the first time beside the anchor (the main window), so that it covers none of it. Placed
    // once a run of the program ("Reset Windows" places it too); hidden and shown again it keeps
    // its place.
    property bool placed: false
    function showBeside(anchor) {
        if (!visible && !placed) {
            if (kept.width > 0)
                WindowPlacement.restore(window, Qt.rect(kept.x, kept.y, kept.width, kept.height))
            else
                WindowPlacement.placeBeside(window, anchor)
            placed = true
        }
        show()
    }
    // Called when the window is hidden and when the program ends with it on show.
    function keepGeometry() {
        if (!placed)
            return
        kept.x = x
        kept.y = y
        kept.width = width
        kept.height = height
    }
    onVisibleChanged: if (!visible) keepGeometry()

    Item {
        anchors.fill: parent
        visible: window.uniformityMode
        LdmGrid {
            id: grid
            anchors.centerIn: parent
            tileMode: window.templateMode
            showGraderImage: false
            zoom: Math.min(parent.width / Math.max(1, wallWidth), parent.height / Math.max(1, wallHeight))
        }
    }
    Column {
        visible: !window.uniformityMode && window.device !== null
        anchors.bottom: parent.bottom
        anchors.horizontalCenter: parent.horizontalCenter
        anchors.bottomMargin: 8
        Label {
            text: window.device ? window.device.colorStr : ""
            color: "white"
            style: Text.Outline
            styleColor: "black"
        }
        Label {
            text: window.device ? window.device.colorReadout : ""
            color: "white"
            style: Text.Outline
            styleColor: "black"
        }
    }

    ProgramShortcuts { actions: window.programActions }
}
