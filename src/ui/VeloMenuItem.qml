import QtQuick
import QtQuick.Controls

// A menu row as on any desktop: it shows its action's shortcut at the right, and while its menu
// is open the letter after the "&" in its text chooses it (no two rows of a menu share a letter).
// A hidden row takes no room.
MenuItem {
    id: row
    height: visible ? implicitHeight : 0
    rightPadding: padding + (shortcutLabel.text !== "" ? shortcutLabel.implicitWidth + 3 * spacing : 0)

    // The letter after the first single "&" of the text, "" without one.
    readonly property string mnemonic: {
        const match = /&([^&])/.exec(text.replace(/&&/g, ""))
        return match ? match[1].toUpperCase() : ""
    }

    Label {
        id: shortcutLabel
        objectName: row.objectName !== "" ? row.objectName + "Shortcut" : ""
        anchors.right: parent.right
        anchors.rightMargin: row.padding + row.spacing
        anchors.verticalCenter: parent.verticalCenter
        text: row.action && row.action.shortcut ? shownKeys.nativeText : ""
        font: row.font
        color: row.down || row.highlighted ? row.palette.highlightedText : row.palette.text
        // Only shows the action's keys; the action itself answers them.
        Shortcut {
            id: shownKeys
            enabled: false
            sequence: row.action && row.action.shortcut ? row.action.shortcut : ""
        }
    }

    Shortcut {
        sequence: row.mnemonic
        enabled: row.mnemonic !== "" && row.visible && row.enabled && row.menu !== null && row.menu.opened
        onActivated: {
            const menu = row.menu
            if (row.action)
                row.action.trigger(row)
            else
                row.triggered()
            menu.dismiss()
        }
    }
}
