import QtQuick
import QtQuick.Controls
import QtQuick.Window
import Qt.labs.settings

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
    minimumWidth: Math.min(defaultWidth, ui.implicitWidth)
    minimumHeight: Math.min(defaultHeight, ui.implicitHeight + (menuBar ? menuBar.implicitHeight : 0))
    visible: true

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

    // Called by the content through its "windows" property.
    function showSimulatedDisplay() {
        simulatedDisplayWindow.show()
        simulatedDisplayWindow.requestActivate()
    }
    function showPreview() {
        imageWindow.show()
        imageWindow.requestActivate()
    }
    function showPrefs() {
        prefs.show()
        prefs.requestActivate()
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
    }
    function restoreGeometry() {
        const screenWidth = mainWindow.screen.desktopAvailableWidth
        const screenHeight = mainWindow.screen.desktopAvailableHeight
        width = Math.max(minimumWidth, Math.min(settings.width, screenWidth))
        height = Math.max(minimumHeight, Math.min(settings.height, screenHeight))
        if (settings.x >= 0 && settings.y >= 0) {
            x = Math.min(settings.x, Math.max(0, screenWidth - width))
            y = Math.min(settings.y, Math.max(0, screenHeight - height))
        }
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
        function onAboutToQuit() { velotrimmer.updater.shutdown() }
    }

    onClosing: {
        velotrimmer.running = false
        // Finish the field being edited, so that its value is kept.
        if (mainWindow.activeFocusItem)
            mainWindow.activeFocusItem.focus = false
        settings.x = x
        settings.y = y
        settings.width = width
        settings.height = height
        settings.splitState = ui.splitView.saveState()
        settings.dummyShown = simulatedDisplayWindow.visible ? 1 : 0
        settings.imageShown = imageWindow.visible ? 1 : 0
        simulatedDisplayWindow.close()
        imageWindow.close()
        prefs.close()
    }

    // The focused text field, for the Edit menu.
    readonly property var editTarget: activeFocusItem && activeFocusItem.selectAll !== undefined
                                      && activeFocusItem.copy !== undefined ? activeFocusItem : null

    menuBar: MenuBar {
        objectName: "menuBar"
        Menu {
            objectName: "fileMenu"
            title: "&File"
            MenuItem { objectName: "openItem"; action: ui.openAction }
            MenuItem { objectName: "saveCorrectionItem"; action: ui.saveCorrectionAction }
            MenuItem { objectName: "saveLogItem"; action: ui.saveLogAction }
            MenuSeparator {}
            MenuItem {
                objectName: "exitItem"
                action: Action {
                    text: "E&xit"
                    shortcut: StandardKey.Quit
                    onTriggered: mainWindow.close()
                }
            }
        }
        Menu {
            objectName: "editMenu"
            title: "&Edit"
            MenuItem {
                text: "Cu&t"
                enabled: mainWindow.editTarget !== null
                onTriggered: mainWindow.editTarget.cut()
            }
            MenuItem {
                text: "&Copy"
                enabled: mainWindow.editTarget !== null
                onTriggered: mainWindow.editTarget.copy()
            }
            MenuItem {
                text: "&Paste"
                enabled: mainWindow.editTarget !== null
                onTriggered: mainWindow.editTarget.paste()
            }
            MenuItem {
                text: "Select &All"
                enabled: mainWindow.editTarget !== null
                onTriggered: mainWindow.editTarget.selectAll()
            }
            MenuSeparator {}
            MenuItem { objectName: "prefsItem"; action: ui.prefsAction }
        }
        Menu {
            objectName: "operationMenu"
            title: "&Operation"
            MenuItem { objectName: "linearityItem"; action: ui.linearityAction }
            MenuItem { objectName: "uniformityItem"; action: ui.uniformityAction }
            MenuSeparator {}
            MenuItem { objectName: "runItem"; action: ui.runAction }
            MenuItem { objectName: "resumeItem"; action: ui.resumeAction }
            MenuItem { objectName: "stopItem"; action: ui.stopAction }
            MenuItem { objectName: "spotMeasureItem"; action: ui.spotMeasureAction }
            MenuSeparator {}
            MenuItem { objectName: "developerItem"; action: ui.developerAction }
            VeloMenuItem {
                objectName: "readCountTestItem"
                action: ui.readCountTestAction
                visible: velotrimmer.useDebugOptions
            }
            VeloMenuItem {
                objectName: "autoRestartItem"
                action: ui.autoRestartAction
                visible: velotrimmer.useDebugOptions
            }
            MenuSeparator {}
            // The update check never runs beside a run.
            MenuItem {
                objectName: "checkUpdateItem"
                text: "Check for &Update..."
                enabled: !velotrimmer.running
                onTriggered: updatePrompt.checkNow()
            }
        }
        Menu {
            objectName: "viewMenu"
            title: "&View"
            MenuItem { objectName: "outputControlsItem"; action: ui.outputControlsAction }
            MenuItem { objectName: "logItem"; action: ui.logAction }
            MenuSeparator {}
            MenuItem { objectName: "zoomInItem"; action: ui.zoomInAction }
            MenuItem { objectName: "zoomOutItem"; action: ui.zoomOutAction }
            MenuItem { objectName: "zoomFitItem"; action: ui.zoomFitAction }
        }
        Menu {
            objectName: "windowMenu"
            title: "&Window"
            MenuItem { objectName: "simulatedDisplayItem"; action: ui.simulatedDisplayAction }
            MenuItem { objectName: "previewItem"; action: ui.previewAction }
            MenuItem { objectName: "resetWindowsItem"; action: ui.resetWindowsAction }
        }
        Menu {
            objectName: "helpMenu"
            title: "&Help"
            MenuItem { objectName: "aboutItem"; action: ui.aboutAction }
        }
    }

    MainUI {
        id: ui
        anchors.fill: parent
        windows: mainWindow
    }

    SimulatedDisplayWindow {
        id: simulatedDisplayWindow
        appName: mainWindow.appName
        uniformityMode: ui.uniformityMode
        templateMode: ui.templateMode
    }
    ImageWindow {
        id: imageWindow
        appName: mainWindow.appName
    }
    Prefs {
        id: prefs
        appName: mainWindow.appName
    }
}
