import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// The output device: its address, the balance target, what the wall view shows and what a drag
// over it does.
GroupBox {
    id: panel
    title: "KESTRA Controls"
    // The main window's content, which keeps the view and drag modes.
    required property var ui
    readonly property var device: velotrimmer.display
    readonly property bool idle: !velotrimmer.running
    readonly property bool hasTarget: velotrimmer.balanceTargetRed > 0
    readonly property string itemWord: ui.templateMode ? "Tile" : "LDM"

    ColumnLayout {
        anchors.fill: parent
        Label { text: device ? device.name : ""; font.bold: true }

        RowLayout {
            visible: device !== null && device.isKestra
            Label { text: "Address" }
            VeloTextField {
                objectName: "displayAddress"
                Layout.fillWidth: true
                enabled: panel.idle
                placeholderText: "processor address"
                value: ui.uniformityMode ? (device ? device.address : "")
                                         : (velotrimmer.kestra ? velotrimmer.kestra.address : "")
                onCommitted: text => {
                    if (ui.uniformityMode)
                        device.address = text
                    else
                        velotrimmer.kestra.address = text
                }
            }
        }
        // What the processor made of the last poll at this address: answered, or the error.
        ColumnLayout {
            objectName: "processorState"
            readonly property int answer: velotrimmer.displayAnswer
            visible: device !== null && device.isKestra && device.address !== ""
            VeloLED {
                objectName: "processorLamp"
                on: parent.answer !== 0
                onColor: parent.answer > 0 ? "#2ECC40" : "#FF4136"
                text: parent.answer > 0 ? "Processor answers"
                                        : parent.answer < 0 ? "Processor: no usable answer" : "Processor: not polled yet"
            }
            Label {
                objectName: "processorError"
                Layout.maximumWidth: 260
                visible: parent.answer < 0
                wrapMode: Text.Wrap
                text: velotrimmer.displayError
            }
        }
        // First start: the processor has no address yet, and the log says so every few seconds.
        ColumnLayout {
            objectName: "noAddressHint"
            visible: device !== null && device.isKestra && device.address === ""
            Label {
                Layout.maximumWidth: 260
                wrapMode: Text.Wrap
                text: "No processor address: enter it above, or work without hardware on the KESTRA simulator (also in Preferences, Alternate Devices)."
            }
            VeloButton {
                objectName: "useSimulatorButton"
                text: "Use KESTRA Simulator"
                enabled: panel.idle
                onClicked: velotrimmer.outputType = 1
            }
        }

        ColumnLayout {
            visible: ui.uniformityMode
            RowLayout {
                Layout.fillWidth: true
                // Wrapped, so that the time never pushes Clear out of the panel.
                Label {
                    objectName: "targetLabel"
                    Layout.fillWidth: true
                    wrapMode: Text.Wrap
                    text: panel.hasTarget
                          ? "Target RGB %1, %2, %3  %4".arg(velotrimmer.balanceTargetRed.toFixed(1))
                                .arg(velotrimmer.balanceTargetGreen.toFixed(1))
                                .arg(velotrimmer.balanceTargetBlue.toFixed(1)).arg(velotrimmer.targetTime)
                          : "   Target RGB not set   "
                }
                VeloButton {
                    objectName: "clearTargetButton"
                    text: "Clear"
                    enabled: panel.idle
                    onClicked: {
                        velotrimmer.selectedLdm = 0
                        velotrimmer.balanceTargetRed = 0.0
                        velotrimmer.balanceTargetGreen = 0.0
                        velotrimmer.balanceTargetBlue = 0.0
                        velotrimmer.targetTime = ""
                        velotrimmer.statusString = "Target RGB values cleared"
                    }
                }
            }
            RowLayout {
                Label { text: "Show" }
                Repeater {
                    model: ["Images", "Gains", "Errors"]
                    DarkRadioButton {
                        required property string modelData
                        objectName: "show" + modelData
                        text: modelData
                        visible: modelData !== "Errors" || panel.hasTarget
                        checked: ui.showMode === modelData
                        onToggled: if (checked) ui.showMode = modelData
                    }
                }
            }
            Repeater {
                model: [["ref", "Set target RGB"], ["lit", "Set " + panel.itemWord + "s to light"],
                        ["adj", "Set " + panel.itemWord + "s to adjust"], ["dat", "Get " + panel.itemWord + " data"]]
                VeloRadioButton {
                    required property var modelData
                    objectName: "dragMode_" + modelData[0]
                    text: modelData[1]
                    enabled: panel.idle
                    checked: ui.dragMode === modelData[0]
                    onToggled: if (checked) ui.dragMode = modelData[0]
                    toolTipText: modelData[0] === "adj" ? "Hold Shift to add to the adjusted ones, Ctrl to remove from them" : ""
                }
            }
            CheckBox {
                objectName: "highResolutionBox"
                text: "High Resolution Uniformity"
                visible: device !== null && device.supportsMeshUniformity
                enabled: panel.idle
                checked: ui.templateMode
                onToggled: {
                    velotrimmer.mode = checked ? 2 : 1
                    checked = Qt.binding(() => ui.templateMode)
                }
            }
        }
    }
}
