import QtQuick
import QtQuick.Controls

// A menu row that takes no room while hidden.
MenuItem {
    height: visible ? implicitHeight : 0
}
