import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// The colorimeter and the correction's own settings (linearity mode).
GroupBox {
    id: panel
    title: "Correction Controls"
    readonly property var colorimeter: velotrimmer.colorimeter
    readonly property bool idle: !velotrimmer.running

    GridLayout {
        anchors.fill: parent
        columns: 2
        Label { text: colorimeter ? colorimeter.name : ""; font.bold: true; Layout.columnSpan: 2 }

        Label { text: "Filter" }
        OptionChoice {
            id: filterChoice
            objectName: "filterChoice"
            Layout.fillWidth: true
            enabled: panel.idle
            optionList: colorimeter ? colorimeter.filterList : null
            current: colorimeter ? colorimeter.filter : -1
            onChosen: number => colorimeter.setFilterAndMatrix(number, -2)
            Connections {
                target: panel.colorimeter
                function onFilterListChanged() { filterChoice.refresh() }
            }
        }
        Label { text: "Matrix" }
        OptionChoice {
            id: matrixChoice
            objectName: "matrixChoice"
            Layout.fillWidth: true
            enabled: panel.idle
            optionList: colorimeter ? colorimeter.matrixList : null
            current: colorimeter ? colorimeter.matrix : -1
            onChosen: number => colorimeter.setFilterAndMatrix(-2, number)
            Connections {
                target: panel.colorimeter
                function onMatrixListChanged() { matrixChoice.refresh() }
            }
        }
        Label { text: "Address"; visible: addressField.visible }
        VeloTextField {
            id: addressField
            objectName: "colorimeterAddress"
            Layout.fillWidth: true
            visible: colorimeter !== null && colorimeter.name === "Cine Meter II"
            enabled: panel.idle
            value: colorimeter ? colorimeter.address : ""
            onCommitted: text => colorimeter.address = text
        }

        RowLayout {
            Layout.columnSpan: 2
            SpinBox {
                objectName: "stepsBox"
                from: 2
                to: 64
                editable: true
                enabled: panel.idle
                value: velotrimmer.steps
                onValueModified: {
                    velotrimmer.steps = value
                    value = Qt.binding(() => velotrimmer.steps)
                }
            }
            Label { text: velotrimmer.steps === 1 ? "Point" : "Points" }
        }
        CheckBox {
            objectName: "relativeBox"
            text: "Relative"
            enabled: panel.idle
            checked: velotrimmer.trust1stPoint
            onToggled: {
                velotrimmer.trust1stPoint = checked
                checked = Qt.binding(() => velotrimmer.trust1stPoint)
            }
        }
        CheckBox {
            objectName: "ambientBlackBox"
            text: "Measure ambient black"
            enabled: panel.idle
            checked: velotrimmer.ambientBlack
            onToggled: {
                velotrimmer.ambientBlack = checked
                checked = Qt.binding(() => velotrimmer.ambientBlack)
            }
        }
        HorizontalSlider {
            objectName: "spacingSlider"
            Layout.columnSpan: 2
            Layout.fillWidth: true
            label: "Point spacing:"
            from: 1.0
            to: 3.0
            stepSize: 0.1
            enabled: panel.idle
            value: velotrimmer.stepSpacing
            onMoved: value => velotrimmer.stepSpacing = value
        }
        Label { text: "CCT" }
        Label { text: colorimeter ? colorimeter.cctString : "" }
        Label { text: "Duv" }
        Label { text: colorimeter ? colorimeter.duvString : "" }
        Label { text: "Luminance" }
        Label { text: colorimeter ? colorimeter.luminanceString : "" }
        VeloButton {
            objectName: "spotMeasureButton"
            Layout.columnSpan: 2
            text: "Spot Measure"
            enabled: panel.idle
            onClicked: velotrimmer.takeMeasurement()
        }
    }
}
