import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import QtQuick.Window

// The preferences window. Every control shows the controller's value and writes it only on the
// user's input; the window closes itself when a run starts.
ApplicationWindow {
    id: prefs
    objectName: "prefs"
    required property string appName
    readonly property var colorimeter: velotrimmer.colorimeter
    readonly property var kestra: velotrimmer.kestra
    // The processor gamma that a simulator gamma of 1.0 (HDR) stands for.
    readonly property real hdrGammaScale: 2.4
    title: "%1 Preferences".arg(appName)
    width: 560
    height: 640
    minimumWidth: 420
    minimumHeight: 400

    Connections {
        target: velotrimmer
        function onRunningChanged() { if (velotrimmer.running) prefs.close() }
    }

    // A labelled number field: shows value, reports the number the user finished editing.
    component NumberField: RowLayout {
        id: row
        property alias label: caption.text
        property string value: ""
        property bool decimal: false
        property alias field: field
        signal committed(real number)
        Label { id: caption; Layout.preferredWidth: 220; wrapMode: Text.Wrap }
        VeloTextField {
            id: field
            objectName: row.objectName + "Field"
            Layout.preferredWidth: 120
            value: row.value
            validator: row.decimal ? decimalValidator : integerValidator
            onCommitted: text => {
                const number = row.decimal ? parseFloat(text) : parseInt(text, 10)
                if (!isNaN(number))
                    row.committed(number)
            }
            DoubleValidator { id: decimalValidator; notation: DoubleValidator.StandardNotation; locale: "C" }
            IntValidator { id: integerValidator; bottom: 0 }
        }
    }
    // A check box that shows a flag and reports the user's toggle.
    component FlagBox: CheckBox {
        id: box
        property bool value: false
        signal committed(bool checked)
        checked: value
        onToggled: {
            committed(checked)
            checked = Qt.binding(() => box.value)
        }
    }
    // A choice among numbered entries [number, text].
    component NumberChoice: RowLayout {
        id: choiceRow
        property alias label: caption.text
        property var entries: []
        property int value: 0
        signal committed(int number)
        Label { id: caption; Layout.preferredWidth: 220 }
        ComboBox {
            id: combo
            objectName: choiceRow.objectName + "Box"
            Layout.fillWidth: true
            model: choiceRow.entries.map(e => e[1])
            currentIndex: choiceRow.entries.findIndex(e => e[0] === choiceRow.value)
            onActivated: index => {
                choiceRow.committed(choiceRow.entries[index][0])
                currentIndex = Qt.binding(() => choiceRow.entries.findIndex(e => e[0] === choiceRow.value))
            }
        }
    }

    MessageBox {
        id: confirmReset
        objectName: "confirmReset"
        parent: Overlay.overlay
        title: "Are you sure?"
        textFormat: Text.PlainText
        text: "Reset all linearity and uniformity\nparameters to their defaults?"
        acceptText: "OK"
        rejectText: "Cancel"
        onAccepted: prefs.resetToDefaults()
    }
    function resetToDefaults() {
        velotrimmer.steps = 17
        velotrimmer.stepSpacing = 2.0
        velotrimmer.ambientBlack = false
        velotrimmer.trust1stPoint = false
        velotrimmer.errorAllowed = 0.3
        velotrimmer.readCount = 4
        velotrimmer.readDelay = 1500
        velotrimmer.targetCCT = 6504
        velotrimmer.targetDuv = 0.0032
        velotrimmer.gamma = 2.4
        velotrimmer.brightnessLevel = 100
        // Deliberately not the first-start default (true).
        velotrimmer.useSrgb = false
        velotrimmer.statusString = "Defaults restored."
    }

    ScrollView {
        id: scroll
        anchors.fill: parent
        anchors.margins: 8
        contentWidth: availableWidth

        ColumnLayout {
            width: scroll.availableWidth
            spacing: 8

            GroupBox {
                title: "Linearity Settings"
                Layout.fillWidth: true
                ColumnLayout {
                    Label { text: "Colorimeter: " + (prefs.colorimeter ? prefs.colorimeter.name : "") }
                    RowLayout {
                        Label { text: "Filter"; Layout.preferredWidth: 220 }
                        OptionChoice {
                            id: prefsFilter
                            objectName: "prefsFilter"
                            Layout.fillWidth: true
                            optionList: prefs.colorimeter ? prefs.colorimeter.filterList : null
                            current: prefs.colorimeter ? prefs.colorimeter.filter : -1
                            onChosen: number => prefs.colorimeter.setFilterAndMatrix(number, -2)
                            Connections {
                                target: prefs.colorimeter
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
                            optionList: prefs.colorimeter ? prefs.colorimeter.matrixList : null
                            current: prefs.colorimeter ? prefs.colorimeter.matrix : -1
                            onChosen: number => prefs.colorimeter.setFilterAndMatrix(-2, number)
                            Connections {
                                target: prefs.colorimeter
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

            GroupBox {
                title: "Uniformity Settings"
                Layout.fillWidth: true
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

            GroupBox {
                title: "High Resolution Uniformity Settings"
                Layout.fillWidth: true
                ColumnLayout {
                    NumberField {
                        objectName: "prefsMeshWidth"
                        label: "Tile mesh width"
                        value: velotrimmer.tileMeshWidth
                        onCommitted: number => velotrimmer.tileMeshWidth = number
                    }
                    NumberField {
                        objectName: "prefsMeshHeight"
                        label: "Tile mesh height"
                        value: velotrimmer.tileMeshHeight
                        onCommitted: number => velotrimmer.tileMeshHeight = number
                    }
                }
            }

            GroupBox {
                title: "KESTRA Settings"
                Layout.fillWidth: true
                GridLayout {
                    columns: 2
                    Label { text: "Address"; Layout.preferredWidth: 220 }
                    VeloTextField {
                        objectName: "prefsKestraAddress"
                        Layout.fillWidth: true
                        value: prefs.kestra ? prefs.kestra.address : ""
                        onCommitted: text => prefs.kestra.address = text
                    }
                    Label { text: "User name" }
                    VeloTextField {
                        objectName: "prefsKestraUsername"
                        Layout.fillWidth: true
                        value: prefs.kestra ? prefs.kestra.username : ""
                        onCommitted: text => prefs.kestra.username = text
                    }
                    Label { text: "Password" }
                    VeloTextField {
                        objectName: "prefsKestraPassword"
                        Layout.fillWidth: true
                        echoMode: TextInput.Password
                        value: prefs.kestra ? prefs.kestra.password : ""
                        onCommitted: text => prefs.kestra.password = text
                    }
                }
            }

            GroupBox {
                title: "Operational Settings"
                Layout.fillWidth: true
                NumberField {
                    objectName: "prefsReadDelay"
                    label: "Read delay (ms)"
                    value: velotrimmer.readDelay
                    onCommitted: number => velotrimmer.readDelay = number
                }
            }

            GroupBox {
                title: "Alternate Devices"
                Layout.fillWidth: true
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
                            value: +(velotrimmer.gamma / prefs.hdrGammaScale).toFixed(6)
                            onCommitted: number => velotrimmer.gamma = number * prefs.hdrGammaScale
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

            GroupBox {
                title: "Developer Settings"
                Layout.fillWidth: true
                visible: velotrimmer.useDebugOptions
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

            RowLayout {
                Layout.fillWidth: true
                VeloButton {
                    objectName: "resetDefaultsButton"
                    text: "Reset to Defaults"
                    onClicked: confirmReset.open()
                }
                Item { Layout.fillWidth: true }
                VeloButton {
                    objectName: "closePrefsButton"
                    text: "Close"
                    onClicked: prefs.close()
                }
            }
        }
    }
}
