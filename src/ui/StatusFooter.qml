import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// The main window's footer: the status line, the run's progress and the Resume and Run buttons.
Pane {
    id: footer
    objectName: "footer"
    // The main window's content, which keeps the run's state and its actions.
    required property var ui

    // The status line and the Run button are never squeezed: the status line wraps, and the
    // footer grows by its lines, so that every status is read whole.
    readonly property int smallestStatusWidth: 120
    readonly property int minimumWidth: leftPadding + smallestStatusWidth + progressBar.Layout.preferredWidth
        + (ui.linearityMode ? resumeButton.implicitWidth : 0) + runButton.implicitWidth
        + 3 * footerRow.spacing + rightPadding

    // The pane holds more than its row, so it is told the row's height.
    Layout.minimumHeight: implicitHeight
    padding: 6
    contentHeight: footerRow.implicitHeight
    RowLayout {
        id: footerRow
        anchors.fill: parent
        Label {
            objectName: "statusLabel"
            Layout.fillWidth: true
            Layout.minimumWidth: footer.smallestStatusWidth
            Layout.preferredWidth: footer.smallestStatusWidth
            wrapMode: Text.Wrap
            text: footer.ui.restarting ? "restarting in " + footer.ui.restartCount + "; hit ESC to stop..."
                                       : velotrimmer.statusString
        }
        ProgressBar {
            id: progressBar
            objectName: "progressBar"
            Layout.preferredWidth: 160
            visible: velotrimmer.progress >= 0 || velotrimmer.status !== 0
            from: 0
            to: 1
            value: Math.max(0, velotrimmer.progress)
            background: Rectangle {
                implicitHeight: 8
                radius: 3
                color: velotrimmer.status < 0 ? "red" : velotrimmer.status > 0 ? "#009A17" : "transparent"
                border.width: velotrimmer.status === 0 ? 1 : 0
                border.color: "#808080"
            }
        }
        VeloButton {
            id: resumeButton
            objectName: "resumeButton"
            text: "Resume"
            visible: footer.ui.linearityMode
            enabled: footer.ui.actions.resumeAction.enabled
            onClicked: footer.ui.actions.resumeAction.trigger()
        }
        // A greyed button hears no hover: the tool tip saying why hangs on this holder.
        Item {
            objectName: "runControl"
            implicitWidth: runButton.implicitWidth
            implicitHeight: runButton.implicitHeight
            readonly property bool hovered: runHover.hovered
            HoverHandler { id: runHover }
            VeloButton {
                id: runButton
                objectName: "runButton"
                anchors.fill: parent
                text: footer.ui.running ? "Stop" : "Run"
                enabled: footer.ui.canRun
                onClicked: footer.ui.startOrStop()
            }
            VeloToolTip {
                objectName: "runToolTip"
                text: footer.ui.canRun ? "" : "Run needs " + footer.ui.runNeeds.join(", ") + "."
            }
        }
    }
    MouseArea {
        anchors.fill: parent
        acceptedButtons: Qt.RightButton
        onClicked: if (velotrimmer.status !== 0) statusMenu.popup()
    }
    Menu {
        id: statusMenu
        MenuItem {
            objectName: "resetStatusColorItem"
            text: "Reset Status Color"
            onTriggered: velotrimmer.status = 0
        }
    }
}
