import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// The preferences' processor settings: its address and credentials.
GroupBox {
    id: section
    readonly property var kestra: velotrimmer.kestra
    title: "KESTRA Settings"
    GridLayout {
        columns: 2
        Label { text: "Address"; Layout.preferredWidth: 220 }
        VeloTextField {
            objectName: "prefsKestraAddress"
            Layout.fillWidth: true
            value: section.kestra ? section.kestra.address : ""
            onCommitted: text => section.kestra.address = text
        }
        Label { text: "User name" }
        VeloTextField {
            objectName: "prefsKestraUsername"
            Layout.fillWidth: true
            value: section.kestra ? section.kestra.username : ""
            onCommitted: text => section.kestra.username = text
        }
        Label { text: "Password" }
        VeloTextField {
            objectName: "prefsKestraPassword"
            Layout.fillWidth: true
            echoMode: TextInput.Password
            value: section.kestra ? section.kestra.password : ""
            onCommitted: text => section.kestra.password = text
        }
    }
}
