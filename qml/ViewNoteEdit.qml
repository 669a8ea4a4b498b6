import QtQuick 2.9
import QtQuick.Window 2.2
import QtQuick.Controls 1.3
import QtQuick.Controls.Styles 1.3
import NoteMgt 1.0
import "../js/lunar.js" as LunarJs
import "../js/global.js" as GlobalJs

// The note editor: a toolbar, the optional title, the day of the note and its text.
// Pictures are embedded in the text; the day is picked with the date picker. Keyboard:
// Ctrl+S or Ctrl+Return finishes, Escape cancels (asking first when there are changes),
// Ctrl+B and Ctrl+I make the selection bold or italic.
Item {
    id: viewNoteEditId

    property alias title: textTitle.text
    property alias date: textDate.text
    // The note's text as it is stored, its pictures inside (see NotePictures).
    property alias content: notePictures.content
    property string uuid: ""
    // The version of the note that was opened (its time of change and digest as shown):
    // the change stored is made from it.
    property string strOpenedAt: ""
    property string strOpenedMd5: ""
    // The note was changed ("changed") or deleted ("deleted") on another computer while it
    // is open here; "" otherwise. What the editor stores still wins, and a changed version
    // is kept as a conflict copy.
    property string strChangedElsewhere: ""
    property bool bRemoving: false

    // What the fields held when the note was opened, to tell whether it has changes.
    property string strOpenTitle: ""
    property string strOpenDate: ""
    property string strOpenContent: ""
    property bool bClosingWindow: false

    // The save that the editor waits for: the note's uuid as the note manager returned it
    // (a new note's uuid too, so that trying again writes the same note), and whether the
    // answer is still awaited. The editor stays open with its text until its own save is
    // confirmed; a failed save is shown in the editor, with ways to try again or to copy.
    property string strSaveUuid: ""
    property bool bSaving: false
    property string strSaveError: ""

    readonly property alias textArea: textContent
    // The date picker is made on first use.
    readonly property var dateEditView: dateEditLoader.item
    readonly property alias confirmFrame: confirmFrame
    readonly property alias saveFailure: saveFailure
    readonly property alias formatter: textFormat
    readonly property alias discardFrame: discardFrame
    // The title and date fields: 60% of the toolbar's height with a font of 80% of that,
    // but never too small to read, and tall enough for their font in a small window.
    readonly property real fieldFontSize: Math.max(12, toolBar.height * 0.6 * 0.8)
    readonly property real fieldRowHeight: Math.max(toolBar.height * 0.6, fieldFontSize * 1.6)

    function markOpened() {
        strOpenTitle = textTitle.text
        strOpenDate = textDate.text
        strOpenContent = textContent.text
    }

    function isModified() {
        if (textDate.text !== strOpenDate || textContent.text !== strOpenContent)
            return true
        return settings.withTitle && textTitle.text !== strOpenTitle
    }

    function noteMap() {
        var mapData = { "uuid": uuid !== "" ? uuid : strSaveUuid, "set_at": textDate.text,
                        "content": notePictures.content }
        // A title typed here is the note's own; an untouched one is left to the store.
        if (settings.withTitle && textTitle.text !== strOpenTitle)
            mapData["title"] = textTitle.text
        if (uuid !== "" && strOpenedAt !== "") {
            mapData["opened_at"] = strOpenedAt
            mapData["opened_md5"] = strOpenedMd5
        }
        return mapData
    }

    // A note moved to another day leaves its old day: that day's count is asked again
    // after the note is stored (the store answers in order), so its dot goes with the note.
    function storeNote() {
        strSaveError = ""
        bSaving = true
        strSaveUuid = noteMgt.saveNoteItem(noteMap())
        if (uuid !== "" && strOpenDate !== "" && textDate.text !== strOpenDate)
            noteMgt.refreshNoteCount(strOpenDate)
    }

    // A picture being read goes into the note first: the note is stored once it is in.
    function finish() {
        if (bSaving)
            return
        if (strPictureJob !== "") {
            bFinishAfterPicture = true
            return
        }
        storeNote()
    }

    function afterPicture() {
        if (!bFinishAfterPicture)
            return
        bFinishAfterPicture = false
        if (!visible || bSaving)
            return
        if (bClosingWindow && !isModified()) {
            closeWindowNow()
            return
        }
        storeNote()
    }

    // The note manager has stored this editor's note.
    function onSaved(strNoteUuid) {
        if (!bSaving || strNoteUuid !== strSaveUuid)
            return
        bSaving = false
        strSaveError = ""
        markOpened()
        if (bClosingWindow) {
            closeWindowNow()
            return
        }
        if (visible)
            mainId.popView()
    }

    function onSaveFailed(strNoteUuid, strMessage) {
        if (!bSaving || strNoteUuid !== strSaveUuid)
            return
        bSaving = false
        bClosingWindow = false
        strSaveError = strMessage
    }

    // The whole text, with its pictures, to the clipboard: something to keep when the
    // note cannot be saved.
    function copyText() {
        var nCursor = textContent.cursorPosition
        textContent.selectAll()
        textContent.copy()
        textContent.deselect()
        textContent.cursorPosition = nCursor
    }

    // Leaves the note as it was stored. Typed changes are not thrown away without asking.
    function cancel() {
        if (isModified()) {
            discardFrame.visible = true
            return
        }
        discard()
    }

    function discard() {
        discardFrame.visible = false
        markOpened()
        mainId.popView()
    }

    // Escape closes what lies on top: a question, the date picker, else the editor.
    function escapePressed() {
        if (confirmFrame.visible)
            confirmFrame.visible = false
        else if (discardFrame.visible)
            discardFrame.visible = false
        else if (dateEditLoader.item && dateEditLoader.item.visible)
            dateEditLoader.item.visible = false
        else
            cancel()
        if (visible && !confirmFrame.visible && !discardFrame.visible)
            textContent.forceActiveFocus()
    }

    Keys.onEscapePressed: escapePressed()

    // The date picker, on the note's day; its day wheel takes the keyboard.
    function openDatePicker() {
        dateEditLoader.active = true
        dateEditLoader.item.setCurrentDate(textDate.text)
        dateEditLoader.item.visible = true
        dateEditLoader.item.takeFocus()
    }

    // Bold, italic and lists need the rich text form: a plain note is turned into it first,
    // line by line, keeping the selection.
    function ensureRichText() {
        if (textContent.textFormat === TextEdit.RichText)
            return
        var strPlain = textContent.getText(0, textContent.length)
        var bRich = textContent.text !== strPlain
        var nStart = textContent.selectionStart
        var nEnd = textContent.selectionEnd
        // Without a selection: the switch would place the old one in the changed text.
        textContent.deselect()
        textContent.cursorPosition = 0
        textContent.textFormat = TextEdit.RichText
        // Blanks, tabs and lines as they were typed.
        if (!bRich)
            textContent.text = textFormat.richTextOf(strPlain)
        textContent.select(nStart, nEnd)
    }

    function applyFormat(strWhat) {
        ensureRichText()
        var nStart = textContent.selectionStart
        var nEnd = textContent.selectionEnd
        if (nStart === nEnd)
            nStart = nEnd = textContent.cursorPosition
        if (strWhat === "bold")
            textFormat.toggleBold(nStart, nEnd)
        else if (strWhat === "italic")
            textFormat.toggleItalic(nStart, nEnd)
        else
            textFormat.toggleList(nStart, nEnd)
        textContent.forceActiveFocus()
    }

    TextFormat {
        id: textFormat
        textDocument: textContent.textDocument
    }

    // The pictures are decoded off the window's thread while the text is shown at once.
    NotePictures {
        id: notePictures
        textDocument: textContent.textDocument
    }

    // A picture wider than the text is shown at the text's width (a small window).
    FittedImages {
        textDocument: textContent.textDocument
    }

    Shortcut {
        sequence: StandardKey.Bold
        enabled: viewNoteEditId.visible && !confirmFrame.visible && !discardFrame.visible
        onActivated: viewNoteEditId.applyFormat("bold")
    }
    Shortcut {
        sequence: StandardKey.Italic
        enabled: viewNoteEditId.visible && !confirmFrame.visible && !discardFrame.visible
        onActivated: viewNoteEditId.applyFormat("italic")
    }

    Shortcut {
        sequences: [StandardKey.Save, "Ctrl+Return", "Ctrl+Enter"]
        enabled: viewNoteEditId.visible && !confirmFrame.visible && !discardFrame.visible
        onActivated: viewNoteEditId.finish()
    }

    // Another version of the open note arrived through the synchronisation.
    function onNoteArrived(data) {
        if (!visible || bRemoving || bSaving || uuid === "" || !data || data["uuid"] !== uuid)
            return
        var strAt = data["updated_at"] ? String(data["updated_at"]) : ""
        if (strAt !== "" && strAt !== strOpenedAt)
            strChangedElsewhere = "changed"
    }

    function onNoteRemoved(strNoteUuid) {
        if (visible && !bRemoving && !bSaving && uuid !== "" && strNoteUuid === uuid)
            strChangedElsewhere = "deleted"
    }

    function removeNote() {
        bRemoving = true
        confirmFrame.visible = false
        var strUuid = uuid
        markOpened()
        mainId.popView()
        noteMgt.deleteNoteItem(strUuid)
    }

    // The file dialog is made on first use: its module is heavy and most notes have no picture.
    property var pictureDialog: null

    // The picture formats offered, matched whatever the case of the name (IMG_0001.JPG).
    readonly property var lstPictureExtensions: ["jpg", "jpeg", "png", "gif", "webp", "bmp"]

    function caseBlindPattern(strExtension) {
        var strPattern = "*."
        for (var i = 0; i < strExtension.length; i++) {
            var ch = strExtension.charAt(i)
            strPattern += "[" + ch.toLowerCase() + ch.toUpperCase() + "]"
        }
        return strPattern
    }

    function pictureNameFilters() {
        var lst = []
        for (var i = 0; i < lstPictureExtensions.length; i++)
            lst.push(caseBlindPattern(lstPictureExtensions[i]))
        return [qsTr("Pictures") + " (" + lst.join(" ") + ")"]
    }

    // The file dialog, made on first use; it starts in the user's Pictures folder (the home
    // folder where there is none) and then stays where the user left it.
    function makePictureDialog() {
        if (!pictureDialog) {
            pictureDialog = Qt.createQmlObject(
                        'import QtQuick.Dialogs 1.2\n'
                        + 'FileDialog { selectMultiple: false }',
                        viewNoteEditId, "pictureDialog")
            pictureDialog.folder = noteMgt.pictureFolder()
            pictureDialog.title = qsTr("Open a image")
            pictureDialog.nameFilters = pictureNameFilters()
            pictureDialog.accepted.connect(function () {
                viewNoteEditId.insertPicture(pictureDialog.fileUrl)
            })
            pictureDialog.rejected.connect(function () {
                textContent.forceActiveFocus()
            })
        }
        return pictureDialog
    }

    function openPictureDialog() {
        makePictureDialog().open()
    }

    // The picture is read off the window's thread; it goes where the cursor stood when it
    // was chosen. A file that is not a picture, or that would make the note too large, is
    // refused with a message.
    property string strPictureJob: ""
    property int nPictureAt: 0
    // Finishing (or closing the window) waits for the picture being read.
    property bool bFinishAfterPicture: false

    function insertPicture(strFileUrl) {
        nPictureAt = textContent.cursorPosition
        strPictureJob = noteMgt.loadPicture(strFileUrl, notePictures.content.length)
    }

    function onPictureLoaded(strJobId, strTag, strError) {
        if (strJobId === "" || strJobId !== strPictureJob)
            return
        strPictureJob = ""
        if (strError !== "") {
            mainId.showError(strError)
        } else {
            if (strTag.charAt(strTag.length - 1) !== ">")
                strTag += ">"
            textContent.insert(Math.min(nPictureAt, textContent.length),
                               notePictures.shownText(strTag))
            // Typing goes on in the text, after the picture.
            textContent.forceActiveFocus()
        }
        afterPicture()
    }

    // Stores pending changes when the window is closed with the editor open, as "Finish"
    // would, and lets the window close once the store has confirmed this note. When the
    // save fails the window stays open with the text and the reason.
    function onWindowClosing(close) {
        if (bClosingWindow || !visible || (!isModified() && strPictureJob === ""))
            return
        close.accepted = false
        bClosingWindow = true
        if (strPictureJob !== "")
            bFinishAfterPicture = true
        else if (!bSaving)
            storeNote()
    }

    function closeWindowNow() {
        if (viewNoteEditId.Window.window)
            viewNoteEditId.Window.window.close()
        bClosingWindow = false
    }

    // Another note opened while the editor is already shown.
    onUuidChanged: {
        strChangedElsewhere = ""
        if (visible)
            Qt.callLater(markOpened)
    }

    onVisibleChanged: {
        // The next note's text may be shorter than where the cursor stands now; its form
        // (plain or rich) is told by its own text.
        if (!visible) {
            textContent.cursorPosition = 0
            textContent.textFormat = TextEdit.AutoText
            // A picture read for the note that was closed is not put into the next one.
            strPictureJob = ""
            bFinishAfterPicture = false
        }
        if (visible) {
            strPictureJob = ""
            strSaveError = ""
            strChangedElsewhere = ""
            bRemoving = false
            strSaveUuid = ""
            bSaving = false
            confirmFrame.visible = false
            discardFrame.visible = false
            if (dateEditLoader.item)
                dateEditLoader.item.visible = false
            if (!settings.withTitle && uuid === "")
                textTitle.text = ""
            markOpened()
            textContent.forceActiveFocus()
        }
    }

    Connections {
        target: viewNoteEditId.Window.window
        function onClosing(close) { viewNoteEditId.onWindowClosing(close) }
    }

    Connections {
        target: noteMgt
        ignoreUnknownSignals: true
        function onNoteSaved(strNoteUuid) { viewNoteEditId.onSaved(strNoteUuid) }
        function onAppendNoteItemToList(data) { viewNoteEditId.onNoteArrived(data) }
        function onRemoveNoteItemToList(strNoteUuid) { viewNoteEditId.onNoteRemoved(strNoteUuid) }
        function onNoteSaveFailed(strNoteUuid, strMessage) {
            viewNoteEditId.onSaveFailed(strNoteUuid, strMessage)
        }
        function onPictureLoaded(strJobId, strTag, strError) {
            viewNoteEditId.onPictureLoaded(strJobId, strTag, strError)
        }
    }

    Rectangle {
        anchors.fill: parent
        color: Theme.background
    }

    RectangleRefer {
        id: toolBar
        width: parent.width
        height: parent.height * 0.08
        dRatioWidth: 0.04
        dRatioHeight: 0.8
        color: Theme.toolBar

        PushButton {
            id: btnRemove
            objectName: "btnRemove"
            anchors.left: parent.left
            anchors.leftMargin: 10
            anchors.verticalCenter: parent.verticalCenter
            height: toolBar.referFontSize
            width: implicitWidth
            visible: viewNoteEditId.uuid !== ""
            imgSrc: "../res/remove_note.svg"
            text: ""
            onClicked: confirmFrame.visible = true
        }
        PushButton {
            id: btnImage
            objectName: "btnImage"
            anchors.left: btnRemove.visible ? btnRemove.right : parent.left
            anchors.leftMargin: 10
            anchors.verticalCenter: parent.verticalCenter
            height: toolBar.referFontSize
            width: implicitWidth
            imgSrc: "../res/image.svg"
            text: ""
            Accessible.name: qsTr("Insert a picture")
            onClicked: viewNoteEditId.openPictureDialog()
        }
        PushButton {
            id: btnBold
            objectName: "btnBold"
            anchors.left: btnImage.right
            anchors.leftMargin: 10
            anchors.verticalCenter: parent.verticalCenter
            height: toolBar.referFontSize
            width: height
            text: "B"
            Accessible.name: qsTr("Bold")
            onClicked: viewNoteEditId.applyFormat("bold")
        }
        PushButton {
            id: btnItalic
            objectName: "btnItalic"
            anchors.left: btnBold.right
            anchors.leftMargin: 10
            anchors.verticalCenter: parent.verticalCenter
            height: toolBar.referFontSize
            width: height
            text: "I"
            Accessible.name: qsTr("Italic")
            onClicked: viewNoteEditId.applyFormat("italic")
        }
        PushButton {
            id: btnList
            objectName: "btnList"
            anchors.left: btnItalic.right
            anchors.leftMargin: 10
            anchors.verticalCenter: parent.verticalCenter
            height: toolBar.referFontSize
            width: height
            text: "\u2022"
            Accessible.name: qsTr("List")
            onClicked: viewNoteEditId.applyFormat("list")
        }
        PushButton {
            id: btnFinish
            objectName: "btnFinish"
            anchors.right: parent.right
            anchors.rightMargin: 10
            anchors.verticalCenter: parent.verticalCenter
            height: toolBar.referFontSize
            width: implicitWidth
            imgSrc: "../res/ok.svg"
            tintIcon: false
            text: qsTr("Finish")
            opacity: viewNoteEditId.bSaving ? 0.4 : 1
            onClicked: viewNoteEditId.finish()
        }
        PushButton {
            id: btnCancel
            objectName: "btnCancel"
            anchors.right: btnFinish.left
            anchors.rightMargin: 10
            anchors.verticalCenter: parent.verticalCenter
            height: toolBar.referFontSize
            width: implicitWidth
            imgSrc: "../res/cancel.svg"
            tintIcon: false
            text: qsTr("Cancel")
            onClicked: viewNoteEditId.cancel()
        }
    }

    Item {
        id: titleRow
        anchors.top: toolBar.bottom
        anchors.topMargin: settings.withTitle ? toolBar.height * 0.2 : 0
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.leftMargin: 10
        anchors.rightMargin: 10
        height: settings.withTitle ? viewNoteEditId.fieldRowHeight : 0
        visible: settings.withTitle
        TextField {
            id: textTitle
            style: ThemedFieldStyle {}
            objectName: "textTitle"
            anchors.fill: parent
            placeholderText: qsTr("Enter Title")
            font.pixelSize: viewNoteEditId.fieldFontSize
        }
    }

    Item {
        id: dateRow
        anchors.top: titleRow.bottom
        anchors.topMargin: toolBar.height * 0.2
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.leftMargin: 10
        anchors.rightMargin: 10
        height: viewNoteEditId.fieldRowHeight
        TextField {
            id: textDate
            style: ThemedFieldStyle {}
            objectName: "textDate"
            anchors.fill: parent
            readOnly: true
            placeholderText: qsTr("Enter Date")
            font.pixelSize: viewNoteEditId.fieldFontSize
            // Return, Enter or Space opens the date picker.
            Keys.onReturnPressed: viewNoteEditId.openDatePicker()
            Keys.onEnterPressed: viewNoteEditId.openDatePicker()
            Keys.onSpacePressed: viewNoteEditId.openDatePicker()
        }
        MouseArea {
            id: dateMouseArea
            objectName: "dateMouseArea"
            anchors.fill: parent
            onClicked: viewNoteEditId.openDatePicker()
        }
    }

    TextArea {
        id: textContent
        objectName: "textContent"
        anchors.top: changedNotice.visible ? changedNotice.bottom
                                           : (saveFailure.visible ? saveFailure.bottom
                                                                  : dateRow.bottom)
        anchors.topMargin: toolBar.height * 0.2
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.bottom: parent.bottom
        textFormat: TextEdit.AutoText
        font.pixelSize: Math.max(1, toolBar.height * 0.6)
        wrapMode: TextEdit.Wrap
        // What is being saved does not change under the save.
        readOnly: viewNoteEditId.bSaving
        // The theme's colours, whatever the system's palette.
        style: TextAreaStyle {
            backgroundColor: Theme.fieldBackground
            textColor: Theme.text
            selectionColor: Theme.focusFrame
            selectedTextColor: Theme.selectedText
            frame: Rectangle {
                color: Theme.fieldBackground
                border.color: control.activeFocus ? Theme.focusFrame : Theme.frame
            }
        }
    }

    // Why the last save failed, and what can be done: try again, or copy the text. Above
    // the text, where the message bar at the bottom of the window cannot cover it.
    Rectangle {
        id: saveFailure
        objectName: "saveFailure"
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.top: dateRow.bottom
        anchors.topMargin: toolBar.height * 0.2
        height: failureColumn.implicitHeight + toolBar.height * 0.3
        visible: viewNoteEditId.strSaveError !== ""
        color: Theme.failureBackground
        border.color: Theme.failureFrame

        readonly property alias text: failureText.text

        Column {
            id: failureColumn
            anchors.left: parent.left
            anchors.right: parent.right
            anchors.verticalCenter: parent.verticalCenter
            anchors.margins: 10
            spacing: toolBar.height * 0.15

            Text {
                id: failureText
                objectName: "saveFailureText"
                width: parent.width
                wrapMode: Text.Wrap
                color: Theme.failureText
                font.pixelSize: Math.max(1, toolBar.height * 0.35)
                font.family: GlobalJs.fontFamily
                text: viewNoteEditId.strSaveError
            }
            Row {
                anchors.right: parent.right
                spacing: 20
                PushButton {
                    id: btnCopy
                    objectName: "btnCopy"
                    height: toolBar.height * 0.5
                    width: implicitWidth
                    text: qsTr("Copy the text")
                    onClicked: viewNoteEditId.copyText()
                }
                PushButton {
                    id: btnRetry
                    objectName: "btnRetry"
                    height: toolBar.height * 0.5
                    width: implicitWidth
                    text: qsTr("Save again")
                    onClicked: viewNoteEditId.finish()
                }
            }
        }
    }

    // The note changed or went on another computer while it is open here: said above the
    // text, with what finishing will do.
    Rectangle {
        id: changedNotice
        objectName: "changedNotice"
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.top: saveFailure.visible ? saveFailure.bottom : dateRow.bottom
        anchors.topMargin: toolBar.height * 0.2
        height: changedText.implicitHeight + toolBar.height * 0.3
        visible: viewNoteEditId.strChangedElsewhere !== ""
        color: Theme.hintBackground
        border.color: Theme.frame

        readonly property alias text: changedText.text

        Text {
            id: changedText
            anchors.left: parent.left
            anchors.right: parent.right
            anchors.verticalCenter: parent.verticalCenter
            anchors.margins: 10
            wrapMode: Text.Wrap
            color: Theme.text
            font.pixelSize: Math.max(1, toolBar.height * 0.35)
            font.family: GlobalJs.fontFamily
            text: viewNoteEditId.strChangedElsewhere === "deleted"
                  ? qsTr("This note was deleted on another computer while it was open here. Finishing keeps it, with your text.")
                  : qsTr("This note was changed on another computer while it was open here. Finishing keeps your text, and the other version is kept as a conflict copy.")
        }
    }

    Loader {
        id: dateEditLoader
        anchors.fill: parent
        active: false
        sourceComponent: EditDateTimeView {
            objectName: "dateEditView"
            visible: false
            showTime: false
            onSaveData: textDate.text = data
            onClose: {
                visible = false
                textDate.forceActiveFocus()
            }
        }
    }

    ConfirmFrame {
        id: confirmFrame
        objectName: "confirmFrame"
        anchors.fill: parent
        visible: false
        textConfirm: qsTr("Do you sure to remove the note?")
        onOk: viewNoteEditId.removeNote()
        onCancel: {
            visible = false
            textContent.forceActiveFocus()
        }
    }

    ConfirmFrame {
        id: discardFrame
        objectName: "discardFrame"
        anchors.fill: parent
        visible: false
        textConfirm: qsTr("Throw away the changes to this note?")
        textOk: qsTr("Discard")
        textCancel: qsTr("Keep editing")
        onOk: viewNoteEditId.discard()
        onCancel: {
            visible = false
            textContent.forceActiveFocus()
        }
    }
}
