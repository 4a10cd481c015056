import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// The main window's panels: above, the devices' column, the linearity log or the wall view, and
// the output controls; below, the application log.
SplitView {
    id: split
    objectName: "mainSplit"
    // The main window's content, which keeps the modes and what is shown.
    required property var ui
    readonly property alias screenPanel: screenPanel

    // The smallest size at which every panel control stays usable: the left column and the logs
    // scroll, nothing else gives way.
    readonly property int smallestViewWidth: 200
    readonly property int upperMinimumHeight: 300
    readonly property int logMinimumHeight: 100
    readonly property int minimumWidth: leftColumn.Layout.minimumWidth + upperRow.spacing
        + Math.max(smallestViewWidth, ui.linearityMode ? linearityLogPanel.implicitWidth : screenPanel.implicitWidth)
        + (outputControlPanel.visible ? upperRow.spacing + outputControlPanel.implicitWidth : 0)
    readonly property int minimumHeight: upperMinimumHeight + (ui.logShown ? logMinimumHeight + 2 : 0)

    orientation: Qt.Vertical

    RowLayout {
        id: upperRow
        SplitView.fillHeight: true
        SplitView.minimumHeight: split.upperMinimumHeight
        spacing: 4

        VeloScrollView {
            id: leftColumn
            Layout.fillHeight: true
            Layout.preferredWidth: 290
            Layout.minimumWidth: 290
            contentWidth: availableWidth
            ColumnLayout {
                width: parent.width
                ColorimeterPanel {
                    objectName: "colorimeterPanel"
                    Layout.fillWidth: true
                    visible: split.ui.linearityMode
                }
                CameraPanel {
                    objectName: "cameraPanel"
                    Layout.fillWidth: true
                    visible: split.ui.uniformityMode
                }
                DisplayPanel {
                    objectName: "displayPanel"
                    Layout.fillWidth: true
                    ui: split.ui
                }
            }
        }
        LogPanel {
            id: linearityLogPanel
            objectName: "linearityLogPanel"
            Layout.fillWidth: true
            Layout.fillHeight: true
            visible: split.ui.linearityMode
            title: "Correction & Measurement Data"
            model: velotrimmer.linearityLog
            textRole: "message"
        }
        ScreenPanel {
            id: screenPanel
            objectName: "screenPanel"
            Layout.fillWidth: true
            Layout.fillHeight: true
            visible: split.ui.uniformityMode
            ui: split.ui
        }
        OutputControlPanel {
            id: outputControlPanel
            objectName: "outputControlPanel"
            Layout.fillHeight: true
            visible: split.ui.linearityMode && split.ui.outputControlsShown
        }
    }
    LogPanel {
        objectName: "appLogPanel"
        SplitView.preferredHeight: 150
        SplitView.minimumHeight: split.logMinimumHeight
        visible: split.ui.logShown
        title: "Log Messages"
        model: appLog
    }
}
