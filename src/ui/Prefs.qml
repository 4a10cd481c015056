import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import QtQuick.Window
import WindowPlacement

// The preferences window. Every control shows the controller's value and writes it only on the
// user's input; the window closes itself when a run starts.
ApplicationWindow {
    id: prefs
    objectName: "prefs"
    required property string appName
    // The main window's actions that have keys: they answer here too.
    required property var programActions
    title: "%1 Preferences".arg(appName)
    width: 560
    height: 640
    minimumWidth: 420
    minimumHeight: 400

    Connections {
        target: velotrimmer
        function onRunningChanged() { if (velotrimmer.running) prefs.close() }
    }
    // Shows the window, the first time beside the anchor (the main window) and inside the screen,
    // so that it covers none of it; later where it was left.
    property bool placed: false
    function showBeside(anchor) {
        if (!visible && !placed) {
            WindowPlacement.placeBeside(prefs, anchor)
            placed = true
        }
        show()
        requestActivate()
    }
    FocusRect {
        objectName: "prefsFocusFrame"
        window: prefs
    }

    MessageBox {
        id: confirmReset
        objectName: "confirmReset"
        parent: Overlay.overlay
        title: "Are you sure?"
        textFormat: Text.PlainText
        text: "Reset all linearity and uniformity\nparameters to their defaults?"
        acceptText: "OK"
        rejectText: "Cancel"
        onAccepted: prefs.resetToDefaults()
    }
    function resetToDefaults() {
        velotrimmer.steps = 17
        velotrimmer.stepSpacing = 2.0
        velotrimmer.ambientBlack = false
        velotrimmer.trust1stPoint = false
        velotrimmer.errorAllowed = 0.3
        velotrimmer.readCount = 4
        velotrimmer.readDelay = 1500
        velotrimmer.targetCCT = 6504
        velotrimmer.targetDuv = 0.0032
        velotrimmer.gamma = 2.4
        velotrimmer.brightnessLevel = 100
        // Deliberately not the first-start default (true).
        velotrimmer.useSrgb = false
        velotrimmer.statusString = "Defaults restored."
    }

    VeloScrollView {
        id: scroll
        anchors.fill: parent
        anchors.margins: 8
        contentWidth: availableWidth

        ColumnLayout {
            width: scroll.availableWidth
            spacing: 8

            LinearitySettings { Layout.fillWidth: true }
            UniformitySettings { Layout.fillWidth: true }
            HighResolutionSettings { Layout.fillWidth: true }
            KestraSettings { Layout.fillWidth: true }
            OperationalSettings { Layout.fillWidth: true }
            AlternateDevices { Layout.fillWidth: true }
            DeveloperSettings {
                Layout.fillWidth: true
                visible: velotrimmer.useDebugOptions
            }

            RowLayout {
                Layout.fillWidth: true
                VeloButton {
                    objectName: "resetDefaultsButton"
                    text: "Reset to Defaults"
                    onClicked: confirmReset.open()
                }
                Item { Layout.fillWidth: true }
                VeloButton {
                    objectName: "closePrefsButton"
                    text: "Close"
                    onClicked: prefs.close()
                }
            }
        }
    }

    ProgramShortcuts { actions: prefs.programActions }
}
