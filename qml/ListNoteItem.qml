import QtQuick 2.4
import "../js/global.js" as GlobalJs

// One row of a note list: the title over the day. A click opens the note.
Item {
    id: listNoteItemId

    property string uuid: ""
    property string set_at: ""
    property string title: ""
    property string content: ""
    property int my_index: 0

    Rectangle {
        anchors.fill: parent
        color: listNoteItemId.my_index % 2 === 0 ? "#e0e0e0" : "transparent"
    }

    Column {
        anchors.fill: parent
        anchors.leftMargin: 10
        anchors.rightMargin: 10
        spacing: 0
        Text {
            width: parent.width
            height: listNoteItemId.height * 0.7
            text: listNoteItemId.title
            textFormat: Text.PlainText
            elide: Text.ElideRight
            maximumLineCount: 1
            verticalAlignment: Text.AlignVCenter
            font.family: GlobalJs.fontFamily
            font.pixelSize: Math.max(1, listNoteItemId.height * 0.7 * 0.8)
        }
        Text {
            width: parent.width
            height: listNoteItemId.height * 0.3
            text: listNoteItemId.set_at
            color: "gray"
            verticalAlignment: Text.AlignTop
            font.pixelSize: Math.max(1, listNoteItemId.height * 0.3 * 0.9)
        }
    }

    HoverMouseArea {
        anchors.fill: parent
        onClicked: {
            mainId.popView()
            mainId.editNote(listNoteItemId.set_at, listNoteItemId.content, listNoteItemId.uuid,
                            listNoteItemId.title)
        }
    }
}
