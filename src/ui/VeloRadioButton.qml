import QtQuick
import QtQuick.Controls

RadioButton {
    property string toolTipText: ""
    VeloToolTip { text: parent.toolTipText }
}
