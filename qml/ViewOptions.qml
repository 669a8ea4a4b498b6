import QtQuick 2.4
import QtQuick.Controls 1.3
import QtQuick.Controls.Styles 1.3
import QtQuick.Dialogs 1.2
import QtQuick.Layouts 1.1
import "../js/global.js" as GlobalJs

// The diary's data: backups (made every day; one can be restored), export to Markdown,
// HTML or PDF, and import of a folder of notes.
Rectangle {
    id: optionsViewId
    color: Theme.background

    property string strExportFormat: "markdown"
    property string strImportReport: ""
    property string strRestoreFile: ""

    readonly property alias exportProgress: exportProgress
    readonly property alias backupList: backupList

    function sizeText(nBytes) {
        if (nBytes >= 1048576)
            return (nBytes / 1048576).toFixed(1) + " MB"
        return Math.max(1, Math.round(nBytes / 1024)) + " KB"
    }

    function startExport(strFolder) {
        diaryExport.start(strFolder, strExportFormat, fromField.text.trim(), toField.text.trim())
    }

    function importReport(nAdded, nUpdated, nUnchanged, lstBad) {
        var strText = qsTr("Added %1, updated %2, unchanged %3.").arg(nAdded).arg(nUpdated)
            .arg(nUnchanged)
        for (var i = 0; i < lstBad.length; ++i)
            strText += "\n" + qsTr("Left out %1: %2").arg(lstBad[i]["file"]).arg(lstBad[i]["reason"])
        return strText
    }

    function close() {
        strRestoreFile = ""
        if (typeof mainId !== "undefined")
            mainId.popView()
    }

    // Opened: the first button has the focus, so Tab walks on from it and Escape closes.
    onVisibleChanged: {
        if (!visible)
            return
        if (btnBackUp.enabled)
            btnBackUp.forceActiveFocus()
        else
            forceActiveFocus()
    }

    Keys.onEscapePressed: close()

    MouseArea {
        anchors.fill: parent
    }

    Connections {
        target: diaryExport
        function onFinished(strTarget, nNotes) {
            if (typeof mainId !== "undefined")
                mainId.showInfo(qsTr("Exported %1 notes to %2.").arg(nNotes).arg(strTarget))
        }
        function onFailed(strError) {
            if (typeof mainId !== "undefined")
                mainId.showError(strError)
        }
    }

    Connections {
        target: diaryImport
        function onFinished(nAdded, nUpdated, nUnchanged, lstBad) {
            optionsViewId.strImportReport = optionsViewId.importReport(nAdded, nUpdated,
                                                                       nUnchanged, lstBad)
            if (typeof mainId !== "undefined") {
                mainId.onRefresh()
                mainId.noteView.reloadList()
            } else {
                noteMgt.getNoteListByOffset(0, "")
            }
        }
        function onFailed(strError) {
            optionsViewId.strImportReport = strError
            if (typeof mainId !== "undefined")
                mainId.showError(strError)
        }
    }

    Connections {
        target: backup
        function onBackupFailed(strError) {
            if (typeof mainId !== "undefined")
                mainId.showError(strError)
        }
    }

    FileDialog {
        id: exportDialog
        title: qsTr("Export to folder")
        selectFolder: true
        // The home folder, not wherever Kelpo was started from.
        folder: shortcuts.home
        onAccepted: optionsViewId.startExport(folder.toString())
    }

    FileDialog {
        id: importDialog
        title: qsTr("Import from folder")
        selectFolder: true
        // The home folder, not wherever Kelpo was started from.
        folder: shortcuts.home
        onAccepted: diaryImport.start(folder.toString())
    }

    Flickable {
        anchors.fill: parent
        anchors.margins: 16
        contentHeight: column.height
        clip: true

        ColumnLayout {
            id: column
            width: parent.width
            spacing: 10

            Text {
                text: qsTr("Backups")
                font.pixelSize: 22
                font.bold: true
                font.family: GlobalJs.fontFamily
                color: Theme.text
            }
            Text {
                Layout.fillWidth: true
                wrapMode: Text.Wrap
                color: Theme.textSecondary
                font.family: GlobalJs.fontFamily
                text: qsTr("A copy of the diary is made every day; the last 7 days and 4 weeks are kept.")
            }
            RowLayout {
                Button {
                    id: btnBackUp
                    objectName: "btnBackUp"
                    style: ThemedButtonStyle {}
                    Keys.onReturnPressed: clicked()
                    Keys.onEnterPressed: clicked()
                    text: qsTr("Back up now")
                    enabled: !backup.busy
                    onClicked: backup.backUpNow()
                }
            }
            Repeater {
                id: backupList
                model: backup.backups
                delegate: RowLayout {
                    Layout.fillWidth: true
                    Text {
                        Layout.fillWidth: true
                        font.family: GlobalJs.fontFamily
                        color: Theme.text
                        text: modelData["date"] + "  (" + optionsViewId.sizeText(modelData["size"]) + ")"
                    }
                    Button {
                        style: ThemedButtonStyle {}
                        Keys.onReturnPressed: clicked()
                        Keys.onEnterPressed: clicked()
                        text: optionsViewId.strRestoreFile === modelData["file"]
                              ? qsTr("Restore and restart") : qsTr("Restore…")
                        onClicked: {
                            if (optionsViewId.strRestoreFile === modelData["file"])
                                backup.restoreAndRestart(modelData["file"])
                            else
                                optionsViewId.strRestoreFile = modelData["file"]
                        }
                    }
                }
            }

            Text {
                text: qsTr("Export")
                font.pixelSize: 22
                font.bold: true
                font.family: GlobalJs.fontFamily
                color: Theme.text
            }
            RowLayout {
                ComboBox {
                    id: formatBox
                    implicitWidth: 130
                    style: ComboBoxStyle {
                        background: Rectangle {
                            radius: 3
                            color: control.hovered ? Theme.hover : Theme.fieldBackground
                            border.color: control.activeFocus ? Theme.focusFrame : Theme.frame
                            border.width: control.activeFocus ? 2 : 1
                            Text {
                                anchors.right: parent.right
                                anchors.rightMargin: 6
                                anchors.verticalCenter: parent.verticalCenter
                                text: "\u25be"
                                color: Theme.text
                            }
                        }
                        label: Text {
                            text: control.currentText
                            color: Theme.text
                            verticalAlignment: Text.AlignVCenter
                            font.family: Theme.fontFamily
                        }
                    }
                    model: [qsTr("Markdown"), qsTr("HTML"), qsTr("PDF")]
                    onCurrentIndexChanged: optionsViewId.strExportFormat
                                           = ["markdown", "html", "pdf"][currentIndex]
                }
                Text { text: qsTr("From"); font.family: GlobalJs.fontFamily; color: Theme.text }
                TextField {
                    id: fromField
                    style: ThemedFieldStyle {}
                    placeholderText: "yyyy-MM-dd"
                    implicitWidth: 110
                }
                Text { text: qsTr("to"); font.family: GlobalJs.fontFamily; color: Theme.text }
                TextField {
                    id: toField
                    style: ThemedFieldStyle {}
                    placeholderText: "yyyy-MM-dd"
                    implicitWidth: 110
                }
            }
            RowLayout {
                Layout.fillWidth: true
                Button {
                    style: ThemedButtonStyle {}
                    Keys.onReturnPressed: clicked()
                    Keys.onEnterPressed: clicked()
                    text: qsTr("Export…")
                    enabled: !diaryExport.busy
                    onClicked: exportDialog.open()
                }
                Button {
                    style: ThemedButtonStyle {}
                    Keys.onReturnPressed: clicked()
                    Keys.onEnterPressed: clicked()
                    text: qsTr("Cancel")
                    visible: diaryExport.busy
                    onClicked: diaryExport.cancel()
                }
                ProgressBar {
                    id: exportProgress
                    Layout.fillWidth: true
                    visible: diaryExport.busy
                    minimumValue: 0
                    maximumValue: Math.max(1, diaryExport.total)
                    value: diaryExport.done
                    style: ProgressBarStyle {
                        background: Rectangle {
                            implicitHeight: 16
                            radius: 3
                            color: Theme.fieldBackground
                            border.color: Theme.frame
                        }
                        progress: Rectangle {
                            radius: 3
                            color: Theme.focusFrame
                        }
                    }
                }
            }

            Text {
                text: qsTr("Import")
                font.pixelSize: 22
                font.bold: true
                font.family: GlobalJs.fontFamily
                color: Theme.text
            }
            Text {
                Layout.fillWidth: true
                wrapMode: Text.Wrap
                color: Theme.textSecondary
                font.family: GlobalJs.fontFamily
                text: qsTr("Reads an exported folder back, or .md and .txt files whose names start with a day (2026-12-10 Walk.md). Notes already in the diary are updated, not doubled.")
            }
            RowLayout {
                Button {
                    style: ThemedButtonStyle {}
                    Keys.onReturnPressed: clicked()
                    Keys.onEnterPressed: clicked()
                    text: qsTr("Import…")
                    enabled: !diaryImport.busy
                    onClicked: importDialog.open()
                }
                BusyIndicator {
                    running: diaryImport.busy
                    visible: running
                    implicitHeight: 24
                    implicitWidth: 24
                }
            }
            Text {
                Layout.fillWidth: true
                wrapMode: Text.Wrap
                visible: text !== ""
                font.family: GlobalJs.fontFamily
                color: Theme.text
                text: optionsViewId.strImportReport
            }

            Button {

                style: ThemedButtonStyle {}

                Keys.onReturnPressed: clicked()

                Keys.onEnterPressed: clicked()
                text: qsTr("Close")
                onClicked: optionsViewId.close()
            }
        }
    }
}
