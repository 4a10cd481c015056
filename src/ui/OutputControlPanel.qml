import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// The test colour of the display, channel by channel; nothing changes it during a run.
GroupBox {
    title: "Output"
    readonly property var device: velotrimmer.display

    RowLayout {
        anchors.fill: parent
        Repeater {
            model: [["Red", "red"], ["Green", "green"], ["Blue", "blue"]]
            VerticalSlider {
                required property var modelData
                objectName: "output" + modelData[0]
                Layout.fillHeight: true
                label: modelData[0]
                from: 0
                to: 1
                enabled: !velotrimmer.running
                value: device ? device[modelData[1]] : 0
                onMoved: value => device[modelData[1]] = value
            }
        }
    }
}
