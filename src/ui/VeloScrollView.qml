import QtQuick
import QtQuick.Controls

// A scroll view whose scroll bars show whenever there is more to see, in both themes
// (VeloScrollBar), where the style puts its own.
ScrollView {
    id: view
    ScrollBar.vertical: VeloScrollBar {
        parent: view
        x: view.mirrored ? 0 : view.width - width
        y: view.topPadding
        height: view.availableHeight
        active: view.ScrollBar.horizontal.active
    }
    ScrollBar.horizontal: VeloScrollBar {
        parent: view
        x: view.leftPadding
        y: view.height - height
        width: view.availableWidth
        active: view.ScrollBar.vertical.active
    }
}
