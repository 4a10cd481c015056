import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// The preferences' operational settings: the delay before a reading.
GroupBox {
    title: "Operational Settings"
    NumberField {
        objectName: "prefsReadDelay"
        label: "Read delay (ms)"
        value: velotrimmer.readDelay
        onCommitted: number => velotrimmer.readDelay = number
    }
}
