import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Qt.labs.platform as Platform
import "FileUrls.js" as FileUrls

// The main window's content: panels, footer, the actions the menus show, and the dialogs.
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
    property alias splitView: split
    property alias messageBox: messageBox
    property alias question: question
    property alias screenPanel: screenPanel

    // The developer's automatic restart of a finished run.
    readonly property int restartSeconds: 10
    property int restartCount: 0
    readonly property bool restarting: restartTimer.running

    // The interface's windows and dialogs, provided by the root.
    required property var windows

    // The smallest size at which every panel control and the footer stay usable: the left
    // column and the logs scroll, the status line elides, nothing else gives way.
    readonly property int smallestViewWidth: 200
    readonly property int smallestStatusWidth: 120
    readonly property int upperMinimumHeight: 300
    readonly property int logMinimumHeight: 100
    readonly property int minimumWidth: Math.max(
        leftColumn.Layout.minimumWidth + upperRow.spacing
            + Math.max(smallestViewWidth, linearityMode ? linearityLogPanel.implicitWidth : screenPanel.implicitWidth)
            + (outputControlPanel.visible ? upperRow.spacing + outputControlPanel.implicitWidth : 0),
        footer.leftPadding + smallestStatusWidth + progressBar.Layout.preferredWidth
            + (linearityMode ? resumeButton.implicitWidth : 0) + runButton.implicitWidth
            + 3 * footerRow.spacing + footer.rightPadding)
    readonly property int minimumHeight: upperMinimumHeight + (logShown ? logMinimumHeight + 2 : 0) + footer.implicitHeight

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
            windows.showSimulatedDisplay()
    }
    // Opens a file dialog in a folder that exists, proposing there the path's file name with the
    // extension of the dialog's filter.
    function offerFile(dialog, path) {
        const folder = velotrimmer.offeredFolder(path)
        const proposed = FileUrls.proposal(path, folder, dialog.nameFilters[0])
        dialog.folder = FileUrls.fromLocalPath(folder)
        dialog.currentFile = proposed
        dialog.open()
        // Qt's own dialog takes the file only once it is shown.
        dialog.currentFile = proposed
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
        function onShowMessageBox(title, message) { messageBox.show(title, message) }
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

    // ---- Actions ----------------------------------------------------------------------------------
    property Action openAction: Action {
        objectName: "openAction"
        text: "&Open Correction..."
        shortcut: StandardKey.Open
        enabled: !ui.running
        // The correction in hand, if any, is the one offered.
        onTriggered: ui.offerFile(openDialog, velotrimmer.filename)
    }
    property Action saveCorrectionAction: Action {
        objectName: "saveCorrectionAction"
        text: "&Save Correction…"
        shortcut: StandardKey.Save
        enabled: !ui.running && velotrimmer.calibrationAvailable
        onTriggered: ui.offerFile(saveCorrectionDialog, velotrimmer.filename)
    }
    property Action saveLogAction: Action {
        objectName: "saveLogAction"
        text: "&Save Log…"
        enabled: !ui.running
        onTriggered: ui.offerFile(saveLogDialog, velotrimmer.defaultLogFileName())
    }
    property Action prefsAction: Action {
        objectName: "prefsAction"
        text: "Pr&eferences..."
        enabled: !ui.running
        onTriggered: windows.showPrefs()
    }
    property Action linearityAction: Action {
        objectName: "linearityAction"
        text: "&Linearity Mode"
        checkable: true
        checked: ui.linearityMode
        enabled: !ui.running
        onTriggered: {
            velotrimmer.mode = 0
            checked = Qt.binding(() => ui.linearityMode)
        }
    }
    property Action uniformityAction: Action {
        objectName: "uniformityAction"
        text: "&Uniformity Mode"
        checkable: true
        checked: ui.uniformityMode
        enabled: !ui.running
        // From the high-resolution mode too, back to the plain uniformity mode.
        onTriggered: {
            velotrimmer.mode = 1
            checked = Qt.binding(() => ui.uniformityMode)
        }
    }
    property Action runAction: Action {
        objectName: "runAction"
        text: "&Run"
        shortcut: "Ctrl+R"
        enabled: !ui.running && ui.canRun
        onTriggered: ui.startOrStop()
    }
    property Action resumeAction: Action {
        objectName: "resumeAction"
        text: "Resume"
        shortcut: "Ctrl+Alt+R"
        enabled: !ui.running && velotrimmer.resumeStep !== 0
        onTriggered: {
            ui.stopRestart()
            velotrimmer.resume()
        }
    }
    property Action stopAction: Action {
        objectName: "stopAction"
        text: "&Stop"
        shortcut: StandardKey.Cancel
        enabled: ui.running || ui.restarting
        onTriggered: {
            ui.stopRestart()
            if (velotrimmer.running)
                velotrimmer.running = false
        }
    }
    property Action spotMeasureAction: Action {
        objectName: "spotMeasureAction"
        text: "Spot Measure"
        enabled: !ui.running && ui.linearityMode
        onTriggered: velotrimmer.takeMeasurement()
    }
    property Action readCountTestAction: Action {
        objectName: "readCountTestAction"
        text: "Read-Count Test"
        enabled: !ui.running && ui.linearityMode
        onTriggered: velotrimmer.test()
    }
    property Action developerAction: Action {
        objectName: "developerAction"
        text: "Developer Options"
        shortcut: "Ctrl+D"
        checkable: true
        checked: velotrimmer.useDebugOptions
        enabled: !ui.running
        onTriggered: {
            velotrimmer.useDebugOptions = !velotrimmer.useDebugOptions
            checked = Qt.binding(() => velotrimmer.useDebugOptions)
        }
    }
    property Action autoRestartAction: Action {
        objectName: "autoRestartAction"
        text: "Auto-Restart after " + ui.restartSeconds + " sec."
        checkable: true
        checked: ui.autoRestart
        enabled: velotrimmer.useDebugOptions
        onTriggered: ui.autoRestart = checked
    }
    property Action outputControlsAction: Action {
        objectName: "outputControlsAction"
        text: ui.outputControlsShown ? "Hide Output &Controls" : "Show Output &Controls"
        onTriggered: ui.outputControlsShown = !ui.outputControlsShown
    }
    property Action logAction: Action {
        objectName: "logAction"
        text: ui.logShown ? "Hide &Log" : "Show &Log"
        onTriggered: ui.logShown = !ui.logShown
    }
    property Action zoomInAction: Action {
        objectName: "zoomInAction"
        text: "Zoom In"
        shortcut: StandardKey.ZoomIn
        enabled: ui.uniformityMode
        onTriggered: screenPanel.zoomIn()
    }
    Shortcut {
        sequence: "Ctrl+="
        enabled: ui.uniformityMode
        onActivated: screenPanel.zoomIn()
    }
    property Action zoomOutAction: Action {
        objectName: "zoomOutAction"
        text: "Zoom Out"
        shortcut: StandardKey.ZoomOut
        enabled: ui.uniformityMode
        onTriggered: screenPanel.zoomOut()
    }
    property Action zoomFitAction: Action {
        objectName: "zoomFitAction"
        text: "Zoom To Fit"
        shortcut: "Ctrl+0"
        enabled: ui.uniformityMode
        onTriggered: screenPanel.zoomToFit()
    }
    property Action simulatedDisplayAction: Action {
        objectName: "simulatedDisplayAction"
        text: "Show &Simulated Display"
        onTriggered: windows.showSimulatedDisplay()
    }
    property Action previewAction: Action {
        objectName: "previewAction"
        text: "Show Camera &Preview"
        enabled: !ui.running
        onTriggered: windows.showPreview()
    }
    property Action resetWindowsAction: Action {
        objectName: "resetWindowsAction"
        text: "&Reset Windows"
        shortcut: "Shift+Ctrl+Alt+W"
        onTriggered: windows.resetWindows()
    }
    property Action aboutAction: Action {
        objectName: "aboutAction"
        text: "&About..."
        onTriggered: aboutBox.open()
    }

    // ---- Dialogs ----------------------------------------------------------------------------------
    // The platform's file dialogs, or Qt's own where the platform has none: a save dialog saves,
    // asks before replacing a file and gives a name typed without extension its filter's first.
    Platform.FileDialog {
        id: openDialog
        objectName: "openDialog"
        title: "Select a correction file"
        fileMode: Platform.FileDialog.OpenFile
        nameFilters: ["Tab-separated-value files (*.tsv *.txt)"]
        onAccepted: velotrimmer.readCalibration(file)
    }
    Platform.FileDialog {
        id: saveCorrectionDialog
        objectName: "saveCorrectionDialog"
        title: "Save correction file"
        fileMode: Platform.FileDialog.SaveFile
        nameFilters: ["Tab-separated-value files (*.tsv *.txt)"]
        defaultSuffix: FileUrls.extensionsOf(nameFilters[0])[0]
        onAccepted: velotrimmer.saveCalibration(file)
    }
    Platform.FileDialog {
        id: saveLogDialog
        objectName: "saveLogDialog"
        title: "Save log file"
        fileMode: Platform.FileDialog.SaveFile
        nameFilters: ["Text files (*.txt)"]
        defaultSuffix: FileUrls.extensionsOf(nameFilters[0])[0]
        onAccepted: velotrimmer.saveLog(file)
    }
    MessageBox {
        id: messageBox
        objectName: "messageBox"
        parent: Overlay.overlay
    }
    // Questions have a box of their own, so that a message arriving meanwhile does not take the
    // place of one.
    MessageBox {
        id: question
        objectName: "question"
        parent: Overlay.overlay
    }
    AboutBox {
        id: aboutBox
        objectName: "aboutBox"
        parent: Overlay.overlay
        appName: ui.windows.appName
    }

    // ---- Panels -----------------------------------------------------------------------------------
    SplitView {
        id: split
        objectName: "mainSplit"
        Layout.fillWidth: true
        Layout.fillHeight: true
        orientation: Qt.Vertical

        RowLayout {
            id: upperRow
            SplitView.fillHeight: true
            SplitView.minimumHeight: ui.upperMinimumHeight
            spacing: 4

            ScrollView {
                id: leftColumn
                Layout.fillHeight: true
                Layout.preferredWidth: 290
                Layout.minimumWidth: 290
                contentWidth: availableWidth
                ColumnLayout {
                    width: parent.width
                    ColorimeterPanel {
                        objectName: "colorimeterPanel"
                        Layout.fillWidth: true
                        visible: ui.linearityMode
                    }
                    CameraPanel {
                        objectName: "cameraPanel"
                        Layout.fillWidth: true
                        visible: ui.uniformityMode
                    }
                    DisplayPanel {
                        objectName: "displayPanel"
                        Layout.fillWidth: true
                        ui: ui
                    }
                }
            }
            LogPanel {
                id: linearityLogPanel
                objectName: "linearityLogPanel"
                Layout.fillWidth: true
                Layout.fillHeight: true
                visible: ui.linearityMode
                title: "Correction & Measurement Data"
                model: velotrimmer.linearityLog
                textRole: "message"
            }
            ScreenPanel {
                id: screenPanel
                objectName: "screenPanel"
                Layout.fillWidth: true
                Layout.fillHeight: true
                visible: ui.uniformityMode
                ui: ui
            }
            OutputControlPanel {
                id: outputControlPanel
                objectName: "outputControlPanel"
                Layout.fillHeight: true
                visible: ui.linearityMode && ui.outputControlsShown
            }
        }
        LogPanel {
            objectName: "appLogPanel"
            SplitView.preferredHeight: 150
            SplitView.minimumHeight: ui.logMinimumHeight
            visible: ui.logShown
            title: "Log Messages"
            model: appLog
        }
    }

    // ---- Footer -----------------------------------------------------------------------------------
    Pane {
        id: footer
        objectName: "footer"
        Layout.fillWidth: true
        // The panels above scroll; the status line and the Run button are never squeezed. The
        // pane holds more than its row, so it is told the row's height.
        Layout.minimumHeight: implicitHeight
        padding: 6
        contentHeight: footerRow.implicitHeight
        RowLayout {
            id: footerRow
            anchors.fill: parent
            Label {
                objectName: "statusLabel"
                Layout.fillWidth: true
                Layout.minimumWidth: ui.smallestStatusWidth
                Layout.preferredWidth: ui.smallestStatusWidth
                elide: Text.ElideRight
                text: ui.restarting ? "restarting in " + ui.restartCount + "; hit ESC to stop..."
                                    : velotrimmer.statusString
            }
            ProgressBar {
                id: progressBar
                objectName: "progressBar"
                Layout.preferredWidth: 160
                visible: velotrimmer.progress >= 0 || velotrimmer.status !== 0
                from: 0
                to: 1
                value: Math.max(0, velotrimmer.progress)
                background: Rectangle {
                    implicitHeight: 8
                    radius: 3
                    color: velotrimmer.status < 0 ? "red" : velotrimmer.status > 0 ? "#009A17" : "transparent"
                    border.width: velotrimmer.status === 0 ? 1 : 0
                    border.color: "#808080"
                }
            }
            VeloButton {
                id: resumeButton
                objectName: "resumeButton"
                text: "Resume"
                visible: ui.linearityMode
                enabled: resumeAction.enabled
                onClicked: resumeAction.trigger()
            }
            // A greyed button hears no hover: the tool tip saying why hangs on this holder.
            Item {
                objectName: "runControl"
                implicitWidth: runButton.implicitWidth
                implicitHeight: runButton.implicitHeight
                readonly property bool hovered: runHover.hovered
                HoverHandler { id: runHover }
                VeloButton {
                    id: runButton
                    objectName: "runButton"
                    anchors.fill: parent
                    text: ui.running ? "Stop" : "Run"
                    enabled: ui.canRun
                    onClicked: ui.startOrStop()
                }
                VeloToolTip {
                    objectName: "runToolTip"
                    text: ui.canRun ? "" : "Run needs " + ui.runNeeds.join(", ") + "."
                }
            }
        }
        MouseArea {
            anchors.fill: parent
            acceptedButtons: Qt.RightButton
            onClicked: if (velotrimmer.status !== 0) statusMenu.popup()
        }
        Menu {
            id: statusMenu
            MenuItem {
                objectName: "resetStatusColorItem"
                text: "Reset Status Color"
                onTriggered: velotrimmer.status = 0
            }
        }
    }
}
