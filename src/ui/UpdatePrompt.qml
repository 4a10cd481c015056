import QtQuick
import QtQuick.Controls
import QtQuick.Dialogs
import QtQuick.Layouts

// Offers newer releases from the controller's updater ("velotrimmer" in the context), runs the
// manual check, and saves and starts the chosen installer. An answer never stops a run: only the
// busy state that a manual check entered is ended, and a release that arrives during a run is
// offered once the run is over.
Item {
    id: prompt

    readonly property var updater: velotrimmer.updater
    // A manual check is waiting for its answer (it entered the busy state).
    property bool checking: false
    // A release arrived while the controller was running.
    property bool offerPending: false
    // The release on offer, as an index into the updater's lists.
    property int offerIndex: -1
    // What the last message box said (title and text); for the interface's tests too.
    property string messageTitle: ""
    property string messageText: ""
    readonly property bool offerShown: offerBox.visible
    readonly property bool messageShown: messageBox.visible

    // The application version with exactly one "v" in front.
    function versionText() {
        const version = Qt.application.version
        return "v" + version.replace(/^[vV]/, "")
    }

    // The check the main window starts shortly after loading: quiet unless a release is newer.
    function checkAtStart() {
        updater.manualCheck = false
        updater.check("release", true)
    }

    // "Check for Update...": always ends with a message.
    function checkNow() {
        if (velotrimmer.running)
            return
        updater.available = -999
        updater.manualCheck = true
        velotrimmer.statusString = "Checking for updates..."
        checking = true
        velotrimmer.runNothing()
        updater.check("release", true)
    }

    // The offered version is the one skipped at start-up, compared as version numbers.
    function skipped(version) {
        return updater.skipVersion !== "" && updater.compareVersions(version, updater.skipVersion) === 0
    }

    function showMessage(title, text) {
        messageTitle = title
        messageText = text
        messageBox.show(title, text, Text.PlainText)
    }

    function answered() {
        const available = updater.available
        if (available === -999)
            return
        const manual = checking
        if (checking) {
            checking = false
            velotrimmer.running = false
        }
        if (available > 0) {
            // The check's own line in the status line gives way to its outcome.
            if (manual)
                velotrimmer.statusString = "New version " + updater.versions[available - 1] + " is available."
            if (velotrimmer.running)
                offerPending = true
            else
                offer()
        } else if (!manual) {
            if (available < 0)
                console.log("Update check failed: " + updater.error)
        } else {
            const text = available === 0 ? "No newer version found; " + versionText() + " is current."
                                         : "Error: " + updater.error + "."
            velotrimmer.statusString = text
            showMessage("Check For Update", text)
        }
    }

    function offer() {
        offerPending = false
        offerIndex = updater.available - 1
        const version = updater.versions[offerIndex]
        const notes = updater.notes[offerIndex]
        let text = "New version " + version
        text += notes ? " is available:<br><br>" + notes + "<br><br>Do you want to install it?"
                      : " is available.<br><br>Do you want to install it?"
        if (skipped(version))
            text += "<br><br>(This version is skipped during startup check.)"
        messageTitle = "Update Available"
        messageText = text
        offerBox.offer(messageTitle, text, Text.RichText, "Install Update", "Remind Me Later",
                       skipped(version) ? "" : "Skip This Update", () => prompt.chooseInstallerFile())
    }

    function skipOffered() {
        updater.skipVersion = updater.versions[offerIndex]
        offerBox.close()
    }

    function chooseInstallerFile() {
        offerBox.close()
        saveDialog.selectedFile = saveDialog.currentFolder + "/" + updater.installers[offerIndex]
        saveDialog.open()
    }

    // Downloads the offered release's installer to the file URL.
    function install(fileUrl) {
        return updater.download(updater.urls[offerIndex], fileUrl)
    }

    Connections {
        target: prompt.updater
        function onAvailableChanged() { prompt.answered() }
    }

    Connections {
        target: velotrimmer
        function onRunningChanged() {
            if (!velotrimmer.running && prompt.offerPending)
                prompt.offer()
        }
    }

    // The offer answers Return with Install Update and Esc with Remind Me Later, as questions do.
    MessageBox {
        id: offerBox
        objectName: "offerBox"
        parent: Overlay.overlay
        onOther: prompt.skipOffered()
    }
    MessageBox {
        id: messageBox
        objectName: "updateMessageBox"
        parent: Overlay.overlay
    }

    FileDialog {
        id: saveDialog
        title: "Save Installer"
        fileMode: FileDialog.SaveFile
        onAccepted: prompt.install(selectedFile)
    }
}
