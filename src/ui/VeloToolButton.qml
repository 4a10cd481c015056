import QtQuick
import QtQuick.Controls

// A tool button showing one of the interface's icons.
ToolButton {
    property string toolTipText: ""
    icon.width: 20
    icon.height: 20
    display: AbstractButton.IconOnly
    VeloToolTip { text: parent.toolTipText }
}
