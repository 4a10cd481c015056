import QtQuick
import QtQuick.Controls

// The tool tip of the interface's controls: shown on hover after a short delay, never empty.
ToolTip {
    visible: text !== "" && parent && parent.hovered === true
    delay: 600
    timeout: 8000
}
