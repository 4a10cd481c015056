import QtQuick
import QtQuick.Controls
import QtQuick.Window
import ImageItem 1.0

// The camera's live view.
Window {
    id: window
    objectName: "imageWindow"
    required property string appName
    // The main window's actions that have keys: they answer here too.
    required property var programActions
    readonly property var camera: velotrimmer.imageSource
    title: "%1 Camera Preview".arg(appName)
    width: 640
    height: 480
    color: "black"

    ImageItem {
        anchors.fill: parent
        image: window.camera ? window.camera.liveViewImage : null
    }
    Label {
        anchors.bottom: parent.bottom
        anchors.left: parent.left
        anchors.margins: 6
        color: "white"
        text: window.camera ? window.camera.statusMessage : ""
    }

    ProgramShortcuts { actions: window.programActions }
}
