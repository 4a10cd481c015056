import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// The preferences' linearity settings: the colorimeter's filter and matrix, and the correction's
// steps and readings.
GroupBox {
    id: section
    readonly property var colorimeter: velotrimmer.colorimeter
    title: "Linearity Settings"
    ColumnLayout {
        Label { text: "Colorimeter: " + (section.colorimeter ? section.colorimeter.name : "") }
        RowLayout {
            Label { text: "Filter"; Layout.preferredWidth: 220 }
            OptionChoice {
                id: prefsFilter
                objectName: "prefsFilter"
                Layout.fillWidth: true
                optionList: section.colorimeter ? section.colorimeter.filterList : null
                current: section.colorimeter ? section.colorimeter.filter : -1
                onChosen: number => section.colorimeter.setFilterAndMatrix(number, -2)
                Connections {
                    target: section.colorimeter
                    function onFilterListChanged() { prefsFilter.refresh() }
                }
            }
        }
        RowLayout {
            Label { text: "Matrix"; Layout.preferredWidth: 220 }
            OptionChoice {
                id: prefsMatrix
                objectName: "prefsMatrix"
                Layout.fillWidth: true
                optionList: section.colorimeter ? section.colorimeter.matrixList : null
                current: section.colorimeter ? section.colorimeter.matrix : -1
                onChosen: number => section.colorimeter.setFilterAndMatrix(-2, number)
                Connections {
                    target: section.colorimeter
                    function onMatrixListChanged() { prefsMatrix.refresh() }
                }
            }
        }
        NumberField {
            objectName: "prefsSteps"
            label: "Steps"
            value: velotrimmer.steps
            onCommitted: number => velotrimmer.steps = number
        }
        FlagBox {
            objectName: "prefsRelative"
            text: "Relative"
            value: velotrimmer.trust1stPoint
            onCommitted: checked => velotrimmer.trust1stPoint = checked
        }
        FlagBox {
            objectName: "prefsAmbientBlack"
            text: "Measure ambient black"
            value: velotrimmer.ambientBlack
            onCommitted: checked => velotrimmer.ambientBlack = checked
        }
        NumberField {
            objectName: "prefsSpacing"
            label: "Point spacing"
            decimal: true
            value: velotrimmer.stepSpacing
            onCommitted: number => velotrimmer.stepSpacing = number
        }
        NumberField {
            objectName: "prefsReadCount"
            label: "Readings per measurement"
            value: velotrimmer.readCount
            onCommitted: number => velotrimmer.readCount = number
        }
        NumberField {
            objectName: "prefsErrorAllowed"
            label: "Allowable RGB error"
            decimal: true
            value: velotrimmer.errorAllowed
            onCommitted: number => velotrimmer.errorAllowed = number
        }
    }
}
