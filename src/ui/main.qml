import QtQuick
import QtQuick.Controls
import QtQuick.Window
import Qt.labs.settings
import WindowPlacement

// The main window: its menus, its geometry and the other windows of the interface.
ApplicationWindow {
    id: mainWindow
    objectName: "mainWindow"
    readonly property string appName: "KESTRA Velotrim ®"
    readonly property alias ui: ui
    readonly property int defaultWidth: 780
    readonly property int defaultHeight: 600
    // The other windows sit this far down and right of the main window after a reset.
    readonly property int windowCascade: 75

    title: "%1 %2 – %3".arg(appName).arg(velotrimVersion).arg(ui.linearityMode ? "Linearity Mode" : "Uniformity Mode")
    width: defaultWidth
    height: defaultHeight
    minimumWidth: Math.max(ui.minimumWidth, menuBar ? menuBar.implicitWidth : 0)
    minimumHeight: ui.minimumHeight + (menuBar ? menuBar.implicitHeight : 0)
    visible: true
    // Smaller than its content now needs (a status of more lines, a mode's wider panels), the
    // window grows to it, whatever the platform does with a minimum.
    onMinimumWidthChanged: if (width < minimumWidth) width = minimumWidth
    onMinimumHeightChanged: if (height < minimumHeight) height = minimumHeight

    Settings {
        id: settings
        category: "MainWindow"
        property int x: -1
        property int y: -1
        property int width: mainWindow.defaultWidth
        property int height: mainWindow.defaultHeight
        property int dummyShown: 0
        property int imageShown: 0
        property alias outputControlsShown: ui.outputControlsShown
        property alias logShown: ui.logShown
        property var splitState
        property alias dragMode: ui.dragMode
        property alias autoRestart: ui.autoRestart
    }

    // Called by the content through its "windows" property. Shown by a run's start, the simulated
    // display leaves the keyboard where the operator is; chosen from the menu, it takes it.
    function showSimulatedDisplay(activate = true) {
        simulatedDisplayWindow.showBeside(mainWindow)
        if (activate)
            simulatedDisplayWindow.requestActivate()
    }
    function showPreview() {
        imageWindow.show()
        imageWindow.requestActivate()
    }
    function showPrefs() {
        prefs.showBeside(mainWindow)
    }
    function resetWindows() {
        const screenWidth = mainWindow.screen.desktopAvailableWidth
        const screenHeight = mainWindow.screen.desktopAvailableHeight
        mainWindow.width = defaultWidth
        mainWindow.height = defaultHeight
        mainWindow.x = Math.max(0, (screenWidth - width) / 2)
        mainWindow.y = Math.max(0, (screenHeight - height) / 2)
        const others = [simulatedDisplayWindow, imageWindow]
        for (let i = 0; i < others.length; ++i) {
            others[i].x = mainWindow.x + windowCascade * (i + 1)
            others[i].y = mainWindow.y + windowCascade * (i + 1)
            others[i].width = mainWindow.width
            others[i].height = mainWindow.height
        }
        simulatedDisplayWindow.placed = true
    }
    // The kept geometry, pulled back inside the screen if that has shrunk since.
    function restoreGeometry() {
        const placed = settings.x >= 0 && settings.y >= 0
        WindowPlacement.restore(mainWindow, Qt.rect(placed ? settings.x : x, placed ? settings.y : y,
                                                    Math.max(minimumWidth, settings.width),
                                                    Math.max(minimumHeight, settings.height)))
        if (settings.splitState)
            ui.splitView.restoreState(settings.splitState)
    }

    Component.onCompleted: startTimer.start()
    // Once the settings are read and the layout has settled: the kept geometry, the windows that
    // were open, and the wall fitted into its view.
    Timer {
        id: startTimer
        interval: 33
        onTriggered: {
            mainWindow.restoreGeometry()
            if (Number(settings.imageShown) === 1)
                mainWindow.showPreview()
            if (Number(settings.dummyShown) === 1)
                mainWindow.showSimulatedDisplay()
            ui.screenPanel.zoomToFit()
            updatePrompt.checkAtStart()
        }
    }

    UpdatePrompt { id: updatePrompt }
    Connections {
        target: Qt.application
        function onAboutToQuit() {
            // A quit without closing the window (a signal, the installer's start) keeps it too.
            mainWindow.keepWindowState()
            velotrimmer.updater.shutdown()
        }
    }

    // The geometry and what was open, written once by the first orderly end: closing the window
    // closes the others, which a later write must not record.
    property bool windowStateKept: false
    function keepWindowState() {
        if (windowStateKept)
            return
        windowStateKept = true
        settings.x = x
        settings.y = y
        settings.width = width
        settings.height = height
        settings.splitState = ui.splitView.saveState()
        settings.dummyShown = simulatedDisplayWindow.visible ? 1 : 0
        settings.imageShown = imageWindow.visible ? 1 : 0
        simulatedDisplayWindow.keepGeometry()
    }

    // Set once the operator has chosen to stop a run and quit.
    property bool stopRunConfirmed: false
    // The question before quitting during a run is open: it stands only while the run does.
    property bool askingToQuit: false
    Connections {
        target: velotrimmer
        function onRunningChanged() {
            if (!velotrimmer.running && mainWindow.askingToQuit)
                ui.question.reject()
        }
    }
    Connections {
        target: ui.question
        function onClosed() { mainWindow.askingToQuit = false }
    }
    onClosing: close => {
        if (velotrimmer.running && !stopRunConfirmed) {
            close.accepted = false
            askingToQuit = true
            ui.question.ask("Quit during a run?",
                            "A run is in progress. Quitting stops it before it is finished.",
                            "Stop Run and Quit", "Keep Running",
                            () => {
                                mainWindow.askingToQuit = false
                                mainWindow.stopRunConfirmed = true
                                mainWindow.close()
                            })
            return
        }
        velotrimmer.running = false
        // Finish the field being edited, so that its value is kept.
        if (mainWindow.activeFocusItem)
            mainWindow.activeFocusItem.focus = false
        keepWindowState()
        simulatedDisplayWindow.close()
        imageWindow.close()
        prefs.close()
    }

    // The focused text field, for the Edit menu.
    readonly property var editTarget: activeFocusItem && activeFocusItem.selectAll !== undefined
                                      && activeFocusItem.copy !== undefined ? activeFocusItem : null

    menuBar: MenuBar {
        objectName: "menuBar"
        VeloMenu {
            objectName: "fileMenu"
            title: "&File"
            VeloMenuItem { objectName: "openItem"; action: ui.actions.openAction }
            VeloMenuItem { objectName: "saveCorrectionItem"; action: ui.actions.saveCorrectionAction }
            VeloMenuItem { objectName: "saveLogItem"; action: ui.actions.saveLogAction }
            MenuSeparator {}
            VeloMenuItem { objectName: "exitItem"; action: ui.actions.quitAction }
        }
        VeloMenu {
            objectName: "editMenu"
            title: "&Edit"
            VeloMenuItem {
                text: "Cu&t"
                enabled: mainWindow.editTarget !== null
                onTriggered: mainWindow.editTarget.cut()
            }
            VeloMenuItem {
                text: "&Copy"
                enabled: mainWindow.editTarget !== null
                onTriggered: mainWindow.editTarget.copy()
            }
            VeloMenuItem {
                text: "&Paste"
                enabled: mainWindow.editTarget !== null
                onTriggered: mainWindow.editTarget.paste()
            }
            VeloMenuItem {
                text: "Select &All"
                enabled: mainWindow.editTarget !== null
                onTriggered: mainWindow.editTarget.selectAll()
            }
            MenuSeparator {}
            VeloMenuItem { objectName: "prefsItem"; action: ui.actions.prefsAction }
        }
        VeloMenu {
            objectName: "operationMenu"
            title: "&Operation"
            VeloMenuItem { objectName: "linearityItem"; action: ui.actions.linearityAction }
            VeloMenuItem { objectName: "uniformityItem"; action: ui.actions.uniformityAction }
            MenuSeparator {}
            VeloMenuItem { objectName: "runItem"; action: ui.actions.runAction }
            VeloMenuItem { objectName: "resumeItem"; action: ui.actions.resumeAction }
            VeloMenuItem { objectName: "stopItem"; action: ui.actions.stopAction }
            VeloMenuItem { objectName: "spotMeasureItem"; action: ui.actions.spotMeasureAction }
            MenuSeparator {}
            VeloMenuItem { objectName: "developerItem"; action: ui.actions.developerAction }
            VeloMenuItem {
                objectName: "readCountTestItem"
                action: ui.actions.readCountTestAction
                visible: velotrimmer.useDebugOptions
            }
            VeloMenuItem {
                objectName: "autoRestartItem"
                action: ui.actions.autoRestartAction
                visible: velotrimmer.useDebugOptions
            }
            MenuSeparator {}
            // The update check never runs beside a run.
            VeloMenuItem {
                objectName: "checkUpdateItem"
                text: "&Check for Update..."
                enabled: !velotrimmer.running
                onTriggered: updatePrompt.checkNow()
            }
        }
        VeloMenu {
            objectName: "viewMenu"
            title: "&View"
            VeloMenuItem { objectName: "outputControlsItem"; action: ui.actions.outputControlsAction }
            VeloMenuItem { objectName: "logItem"; action: ui.actions.logAction }
            MenuSeparator {}
            VeloMenuItem { objectName: "zoomInItem"; action: ui.actions.zoomInAction }
            VeloMenuItem { objectName: "zoomOutItem"; action: ui.actions.zoomOutAction }
            VeloMenuItem { objectName: "zoomFitItem"; action: ui.actions.zoomFitAction }
        }
        VeloMenu {
            objectName: "windowMenu"
            title: "&Window"
            VeloMenuItem { objectName: "simulatedDisplayItem"; action: ui.actions.simulatedDisplayAction }
            VeloMenuItem { objectName: "previewItem"; action: ui.actions.previewAction }
            VeloMenuItem { objectName: "resetWindowsItem"; action: ui.actions.resetWindowsAction }
        }
        VeloMenu {
            objectName: "helpMenu"
            title: "&Help"
            VeloMenuItem { objectName: "aboutItem"; action: ui.actions.aboutAction }
        }
    }

    MainUI {
        id: ui
        anchors.fill: parent
        windows: mainWindow
    }
    FocusRect {
        objectName: "focusFrame"
        window: mainWindow
    }

    SimulatedDisplayWindow {
        id: simulatedDisplayWindow
        appName: mainWindow.appName
        uniformityMode: ui.uniformityMode
        templateMode: ui.templateMode
        programActions: ui.actions.withKeys
    }
    ImageWindow {
        id: imageWindow
        appName: mainWindow.appName
        programActions: ui.actions.withKeys
    }
    Prefs {
        id: prefs
        appName: mainWindow.appName
        programActions: ui.actions.withKeys
    }
}
