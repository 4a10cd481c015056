import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// A titled view of one log model that follows the newest line while it is in view.
GroupBox {
    id: panel
    property alias model: view.model
    // The role shown: "display" for the whole line, "message" for the message text only.
    property string textRole: "display"

    ListView {
        id: view
        anchors.fill: parent
        clip: true
        ScrollBar.vertical: ScrollBar {}
        delegate: Label {
            required property var model
            width: view.width
            text: model[panel.textRole]
            wrapMode: Text.Wrap
            font.family: "monospace"
        }
        property bool atEnd: true
        onMovementEnded: atEnd = atYEnd
        // Lines come in bursts: follow them once they are in, and only while shown.
        function followEnd() {
            if (atEnd && panel.visible)
                positionViewAtEnd()
        }
        onCountChanged: Qt.callLater(followEnd)
    }
    onVisibleChanged: view.followEnd()
}
