import QtQuick
import QtQuick.Controls
import Qt.labs.platform as Platform
import "FileUrls.js" as FileUrls

// The main window's dialogs: the file dialogs, the message and question boxes and the about box.
Item {
    id: dialogs
    required property string appName
    readonly property alias openDialog: openDialog
    readonly property alias saveCorrectionDialog: saveCorrectionDialog
    readonly property alias saveLogDialog: saveLogDialog
    readonly property alias messageBox: messageBox
    readonly property alias question: question
    readonly property alias aboutBox: aboutBox

    // Opens a file dialog in a folder that exists, proposing there the path's file name with the
    // extension of the dialog's filter.
    function offerFile(dialog, path) {
        const folder = velotrimmer.offeredFolder(path)
        const proposed = FileUrls.proposal(path, folder, dialog.nameFilters[0])
        dialog.folder = FileUrls.fromLocalPath(folder)
        dialog.currentFile = proposed
        dialog.open()
        // Qt's own dialog takes the file only once it is shown.
        dialog.currentFile = proposed
    }

    // The platform's file dialogs, or Qt's own where the platform has none: a save dialog saves,
    // asks before replacing a file and gives a name typed without extension its filter's first.
    Platform.FileDialog {
        id: openDialog
        objectName: "openDialog"
        title: "Select a correction file"
        fileMode: Platform.FileDialog.OpenFile
        nameFilters: ["Tab-separated-value files (*.tsv *.txt)"]
        onAccepted: velotrimmer.readCalibration(file)
    }
    Platform.FileDialog {
        id: saveCorrectionDialog
        objectName: "saveCorrectionDialog"
        title: "Save correction file"
        fileMode: Platform.FileDialog.SaveFile
        nameFilters: ["Tab-separated-value files (*.tsv *.txt)"]
        defaultSuffix: FileUrls.extensionsOf(nameFilters[0])[0]
        onAccepted: velotrimmer.saveCalibration(file)
    }
    Platform.FileDialog {
        id: saveLogDialog
        objectName: "saveLogDialog"
        title: "Save log file"
        fileMode: Platform.FileDialog.SaveFile
        nameFilters: ["Text files (*.txt)"]
        defaultSuffix: FileUrls.extensionsOf(nameFilters[0])[0]
        onAccepted: velotrimmer.saveLog(file)
    }
    MessageBox {
        id: messageBox
        objectName: "messageBox"
        parent: Overlay.overlay
    }
    // Questions have a box of their own, so that a message arriving meanwhile does not take the
    // place of one.
    MessageBox {
        id: question
        objectName: "question"
        parent: Overlay.overlay
    }
    AboutBox {
        id: aboutBox
        objectName: "aboutBox"
        parent: Overlay.overlay
        appName: dialogs.appName
    }
}
