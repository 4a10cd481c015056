import QtQuick
import QtQuick.Controls

// What the main window's menus and keys do: one action each, enabled by the mode and the run.
QtObject {
    id: actions
    // The main window's content (MainUI): its modes, its dialogs and the windows it opens.
    required property var ui

    // Every action a key triggers, for the program's other windows to answer those keys too.
    readonly property var withKeys: [openAction, saveCorrectionAction, quitAction, runAction, resumeAction,
        stopAction, developerAction, zoomInAction, zoomInKeysAction, zoomOutAction, zoomFitAction,
        resetWindowsAction]

    property Action openAction: Action {
        objectName: "openAction"
        text: "&Open Correction..."
        shortcut: StandardKey.Open
        enabled: !actions.ui.running
        // The correction in hand, if any, is the one offered.
        onTriggered: actions.ui.dialogs.offerFile(actions.ui.dialogs.openDialog, velotrimmer.filename)
    }
    property Action saveCorrectionAction: Action {
        objectName: "saveCorrectionAction"
        text: "&Save Correction…"
        shortcut: StandardKey.Save
        enabled: !actions.ui.running && velotrimmer.calibrationAvailable
        onTriggered: actions.ui.dialogs.offerFile(actions.ui.dialogs.saveCorrectionDialog, velotrimmer.filename)
    }
    property Action saveLogAction: Action {
        objectName: "saveLogAction"
        text: "Save &Log…"
        enabled: !actions.ui.running
        onTriggered: actions.ui.dialogs.offerFile(actions.ui.dialogs.saveLogDialog, velotrimmer.defaultLogFileName())
    }
    property Action quitAction: Action {
        objectName: "quitAction"
        text: "E&xit"
        shortcut: StandardKey.Quit
        // Closing asks first during a run.
        onTriggered: actions.ui.windows.close()
    }
    property Action prefsAction: Action {
        objectName: "prefsAction"
        text: "Pr&eferences..."
        enabled: !actions.ui.running
        onTriggered: actions.ui.windows.showPrefs()
    }
    property Action linearityAction: Action {
        objectName: "linearityAction"
        text: "&Linearity Mode"
        checkable: true
        checked: actions.ui.linearityMode
        enabled: !actions.ui.running
        onTriggered: {
            velotrimmer.mode = 0
            checked = Qt.binding(() => actions.ui.linearityMode)
        }
    }
    property Action uniformityAction: Action {
        objectName: "uniformityAction"
        text: "&Uniformity Mode"
        checkable: true
        checked: actions.ui.uniformityMode
        enabled: !actions.ui.running
        // From the high-resolution mode too, back to the plain uniformity mode.
        onTriggered: {
            velotrimmer.mode = 1
            checked = Qt.binding(() => actions.ui.uniformityMode)
        }
    }
    property Action runAction: Action {
        objectName: "runAction"
        text: "&Run"
        shortcut: "Ctrl+R"
        enabled: !actions.ui.running && actions.ui.canRun
        onTriggered: actions.ui.startOrStop()
    }
    property Action resumeAction: Action {
        objectName: "resumeAction"
        text: "Resume"
        shortcut: "Ctrl+Alt+R"
        enabled: !actions.ui.running && velotrimmer.resumeStep !== 0
        onTriggered: {
            actions.ui.stopRestart()
            velotrimmer.resume()
        }
    }
    property Action stopAction: Action {
        objectName: "stopAction"
        text: "&Stop"
        shortcut: StandardKey.Cancel
        enabled: actions.ui.running || actions.ui.restarting
        onTriggered: {
            actions.ui.stopRestart()
            if (velotrimmer.running)
                velotrimmer.running = false
        }
    }
    property Action spotMeasureAction: Action {
        objectName: "spotMeasureAction"
        text: "Spot Measure"
        enabled: !actions.ui.running && actions.ui.linearityMode
        onTriggered: velotrimmer.takeMeasurement()
    }
    property Action readCountTestAction: Action {
        objectName: "readCountTestAction"
        text: "Read-Count Test"
        enabled: !actions.ui.running && actions.ui.linearityMode
        onTriggered: velotrimmer.test()
    }
    property Action developerAction: Action {
        objectName: "developerAction"
        text: "Developer Options"
        shortcut: "Ctrl+D"
        checkable: true
        checked: velotrimmer.useDebugOptions
        enabled: !actions.ui.running
        onTriggered: {
            velotrimmer.useDebugOptions = !velotrimmer.useDebugOptions
            checked = Qt.binding(() => velotrimmer.useDebugOptions)
        }
    }
    property Action autoRestartAction: Action {
        objectName: "autoRestartAction"
        text: "Auto-Restart after " + actions.ui.restartSeconds + " sec."
        checkable: true
        checked: actions.ui.autoRestart
        enabled: velotrimmer.useDebugOptions
        onTriggered: actions.ui.autoRestart = checked
    }
    property Action outputControlsAction: Action {
        objectName: "outputControlsAction"
        text: actions.ui.outputControlsShown ? "Hide Output &Controls" : "Show Output &Controls"
        onTriggered: actions.ui.outputControlsShown = !actions.ui.outputControlsShown
    }
    property Action logAction: Action {
        objectName: "logAction"
        text: actions.ui.logShown ? "Hide &Log" : "Show &Log"
        onTriggered: actions.ui.logShown = !actions.ui.logShown
    }
    property Action zoomInAction: Action {
        objectName: "zoomInAction"
        text: "Zoom In"
        shortcut: StandardKey.ZoomIn
        enabled: actions.ui.uniformityMode
        onTriggered: actions.ui.screenPanel.zoomIn()
    }
    // Ctrl+= as well, where the plus needs Shift.
    property Action zoomInKeysAction: Action {
        shortcut: "Ctrl+="
        enabled: actions.zoomInAction.enabled
        onTriggered: actions.zoomInAction.trigger()
    }
    property Action zoomOutAction: Action {
        objectName: "zoomOutAction"
        text: "Zoom Out"
        shortcut: StandardKey.ZoomOut
        enabled: actions.ui.uniformityMode
        onTriggered: actions.ui.screenPanel.zoomOut()
    }
    property Action zoomFitAction: Action {
        objectName: "zoomFitAction"
        text: "Zoom To Fit"
        shortcut: "Ctrl+0"
        enabled: actions.ui.uniformityMode
        onTriggered: actions.ui.screenPanel.zoomToFit()
    }
    property Action simulatedDisplayAction: Action {
        objectName: "simulatedDisplayAction"
        text: "Show &Simulated Display"
        onTriggered: actions.ui.windows.showSimulatedDisplay()
    }
    property Action previewAction: Action {
        objectName: "previewAction"
        text: "Show Camera &Preview"
        enabled: !actions.ui.running
        onTriggered: actions.ui.windows.showPreview()
    }
    property Action resetWindowsAction: Action {
        objectName: "resetWindowsAction"
        text: "&Reset Windows"
        shortcut: "Shift+Ctrl+Alt+W"
        onTriggered: actions.ui.windows.resetWindows()
    }
    property Action aboutAction: Action {
        objectName: "aboutAction"
        text: "&About..."
        onTriggered: actions.ui.dialogs.aboutBox.open()
    }
}
