import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// The preferences' uniformity settings: the gain limits and the iterations of a run.
GroupBox {
    title: "Uniformity Settings"
    ColumnLayout {
        NumberField {
            objectName: "prefsHighGainLimit"
            label: "High gain limit"
            decimal: true
            value: velotrimmer.highGainLimit
            onCommitted: number => velotrimmer.highGainLimit = number
        }
        NumberField {
            objectName: "prefsLowGainLimit"
            label: "Low gain limit"
            decimal: true
            value: velotrimmer.lowGainLimit
            onCommitted: number => velotrimmer.lowGainLimit = number
        }
        NumberField {
            objectName: "prefsCompliantIterations"
            label: "Compliant iterations"
            value: velotrimmer.btCompliantIterations
            onCommitted: number => velotrimmer.btCompliantIterations = number
        }
        NumberField {
            objectName: "prefsMinIterations"
            label: "Minimum iterations"
            value: velotrimmer.btMinIterations
            onCommitted: number => velotrimmer.btMinIterations = number
        }
        NumberField {
            objectName: "prefsMaxIterations"
            label: "Maximum iterations"
            value: velotrimmer.btMaxIterations
            onCommitted: number => velotrimmer.btMaxIterations = number
        }
    }
}
