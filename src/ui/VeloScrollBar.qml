import QtQuick
import QtQuick.Controls

// A scroll bar that shows whenever there is more to see than fits, in a light and in a dark theme
// alike: a handle in the text colour, over the window colour. The style's own handle, in its mid
// colour, all but vanishes on the dark theme's window, and shows only while scrolled.
ScrollBar {
    id: bar
    readonly property bool needed: size < 1.0 && policy !== ScrollBar.AlwaysOff
    // Over content of any colour (the wall), the handle runs on a track of the window colour.
    property bool track: false
    policy: ScrollBar.AsNeeded
    // Not needed, it takes no clicks from what lies under it.
    visible: needed
    contentItem: Rectangle {
        implicitWidth: 8
        implicitHeight: 8
        radius: 4
        color: bar.palette.windowText
        opacity: bar.pressed ? 0.8 : bar.hovered ? 0.65 : 0.5
    }
    background: Rectangle {
        color: bar.palette.window
        visible: bar.track
    }
}
