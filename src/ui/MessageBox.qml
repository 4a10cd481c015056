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
    // The keyboard goes to the box while it is open: Tab moves between its buttons.
    focus: true
    anchors.centerIn: Overlay.overlay
    width: Math.min(480, parent ? parent.width - 40 : 480)

    // As on any desktop: Return answers with the button the keyboard is on, else with the default
    // (accept) button; Esc with the cancel (reject) button, or closes a plain message.
    function answerReturn() {
        const focused = buttons.Window.activeFocusItem
        for (const button of [acceptButton, otherButton, rejectButton]) {
            if (button === focused && button.visible) {
                button.clicked()
                return
            }
        }
        accept()
    }
    function answerEscape() {
        if (rejectText !== "")
            reject()
        else if (otherText === "")
            accept()
    }
    Shortcut {
        sequences: ["Return", "Enter"]
        enabled: box.opened
        onActivated: box.answerReturn()
    }
    Shortcut {
        sequence: "Esc"
        enabled: box.opened
        onActivated: box.answerEscape()
    }

    contentItem: Label {
        id: message
        textFormat: Text.RichText
        wrapMode: Text.Wrap
    }
    footer: DialogButtonBox {
        id: buttons
        VeloButton {
            id: acceptButton
            objectName: "messageAccept"
            text: box.acceptText
            // The default button, the one Return answers with.
            highlighted: true
            DialogButtonBox.buttonRole: DialogButtonBox.AcceptRole
        }
        VeloButton {
            id: otherButton
            objectName: "messageOther"
            text: box.otherText
            visible: text !== ""
            onClicked: { box.close(); box.other() }
        }
        VeloButton {
            id: rejectButton
            objectName: "messageReject"
            text: box.rejectText
            visible: text !== ""
            DialogButtonBox.buttonRole: DialogButtonBox.RejectRole
        }
    }

    // Shows a message with one button (rich text unless told otherwise).
    function show(title, text, format = Text.RichText) {
        box.title = title
        box.text = text
        textFormat = format
        acceptText = "OK"
        rejectText = ""
        otherText = ""
        whenAccepted = null
        open()
    }
    // Asks before something is done that cannot be undone; the action runs only on accept.
    function ask(title, text, doText, keepText, action) {
        offer(title, text, Text.PlainText, doText, keepText, "", action)
    }
    // Offers a choice: the action runs on accept, other() on the third button (shown when it has
    // a text), nothing on the keep button.
    function offer(title, text, format, doText, keepText, otherChoice, action) {
        box.title = title
        box.text = text
        textFormat = format
        acceptText = doText
        rejectText = keepText
        otherText = otherChoice
        whenAccepted = action
        open()
    }
}
