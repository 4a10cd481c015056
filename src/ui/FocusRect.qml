import QtQuick

// The frame around the control the keyboard is on, one per window: the style marks focus in its
// highlight colour, which the dark theme makes grey on grey. Drawn just outside the control, in a
// blue that stands apart from the window in a light and in a dark theme, and only while the focus
// came by the keyboard (a control's visualFocus), as the style's own mark.
Rectangle {
    id: frame
    // The window whose focus it shows.
    required property Window window
    readonly property Item focused: window.activeFocusItem
    readonly property Item target: focused && focused.visualFocus === true ? focused : null
    readonly property int frameWidth: 2
    readonly property bool darkWindow: window.color.hslLightness < 0.5

    // Inside the control it frames, so that it moves, scrolls and is cut with it.
    parent: target ? target : window.contentItem
    x: -frameWidth
    y: -frameWidth
    width: (target ? target.width : 0) + 2 * frameWidth
    height: (target ? target.height : 0) + 2 * frameWidth
    z: 1000
    visible: target !== null
    color: "transparent"
    border.width: frameWidth
    border.color: darkWindow ? "#5EA8FF" : "#1A5FB4"
    radius: 2
}
