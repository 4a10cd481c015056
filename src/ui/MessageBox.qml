import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// A modal message with rich text and up to three buttons; hidden buttons take no room.
Dialog {
    id: box
    property alias text: message.text
    property string acceptText: "OK"
    property string rejectText: ""
    property string otherText: ""
    property alias textFormat: message.textFormat
    signal other()
    // What a question does when its accept button is pressed.
    property var whenAccepted: null
    onAccepted: {
        const action = whenAccepted
        whenAccepted = null
        if (action)
            action()
    }
    onRejected: whenAccepted = null

    modal: true
    anchors.centerIn: Overlay.overlay
    width: Math.min(480, parent ? parent.width - 40 : 480)

    contentItem: Label {
        id: message
        textFormat: Text.RichText
        wrapMode: Text.Wrap
    }
    footer: DialogButtonBox {
        VeloButton {
            objectName: "messageAccept"
            text: box.acceptText
            DialogButtonBox.buttonRole: DialogButtonBox.AcceptRole
        }
        VeloButton {
            objectName: "messageOther"
            text: box.otherText
            visible: text !== ""
            onClicked: { box.close(); box.other() }
        }
        VeloButton {
            objectName: "messageReject"
            text: box.rejectText
            visible: text !== ""
            DialogButtonBox.buttonRole: DialogButtonBox.RejectRole
        }
    }

    // Shows a plain message with one button.
    function show(title, text) {
        box.title = title
        box.text = text
        textFormat = Text.RichText
        acceptText = "OK"
        rejectText = ""
        otherText = ""
        whenAccepted = null
        open()
    }
    // Asks before something is done that cannot be undone; the action runs only on accept.
    function ask(title, text, doText, keepText, action) {
        box.title = title
        box.text = text
        textFormat = Text.PlainText
        acceptText = doText
        rejectText = keepText
        otherText = ""
        whenAccepted = action
        open()
    }
}
