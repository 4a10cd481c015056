import QtQuick
import QtQuick.Controls

// A radio button whose label stays readable on the dark panels.
RadioButton {
    id: button
    contentItem: Text {
        text: button.text
        font: button.font
        color: button.enabled ? button.palette.windowText : button.palette.mid
        leftPadding: button.indicator.width + button.spacing
        verticalAlignment: Text.AlignVCenter
    }
}
