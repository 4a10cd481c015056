import QtQuick

// The main window's keys in another window of the program (the simulated display, the camera
// preview, the preferences): each triggers the main window's action, so that Esc stops a run and
// Ctrl+Q quits whichever of the program's windows has the keyboard.
Item {
    id: keys
    // The main window's actions that have keys (MainActions.withKeys).
    required property var actions

    Repeater {
        model: keys.actions
        delegate: Item {
            id: entry
            required property var modelData
            Shortcut {
                sequence: entry.modelData.shortcut
                enabled: entry.modelData.enabled
                onActivated: entry.modelData.trigger()
            }
        }
    }
}
