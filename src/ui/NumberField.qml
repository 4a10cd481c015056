import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// A labelled number field: shows value, reports the number the user finished editing.
RowLayout {
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
