import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// A titled view of one log model that follows the newest line while it is in view.
//
// A log takes lines all the time, and a list view asks its window for a frame for every change
// of its model, seen or not: so a hidden panel lets go of its log (and comes back to where it
// was), and a burst of lines is shown in one frame.
GroupBox {
    id: panel
    // The log shown.
    property var model
    // The role shown: "display" for the whole line, "message" for the message text only.
    property string textRole: "display"

    ListView {
        id: view
        anchors.fill: parent
        clip: true
        model: panel.visible ? panel.model : null
        // No rows made ahead of the view: those are made in the background, a frame at a time,
        // and a line is quick to make when it scrolls into view.
        cacheBuffer: 0
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
        // The first row in view, to come back to when the panel is shown again.
        property int keptIndex: 0
        onContentYChanged: {
            if (!model)
                return
            const index = indexAt(contentX + 1, contentY + 1)
            if (index >= 0)
                keptIndex = index
        }

        // Lines come in bursts: follow them once they are in, before the frame that shows them.
        function followEnd() {
            if (atEnd && panel.visible)
                positionViewAtEnd()
        }
        Connections {
            target: view.model ? view.model : null
            function onRowsInserted() { Qt.callLater(view.followEnd) }
        }

        function comeBack() {
            if (!model)
                return
            if (atEnd)
                positionViewAtEnd()
            else
                positionViewAtIndex(keptIndex, ListView.Beginning)
        }
        onModelChanged: Qt.callLater(comeBack)
    }
}
