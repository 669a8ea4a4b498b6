import QtQuick 2.4

// The right-click menu of a line of text (a TextInput): undo and redo, cut, copy, paste,
// delete and select all. Entries that cannot be used at the moment are greyed. Opening the
// menu takes the focus from the text; its selection stays shown while the menu is open, and
// is taken when the menu opens and given back to the text before an entry acts on it.
PopupMenu {
    id: textEditMenuId

    property Item target: null
    property int nSelStart: 0
    property int nSelEnd: 0
    property bool bTargetPersistent: false
    readonly property bool bSelection: nSelEnd > nSelStart
    readonly property bool bWritable: target !== null && !target.readOnly

    readonly property alias undoEntry: undoEntry
    readonly property alias redoEntry: redoEntry
    readonly property alias cutEntry: cutEntry
    readonly property alias copyEntry: copyEntry
    readonly property alias pasteEntry: pasteEntry
    readonly property alias deleteEntry: deleteEntry
    readonly property alias selectAllEntry: selectAllEntry

    // Opens it at (x, y) of item for target, the text it edits.
    function openFor(textInput, item, x, y) {
        target = textInput
        nSelStart = textInput.selectionStart
        nSelEnd = textInput.selectionEnd
        bTargetPersistent = textInput.persistentSelection
        textInput.persistentSelection = true
        openAt(item, x, y)
    }

    // The text with its focus and selection back, ready for an entry's action.
    function restored() {
        target.forceActiveFocus()
        if (bSelection)
            target.select(nSelStart, nSelEnd)
        return target
    }

    onClosed: {
        if (!target)
            return
        if (!target.activeFocus)
            restored()
        target.persistentSelection = bTargetPersistent
    }

    MenuEntry {
        id: undoEntry
        text: qsTr("Undo")
        enabled: textEditMenuId.bWritable && textEditMenuId.target.canUndo
        onTriggered: textEditMenuId.restored().undo()
    }
    MenuEntry {
        id: redoEntry
        text: qsTr("Redo")
        enabled: textEditMenuId.bWritable && textEditMenuId.target.canRedo
        onTriggered: textEditMenuId.restored().redo()
    }
    MenuEntry {
        separator: true
    }
    MenuEntry {
        id: cutEntry
        text: qsTr("Cut")
        enabled: textEditMenuId.bWritable && textEditMenuId.bSelection
                 && textEditMenuId.target.echoMode === TextInput.Normal
        onTriggered: textEditMenuId.restored().cut()
    }
    MenuEntry {
        id: copyEntry
        text: qsTr("Copy")
        enabled: textEditMenuId.target !== null && textEditMenuId.bSelection
                 && textEditMenuId.target.echoMode === TextInput.Normal
        onTriggered: textEditMenuId.restored().copy()
    }
    MenuEntry {
        id: pasteEntry
        text: qsTr("Paste")
        enabled: textEditMenuId.bWritable && textEditMenuId.target.canPaste
        onTriggered: textEditMenuId.restored().paste()
    }
    MenuEntry {
        id: deleteEntry
        text: qsTr("Delete")
        enabled: textEditMenuId.bWritable && textEditMenuId.bSelection
        onTriggered: {
            var input = textEditMenuId.restored()
            input.remove(input.selectionStart, input.selectionEnd)
        }
    }
    MenuEntry {
        separator: true
    }
    MenuEntry {
        id: selectAllEntry
        text: qsTr("Select All")
        enabled: textEditMenuId.target !== null && textEditMenuId.target.length > 0
        onTriggered: textEditMenuId.restored().selectAll()
    }
}
