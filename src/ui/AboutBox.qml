import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

Dialog {
    id: about
    property string appName: ""
    title: "About " + appName
    modal: true
    anchors.centerIn: Overlay.overlay
    standardButtons: Dialog.Ok

    ColumnLayout {
        spacing: 8
        Image {
            source: "icons/velotrim.svg"
            sourceSize.width: 64
            sourceSize.height: 64
            Layout.alignment: Qt.AlignHCenter
        }
        Label { text: about.appName + " " + velotrimVersion; font.bold: true }
        Label { text: "Calibrates LED video walls driven by a KESTRA processor." }
        Label { text: "Built with Qt " + qtVersion }
    }
}
