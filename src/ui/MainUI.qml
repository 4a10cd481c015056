import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// The main window's content: its panels and footer, the actions the menus show, and the dialogs.
ColumnLayout {
    id: ui
    spacing: 0

    readonly property int mode: velotrimmer.mode
    readonly property bool linearityMode: mode === 0
    readonly property bool balanceMode: mode === 1
    readonly property bool templateMode: mode === 2
    readonly property bool uniformityMode: balanceMode || templateMode
    readonly property bool running: velotrimmer.running
    readonly property var device: velotrimmer.display
    readonly property var camera: velotrimmer.imageSource

    // Interface state the main window keeps in its settings.
    property bool outputControlsShown: true
    property bool logShown: false
    // What a drag or click over the wall view does: "ref", "lit", "adj" or "dat".
    property string dragMode: "lit"
    // The wall view's colours: "Images", "Gains" or "Errors".
    property string showMode: "Images"
    property bool autoRestart: false
    readonly property alias actions: actions
    readonly property alias dialogs: dialogs
    property alias splitView: panels
    property alias messageBox: dialogs.messageBox
    property alias question: dialogs.question
    property alias screenPanel: panels.screenPanel

    // The developer's automatic restart of a finished run.
    readonly property int restartSeconds: 10
    property int restartCount: 0
    readonly property bool restarting: restartTimer.running

    // The interface's windows and dialogs, provided by the root.
    required property var windows

    // The smallest size at which every panel control and the footer stay usable.
    readonly property int minimumWidth: Math.max(panels.minimumWidth, footer.minimumWidth)
    readonly property int minimumHeight: panels.minimumHeight + footer.implicitHeight

    // What a uniformity run still lacks, in the order the operator comes by them.
    readonly property var runNeeds: {
        if (!uniformityMode)
            return []
        const needs = []
        if (device === null || device.ldmCount === 0)
            needs.push(device !== null && !device.isKestra ? "the display's layout" : "the processor's layout")
        else if (device.adjustableLdmCount === 0)
            needs.push(templateMode ? "lit tiles" : "lit LDMs")
        if (!(velotrimmer.balanceTargetRed > 0))
            needs.push("a target RGB")
        if (camera === null || !camera.cameraReady)
            needs.push("a ready camera")
        return needs
    }
    readonly property bool canRun: running || linearityMode || runNeeds.length === 0

    function startOrStop() {
        stopRestart()
        const start = !velotrimmer.running
        velotrimmer.running = start
        if (start && velotrimmer.running && velotrimmer.showSimulatedDisplay)
            windows.showSimulatedDisplay(false)
    }
    function stopRestart() {
        restartTimer.stop()
        restartCount = 0
    }

    // While a run is active the wall view only shows data; the chosen mode comes back after it.
    property string dragModeBeforeRun: ""
    Connections {
        target: velotrimmer
        function onRunningChanged() {
            if (velotrimmer.running) {
                ui.dragModeBeforeRun = ui.dragMode
                ui.dragMode = "dat"
            } else {
                if (ui.dragModeBeforeRun !== "")
                    ui.dragMode = ui.dragModeBeforeRun
                ui.dragModeBeforeRun = ""
                if (ui.autoRestart && velotrimmer.useDebugOptions) {
                    ui.restartCount = ui.restartSeconds
                    restartTimer.start()
                }
            }
        }
        function onShowMessageBox(title, message) { dialogs.messageBox.show(title, message) }
    }
    Timer {
        id: restartTimer
        interval: 1000
        repeat: true
        onTriggered: {
            if (--ui.restartCount > 0)
                return
            stop()
            if (ui.uniformityMode && velotrimmer.resumeStep !== 0)
                velotrimmer.resume()
            else
                velotrimmer.running = true
        }
    }

    MainActions {
        id: actions
        ui: ui
    }
    MainDialogs {
        id: dialogs
        appName: ui.windows.appName
    }
    MainPanels {
        id: panels
        Layout.fillWidth: true
        Layout.fillHeight: true
        ui: ui
    }
    StatusFooter {
        id: footer
        Layout.fillWidth: true
        ui: ui
    }
}
