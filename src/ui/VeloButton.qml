import QtQuick
import QtQuick.Controls

// A push button with an optional tool tip.
Button {
    property string toolTipText: ""
    VeloToolTip { text: parent.toolTipText }
}
