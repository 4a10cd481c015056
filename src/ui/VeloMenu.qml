import QtQuick
import QtQuick.Controls

// A menu as wide as its widest row: the style's menu keeps its background's width, which a row
// showing its shortcut beside its text may need more than.
Menu {
    id: menu
    width: {
        let widest = implicitWidth
        for (let i = 0; i < count; ++i) {
            const row = itemAt(i)
            if (row && row.visible)
                widest = Math.max(widest, row.implicitWidth + leftPadding + rightPadding)
        }
        return widest
    }
}
