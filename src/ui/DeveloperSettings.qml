import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// The preferences' developer settings (developer options only): gamma override, camera and grader.
GroupBox {
    title: "Developer Settings"
    ColumnLayout {
        Label { text: "Gamma override" }
        RadioButton {
            objectName: "prefsSrgb"
            text: "sRGB (sdrPreserve)"
            checked: velotrimmer.useSrgb
            onToggled: if (checked) velotrimmer.useSrgb = true
        }
        RadioButton {
            objectName: "prefsStraightGamma"
            text: "“Straight” gamma (sdrPower)"
            checked: !velotrimmer.useSrgb
            onToggled: if (checked) velotrimmer.useSrgb = false
        }
        FlagBox {
            objectName: "prefsManualExposure"
            text: "Manual exposure control"
            value: !velotrimmer.autoControlExposure
            onCommitted: checked => velotrimmer.autoControlExposure = !checked
        }
        FlagBox {
            objectName: "prefsRemoveReflections"
            text: "Remove reflections"
            value: velotrimmer.removeReflections
            onCommitted: checked => velotrimmer.removeReflections = checked
        }
        FlagBox {
            objectName: "prefsLogImages"
            text: "Camera uses S-Log3"
            value: velotrimmer.useLogImages
            onCommitted: checked => velotrimmer.useLogImages = checked
        }
        FlagBox {
            objectName: "prefsRawImages"
            text: "Raw images"
            value: velotrimmer.useRawImages
            onCommitted: checked => velotrimmer.useRawImages = checked
        }
        NumberField {
            objectName: "prefsGainBoost"
            label: "Raw gain boost"
            value: velotrimmer.linearGainBoost
            onCommitted: number => velotrimmer.linearGainBoost = number
        }
        NumberField {
            objectName: "prefsGainTweak"
            label: "Gain tweak"
            decimal: true
            value: +velotrimmer.gainTweak.toFixed(6)
            onCommitted: number => velotrimmer.gainTweak = number
        }
        NumberChoice {
            objectName: "prefsInterpolation"
            label: "Raw interpolation"
            entries: [[0, "bilinear"], [1, "VNG (variable number of gradients)"],
                      [2, "PPG (patterned pixel grouping)"], [3, "AHD (adaptive homogeneity demosaicing)"],
                      [12, "modified AHD"], [4, "DCB"], [11, "DHT"]]
            value: velotrimmer.rawInterpolation
            onCommitted: number => velotrimmer.rawInterpolation = number
        }
        NumberChoice {
            objectName: "prefsHighlights"
            label: "Highlight recovery"
            entries: [[0, "clip to white"], [1, "unclipped (with color)"], [2, "blended clipped/unclipped"],
                      [3, "reconstructed (white)"], [5, "reconstructed (blended)"], [9, "reconstructed (colored)"]]
            value: velotrimmer.highlightRecovery
            onCommitted: number => velotrimmer.highlightRecovery = number
        }
        FlagBox {
            objectName: "prefsProfileGrader"
            text: "Profile TileGrader"
            value: velotrimmer.tileGraderProfiling
            onCommitted: checked => velotrimmer.tileGraderProfiling = checked
        }
    }
}
