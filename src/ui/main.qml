import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import QtQuick.Window

ApplicationWindow {
    id: window
    objectName: "mainWindow"
    width: 1200
    height: 800
    visible: true
    title: "Velotrim " + velotrimVersion

    component LogView: ListView {
        id: logView
        property string textRole: "display"
        clip: true
        ScrollBar.vertical: ScrollBar {}
        delegate: Component {
            Label {
                required property var model
                width: logView.width
                text: model[logView.textRole]
                wrapMode: Text.Wrap
                font.family: "monospace"
            }
        }
        // Stay at the bottom when the newest line was in view.
        property bool atEnd: true
        onMovementEnded: atEnd = atYEnd
        onCountChanged: if (atEnd) positionViewAtEnd()
    }

    SplitView {
        anchors.fill: parent
        orientation: Qt.Vertical

        LogView {
            objectName: "linearityLogView"
            SplitView.preferredHeight: window.height / 2
            model: linearityLog
            textRole: "message"
        }
        LogView {
            objectName: "appLogView"
            model: appLog
            textRole: "display"
        }
    }
}
