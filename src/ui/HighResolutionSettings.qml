import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// The preferences' high-resolution uniformity settings: the cells of a tile's correction mesh.
GroupBox {
    title: "High Resolution Uniformity Settings"
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
