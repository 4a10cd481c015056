import QtQuick
import QtQuick.Controls

// The tool tip of the interface's controls: shown on hover after a short delay, never empty. A
// popup takes its colours from the style rather than from the window it shows in, so it takes
// them from its control, which has the window's (in the dark theme, the tool-tip style's).
ToolTip {
    visible: text !== "" && parent && parent.hovered === true
    delay: 600
    timeout: 8000
    palette.toolTipBase: parent.palette.toolTipBase
    palette.toolTipText: parent.palette.toolTipText
}
