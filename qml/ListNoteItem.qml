import QtQuick 2.4
import "../js/global.js" as GlobalJs

// One row of a note list: the title over the day. A click opens the note.
Item {
    id: listNoteItemId

    property string uuid: ""
    property string set_at: ""
    property string title: ""
    property string content: ""
    // The version of the note shown: its time of change and digest.
    property string updated_at: ""
    property string md5: ""
    // The size of the note's text at the service (0 for an empty note).
    property int content_size: 0
    // While a search is shown: the search text, the visible text around the match, and the
    // title and that text as styled text with the match in bold.
    property string snippet: ""
    property string search: ""
    property string titleMarked: ""
    property string snippetMarked: ""
    property int my_index: 0
    // Height of a line of the title font per pixel of font size (measured by the list).
    property real titleLineRatio: 1.3

    Rectangle {
        anchors.fill: parent
        color: listNoteItemId.my_index % 2 === 0 ? Theme.rowAlternate : "transparent"
    }

    // Line height per pixel of font size of the day's font: the title and the day are
    // sized so that their lines, not just their pixel sizes, share the row's height.
    FontMetrics {
        id: dateMetrics
        font.pixelSize: 100
    }

    Column {
        anchors.fill: parent
        anchors.leftMargin: 10
        anchors.rightMargin: 10
        spacing: 0
        Text {
            objectName: "titleText"
            width: parent.width
            height: listNoteItemId.height * 0.62
            text: listNoteItemId.search === "" ? listNoteItemId.title : listNoteItemId.titleMarked
            textFormat: listNoteItemId.search === "" ? Text.PlainText : Text.StyledText
            color: Theme.text
            elide: Text.ElideRight
            maximumLineCount: 1
            verticalAlignment: Text.AlignVCenter
            font.family: GlobalJs.fontFamily
            font.pixelSize: Math.max(1, Math.min(listNoteItemId.height * 0.56,
                                                 Math.floor(height * 0.95
                                                            / listNoteItemId.titleLineRatio)))
        }
        Text {
            objectName: "dateText"
            width: parent.width
            height: listNoteItemId.height * 0.38
            text: listNoteItemId.snippet === ""
                  ? listNoteItemId.set_at
                  : listNoteItemId.set_at + "\u2003" + listNoteItemId.snippetMarked
            textFormat: listNoteItemId.snippet === "" ? Text.PlainText : Text.StyledText
            elide: Text.ElideRight
            maximumLineCount: 1
            color: Theme.textSecondary
            verticalAlignment: Text.AlignVCenter
            font.pixelSize: Math.max(1, Math.min(listNoteItemId.height * 0.27,
                                                 Math.floor(height * 0.9 * 100
                                                            / dateMetrics.height)))
        }
    }

    HoverMouseArea {
        anchors.fill: parent
        onClicked: {
            mainId.popView()
            mainId.editNote(listNoteItemId.set_at, listNoteItemId.content, listNoteItemId.uuid,
                            listNoteItemId.title,
                            {"updated_at": listNoteItemId.updated_at, "md5": listNoteItemId.md5,
                             "content_size": listNoteItemId.content_size})
        }
    }
}
