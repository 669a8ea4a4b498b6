import QtQuick 2.4

// The main view's search field: one line of text in the theme's frame, with a button that
// empties it, shown while the field holds text. Made of Qt Quick items alone, so that the
// window's first screen needs no control style. The right mouse button, the menu key and
// Shift+F10 open its edit menu (TextEditMenu), made the first time it is wanted.
FocusScope {
    id: searchFieldId

    property alias text: inputId.text
    property alias font: inputId.font
    readonly property alias clearButton: btnClearId
    readonly property alias input: inputId
    // The edit menu; null until first opened.
    property Item editMenu: null

    // Return or Enter was pressed in the field.
    signal accepted()
    // The user emptied the field with its clear button.
    signal cleared()

    function selectAll() {
        inputId.selectAll()
    }

    // Opens the edit menu at (x, y) of the field. The menu covers the window while open: it
    // is made in the window's top item.
    function openEditMenu(x, y) {
        if (!editMenu) {
            var top = searchFieldId
            while (top.parent)
                top = top.parent
            var component = Qt.createComponent("TextEditMenu.qml")
            if (component.status !== Component.Ready) {
                console.warn(component.errorString())
                return
            }
            editMenu = component.createObject(top, {
                "fontSize": Math.max(12, Math.min(22, searchFieldId.height * 0.4))
            })
        }
        editMenu.openFor(inputId, searchFieldId, x, y)
    }

    Component.onDestruction: {
        if (editMenu)
            editMenu.destroy()
    }

    activeFocusOnTab: true
    implicitWidth: 200
    implicitHeight: inputId.implicitHeight + 4
    Accessible.role: Accessible.EditableText

    Rectangle {
        anchors.fill: parent
        radius: 3
        color: Theme.fieldBackground
        border.color: searchFieldId.activeFocus ? Theme.focusFrame : Theme.frame
    }

    // A press anywhere in the frame puts the cursor in the text; the pointer is a text
    // cursor over the whole field.
    MouseArea {
        anchors.fill: parent
        cursorShape: Qt.IBeamCursor
        acceptedButtons: Qt.LeftButton | Qt.RightButton
        onPressed: {
            inputId.forceActiveFocus()
            if (mouse.button === Qt.RightButton)
                searchFieldId.openEditMenu(mouse.x, mouse.y)
            else
                mouse.accepted = false
        }
    }

    TextInput {
        id: inputId
        anchors.left: parent.left
        anchors.right: btnClearId.visible ? btnClearId.left : parent.right
        anchors.leftMargin: 5
        anchors.rightMargin: 5
        anchors.verticalCenter: parent.verticalCenter
        focus: true
        clip: true
        color: Theme.text
        selectionColor: Theme.focusFrame
        selectedTextColor: Theme.selectedText
        selectByMouse: true
        onAccepted: searchFieldId.accepted()
        Keys.onPressed: {
            if (event.key === Qt.Key_Menu
                    || (event.key === Qt.Key_F10 && (event.modifiers & Qt.ShiftModifier))) {
                var rect = inputId.positionToRectangle(inputId.cursorPosition)
                var pt = inputId.mapToItem(searchFieldId, rect.x, rect.y + rect.height)
                searchFieldId.openEditMenu(pt.x, pt.y)
                event.accepted = true
            }
        }
    }

    FieldClearButton {
        id: btnClearId
    }
}
