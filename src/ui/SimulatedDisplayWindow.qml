import QtQuick
import QtQuick.Controls
import QtQuick.Window
import Qt.labs.settings

// What the simulated display shows: the test colour in linearity mode, the lit wall in colour in
// the uniformity modes.
Window {
    id: window
    objectName: "simulatedDisplayWindow"
    required property string appName
    required property bool uniformityMode
    required property bool templateMode
    readonly property var device: velotrimmer.display
    title: "%1 Simulated Display".arg(appName)
    width: 640
    height: 400
    color: uniformityMode || !device ? "black" : device.colorStr

    Settings {
        id: settings
        category: "DummyWindow"
        property alias x: window.x
        property alias y: window.y
        property alias width: window.width
        property alias height: window.height
    }

    Item {
        anchors.fill: parent
        visible: window.uniformityMode
        LdmGrid {
            id: grid
            anchors.centerIn: parent
            tileMode: window.templateMode
            showGraderImage: false
            live: visible && window.visible
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
}
