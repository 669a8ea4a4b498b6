import QtQuick 2.4

// The main view's search field: one line of text in the theme's frame, with a button that
// empties it, shown while the field holds text. Made of Qt Quick items alone, so that the
// window's first screen needs no control style.
FocusScope {
    id: searchFieldId

    property alias text: inputId.text
    property alias font: inputId.font
    readonly property alias clearButton: btnClearId

    // Return or Enter was pressed in the field.
    signal accepted()
    // The user emptied the field with its clear button.
    signal cleared()

    function selectAll() {
        inputId.selectAll()
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
        onPressed: {
            inputId.forceActiveFocus()
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
    }

    FieldClearButton {
        id: btnClearId
    }
}
