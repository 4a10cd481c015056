import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// The preferences' alternate devices: the network colorimeter, the dummy camera and the simulator
// with its targets.
GroupBox {
    id: section
    // The processor gamma that a simulator gamma of 1.0 (HDR) stands for.
    readonly property real hdrGammaScale: 2.4
    title: "Alternate Devices"
    ColumnLayout {
        FlagBox {
            objectName: "prefsCineMeter"
            text: "Cine Meter II colorimeter"
            value: velotrimmer.colorimeterType === 1
            onCommitted: checked => velotrimmer.colorimeterType = checked ? 1 : 0
        }
        RowLayout {
            visible: velotrimmer.colorimeterType === 1
            Label { text: "Address"; Layout.preferredWidth: 220 }
            VeloTextField {
                objectName: "prefsCineMeterAddress"
                Layout.fillWidth: true
                value: velotrimmer.cineMeterII ? velotrimmer.cineMeterII.address : ""
                onCommitted: text => velotrimmer.cineMeterII.address = text
            }
        }
        FlagBox {
            objectName: "prefsDummyCamera"
            text: "Dummy camera"
            value: velotrimmer.cameraType === 1
            onCommitted: checked => velotrimmer.cameraType = checked ? 1 : 0
        }
        FlagBox {
            objectName: "prefsSimulator"
            text: "KESTRA simulator"
            value: velotrimmer.outputType === 1
            onCommitted: checked => velotrimmer.outputType = checked ? 1 : 0
        }
        ColumnLayout {
            visible: velotrimmer.outputType === 1
            NumberField {
                objectName: "prefsTargetCCT"
                label: "Target CCT"
                value: velotrimmer.targetCCT
                onCommitted: number => velotrimmer.targetCCT = number
            }
            NumberField {
                objectName: "prefsTargetDuv"
                label: "Target duv"
                decimal: true
                value: velotrimmer.targetDuv
                onCommitted: number => velotrimmer.targetDuv = number
            }
            NumberField {
                objectName: "prefsGamma"
                label: "Gamma (HDR)"
                decimal: true
                value: +(velotrimmer.gamma / section.hdrGammaScale).toFixed(6)
                onCommitted: number => velotrimmer.gamma = number * section.hdrGammaScale
            }
            NumberField {
                objectName: "prefsBrightness"
                label: "Brightness (nits)"
                value: velotrimmer.brightnessLevel
                onCommitted: number => velotrimmer.brightnessLevel = number
            }
        }
    }
}
