import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// The camera and its lens compensation (uniformity modes).
GroupBox {
    id: panel
    title: "Camera Controls"
    readonly property var camera: velotrimmer.imageSource
    readonly property bool ready: camera !== null && camera.cameraReady
    readonly property bool busy: camera !== null && camera.cameraBusy
    readonly property bool idle: !velotrimmer.running
    readonly property var grader: velotrimmer.graderRelay

    GridLayout {
        anchors.fill: parent
        columns: 2
        Label { text: camera ? camera.cameraName : ""; font.bold: true; Layout.columnSpan: 2 }
        // The camera's trouble (no SDK, no camera found, a connection error) until it is ready.
        Label {
            objectName: "cameraStatus"
            Layout.columnSpan: 2
            Layout.maximumWidth: 260
            visible: text !== ""
            wrapMode: Text.Wrap
            color: "#FF4136"
            text: camera ? camera.statusMessage : ""
        }

        Label { text: "Lens"; visible: lensChoice.visible }
        OptionChoice {
            id: lensChoice
            objectName: "lensChoice"
            Layout.fillWidth: true
            visible: panel.ready && panel.idle
            optionList: velotrimmer.lensNameList
            byType: true
            currentType: velotrimmer.lensName
            onChosen: (number, type) => {
                velotrimmer.lensName = type
                velotrimmer.getLensFiles()
            }
            Connections {
                target: velotrimmer
                function onLensNameListChanged() { lensChoice.refresh() }
            }
        }
        Label { text: "Focal length"; visible: focalChoice.visible }
        OptionChoice {
            id: focalChoice
            objectName: "focalChoice"
            Layout.fillWidth: true
            visible: panel.ready && panel.idle
            optionList: velotrimmer.lensFileList
            byType: true
            currentType: velotrimmer.lensFile
            onChosen: (number, type) => velotrimmer.lensFile = type
            Connections {
                target: velotrimmer
                function onLensFileListChanged() { focalChoice.refresh() }
            }
        }

        VeloLED { objectName: "readyLamp"; text: "ready"; on: panel.ready }
        VeloLED { objectName: "busyLamp"; text: "busy"; on: panel.busy; onColor: "#FFB000" }

        VeloButton {
            objectName: "connectButton"
            text: "Connect"
            enabled: !panel.busy && panel.idle
            onClicked: panel.camera.connect()
        }
        VeloButton {
            objectName: "grabButton"
            text: "Grab"
            enabled: panel.ready && panel.idle
            onClicked: velotrimmer.grabImage()
        }
        VeloButton {
            objectName: "locateCellsButton"
            Layout.columnSpan: 2
            text: "Locate Cells"
            checkable: true
            checked: panel.grader ? panel.grader.hasMeshLocations : false
            enabled: panel.ready && panel.idle
            onClicked: {
                checked = Qt.binding(() => panel.grader ? panel.grader.hasMeshLocations : false)
                velotrimmer.runMeshRegistration()
            }
        }
    }
}
